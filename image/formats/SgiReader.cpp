// SGI pictures (sgi, rgb, rgba, bw): verbatim or run-length encoded, one to
// four channels of 8 or 16 bits, rows stored bottom-up.
#include <algorithm>
#include <vector>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

constexpr std::size_t HeaderSize = 512;

// Decodes one run-length row of `count` values of `bpc` bytes.
void DecodeRow(TBytes src, unsigned bpc, std::uint16_t* dst, std::size_t count)
{
    TByteReader r(src);
    auto value = [&]() -> std::uint16_t { return bpc == 1 ? r.U8() : r.U16BE(); };
    std::size_t i = 0;
    while (true) {
        const std::uint16_t head = value();
        const std::size_t n = head & 0x7F;
        if (n == 0)
            break;
        if (n > count - i)
            Fail("a run-length row is longer than the picture's width");
        if (head & 0x80) {
            for (std::size_t k = 0; k < n; ++k)
                dst[i + k] = value();
        } else {
            std::fill(dst + i, dst + i + n, value());
        }
        i += n;
    }
    if (i != count)
        Fail("a run-length row is shorter than the picture's width");
}

} // namespace

void DecodeSgi(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodeSgi(data, out, nullptr, limits); }

void DecodeSgi(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TByteReader r(data);
    const std::uint16_t magic = r.U16BE();
    const std::uint8_t storage = r.U8();
    const std::uint8_t bpc = r.U8();
    const std::uint16_t dimension = r.U16BE();
    const std::uint16_t xsize = r.U16BE();
    std::uint16_t ysize = r.U16BE();
    std::uint16_t zsize = r.U16BE();
    r.Skip(12); // pixmin, pixmax, dummy
    r.Skip(80); // image name
    const std::uint32_t colormap = r.U32BE();
    r.Seek(std::min(HeaderSize, data.size()));

    if (magic != 474)
        Fail("not an SGI picture (bad magic number)");
    if (storage > 1 || (bpc != 1 && bpc != 2) || dimension < 1 || dimension > 3)
        Fail("unsupported SGI storage " + std::to_string(storage) + ", " + std::to_string(bpc) +
             " bytes per channel, dimension " + std::to_string(dimension));
    if (colormap != 0)
        Fail("SGI colour-map pictures are not supported");
    if (dimension == 1)
        ysize = 1;
    if (dimension < 3)
        zsize = 1;
    if (zsize == 0)
        Fail("the SGI picture has no channels");
    // Channels past the fourth carry nothing that a colour word can hold.
    const unsigned channels = std::min<unsigned>(zsize, 4);
    // 16-bit grey or colour samples are also kept as they are (alpha is not).
    const bool keep = extras != nullptr && bpc == 2;
    const unsigned keptChannels = channels >= 3 ? 3 : 1;
    CheckPictureSize(xsize, ysize, keep ? keptChannels * 2u : 0u, limits);
    const std::uint64_t rowBytes = std::uint64_t{xsize} * bpc;
    const std::uint64_t rows = std::uint64_t{ysize} * zsize;
    // Every channel's data must be there, also those that are not shown.
    if (storage == 0) {
        if (data.size() < HeaderSize || rowBytes * rows > data.size() - HeaderSize)
            FailTruncated();
    } else if (data.size() < HeaderSize || rows * 8 > data.size() - HeaderSize) {
        FailTruncated();
    }

    TBitmap32 bmp;
    AllocateRaster(bmp, xsize, ysize, limits);
    TLinearPlane plane;
    if (keep)
        AllocatePlane16(plane, xsize, ysize, static_cast<int>(keptChannels), 16);
    std::vector<std::uint16_t> row(xsize);
    for (unsigned z = 0; z < channels; ++z) {
        for (std::uint32_t y = 0; y < ysize; ++y) {
            const std::uint64_t index = std::uint64_t{z} * ysize + y;
            if (storage == 0) {
                const std::uint8_t* p = data.data() + HeaderSize + index * rowBytes;
                for (std::size_t x = 0; x < xsize; ++x)
                    row[x] = bpc == 1 ? p[x] : static_cast<std::uint16_t>((p[2 * x] << 8) | p[2 * x + 1]);
            } else {
                TByteReader table(data, HeaderSize + index * 4);
                const std::uint32_t start = table.U32BE();
                table.Seek(HeaderSize + (rows + index) * 4);
                const std::uint32_t length = table.U32BE();
                if (start > data.size() || length > data.size() - start)
                    FailTruncated();
                DecodeRow(data.subspan(start, length), bpc, row.data(), xsize);
            }
            if (keep && z < keptChannels) {
                std::uint16_t* k = plane.U16() + std::size_t{ysize - 1u - y} * xsize * keptChannels + z;
                for (std::size_t x = 0; x < xsize; ++x, k += keptChannels)
                    *k = row[x];
            }
            std::uint32_t* dst = bmp.ScanLine(static_cast<std::int32_t>(ysize - 1 - y));
            for (std::size_t x = 0; x < xsize; ++x) {
                const std::uint32_t v = bpc == 1 ? row[x] : Scale16(row[x]);
                std::uint32_t& c = dst[x];
                switch (channels * 4 + z) {
                case 4: // grey
                    c = Opaque(v, v, v);
                    break;
                case 8: // grey of grey and alpha
                    c = (c & 0xFF000000u) | (v << 16) | (v << 8) | v;
                    break;
                case 9: // alpha of grey and alpha
                case 19: // alpha of RGBA
                    c = (c & 0x00FFFFFFu) | (v << 24);
                    break;
                case 12: // red
                    c = 0xFF000000u | (v << 16);
                    break;
                case 16:
                    c = (c & 0xFF000000u) | (v << 16);
                    break;
                case 13: // green
                case 17:
                    c |= v << 8;
                    break;
                case 14: // blue
                case 18:
                    c |= v;
                    break;
                default:
                    break;
                }
            }
        }
    }
    if (keep)
        extras->Linear.Swap(plane);
    out.Swap(bmp);
}

} // namespace vinsk::formats
