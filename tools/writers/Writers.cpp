#include "tools/writers/RgbImage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "tools/writers/TiffMessages.h"

namespace vinsk::tools {

namespace {

template <class Image>
void CheckShape(const std::string& path, const Image& img)
{
    if (img.Width <= 0 || img.Height <= 0 || (img.Channels != 1 && img.Channels != 3) ||
        img.Pixels.size() != static_cast<std::size_t>(img.Width) * img.Height * img.Channels)
        throw EWriteError("Cannot write " + path + ": the picture has no valid size");
}

// The C libraries report through longjmp; nothing with a destructor lives in
// the frames they jump over.
struct TPngErr {
    std::jmp_buf Jump;
    char Message[200];
};

void PngError(png_structp png, png_const_charp msg)
{
    auto* e = static_cast<TPngErr*>(png_get_error_ptr(png));
    std::snprintf(e->Message, sizeof e->Message, "%s", msg);
    std::longjmp(e->Jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Returns an empty text or the library's complaint. `row(y)` gives row y's
// samples as PNG stores them: bytes, or big-endian pairs at 16 bits.
template <class RowOf>
std::string PngToFile(std::FILE* f, std::int32_t width, std::int32_t height, std::int32_t channels, int depth,
                      int level, RowOf&& row)
{
    TPngErr err{};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
    if (!png)
        return "out of memory";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "out of memory";
    }
    if (setjmp(err.Jump)) {
        png_destroy_write_struct(&png, &info);
        return err.Message;
    }
    png_init_io(png, f);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
                 channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < height; ++y)
        png_write_row(png, row(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

std::string PngToFile(std::FILE* f, const TRgbImage& img, int level)
{
    return PngToFile(f, img.Width, img.Height, img.Channels, 8, level, [&](std::int32_t y) { return img.Row(y); });
}

std::string Png16ToFile(std::FILE* f, const TRgb16Image& img, int level)
{
    // Made before libpng runs: nothing with a destructor may live in the
    // frames its longjmp leaves.
    const std::size_t perRow = static_cast<std::size_t>(img.Width) * img.Channels;
    std::vector<png_byte> bytes(perRow * 2);
    return PngToFile(f, img.Width, img.Height, img.Channels, 16, level, [&](std::int32_t y) {
        const std::uint16_t* src = img.Pixels.data() + static_cast<std::size_t>(y) * perRow;
        for (std::size_t i = 0; i < perRow; ++i) { // PNG stores big-endian samples
            bytes[2 * i] = static_cast<png_byte>(src[i] >> 8);
            bytes[2 * i + 1] = static_cast<png_byte>(src[i] & 0xFF);
        }
        return static_cast<png_const_bytep>(bytes.data());
    });
}

struct TJpegErr {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo)
{
    auto* e = reinterpret_cast<TJpegErr*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->Message);
    std::longjmp(e->Jump, 1);
}

void JpegSilent(j_common_ptr) {}

std::string JpegToFile(std::FILE* f, const TRgbImage& img, int quality, const std::vector<std::uint8_t>* icc)
{
    jpeg_compress_struct cinfo{};
    TJpegErr err{};
    cinfo.err = jpeg_std_error(&err.Base);
    err.Base.error_exit = JpegErrorExit;
    err.Base.output_message = JpegSilent;
    if (setjmp(err.Jump)) {
        jpeg_destroy_compress(&cinfo);
        return err.Message;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = static_cast<JDIMENSION>(img.Width);
    cinfo.image_height = static_cast<JDIMENSION>(img.Height);
    cinfo.input_components = img.Channels;
    cinfo.in_color_space = img.Channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (icc != nullptr)
        jpeg_write_icc_profile(&cinfo, icc->data(), static_cast<unsigned int>(icc->size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.Row(static_cast<std::int32_t>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return {};
}

std::string& LastTiffError()
{
    static std::string m;
    return m;
}

void TiffError(const char*, const char* fmt, va_list ap)
{
    char buf[256];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    LastTiffError() = buf;
}

void TiffWarning(const char*, const char*, va_list) {}

template <class Image, class Writer>
void WriteWith(const std::string& path, const Image& img, Writer&& write)
{
    CheckShape(path, img);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw EWriteError("Cannot create file " + path);
    std::string problem = write(f);
    if (std::fclose(f) != 0 && problem.empty())
        problem = "write failed";
    if (!problem.empty()) {
        RemoveFailedWrite(path);
        throw EWriteError("Cannot write " + path + ": " + problem);
    }
}

} // namespace

void ListenToTiff()
{
    TIFFSetErrorHandler(TiffError);
    TIFFSetWarningHandler(TiffWarning);
    LastTiffError().clear();
}

const std::string& TiffMessage()
{
    return LastTiffError();
}

void RemoveFailedWrite(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        std::remove(path.c_str());
}

void WritePng(const std::string& path, const TRgbImage& img, int zlibLevel)
{
    WriteWith(path, img, [&](std::FILE* f) { return PngToFile(f, img, zlibLevel); });
}

void WritePng16(const std::string& path, const TRgb16Image& img, int zlibLevel)
{
    WriteWith(path, img, [&](std::FILE* f) { return Png16ToFile(f, img, zlibLevel); });
}

void WriteJpeg(const std::string& path, const TRgbImage& img, int quality)
{
    WriteWith(path, img, [&](std::FILE* f) { return JpegToFile(f, img, quality, nullptr); });
}

void WriteJpeg(const std::string& path, const TRgbImage& img, int quality, const std::vector<std::uint8_t>& icc)
{
    WriteWith(path, img, [&](std::FILE* f) { return JpegToFile(f, img, quality, &icc); });
}

void WriteTiff(const std::string& path, const TRgbImage& img, bool deflate)
{
    CheckShape(path, img);
    ListenToTiff();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        throw EWriteError("Cannot create file " + path);
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(img.Width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(img.Height)) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(img.Channels)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(8)) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(ORIENTATION_TOPLEFT)) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<std::uint16_t>(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                           static_cast<std::uint16_t>(img.Channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION,
                           static_cast<std::uint16_t>(deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE)) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    for (std::int32_t y = 0; ok && y < img.Height; ++y)
        ok = TIFFWriteScanline(t, const_cast<std::uint8_t*>(img.Row(y)), static_cast<std::uint32_t>(y), 0) >= 0;
    if (ok)
        ok = TIFFWriteDirectory(t) != 0;
    TIFFClose(t);
    if (!ok) {
        RemoveFailedWrite(path);
        throw EWriteError("Cannot write " + path + ": " + (TiffMessage().empty() ? "write failed" : TiffMessage()));
    }
}

void WritePicture(const std::string& path, const TRgbImage& img, bool declareLinear)
{
    const auto dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "png")
        WritePng(path, img);
    else if ((ext == "jpg" || ext == "jpeg") && declareLinear)
        WriteJpeg(path, img, 92, LinearIccProfile(img.Channels));
    else if (ext == "jpg" || ext == "jpeg")
        WriteJpeg(path, img);
    else if (ext == "tif" || ext == "tiff")
        WriteTiff(path, img, true);
    else
        throw EWriteError("Cannot write " + path + ": unknown picture file extension");
}

} // namespace vinsk::tools
