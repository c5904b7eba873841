#include "analysis/Sampling.h"

#include <cmath>

#include "common/MathFaults.h"

namespace vinsk {

void SampleTrail(TTrailState& trail, const TCheckPointEdits& edits, double exposureTime,
                 const TBitmap32& bitmap, TStatusPanels& status)
{
    FitTrailCircle(trail, edits);
    const TTrailWalk walk(trail);
    if (walk.Empty())
        return;
    const auto n = static_cast<std::size_t>(walk.N());
    trail.GraphX.resize(n);
    trail.TrailPos.resize(n);
    trail.GraphY.resize(n);
    trail.ChannelSamples.resize(n);
    if (walk.D() == 0)
        throw EInvalidOp();
    const double step = StoreD(std::fabs(FDiv(exposureTime, static_cast<long double>(walk.D()))));
    walk.ForEach([&](std::int64_t k, const TWalkPosition& p) {
        const PixelValue v = PixelReadout(bitmap, p.X, p.Y, status);
        const auto i = static_cast<std::size_t>(k);
        trail.GraphX[i] = StoreD(static_cast<long double>(k) * step);
        trail.TrailPos[i] = p.C;
        trail.ChannelSamples[i] = v;
        trail.GraphY[i] = StoreD(static_cast<long double>(v.R + v.G + v.B) / 3.0L);
    });
}

std::vector<double> BrightnessSeries(const TTrailState& trail, int channel)
{
    std::vector<double> y(trail.GraphX.size(), 0.0);
    const auto& samples = trail.ChannelSamples;
    for (std::size_t k = 0; k < y.size(); ++k) {
        switch (channel) {
        case ChannelR:
            y[k] = k < samples.size() ? samples[k].R : 0;
            break;
        case ChannelG:
            y[k] = k < samples.size() ? samples[k].G : 0;
            break;
        case ChannelB:
            y[k] = k < samples.size() ? samples[k].B : 0;
            break;
        default:
            y[k] = k < trail.GraphY.size() ? trail.GraphY[k] : 0;
            break;
        }
    }
    return y;
}

} // namespace vinsk
