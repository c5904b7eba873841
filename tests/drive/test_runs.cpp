// Saved reports read back as runs; runs compared and averaged.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/PecFiles.h"
#include "drive/Runs.h"

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
        EXPECT_EQ(run.Name(), name);
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
    TDriveResult refused;
    refused.Refused = true;
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
        {replaced("\"count\": 3", "\"count\": 0"), "x.json holds no whole worm cycle"},
        {replaced("\"mean_cycle\": [", "\"mean_cycle\": [1,"), "x.json holds a mean cycle of 361 values"},
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
