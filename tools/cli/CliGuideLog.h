// vinsk-cli --guide-log: a guiding program's log through the drive analysis.
#pragma once

#include <cstdio>

#include "tools/cli/CliDrive.h"

namespace vinsk::cli {

// Lists the log's sections, or analyses one and writes the outputs as the
// drive mode does. Returns the exit status: 0 done, 1 refused or failed.
int RunGuideLog(const TCliOptions& options, const TDriveOptions& drive, char decimalSep, std::FILE* out,
                std::FILE* err);

} // namespace vinsk::cli
