#include "image/FrameCalibration.h"

#include <new>

#include "linear/PlaneCalibration.h"

namespace vinsk {

namespace {

// Raster and float plane together stay within what a loaded picture may
// take (the readers' limit).
constexpr std::uint64_t MaxPictureBytes = 2ull << 30;

using TRasterStep = void (*)(TImageState&, const TBitmap32&, TStatusPanels&);
using TPlaneStep = void (*)(TLinearPlane&, const TLinearPlane&);

void ApplyFrame(TImageState& s, const TBitmap32& frame, const TLinearPlane& framePlane, TStatusPanels& status,
                const char* frameName, TRasterStep raster, TPlaneStep plane)
{
    std::string drop;
    if (!s.Linear.Empty()) {
        drop = PlaneMismatch(s.Linear, framePlane, frameName);
        const std::uint64_t floatBytes = s.Linear.SampleCount() * 4u;
        const std::uint64_t rasterBytes = static_cast<std::uint64_t>(s.Bitmap.Width()) * s.Bitmap.Height() * 4u;
        if (drop.empty() && rasterBytes + floatBytes > MaxPictureBytes)
            drop = "in floating point they would need more than 2 GiB with the raster";
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
