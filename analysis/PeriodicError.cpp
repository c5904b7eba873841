#include "analysis/PeriodicError.h"

#include <cmath>
#include <cstdlib>

#include "analysis/Statistics.h"
#include "common/MathFaults.h"
#include "common/NumText.h"

namespace vinsk {

double StepAngle(TIntPoint start, TIntPoint stop, const TExperiment& experiment)
{
    const double dx = std::fabs(static_cast<double>(static_cast<std::int64_t>(stop.X) - start.X));
    const double dy = std::fabs(static_cast<double>(static_cast<std::int64_t>(stop.Y) - start.Y));
    double p;
    if (dx == 0)
        p = experiment.PixelHeight;
    else if (dy == 0)
        p = experiment.PixelWidth;
    else
        p = StoreD(FDiv(experiment.PixelWidth, std::cos(std::atan(FDiv(dy, dx)))));
    const double alpha = StoreD(std::atan(FDiv(p, experiment.FocalLength)) * ArcSecondsPerRadian);
    return alpha < 1.0 ? 1.0 : alpha;
}

std::optional<std::string> BrightnessToPE(std::vector<double>& y, const TTrailState& trail,
                                          const TExperiment& experiment, TStatusPanels& status, char decimalSep)
{
    double m = ArrayMean(y);
    const double alpha = StepAngle(trail.StartPoint, trail.StopPoint, experiment);
    if (m == 0)
        m = 0.0001;
    const long double a = alpha;
    const long double speed = experiment.MountSpeed;
    for (double& v : y) {
        const double b = v == 0 ? 0.0001 : v;
        if (b > m)
            v = StoreD((FDiv(b, m) - 1) * a * speed);
        else
            v = StoreD(-(FDiv(m, b) - 1) * a * speed);
    }
    return PostMeasurementError(y, status, decimalSep);
}

std::optional<std::string> PostMeasurementError(const std::vector<double>& pe, TStatusPanels& status,
                                                char decimalSep)
{
    const double e = StoreD(static_cast<long double>(ArrayMean(pe)) * 100);
    if (std::fabs(e) <= 0.1L)
        return std::nullopt;
    const long double shown = std::fabs(static_cast<long double>(Round(static_cast<long double>(e) * 10)) / 10);
    status.Panels[PanelPrompt] = "Measurement error: +/-" + FloatText(shown, decimalSep) + "%";
    return status.Panels[PanelPrompt];
}

} // namespace vinsk
