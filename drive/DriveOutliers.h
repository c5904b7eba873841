// The stage between the photometry and the series: light that is not the
// star's. The error at a step sums the light of every step before it, so one
// step with extra light (a cosmic-ray hit, a hot pixel left without a dark
// frame, a satellite crossing the trail) leaves a jump in the error for the
// rest of the trail. Such steps take their neighbours' light instead.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DrivePhotometry.h"

namespace vinsk::drive {

// A step stands out when its light exceeds the median of the 31 steps
// centred on it by more than OutlierSigmas times the noise of one step's
// light (from the median absolute deviation of the step-to-step
// differences). The smallest whole value at which no clean rendered trail
// of the drive tests, 8 or 16 bits, has a step repaired: the largest excess
// was 5.6 on the accuracy trails (a steep 8-bit one), 7.2 on a 20 s worm of
// 4" whose light curves within the 31 steps, which the median does not
// follow.
inline constexpr long double OutlierSigmas = 8;
inline constexpr std::size_t OutlierHalfWindow = 15;
// Its neighbours go with it while they stand this far out: a hit spread over
// the steps it touches.
inline constexpr long double OutlierEdgeSigmas = 3;
// A longer run, its edges counted, is light along the trail (a streak the
// median follows), not a hit: it cannot be repaired.
inline constexpr std::size_t LongestOutlierRun = 15;

struct TOutliers {
    std::string Refusal;             // when not empty, nothing is valid
    std::vector<std::size_t> Steps;  // the repaired steps, ascending
    double LargestExcess = 0;        // the largest excess of a step over its median, in noise units
};

// Finds the steps and bridges their light as the photometry bridges a
// saturated step's; refuses when a run is longer than LongestOutlierRun or
// when repaired, saturated and outside steps together exceed 2 % of the
// steps from START to STOP. A trail with nothing to repair is left as it is.
TOutliers RepairOutliers(TPhotometry& light);

// After the series: r's RepairedSteps, Repaired (the steps' times) and the
// note saying how many were repaired.
void NoteRepairs(const TOutliers& outliers, TDriveResult& r);

// "Too much of the trail (4 %) is covered by light that is not the star: ..."
std::string NotTheStarMessage(long double fraction);

} // namespace vinsk::drive
