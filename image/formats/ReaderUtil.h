// Bounds-checked byte access and raster helpers shared by the readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/formats/Decoders.h"

namespace vinsk::formats {

[[noreturn]] void Fail(const std::string& problem);
[[noreturn]] void FailTruncated();

// Sequential reader over the file image; any read past the end fails with
// "the file is truncated", so no reader indexes outside the buffer.
class TByteReader {
public:
    explicit TByteReader(TBytes data, std::size_t pos = 0) : FData(data), FPos(0) { Seek(pos); }

    std::size_t Pos() const { return FPos; }
    std::size_t Size() const { return FData.size(); }
    std::size_t Remaining() const { return FData.size() - FPos; }
    bool AtEnd() const { return FPos >= FData.size(); }

    void Seek(std::size_t pos)
    {
        if (pos > FData.size())
            FailTruncated();
        FPos = pos;
    }
    void Skip(std::size_t n)
    {
        Need(n);
        FPos += n;
    }
    TBytes Take(std::size_t n)
    {
        Need(n);
        TBytes s = FData.subspan(FPos, n);
        FPos += n;
        return s;
    }

    std::uint8_t U8()
    {
        Need(1);
        return FData[FPos++];
    }
    std::uint16_t U16LE()
    {
        Need(2);
        const std::uint16_t v = static_cast<std::uint16_t>(FData[FPos] | (FData[FPos + 1] << 8));
        FPos += 2;
        return v;
    }
    std::uint16_t U16BE()
    {
        Need(2);
        const std::uint16_t v = static_cast<std::uint16_t>((FData[FPos] << 8) | FData[FPos + 1]);
        FPos += 2;
        return v;
    }
    std::uint32_t U32LE()
    {
        Need(4);
        const std::uint32_t v = static_cast<std::uint32_t>(FData[FPos]) | (static_cast<std::uint32_t>(FData[FPos + 1]) << 8) |
                                (static_cast<std::uint32_t>(FData[FPos + 2]) << 16) |
                                (static_cast<std::uint32_t>(FData[FPos + 3]) << 24);
        FPos += 4;
        return v;
    }
    std::uint32_t U32BE()
    {
        Need(4);
        const std::uint32_t v = (static_cast<std::uint32_t>(FData[FPos]) << 24) |
                                (static_cast<std::uint32_t>(FData[FPos + 1]) << 16) |
                                (static_cast<std::uint32_t>(FData[FPos + 2]) << 8) | static_cast<std::uint32_t>(FData[FPos + 3]);
        FPos += 4;
        return v;
    }
    std::int16_t I16BE() { return static_cast<std::int16_t>(U16BE()); }
    std::int32_t I32LE() { return static_cast<std::int32_t>(U32LE()); }

private:
    void Need(std::size_t n) const
    {
        if (n > FData.size() - FPos)
            FailTruncated();
    }

    TBytes FData;
    std::size_t FPos;
};

// Refuses a declared size that has no pixels or is above the limits, before
// anything is allocated.
void CheckRasterSize(std::int64_t width, std::int64_t height, const TDecodeLimits& limits);

// Refuses a decode whose working memory, `bytesPerPixel` for every pixel
// besides the 32-bit raster, would take the whole above the raster limit
// by more than `margin`.
void CheckWorkingMemory(std::int64_t width, std::int64_t height, std::uint64_t bytesPerPixel, std::uint64_t margin,
                        const TDecodeLimits& limits);

// The same for a raster with a linear plane of planeBytesPerPixel beside it
// and the decoder's own buffers of `working` bytes, all within the budget
// beside what the limits say is held.
void CheckPictureSize(std::int64_t width, std::int64_t height, std::uint64_t planeBytesPerPixel,
                      const TDecodeLimits& limits, std::uint64_t working = 0);

// Refuses a decode of `bytes` (of a picture of width x height) that would
// take what is held above the budget by more than `margin`: the limits'
// Together words when a picture is held, else the declared size.
void CheckBudget(std::uint64_t bytes, std::uint64_t margin, std::int64_t width, std::int64_t height,
                 const TDecodeLimits& limits);

// Sizes the plane after CheckPictureSize has passed; a failed allocation
// becomes the readers' "not enough memory".
void AllocatePlane16(TLinearPlane& plane, std::int64_t width, std::int64_t height, int channels, int sourceBits);
void AllocatePlaneFloat(TLinearPlane& plane, std::int64_t width, std::int64_t height, int channels, int sourceBits);

// CheckRasterSize, then sizes `bmp` (every pixel 0).
void AllocateRaster(TBitmap32& bmp, std::int64_t width, std::int64_t height, const TDecodeLimits& limits);

// v in 0..maxValue to 0..255, rounded to nearest (halves up).
inline std::uint32_t ScaleToByte(std::uint32_t v, std::uint32_t maxValue)
{
    if (v >= maxValue)
        return 255;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(v) * 255 + maxValue / 2) / maxValue);
}

// ScaleToByte(v, 65535) without the wide division: 65535 = 255 x 257, so
// (255 v + 32767) / 65535 = (v + 128.498...) / 257, whose floor is that of
// (v + 128) / 257 for whole v.
inline std::uint32_t Scale16(std::uint32_t v) { return v >= 65535 ? 255 : (v + 128) / 257; }

inline std::uint32_t Opaque(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return Color32(255, r, g, b); }

} // namespace vinsk::formats
