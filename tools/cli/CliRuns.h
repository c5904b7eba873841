// vinsk-cli --runs: saved drive reports compared with the first (before
// and after a PEC correction), and with --combine averaged into one PEC
// curve.
#pragma once

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/cli/CliDrive.h"

namespace vinsk::cli {

struct TRunsOptions {
    std::vector<std::string> Reports; // the first is the reference ("before")
    bool Combine = false;
    // The runs' motor counts come from one power-up of the mount.
    bool SamePowerUp = false;
};

// The options that do not go with --runs, a missing report, or outputs that
// clash with each other or with a report (given: every option seen); or
// nothing.
std::optional<std::string> RunsUsageProblem(const std::set<std::string>& given, const TRunsOptions& runs,
                                            const TDriveOptions& drive);

// Reads the reports, writes the table (and with --combine the averaged
// curve's summary) on `out`, or on `err` when an output takes standard
// output, and the outputs --json, --pec, --eqmod and --celestron name, all
// or none. A report that cannot be read or compared, or an average that
// cannot be made, writes nothing and returns 1 with one message on `err`.
int RunRuns(const TRunsOptions& runs, const TDriveOptions& drive, char decimalSep, std::FILE* out, std::FILE* err);

} // namespace vinsk::cli
