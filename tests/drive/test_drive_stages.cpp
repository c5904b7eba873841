// The drive analysis stage by stage, on series whose answers are known: a
// pure sine, a sine plus a line, two harmonics, and a record of 1.5 cycles.
// The light along the trail is made from the mount's error exactly (each
// step's light is the time the image dwelt on it), so every stage after the
// photometry sees the error itself.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "drive/DriveCycles.h"
#include "drive/DriveDetrend.h"
#include "drive/DrivePhotometry.h"
#include "drive/DriveSeries.h"
#include "drive/DriveSpectrum.h"
#include "drive/DriveStatistics.h"
#include "drive/DriveWormPeriod.h"
#include "image/Bitmap32.h"
#include "tests/support/RenderedTrail.h"
#include "tools/sample-gen/PhysicalTrail.h"

using namespace vinsk;
using namespace vinsk::drive;

namespace {

constexpr double TwoPi = 2 * std::numbers::pi;
constexpr double W0 = 15, Alpha = 0.5; // arc seconds per second and per step

struct TTerm {
    double A, P, Phase;
};

struct TCase {
    const char* Name;
    std::vector<TTerm> Terms;
    double Drift; // arc seconds per second
    double Exposure;
};

// The worm period is 60 s throughout.
const TCase Cases[] = {
    {"pure sine", {{3, 60, 0}}, 0, 180},
    {"sine plus line", {{3, 60, 0.4}}, 0.02, 180},
    {"two harmonics", {{3, 60, 0}, {1, 30, 0.7}}, 0.01, 180},
    {"1.5 cycles", {{3, 60, 0.2}}, 0.01, 90},
};

double Error(const TCase& c, double t)
{
    double e = c.Drift * t;
    for (const TTerm& k : c.Terms)
        e += k.A * std::sin(TwoPi * t / k.P + k.Phase);
    return e;
}

double Rate(const TCase& c, double t)
{
    double r = c.Drift;
    for (const TTerm& k : c.Terms)
        r += k.A * TwoPi / k.P * std::cos(TwoPi * t / k.P + k.Phase);
    return r;
}

// The periodic part, drift-free.
double Periodic(const TCase& c, double t)
{
    return Error(c, t) - c.Drift * t;
}

// When the mount, ahead by PE(t) - PE(0), has turned through theta.
double TimeAt(const TCase& c, double theta)
{
    double t = theta / W0;
    for (int i = 0; i < 30; ++i)
        t -= (W0 * t + Error(c, t) - Error(c, 0) - theta) / (W0 + Rate(c, t));
    return t;
}

// Light per step as the dwell time (times 1,000), with Gaussian noise of
// `noise` of the typical step's light; the exposure ends with the last step.
TPhotometry Light(const TCase& c, double& exposure, double noise = 0, unsigned seed = 0)
{
    TPhotometry p;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> gauss(0, noise * 1000 * Alpha / W0);
    const auto steps = static_cast<std::size_t>((W0 * c.Exposure + Error(c, c.Exposure) - Error(c, 0)) / Alpha);
    double before = 0;
    for (std::size_t k = 0; k < steps; ++k) {
        const double after = TimeAt(c, (k + 1) * Alpha);
        p.Light.push_back(1000 * (after - before) + (noise > 0 ? gauss(rng) : 0));
        p.Alpha.push_back(Alpha);
        before = after;
    }
    exposure = before;
    p.Typical = 1000 * Alpha / W0;
    p.Fwhm = 3;
    p.HalfWidth = 3;
    return p;
}

struct TStaged {
    TDriveResult R;
    TSeries Series;
    TDetrended Fits;
    TDriveSettings Settings;
};

// The stages up to the drift's removal, with the worm period given.
TStaged Detrended(const TCase& c, double noise = 0, unsigned seed = 0, TDetrend mode = TDriveSettings{}.Detrend)
{
    TStaged s;
    TExperiment e;
    e.MountSpeed = W0;
    const TPhotometry light = Light(c, e.ExposureTime, noise, seed);
    s.Series = MakeSeries(light, e, s.R);
    s.Settings.WormPeriod = 60;
    s.Settings.Harmonics = 3;
    s.Settings.Detrend = mode;
    const long double period = FindWormPeriod(s.Series.T, s.Series.PE, s.Settings, s.R);
    s.Fits = RemoveDrift(s.Series.T, s.Series.PE, period, s.Settings, e, s.R);
    return s;
}

} // namespace

TEST(DriveStages, PhotometryCollectsTheLightOfAnEvenTrailEvenly)
{
    struct TRow {
        double Fwhm, Sag, StopY;
    } rows[] = {{2.5, 0, 60}, {5, 0, 60}, {3, 25, 90}};
    for (const TRow& row : rows) {
        tools::TPhysicalOptions o;
        SetPath(o, {500, 120, 40, 60, 460, row.StopY, row.Sag});
        o.Terms.clear();
        o.Drift = 0;
        o.Noise = 0;
        o.Bits = 16;
        o.Crest = 30000;
        o.Background = 500;
        o.Fwhm = row.Fwhm;
        const TRendered trail = Render(o);
        TRasterSamples samples(trail.Bitmap);
        const TPhotometry p = MeasureLight(samples, trail.Input);
        ASSERT_FALSE(p.Refusal.Refused()) << p.Refusal.Message;
        EXPECT_NEAR(static_cast<double>(p.Fwhm), row.Fwhm, 0.1 * row.Fwhm) << row.Fwhm;
        // The cross-section's width: the Gaussian's, widened by the pixels
        // (1/12 px^2) and the bilinear reads between them (1/6 at most).
        const double sigma = std::sqrt(std::pow(row.Fwhm / 2.3548200450309493, 2) + 1.0 / 4);
        EXPECT_NEAR(static_cast<double>(p.Width), sigma, 0.05 * sigma) << row.Fwhm;
        EXPECT_NEAR(p.HalfWidth, std::max(2.0L, 3 * p.Width), 1e-9) << row.Fwhm;
        EXPECT_EQ(p.Crests, 1) << row.Fwhm;
        EXPECT_EQ(p.SaturatedFraction, 0);
        EXPECT_EQ(p.OutsideFraction, 0);
        // Between the end caps every step holds the same light.
        const std::size_t caps = 30;
        double lo = 1e300, hi = 0;
        for (std::size_t k = caps; k + caps < p.Light.size(); ++k) {
            lo = std::min(lo, static_cast<double>(p.Light[k]));
            hi = std::max(hi, static_cast<double>(p.Light[k]));
        }
        EXPECT_LT(hi / lo - 1, 0.03) << row.Fwhm << " " << row.Sag;
        EXPECT_NEAR(static_cast<double>(p.Typical), (lo + hi) / 2, 0.02 * hi);
    }
}

TEST(DriveStages, SeriesRecoversTheErrorFromTheLight)
{
    for (const TCase& c : Cases) {
        TDriveResult r;
        TExperiment e;
        e.MountSpeed = W0;
        const TPhotometry light = Light(c, e.ExposureTime);
        const TSeries s = MakeSeries(light, e, r);
        ASSERT_FALSE(s.Refusal.Refused()) << c.Name;
        ASSERT_EQ(r.Time.size(), light.Light.size());
        for (std::size_t k = 0; k < r.Time.size(); k += 97) {
            EXPECT_NEAR(r.Time[k], TimeAt(c, k * Alpha), 1e-9) << c.Name << " " << k;
            EXPECT_NEAR(r.PE[k], Error(c, r.Time[k]) - Error(c, 0), 1e-9) << c.Name << " " << k;
        }
        // The margin inside the ends is 2 FWHM + 2 steps.
        EXPECT_EQ(r.TrimFirst, 8u) << c.Name;
        EXPECT_EQ(r.TrimLast, r.Time.size() - 9) << c.Name;
        EXPECT_EQ(s.T.size(), r.TrimLast - r.TrimFirst + 1);
        EXPECT_DOUBLE_EQ(r.Record, s.T.back() - s.T.front());
        EXPECT_NEAR(r.ArcsecPerStep, Alpha, 1e-15);
    }
}

TEST(DriveStages, WormPeriodIsFoundFromSixPerCentOffAndNotFromTooFewCycles)
{
    for (const TCase& c : Cases) {
        TDriveResult r;
        TExperiment e;
        e.MountSpeed = W0;
        const TSeries s = MakeSeries(Light(c, e.ExposureTime), e, r);
        for (const double guess : {56.4, 63.6})
            EXPECT_NEAR(static_cast<double>(RefinePeriod(s.T, s.PE, 3, guess)), 60, 0.01) << c.Name << " " << guess;
        TDriveSettings set;
        set.Harmonics = 3;
        const long double found = FindWormPeriod(s.T, s.PE, set, r);
        if (c.Exposure >= 120) {
            EXPECT_EQ(r.WormSource, TWormSource::Estimated) << c.Name;
            EXPECT_NEAR(static_cast<double>(found), 60, 0.01) << c.Name;
        } else {
            // 1.5 cycles of the record, less the trimmed ends, fall short.
            EXPECT_EQ(found, 0) << c.Name;
            EXPECT_EQ(r.WormSource, TWormSource::None);
            EXPECT_NE(r.WormNote.find("1.5 are needed"), std::string::npos) << r.WormNote;
        }
        set.WormPeriod = 61;
        EXPECT_EQ(FindWormPeriod(s.T, s.PE, set, r), 61);
        EXPECT_EQ(r.WormSource, TWormSource::Given);
    }
}

TEST(DriveStages, DetrendFindsTheDriftAndItsUncertaintyMatchesTheScatter)
{
    for (const TCase& c : Cases) {
        const TStaged s = Detrended(c);
        ASSERT_FALSE(s.Fits.Refusal.Refused()) << c.Name;
        const bool joint = c.Exposure >= 120; // two worm cycles
        EXPECT_EQ(s.R.DetrendUsed, joint ? TDetrend::Harmonic : TDetrend::Line) << c.Name;
        ASSERT_TRUE(s.Fits.Harmonic.Ok) << c.Name;
        EXPECT_NEAR(s.R.Drift, c.Drift, joint ? 1e-6 : 0.05) << c.Name;
        EXPECT_NEAR(static_cast<double>(s.Fits.Harmonic.Slope()), c.Drift, 1e-6) << c.Name;
        for (std::size_t i = 0; i < c.Terms.size(); ++i) {
            const int h = static_cast<int>(std::lround(60 / c.Terms[i].P));
            EXPECT_NEAR(static_cast<double>(s.Fits.Harmonic.Amplitude(h)), c.Terms[i].A, 1e-6) << c.Name;
        }
        if (joint) { // the drift-free error is the periodic part, less its mean
            const double offset = s.R.Error[0] - Periodic(c, s.R.T[0]);
            for (std::size_t i = 0; i < s.R.T.size(); i += 101)
                EXPECT_NEAR(s.R.Error[i] - Periodic(c, s.R.T[i]), offset, 1e-6) << c.Name;
        }
    }
    // With noise in the light, the spread of the drift and of P/1's amplitude
    // over draws, against the uncertainties the covariances give.
    const TCase& c = Cases[2];
    const int draws = 24;
    double sd = 0, sd2 = 0, sa = 0, sa2 = 0, sigmaD = 0, sigmaA = 0;
    for (int d = 0; d < draws; ++d) {
        const TStaged s = Detrended(c, 0.03, 100 + d);
        const double drift = s.R.Drift, amp = static_cast<double>(s.Fits.Harmonic.Amplitude(1));
        sd += drift;
        sd2 += drift * drift;
        sa += amp;
        sa2 += amp * amp;
        sigmaD += s.R.DriftSigma / draws;
        sigmaA += static_cast<double>(AmplitudeSigma(s.Fits.Harmonic, 1)) / draws;
    }
    const double spreadD = std::sqrt((sd2 - sd * sd / draws) / (draws - 1));
    const double spreadA = std::sqrt((sa2 - sa * sa / draws) / (draws - 1));
    EXPECT_GT(sigmaD, spreadD / 1.5);
    EXPECT_LT(sigmaD, spreadD * 1.5);
    EXPECT_GT(sigmaA, spreadA / 1.5);
    EXPECT_LT(sigmaA, spreadA * 1.5);
}

TEST(DriveStages, SpectrumPlacesPeaksBetweenBinsAndNamesTheHarmonics)
{
    // Sines whose periods fall between the transform's bins.
    for (const double period : {37.3, 41.9}) {
        std::vector<double> t, e;
        for (int i = 0; i <= 3600; ++i) {
            t.push_back(i * 0.05);
            e.push_back(2 * std::sin(TwoPi * t.back() / period + 0.3));
        }
        const TSpectrum sp = PeriodSpectrum(t, e);
        ASSERT_FALSE(sp.Peaks.empty());
        EXPECT_NEAR(sp.Peaks[0].Period, period, 0.003 * period);
        EXPECT_NEAR(sp.Peaks[0].Amplitude, 2, 0.03);
    }
    for (const TCase& c : Cases) {
        TStaged s = Detrended(c);
        SpectrumAndPeaks(s.Series.T, s.Series.PE, 60, s.Settings, s.Fits, s.R);
        for (const TTerm& k : c.Terms) {
            const std::string label = "P/" + std::to_string(std::lround(60 / k.P));
            const TDrivePeak* found = nullptr;
            for (const TDrivePeak& p : s.R.Peaks)
                if (p.Label == label)
                    found = &p;
            ASSERT_NE(found, nullptr) << c.Name << " " << label;
            EXPECT_NEAR(found->Amplitude, k.A, 1e-6) << c.Name << " " << label;
            EXPECT_NEAR(found->Period, k.P, 0.03 * k.P) << c.Name << " " << label;
        }
    }
}

TEST(DriveStages, CyclesAndPecFollowTheFittedHarmonics)
{
    for (const TCase& c : Cases) {
        TStaged s = Detrended(c);
        CyclesAndPec(s.Series.T, s.Series.PE, 60, s.Settings, s.Fits.Harmonic, s.R);
        const double t0 = s.Series.T.front();
        EXPECT_EQ(s.R.CycleCount, static_cast<int>(std::floor(s.R.Record / 60))) << c.Name;
        EXPECT_EQ(s.R.CycleRms.size(), static_cast<std::size_t>(s.R.CycleCount));
        ASSERT_EQ(s.R.Pec.size(), 60u) << c.Name;
        // The PEC row's error is the periodic part about its mean over a
        // cycle (zero for sines); its rate is what the mount must add.
        for (const TPecRow& row : s.R.Pec) {
            EXPECT_NEAR(row.Error, Periodic(c, t0 + row.Phase), 1e-6) << c.Name << " " << row.Phase;
            EXPECT_NEAR(row.Rate, -(Rate(c, t0 + row.Phase) - c.Drift), 1e-6) << c.Name << " " << row.Phase;
        }
        EXPECT_LT(s.R.PecResidualRms, 1e-6) << c.Name;
        if (c.Exposure >= 120) {
            EXPECT_LT(s.R.CycleSpreadRms, 0.01) << c.Name; // the mean cycle's bins are 1/60 of it
        }
    }
}

TEST(DriveStages, ThePecFigureIsTheJointFitInEveryDetrendMode)
{
    // What the PEC figure draws: the error less the joint fit's line, the
    // fit, and their difference, whose RMS is the residual reported; under
    // two cycles the error's own line is a plain fit that differs from the
    // joint one, and the difference must not become a ramp.
    for (const double cycles : {1.5, 2.5})
        for (const TDetrend mode : {TDetrend::None, TDetrend::Line, TDetrend::Quadratic, TDetrend::Harmonic}) {
            const TCase c{"drift", {{3, 60, 0.4}, {1, 30, 0.7}}, 0.02, 60 * cycles};
            const std::string name = std::to_string(cycles) + " cycles, " + DetrendName(mode);
            TStaged s = Detrended(c, 0, 0, mode);
            CyclesAndPec(s.Series.T, s.Series.PE, 60, s.Settings, s.Fits.Harmonic, s.R);
            const std::size_t n = s.Series.T.size();
            ASSERT_EQ(s.R.PecError.size(), n) << name;
            ASSERT_EQ(s.R.PecFit.size(), n) << name;
            ASSERT_EQ(s.R.PecResidual.size(), n) << name;
            long double ss = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double t = s.Series.T[i];
                EXPECT_NEAR(s.R.PecFit[i], Periodic(c, t), 1e-6) << name << " " << t;
                EXPECT_NEAR(s.R.PecError[i], Periodic(c, t), 1e-6) << name << " " << t;
                EXPECT_EQ(s.R.PecResidual[i], s.R.PecError[i] - s.R.PecFit[i]) << name;
                ss += static_cast<long double>(s.R.PecResidual[i]) * s.R.PecResidual[i];
            }
            EXPECT_EQ(s.R.PecResidualRms, static_cast<double>(sqrtl(ss / n))) << name;
            // The removed drift and the drift-free error add up to the error
            // less a constant: the drift's mean.
            if (mode == TDetrend::None) {
                EXPECT_TRUE(s.R.RemovedDrift.empty()) << name;
            } else {
                ASSERT_EQ(s.R.RemovedDrift.size(), n) << name;
                const double offset = s.Series.PE[0] - s.R.Error[0] - s.R.RemovedDrift[0];
                for (std::size_t i = 0; i < n; ++i)
                    EXPECT_NEAR(s.R.Error[i] + s.R.RemovedDrift[i] + offset, s.Series.PE[i], 1e-9) << name;
            }
            ASSERT_EQ(s.R.CycleStarts.size(), static_cast<std::size_t>(std::ceil(s.R.Record / 60) - 1)) << name;
            EXPECT_NEAR(s.R.CycleStarts[0], s.Series.T.front() + 60, 1e-9) << name;
        }
}

TEST(DriveStages, AShortRecordListsTheWormOnceAndSaysWhenItIsTooShort)
{
    TDriveSettings set;
    set.Harmonics = 3;
    {
        // 1.8 cycles: the worm's lobe lies some per cent off P, and was
        // listed beside its own labelled row.
        TStaged s = Detrended({"1.8 cycles", {{8.8, 60, 0.3}}, 0.01, 108}, 0.05, 3, TDetrend::Harmonic);
        SpectrumAndPeaks(s.Series.T, s.Series.PE, 60, s.Settings, s.Fits, s.R);
        int near = 0;
        for (const TDrivePeak& p : s.R.Peaks)
            if (std::abs(p.Period - 60) < 15) {
                ++near;
                EXPECT_EQ(p.Label, "P/1");
            }
        EXPECT_EQ(near, 1);
        // No period longer than the record is drawn.
        ASSERT_FALSE(s.R.SpectrumPeriod.empty());
        EXPECT_LE(*std::max_element(s.R.SpectrumPeriod.begin(), s.R.SpectrumPeriod.end()), s.R.Record);
    }
    // Half a cycle of 200 s holds a large error but no period to find; the
    // noise alone holds neither.
    for (const double amplitude : {8.0, 0.0}) {
        TDriveResult r;
        TExperiment e;
        e.MountSpeed = W0;
        const TSeries s = MakeSeries(Light({"half", {{amplitude, 200, 0}}, 0, 106}, e.ExposureTime, 0.05, 5), e, r);
        EXPECT_EQ(FindWormPeriod(s.T, s.PE, set, r), 0);
        const bool tooShort = r.WormNote.find("too short to find a worm period") != std::string::npos;
        EXPECT_EQ(tooShort, amplitude > 0) << r.WormNote;
        EXPECT_EQ(r.WormNote.find("No periodic error stands out") != std::string::npos, amplitude == 0) << r.WormNote;
    }
}

// A repaired step's light was made up from its neighbours': the increment it
// enters has no weight in the joint fit, the period search or the noise. So a
// jump of any size in that one increment changes nothing but the mean.
TEST(DriveStages, BridgedIncrementsHaveNoWeightInTheFitsNorInTheNoise)
{
    const TCase& c = Cases[2];
    std::vector<double> t, e;
    std::mt19937_64 rng(7);
    std::normal_distribution<double> gauss(0, 0.02);
    double walk = 0;
    for (int i = 0; i * 0.04 <= c.Exposure; ++i) {
        t.push_back(i * 0.04);
        walk += gauss(rng);
        e.push_back(Error(c, t.back()) + walk);
    }
    TBridged bridged(t.size(), 0);
    std::vector<double> jumped = e;
    for (std::size_t at : {std::size_t{900}, std::size_t{2500}}) {
        bridged[at] = 1;
        for (std::size_t i = at; i < e.size(); ++i)
            jumped[i] += 4;
    }
    const TDriftNoiseContext noise{c.Exposure, 0};
    const TFit clean = FitIncrements(t, e, 3, 60, &noise, 2, &bridged);
    const TFit hit = FitIncrements(t, jumped, 3, 60, &noise, 2, &bridged);
    ASSERT_TRUE(clean.Ok && hit.Ok);
    auto same = [](long double a, long double b) { return fabsl(a - b) <= 1e-9L * (fabsl(a) + 1e-3L); };
    for (int j = 1; j < clean.Columns(); ++j)
        EXPECT_TRUE(same(clean.Coef[j], hit.Coef[j])) << j;
    EXPECT_TRUE(same(clean.Rss, hit.Rss));
    EXPECT_TRUE(same(clean.Noise->Lrv, hit.Noise->Lrv));
    const TFit counted = FitIncrements(t, jumped, 3, 60, &noise, 2);
    EXPECT_GT(std::abs(static_cast<double>(counted.Slope() - clean.Slope())), 10 * static_cast<double>(SlopeSigma(clean)));
    // The period search on block means: the jump sits inside a block, so both
    // of that block's increments go.
    EXPECT_TRUE(same(RefinePeriod(t, jumped, 3, 57, &bridged), RefinePeriod(t, e, 3, 57, &bridged)));
    EXPECT_NEAR(static_cast<double>(RefinePeriod(t, e, 3, 57, &bridged)), 60, 0.1);

    // The peak-to-peak's noise leaves out the blocks of repaired steps,
    // whatever their light.
    TExperiment x;
    x.MountSpeed = W0;
    const TPhotometry light = Light(c, x.ExposureTime, 0.03, 5);
    TDriveResult r;
    const TSeries series = MakeSeries(light, x, r);
    TDriveSettings set;
    RemoveDrift(series.T, series.PE, 60, set, x, r);
    r.Stats = Statistics(r.T, r.Error, 60, set.Tolerance);
    const double plain = PeakToPeakSigma(r, W0);
    std::vector<std::size_t> repaired;
    for (std::size_t k = 300; k + 300 < r.Flux.size(); k += 700) {
        r.Flux[k] *= 6;
        repaired.push_back(k);
    }
    EXPECT_NEAR(PeakToPeakSigma(r, W0, repaired), plain, 0.1 * plain);
    EXPECT_GT(PeakToPeakSigma(r, W0), 3 * plain);
}

TEST(DriveStages, StatisticsOfLinesAndSines)
{
    struct TRow {
        const char* Name;
        double A, P, Slope, Record, Tolerance;
        double Rms, PeakToPeak, MaxPlus, MaxRate, Longest;
    };
    const double dt = 0.05;
    // Smoothed over 2 s, a sine keeps sin(x) / x of its amplitude, x = pi 2 / P;
    // a least-squares slope over +-2.5 s reads 3 (sin x - x cos x) / x^3 of
    // the rate's peak, x = pi 5 / P; a sine stays within a tolerance tol for
    // P / pi acos(1 - tol / A) around each crest. A line's smoothed value
    // rises at half its rate over the first second, so its longest window
    // starts there: (tol + slope w / 4) / slope.
    const double x = std::numbers::pi * 2 / 60, keep = std::sin(x) / x;
    const double y = std::numbers::pi * 5 / 60, slope = 3 * (std::sin(y) - y * std::cos(y)) / (y * y * y);
    const double mean15 = 3 * 2 / (3 * std::numbers::pi); // of 1.5 cycles
    const TRow rows[] = {
        {"line", 0, 60, 0.1, 100, 1, 0.1 * dt * std::sqrt((2001.0 * 2001 - 1) / 12), 0.1 * 99, 0.1 * 49.5, 0.1, 10.5},
        {"pure sine", 3, 60, 0, 180, 1, 3 / std::sqrt(2.0), 6 * keep, 3 * keep, TwoPi * 3 / 60 * slope,
         60 / std::numbers::pi * std::acos(1 - 1 / (3 * keep))},
        {"1.5 cycles", 3, 60, 0, 90, 1, 3 * std::sqrt(0.5 - 4 / (9 * std::numbers::pi * std::numbers::pi)), 6 * keep,
         3 * keep - mean15, TwoPi * 3 / 60 * slope, 60 / std::numbers::pi * std::acos(1 - 1 / (3 * keep))},
    };
    for (const TRow& row : rows) {
        std::vector<double> t, e;
        for (int i = 0; i * dt <= row.Record + 1e-9; ++i) {
            t.push_back(100 + i * dt);
            e.push_back(row.A * std::sin(TwoPi * i * dt / row.P) + row.Slope * i * dt);
        }
        const TDriveStats s = Statistics(t, e, row.P, row.Tolerance);
        EXPECT_EQ(s.SmoothWindow, 2) << row.Name;
        EXPECT_EQ(s.RateWindow, 5) << row.Name;
        EXPECT_NEAR(s.Rms, row.Rms, 2e-3) << row.Name;
        EXPECT_NEAR(s.PeakToPeak, row.PeakToPeak, 2e-3) << row.Name;
        EXPECT_NEAR(s.MaxPlus, row.MaxPlus, 2e-3) << row.Name;
        EXPECT_NEAR(s.MaxRate, row.MaxRate, 1e-3) << row.Name;
        EXPECT_NEAR(s.LongestExposure, row.Longest, 0.1) << row.Name; // on the steps of 0.05 s
    }
}

TEST(DriveStages, FourAnalysesOnFourThreadsAtOnceGiveTheSerialResults)
{
    // Four trails of different lengths, so that each analysis plans
    // transforms of its own sizes.
    std::vector<TBitmap32> pictures(4);
    std::vector<TDriveInput> inputs(4);
    for (int i = 0; i < 4; ++i) {
        tools::TPhysicalOptions o;
        const int width = 500 + 150 * i;
        SetPath(o, {width, 120, 30, 60, width - 30.0, 50, 10});
        o.Terms = {{4, 20, 0}, {1, 10, 0.5}};
        o.Seed = 11 + i;
        TRendered trail = Render(o);
        pictures[i] = std::move(trail.Bitmap);
        inputs[i] = trail.Input;
        inputs[i].Settings.WormPeriod = i % 2 ? 20 : 0; // given, or searched for
    }
    auto run = [&](int i) {
        TRasterSamples samples(pictures[i]);
        const TDriveResult r = AnalyseDrive(samples, inputs[i]);
        return r.Message + DriveJson(r) + DriveCsv(r) + PecTableText(r);
    };
    std::vector<std::string> serial(4), parallel(4);
    for (int i = 0; i < 4; ++i)
        serial[i] = run(i);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&, i] { parallel[i] = run(i); });
        for (std::thread& t : threads)
            t.join();
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(parallel[i], serial[i]) << i;
            ASSERT_NE(serial[i].find("\"worm_period_source\""), std::string::npos); // an analysis, not a refusal
        }
    }
}
