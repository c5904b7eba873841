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
    std::vector<char> Bad;          // per step: saturated or outside, its light bridged
    std::size_t CoreFirst = 0, CoreSteps = 0; // the steps from START to STOP
};

TPhotometry MeasureLight(const TSampleSource& samples, const TDriveInput& in);

// The bad steps take the light of their good neighbours: linear between the
// nearest good step on each side, the one good side's at an end.
void BridgeBadSteps(std::vector<long double>& b, const std::vector<char>& bad);

// Centred running mean over +-h entries (fewer at the ends).
std::vector<long double> RunningMean(const std::vector<long double>& v, std::size_t h);

} // namespace vinsk::drive
