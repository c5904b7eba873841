#include "drive/DriveOutliers.h"

#include <algorithm>
#include <cmath>

#include "common/MathFaults.h"
#include "drive/DriveStage.h"
#include "numeric/Median.h"

namespace vinsk::drive {

std::string NotTheStarMessage(long double fraction)
{
    return "Too much of the trail (" + Percent(fraction) +
           ") is covered by light that is not the star: take a dark frame, or check for a streak across the trail";
}

TOutliers RepairOutliers(TPhotometry& light)
{
    TOutliers out;
    std::vector<long double>& b = light.Light;
    const std::size_t steps = b.size(), h = OutlierHalfWindow;
    // The body of the trail, where the light stays above half its typical
    // level; only steps whose whole window lies in it are judged, as a
    // window over an end of the trail has the end's edge for its median.
    const std::vector<long double> smooth = RunningMean(b, 2);
    std::size_t first = 0, last = steps;
    while (first < steps && smooth[first] < 0.5L * light.Typical)
        ++first;
    while (last > first && smooth[last - 1] < 0.5L * light.Typical)
        --last;
    if (last < first + 2 * h + 2)
        return out;
    std::vector<long double> diff;
    for (std::size_t k = first; k + 1 < last; ++k)
        diff.push_back(b[k + 1] - b[k]);
    const long double centre = Median(diff);
    for (long double& d : diff)
        d = fabsl(d - centre);
    const long double sigma = 1.4826L * Median(diff) / sqrtl(2.0L);
    if (!(sigma > 0))
        return out; // no noise to judge against
    std::vector<long double> excess(steps, 0), window(2 * h + 1);
    for (std::size_t k = first + h; k + h < last; ++k) {
        std::copy(b.begin() + static_cast<std::ptrdiff_t>(k - h), b.begin() + static_cast<std::ptrdiff_t>(k + h + 1),
                  window.begin());
        excess[k] = (b[k] - Median(window)) / sigma;
        out.LargestExcess = std::max(out.LargestExcess, static_cast<double>(excess[k]));
    }
    std::vector<char> repair(steps, 0);
    bool any = false;
    for (std::size_t k = 0; k < steps; ++k)
        if (excess[k] > OutlierSigmas) {
            repair[k] = 1;
            any = true;
        }
    if (!any)
        return out;
    // The edges of each run, while they stand out.
    for (std::size_t k = 0; k < steps; ++k)
        if (repair[k] == 1) {
            for (std::size_t j = k; j > 0 && !repair[j - 1] && excess[j - 1] > OutlierEdgeSigmas; --j)
                repair[j - 1] = 2;
            for (std::size_t j = k; j + 1 < steps && !repair[j + 1] && excess[j + 1] > OutlierEdgeSigmas; ++j)
                repair[j + 1] = 2;
        }
    // A run this long, its edges counted, is a streak along the trail.
    std::size_t run = 0;
    for (std::size_t k = 0; k < steps; ++k) {
        run = repair[k] ? run + 1 : 0;
        if (run > LongestOutlierRun) {
            out.Refusal = NotTheStarMessage(static_cast<long double>(run) / light.CoreSteps + light.SaturatedFraction +
                                            light.OutsideFraction);
            return out;
        }
    }
    std::size_t inCore = 0;
    for (std::size_t k = 0; k < steps; ++k)
        if (repair[k] && !light.Bad[k]) {
            out.Steps.push_back(k);
            if (k >= light.CoreFirst && k < light.CoreFirst + light.CoreSteps)
                ++inCore;
        }
    const long double covered =
        static_cast<long double>(inCore) / light.CoreSteps + light.SaturatedFraction + light.OutsideFraction;
    if (covered > 0.02L) {
        out.Refusal = NotTheStarMessage(covered);
        out.Steps.clear();
        return out;
    }
    for (std::size_t k : out.Steps)
        light.Bad[k] = 1;
    BridgeBadSteps(b, light.Bad);
    return out;
}

void NoteRepairs(const TOutliers& outliers, TDriveResult& r)
{
    r.PixelsRead = true;
    for (std::size_t k : outliers.Steps)
        r.Repaired.push_back(r.Time[k]);
    const std::size_t n = outliers.Steps.size();
    if (n > 0)
        r.Notes.insert(r.Notes.begin(), std::to_string(n) + (n == 1 ? " step" : " steps") +
                                            " repaired (cosmic rays, hot pixels or a streak)");
}

} // namespace vinsk::drive
