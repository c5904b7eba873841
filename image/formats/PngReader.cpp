// PNG pictures through libpng, read from memory. Errors come back by longjmp
// to a frame without C++ objects; warnings are dropped.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

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

// Everything that may longjmp happens here; its frame holds no C++ object.
bool ReadPng(png_structp png, png_infop info, TBitmap32* bmp, const TDecodeLimits* limits)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    // The size limits below are ours, with our message.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // Nothing but the pixels and their transparency is used: every other
    // ancillary chunk is skipped unread, so a thousand compressed text chunks
    // cost neither memory nor time. The cache and chunk limits cover what
    // libpng still keeps.
    static const png_byte Ignored[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0"
                                      "sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, Ignored, static_cast<int>(sizeof Ignored / 5));
    png_set_chunk_cache_max(png, 100);
    png_set_chunk_malloc_max(png, 8000000);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    CheckRasterSize(width, height, *limits);

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

} // namespace

void DecodePng(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
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
    bool ok = false;
    try {
        ok = ReadPng(png, info, &bmp, &limits);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        Fail(std::string("PNG error: ") + s.Message);
    out.Swap(bmp);
}

} // namespace vinsk::formats
