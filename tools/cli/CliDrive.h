// vinsk-cli --drive: the drive analysis of the trail (drift, peak-to-peak,
// RMS, worm period, PEC table) instead of the figures.
#pragma once

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "drive/DriveAnalysis.h"
#include "setup/DriveSettings.h"
#include "tools/cli/CliRun.h"

namespace vinsk::cli {

// The drive mode's own options; --csv and the inputs are the run's.
struct TDriveOptions {
    bool Drive = false;
    std::optional<double> WormPeriod, Tolerance, HalfWidth; // half-width 0: auto
    std::optional<TDetrend> Detrend;
    std::optional<int> Harmonics;
    std::optional<TTransferChoice> Transfer;
    std::optional<std::string> Json, Pec; // a file, or "-" for standard output
    // One exposure's phase reference, and the mount's properties (these
    // override the settings file's [Drive] keys).
    std::optional<double> WormPhase;  // degrees at START
    std::optional<long long> MotorStart;
    std::optional<long long> StepsPerWorm;
    std::optional<int> Hemisphere;    // +1 north, -1 south
    // PEC files for mount drivers.
    std::optional<std::string> Eqmod, Celestron;
    std::optional<int> CelestronWormArcsec; // 7200 or 3600
    bool Invert = false;
};

// Whether the option is one of the drive mode's that take a value.
bool IsDriveOption(const std::string& option);

// Takes the option's value; the problem with a bad value, or nothing.
std::optional<std::string> TakeDriveOption(TDriveOptions& drive, const std::string& option, const std::string& value);

// The options that do not go together (given: every option seen), or nothing.
std::optional<std::string> DriveUsageProblem(const std::set<std::string>& given, const TDriveOptions& drive,
                                             const TCliOptions& options);

// The drive settings of a run: the initial ones, overridden by the settings
// file's [Drive] section, overridden by the command line.
TDriveSettings DriveSettingsOf(const TDriveOptions& drive, const std::optional<TDriveSettings>& fromFile);

// Writes the outputs (target "-" is standard output) all or none, then the
// summary on standard output, or on standard error when an output took
// standard output. Returns the exit status.
int WriteOutputs(const std::vector<std::pair<std::string, std::string>>& outputs, const std::string& summary,
                 std::FILE* out, std::FILE* err);

// The summary's lines for a result, numbers with the given separator.
std::string DriveSummary(const TDriveResult& r, int channel, char sep);

// The phase reference of a run: the options' worm phase and motor count, and
// the mount's steps and hemisphere from the options or the settings.
TPhaseInput PhaseOf(const TDriveOptions& drive, const TDriveSettings& settings);

// Loads the inputs as the plotting run does, analyses the trail, writes the
// JSON, CSV and PEC outputs and a short summary (on `out`, or on `err` when
// an output takes standard output). A refusal, a PEC table asked for without
// a worm period, or a failure writes no output and returns 1 with the
// message on `err`; a failed write returns 1 too. Never throws.
int RunDrive(const TCliOptions& options, const TDriveOptions& drive, char decimalSep, std::FILE* out,
             std::FILE* err);

} // namespace vinsk::cli
