#include "tools/writers/DeepWriters.h"
#include "tools/writers/TiffMessages.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <fitsio.h>
#include <tiffio.h>

namespace vinsk::tools {

namespace {

[[noreturn]] void WriteFail(const std::string& path, const std::string& problem)
{
    RemoveFailedWrite(path);
    throw EWriteError("Cannot write " + path + ": " + problem);
}

void CheckShape(const std::string& path, const TRgb16Image& img)
{
    if (img.Width <= 0 || img.Height <= 0 || (img.Channels != 1 && img.Channels != 3) ||
        img.Pixels.size() != static_cast<std::size_t>(img.Width) * img.Height * img.Channels)
        throw EWriteError("Cannot write " + path + ": the picture has no valid size");
}

std::string FitsMessage(int status)
{
    char text[FLEN_STATUS] = {};
    ffgerr(status, text);
    std::string message = text;
    char stacked[FLEN_ERRMSG] = {};
    if (ffgmsg(stacked) > 0)
        message += std::string(" (") + stacked + ")";
    ffcmsg();
    return message;
}

} // namespace

void WriteFits(const std::string& path, const TFitsPicture& pic)
{
    const std::size_t n = static_cast<std::size_t>(pic.Width) * static_cast<std::size_t>(pic.Height) *
                          static_cast<std::size_t>(pic.Planes);
    if (pic.Width <= 0 || pic.Height <= 0 || (pic.Planes != 1 && pic.Planes != 3) || pic.Values.size() != n)
        throw EWriteError("Cannot write " + path + ": the picture has no valid size");
    ffcmsg();
    int status = 0;
    fitsfile* f = nullptr;
    // "!" replaces an existing file.
    if (ffinit(&f, ("!" + path).c_str(), &status) != 0)
        throw EWriteError("Cannot create file " + path + ": " + FitsMessage(status));
    long long naxes[3] = {pic.Width, pic.Height, pic.Planes};
    if (pic.TileCompressed)
        fits_set_compression_type(f, RICE_1, &status);
    ffcrimll(f, pic.Bitpix, pic.Planes == 3 ? 3 : 2, naxes, &status);
    for (const auto& [key, value] : pic.NumberKeys)
        ffpkyd(f, key.c_str(), value, 12, nullptr, &status);
    for (const auto& [key, value] : pic.TextKeys)
        ffpkys(f, key.c_str(), value.c_str(), nullptr, &status);
    if (pic.Bitpix > 0 && (pic.Bzero != 0 || pic.Bscale != 1)) {
        ffpkyg(f, "BZERO", pic.Bzero, 10, nullptr, &status);
        ffpkyg(f, "BSCALE", pic.Bscale, 10, nullptr, &status);
    }
    // The stored values in the image's own type (compressed images take no
    // conversion), written as they are.
    ffpscl(f, 1.0, 0.0, &status);
    long long first[3] = {1, 1, 1};
    const long long count = static_cast<long long>(n);
    auto stored = [&](std::size_t i) { return std::nearbyint((pic.Values[i] - pic.Bzero) / pic.Bscale); };
    if (pic.Bitpix == 8) {
        std::vector<unsigned char> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<unsigned char>(stored(i));
        ffppxll(f, TBYTE, first, count, v.data(), &status);
    } else if (pic.Bitpix == 16) {
        std::vector<short> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<short>(stored(i));
        ffppxll(f, TSHORT, first, count, v.data(), &status);
    } else if (pic.Bitpix == 32) {
        std::vector<int> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<int>(stored(i));
        ffppxll(f, TINT, first, count, v.data(), &status);
    } else if (pic.Bitpix == -32) {
        std::vector<float> v(pic.Values.begin(), pic.Values.end());
        ffppxll(f, TFLOAT, first, count, v.data(), &status);
    } else {
        ffppxll(f, TDOUBLE, first, count, const_cast<double*>(pic.Values.data()), &status);
    }
    int closeStatus = 0;
    ffclos(f, &closeStatus);
    if (status == 0)
        status = closeStatus;
    if (status != 0)
        WriteFail(path, FitsMessage(status));
}

TFitsPicture FitsFromImage16(const TRgb16Image& img)
{
    TFitsPicture pic;
    pic.Width = img.Width;
    pic.Height = img.Height;
    pic.Planes = img.Channels;
    pic.Bitpix = 16;
    pic.Bzero = 32768;
    pic.Values.resize(img.Pixels.size());
    std::size_t i = 0;
    for (std::int32_t c = 0; c < img.Channels; ++c)
        for (std::int32_t y = img.Height - 1; y >= 0; --y)
            for (std::int32_t x = 0; x < img.Width; ++x)
                pic.Values[i++] = img.Pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.Width) +
                                              static_cast<std::size_t>(x)) * static_cast<std::size_t>(img.Channels) +
                                             static_cast<std::size_t>(c)];
    return pic;
}

namespace {

// The EXIF exposure time and focal length are allowed in IFD0 of a TIFF/EP
// file, where LibRaw reads them; libtiff knows them only inside an EXIF IFD.
constexpr ttag_t TagExposureTime = 33434;
constexpr ttag_t TagFocalLength = 37386;

void AddExifTags(TIFF* t)
{
    static const TIFFFieldInfo info[] = {
        {TagExposureTime, 1, 1, TIFF_RATIONAL, FIELD_CUSTOM, 1, 0, const_cast<char*>("ExposureTime")},
        {TagFocalLength, 1, 1, TIFF_RATIONAL, FIELD_CUSTOM, 1, 0, const_cast<char*>("FocalLength")},
    };
    TIFFMergeFieldInfo(t, info, 2);
}

} // namespace

void WriteDng(const std::string& path, const TRgb16Image& img, double exposureSeconds, double focalMm,
              const std::string& dateTime)
{
    CheckShape(path, img);
    ListenToTiff();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        throw EWriteError("Cannot create file " + path);
    AddExifTags(t);
    const std::uint32_t w = static_cast<std::uint32_t>(img.Width) * 2, h = static_cast<std::uint32_t>(img.Height) * 2;
    const std::uint16_t repeat[2] = {2, 2};
    const std::uint8_t pattern[4] = {0, 1, 1, 2}; // red, green / green, blue
    const std::uint8_t version[4] = {1, 4, 0, 0};
    const std::uint8_t backward[4] = {1, 1, 0, 0};
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const float neutral[3] = {1, 1, 1};
    const std::uint32_t white = 65535;
    bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0) && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, h) && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h) && TIFFSetField(t, TIFFTAG_MAKE, "Vinsk") &&
              TIFFSetField(t, TIFFTAG_MODEL, "Sample camera") &&
              TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Vinsk Sample camera") &&
              TIFFSetField(t, TIFFTAG_DNGVERSION, version) && TIFFSetField(t, TIFFTAG_DNGBACKWARDVERSION, backward) &&
              TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, repeat) &&
              TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, pattern) &&
              TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, identity) &&
              TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21) &&
              TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral) && TIFFSetField(t, TIFFTAG_WHITELEVEL, 1, &white) &&
              TIFFSetField(t, TagExposureTime, exposureSeconds) && TIFFSetField(t, TagFocalLength, focalMm) &&
              (dateTime.empty() || TIFFSetField(t, TIFFTAG_DATETIME, dateTime.c_str()));
    std::vector<std::uint16_t> row(w);
    for (std::uint32_t y = 0; ok && y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::size_t px = (static_cast<std::size_t>(y / 2) * static_cast<std::size_t>(img.Width) + x / 2) *
                                   static_cast<std::size_t>(img.Channels);
            const int colour = pattern[(y % 2) * 2 + x % 2];
            row[x] = img.Pixels[px + static_cast<std::size_t>(img.Channels == 3 ? colour : 0)];
        }
        ok = TIFFWriteScanline(t, row.data(), y, 0) >= 0;
    }
    if (ok)
        ok = TIFFWriteDirectory(t) != 0;
    TIFFClose(t);
    if (!ok)
        WriteFail(path, TiffMessage().empty() ? "write failed" : TiffMessage());
}

} // namespace vinsk::tools
