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
    TRefusal Refusal;               // when refused, nothing below is valid
    std::vector<long double> Light; // per step: summed across the trail, background removed
    std::vector<long double> Alpha; // per step: the angle it subtends, arc seconds
    long double Typical = 0;        // the median light across the trail from START to STOP
    long double Fwhm = 0;           // measured across the trail, px
    double HalfWidth = 0;           // px each side of the crest, the outer samples at its fraction
    double SaturatedFraction = 0, OutsideFraction = 0; // of the steps from START to STOP
    long double Width = 0;          // the mean cross-section's second-moment width, widest stretch, px
    int Crests = 1;                 // maxima of the mean cross-section: 2 for a defocused ring
    long double RingRadius = 0;     // px, half the distance of the two crests; 0 for one
    std::vector<std::size_t> Repaired; // steps whose light was not the star's, bridged
};

TPhotometry MeasureLight(const TSampleSource& samples, const TDriveInput& in);

// Centred running mean over +-h entries (fewer at the ends).
std::vector<long double> RunningMean(const std::vector<long double>& v, std::size_t h);

} // namespace vinsk::drive
