// vinsk-cli's trail finding: --find-trail on its own, and the check points
// of any run that was given none.
#pragma once

#include <string>

#include "findtrail/FindTrail.h"
#include "tools/cli/CliRun.h"

namespace vinsk::cli {

// "--start X,Y --stop X,Y --inline X,Y", as the options take them.
std::string CheckPointsText(const TTrailPoints& points);

struct TFoundPoints {
    int ExitCode = 0;  // 0 found, 1 refused or failed
    std::string Error; // the refusal or the failure's message
    std::string LinearDropped; // as TCliResult's
    TTrailPoints Points;
};

// Loads and calibrates the picture as a run does, then finds the trail in
// the options' channel. Never throws.
TFoundPoints FindCheckPoints(const TCliOptions& options);

// The options' check points become the found ones.
void UseCheckPoints(TCliOptions& options, const TTrailPoints& points);

} // namespace vinsk::cli
