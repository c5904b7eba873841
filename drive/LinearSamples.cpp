#include "drive/LinearSamples.h"

namespace vinsk {

double TLinearSamples::Value(std::int32_t x, std::int32_t y, TDriveChannel c, bool& saturated) const
{
    const float level = FPlane.SaturationLevel();
    auto read = [&](int channel) {
        const float v = FPlane.Sample(x, y, FPlane.Channels() == 1 ? 0 : channel);
        saturated = saturated || v >= level;
        return static_cast<double>(v);
    };
    switch (c) {
    case TDriveChannel::Red:
        return read(0);
    case TDriveChannel::Green:
        return read(1);
    case TDriveChannel::Blue:
        return read(2);
    case TDriveChannel::Avg:
        break;
    }
    if (FPlane.Channels() == 1)
        return read(0);
    const double r = read(0), g = read(1), b = read(2);
    return (r + g + b) / 3.0;
}

TDriveResult AnalysePicture(const TBitmap32& bitmap, const TLinearPlane& linear, const TDriveInput& input)
{
    if (!linear.Empty())
        return AnalyseDrive(TLinearSamples(linear), input);
    return AnalyseDrive(TRasterSamples(bitmap), input);
}

} // namespace vinsk
