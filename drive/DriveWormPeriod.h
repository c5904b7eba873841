// The worm period: given, or from the strongest spectral peak of the
// line-free error when the record holds 1.5 of its cycles, refined by the
// joint fit.
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DriveDetrend.h"

namespace vinsk::drive {

// How well a period fits: the weighted residual of the joint fit (line
// plus K harmonics) to the increments of the error, as FitIncrements.
// Measured against the residual of the error series itself ("Residual
// after PEC") on 29 rendered trails, its minimum lay nearer the true period
// (0.22 % RMS against 0.33 %, at worst 0.6 % against 0.7 %): the series'
// noise is a random walk whose slow wander the series' residual takes for
// signal, while the increments' noise is independent from step to step.
long double IncrementRss(const std::vector<double>& t, const std::vector<double>& e, int k, long double period,
                         int degree = 1, const TBridged* bridged = nullptr);

// The worm period near a first guess: the minimum of IncrementRss over the
// whole series. The spectral peak alone is off by about a percent on a
// two-cycle record.
long double RefinePeriod(const std::vector<double>& tFull, const std::vector<double>& peFull, int k,
                         long double guess, const TBridged* bridged = nullptr);

// The stage: the period in s, 0 when there is none; with lightBend (see
// TSeries), also behind a bend the light made; r's WormPeriod,
// WormSource and WormNote.
long double FindWormPeriod(const std::vector<double>& t, const std::vector<double>& pe, const TDriveSettings& set,
                           TDriveResult& r, const TBridged* bridged = nullptr, long double lightBend = 0);

} // namespace vinsk::drive
