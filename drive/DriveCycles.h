// The worm's cycles and the PEC table: the joint fit's periodic part, each
// step's phase and cycle, the mean cycle and the cycles' spread about it.
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DriveDetrend.h"

namespace vinsk::drive {

// r's PEC fields from the joint fit, and its cycles when the record holds a
// whole worm period; nothing (NaN figures) without a period.
void CyclesAndPec(const std::vector<double>& t, const std::vector<double>& pe, long double period,
                  const TDriveSettings& set, const TFit& harmonicFit, TDriveResult& r);

} // namespace vinsk::drive
