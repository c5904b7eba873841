// The statistics of the drift-free error (see TDriveStats).
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

// Centred moving average over a time window.
std::vector<double> SmoothOver(const std::vector<double>& t, const std::vector<double>& e, long double window);

// The worm period sets the rate's window; 0 without one.
TDriveStats Statistics(const std::vector<double>& t, const std::vector<double>& e, long double period,
                       long double tolerance);

} // namespace vinsk::drive
