// The second stage: the time of each step from its share of the light, the
// error from the angles walked against the mount's nominal rate, and the
// steps the statistics use (the ends left out).
#pragma once

#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DrivePhotometry.h"

namespace vinsk::drive {

// The trimmed steps' time and error (with the drift still in it).
struct TSeries {
    std::string Refusal; // when not empty, nothing is valid
    std::vector<double> T, PE;
};

// Fills r's photometry, time and error of every step, the trimming and the
// record's length.
TSeries MakeSeries(const TPhotometry& light, const TExperiment& e, TDriveResult& r);

} // namespace vinsk::drive
