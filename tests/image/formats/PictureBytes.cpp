#include "PictureBytes.h"

#include <algorithm>
#include <cstring>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <jpeglib.h>
#include <magick/api.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

namespace vinsk::test {

TWriter& TWriter::U8(std::uint32_t v)
{
    FBytes.push_back(static_cast<std::uint8_t>(v));
    return *this;
}
TWriter& TWriter::U16LE(std::uint32_t v) { return U8(v).U8(v >> 8); }
TWriter& TWriter::U16BE(std::uint32_t v) { return U8(v >> 8).U8(v); }
TWriter& TWriter::U32LE(std::uint32_t v) { return U16LE(v).U16LE(v >> 16); }
TWriter& TWriter::U32BE(std::uint32_t v) { return U16BE(v >> 16).U16BE(v); }
TWriter& TWriter::Bytes(std::initializer_list<std::uint8_t> b)
{
    FBytes.insert(FBytes.end(), b.begin(), b.end());
    return *this;
}
TWriter& TWriter::Bytes(const TFileBytes& b)
{
    FBytes.insert(FBytes.end(), b.begin(), b.end());
    return *this;
}
TWriter& TWriter::Text(const std::string& s)
{
    FBytes.insert(FBytes.end(), s.begin(), s.end());
    return *this;
}
TWriter& TWriter::Zeros(std::size_t n)
{
    FBytes.insert(FBytes.end(), n, 0);
    return *this;
}

namespace {

std::uint8_t R(std::uint32_t c) { return static_cast<std::uint8_t>(c >> 16); }
std::uint8_t G(std::uint32_t c) { return static_cast<std::uint8_t>(c >> 8); }
std::uint8_t B(std::uint32_t c) { return static_cast<std::uint8_t>(c); }
std::uint8_t A(std::uint32_t c) { return static_cast<std::uint8_t>(c >> 24); }

void PngAppend(png_structp png, png_bytep data, png_size_t n)
{
    auto* out = static_cast<TFileBytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

TFileBytes WritePng(int width, int height, int bitDepth, int colorType, bool interlaced,
                    const std::vector<TFileBytes>& rows, const std::vector<png_color>& palette,
                    const std::vector<png_byte>& alphas)
{
    TFileBytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the test picture");
    }
    png_set_write_fn(png, &out, PngAppend, PngFlush);
    png_set_IHDR(png, info, width, height, bitDepth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!alphas.empty())
        png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    std::vector<png_bytep> pointers;
    for (const TFileBytes& r : rows)
        pointers.push_back(const_cast<png_bytep>(r.data()));
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace

TFileBytes MakePng(const TSourceImage& img, TPngKind kind)
{
    std::vector<TFileBytes> rows(img.Height);
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    std::map<std::uint32_t, int> indexOf;
    for (int y = 0; y < img.Height; ++y) {
        for (int x = 0; x < img.Width; ++x) {
            const std::uint32_t c = img.Pixels[y * img.Width + x];
            TFileBytes& row = rows[y];
            if (kind == TPngKind::PaletteWithAlpha) {
                auto [it, added] = indexOf.emplace(c, static_cast<int>(palette.size()));
                if (added) {
                    palette.push_back({R(c), G(c), B(c)});
                    alphas.push_back(A(c));
                }
                row.push_back(static_cast<std::uint8_t>(it->second));
                continue;
            }
            row.insert(row.end(), {R(c), G(c), B(c)});
            if (kind == TPngKind::Rgba8)
                row.push_back(A(c));
        }
    }
    const int colorType = kind == TPngKind::Rgba8              ? PNG_COLOR_TYPE_RGBA
                          : kind == TPngKind::PaletteWithAlpha ? PNG_COLOR_TYPE_PALETTE
                                                               : PNG_COLOR_TYPE_RGB;
    return WritePng(img.Width, img.Height, 8, colorType, kind == TPngKind::Rgb8Interlaced, rows, palette, alphas);
}

TFileBytes MakePngGrey16(int width, int height, const std::vector<std::uint16_t>& samples)
{
    std::vector<TFileBytes> rows(height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint16_t v = samples[y * width + x];
            rows[y].insert(rows[y].end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        }
    return WritePng(width, height, 16, PNG_COLOR_TYPE_GRAY, false, rows, {}, {});
}

TFileBytes MakeJpeg(const TSourceImage& img, TJpegKind kind)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = img.Width;
    info.image_height = img.Height;
    int components = 3;
    if (kind == TJpegKind::Grey) {
        components = 1;
        info.in_color_space = JCS_GRAYSCALE;
    } else if (kind == TJpegKind::InvertedCmyk) {
        components = 4;
        info.in_color_space = JCS_CMYK;
    } else {
        info.in_color_space = JCS_RGB;
    }
    info.input_components = components;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    for (int i = 0; i < info.num_components; ++i) {
        info.comp_info[i].h_samp_factor = 1;
        info.comp_info[i].v_samp_factor = 1;
    }
    if (kind == TJpegKind::Progressive)
        jpeg_simple_progression(&info);
    // 389 scans: the DC in 11 steps of one bit, then each coefficient of each
    // component on its own in two steps.
    std::vector<jpeg_scan_info> scans;
    if (kind == TJpegKind::ManyScans) {
        jpeg_scan_info dc{3, {0, 1, 2}, 0, 0, 0, 10};
        scans.push_back(dc);
        for (int a = 10; a > 0; --a)
            scans.push_back({3, {0, 1, 2}, 0, 0, a, a - 1});
        for (int c = 0; c < 3; ++c)
            for (int k = 1; k < 64; ++k) {
                scans.push_back({1, {c}, k, k, 0, 1});
                scans.push_back({1, {c}, k, k, 1, 0});
            }
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(img.Width) * components);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < img.Width; ++x) {
            const std::uint32_t c = img.Pixels[y * img.Width + x];
            JSAMPLE* p = row.data() + static_cast<std::size_t>(x) * components;
            if (kind == TJpegKind::Grey) {
                p[0] = G(c);
            } else if (kind == TJpegKind::InvertedCmyk) {
                // Photoshop's convention: 255 is no ink; K carries the darkness.
                const std::uint8_t k = std::max({R(c), G(c), B(c)});
                p[0] = k == 0 ? 255 : static_cast<JSAMPLE>(R(c) * 255 / k);
                p[1] = k == 0 ? 255 : static_cast<JSAMPLE>(G(c) * 255 / k);
                p[2] = k == 0 ? 255 : static_cast<JSAMPLE>(B(c) * 255 / k);
                p[3] = k;
            } else {
                p[0] = R(c);
                p[1] = G(c);
                p[2] = B(c);
            }
        }
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&info, &rp, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    TFileBytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

namespace {

TFileBytes ReadBack(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    TFileBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return bytes;
}

// In strips of one row, or in 16 x 16 tiles.
TIFF* OpenTiff(const std::string& path, int width, int height, int samples, int bits, int photometric,
               bool tiled = false)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr)
        throw std::runtime_error("libtiff could not create " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    }
    return tif;
}

} // namespace

TFileBytes MakeTiff(const TSourceImage& img, TTiffKind kind)
{
    const std::string path = TempPath("made.tif");
    const int samples = kind == TTiffKind::RgbaUnassociated ? 4 : 3;
    TIFF* tif = OpenTiff(path, img.Width, img.Height, samples, 8, PHOTOMETRIC_RGB);
    if (kind == TTiffKind::RgbaUnassociated) {
        const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    switch (kind) {
    case TTiffKind::Rgb8Lzw:
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        break;
    case TTiffKind::Rgb8Deflate:
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        break;
    case TTiffKind::Rgb8Jpeg:
        // JPEG strips hold whole 8-row blocks.
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, img.Height);
        break;
    default:
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        break;
    }
    const bool bottomUp = kind == TTiffKind::Rgb8BottomLeft;
    TIFFSetField(tif, TIFFTAG_ORIENTATION, bottomUp ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(img.Width) * samples);
    for (int i = 0; i < img.Height; ++i) {
        const int y = bottomUp ? img.Height - 1 - i : i;
        for (int x = 0; x < img.Width; ++x) {
            const std::uint32_t c = img.Pixels[y * img.Width + x];
            std::uint8_t* p = row.data() + static_cast<std::size_t>(x) * samples;
            p[0] = R(c);
            p[1] = G(c);
            p[2] = B(c);
            if (samples == 4)
                p[3] = A(c);
        }
        TIFFWriteScanline(tif, row.data(), i, 0);
    }
    TIFFClose(tif);
    return ReadBack(path);
}

TFileBytes MakeTiffTiled(int width, int height, int samples, int bits, const std::vector<std::uint16_t>& values)
{
    const std::string path = TempPath("tiled.tif");
    TIFF* tif = OpenTiff(path, width, height, samples, bits, samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB,
                         true);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    const std::size_t bytes = bits / 8;
    std::vector<std::uint8_t> tile(16 * 16 * samples * bytes, 0);
    for (int ty = 0; ty < height; ty += 16)
        for (int tx = 0; tx < width; tx += 16) {
            std::fill(tile.begin(), tile.end(), 0);
            for (int y = ty; y < std::min(height, ty + 16); ++y)
                for (int x = tx; x < std::min(width, tx + 16); ++x)
                    for (int c = 0; c < samples; ++c) {
                        const std::uint16_t v = values[(static_cast<std::size_t>(y) * width + x) * samples + c];
                        std::uint8_t* p = tile.data() + (((y - ty) * 16 + (x - tx)) * samples + c) * bytes;
                        if (bits == 16)
                            std::memcpy(p, &v, 2);
                        else
                            *p = static_cast<std::uint8_t>(v);
                    }
            TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0);
        }
    TIFFClose(tif);
    return ReadBack(path);
}

TFileBytes MakeTiffGrey16(int width, int height, const std::vector<std::uint16_t>& samples)
{
    const std::string path = TempPath("made16.tif");
    TIFF* tif = OpenTiff(path, width, height, 1, 16, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    std::vector<std::uint16_t> row(width);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[x] = samples[y * width + x];
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    return ReadBack(path);
}

TFileBytes MakePcd(const TSourceImage& img)
{
    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    // The same start-up as the reader's; whichever runs first sets it up.
    InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
    std::vector<std::uint8_t> rgb;
    for (std::uint32_t c : img.Pixels)
        rgb.insert(rgb.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                               static_cast<std::uint8_t>(c)});
    Image* image = ConstituteImage(static_cast<unsigned long>(img.Width), static_cast<unsigned long>(img.Height), "RGB",
                                   CharPixel, rgb.data(), &exception);
    ImageInfo* info = CloneImageInfo(nullptr);
    TFileBytes bytes;
    if (image != nullptr && info != nullptr) {
        std::strcpy(info->magick, "PCD");
        std::strcpy(image->magick, "PCD");
        std::size_t length = 0;
        if (void* blob = ImageToBlob(info, image, &length, &exception)) {
            const auto* p = static_cast<const std::uint8_t*>(blob);
            bytes.assign(p, p + length);
            MagickFree(blob);
        }
    }
    if (info != nullptr)
        DestroyImageInfo(info);
    if (image != nullptr)
        DestroyImage(image);
    DestroyExceptionInfo(&exception);
    if (bytes.empty())
        throw std::runtime_error("GraphicsMagick could not write the test picture");
    return bytes;
}

std::string TempPath(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vinsk_formats_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

void WriteFile(const std::string& path, const TFileBytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

TFileBytes FitsHeader(const std::vector<std::string>& cards, bool end)
{
    std::string text;
    for (const std::string& c : cards)
        text += (c + std::string(80, ' ')).substr(0, 80);
    if (end)
        text += std::string("END") + std::string(77, ' ');
    text.resize((text.size() + 2879) / 2880 * 2880, ' ');
    return TFileBytes(text.begin(), text.end());
}

std::string FitsCard(const std::string& key, const std::string& value)
{
    std::string k = key + std::string(8, ' ');
    std::string v = std::string(20, ' ') + value;
    return k.substr(0, 8) + "= " + v.substr(v.size() - 20);
}

TFileBytes GzipRepeated(const TFileBytes& chunk, std::size_t times)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    TFileBytes out;
    std::uint8_t buffer[1 << 16];
    for (std::size_t i = 0; i <= times; ++i) {
        const bool last = i == times;
        z.next_in = const_cast<std::uint8_t*>(chunk.data());
        z.avail_in = last ? 0 : static_cast<uInt>(chunk.size());
        int r = Z_OK;
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            r = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        } while (z.avail_out == 0 || (last && r != Z_STREAM_END));
    }
    deflateEnd(&z);
    return out;
}

TFileBytes MakeCompressedFits16(int width, int height, int tileWidth, int tileHeight, const std::string& type,
                                const std::vector<TFileBytes>& tiles, const std::vector<std::string>& parameters)
{
    TFileBytes file = FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "8"), FitsCard("NAXIS", "0"),
                                  FitsCard("EXTEND", "T")});
    std::size_t heap = 0, longest = 0;
    for (const TFileBytes& t : tiles) {
        heap += t.size();
        longest = std::max(longest, t.size());
    }
    std::vector<std::string> cards = {
         FitsCard("XTENSION", "'BINTABLE'"), FitsCard("BITPIX", "8"), FitsCard("NAXIS", "2"), FitsCard("NAXIS1", "8"),
         FitsCard("NAXIS2", std::to_string(tiles.size())), FitsCard("PCOUNT", std::to_string(heap)),
         FitsCard("GCOUNT", "1"), FitsCard("TFIELDS", "1"), FitsCard("TTYPE1", "'COMPRESSED_DATA'"),
         FitsCard("TFORM1", "'1PB(" + std::to_string(longest) + ")'"), FitsCard("ZIMAGE", "T"),
         FitsCard("ZBITPIX", "16"), FitsCard("ZNAXIS", "2"), FitsCard("ZNAXIS1", std::to_string(width)),
         FitsCard("ZNAXIS2", std::to_string(height)), FitsCard("ZTILE1", std::to_string(tileWidth)),
         FitsCard("ZTILE2", std::to_string(tileHeight)), FitsCard("ZCMPTYPE", "'" + type + "'")};
    cards.insert(cards.end(), parameters.begin(), parameters.end());
    const TFileBytes table = FitsHeader(cards);
    file.insert(file.end(), table.begin(), table.end());
    TWriter data;
    std::size_t offset = 0;
    for (const TFileBytes& t : tiles) {
        data.U32BE(static_cast<std::uint32_t>(t.size())).U32BE(static_cast<std::uint32_t>(offset));
        offset += t.size();
    }
    for (const TFileBytes& t : tiles)
        data.Bytes(t);
    TFileBytes bytes = data.Take();
    bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
    file.insert(file.end(), bytes.begin(), bytes.end());
    return file;
}

} // namespace vinsk::test
