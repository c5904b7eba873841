// Runs: saved drive reports read back, compared with one another (before
// and after a PEC correction) and averaged into one PEC curve.
//
// Every run's curves are put on its own phase axis: the worm's phase from
// the PEC index when the run knows it, the RA motor's own phase when it
// knows the motor count, else the phase from START. Two runs on the same
// kind of axis (and, for motor counts, the same power-up) line up by phase;
// others line up by the shift that best matches their mean cycles.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk {

// The report's format; a reader refuses any other.
constexpr int RunFormatVersion = 1;
// Samples of the mean cycle, one a degree of worm phase.
constexpr int RunCycleSamples = 360;

// The mean cycle at worm phases 0, 1, ... 359 degrees, on WormPhaseAt's
// axis (from the PEC index with a worm phase, else from START); empty
// without whole cycles.
std::vector<double> MeanCycle360(const TDriveResult& r);

// The report's JSON texts, shared by every writer of reports: a number
// (null when not finite) and a string (always valid UTF-8: a byte that is
// not is written as U+FFFD).
std::string JsonNumber(double v);
std::string JsonString(const std::string& s);
// Whether the text is valid UTF-8.
bool IsUtf8(const std::string& s);

// The file's modification time as "2026-12-07T22:31:05Z"; empty when it
// cannot be read.
std::string FileModifiedUtc(const std::string& path);

// One saved report, as far as comparing and combining runs read it.
struct TRunReport {
    std::string File; // the report's file, as the user named it
    std::string PictureName, PictureModified, ExposureStart;
    std::string Channel; // "red" ... "average", or "" for a guide log
    double WormPeriod = 0;
    std::string WormSource;
    int CycleCount = 0;
    double CycleSpreadRms = 0, PeakToPeak = 0, Rms = 0, PecResidualRms = 0, Record = 0;
    int PecHarmonics = 0;
    std::vector<double> PecCos, PecSin;
    double PecT0 = 0; // the time the coefficients' phase runs from
    std::vector<double> MeanCycle; // RunCycleSamples values
    TPhaseInput Phase;
    double MountSpeed = 0;
    // The P-P's standard deviation, where the report gives one; NaN otherwise.
    double PeakToPeakSigma = std::numeric_limits<double>::quiet_NaN();

    // The run's name for people: the picture's file name, else the report's,
    // each control character a "?".
    std::string Name() const;
    // The exposure's start when known, else the picture's modification time.
    std::string Date() const;
};

// Refused with a message naming the file when it is no run.
struct TRunRead : TRefusal {
    std::optional<TRunReport> Run;
};

// Reads a report's text; `file` names it in the messages. Never throws for
// any text: malformed JSON, deep nesting, values of the wrong kind and
// reports that cannot be compared (refused, older, without worm period or
// cycles) each give one message.
TRunRead ReadRunReport(const std::string& text, const std::string& file);
// Reads the file first; a file that cannot be read is a message too.
TRunRead ReadRunReportFile(const std::string& file);

enum class TRunAlignment { First, Phase, Shape, None };
const char* RunAlignmentName(TRunAlignment a); // "first", "phase", "shape", "none"

struct TRunRow {
    TRunAlignment Alignment = TRunAlignment::None;
    double LagDeg = 0;     // the run's curve is read this far ahead to match the first's
    double Correlation = 0; // of the aligned mean cycles with the first's; NaN when not aligned
    bool PeriodAgrees = true;  // within 1 % of the first run's
    bool TooSmall = false;     // P-P under 3 x the residual after PEC
    // PEC made the error larger than the first run's: a P-P larger by more
    // than twice the difference's uncertainty (the reports' own, or else
    // that of the mean cycles from their spread and cycles), or a
    // phase-aligned mean cycle in step with the first's and larger by as
    // much.
    bool MadeWorse = false;
};

struct TRunsComparison : TRefusal {
    std::vector<TRunRow> Rows; // one a run, the first the reference
};

// Compares each run with the first. samePowerUp: the motor counts of the
// runs were taken without the mount being switched off in between. Runs of
// different channels are refused.
TRunsComparison CompareRuns(const std::vector<TRunReport>& runs, bool samePowerUp);

struct TRunsAverage : TRefusal {
    // The averaged curve as an analysis result on the first run's axis:
    // worm period, phase input, PEC coefficients and rows, so that it
    // writes the PEC table and the mount's PEC files as one run does.
    TDriveResult Curve;
    double PeakToPeak = 0, PeakToPeakSigma = 0; // arc seconds
    std::vector<double> Weights;                // one a run, summing to 1
};

// Averages the runs' PEC curves, each weighted by its cycles over the
// square of its cycle-to-cycle spread, after aligning them as CompareRuns
// does. Refuses runs of fewer than two cycles, runs whose worm periods
// differ by more than 1 %, and runs that cannot be aligned.
TRunsAverage AverageRuns(const std::vector<TRunReport>& runs, const TRunsComparison& comparison);

// For drawing: a run's mean cycle on the first run's axis, read ahead by
// its lag, less its mean (as compared); and a curve's PEC fit on its own
// axis, one value a degree.
std::vector<double> AlignedCycle(const TRunReport& run, const TRunRow& row);
std::vector<double> CurveOnAxis(const TDriveResult& curve);

// The comparison as people read it, numbers with the given decimal
// separator: the table (a header row, then a row a run: number, name,
// date, worm period, cycles, P-P, RMS, residual after PEC), and a line or
// two for each run after the first ("2: P-P 11.2″ → 2.9″ (−74 %), ...;
// aligned by phase", and what a correction that made the error larger
// says).
std::vector<std::vector<std::string>> RunsTable(const std::vector<TRunReport>& runs, char sep);
std::vector<std::string> RunsChanges(const std::vector<TRunReport>& runs, const TRunsComparison& c, char sep);
// "Averaged PEC of 4 runs, on the first run's phase: P-P 10.83″ ± 0.27″;
// weights 0.16, 0.20, 0.24, 0.39"
std::string AverageText(const TRunsAverage& a, char sep);

} // namespace vinsk
