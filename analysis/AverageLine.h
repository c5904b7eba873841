// The average line: a trailing moving average of the brightness series.
#pragma once

#include <vector>

namespace vinsk {

// Replaces y[i] (i >= N, N = Round(width)) by the mean of the width + 1
// unsmoothed samples y[i - N] .. y[i], and the first N samples, which have
// no full window, by the mean of the whole unsmoothed series. A width of at
// least the series' length sets every sample to that mean.
void SmoothBrightness(std::vector<double>& y, double width);

} // namespace vinsk
