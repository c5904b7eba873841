// Windows and OS/2 bitmaps (bmp, dib, rle).
#include <algorithm>
#include <bit>

#include "image/formats/Dib.h"

namespace vinsk::formats {

namespace {

constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiRle8 = 1;
constexpr std::uint32_t BiRle4 = 2;
constexpr std::uint32_t BiBitFields = 3;
constexpr std::uint32_t BiJpeg = 4;
constexpr std::uint32_t BiPng = 5;
constexpr std::uint32_t BiAlphaBitFields = 6;

constexpr std::uint32_t OpaqueBlack = 0xFF000000u;

// One colour channel described by a bit mask.
struct TMaskChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;

    explicit TMaskChannel(std::uint32_t mask) : Mask(mask)
    {
        if (mask != 0) {
            Shift = std::countr_zero(mask);
            const std::uint32_t field = mask >> Shift;
            const int bits = 32 - std::countl_zero(field);
            Max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        }
    }
    std::uint32_t Get(std::uint32_t v, std::uint32_t absent) const
    {
        return Mask == 0 ? absent : ScaleToByte((v & Mask) >> Shift, Max);
    }
};

std::uint32_t PaletteColor(const std::vector<std::uint32_t>& pal, std::uint32_t index)
{
    return index < pal.size() ? pal[index] : OpaqueBlack;
}

void DecodeUncompressed(TBytes data, std::size_t offset, const TDibInfo& info, TBitmap32& bmp)
{
    const std::uint64_t rowBytes = DibRowBytes(info);
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(info.Width) * info.BitCount + 7) / 8;
    // The last row may lack its padding; everything else must be there.
    const std::uint64_t need = rowBytes * static_cast<std::uint64_t>(info.Height - 1) + lastRow;
    if (offset > data.size() || need > data.size() - offset)
        FailTruncated();

    const bool fields = info.Compression == TDibCompression::BitFields;
    const std::uint32_t defaultMasks16[3] = {0x7C00u, 0x03E0u, 0x001Fu};
    const TMaskChannel red(fields ? info.Masks[0] : defaultMasks16[0]);
    const TMaskChannel green(fields ? info.Masks[1] : defaultMasks16[1]);
    const TMaskChannel blue(fields ? info.Masks[2] : defaultMasks16[2]);
    const TMaskChannel alpha(fields ? info.Masks[3] : 0u);

    const auto w = static_cast<std::int32_t>(info.Width);
    const auto h = static_cast<std::int32_t>(info.Height);
    for (std::int32_t i = 0; i < h; ++i) {
        const std::uint8_t* src = data.data() + offset + rowBytes * static_cast<std::uint64_t>(i);
        std::uint32_t* dst = bmp.ScanLine(info.TopDown ? i : h - 1 - i);
        switch (info.BitCount) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const unsigned bits = info.BitCount;
            const unsigned perByte = 8 / bits;
            const std::uint32_t mask = (1u << bits) - 1;
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint8_t byte = src[x / perByte];
                const unsigned shift = 8 - bits * (x % perByte + 1);
                dst[x] = PaletteColor(info.Palette, (byte >> shift) & mask);
            }
            break;
        }
        case 16:
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[x] = Color32(alpha.Get(v, 255), red.Get(v, 0), green.Get(v, 0), blue.Get(v, 0));
            }
            break;
        case 24:
            for (std::int32_t x = 0; x < w; ++x)
                dst[x] = Opaque(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
            break;
        case 32:
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint8_t* p = src + 4 * x;
                if (fields) {
                    const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
                    dst[x] = Color32(alpha.Get(v, 255), red.Get(v, 0), green.Get(v, 0), blue.Get(v, 0));
                } else {
                    // A 32-bit source keeps its fourth byte as alpha.
                    dst[x] = Color32(p[3], p[2], p[1], p[0]);
                }
            }
            break;
        default:
            Fail("unsupported bit depth " + std::to_string(info.BitCount));
        }
    }
}

void DecodeRle(TBytes data, std::size_t offset, const TDibInfo& info, TBitmap32& bmp)
{
    const bool four = info.Compression == TDibCompression::Rle4;
    const std::int64_t w = info.Width;
    const std::int64_t h = info.Height;
    // Pixels that the runs skip show the first palette colour.
    const std::uint32_t background = PaletteColor(info.Palette, 0);
    std::uint32_t* bits = bmp.Bits();
    std::fill(bits, bits + static_cast<std::size_t>(w * h), background);

    auto put = [&](std::int64_t x, std::int64_t y, std::uint32_t index) {
        if (x < w && y < h)
            bmp.ScanLine(static_cast<std::int32_t>(h - 1 - y))[x] = PaletteColor(info.Palette, index);
    };

    TByteReader r(data, offset);
    std::int64_t x = 0;
    std::int64_t y = 0;
    while (y < h) {
        const std::uint8_t count = r.U8();
        const std::uint8_t code = r.U8();
        if (count > 0) {
            for (int k = 0; k < count && x + k < w; ++k)
                put(x + k, y, four ? ((k % 2 == 0) ? code >> 4 : code & 0x0F) : code);
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            y = h;
            break;
        case 2: // delta
            x += r.U8();
            y += r.U8();
            break;
        default: { // absolute run, padded to a 16-bit boundary
            const std::size_t bytes = four ? (code + 1u) / 2u : code;
            TBytes run = r.Take(bytes);
            r.Skip(bytes % 2);
            for (int k = 0; k < code && x + k < w; ++k)
                put(x + k, y, four ? ((k % 2 == 0) ? run[k / 2] >> 4 : run[k / 2] & 0x0F) : run[k]);
            x += code;
            break;
        }
        }
    }
}

} // namespace

std::uint64_t DibRowBytes(const TDibInfo& info)
{
    return (static_cast<std::uint64_t>(info.Width) * info.BitCount + 31) / 32 * 4;
}

TDibInfo ReadDibHeader(TByteReader& r, std::size_t paletteEnd)
{
    TDibInfo info;
    const std::uint32_t headerSize = r.U32LE();
    bool core = false;
    bool os2 = false;
    std::uint32_t compression = BiRgb;
    std::uint32_t colorsUsed = 0;
    std::int64_t height = 0;
    if (headerSize == 12) {
        core = true;
        info.Width = r.U16LE();
        height = r.U16LE();
        r.U16LE(); // planes
        info.BitCount = r.U16LE();
    } else if (headerSize >= 16 && headerSize <= 4096) {
        os2 = headerSize < 40 || headerSize == 64;
        TByteReader h(r.Take(headerSize - 4));
        auto field = [&h](std::size_t pos) -> std::uint32_t {
            if (pos + 4 > h.Size())
                return 0;
            h.Seek(pos);
            return h.U32LE();
        };
        info.Width = static_cast<std::int32_t>(field(0));
        height = static_cast<std::int32_t>(field(4));
        h.Seek(10);
        info.BitCount = h.U16LE();
        compression = field(12);
        colorsUsed = field(28);
        if (headerSize >= 52) {
            info.Masks[0] = field(36);
            info.Masks[1] = field(40);
            info.Masks[2] = field(44);
        }
        if (headerSize >= 56)
            info.Masks[3] = field(48);
    } else {
        Fail("unknown bitmap header size " + std::to_string(headerSize));
    }

    if (info.Width <= 0)
        Fail("the declared width " + std::to_string(info.Width) + " is not positive");
    info.TopDown = height < 0;
    info.Height = height < 0 ? -height : height;

    switch (info.BitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
        break;
    default:
        Fail("unsupported bit depth " + std::to_string(info.BitCount));
    }

    if (os2 && (compression == 3 || compression == 4))
        Fail("OS/2 Huffman and RLE24 compressed bitmaps are not supported");
    switch (compression) {
    case BiRgb:
        break;
    case BiRle8:
    case BiRle4:
        if (info.BitCount != (compression == BiRle8 ? 8u : 4u))
            Fail("run-length compression does not fit " + std::to_string(info.BitCount) + "-bit pixels");
        if (info.TopDown)
            Fail("a top-down bitmap cannot be run-length compressed");
        info.Compression = compression == BiRle8 ? TDibCompression::Rle8 : TDibCompression::Rle4;
        break;
    case BiBitFields:
    case BiAlphaBitFields:
        if (info.BitCount != 16 && info.BitCount != 32)
            Fail("bit fields do not fit " + std::to_string(info.BitCount) + "-bit pixels");
        info.Compression = TDibCompression::BitFields;
        if (headerSize < 52) {
            // The masks follow the short header.
            info.Masks[0] = r.U32LE();
            info.Masks[1] = r.U32LE();
            info.Masks[2] = r.U32LE();
            if (compression == BiAlphaBitFields)
                info.Masks[3] = r.U32LE();
        }
        break;
    case BiJpeg:
    case BiPng:
        Fail("JPEG and PNG compressed bitmaps are not supported");
    default:
        Fail("unknown compression " + std::to_string(compression));
    }
    if (info.Compression != TDibCompression::BitFields)
        info.Masks = {};

    if (info.BitCount <= 8) {
        const std::size_t entrySize = core ? 3 : 4;
        std::size_t count = std::size_t{1} << info.BitCount;
        if (colorsUsed != 0 && colorsUsed < count)
            count = colorsUsed;
        // A palette may be shorter than declared when the pixels follow it.
        if (paletteEnd > r.Pos() && (paletteEnd - r.Pos()) / entrySize < count)
            count = (paletteEnd - r.Pos()) / entrySize;
        info.Palette.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            TBytes e = r.Take(entrySize);
            info.Palette.push_back(Opaque(e[2], e[1], e[0]));
        }
    }
    return info;
}

void DecodeDibPixels(TBytes data, std::size_t offset, const TDibInfo& info, TBitmap32& bmp)
{
    if (info.Compression == TDibCompression::Rle8 || info.Compression == TDibCompression::Rle4)
        DecodeRle(data, offset, info, bmp);
    else
        DecodeUncompressed(data, offset, info, bmp);
}

void DecodeBmp(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    TByteReader r(data);
    if (r.Remaining() < 2 || data[0] != 'B' || data[1] != 'M')
        Fail("not a Windows bitmap (no BM signature)");
    r.Skip(10);
    const std::uint32_t pixelOffset = r.U32LE();
    if (pixelOffset > data.size())
        FailTruncated();
    const TDibInfo info = ReadDibHeader(r, pixelOffset);
    if (pixelOffset < r.Pos())
        Fail("the pixel data offset " + std::to_string(pixelOffset) + " points into the header");

    CheckRasterSize(info.Width, info.Height, limits);
    if (info.Compression != TDibCompression::Rle8 && info.Compression != TDibCompression::Rle4) {
        const std::uint64_t need = DibRowBytes(info) * static_cast<std::uint64_t>(info.Height - 1) +
                                   (static_cast<std::uint64_t>(info.Width) * info.BitCount + 7) / 8;
        if (need > data.size() - pixelOffset)
            FailTruncated();
    }
    TBitmap32 bmp;
    AllocateRaster(bmp, info.Width, info.Height, limits);
    DecodeDibPixels(data, pixelOffset, info, bmp);
    out.Swap(bmp);
}

} // namespace vinsk::formats
