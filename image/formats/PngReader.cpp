// PNG pictures through libpng, read from memory. Errors come back by longjmp
// to a frame without C++ objects; warnings are dropped.
#include <cmath>
#include <csetjmp>
#include <optional>
#include <cstdio>
#include <cstring>
#include <vector>

#include <png.h>

#include "image/formats/ColourDeclarations.h"
#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

struct TPngState {
    TBytes Data;
    std::size_t Pos = 0;
    char Message[256] = {};
};

void ReadData(png_structp png, png_bytep dst, png_size_t length)
{
    auto* s = static_cast<TPngState*>(png_get_io_ptr(png));
    if (length > s->Data.size() - s->Pos)
        png_error(png, "the file is truncated");
    std::memcpy(dst, s->Data.data() + s->Pos, length);
    s->Pos += length;
}

void OnError(png_structp png, png_const_charp message)
{
    auto* s = static_cast<TPngState*>(png_get_error_ptr(png));
    std::snprintf(s->Message, sizeof s->Message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// One row of 16-bit samples (big-endian, 1 to 4 channels: grey, grey and
// alpha, RGB, RGBA) into the raster, scaled as libpng scales 16 bits to 8,
// and into the plane as they are.
void Put16(const png_byte* src, int channels, png_uint_32 width, std::uint32_t* dst, std::uint16_t* kept)
{
    if (channels == 3) { // the usual case, on its own so that it runs fast
        for (png_uint_32 x = 0; x < width; ++x, src += 6, kept += 3) {
            const std::uint32_t r = (src[0] << 8) | src[1], g = (src[2] << 8) | src[3], b = (src[4] << 8) | src[5];
            dst[x] = Color32(255, Scale16(r), Scale16(g), Scale16(b));
            kept[0] = static_cast<std::uint16_t>(r);
            kept[1] = static_cast<std::uint16_t>(g);
            kept[2] = static_cast<std::uint16_t>(b);
        }
        return;
    }
    const bool colour = channels >= 3;
    const bool alpha = channels == 2 || channels == 4;
    for (png_uint_32 x = 0; x < width; ++x) {
        std::uint16_t v[4] = {};
        for (int c = 0; c < channels; ++c, src += 2)
            v[c] = static_cast<std::uint16_t>((src[0] << 8) | src[1]);
        const std::uint32_t a = alpha ? Scale16(v[channels - 1]) : 255;
        if (colour) {
            dst[x] = Color32(a, Scale16(v[0]), Scale16(v[1]), Scale16(v[2]));
            *kept++ = v[0];
            *kept++ = v[1];
            *kept++ = v[2];
        } else {
            const std::uint32_t g = Scale16(v[0]);
            dst[x] = Color32(a, g, g, g);
            *kept++ = v[0];
        }
    }
}

// 16-bit pictures when their samples are kept: the rows come as stored and
// go to the raster and the plane; an interlaced picture needs them all.
bool ReadPng16(png_structp png, png_infop info, TBitmap32* bmp, TLinearPlane* plane,
               std::vector<png_byte>* buffer, const TDecodeLimits* limits)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    png_set_expand(png); // tRNS to alpha
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 16 || channels < 1 || channels > 4 ||
        png_get_rowbytes(png, info) != std::size_t{width} * channels * 2)
        png_error(png, "unexpected row layout after conversion");
    const int kept = channels >= 3 ? 3 : 1;
    const std::uint64_t bufferRows = passes > 1 ? height : 1;
    CheckPictureSize(width, height, kept * 2u + (passes > 1 ? channels * 2u : 0u), *limits);
    AllocateRaster(*bmp, width, height, *limits);
    AllocatePlane16(*plane, width, height, kept, 16);
    buffer->resize(bufferRows * width * channels * 2);
    const std::size_t rowBytes = std::size_t{width} * channels * 2;
    auto put = [&](png_uint_32 y, const png_byte* row) {
        Put16(row, channels, width, bmp->ScanLine(static_cast<std::int32_t>(y)),
              plane->U16() + std::size_t{y} * width * kept);
    };
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            png_byte* row = buffer->data() + (passes > 1 ? y * rowBytes : 0);
            png_read_row(png, row, nullptr);
            if (passes == 1)
                put(y, row);
        }
    for (png_uint_32 y = 0; y < height && passes > 1; ++y)
        put(y, buffer->data() + y * rowBytes);
    png_read_end(png, nullptr);
    return true;
}

// Everything that may longjmp happens here; its frame holds no C++ object.
bool ReadPng(png_structp png, png_infop info, TBitmap32* bmp, TLinearPlane* plane, std::vector<png_byte>* buffer,
             const TDecodeLimits* limits)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    // The size limits below are ours, with our message.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // Nothing but the pixels, their transparency and how they map to light
    // is used: every other ancillary chunk is skipped unread, so a thousand
    // compressed text chunks cost neither memory nor time. The cache and
    // chunk limits cover what libpng still keeps.
    static const png_byte Ignored[] = "bKGD\0cHRM\0hIST\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0"
                                      "sCAL\0sPLT\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, Ignored, static_cast<int>(sizeof Ignored / 5));
    png_set_chunk_cache_max(png, 100);
    png_set_chunk_malloc_max(png, 8000000);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    CheckRasterSize(width, height, *limits);
    if (plane != nullptr && png_get_bit_depth(png, info) == 16)
        return ReadPng16(png, info, bmp, plane, buffer, limits);

    const int colorType = png_get_color_type(png, info);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_expand(png);   // palette and low bit depths to 8 bits, tRNS to alpha
    png_set_scale_16(png); // 16 bits to 8, rounded
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!alpha)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "unexpected row layout after conversion");

    AllocateRaster(*bmp, width, height, *limits);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, reinterpret_cast<png_bytep>(bmp->ScanLine(static_cast<std::int32_t>(y))), nullptr);
    png_read_end(png, nullptr);
    return true;
}

// What the file says of its tone curve, first of: an ICC profile, an sRGB
// chunk, a gAMA chunk (the file's gamma g, as stored = light^g), EXIF.
std::optional<TTransfer> Declared(png_structp png, png_infop info)
{
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile != nullptr)
        if (auto t = TransferOfIccProfile(std::span<const std::uint8_t>(profile, length)))
            return t;
    int intent = 0;
    if (png_get_sRGB(png, info, &intent) != 0)
        return TTransfer{TToneCurve::Srgb, 1, "png-srgb"};
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) != 0 && gamma > 0 && std::isfinite(gamma)) {
        // Written to five digits: 0.45455 is 1/2.2.
        const double g = std::round(1e4 / gamma) / 1e4;
        return TTransfer{g == 1 ? TToneCurve::Linear : TToneCurve::Gamma, g, "png-gama"};
    }
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr)
        return TransferOfExif(std::span<const std::uint8_t>(exif, exifLength));
    return std::nullopt;
}

} // namespace

void DecodePng(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodePng(data, out, nullptr, limits); }

void DecodePng(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TPngState s;
    s.Data = data;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, OnError, OnWarning);
    if (png == nullptr)
        Fail("not enough memory for the PNG reader");
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        Fail("not enough memory for the PNG reader");
    }
    png_set_read_fn(png, &s, ReadData);

    TBitmap32 bmp;
    TLinearPlane plane;
    std::vector<png_byte> buffer;
    bool ok = false;
    try {
        ok = ReadPng(png, info, &bmp, extras ? &plane : nullptr, &buffer, &limits);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    std::optional<TTransfer> declared;
    if (ok && extras != nullptr)
        declared = Declared(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        Fail(std::string("PNG error: ") + s.Message);
    if (extras != nullptr) {
        extras->Linear.Swap(plane);
        extras->Declared = declared;
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
