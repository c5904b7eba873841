// Picture files made in the test: byte writers for the formats read by our
// own code, and the real libraries for PNG, JPEG, TIFF and Photo CD.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vinsk::test {

using TFileBytes = std::vector<std::uint8_t>;

class TWriter {
public:
    TWriter& U8(std::uint32_t v);
    TWriter& U16LE(std::uint32_t v);
    TWriter& U16BE(std::uint32_t v);
    TWriter& U32LE(std::uint32_t v);
    TWriter& U32BE(std::uint32_t v);
    TWriter& Bytes(std::initializer_list<std::uint8_t> b);
    TWriter& Bytes(const TFileBytes& b);
    TWriter& Text(const std::string& s);
    TWriter& Zeros(std::size_t n);
    std::size_t Size() const { return FBytes.size(); }
    TFileBytes Take() const { return FBytes; }

private:
    TFileBytes FBytes;
};

// Pixels for the library writers: $AARRGGBB words, row-major, top row first.
struct TSourceImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

enum class TPngKind { Rgb8, Rgba8, PaletteWithAlpha, Rgb8Interlaced };
TFileBytes MakePng(const TSourceImage& img, TPngKind kind);
// 16-bit grey samples given directly.
TFileBytes MakePngGrey16(int width, int height, const std::vector<std::uint16_t>& samples);

enum class TJpegKind { Rgb, Grey, InvertedCmyk, Progressive, ManyScans };
TFileBytes MakeJpeg(const TSourceImage& img, TJpegKind kind);

enum class TTiffKind { Rgb8, Rgb8BottomLeft, RgbaUnassociated, Rgb8Lzw, Rgb8Deflate, Rgb8Jpeg };
TFileBytes MakeTiff(const TSourceImage& img, TTiffKind kind);
TFileBytes MakeTiffGrey16(int width, int height, const std::vector<std::uint16_t>& samples);
// Uncompressed, in 16 x 16 tiles; `values` holds `samples` values a pixel of
// `bits` (8 or 16) each.
TFileBytes MakeTiffTiled(int width, int height, int samples, int bits, const std::vector<std::uint16_t>& values);

// A Photo CD file written by GraphicsMagick: the picture scaled into 768 x 512
// (portrait ones turned a quarter, with the flag that turns them back).
TFileBytes MakePcd(const TSourceImage& img);

// FITS header cards of 80 characters ("END" appended unless `end` is
// false), padded to whole 2880-byte blocks.
TFileBytes FitsHeader(const std::vector<std::string>& cards, bool end = true);
// "KEY     =                value", the value right-aligned in 20 columns.
std::string FitsCard(const std::string& key, const std::string& value);

// A GZIP stream (the gzip wrapper, as FITS tiles hold it) of `chunk`
// repeated `times` times.
TFileBytes GzipRepeated(const TFileBytes& chunk, std::size_t times);

// A tile-compressed FITS of 16-bit samples as a compressing tool writes it:
// an empty primary header, then a table whose rows hold the given tile
// streams (the tiles of tileWidth x tileHeight, along the rows first), and
// the compression's parameters when it has any.
TFileBytes MakeCompressedFits16(int width, int height, int tileWidth, int tileHeight, const std::string& type,
                                const std::vector<TFileBytes>& tiles, const std::vector<std::string>& parameters = {});

// A fresh path in the temporary folder with the given file name.
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const TFileBytes& bytes);

} // namespace vinsk::test
