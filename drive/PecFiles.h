// PEC files that mount drivers load, written from the analysis' PEC fit.
//
// A correction curve is only of use tied to a position on the mount's own
// worm, and one photograph does not record that position: the user gives it,
// as the worm's phase at START (0 at the mount's PEC index) or as the RA
// motor's step count at START. Times here run from the exposure's start,
// the axis of TDriveResult::Time, and the worm phase of a moment t is
//   phase(t) = phase_at_start + 360 deg * t / P.
#pragma once

#include <limits>
#include <string>

#include "drive/DriveAnalysis.h"

namespace vinsk {

// Where the phase of the analysis' times comes from.
enum class TPhaseSource { Start, WormPhase, Motor };
TPhaseSource PhaseSourceOf(const TPhaseInput& p);
const char* PhaseSourceName(TPhaseSource s); // "start", "worm_phase", "motor"

// The worm phase of the exposure's moment t, degrees in [0, 360); with no
// worm phase given, the phase from START.
double WormPhaseAt(const TDriveResult& r, const TPhaseInput& p, double t);

// The motor's own phase at START, ((s MotorStart) mod StepsPerWorm) /
// StepsPerWorm * 360 deg, which is not the index's phase; NaN without a
// motor count.
double MotorPhaseDeg(const TPhaseInput& p);

// The PEC fit's periodic error at the exposure's moment t, arc seconds, and
// its rate, arc seconds per second.
double PecFitAt(const TDriveResult& r, double t);
double PecFitRateAt(const TDriveResult& r, double t);

// With the worm phase at START known, the PEC rows are rewritten to run from
// the PEC index, so that the table's phase is the worm's own; without it they
// stay as the analysis made them.
void PecRowsFromIndex(TDriveResult& r);

// The panel's and summary's line, e.g. "Phase: from START (no worm phase
// given)".
std::string PhaseText(const TPhaseInput& p);

// The report's phase block: {"source": ..., "phase_at_start_deg": ...,
// "motor_start": ..., "steps_per_worm": ..., "hemisphere": ...}.
std::string PhaseJson(const TPhaseInput& p);

struct TPecFileOptions {
    bool Invert = false;         // for a driver or set-up that counts the other way
    int CelestronWormArcsec = 7200; // 7200 or 3600
    std::string Version;         // Vinsk's, for the comment line
    std::string PictureName;     // the picture's file name, for the comment line
};

struct TPecFile : TRefusal {
    std::string Text;    // the file's whole content
    std::string Warning; // a note for the summary, or empty
};

// The EQMOD PEC file: CRLF lines, a comment, !WormPeriod=, !StepsPerWorm=,
// a comment, then WormPeriod rows "i motor pe". Needs the motor count at
// START and the steps per worm turn.
TPecFile EqmodPecFile(const TDriveResult& r, const TPhaseInput& p, const TPecFileOptions& o);

// The Celestron PEC file: 88, then 89 cumulative corrections from the PEC
// index, then the worm's arc seconds; LF lines. Needs the worm phase at
// START.
TPecFile CelestronPecFile(const TDriveResult& r, const TPhaseInput& p, double mountSpeed, const TPecFileOptions& o);

} // namespace vinsk
