// ZSoft Paintbrush pictures (pcx, pcc, scr): 1-, 2-, 4- and 8-bit palettes,
// 24-bit colour in three planes and 32-bit in four.
#include <algorithm>
#include <array>
#include <vector>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

constexpr std::size_t HeaderSize = 128;
constexpr std::size_t PaletteBlock = 769; // the 0x0C mark and 256 RGB triples

// The colours of a version 2.8 file without palette information.
constexpr std::array<std::uint32_t, 16> EgaPalette = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

// Decodes the byte stream of all planes of all rows; runs may cross rows.
class TPcxStream {
public:
    TPcxStream(TBytes data, bool rle) : FReader(data), FRle(rle) {}

    void Read(std::uint8_t* dst, std::size_t n)
    {
        for (std::size_t i = 0; i < n;) {
            if (FRun == 0) {
                const std::uint8_t b = FReader.U8();
                if (FRle && (b & 0xC0) == 0xC0) {
                    FRun = b & 0x3F;
                    FValue = FReader.U8();
                } else {
                    FRun = 1;
                    FValue = b;
                }
                continue;
            }
            const std::size_t k = std::min<std::size_t>(FRun, n - i);
            std::fill(dst + i, dst + i + k, FValue);
            FRun -= k;
            i += k;
        }
    }

private:
    TByteReader FReader;
    bool FRle;
    std::size_t FRun = 0;
    std::uint8_t FValue = 0;
};

} // namespace

void DecodePcx(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    TByteReader r(data);
    const std::uint8_t maker = r.U8();
    const std::uint8_t version = r.U8();
    const std::uint8_t encoding = r.U8();
    const std::uint8_t bits = r.U8();
    const std::uint16_t xMin = r.U16LE();
    const std::uint16_t yMin = r.U16LE();
    const std::uint16_t xMax = r.U16LE();
    const std::uint16_t yMax = r.U16LE();
    r.Skip(4); // resolution
    TBytes headerPalette = r.Take(48);
    r.Skip(1);
    const std::uint8_t planes = r.U8();
    const std::uint16_t bytesPerLine = r.U16LE();
    r.Seek(HeaderSize);

    if (maker != 0x0A || encoding > 1)
        Fail("not a ZSoft Paintbrush picture (bad header)");
    const bool paletted = (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) ||
                          (bits == 1 && planes >= 2 && planes <= 4);
    const bool direct = bits == 8 && (planes == 3 || planes == 4);
    if (!paletted && !direct)
        Fail("unsupported layout of " + std::to_string(planes) + " planes of " + std::to_string(bits) + " bits");
    const std::int64_t width = std::int64_t{xMax} - xMin + 1;
    const std::int64_t height = std::int64_t{yMax} - yMin + 1;
    CheckRasterSize(width, height, limits);
    if (std::uint64_t{bytesPerLine} * 8 < static_cast<std::uint64_t>(width) * bits)
        Fail("the line length " + std::to_string(bytesPerLine) + " is too short for the width " +
             std::to_string(width));

    std::vector<std::uint32_t> palette(256, 0xFF000000u);
    std::size_t dataEnd = data.size();
    if (bits == 8 && planes == 1) {
        const bool hasPalette =
            data.size() >= HeaderSize + PaletteBlock && data[data.size() - PaletteBlock] == 0x0C;
        if (hasPalette) {
            dataEnd = data.size() - PaletteBlock;
            const std::uint8_t* p = data.data() + dataEnd + 1;
            for (int i = 0; i < 256; ++i)
                palette[i] = Opaque(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
        } else if (version >= 5) {
            // Version 3.0 files always end with the 256 colours.
            Fail("the 256-colour palette is missing (the file is truncated)");
        } else {
            for (std::uint32_t i = 0; i < 256; ++i)
                palette[i] = Opaque(i, i, i);
        }
    } else if (bits == 1 && planes == 1) {
        palette[0] = 0xFF000000u;
        palette[1] = 0xFFFFFFFFu;
    } else if (paletted) {
        for (int i = 0; i < 16; ++i)
            palette[i] = version == 3 ? (0xFF000000u | EgaPalette[i])
                                      : Opaque(headerPalette[3 * i], headerPalette[3 * i + 1], headerPalette[3 * i + 2]);
    }

    const std::uint64_t lineBytes = std::uint64_t{bytesPerLine} * planes;
    const std::uint64_t total = lineBytes * static_cast<std::uint64_t>(height);
    // A run gives at most 63 bytes for two.
    const std::uint64_t minBytes = encoding == 1 ? (total + 62) / 63 : total;
    if (dataEnd < HeaderSize || minBytes > dataEnd - HeaderSize)
        FailTruncated();

    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);
    TPcxStream stream(data.subspan(HeaderSize, dataEnd - HeaderSize), encoding == 1);
    std::vector<std::uint8_t> line(lineBytes);
    const auto w = static_cast<std::int32_t>(width);
    for (std::int32_t y = 0; y < static_cast<std::int32_t>(height); ++y) {
        stream.Read(line.data(), line.size());
        std::uint32_t* dst = bmp.ScanLine(y);
        if (direct) {
            const std::uint8_t* red = line.data();
            const std::uint8_t* green = red + bytesPerLine;
            const std::uint8_t* blue = green + bytesPerLine;
            for (std::int32_t x = 0; x < w; ++x) {
                // A fourth plane is alpha.
                const std::uint32_t a = planes == 4 ? blue[bytesPerLine + x] : 255u;
                dst[x] = Color32(a, red[x], green[x], blue[x]);
            }
        } else if (planes == 1) {
            const unsigned perByte = 8u / bits;
            const std::uint32_t mask = (1u << bits) - 1;
            for (std::int32_t x = 0; x < w; ++x) {
                const unsigned shift = 8 - bits * (x % perByte + 1);
                dst[x] = palette[(line[x / perByte] >> shift) & mask];
            }
        } else {
            // Bit planes: plane p gives bit p of the index.
            for (std::int32_t x = 0; x < w; ++x) {
                std::uint32_t index = 0;
                for (unsigned p = 0; p < planes; ++p)
                    index |= ((line[p * bytesPerLine + x / 8] >> (7 - x % 8)) & 1u) << p;
                dst[x] = palette[index];
            }
        }
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
