// The drive analysis's first stage: the trail's light along the arc through
// the check points, step by step of one pixel of arc length, over the whole
// trail (its end caps included), and the angle each step subtends.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

struct TPhotometry {
    std::string Refusal; // when not empty, nothing below is valid
    std::vector<long double> Light; // per step: summed across the trail, background removed
    std::vector<long double> Alpha; // per step: the angle it subtends, arc seconds
    long double Typical = 0;        // the median light across the trail from START to STOP
    long double Fwhm = 0;           // measured across the trail, px
    int HalfWidth = 0;              // whole-pixel samples each side of the crest
    double SaturatedFraction = 0, OutsideFraction = 0; // of the steps from START to STOP
};

TPhotometry MeasureLight(const TSampleSource& samples, const TDriveInput& in);

// Centred running mean over +-h entries (fewer at the ends).
std::vector<long double> RunningMean(const std::vector<long double>& v, std::size_t h);

} // namespace vinsk::drive
