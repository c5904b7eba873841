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
    // Per step: 1 when the increment into it carries a repaired step's
    // bridged light; empty when no step was repaired.
    std::vector<unsigned char> Bridged;
    // The bend of the error (its tau^2 coefficient over the record, arc
    // seconds) that the light's steady change along the trail would make:
    // light falling by a fraction d over the exposure T runs the time scale
    // unevenly by (d / 2T) t^2, which the error reads times the mount speed.
    long double LightBend = 0;
};

// Fills r's photometry, time and error of every step, the trimming and the
// record's length, and a note when the light per arc second changes along
// the trail (vignetting without a flat, or in time with one).
// The change of the light along the trail above which it is named, and a
// bend of the error may be taken for it.
constexpr long double LightChangeNoted = 0.03L;

// Whether a fitted bend (tau^2 coefficient) is the one the light's change
// would make: of its sign, and within a factor of two of its size.
inline bool BendOfTheLight(long double fitted, long double lightBend)
{
    return lightBend != 0 && fitted / lightBend >= 0.5L && fitted / lightBend <= 2;
}

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
