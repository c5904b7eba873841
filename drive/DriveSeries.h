// The second stage: the time of each step from its share of the light, the
// error from the angles walked against the mount's nominal rate, and the
// steps the statistics use (the ends left out).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DrivePhotometry.h"

namespace vinsk::drive {

// The trimmed steps' time and error (with the drift still in it).
struct TSeries {
    TRefusal Refusal; // when refused, nothing is valid
    std::vector<double> T, PE;
};

// Fills r's photometry, time and error of every step, the trimming and the
// record's length, and a note when the light per arc second changes along
// the trail (vignetting without a flat, or in time with one).
TSeries MakeSeries(const TPhotometry& light, const TExperiment& e, TDriveResult& r, bool flatApplied = false);

// A quadratic through the light per arc second of the steps first .. last,
// in x = (k - Mid) / Half; Change is how much it changes along them,
// (max - min) / mean, 0 when it cannot tell.
struct TLightTrend {
    long double Change = 0, Mean = 0, Mid = 0, Half = 1;
    std::array<long double, 3> P{};
    long double At(std::size_t k) const
    {
        const long double x = (k - Mid) / Half;
        return P[0] + P[1] * x + P[2] * x * x;
    }
};
TLightTrend LightTrend(const std::vector<long double>& light, const std::vector<long double>& alpha,
                       std::size_t first, std::size_t last);

} // namespace vinsk::drive
