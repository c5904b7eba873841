#include "tests/support/EncodedPictures.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

namespace vinsk::test {

double LinearStored(double l) { return l; }
double SrgbStored(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }
double Gamma22Stored(double l) { return std::pow(l, 1 / 2.2); }
double AdobeStored(double l) { return std::pow(l, 256.0 / 563.0); }

void ToneLevels(tools::TPhysicalOptions& o)
{
    o.Bits = 16;
    o.Background = 12 * 257.0;
    o.Noise = 1.5 * 257.0;
    o.Crest = 0.94 * 65535 - o.Background;
}

std::string TempPicture(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("vinsk-encoded-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

tools::TRgbImage Stored8(const tools::TPhysicalTrail& t, double (*stored)(double))
{
    tools::TRgbImage img(t.Width, t.Height, 3);
    for (std::size_t i = 0; i < t.Levels.size(); ++i)
        img.Pixels[i] = static_cast<std::uint8_t>(std::lround(255 * stored(t.Levels[i] / 65535.0)));
    return img;
}

void WriteTiff16(const std::string& path, const tools::TPhysicalTrail& t, double (*stored)(double),
                 const std::vector<std::uint8_t>& profile)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        throw std::runtime_error("cannot write " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(t.Width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(t.Height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(3));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(16));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<std::uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<std::uint16_t>(PHOTOMETRIC_RGB));
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()), profile.data());
    std::vector<std::uint16_t> row(static_cast<std::size_t>(t.Width) * 3);
    for (std::int32_t y = 0; y < t.Height; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<std::uint16_t>(
                std::lround(65535 * stored(t.Levels[static_cast<std::size_t>(y) * row.size() + i] / 65535.0)));
        TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

namespace {

std::vector<std::uint8_t> ProfileBytes(cmsHPROFILE p)
{
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    std::vector<std::uint8_t> bytes(n);
    cmsSaveProfileToMem(p, bytes.data(), &n);
    cmsCloseProfile(p);
    return bytes;
}

std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

} // namespace

std::vector<std::uint8_t> SrgbProfile() { return ProfileBytes(cmsCreate_sRGBProfile()); }

std::vector<std::uint8_t> GammaProfile(const cmsCIExyYTRIPLE& primaries, double gamma)
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY d65{0.3127, 0.3290, 1};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return ProfileBytes(p);
}

void InsertPngChunk(const std::string& path, const char type[4], const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> png;
    {
        std::ifstream in(path, std::ios::binary);
        png.assign(std::istreambuf_iterator<char>(in), {});
    }
    if (png.size() < 16)
        throw std::runtime_error(path + " is no PNG file");
    std::vector<std::uint8_t> chunk;
    auto put32 = [&](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            chunk.push_back(static_cast<std::uint8_t>(v >> s));
    };
    put32(static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    put32(static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
    const std::size_t afterHeader = 8 + 12 + Be32(png.data() + 8);
    png.insert(png.begin() + static_cast<std::ptrdiff_t>(afterHeader), chunk.begin(), chunk.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

std::vector<std::uint8_t> IccpData(const std::vector<std::uint8_t>& profile)
{
    uLongf n = compressBound(static_cast<uLong>(profile.size()));
    std::vector<std::uint8_t> z(n);
    compress(z.data(), &n, profile.data(), static_cast<uLong>(profile.size()));
    std::vector<std::uint8_t> data = {'i', 'c', 'c', 0, 0};
    data.insert(data.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(n));
    return data;
}

} // namespace vinsk::test
