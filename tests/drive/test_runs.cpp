// Saved reports read back as runs; runs compared and averaged.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/PecFiles.h"
#include "drive/Runs.h"
#include "tests/support/RenderedTrail.h"

using namespace vinsk;

namespace {

constexpr double Pi = 3.14159265358979323846;

// A result as the analysis leaves it, with a mean cycle of 2 sin(phase) on
// 100 bins of a 500 s worm from the first analysed step at 7 s.
TDriveResult Analysed()
{
    TDriveResult r;
    r.Exposure = 1600;
    r.WormPeriod = 500;
    r.WormSource = TWormSource::Given;
    r.T = {7, 1507};
    r.Record = 1500;
    r.Stats.PeakToPeak = 4.2;
    r.Stats.Rms = 1.4;
    r.CycleCount = 3;
    r.CycleSpreadRms = 0.3;
    r.PecHarmonics = 2;
    r.PecResidualRms = 0.2;
    r.PecCos = {0.5, -0.25};
    r.PecSin = {2, 0.125};
    r.Pec.resize(500);
    for (int k = 0; k < 100; ++k) {
        r.MeanCyclePhase.push_back((k + 0.5) * 5);
        r.MeanCycleError.push_back(2 * std::sin(2 * Pi * (k + 0.5) / 100));
    }
    r.Channel = ChannelG;
    r.PhaseInput.WormPhaseDeg = 30;
    r.Setup.MountSpeed = 15.041;
    return r;
}

TRunReport Read(const TDriveResult& r, const std::string& file = "run.json")
{
    const TRunRead read = ReadRunReport(DriveJson(r), file);
    EXPECT_TRUE(read.Run) << read.Message;
    return read.Run.value_or(TRunReport{});
}

// A rendered run of a mount whose error on the worm's phase psi is
// a1 sin(psi) + a2 sin(2 psi + 0.7), START at startDeg of the worm.
TRunReport RenderedRun(double a1, double a2, double startDeg, std::uint64_t seed, bool phaseKnown,
                       double noise = 1.5)
{
    tools::TPhysicalOptions o;
    const double s = startDeg * Pi / 180;
    o.Terms = {{a1, 100, s}, {a2, 50, 2 * s + 0.7}};
    o.Seed = seed;
    o.Noise = noise;
    TRendered t = Render(o);
    t.Input.Settings.WormPeriod = 100;
    if (phaseKnown)
        t.Input.Phase.WormPhaseDeg = startDeg;
    const TDriveResult r = AnalysePicture(t.Bitmap, {}, t.Input);
    EXPECT_FALSE(r.Refused()) << r.Message;
    return Read(r, "seed" + std::to_string(seed) + ".json");
}

// The RMS difference over a worm cycle between a curve and the true error,
// their means apart.
double DistanceFromTruth(const TDriveResult& curve)
{
    constexpr int n = 400;
    std::vector<double> d(n);
    double mean = 0;
    for (int k = 0; k < n; ++k) {
        const double t = curve.T.front() + k * curve.WormPeriod / n;
        const double psi = WormPhaseAt(curve, curve.PhaseInput, t) * Pi / 180;
        d[k] = PecFitAt(curve, t) - (5 * std::sin(psi) + 1.5 * std::sin(2 * psi + 0.7));
        mean += d[k] / n;
    }
    double sum = 0;
    for (double v : d)
        sum += (v - mean) * (v - mean);
    return std::sqrt(sum / n);
}

} // namespace

TEST(Runs, AReportReadsBackAsTheRunItWasWrittenFrom)
{
    const std::string names[] = {
        "quote \" and backslash \\ and\ttab.png",
        "Sternspur \xc3\xa4\xc3\xb6\xc3\xbc \xce\xb1\xce\xb2 \xe6\x98\x9f.fits",
        "latin1 \xe4\xf6 and a cut \xe6\x98 sequence \xed\xa0\x80 surrogate \xff.cr2",
        "all at once \"\\\t\xc3\xa9\xfe.jpg",
    };
    for (const std::string& name : names) {
        TDriveResult r = Analysed();
        r.PictureName = name;
        r.PictureModified = "2026-12-07T22:31:05Z";
        r.ExposureStart = "2026-12-07T21:00:00.5";
        const TRunReport run = Read(r);
        EXPECT_EQ(run.PictureName, name);
        std::string shown = name; // the tab would break a table row or a PEC file's comment line
        std::replace(shown.begin(), shown.end(), '\t', '?');
        EXPECT_EQ(run.Name(), shown);
        EXPECT_EQ(run.Date(), "2026-12-07T21:00:00.5");
        EXPECT_EQ(run.Channel, "green");
        EXPECT_EQ(run.WormPeriod, 500);
        EXPECT_EQ(run.CycleCount, 3);
        EXPECT_EQ(run.PecCos, r.PecCos);
        EXPECT_EQ(run.PecSin, r.PecSin);
        EXPECT_EQ(run.PecT0, 7);
        EXPECT_EQ(run.Phase, r.PhaseInput);
        EXPECT_EQ(run.MountSpeed, 15.041);
    }
}

// The mean cycle is written on the worm's phase: 30 deg at START, the first
// step 7 s (5.04 deg) later.
TEST(Runs, TheMeanCycleIsSampledOnTheWormPhase)
{
    const TDriveResult r = Analysed();
    const TRunReport run = Read(r);
    ASSERT_EQ(run.MeanCycle.size(), 360u);
    for (int k = 0; k < 360; k += 15) {
        const double sinceFirst = (k - 30) / 360.0 * 500 - 7;
        EXPECT_NEAR(run.MeanCycle[k], 2 * std::sin(2 * Pi * sinceFirst / 500), 0.002) << k;
    }
    // Across the cycle's end, between the last bin and the first.
    TDriveResult atEdge = Analysed();
    atEdge.PhaseInput.WormPhaseDeg = NAN;
    atEdge.T = {0, 1500};
    EXPECT_NEAR(MeanCycle360(atEdge)[0], 0, 1e-9);
}

TEST(Runs, EachBadReportGivesOneMessageNamingTheFile)
{
    std::string good = DriveJson(Analysed());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        const std::size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    std::string fifty; // more harmonics than an analysis fits, with the two written
    for (int i = 0; i < 50; ++i)
        fifty += "1, ";
    TDriveResult refused;
    refused.Reason = TRefusalReason::Saturated;
    refused.Message = "The trail is saturated";
    const struct {
        std::string Text, Message;
    } rows[] = {
        {"", "x.json is not a drive report: its JSON breaks off"},
        {"PNG\x89 not json", "x.json is not a drive report: its JSON breaks off or is malformed"},
        {good.substr(0, good.size() / 2), "x.json is not a drive report: its JSON breaks off"},
        {"{\"a\": " + std::string(10'000'000, '['), "x.json is not a drive report: it nests deeper than a report does"},
        {"[1, 2]", "x.json is not a drive report: it is a list"},
        {"42", "x.json is not a drive report: it is a single value"},
        {replaced("\"worm_period_s\": 500", "\"worm_period_s\": \"500\""),
         "x.json is not a drive report: worm_period_s is not a number"},
        {replaced("\"worm_period_s\": 500", "\"worm_period_s\": NaN"), "x.json is not a drive report: its JSON"},
        {replaced("\"cos\": [0.5,", "\"cos\": [\"0.5\","), "x.json is not a drive report: pec.cos holds a value"},
        {replaced(",\n  \"format_version\": 1", ""), "x.json was written by an older Vinsk: analyse the picture again"},
        {replaced("\"format_version\": 1", "\"format_version\": 2"), "x.json is a report of format 2"},
        {replaced("\"format_version\": 1", "\"format_version\": 1.5"), "format_version is not a whole number"},
        {replaced("\"worm_period_s\": 500", "\"worm_period_s\": null"), "x.json holds no worm period"},
        {replaced("\"worm_period_s\": 500", "\"worm_period_s\": 1e300"), "x.json holds a worm period of"},
        {replaced("\"cos\": [", "\"cos\": [" + fifty), "pec.cos holds too many values"},
        {replaced("\"count\": 3", "\"count\": 0"), "x.json holds no whole worm cycle"},
        {replaced("\"mean_cycle\": [", "\"mean_cycle\": [1,"), "x.json is not a drive report: mean_cycle holds too many values"},
        {replaced("\"count\": 3", "\"count\": 1e99"), "cycles.count is not a whole number"},
        {"{\"a\": 1}", "x.json is not a drive report"},
        {DriveJson(refused), "x.json holds a refused analysis: The trail is saturated"},
    };
    for (const auto& row : rows) {
        const TRunRead read = ReadRunReport(row.Text, "x.json");
        EXPECT_FALSE(read.Run) << row.Message;
        EXPECT_EQ(read.Message.rfind("x.json ", 0), 0u) << read.Message;
        EXPECT_NE(read.Message.find(row.Message), std::string::npos) << read.Message;
    }
}

// After a correction of the wrong sign the error doubles; half a cycle off,
// the first harmonic doubles and the second cancels; a good one leaves too
// little to align.
TEST(Runs, ACorrectionThatMadeTheErrorLargerIsNamed)
{
    const TRunReport before = RenderedRun(5, 1.5, 40, 1, true);
    const struct {
        const char* Name;
        double A1, A2;
        bool Worse;
        TRunAlignment Alignment;
    } rows[] = {
        {"inverted", 10, 3, true, TRunAlignment::Phase},
        {"half a cycle off", 10, 0, true, TRunAlignment::Phase},
        {"good", 0.3, 0.1, false, TRunAlignment::None}, // aligned or not, as the noise has it
    };
    for (const auto& row : rows) {
        const TRunsComparison c = CompareRuns({before, RenderedRun(row.A1, row.A2, 40, 2, true)}, false);
        ASSERT_EQ(c.Rows.size(), 2u) << c.Message;
        EXPECT_EQ(c.Rows[1].MadeWorse, row.Worse) << row.Name;
        if (row.Alignment == TRunAlignment::Phase) {
            EXPECT_EQ(c.Rows[1].Alignment, row.Alignment) << row.Name;
            EXPECT_GT(c.Rows[1].Correlation, 0.8) << row.Name;
        }
    }
}

// Without a common reference the mean cycles are matched: a run that
// started 90 degrees later on the worm is read 270 degrees ahead. A high
// correlation from matching shapes does not make a smaller error larger.
TEST(Runs, RunsWithoutACommonReferenceAlignByShape)
{
    const TRunReport first = RenderedRun(5, 1.5, 0, 1, false);
    for (const bool phaseKnown : {false, true}) {
        const TRunsComparison c = CompareRuns({first, RenderedRun(4, 1.2, 90, 2, phaseKnown)}, false);
        ASSERT_EQ(c.Rows.size(), 2u) << c.Message;
        EXPECT_EQ(c.Rows[1].Alignment, TRunAlignment::Shape);
        EXPECT_NEAR(c.Rows[1].LagDeg, phaseKnown ? 0 : 270, 3);
        EXPECT_GT(c.Rows[1].Correlation, 0.99);
        EXPECT_FALSE(c.Rows[1].MadeWorse);
    }
}

TEST(Runs, FourNoisyRunsAverageToACurveCloserToTheTruthThanAnyOne)
{
    std::vector<TRunReport> runs;
    for (int k = 0; k < 4; ++k)
        runs.push_back(RenderedRun(5, 1.5, 74.5 * k, 11 + k, true, 8));
    const TRunsAverage all = AverageRuns(runs, CompareRuns(runs, false));
    ASSERT_FALSE(all.Refused()) << all.Message;
    const double averaged = DistanceFromTruth(all.Curve);
    double sigma = INFINITY;
    for (std::size_t n = 1; n <= runs.size(); ++n) {
        const std::vector<TRunReport> some(runs.begin(), runs.begin() + n);
        const TRunsAverage a = AverageRuns(some, CompareRuns(some, false));
        ASSERT_FALSE(a.Refused()) << a.Message;
        EXPECT_LT(a.PeakToPeakSigma, sigma) << n << " runs";
        sigma = a.PeakToPeakSigma;
        const std::vector<TRunReport> one = {runs[n - 1]};
        const double single = DistanceFromTruth(AverageRuns(one, CompareRuns(one, false)).Curve);
        std::printf("[runs] run %zu: %.3f\" from the truth; %zu averaged: P-P %.2f +/- %.2f\"\n", n, single, n,
                    a.PeakToPeak, a.PeakToPeakSigma);
        EXPECT_LT(averaged, single) << "run " << n;
    }
    std::printf("[runs] the average of 4: %.3f\" from the truth\n", averaged);
    EXPECT_NEAR(all.PeakToPeak, 11.09, 0.5); // the true P-P of the periodic terms
}

TEST(Runs, RunsThatCannotBeAveragedAreRefusedNamingTheFile)
{
    TRunReport a = Read(Analysed(), "a.json");
    TRunReport b = a;
    b.File = "b.json";
    const struct {
        const char* Name;
        void (*Change)(TRunReport&);
        const char* Message;
    } rows[] = {
        {"one cycle", [](TRunReport& r) { r.CycleCount = 1; }, "b.json holds 1 whole worm cycle: averaging needs 2"},
        {"other worm", [](TRunReport& r) { r.WormPeriod = 506; }, "b.json's worm period of 506.00 s differs"},
        {"too small", [](TRunReport& r) { r.PeakToPeak = 0.5; }, "b.json's curve is under 3 times"},
        {"other channel", [](TRunReport& r) { r.Channel = "red"; },
         "b.json measured the red channel, a.json measured the green channel: runs compare only within one channel"},
    };
    for (const auto& row : rows) {
        TRunReport changed = b;
        row.Change(changed);
        const TRunsAverage avg = AverageRuns({a, changed}, CompareRuns({a, changed}, false));
        EXPECT_TRUE(avg.Refused()) << row.Name;
        EXPECT_EQ(avg.Message.rfind(row.Message, 0), 0u) << avg.Message;
    }
    // Within 1 % the periods agree.
    b.WormPeriod = 504.9;
    EXPECT_FALSE(AverageRuns({a, b}, CompareRuns({a, b}, false)).Refused());
}

// Two runs of an unchanged mount differ by their noise: a P-P or a mean
// cycle larger within twice the difference's uncertainty is no sign of a
// wrong correction. The first run (P-P 4.2, mean cycle's 4.0) has a spread
// of 0.3 over 3 cycles: its mean cycle's P-P is uncertain by 0.245.
TEST(Runs, ALargerErrorCountsBeyondItsUncertainty)
{
    const TRunReport a = Read(Analysed(), "a.json");
    const struct {
        double PeakToPeak, SigmaA, SigmaB, CycleScale;
        bool Worse;
    } rows[] = {
        {4.3, NAN, NAN, 0, false},  {5.0, NAN, NAN, 0, true},   {4.3, 0.1, 0.1, 0, false},
        {4.6, 0.1, 0.1, 0, true},   {4.3, NAN, 0.1, 0, false},  {4.1, 0.1, 0.1, 1.05, false},
        {4.1, 0.1, 0.1, 1.25, true},
    };
    for (const auto& row : rows) {
        TRunReport first = a, b = a;
        first.PeakToPeakSigma = row.SigmaA;
        b.PeakToPeakSigma = row.SigmaB;
        b.PeakToPeak = row.PeakToPeak;
        if (row.CycleScale > 0) {
            for (double& v : b.MeanCycle)
                v *= row.CycleScale; // in step with the first's
        } else {
            b.MeanCycle.assign(b.MeanCycle.size(), 0); // no curve in step with the first's
            b.MeanCycle[0] = 1;
        }
        EXPECT_EQ(CompareRuns({first, b}, false).Rows[1].MadeWorse, row.Worse)
            << row.PeakToPeak << " " << row.SigmaB << " " << row.CycleScale;
    }
}
