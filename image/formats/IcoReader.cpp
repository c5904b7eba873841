// Windows icons and cursors (ico): BMP and PNG entries; the largest image is
// shown, its transparent pixels with alpha 0.
#include <algorithm>
#include <cstring>

#include "image/formats/Dib.h"

namespace vinsk::formats {

namespace {

struct TIconEntry {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t BitCount = 0;
    std::uint32_t Size = 0;
    std::uint32_t Offset = 0;
};

bool Better(const TIconEntry& a, const TIconEntry& b)
{
    const std::uint64_t areaA = std::uint64_t{a.Width} * a.Height;
    const std::uint64_t areaB = std::uint64_t{b.Width} * b.Height;
    if (areaA != areaB)
        return areaA > areaB;
    return a.BitCount > b.BitCount;
}

void DecodeDibEntry(TBytes entry, TBitmap32& out, const TDecodeLimits& limits)
{
    TByteReader r(entry);
    TDibInfo info = ReadDibHeader(r, entry.size());
    if (info.TopDown)
        Fail("an icon image cannot be top-down");
    if (info.Compression != TDibCompression::Rgb && info.Compression != TDibCompression::BitFields)
        Fail("an icon image cannot be run-length compressed");
    // The header's height covers the colour rows and the mask rows.
    info.Height /= 2;
    CheckRasterSize(info.Width, info.Height, limits);

    const std::size_t xorOffset = r.Pos();
    const std::uint64_t xorBytes = DibRowBytes(info) * static_cast<std::uint64_t>(info.Height);
    const std::uint64_t maskRow = (static_cast<std::uint64_t>(info.Width) + 31) / 32 * 4;
    const std::uint64_t maskBytes = maskRow * static_cast<std::uint64_t>(info.Height);
    const std::uint64_t available = entry.size() - xorOffset;
    const bool hasMask = xorBytes <= available && maskBytes <= available - xorBytes;
    // Only a 32-bit image, which carries its own alpha, may come without a mask.
    if (!hasMask && (info.BitCount != 32 || xorBytes > available))
        FailTruncated();

    TBitmap32 bmp;
    AllocateRaster(bmp, info.Width, info.Height, limits);
    DecodeDibPixels(entry, xorOffset, info, bmp);

    const auto w = static_cast<std::int32_t>(info.Width);
    const auto h = static_cast<std::int32_t>(info.Height);
    bool useAlpha = info.BitCount == 32;
    if (useAlpha) {
        // Old 32-bit icons leave the alpha bytes 0 and rely on the mask alone.
        const std::uint32_t* bits = bmp.Bits();
        useAlpha = std::any_of(bits, bits + static_cast<std::size_t>(w) * h,
                               [](std::uint32_t c) { return ColorA(c) != 0; });
    }
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint32_t* row = bmp.ScanLine(y);
        const std::uint8_t* mask =
            hasMask ? entry.data() + xorOffset + xorBytes + maskRow * static_cast<std::uint64_t>(h - 1 - y) : nullptr;
        for (std::int32_t x = 0; x < w; ++x) {
            const bool transparent = mask != nullptr && ((mask[x / 8] >> (7 - x % 8)) & 1) != 0;
            const std::uint32_t alpha = transparent ? 0 : (useAlpha ? ColorA(row[x]) : 255);
            row[x] = (row[x] & 0x00FFFFFFu) | (alpha << 24);
        }
    }
    out.Swap(bmp);
}

} // namespace

void DecodeIco(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    TByteReader r(data);
    const std::uint16_t reserved = r.U16LE();
    const std::uint16_t type = r.U16LE();
    const std::uint16_t count = r.U16LE();
    if (reserved != 0 || (type != 1 && type != 2))
        Fail("not a Windows icon (bad header)");
    if (count == 0)
        Fail("the icon file holds no image");

    TIconEntry best;
    for (std::uint16_t i = 0; i < count; ++i) {
        TIconEntry e;
        e.Width = r.U8();
        e.Height = r.U8();
        r.Skip(4); // colour count, reserved, planes (hot spot x for cursors)
        e.BitCount = r.U16LE();
        e.Size = r.U32LE();
        e.Offset = r.U32LE();
        if (e.Width == 0)
            e.Width = 256;
        if (e.Height == 0)
            e.Height = 256;
        if (i == 0 || Better(e, best))
            best = e;
    }
    if (best.Offset > data.size() || best.Size > data.size() - best.Offset)
        FailTruncated();
    const TBytes entry = data.subspan(best.Offset, best.Size);

    static const std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (entry.size() >= 8 && std::memcmp(entry.data(), pngSignature, 8) == 0)
        DecodePng(entry, out, limits);
    else
        DecodeDibEntry(entry, out, limits);
}

} // namespace vinsk::formats
