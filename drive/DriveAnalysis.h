// The drive analysis: the mount's true periodic error from the light along
// the trail, with the figures mount owners compare (drift, peak-to-peak, RMS,
// the spectrum on a period axis with the worm's harmonics named, the cycles
// and a PEC table).
//
// The model. The star stands still at distance D; the mount turns at
// w(t) = w0 + PE'(t). The image moves along the trail at a speed
// proportional to w(t), so the light on a stretch of trail is proportional to
// the time the image spent there. Walking the fitted arc in steps of one
// pixel of arc length, with b_k the trail's flux at step k (summed across the
// trail, background removed) and alpha_k the angle of step k:
//   t_k  = T * sum_{j<k} b_j / sum_j b_j        (T: the exposure)
//   PE_k = sum_{j<k} alpha_j - w0 * t_k         (positive: the mount is ahead)
// Both sums run over the whole trail, its end caps included: the walk goes
// on past START and STOP until the light falls to the background. Only the
// statistics leave out the ends.
//
// One pixel of sensor length l subtends atan(l / v) with v = f D / (D - f),
// the distance behind the lens at which a star at D focuses. A step in the
// image direction phi has the sensor length sqrt((cos phi pw)^2 + (sin phi ph)^2).
//
// The drift (mean rate error) also carries any scale error of the Setup
// values; the result says so.
//
// This is a capability beside the plotting run: it reads the picture, the
// check points and the Setup values and changes none of them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/Refusal.h"
#include "image/Bitmap32.h"
#include "image/SampleSource.h"
#include "linear/LinearPlane.h"
#include "linear/ToneCurve.h"
#include "setup/DriveSettings.h"
#include "setup/Experiment.h"

namespace vinsk {

enum class TWormSource { None, Given, Estimated };

struct TDrivePoint {
    double X = 0;
    double Y = 0;
    bool operator==(const TDrivePoint&) const = default;
};

// One exposure's phase reference (the worm's phase or the RA motor's count
// at START, which one photograph does not record) and the mount's
// properties.
struct TPhaseInput {
    double WormPhaseDeg = std::numeric_limits<double>::quiet_NaN(); // at START, 0 .. 360; NaN: not given
    bool HaveMotorStart = false;
    long long MotorStart = 0;   // the RA motor's count at START
    long long StepsPerWorm = 0; // 0: not given
    int Hemisphere = 1;         // +1 north (the count rises while tracking), -1 south
    // The recorded motor count's uncertainty in steps, as a capture writes
    // it; NaN: not known (a typed count).
    double MotorStartSigma = std::numeric_limits<double>::quiet_NaN();

    // Two values not given are the same input: a defaulted == would find
    // NaN unequal to itself and see a change where there is none.
    bool operator==(const TPhaseInput& o) const
    {
        const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
        return same(WormPhaseDeg, o.WormPhaseDeg) && HaveMotorStart == o.HaveMotorStart &&
               MotorStart == o.MotorStart && StepsPerWorm == o.StepsPerWorm && Hemisphere == o.Hemisphere &&
               same(MotorStartSigma, o.MotorStartSigma);
    }
};

struct TDriveInput {
    TDrivePoint Start, Stop, InLine; // the check points, image pixels
    TExperiment Setup;               // distance, pixel size, focal length, exposure, mount speed
    TChannel Channel = ChannelAvg;
    TDriveSettings Settings;
    TPhaseInput Phase;
    // A flat frame has been divided out: light that still changes along the
    // trail then changed in time, not across the field.
    bool FlatApplied = false;

    bool operator==(const TDriveInput&) const = default;
};

// Statistics of the drift-free error over the trimmed steps. Peak-to-peak
// and Max+/Max- are taken from the error smoothed by a centred moving
// average over SmoothWindow = max(2 s, 0.5 % of the record), so that single
// noisy samples do not set them; Max+/Max- are measured from the error's
// mean. The rate is the slope of a least-squares line through the error
// over RateWindow = max(5 s, P / 20) (5 s without a worm period), centred on
// each step. RMS is about the mean of the unsmoothed error. The longest
// exposure is the longest time window, starting anywhere, whose smoothed
// error stays within Tolerance peak to peak.
struct TDriveStats {
    double PeakToPeak = 0, Rms = 0, MaxPlus = 0, MaxMinus = 0;
    double MaxRate = 0; // arc seconds per second, absolute
    double Tolerance = 1;
    double LongestExposure = 0; // s
    double SmoothWindow = 0, RateWindow = 0; // s
    // The peak-to-peak's standard deviation from the photometry's noise
    // (NaN when the trail is too short to tell its noise).
    double PeakToPeakSigma = std::numeric_limits<double>::quiet_NaN();
};

struct TDrivePeak {
    double Period = 0;     // s
    double Amplitude = 0;  // arc seconds; the joint fit's for a labelled harmonic
    // The amplitude's standard deviation from the photometry's noise, the
    // worm period taken as exact; NaN for a peak the fit does not measure.
    double AmplitudeSigma = std::numeric_limits<double>::quiet_NaN();
    double PeakToPeak = 0; // 2 x Amplitude
    int Harmonic = 0;      // i of "P/i", 0 when unlabelled
    std::string Label;     // "P/i" or empty
};

struct TPecRow {
    double Phase = 0; // s from the first trimmed step's phase, or from the PEC index when the worm phase is known
    double Error = 0; // arc seconds, the fitted periodic part
    double Rate = 0;  // arc seconds per second the mount must add: -d(error)/dt
};

// Refused(): nothing below is valid; Message says why and what to do.
struct TDriveResult : TRefusal {
    // The Setup values the scale and the times came from, as given.
    TExperiment Setup;

    // Photometry, one entry per step of the walk (the whole trail).
    double Exposure = 0;       // s
    double ArcsecPerStep = 0;  // mean alpha
    double Fwhm = 0;           // measured across the trail, px
    double HalfWidth = 0;      // px used each side of the crest
    double SaturatedFraction = 0, OutsideFraction = 0; // of the steps from START to STOP
    std::vector<double> Flux, Time, PE;
    std::size_t TrimFirst = 0, TrimLast = 0; // steps the statistics use, inclusive
    double TrimmedSeconds = 0; // time cut off the two ends together

    // The trimmed steps: time and drift-free error.
    std::vector<double> T, Error;
    double Record = 0; // s, T.back() - T.front()

    TDetrend DetrendUsed = TDetrend::Line;
    double Drift = 0;        // arc seconds per second (NaN for none)
    double DriftPercent = 0; // of the mount speed
    // The drift's standard deviation from the photometry's noise (the worm
    // period taken as exact); NaN unless the drift was fitted jointly with
    // the worm's harmonics, as a plain line over part of a worm cycle is off
    // by more than its noise.
    double DriftSigma = 0;
    TDriveStats Stats;

    // Spectrum of the drift-free error on a period axis (shortest period first), up to the record's length.
    std::vector<double> SpectrumPeriod, SpectrumAmplitude;
    std::vector<TDrivePeak> Peaks; // strongest first

    double WormPeriod = 0; // s, 0 when none
    TWormSource WormSource = TWormSource::None;
    std::string WormNote;  // why there is no period, when there is none

    // Cycles (when the record holds at least one worm period): per trimmed
    // step its phase and cycle number, the mean cycle on PhaseBins, and the
    // spread.
    int CycleCount = 0; // whole cycles
    std::vector<double> Phase;
    std::vector<int> Cycle;
    std::vector<double> MeanCyclePhase, MeanCycleError;
    std::vector<double> CycleRms; // each whole cycle's RMS difference from the mean cycle
    double CycleSpreadRms = 0;    // over all whole cycles (NaN without cycles)

    // PEC: K harmonics of the worm period fitted with the drift.
    int PecHarmonics = 0;
    double PecResidualRms = 0; // NaN without a period
    std::vector<double> PecCos, PecSin; // coefficients of cos/sin(2 pi i (t - T.front()) / P), i = 1..K
    std::vector<TPecRow> Pec;

    std::vector<std::string> Notes; // things the reader should know

    // The phase reference the analysis was given. With a worm phase, the
    // PEC rows' phase runs from the PEC index instead of the first step.
    TPhaseInput PhaseInput;

    // What the figures draw, so that the window and the report show one
    // thing. Per trimmed step, empty without a PEC fit: the error less the
    // joint fit's line, the fit's periodic part and their difference, whose
    // RMS is PecResidualRms (in every detrend mode: the line removed from
    // Error may be another). The drift removed from the error, less its
    // mean so that it shares the error's scale (empty when none was). The
    // times at which the worm cycles after the first begin.
    std::vector<double> PecError, PecFit, PecResidual;
    std::vector<double> RemovedDrift;
    std::vector<double> CycleStarts;

    // How the picture's stored values were read as light; nothing for a
    // source without pixels.
    std::optional<TTransfer> Transfer;

    // Maxima of the trail's mean cross-section: 2 for a defocused star's
    // ring, whose radius is half their distance apart (0 for one crest).
    int Crests = 1; // 0 for a source without pixels
    double RingRadius = 0; // px

    // The joint fit's polynomial: 1 for a line, 2 with a quadratic term.
    int JointDegree = 1;
    // How much the light per arc second changes along the trail, (max -
    // min) / mean of a quadratic through it; the mount alone moves it by
    // well under a per cent.
    double LightChange = 0;
    // What a later comparison of runs needs to tell them apart: the channel
    // measured (none for a guide log), the picture's file name and
    // modification time ("2026-12-07T22:31:05Z") and the exposure's start as
    // its header gives it; empty when unknown. The analysis sets the
    // channel, whoever knows the file the rest.
    std::optional<TChannel> Channel;
    std::string PictureName, PictureModified, ExposureStart;
    // The times (on T's axis) of the steps whose light was not the star's
    // and was bridged from their neighbours; nothing for a source without
    // pixels.
    std::optional<std::vector<double>> Repaired;
};

// Runs the whole analysis. Never throws for pictures or check points that
// cannot give a result: it refuses with a message instead. Arithmetic faults
// of impossible Setup values are refusals too.
TDriveResult AnalyseDrive(const TSampleSource& samples, const TDriveInput& input);

// The analysis of a picture: its linear samples when it has them, else the
// raster, as PictureSamples chooses.
TDriveResult AnalysePicture(const TBitmap32& bitmap, const TLinearPlane& linear, const TDriveInput& input);

const char* WormSourceName(TWormSource s); // "given", "estimated", "none"

// The JSON report: exposure_s, arcsec_per_step, setup {the Setup values
// the scale came from, in the Setup fields' units}, samples (steps walked),
// trimmed_s, saturated_fraction, outside_fraction, drift_arcsec_per_s,
// drift_percent, stats {...}, worm_period_s, worm_period_source, peaks [...],
// cycles {count, spread_rms}, pec {harmonics, residual_rms}, series {t, pe,
// pec_fit, residual, drift} (the trimmed steps: the drift-free error and what
// the figures draw beside it, null when absent), repaired_steps and repaired (the
// bridged steps' times; null for a source without pixels) and a few more. A point is the decimal
// separator whatever the locale; unknown values are null.
std::string DriveJson(const TDriveResult& r);

// The PEC table: two comment lines (worm period, units), then one row per
// second of the worm period: phase, error, correction rate, blank separated,
// point decimals. Empty when there is no worm period.
std::string PecTableText(const TDriveResult& r);

// t and the drift-free error of the trimmed steps, comma separated with a
// header line, point decimals.
std::string DriveCsv(const TDriveResult& r);

} // namespace vinsk
