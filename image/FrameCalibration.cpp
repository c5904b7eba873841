#include "image/FrameCalibration.h"

#include <new>

#include "linear/PlaneCalibration.h"

namespace vinsk {

namespace {

using TRasterStep = void (*)(TImageState&, const TBitmap32&, TStatusPanels&);
using TPlaneStep = void (*)(TLinearPlane&, const TLinearPlane&);

void ApplyFrame(TImageState& s, const TBitmap32& frame, const TLinearPlane& framePlane, TStatusPanels& status,
                const char* frameName, TRasterStep raster, TPlaneStep plane)
{
    std::string drop;
    if (!s.Linear.Empty()) {
        drop = PlaneMismatch(s.Linear, framePlane, frameName);
        // The samples become floating point beside their 16-bit selves, the
        // raster and the frame: all within the one budget.
        const std::uint64_t floatBytes = s.Linear.IsFloat() ? 0 : s.Linear.SampleCount() * 4u;
        const std::uint64_t frameBytes = RasterBytes(frame) + framePlane.Bytes();
        if (drop.empty() && HeldForFrame(s, frameName).Bytes + floatBytes + frameBytes > MemoryBudget)
            drop = "in floating point they would need more than " + LimitText(MemoryBudget) +
                   " with the raster and the " + frameName + " frame";
    }
    // The raster step refuses before changing anything; the plane is
    // touched only after it succeeded.
    raster(s, frame, status);
    if (s.Linear.Empty())
        return;
    if (drop.empty()) {
        try {
            plane(s.Linear, framePlane);
            return;
        } catch (const std::bad_alloc&) {
            drop = "not enough memory to hold them in floating point";
        }
    }
    s.Linear.Release();
    status.Linear = "Linear samples dropped: " + drop;
}

} // namespace

std::uint64_t RasterBytes(const TBitmap32& b) { return static_cast<std::uint64_t>(b.Width()) * b.Height() * 4u; }

TMemoryHeld HeldForFrame(const TImageState& s, const char* frameName)
{
    return {RasterBytes(s.Bitmap) + s.Linear.Bytes(), std::string("The picture and the ") + frameName + " frame together"};
}

void ApplyDarkFrame(TImageState& s, const TBitmap32& dark, const TLinearPlane& darkPlane, TStatusPanels& status)
{
    ApplyFrame(s, dark, darkPlane, status, "dark", ApplyDark, SubtractDarkPlane);
}

void ApplyFlatFrame(TImageState& s, const TBitmap32& flat, const TLinearPlane& flatPlane, TStatusPanels& status)
{
    ApplyFrame(s, flat, flatPlane, status, "flat", ApplyFlat, DivideFlatPlane);
}

std::string LinearPlaneNote(const TLinearPlane& plane)
{
    if (plane.Empty())
        return {};
    return "Linear samples: " + DepthText(plane.SourceBits());
}

} // namespace vinsk
