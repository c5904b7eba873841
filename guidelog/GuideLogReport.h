// A guide log's section through the drive analysis, and its JSON report:
// one piece of code for the command line and the window.
#pragma once

#include <string>

#include "drive/DriveAnalysis.h"
#include "guidelog/GuideLog.h"

namespace vinsk {

// The drive analysis of a section that was read (not refused); the log's
// notes come first among the result's. Never throws for data.
TDriveResult AnalyseGuideSeries(const TGuideSeries& series, const TDriveSettings& settings);

// The drive report with the log's own keys first (source, file name,
// section, scale, units, Dec, driver, the frames left out) and no picture:
// its Setup values and steps are null. `name` is the log's file name.
std::string GuideLogJson(const TDriveResult& result, const TGuideSeries& series, const std::string& name);

} // namespace vinsk
