// vinsk-cli --capture: the trail exposure taken through an INDI server, with
// the RA motor count at its start written into the picture, before the
// analysis that the other options ask for.
#pragma once

#include <atomic>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "capture/IndiCapture.h"
#include "tools/cli/CliRun.h"

namespace vinsk::cli {

struct TCaptureOptions {
    bool Capture = false;
    TCaptureRequest Request; // the steps per worm turn come with the run
};

// Whether the option is one of --capture's that take a value.
bool IsCaptureOption(const std::string& option);

// Takes the option's value (seconds with decimalSep or a point); the
// problem with a bad value, or nothing.
std::optional<std::string> TakeCaptureOption(TCaptureOptions& capture, const std::string& option,
                                             const std::string& value, char decimalSep);

// What is wrong with the capture's options (given: every option seen), or
// nothing.
std::optional<std::string> CaptureUsageProblem(const std::set<std::string>& given, const TCaptureOptions& capture);

// Takes the exposure: progress on `err` every few seconds, then the motor
// count recorded. 0 with the file written; 1 with a message and no file.
// The steps per worm turn come from the settings file's [Drive] section.
// Setting `cancel` (Ctrl-C) aborts the exposure.
int RunCapture(const TCaptureOptions& capture, const TCliOptions& options, char decimalSep, std::FILE* err,
               const std::atomic<bool>* cancel = nullptr);

} // namespace vinsk::cli
