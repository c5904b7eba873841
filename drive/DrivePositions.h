// The drive analysis from the error series on, for a series of positions
// whose noise is the sample's own (a guide log's frames), not a running sum
// of the light as along a trail: the fits run on the positions themselves,
// and their uncertainties come from the residuals' scatter, widened for the
// correlation of neighbouring frames.
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk {

// t rising, in seconds; pe in arc seconds (or pixels), positive when the
// mount is ahead. mountSpeed (arc seconds per second) only scales the drift
// to a percentage; NaN leaves that out. Refuses a series too short to say
// anything; never throws for data.
TDriveResult AnalysePositions(const std::vector<double>& t, const std::vector<double>& pe, const TDriveSettings& set,
                              double mountSpeed);

} // namespace vinsk
