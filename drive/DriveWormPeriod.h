// The worm period: given, or from the strongest spectral peak of the
// line-free error when the record holds 1.5 of its cycles, refined by the
// joint fit.
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

// The worm period near a first guess: the one whose joint fit (line plus K
// harmonics) leaves the least residual in the increments. The spectral peak
// alone is off by about a percent on a two-cycle record.
long double RefinePeriod(const std::vector<double>& tFull, const std::vector<double>& peFull, int k,
                         long double guess);

// The stage: the period in s, 0 when there is none; r's WormPeriod,
// WormSource and WormNote.
long double FindWormPeriod(const std::vector<double>& t, const std::vector<double>& pe, const TDriveSettings& set,
                           TDriveResult& r);

} // namespace vinsk::drive
