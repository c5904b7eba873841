// Photoshop documents (psd, pdd): the merged image, raw or PackBits, RGB or
// grey, 8 or 16 bits per channel.
#include <algorithm>
#include <vector>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

enum : std::uint16_t { ModeGrey = 1, ModeRgb = 3 };

// Unpacks one PackBits row; it must give exactly dst.size() bytes.
void UnpackBits(TBytes src, std::vector<std::uint8_t>& dst)
{
    TByteReader r(src);
    std::size_t i = 0;
    while (i < dst.size()) {
        const auto n = static_cast<std::int8_t>(r.U8());
        if (n == -128)
            continue;
        const std::size_t count = n >= 0 ? static_cast<std::size_t>(n) + 1 : static_cast<std::size_t>(1 - n);
        if (count > dst.size() - i)
            Fail("a packed row is longer than the picture's width");
        if (n >= 0) {
            TBytes run = r.Take(count);
            std::copy(run.begin(), run.end(), dst.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            std::fill_n(dst.begin() + static_cast<std::ptrdiff_t>(i), count, r.U8());
        }
        i += count;
    }
}

} // namespace

void DecodePsd(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodePsd(data, out, nullptr, limits); }

void DecodePsd(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TByteReader r(data);
    const std::uint32_t signature = r.U32BE();
    const std::uint16_t version = r.U16BE();
    r.Skip(6);
    const std::uint16_t channels = r.U16BE();
    const std::uint32_t height = r.U32BE();
    const std::uint32_t width = r.U32BE();
    const std::uint16_t depth = r.U16BE();
    const std::uint16_t mode = r.U16BE();

    if (signature != 0x38425053u) // "8BPS"
        Fail("not a Photoshop document (no 8BPS signature)");
    if (version != 1)
        Fail("Photoshop document version " + std::to_string(version) + " is not supported");
    if (mode != ModeGrey && mode != ModeRgb)
        Fail("Photoshop colour mode " + std::to_string(mode) + " is not supported");
    if (depth != 8 && depth != 16)
        Fail("Photoshop depth of " + std::to_string(depth) + " bits is not supported");
    const unsigned base = mode == ModeRgb ? 3 : 1;
    if (channels < base || channels > 56)
        Fail("a Photoshop document with " + std::to_string(channels) + " channels is not supported");
    // 16-bit grey or colour samples are also kept as they are.
    const bool keep = extras != nullptr && depth == 16;
    CheckPictureSize(width, height, keep ? base * 2u : 0u, limits);

    r.Skip(r.U32BE()); // colour mode data
    r.Skip(r.U32BE()); // image resources
    const std::uint32_t layerLength = r.U32BE();
    TByteReader layers(r.Take(layerLength));
    // A negative layer count says the first extra channel is the merged
    // image's transparency; other extra channels are saved selections.
    bool mergedAlpha = false;
    if (layers.Remaining() >= 6) {
        const std::uint32_t layerInfoLength = layers.U32BE();
        if (layerInfoLength >= 2)
            mergedAlpha = layers.I16BE() < 0;
    }
    const unsigned used = base + ((mergedAlpha && channels > base) ? 1 : 0);

    const std::uint16_t compression = r.U16BE();
    if (compression > 1)
        Fail("ZIP compressed Photoshop documents are not supported");
    const unsigned sampleBytes = depth / 8;
    const std::uint64_t rowBytes = std::uint64_t{width} * sampleBytes;
    const std::uint64_t planeRows = std::uint64_t{channels} * height;

    // Where each row of the used channels starts and how long it is.
    std::vector<std::uint64_t> rowStart;
    std::vector<std::uint32_t> rowLength;
    // Every channel's data must be there, also those that are not shown.
    if (compression == 0) {
        if (rowBytes * planeRows > r.Remaining())
            FailTruncated();
    } else {
        if (planeRows * 2 > r.Remaining())
            FailTruncated();
        TByteReader counts(r.Take(planeRows * 2));
        const std::uint64_t usedRows = std::uint64_t{used} * height;
        rowStart.reserve(usedRows);
        rowLength.reserve(usedRows);
        std::uint64_t pos = r.Pos();
        const std::uint64_t minLength = (rowBytes + 127) / 128 * 2;
        for (std::uint64_t i = 0; i < planeRows; ++i) {
            const std::uint16_t n = counts.U16BE();
            // A shorter row cannot unpack to the full width.
            if (n < minLength)
                Fail("a packed row is shorter than the picture's width");
            if (n > data.size() - pos)
                FailTruncated();
            if (i < usedRows) {
                rowStart.push_back(pos);
                rowLength.push_back(n);
            }
            pos += n;
        }
    }

    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);
    TLinearPlane plane;
    if (keep)
        AllocatePlane16(plane, width, height, static_cast<int>(base), 16);
    std::vector<std::uint8_t> row(rowBytes);
    const std::size_t dataStart = r.Pos();
    for (unsigned c = 0; c < used; ++c) {
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint64_t index = std::uint64_t{c} * height + y;
            if (compression == 0) {
                TBytes raw = data.subspan(dataStart + index * rowBytes, rowBytes);
                std::copy(raw.begin(), raw.end(), row.begin());
            } else {
                UnpackBits(data.subspan(rowStart[index], rowLength[index]), row);
            }
            if (keep && c < base) {
                std::uint16_t* k = plane.U16() + std::size_t{y} * width * base + c;
                for (std::uint32_t x = 0; x < width; ++x, k += base)
                    *k = static_cast<std::uint16_t>((row[2 * x] << 8) | row[2 * x + 1]);
            }
            std::uint32_t* dst = bmp.ScanLine(static_cast<std::int32_t>(y));
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t v = sampleBytes == 1 ? row[x] : Scale16((row[2 * x] << 8) | row[2 * x + 1]);
                std::uint32_t& px = dst[x];
                if (c == 0)
                    px = used == base ? 0xFF000000u : 0; // alpha comes later when present
                if (c == base) {
                    px |= v << 24;
                } else if (base == 1) {
                    px |= (v << 16) | (v << 8) | v;
                } else {
                    px |= v << (16 - 8 * c);
                }
            }
        }
    }
    if (keep)
        extras->Linear.Swap(plane);
    out.Swap(bmp);
}

} // namespace vinsk::formats
