// TIFF pictures (tif, tiff, fax) through libtiff's RGBA interface, read from
// memory; the library's messages are caught, never printed.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <tiffio.h>

#include "image/formats/ColourDeclarations.h"
#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

struct TTiffSource {
    TBytes Data;
    toff_t Pos = 0;
    char Message[512] = {};
    char Corrupt[512] = {}; // the first warning of damaged JPEG data
};

tmsize_t ReadProc(thandle_t h, void* dst, tmsize_t size)
{
    auto* s = static_cast<TTiffSource*>(h);
    if (size < 0)
        return -1;
    // At or past the end a read gives 0 bytes, as read(2) does: libtiff adds
    // the result to its fill position, and -1 there writes before its buffer.
    if (s->Pos >= s->Data.size())
        return 0;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), s->Data.size() - s->Pos);
    if (n > 0)
        std::memcpy(dst, s->Data.data() + s->Pos, n);
    s->Pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t h, toff_t offset, int whence)
{
    auto* s = static_cast<TTiffSource*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = s->Pos;
    else if (whence == SEEK_END)
        base = s->Data.size();
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    // Seeking past the end is allowed; the next read then gives nothing.
    if (offset > ~toff_t{0} - base)
        return static_cast<toff_t>(-1);
    s->Pos = base + offset;
    return s->Pos;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t h) { return static_cast<TTiffSource*>(h)->Data.size(); }

// The file is in memory already: libtiff reads it in place. (With mapping
// refused, libtiff 4.5 rejects uncompressed tiles as of a wrong byte count.)
int MapProc(thandle_t h, void** base, toff_t* size)
{
    auto* s = static_cast<TTiffSource*>(h);
    *base = const_cast<std::uint8_t*>(s->Data.data());
    *size = s->Data.size();
    return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    auto* s = static_cast<TTiffSource*>(user);
    if (s->Message[0] == 0) {
        // The first error is the cause; later ones follow from it.
        char text[400];
        std::vsnprintf(text, sizeof text, fmt, ap);
        std::snprintf(s->Message, sizeof s->Message, "%s%s%s", module ? module : "", module ? ": " : "", text);
    }
    return 1;
}

// libjpeg papers over damaged data with a warning and grey or shifted
// blocks; the .jpg reader refuses the same damage, and so does this one.
int OnWarning(TIFF*, void* user, const char*, const char* fmt, va_list ap)
{
    auto* s = static_cast<TTiffSource*>(user);
    if (s->Corrupt[0] != 0)
        return 1;
    char text[400];
    std::vsnprintf(text, sizeof text, fmt, ap);
    static const char* const damage[] = {"Corrupt JPEG data: premature end of data segment",
                                         "Corrupt JPEG data: bad Huffman code", "Corrupt JPEG data: found marker",
                                         "Premature end of JPEG file", "Premature end of JPEG data"};
    for (const char* d : damage)
        if (std::strncmp(text, d, std::strlen(d)) == 0) {
            std::snprintf(s->Corrupt, sizeof s->Corrupt, "%s", text);
            break;
        }
    return 1;
}

// Messages raised where no handle is at hand go to the global handlers.
void SilenceGlobalHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

std::uint32_t ToColorWord(std::uint32_t abgr)
{
    std::uint32_t a = TIFFGetA(abgr);
    std::uint32_t r = TIFFGetR(abgr);
    std::uint32_t g = TIFFGetG(abgr);
    std::uint32_t b = TIFFGetB(abgr);
    // The RGBA interface premultiplies by alpha; the raster holds straight colours.
    if (a != 0 && a != 255) {
        r = std::min<std::uint32_t>(255, (r * 255 + a / 2) / a);
        g = std::min<std::uint32_t>(255, (g * 255 + a / 2) / a);
        b = std::min<std::uint32_t>(255, (b * 255 + a / 2) / a);
    }
    return Color32(a, r, g, b);
}

// libtiff keeps only the high byte of 16-bit grey; this rounds instead.
void PutGrey16(TIFFRGBAImage* img, std::uint32_t* cp, std::uint32_t, std::uint32_t, std::uint32_t w, std::uint32_t h,
               std::int32_t fromskew, std::int32_t toskew, unsigned char* pp)
{
    const std::size_t step = 2u * img->samplesperpixel;
    const bool invert = img->photometric == PHOTOMETRIC_MINISWHITE;
    for (; h > 0; --h) {
        for (std::uint32_t x = 0; x < w; ++x, pp += step) {
            std::uint16_t v;
            std::memcpy(&v, pp, 2); // already in the machine's byte order
            std::uint32_t g = Scale16(v);
            if (invert)
                g = 255 - g;
            *cp++ = 0xFF000000u | (g << 16) | (g << 8) | g;
        }
        cp += toskew;
        pp += static_cast<std::ptrdiff_t>(fromskew) * static_cast<std::ptrdiff_t>(step);
    }
}

// The 16-bit samples of a stripped, contiguous grey or RGB picture in the
// usual top-left orientation, as stored; other layouts keep no plane.
bool Keeps16(TIFF* tif)
{
    std::uint16_t bits = 0, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        return false;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (spp == 1 || spp == 2);
    const bool rgb = photometric == PHOTOMETRIC_RGB && (spp == 3 || spp == 4);
    return bits == 16 && format == SAMPLEFORMAT_UINT && planar == PLANARCONFIG_CONTIG &&
           orientation == ORIENTATION_TOPLEFT && !TIFFIsTiled(tif) && (grey || rgb);
}

bool ReadPlane16(TIFF* tif, std::uint32_t width, std::uint32_t height, TLinearPlane& plane)
{
    std::uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const int kept = spp >= 3 ? 3 : 1;
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    if (lineBytes != static_cast<tmsize_t>(std::size_t{width} * spp * 2))
        return false;
    AllocatePlane16(plane, width, height, kept, 16);
    std::vector<std::uint16_t> line(std::size_t{width} * spp);
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) != 1)
            return false;
        std::uint16_t* k = plane.U16() + std::size_t{y} * width * kept;
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < kept; ++c)
                *k++ = line[std::size_t{x} * spp + static_cast<std::size_t>(c)];
    }
    return true;
}

} // namespace

namespace {

// TIFFRGBAImageGet decodes a whole strip (or tile) at a time into its own
// buffer, for separate planes all of a strip's planes: one deflate strip can
// be the whole picture beside the raster.
std::uint64_t StripBufferBytes(TIFF* tif, std::uint16_t spp)
{
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    const std::uint64_t one = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    return planar == PLANARCONFIG_SEPARATE ? one * spp : one;
}

} // namespace

void DecodeTiff(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodeTiff(data, out, nullptr, limits); }

void DecodeTiff(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    SilenceGlobalHandlers();
    TTiffSource src;
    src.Data = data;

    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        Fail("not enough memory for the TIFF reader");
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &src);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(limits.Room()));
    TIFF* tif = TIFFClientOpenExt("picture", "r", &src, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                  UnmapProc, options);
    TIFFOpenOptionsFree(options);
    auto fail = [&](const char* fallback) {
        const std::string message = src.Message[0] != 0 ? src.Message : fallback;
        Fail("TIFF error: " + message);
    };
    if (tif == nullptr)
        fail("not a TIFF picture");

    struct TCloser {
        TIFF* Tif;
        ~TCloser() { TIFFClose(Tif); }
    } closer{tif};

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1)
        fail("the picture size is missing");
    const bool keep = extras != nullptr && Keeps16(tif);
    std::uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    CheckPictureSize(width, height, keep ? (spp >= 3 ? 6u : 2u) : 0u, limits, StripBufferBytes(tif, spp));
    char reason[1024] = {};
    if (TIFFRGBAImageOK(tif, reason) != 1)
        Fail(std::string("TIFF error: ") + reason);

    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);
    // The stored samples first: after the RGBA interface's strip reads, the
    // scanline interface no longer starts cleanly. A picture whose samples
    // cannot be read as stored still loads, without its plane.
    TLinearPlane plane;
    if (keep && !ReadPlane16(tif, width, height, plane)) {
        plane.Release();
        src.Message[0] = 0;
    }
    TIFFRGBAImage img;
    std::memset(&img, 0, sizeof img);
    if (TIFFRGBAImageBegin(&img, tif, 1, reason) != 1)
        Fail(std::string("TIFF error: ") + reason);
    img.req_orientation = ORIENTATION_TOPLEFT;
    if (img.isContig && img.bitspersample == 16 &&
        (img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE))
        img.put.contig = PutGrey16;
    const int got = TIFFRGBAImageGet(&img, bmp.Bits(), width, height);
    TIFFRGBAImageEnd(&img);
    if (got != 1)
        fail("the picture data cannot be read");
    if (src.Corrupt[0] != 0)
        Fail(std::string("TIFF error: the JPEG data are corrupt: ") + src.Corrupt);
    std::uint32_t* bits = bmp.Bits();
    for (std::size_t i = 0, n = std::size_t{width} * height; i < n; ++i)
        bits[i] = ToColorWord(bits[i]);
    if (keep)
        extras->Linear.Swap(plane);
    if (extras != nullptr) {
        std::uint32_t length = 0;
        void* profile = nullptr;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &profile) == 1 && profile != nullptr)
            extras->Declared = TransferOfIccProfile(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(profile), length));
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
