// Light that is not the star: a cosmic-ray hit, a hot pixel or a satellite
// crossing adds light to a few steps, and as the time of a step is the sum of
// the light before it, each would leave a lasting jump in the error. Such
// steps are found here, between the photometry and the time series; the
// photometry then bridges them as it bridges saturated steps.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

// Standing above the baseline by more than this many sigma marks a step.
// Clean trails reach 6.2 sigma at most (rendered at 8 and 16 bits, rings,
// worms of up to four cycles on a short trail): half as much again.
inline constexpr long double OutlierSigmas = 9;
// A longer run of marked steps is a streak along the trail, which cannot be
// bridged.
inline constexpr std::size_t LongestBridgedRun = 15;

struct TOutliers {
    std::vector<std::size_t> Steps; // marked steps, ascending
    std::size_t LongestRun = 0;     // consecutive marked or bad steps, at least one marked
};

// Steps of `light` standing above a baseline that follows the light's
// curvature: a quadratic over +-10 steps fitted without the marked steps,
// started from a wide running median. Only steps at least 2 FWHM + 2 inside
// the points where the light reaches half of `typical` are looked at; steps
// whose `bad` is set have no light of their own and are left out.
TOutliers FindOutliers(const std::vector<long double>& light, const std::vector<char>& bad, long double typical,
                       long double fwhm);

} // namespace vinsk::drive
