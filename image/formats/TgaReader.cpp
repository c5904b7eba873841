// Truevision pictures (tga, vst, vda, icb, win): colour-mapped, true-colour
// and grey, uncompressed or run-length encoded, any origin.
#include <algorithm>
#include <vector>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

enum TTgaKind { ColorMapped = 1, TrueColor = 2, Grey = 3 };

// 15/16-bit A1R5G5B5; the attribute bit is not treated as alpha.
std::uint32_t Color555(std::uint32_t v)
{
    return Opaque(ScaleToByte((v >> 10) & 0x1F, 31), ScaleToByte((v >> 5) & 0x1F, 31), ScaleToByte(v & 0x1F, 31));
}

std::uint32_t ReadColor(const std::uint8_t* p, unsigned bits)
{
    switch (bits) {
    case 15:
    case 16:
        return Color555(p[0] | (p[1] << 8));
    case 24:
        return Opaque(p[2], p[1], p[0]);
    default: // 32: the fourth byte is alpha
        return Color32(p[3], p[2], p[1], p[0]);
    }
}

} // namespace

void DecodeTga(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    TByteReader r(data);
    const std::uint8_t idLength = r.U8();
    const std::uint8_t mapType = r.U8();
    const std::uint8_t imageType = r.U8();
    const std::uint16_t mapFirst = r.U16LE();
    const std::uint16_t mapLength = r.U16LE();
    const std::uint8_t mapBits = r.U8();
    r.Skip(4); // x and y origin
    const std::uint16_t width = r.U16LE();
    const std::uint16_t height = r.U16LE();
    const std::uint8_t depth = r.U8();
    const std::uint8_t descriptor = r.U8();

    const bool rle = imageType >= 9;
    const int kind = rle ? imageType - 8 : imageType;
    if (mapType > 1 || (kind != ColorMapped && kind != TrueColor && kind != Grey) || imageType > 11)
        Fail("not a Truevision picture or an unsupported image type " + std::to_string(imageType));
    if (kind == ColorMapped && mapType != 1)
        Fail("the colour-mapped picture has no colour map");
    bool depthOk = false;
    switch (kind) {
    case ColorMapped:
        depthOk = depth == 8 || depth == 16;
        break;
    case TrueColor:
        depthOk = depth == 15 || depth == 16 || depth == 24 || depth == 32;
        break;
    default:
        depthOk = depth == 8 || depth == 16;
        break;
    }
    if (!depthOk)
        Fail("unsupported pixel depth " + std::to_string(depth));
    if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        Fail("unsupported colour map entry size " + std::to_string(mapBits));

    CheckRasterSize(width, height, limits);

    r.Skip(idLength);
    std::vector<std::uint32_t> map;
    if (mapType == 1) {
        const unsigned entryBytes = (mapBits + 7u) / 8u;
        TBytes raw = r.Take(static_cast<std::size_t>(mapLength) * entryBytes);
        if (kind == ColorMapped) {
            map.reserve(mapLength);
            for (std::size_t i = 0; i < mapLength; ++i)
                map.push_back(ReadColor(raw.data() + i * entryBytes, mapBits));
        }
    }

    const unsigned pixelBytes = (depth + 7u) / 8u;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    // A run packet covers at most 128 pixels, so shorter data cannot be whole.
    const std::uint64_t minBytes = rle ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
    if (minBytes > r.Remaining())
        FailTruncated();

    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);

    auto convert = [&](const std::uint8_t* p) -> std::uint32_t {
        switch (kind) {
        case ColorMapped: {
            const std::uint32_t index = depth == 8 ? p[0] : static_cast<std::uint32_t>(p[0] | (p[1] << 8));
            return index >= mapFirst && index - mapFirst < map.size() ? map[index - mapFirst] : 0xFF000000u;
        }
        case TrueColor:
            return ReadColor(p, depth);
        default:
            return depth == 8 ? Opaque(p[0], p[0], p[0]) : Color32(p[1], p[0], p[0], p[0]);
        }
    };

    const bool topDown = (descriptor & 0x20) != 0;
    const bool rightToLeft = (descriptor & 0x10) != 0;
    auto store = [&](std::uint64_t i, std::uint32_t c) {
        const std::uint32_t row = static_cast<std::uint32_t>(i / width);
        const std::uint32_t col = static_cast<std::uint32_t>(i % width);
        const std::int32_t y = static_cast<std::int32_t>(topDown ? row : height - 1 - row);
        const std::int32_t x = static_cast<std::int32_t>(rightToLeft ? width - 1 - col : col);
        bmp.ScanLine(y)[x] = c;
    };

    if (!rle) {
        TBytes raw = r.Take(pixels * pixelBytes);
        for (std::uint64_t i = 0; i < pixels; ++i)
            store(i, convert(raw.data() + i * pixelBytes));
    } else {
        // Packets may run on from one row into the next.
        std::uint64_t i = 0;
        while (i < pixels) {
            const std::uint8_t head = r.U8();
            const std::uint64_t count = (head & 0x7Fu) + 1u;
            const std::uint64_t n = std::min(count, pixels - i);
            if (head & 0x80) {
                const std::uint32_t c = convert(r.Take(pixelBytes).data());
                for (std::uint64_t k = 0; k < n; ++k)
                    store(i + k, c);
            } else {
                TBytes raw = r.Take(count * pixelBytes);
                for (std::uint64_t k = 0; k < n; ++k)
                    store(i + k, convert(raw.data() + k * pixelBytes));
            }
            i += n;
        }
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
