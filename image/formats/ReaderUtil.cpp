#include "image/formats/ReaderUtil.h"

#include <new>

namespace vinsk::formats {

void Fail(const std::string& problem) { throw EPictureError(problem); }

void FailTruncated() { Fail("the file is truncated"); }

namespace {

std::string SizeText(std::int64_t width, std::int64_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string BytesText(std::uint64_t bytes)
{
    if (bytes >= (1ull << 30) && bytes % (1ull << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes >= (1ull << 20) && bytes % (1ull << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

void CheckRasterSize(std::int64_t width, std::int64_t height, const TDecodeLimits& limits)
{
    if (width <= 0 || height <= 0)
        Fail("the declared size " + SizeText(width, height) + " has no pixels");
    if (width > limits.MaxSide || height > limits.MaxSide)
        Fail("the declared size " + SizeText(width, height) + " is above the limit of " +
             SizeText(limits.MaxSide, limits.MaxSide) + " pixels");
    // Both sides are at most MaxSide here, so the product cannot overflow.
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4u;
    if (bytes > limits.MaxBytes)
        Fail("the declared size " + SizeText(width, height) + " needs more than " + BytesText(limits.MaxBytes) +
             " of memory");
}

void CheckWorkingMemory(std::int64_t width, std::int64_t height, std::uint64_t bytesPerPixel, std::uint64_t margin,
                        const TDecodeLimits& limits)
{
    CheckRasterSize(width, height, limits);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels * (bytesPerPixel + 4) > limits.MaxBytes + margin)
        Fail("the declared size " + SizeText(width, height) + " needs more than " + BytesText(limits.MaxBytes) +
             " of memory");
}

void AllocateRaster(TBitmap32& bmp, std::int64_t width, std::int64_t height, const TDecodeLimits& limits)
{
    CheckRasterSize(width, height, limits);
    try {
        bmp.SetSize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    } catch (const std::bad_alloc&) {
        Fail("not enough memory for " + SizeText(width, height) + " pixels");
    }
}

} // namespace vinsk::formats
