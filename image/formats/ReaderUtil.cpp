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

} // namespace

void CheckRasterSize(std::int64_t width, std::int64_t height, const TDecodeLimits& limits)
{
    CheckPictureSize(width, height, 0, limits);
}

void CheckPictureSize(std::int64_t width, std::int64_t height, std::uint64_t planeBytesPerPixel,
                      const TDecodeLimits& limits, std::uint64_t working)
{
    if (width <= 0 || height <= 0)
        Fail("the declared size " + SizeText(width, height) + " has no pixels");
    if (width > limits.MaxSide || height > limits.MaxSide)
        Fail("the declared size " + SizeText(width, height) + " is above the limit of " +
             SizeText(limits.MaxSide, limits.MaxSide) + " pixels");
    // Both sides are at most MaxSide here, so the product cannot overflow.
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * (4u + planeBytesPerPixel);
    CheckBudget(bytes + working, 0, width, height, limits);
}

void CheckBudget(std::uint64_t bytes, std::uint64_t margin, std::int64_t width, std::int64_t height,
                 const TDecodeLimits& limits)
{
    if (bytes + limits.Held <= limits.Budget + margin)
        return;
    if (!limits.Together.empty())
        throw EPictureNoRoom(limits.Together + " need " + NeedText(bytes + limits.Held) + "; the limit is " +
                             LimitText(limits.Budget));
    Fail("the declared size " + SizeText(width, height) + " needs more than " + LimitText(limits.Budget) +
         " of memory");
}

void CheckWorkingMemory(std::int64_t width, std::int64_t height, std::uint64_t bytesPerPixel, std::uint64_t margin,
                        const TDecodeLimits& limits)
{
    CheckRasterSize(width, height, limits);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    CheckBudget(pixels * (bytesPerPixel + 4), margin, width, height, limits);
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

namespace vinsk::formats {

void AllocatePlane16(TLinearPlane& plane, std::int64_t width, std::int64_t height, int channels, int sourceBits)
{
    try {
        plane.Allocate16(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), channels, sourceBits);
    } catch (const std::bad_alloc&) {
        Fail("not enough memory for the samples of " + SizeText(width, height) + " pixels");
    }
}

void AllocatePlaneFloat(TLinearPlane& plane, std::int64_t width, std::int64_t height, int channels, int sourceBits)
{
    try {
        plane.AllocateFloat(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), channels, sourceBits);
    } catch (const std::bad_alloc&) {
        Fail("not enough memory for the samples of " + SizeText(width, height) + " pixels");
    }
}

} // namespace vinsk::formats
