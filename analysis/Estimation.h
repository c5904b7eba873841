// The error estimation curve: the normal density with the periodic error's
// mean and variance, over the mean +/- three standard deviations.
#pragma once

#include "analysis/TrailState.h"

namespace vinsk {

inline constexpr int EstimationPoints = 501;

// Resizes GraphY and GraphX to 501 elements and writes the error values and
// their densities. A zero variance fails with EZeroDivide at the first point.
void EstimationCurve(TTrailState& trail, double mean, double variance);

} // namespace vinsk
