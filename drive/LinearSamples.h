// The drive analysis reading a picture's linear samples instead of its 8-bit
// raster.
#pragma once

#include "drive/DriveAnalysis.h"
#include "linear/LinearPlane.h"

namespace vinsk {

// Grey samples serve every channel. A sample at or above the plane's
// saturation level marks the value saturated.
class TLinearSamples final : public IDriveSamples {
public:
    explicit TLinearSamples(const TLinearPlane& plane) : FPlane(plane) {}
    std::int32_t Width() const override { return FPlane.Width(); }
    std::int32_t Height() const override { return FPlane.Height(); }
    double Value(std::int32_t x, std::int32_t y, TDriveChannel c, bool& saturated) const override;

private:
    const TLinearPlane& FPlane;
};

// The analysis of a picture: its linear samples when it has them, else the
// raster. The window and the command line choose the same way.
TDriveResult AnalysePicture(const TBitmap32& bitmap, const TLinearPlane& linear, const TDriveInput& input);

} // namespace vinsk
