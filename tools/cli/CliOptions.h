// vinsk-cli's command line: what it asks for, or what is wrong with it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/cli/CliCapture.h"
#include "tools/cli/CliDrive.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/CliRuns.h"

namespace vinsk::cli {

// The text --help prints.
extern const char* const CliUsage;

// Capture: --capture alone, which only takes the picture; with --drive or
// --find-trail the picture is taken first and Capture.Capture is set.
enum class ECliMode { Help, Version, FindTrail, Figures, Drive, GuideLog, Capture, Runs };

struct TCliCommand {
    ECliMode Mode = ECliMode::Figures;
    TCliOptions Options;
    TDriveOptions Drive;
    // No check points were given: the run finds the trail first.
    bool FindPoints = false;
    TCaptureOptions Capture;
    TRunsOptions Runs;
};

struct TCliParse {
    TCliCommand Command;
    // What is wrong with the arguments, printed as
    // "vinsk-cli: <problem> (see --help)" with exit status 2; the command is
    // then incomplete.
    std::optional<std::string> Problem;
};

// Parses the arguments (without the program's name). Numbers of the Setup
// options may use decimalSep or a point. --help and --version end the
// parse where they stand; the first problem met is the one returned. An
// output that names an input file is a problem, so the files are looked at.
TCliParse ParseCommandLine(const std::vector<std::string>& args, char decimalSep);

} // namespace vinsk::cli
