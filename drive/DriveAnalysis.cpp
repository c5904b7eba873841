#include "drive/DriveAnalysis.h"
#include "drive/PecFiles.h"

#include <string>
#include <utility>

#include "common/MathFaults.h"
#include "common/NumText.h"
#include "drive/DriveCycles.h"
#include "drive/DriveDetrend.h"
#include "drive/DrivePhotometry.h"
#include "drive/DriveSeries.h"
#include "drive/DriveSpectrum.h"
#include "drive/DriveStage.h"
#include "drive/DriveStatistics.h"
#include "drive/DriveWormPeriod.h"

namespace vinsk {

using namespace drive;

const char* WormSourceName(TWormSource s)
{
    switch (s) {
    case TWormSource::Given:
        return "given";
    case TWormSource::Estimated:
        return "estimated";
    case TWormSource::None:
        break;
    }
    return "none";
}

namespace {

// Why the picture, the Setup values or the settings cannot give a result;
// not refused when they can.
TRefusal InputProblem(const TSampleSource& samples, const TDriveInput& in)
{
    const TExperiment& e = in.Setup;
    const TDriveSettings& set = in.Settings;
    if (samples.Width() <= 0 || samples.Height() <= 0)
        return Refuse(TRefusalReason::NoPicture);
    if (!(e.FocalLength > 0) || !(e.StarDistance > e.FocalLength) || !(e.PixelWidth > 0) ||
        !(e.PixelHeight > 0) || !(e.ExposureTime > 0) || !(e.MountSpeed > 0))
        return Refuse(TRefusalReason::SetupValues);
    if (!DriveSettingsValid(set))
        return Refuse(TRefusalReason::Settings,
                      "The drive settings are out of range: harmonics 1 to " + std::to_string(MaxDriveHarmonics) +
                          ", a positive tolerance, a half-width of 0 to " + FloatText(MaxDriveHalfWidth) +
                          " px and a worm period of 0 to " + FloatText(MaxDriveWormPeriod) + " s");
    return {};
}

// The stages in their order; each fills its part of the result or refuses.
TDriveResult Analyse(const TSampleSource& samples, const TDriveInput& in)
{
    const TExperiment& e = in.Setup;
    const TDriveSettings& set = in.Settings;
    if (TRefusal problem = InputProblem(samples, in); problem.Refused())
        return Refused<TDriveResult>(std::move(problem));
    const TPhotometry light = MeasureLight(samples, in);
    if (light.Refusal.Refused())
        return Refused<TDriveResult>(light.Refusal);
    TDriveResult r;
    TSeries series = MakeSeries(light, e, r, in.FlatApplied);
    if (series.Refusal.Refused())
        return Refused<TDriveResult>(series.Refusal);
    const TBridged* bridged = series.Bridged.empty() ? nullptr : &series.Bridged;
    long double period = FindWormPeriod(series.T, series.PE, set, r, bridged, series.LightBend);
    // Only light that changed in time bends the error (LightBend): without
    // it there is nothing to unbend, and no joint fit to make for it.
    if (period > 0 && series.LightBend != 0 && JointDegree(r.Record, period) == 2 &&
        Unbend(FitIncrements(series.T, series.PE, set.Harmonics, period, nullptr, 2, bridged), e, r, series,
               set.Harmonics, bridged) &&
        r.WormSource == TWormSource::Estimated) {
        // The bend squeezed the cycles: the period again, on the even times.
        period = RefinePeriod(series.T, series.PE, set.Harmonics, period, bridged);
        r.WormPeriod = static_cast<double>(period);
    }
    const TDetrended fits = RemoveDrift(series.T, series.PE, period, set, e, r, bridged);
    if (fits.Refusal.Refused())
        return Refused<TDriveResult>(fits.Refusal);
    r.Stats = Statistics(r.T, r.Error, period, set.Tolerance);
    r.Stats.PeakToPeakSigma = PeakToPeakSigma(r, e.MountSpeed, light.Repaired);
    SpectrumAndPeaks(series.T, series.PE, period, set, fits, r);
    CyclesAndPec(series.T, series.PE, period, set, fits.Harmonic, r);
    return r;
}

} // namespace

TDriveResult AnalyseDrive(const TSampleSource& samples, const TDriveInput& in)
{
    try {
        TDriveResult r = Analyse(samples, in);
        r.Setup = in.Setup;
        r.PhaseInput = in.Phase;
        r.Channel = in.Channel;
        PecRowsFromIndex(r);
        return r;
    } catch (const EMathError& ex) {
        return Refused<TDriveResult>(
            Refuse(TRefusalReason::ArithmeticFault, std::string("The analysis met an arithmetic fault (") + ex.what() +
                                                        "): check the Setup values and the check points"));
    }
}

TDriveResult AnalysePicture(const TBitmap32& bitmap, const TLinearPlane& linear, const TDriveInput& input)
{
    std::optional<TRasterSamples> raster;
    std::optional<TLinearSamples> samples;
    return AnalyseDrive(PictureSamples(bitmap, linear, raster, samples), input);
}

} // namespace vinsk
