// vinsk-cli run as a program on trails drawn with a known periodic error.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/SettingsFile.h"
#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/sample-gen/TrailScene.h"

using namespace vinsk;
using namespace vinsk::tools;
namespace fs = std::filesystem;

namespace {

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a program in a locale (C unless told) with its output caught in files.
TRun RunProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& dir,
                const std::string& locale = "C")
{
    std::string cmd = "LC_ALL=" + locale + " " + Quote(program);
    for (const std::string& a : args)
        cmd += " " + Quote(a);
    const fs::path out = dir / "run.out", err = dir / "run.err";
    cmd += " >" + Quote(out.string()) + " 2>" + Quote(err.string());
    const int status = std::system(cmd.c_str());
    TRun r;
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = ReadAll(out);
    r.Err = ReadAll(err);
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// The numbers of the three statistics lines.
struct TStats {
    double Min = NAN, Max = NAN, Sigma = NAN, Sigma3 = NAN;
};

TStats ParseStats(const std::vector<std::string>& lines)
{
    TStats s;
    std::smatch m;
    const std::regex minMax(R"re(^Min/Max PE \["\]: (-?[0-9.]+)/(-?[0-9.]+)$)re");
    const std::regex i68(R"re(^68% interval\["\]:  \+/- ([0-9.]+)$)re");
    const std::regex i99(R"re(^99% interval\["\]:  \+/- ([0-9.]+)$)re");
    if (lines.size() >= 3) {
        if (std::regex_match(lines[0], m, minMax)) {
            s.Min = std::stod(m[1]);
            s.Max = std::stod(m[2]);
        }
        if (std::regex_match(lines[1], m, i68))
            s.Sigma = std::stod(m[1]);
        if (std::regex_match(lines[2], m, i99))
            s.Sigma3 = std::stod(m[1]);
    }
    return s;
}

// One trail drawn for the whole suite: a PNG exposure with its dark, flat and
// settings, and what the analyser should find on it.
class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Dir = new fs::path(fs::temp_directory_path() / ("vinsk-cli-" + std::to_string(::getpid())));
        fs::create_directories(*Dir);
        Options = new TSceneOptions();
        const TScene scene = RenderScene(*Options);
        Expected = new TExpectedPE(scene.Expected);
        WritePng(File("trail.png"), scene.Image);
        WritePng(File("dark.png"), scene.Dark);
        WritePng(File("flat.png"), scene.Flat);
        TExperiment e;
        e.FocalLength = Options->FocalMm / 1000;
        e.ExposureTime = Options->ExposureS;
        SaveSettingsFile(File("trail.ini"), e, '.');
        e.FocalLength = 0;
        SaveSettingsFile(File("f0.ini"), e, '.');
        // A frame one pixel narrower than the exposure.
        WritePng(File("small.png"), TRgbImage(Options->Width - 1, Options->Height));
    }

    static void TearDownTestSuite()
    {
        fs::remove_all(*Dir);
        delete Dir;
        delete Options;
        delete Expected;
    }

    static std::string File(const std::string& name) { return (*Dir / name).string(); }

    static std::string Point(TPoint p) { return std::to_string(p.X) + "," + std::to_string(p.Y); }

    // The full calibrated run, with extra arguments.
    static std::vector<std::string> Args(std::vector<std::string> extra = {})
    {
        std::vector<std::string> a = {"--image",    File("trail.png"),      "--dark",   File("dark.png"),
                                      "--flat",     File("flat.png"),       "--settings", File("trail.ini"),
                                      "--start",    Point(Options->Start),  "--stop",   Point(Options->Stop),
                                      "--inline",   Point(Expected->InLine)};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    static TRun Cli_(const std::vector<std::string>& args) { return RunProgram(VINSK_CLI, args, *Dir); }

    static inline fs::path* Dir = nullptr;
    static inline TSceneOptions* Options = nullptr;
    static inline TExpectedPE* Expected = nullptr;
};

TEST_F(Cli, StatisticsMatchTheKnownPeriodicError)
{
    const TRun r = Cli_(Args());
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto lines = Lines(r.Out);
    const TStats s = ParseStats(lines);
    // The labels round to 0.1"; the rest is the picture's noise, its 8-bit
    // levels and the walk reading whole pixels across the trail.
    EXPECT_NEAR(s.Sigma, Expected->Sigma, 0.05 * Expected->Sigma + 0.1) << r.Out;
    EXPECT_NEAR(s.Sigma3, 3 * Expected->Sigma, 0.15 * Expected->Sigma + 0.1) << r.Out;
    EXPECT_NEAR(s.Min, Expected->Min, 1.5) << r.Out;
    EXPECT_NEAR(s.Max, Expected->Max, 1.5) << r.Out;
    // The run posts the measurement error, a hundred times the mean error,
    // as a fourth line; here it is the offset that keeps the brightness mean.
    ASSERT_EQ(lines.size(), 4u) << r.Out;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[3], m, std::regex(R"(^Measurement error: \+/-([0-9.]+)%$)"))) << lines[3];
    double mean = 0;
    for (double v : Expected->PE)
        mean += v / static_cast<double>(Expected->PE.size());
    EXPECT_NEAR(std::stod(m[1]), std::abs(mean) * 100, 5.0) << lines[3];
}

TEST_F(Cli, WithoutTheFlatTheVignettingSpoilsTheMeasurement)
{
    std::vector<std::string> a = Args();
    a.erase(a.begin() + 4, a.begin() + 6); // --flat FILE
    const TRun r = Cli_(a);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const TStats s = ParseStats(Lines(r.Out));
    // The light falls off by some 16 % towards the trail's ends, which reads
    // as a large negative error there.
    EXPECT_LT(s.Min, Expected->Min - 3) << r.Out;
}

TEST_F(Cli, SettingsEnterThroughTheFieldsOneDecimal)
{
    // Half the focal length doubles the angle of a step and with it the
    // error; 199.96 mm shows as 200.0 in the field and gives the same run.
    TExperiment e;
    e.ExposureTime = Options->ExposureS;
    e.FocalLength = 0.2;
    SaveSettingsFile(File("f200.ini"), e, '.');
    e.FocalLength = 0.19996;
    SaveSettingsFile(File("f19996.ini"), e, '.');
    auto with = [&](const std::string& ini) {
        std::vector<std::string> a = Args();
        a[7] = File(ini);
        return Cli_(a);
    };
    const TRun base = Cli_(Args());
    const TRun f200 = with("f200.ini");
    const TRun f19996 = with("f19996.ini");
    ASSERT_EQ(f200.Code, 0) << f200.Err;
    EXPECT_EQ(f19996.Out, f200.Out);
    const double ratio = ParseStats(Lines(f200.Out)).Sigma / ParseStats(Lines(base.Out)).Sigma;
    EXPECT_NEAR(ratio, 2.0, 0.05) << base.Out << f200.Out;
}

TEST_F(Cli, AnotherVersionOfTheSettingsWarnsAndGoesOn)
{
    std::string ini = ReadAll(File("trail.ini"));
    ini.replace(ini.find("version=1.1"), 11, "version=1.10");
    std::ofstream(File("v110.ini"), std::ios::binary) << ini;
    std::vector<std::string> a = Args();
    a[7] = File("v110.ini");
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Err, std::string(SettingsVersionWarning) + "\n");
    EXPECT_EQ(r.Out, Cli_(Args()).Out);
}

// The CSV of each figure: header, number of points, x range.
struct CsvRow {
    const char* Figure;
    const char* Header;
    bool Curve; // 501 estimation points instead of one per sample
};

void PrintTo(const CsvRow& r, std::ostream* os)
{
    *os << r.Figure;
}

class CliCsv : public Cli, public ::testing::WithParamInterface<CsvRow> {};

TEST_P(CliCsv, HasTheFiguresHeaderAndPoints)
{
    const CsvRow& row = GetParam();
    const TRun r = Cli_(Args({"--figure", row.Figure, "--csv", File("fig.csv")}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string csv = ReadAll(File("fig.csv"));
    ASSERT_GE(csv.size(), 2u);
    ASSERT_EQ(csv.substr(csv.size() - 2), "\r\n");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < csv.size();) {
        const std::size_t end = csv.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(csv.substr(at, end - at));
        at = end + 2;
    }
    EXPECT_EQ(lines[0], row.Header);
    const std::size_t points = row.Curve ? 501u : static_cast<std::size_t>(Expected->Samples);
    ASSERT_EQ(lines.size(), points + 1);
    double last = -INFINITY;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto sep = lines[i].find("; ");
        ASSERT_NE(sep, std::string::npos) << lines[i];
        const double x = std::stod(lines[i].substr(0, sep));
        EXPECT_GE(x, last) << "line " << i;
        last = x;
    }
    // The statistics go to standard output as without --csv.
    EXPECT_EQ(Lines(r.Out).size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, CliCsv,
    ::testing::Values(CsvRow{"profile", "Coordinates [pix]; Brightness [-]", false},
                      CsvRow{"error", "Time [s]; PE [\"]", false},
                      CsvRow{"estimation", "PE [\"]; Error rate [-]", true},
                      CsvRow{"spectrum", "Frequence [Hz]; Power density [-]", false}),
    [](const ::testing::TestParamInfo<CsvRow>& info) { return std::string(info.param.Figure); });

// Points of a CSV text: x and y of every line after the header.
std::vector<std::pair<double, double>> Points(const std::string& csv)
{
    std::vector<std::pair<double, double>> p;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const auto sep = line.find("; ");
        p.emplace_back(std::stod(line.substr(0, sep)), std::stod(line.substr(sep + 2)));
    }
    return p;
}

TEST_F(Cli, TheSpectrumShowsTheWormAndItsHarmonic)
{
    // --csv - puts the points on standard output and the statistics on
    // standard error.
    const TRun r = Cli_(Args({"--figure", "spectrum", "--csv", "-"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ParseStats(Lines(r.Err)).Sigma, ParseStats(Lines(Cli_(Args()).Out)).Sigma);
    const auto p = Points(r.Out);
    ASSERT_EQ(p.size(), static_cast<std::size_t>(Expected->Samples));
    // The period of 40 s fits three times into 120 s: bin 3 at 1/40 Hz holds
    // half of A1, bin 6 half of A2; the bins are 1/120 Hz apart.
    EXPECT_NEAR(p[3].first, 3.0 / 120, 1e-12);
    EXPECT_NEAR(p[3].second, Options->A1 / 2, 0.25);
    EXPECT_NEAR(p[6].second, Options->A2 / 2, 0.25);
    for (std::size_t i = 1; i < 40; ++i) {
        if (i != 3 && i != 6) {
            EXPECT_LT(p[i].second, 0.6) << "bin " << i;
        }
    }
}

TEST_F(Cli, TheErrorFigureFollowsTheMountsError)
{
    const TRun r = Cli_(Args({"--csv", "-"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto p = Points(r.Out);
    ASSERT_EQ(p.size(), Expected->PE.size());
    double worst = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        EXPECT_NEAR(p[i].first, Options->ExposureS * static_cast<double>(i) / (p.size() - 1), 1e-9);
        worst = std::max(worst, std::abs(p[i].second - Expected->PE[i]));
    }
    // Single samples carry the picture's noise.
    EXPECT_LT(worst, 2.0);
}

TEST_F(Cli, TheAverageLineSmoothsTheFigureButNotTheStatistics)
{
    const TRun raw = Cli_(Args({"--csv", "-"}));
    const TRun smooth = Cli_(Args({"--average", "10", "--csv", "-"}));
    ASSERT_EQ(smooth.Code, 0) << smooth.Err;
    EXPECT_EQ(smooth.Err, raw.Err);
    // Roughness: the mean step between neighbouring points.
    auto roughness = [](const std::string& csv) {
        const auto p = Points(csv);
        double s = 0;
        for (std::size_t i = 12; i < p.size(); ++i)
            s += std::abs(p[i].second - p[i - 1].second);
        return s / static_cast<double>(p.size() - 12);
    };
    EXPECT_LT(roughness(smooth.Out), 0.6 * roughness(raw.Out));
}

// --drive on the committed physical trail and on trails rendered here: a
// short one, a saturated one, and a picture the trail runs out of.
class CliDrive : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Dir = new fs::path(fs::temp_directory_path() / ("vinsk-cli-drive-" + std::to_string(::getpid())));
        fs::create_directories(*Dir);
        TPhysicalOptions o;
        o.Width = 500;
        o.Height = 100;
        o.StartX = 40;
        o.StartY = o.StopY = 50;
        o.StopX = 460;
        o.Sag = 0;
        o.Terms = {{5, 120, 0}}; // two thirds of a cycle
        o.Drift = 0;
        const TPhysicalTrail shortTrail = RenderPhysicalTrail(o);
        WritePhysicalPng(File("short.png"), shortTrail);
        TExperiment e;
        e.ExposureTime = shortTrail.Truth.ExposureS;
        SaveSettingsFile(File("short.ini"), e, '.');
        Short = new std::vector<std::string>{"--settings", File("short.ini"), "--start", "40,50", "--stop",
                                             std::to_string(std::lround(shortTrail.Truth.EndX)) + ",50",
                                             "--inline", "250,50"};
        o.Crest = 600; // clipped at 255 all along
        WritePhysicalPng(File("saturated.png"), RenderPhysicalTrail(o));
        const std::string ini = ReadAll(Sample("physical.ini"));
        std::ofstream(File("drive.ini"), std::ios::binary) << ini << "\n[Drive]\nWormPeriod=90\nHarmonics=3\n";
    }

    static void TearDownTestSuite()
    {
        fs::remove_all(*Dir);
        delete Dir;
        delete Short;
    }

    static std::string File(const std::string& name) { return (*Dir / name).string(); }
    static std::string Sample(const std::string& name) { return std::string(VINSK_SOURCE_DIR) + "/samples/" + name; }

    // The committed sample with its settings and check points.
    static std::vector<std::string> Physical(std::vector<std::string> extra = {})
    {
        std::vector<std::string> a = {"--drive",  "--image", Sample("physical.png"), "--settings", Sample("physical.ini"),
                                      "--start",  "40,55",   "--stop",               "1580,45",    "--inline",
                                      "810,32"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    static TRun Run(const std::vector<std::string>& args) { return RunProgram(VINSK_CLI, args, *Dir); }

    // A number of the JSON report, NaN when the key is missing or null.
    static double JsonNumber(const std::string& json, const std::string& key)
    {
        std::smatch m;
        if (!std::regex_search(json, m, std::regex("\"" + key + "\": (-?[0-9.eE+-]+)")))
            return NAN;
        return std::stod(m[1]);
    }

    static inline fs::path* Dir = nullptr;
    static inline std::vector<std::string>* Short = nullptr;
};

TEST_F(CliDrive, OutputsAgreeWithEachOtherAndTheSummary)
{
    const TRun r = Run(Physical({"--json", File("r.json"), "--csv", File("r.csv"), "--pec", File("r.pec")}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::string json = ReadAll(File("r.json"));
    EXPECT_NE(json.find("\"worm_period_source\": \"estimated\""), std::string::npos);
    const double period = JsonNumber(json, "worm_period_s");
    EXPECT_NEAR(period, 100, 1.5);
    // The summary names the same period and peak-to-peak, rounded.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.Out, m, std::regex(R"(Worm period: ([0-9.]+) s \(estimated\))"))) << r.Out;
    EXPECT_NEAR(std::stod(m[1]), period, 0.005);
    ASSERT_TRUE(std::regex_search(r.Out, m, std::regex(R"re(peak-to-peak ([0-9.]+) \+/- ([0-9.]+)")re"))) << r.Out;
    EXPECT_NEAR(std::stod(m[1]), JsonNumber(json, "peak_to_peak"), 0.005);
    EXPECT_NEAR(std::stod(m[2]), JsonNumber(json, "peak_to_peak_sigma"), 0.005);
    // One CSV row per step of the series, one PEC row per second of the period.
    std::smatch series;
    ASSERT_TRUE(std::regex_search(json, series, std::regex(R"("t": \[([^\]]*)\])")));
    const auto steps = std::count(series[1].first, series[1].second, ',') + 1;
    EXPECT_EQ(static_cast<long>(Lines(ReadAll(File("r.csv"))).size()), steps + 1);
    EXPECT_EQ(Lines(ReadAll(File("r.pec"))).size(), 2 + static_cast<std::size_t>(std::ceil(period)));
}

// Without a flat-dark frame the flat's offset is the dark's, and the summary
// and the report say so; with one, nothing is said.
TEST_F(CliDrive, TheFlatsOffsetFromTheDarkIsNoted)
{
    const std::vector<std::string> trail = {"--drive", "--image", Sample("trail.png"), "--dark", Sample("trail-dark.png"),
                                            "--flat", Sample("trail-flat.png"), "--settings", Sample("trail.ini"),
                                            "--start", "40,180", "--stop", "520,150", "--inline", "279,153"};
    const std::string note = "The flat's offset was taken from the dark frame";
    for (const bool flatDark : {false, true}) {
        SCOPED_TRACE(flatDark ? "with --flat-dark" : "without");
        std::vector<std::string> args = trail;
        if (flatDark)
            args.insert(args.end(), {"--flat-dark", Sample("trail-dark.png")});
        args.insert(args.end(), {"--json", File("f.json")});
        const TRun r = Run(args);
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Out.find("Note: " + note) != std::string::npos, !flatDark) << r.Out;
        EXPECT_EQ(ReadAll(File("f.json")).find(note) != std::string::npos, !flatDark);
    }
}

TEST_F(CliDrive, AnOutputOnStandardOutputMovesTheSummaryToStandardError)
{
    const TRun json = Run(Physical({"--json", "-"}));
    ASSERT_EQ(json.Code, 0) << json.Err;
    EXPECT_EQ(json.Out.front(), '{');
    EXPECT_EQ(json.Out.substr(json.Out.size() - 2), "}\n");
    EXPECT_NE(json.Err.find("Worm period: "), std::string::npos) << json.Err;
    const TRun pec = Run(Physical({"--pec", "-", "--csv", File("c.csv")}));
    ASSERT_EQ(pec.Code, 0) << pec.Err;
    EXPECT_EQ(pec.Out.rfind("# Worm period ", 0), 0u) << pec.Out;
    EXPECT_NE(pec.Err.find("Worm period: "), std::string::npos) << pec.Err;
}

TEST_F(CliDrive, OptionsOverrideTheSettingsFileWhichOverridesTheInitialValues)
{
    auto run = [](std::vector<std::string> extra) {
        std::vector<std::string> a = Physical({"--json", "-"});
        a[4] = File("drive.ini"); // [Drive] WormPeriod=90, Harmonics=3
        a.insert(a.end(), extra.begin(), extra.end());
        const TRun r = Run(a);
        EXPECT_EQ(r.Code, 0) << r.Err;
        return r.Out;
    };
    const std::string fromFile = run({});
    EXPECT_EQ(JsonNumber(fromFile, "worm_period_s"), 90);
    EXPECT_NE(fromFile.find("\"worm_period_source\": \"given\""), std::string::npos);
    EXPECT_EQ(JsonNumber(fromFile, "harmonics"), 3);
    const std::string fromOptions = run({"--worm-period", "100", "--harmonics", "4"});
    EXPECT_EQ(JsonNumber(fromOptions, "worm_period_s"), 100);
    EXPECT_EQ(JsonNumber(fromOptions, "harmonics"), 4);
    // 0 on the command line takes the period back to unknown.
    EXPECT_NE(run({"--worm-period", "0"}).find("\"worm_period_source\": \"estimated\""), std::string::npos);
}

TEST_F(CliDrive, TheSetupValuesKeepEveryDecimal)
{
    // The settings file's exposure and the option's pixel size as given, not
    // as the one-decimal fields show them.
    const TRun r = Run(Physical({"--json", "-", "--pixel", "3.76,3.76"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(JsonNumber(r.Out, "pixel_width_um"), 3.76);
    EXPECT_EQ(JsonNumber(r.Out, "exposure_s"), 289.8064278);
    // The scale follows: the step's angle goes with the pixel's size.
    const TRun plain = Run(Physical({"--json", "-"}));
    ASSERT_EQ(plain.Code, 0) << plain.Err;
    EXPECT_NEAR(JsonNumber(r.Out, "arcsec_per_step") / JsonNumber(plain.Out, "arcsec_per_step"), 3.76 / 5.7, 1e-6);
}

TEST_F(CliDrive, AShortTrailWithoutPeriodIsNoFailureButGivesNoPecTable)
{
    std::vector<std::string> a = {"--drive", "--image", File("short.png"), "--json", "-"};
    a.insert(a.end(), Short->begin(), Short->end());
    const TRun r = Run(a);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Out.find("\"worm_period_source\": \"none\""), std::string::npos);
    EXPECT_NE(r.Out.find("\"worm_period_s\": null"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.Err, m, std::regex("Worm period: none\\. (.+)"))) << r.Err;
    EXPECT_GT(m[1].length(), 20) << "the summary says why";

    // Asking for the table fails and writes none of the outputs.
    a.insert(a.end(), {"--pec", File("none.pec"), "--csv", File("none.csv")});
    a[4] = File("none.json");
    const TRun pec = Run(a);
    EXPECT_EQ(pec.Code, 1);
    EXPECT_NE(pec.Err.find("worm period"), std::string::npos) << pec.Err;
    EXPECT_EQ(pec.Out, "");
    for (const char* f : {"none.pec", "none.csv", "none.json"})
        EXPECT_FALSE(fs::exists(File(f))) << f;
}

TEST_F(CliDrive, RefusalsExitWithTheirMessageAndWriteNothing)
{
    struct TCase {
        const char* Image;
        std::vector<std::string> Points;
        const char* Says;
    };
    const TCase cases[] = {
        {"saturated.png", *Short, "The trail is saturated along 100 %"},
        {"short.png", {"--start", "40,50", "--stop", "560,50", "--inline", "300,50"}, "leaves the picture"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> a = {"--drive", "--image", File(c.Image), "--json", File("refused.json")};
        a.insert(a.end(), c.Points.begin(), c.Points.end());
        const TRun r = Run(a);
        EXPECT_EQ(r.Code, 1) << c.Image;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_FALSE(fs::exists(File("refused.json")));
    }
}

// One output that cannot be written: the others are not replaced either,
// and the message gives the system's reason.
TEST_F(CliDrive, AFailingOutputReplacesNoneOfTheOthers)
{
    std::ofstream(File("kept.json")) << "old";
    const TRun r = Run(Physical({"--json", File("kept.json"), "--pec", "-", "--csv", File("no-folder/x.csv")}));
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "Cannot create file " + File("no-folder/x.csv") + ": No such file or directory\n");
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(ReadAll(File("kept.json")), "old");
}

// A mount's PEC file without its phase reference, from under one worm cycle
// or without a worm period: the message, exit 1, and every file as it was.
TEST_F(CliDrive, PecFilesWithoutWhatTheyNeedWriteNothing)
{
    std::vector<std::string> shortTrail = {"--drive", "--image", File("short.png")};
    shortTrail.insert(shortTrail.end(), Short->begin(), Short->end());
    std::vector<std::string> shortWithPeriod = shortTrail;
    shortWithPeriod.insert(shortWithPeriod.end(), {"--worm-period", "120"});
    struct TCase {
        std::vector<std::string> Args;
        const char* Says;
    };
    const TCase cases[] = {
        {Physical({"--eqmod", File("kept.txt"), "--steps-per-worm", "50133"}),
         "An EQMOD PEC file needs the RA motor position at START and the motor steps per worm turn"},
        {Physical({"--celestron", File("kept.pec"), "--motor-start", "12", "--steps-per-worm", "50133"}),
         "A Celestron PEC file needs the worm phase at START (0 at the mount's PEC index)"},
        {shortWithPeriod, "worm cycles: a PEC file needs at least one whole cycle"},
        {shortTrail, "A PEC file needs a worm period"},
    };
    for (const TCase& c : cases) {
        std::ofstream(File("kept.txt")) << "old eqmod";
        std::ofstream(File("kept.pec")) << "old celestron";
        std::ofstream(File("kept.json")) << "old json";
        std::vector<std::string> a = c.Args;
        if (std::find(a.begin(), a.end(), "--eqmod") == a.end() && std::find(a.begin(), a.end(), "--celestron") == a.end())
            a.insert(a.end(), {"--worm-phase", "10", "--celestron", File("kept.pec")});
        a.insert(a.end(), {"--json", File("kept.json")});
        const TRun r = Run(a);
        EXPECT_EQ(r.Code, 1) << c.Says;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(ReadAll(File("kept.txt")), "old eqmod");
        EXPECT_EQ(ReadAll(File("kept.pec")), "old celestron");
        EXPECT_EQ(ReadAll(File("kept.json")), "old json");
    }
}

TEST_F(CliDrive, UsageErrorsExitTwoWithOneLine)
{
    const std::vector<std::string> points = {"--image", Sample("physical.png"), "--start", "40,55",
                                             "--stop",  "1580,45",              "--inline", "810,32"};
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--drive", "--figure", "error"}, "--figure"},
        {{"--drive", "--average", "5"}, "--average"},
        {{"--json", "-"}, "--json"},
        {{"--pec", "p.txt"}, "--pec"},
        {{"--worm-period", "100"}, "--worm-period"},
        {{"--half-width", "auto"}, "--half-width"},
        {{"--drive", "--json", "-", "--csv", "-"}, "standard output"},
        {{"--drive", "--json", "same", "--pec", "same"}, "same"},
        {{"--drive", "--worm-period", "-5"}, "-5"},
        {{"--drive", "--worm-period", "1e9"}, "1e9"},
        {{"--drive", "--harmonics", "2.5"}, "2.5"},
        {{"--drive", "--harmonics", "0"}, "--harmonics"},
        {{"--drive", "--tolerance", "0"}, "--tolerance"},
        {{"--drive", "--half-width", "wide"}, "wide"},
        {{"--drive", "--detrend", "cubic"}, "cubic"},
        {{"--drive", "--drive"}, "twice"},
    };
    for (const auto& [extra, mentions] : rows) {
        std::vector<std::string> a = points;
        a.insert(a.end(), extra.begin(), extra.end());
        const TRun r = Run(a);
        EXPECT_EQ(r.Code, 2) << mentions;
        EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
        EXPECT_NE(r.Err.find(mentions), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
}

// A run that is refused or fails: exit 1 and the message.
struct FailRow {
    const char* Name;
    std::vector<std::string> Args; // replacing the standard ones by name
    const char* Message;
};

void PrintTo(const FailRow& r, std::ostream* os)
{
    *os << r.Name;
}

class CliFails : public Cli, public ::testing::WithParamInterface<FailRow> {};

TEST_P(CliFails, WithItsMessage)
{
    std::vector<std::string> a = Args();
    const FailRow& row = GetParam();
    for (std::size_t i = 0; i + 1 < row.Args.size(); i += 2) {
        auto at = std::find(a.begin(), a.end(), row.Args[i]);
        std::string value = row.Args[i + 1];
        if (value.rfind("@", 0) == 0)
            value = File(value.substr(1));
        if (at == a.end()) {
            a.push_back(row.Args[i]);
            a.push_back(value);
        } else if (value == "-") {
            a.erase(at, at + 2);
        } else {
            *(at + 1) = value;
        }
    }
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, std::string(row.Message) + "\n");
    EXPECT_EQ(r.Out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliFails,
    ::testing::Values(
        FailRow{"flat_without_dark", {"--dark", "-"}, "Dark image is not applied. Load dark image first!"},
        FailRow{"dark_of_another_size", {"--dark", "@small.png"}, "Dark image must have equal size!"},
        FailRow{"flat_of_another_size", {"--flat", "@small.png"}, "Flat image must have equal size!"},
        FailRow{"start_equals_stop", {"--stop", "54,220"}, "Invalid floating point operation"},
        FailRow{"focal_length_zero", {"--settings", "@f0.ini"}, "Floating point division by zero"},
        FailRow{"unwritable_csv", {"--csv", "/nonexistent-folder/x.csv"},
                "Cannot create file /nonexistent-folder/x.csv: No such file or directory"}),
    [](const ::testing::TestParamInfo<FailRow>& info) { return std::string(info.param.Name); });

TEST_F(Cli, AMissingSettingsFileIsAnErrorNotTheInitialValues)
{
    std::vector<std::string> a = Args();
    a[7] = File("none.ini");
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "Cannot open file " + File("none.ini") + "\n");
    EXPECT_EQ(r.Out, "");
}

TEST_F(Cli, AFileThatCannotBeReadFailsWithTheLoadersMessage)
{
    std::vector<std::string> a = Args();
    a[1] = File("missing.png");
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("missing.png"), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
    EXPECT_EQ(r.Out, "");
}

// A settings path that is no regular file is refused at once: a pipe used to
// block for ever in open, a folder or device to give the initial values.
TEST_F(Cli, SettingsThatAreNoRegularFileAreRefused)
{
    const std::string fifo = File("settings.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, Dir->string(), std::string("/dev/zero")}) {
        std::vector<std::string> a = Args();
        a[7] = path;
        const TRun r = RunProgram("timeout", [&] {
            std::vector<std::string> t = {"20", VINSK_CLI};
            t.insert(t.end(), a.begin(), a.end());
            return t;
        }(), *Dir);
        EXPECT_EQ(r.Code, 1) << path;
        EXPECT_EQ(r.Err, "Cannot read settings file " + path + ": not a regular file\n");
        EXPECT_EQ(r.Out, "");
    }
}

TEST_F(Cli, CheckPointsFarOutsideThePictureAreRefused)
{
    std::vector<std::string> a = Args();
    a[11] = "40000000," + std::to_string(Options->Stop.Y);
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err.rfind("The check points are too far apart", 0), 0u) << r.Err;
    EXPECT_EQ(r.Out, "");
}

// Output that cannot be written fails the run: a full device, a closed
// standard output, for the statistics and for the CSV alike.
TEST_F(Cli, OutputThatCannotBeWrittenFails)
{
    std::string args;
    for (const std::string& s : Args())
        args += " " + Quote(s);
    const fs::path err = *Dir / "full.err";
    for (const char* redirect : {" >/dev/full", " --csv - >/dev/full", " >&-", " --csv - >&-"}) {
        const std::string cmd = "LC_ALL=C " + Quote(VINSK_CLI) + args + redirect + " 2>" + Quote(err.string());
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << redirect;
        EXPECT_EQ(WEXITSTATUS(status), 1) << redirect;
        EXPECT_EQ(ReadAll(err).rfind("Cannot write to standard output: ", 0), 0u) << redirect << ": " << ReadAll(err);
    }
    for (const char* redirect : {" >/dev/full", " >&-"}) {
        const std::string cmd = Quote(VINSK_CLI) + " --version" + redirect + " 2>/dev/null";
        const int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << redirect;
    }
}

// An output naming an input under any name would replace it with its text.
TEST_F(Cli, OutputOntoAnInputFileIsRefused)
{
    const std::string link = File("dark-link.csv");
    fs::create_symlink(File("dark.png"), link);
    const std::string before = ReadAll(File("dark.png"));
    for (const auto& [csv, option] : {std::pair{File("trail.png"), "--image"}, std::pair{link, "--dark"},
                                      std::pair{File("flat.png"), "--flat"}, std::pair{File("trail.ini"), "--settings"}}) {
        const TRun r = Cli_(Args({"--csv", csv}));
        EXPECT_EQ(r.Code, 2) << csv;
        EXPECT_NE(r.Err.find(std::string("--csv names the same file as ") + option), std::string::npos) << r.Err;
    }
    for (const char* output : {"--json", "--pec"}) {
        const TRun r = Cli_(Args({"--drive", output, link}));
        EXPECT_EQ(r.Code, 2) << output;
        EXPECT_NE(r.Err.find(std::string(output) + " names the same file as --dark"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(ReadAll(File("dark.png")), before);
}

// Bad arguments: exit 2 and one line on standard error.
struct ArgRow {
    const char* Name;
    std::vector<std::string> Args;
    const char* Mentions;
};

void PrintTo(const ArgRow& r, std::ostream* os)
{
    *os << r.Name;
}

class CliArguments : public Cli, public ::testing::WithParamInterface<ArgRow> {};

TEST_P(CliArguments, AreRefusedWithOneLine)
{
    const ArgRow& row = GetParam();
    std::vector<std::string> a = row.Args;
    for (std::string& s : a)
        if (s == "@image")
            s = File("trail.png");
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find(row.Mentions), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliArguments,
    ::testing::Values(
        ArgRow{"nothing", {}, "--image"},
        ArgRow{"no_inline", {"--image", "@image", "--start", "1,1", "--stop", "9,2"}, "--inline"},
        ArgRow{"bad_point", {"--image", "@image", "--start", "1;1", "--stop", "9,2", "--inline", "5,3"}, "--start"},
        ArgRow{"fraction", {"--image", "@image", "--start", "1.5,1", "--stop", "9,2", "--inline", "5,3"}, "1.5"},
        ArgRow{"unknown_figure",
               {"--image", "@image", "--start", "1,1", "--stop", "9,2", "--inline", "5,3", "--figure", "histogram"},
               "histogram"},
        ArgRow{"average_too_small",
               {"--image", "@image", "--start", "1,1", "--stop", "9,2", "--inline", "5,3", "--average", "1"},
               "--average"},
        ArgRow{"missing_value", {"--image"}, "--image"},
        ArgRow{"unknown_option", {"--image", "@image", "--zoom", "2"}, "--zoom"},
        ArgRow{"twice", {"--image", "@image", "--image", "@image"}, "twice"},
        ArgRow{"some_points", {"--image", "@image", "--start", "1,1", "--figure", "error"}, "--inline"},
        ArgRow{"find_with_figure", {"--find-trail", "--image", "@image", "--figure", "error"}, "--figure"},
        ArgRow{"find_with_points", {"--find-trail", "--image", "@image", "--start", "1,1"}, "--start"},
        ArgRow{"find_with_exposure", {"--find-trail", "--image", "@image", "--exposure", "100"}, "--exposure"},
        ArgRow{"find_without_image", {"--find-trail", "--channel", "r"}, "--image"}),
    [](const ::testing::TestParamInfo<ArgRow>& info) { return std::string(info.param.Name); });

// --- Finding the trail --------------------------------------------------------

std::vector<int> Numbers(const std::string& line)
{
    std::vector<int> n;
    const std::regex number(R"(-?\d+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), number); it != std::sregex_iterator(); ++it)
        n.push_back(std::stoi(it->str()));
    return n;
}

TEST_F(Cli, FindTrailPlacesThePointsOfTheRenderedSample)
{
    // The committed physically rendered trail and where its star really
    // stood at the start and the end of the exposure.
    const std::string sample = std::string(VINSK_SOURCE_DIR) + "/samples/physical.png";
    const TRun r = Cli_({"--find-trail", "--image", sample});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    ASSERT_TRUE(std::regex_match(r.Out, std::regex(R"(--start -?\d+,-?\d+ --stop -?\d+,-?\d+ --inline -?\d+,-?\d+\n)")))
        << r.Out;
    const std::vector<int> p = Numbers(r.Out);
    const std::string truth = ReadAll(std::string(VINSK_SOURCE_DIR) + "/samples/physical-truth.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(truth, m, std::regex(R"(start_px (\S+) (\S+)\nend_px (\S+) (\S+))")));
    EXPECT_LE(std::hypot(p[0] - std::stod(m[1]), p[1] - std::stod(m[2])), 3.0) << r.Out;
    EXPECT_LE(std::hypot(p[2] - std::stod(m[3]), p[3] - std::stod(m[4])), 3.0) << r.Out;
}

TEST_F(Cli, WithoutPointsTheRunFindsThemAndSaysWhichItUsed)
{
    const std::vector<std::string> pictures = {"--image", File("trail.png"), "--dark", File("dark.png"),
                                               "--flat",  File("flat.png")};
    std::vector<std::string> find = pictures;
    find.insert(find.begin(), "--find-trail");
    const TRun found = Cli_(find);
    ASSERT_EQ(found.Code, 0) << found.Err;

    std::vector<std::string> a = pictures;
    a.insert(a.end(), {"--settings", File("trail.ini")});
    const TRun automatic = Cli_(a);
    ASSERT_EQ(automatic.Code, 0) << automatic.Err;
    EXPECT_EQ(automatic.Err, found.Out);
    // The same run as with those points given.
    const std::vector<int> p = Numbers(found.Out);
    ASSERT_EQ(p.size(), 6u);
    for (std::size_t i = 0; i < 3; ++i)
        a.insert(a.end(), {i == 0 ? "--start" : i == 1 ? "--stop" : "--inline",
                           std::to_string(p[2 * i]) + "," + std::to_string(p[2 * i + 1])});
    const TRun given = Cli_(a);
    ASSERT_EQ(given.Code, 0) << given.Err;
    EXPECT_EQ(automatic.Out, given.Out);
    EXPECT_FALSE(automatic.Out.empty());
}

TEST_F(Cli, NoTrailIsARefusalInEveryMode)
{
    WritePng(File("blank.png"), TRgbImage(300, 200));
    for (const std::vector<std::string>& a :
         {std::vector<std::string>{"--find-trail", "--image", File("blank.png")},
          std::vector<std::string>{"--image", File("blank.png"), "--csv", "-"}}) {
        const TRun r = Cli_(a);
        EXPECT_EQ(r.Code, 1);
        EXPECT_EQ(r.Err, "No star trail found: nothing stands out from the background\n");
        EXPECT_EQ(r.Out, "");
    }
}

TEST_F(Cli, HelpExplainsTheOptions)
{
    const TRun r = Cli_({"--help"});
    EXPECT_EQ(r.Code, 0);
    for (const char* word : {"--image", "--dark", "--flat", "--settings", "--start", "--stop", "--inline",
                             "--figure", "--channel", "--average", "--csv", "--find-trail"})
        EXPECT_NE(r.Out.find(word), std::string::npos) << word;
}

// The long options a text names; the manual page writes each hyphen as \-.
std::set<std::string> OptionsNamed(std::string text)
{
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;)
        text.replace(at, 2, "-");
    std::set<std::string> names;
    const std::regex option("--[a-z][a-z-]*");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert(it->str());
    return names;
}

TEST_F(Cli, TheManualPageAndTheHelpNameTheSameOptions)
{
    const TRun help = Cli_({"--help"});
    ASSERT_EQ(help.Code, 0);
    const std::string page = ReadAll(fs::path(VINSK_SOURCE_DIR) / "dist/man/vinsk-cli.1");
    ASSERT_FALSE(page.empty());
    const std::set<std::string> inHelp = OptionsNamed(help.Out), inPage = OptionsNamed(page);
    EXPECT_TRUE(inHelp.count("--version") && inHelp.count("--image")) << help.Out;
    EXPECT_EQ(inHelp, inPage) << "an option is missing from --help or from dist/man/vinsk-cli.1";
    EXPECT_NE(page.find("\"Vinsk " VINSK_VERSION "\""), std::string::npos) << "the page's .TH names another version";
}

TEST_F(Cli, VersionNamesTheProgramAndTheProjectsVersion)
{
    const TRun r = Cli_({"--version"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "vinsk-cli " VINSK_VERSION "\n");
    EXPECT_EQ(r.Err, "");
    // Anywhere among the options, and before a missing required one.
    EXPECT_EQ(Cli_({"--channel", "r", "--version"}).Out, r.Out);
}

TEST_F(Cli, TheGeneratorPrintsTheCheckPointsItDrew)
{
    const TRun r = RunProgram(VINSK_SAMPLE_GEN, {"--out", Dir->string(), "--name", "gen"}, *Dir);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string points = "--start " + Point(Options->Start) + " --stop " + Point(Options->Stop) +
                               " --inline " + Point(Expected->InLine);
    EXPECT_NE(r.Out.find(points), std::string::npos) << r.Out;
    for (const char* f : {"gen.png", "gen-dark.png", "gen-flat.png", "gen.ini"})
        EXPECT_TRUE(fs::exists(*Dir / f)) << f;
    EXPECT_EQ(RunProgram(VINSK_SAMPLE_GEN, {"--out", Dir->string(), "--pe", "40,3,40"}, *Dir).Code, 1);
    EXPECT_EQ(RunProgram(VINSK_SAMPLE_GEN, {"--size", "10"}, *Dir).Code, 2);
}

std::string WithPoints(std::string text)
{
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

TEST_F(Cli, SettingsReadTheSameUnderEveryLocale)
{
    // A file mailed from another country: its separator is not the
    // reader's. The committed sample trail, uncalibrated.
    const std::string sample = (fs::path(VINSK_SOURCE_DIR) / "samples" / "trail.png").string();
    std::ofstream(File("point.ini"), std::ios::binary) << "[Camera]\nHPixSize=3.8\nWPixSize=3.8\n[Exposition]\ntime=94.5\n";
    std::ofstream(File("comma.ini"), std::ios::binary) << "[Camera]\nHPixSize=3,8\nWPixSize=3,8\n[Exposition]\ntime=94,5\n";
    auto run = [&](const std::string& ini, const std::string& locale) {
        std::vector<std::string> a = {"--image", sample, "--start", "40,180", "--stop", "520,150", "--inline", "279,153"};
        if (!ini.empty()) {
            a.push_back("--settings");
            a.push_back(File(ini));
        }
        a.push_back("--csv");
        a.push_back("-");
        return RunProgram(VINSK_CLI, a, *Dir, locale);
    };
    const TRun base = run("point.ini", "C");
    ASSERT_EQ(base.Code, 0) << base.Err;
    EXPECT_EQ(base.Err.find("not read"), std::string::npos) << base.Err;
    // The time step is the file's exposure over the 481 samples.
    const auto p = Points(base.Out);
    ASSERT_GE(p.size(), 2u);
    EXPECT_DOUBLE_EQ(p[1].first, 94.5 / static_cast<double>(p.size() - 1));
    EXPECT_NE(base.Err, run("", "C").Err) << "the settings changed nothing";
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        for (const char* ini : {"point.ini", "comma.ini"}) {
            const TRun r = run(ini, locale);
            ASSERT_EQ(r.Code, 0) << locale << " " << ini << ": " << r.Err;
            // Under de_DE every number is written with a comma, the CSV's
            // "; " apart.
            EXPECT_EQ(WithPoints(r.Out), base.Out) << locale << " " << ini;
            EXPECT_EQ(WithPoints(r.Err), base.Err) << locale << " " << ini;
        }
    }
}

TEST_F(Cli, UnreadSettingsValuesAreNamedOnStandardError)
{
    std::string ini = ReadAll(File("trail.ini"));
    ini.replace(ini.find("Focal="), 6, "Focal=1.2.");
    ini.replace(ini.find("Distance="), 9, "Distance=");
    ini.replace(ini.find("time="), 5, "time=ninety ");
    std::ofstream(File("unread.ini"), std::ios::binary) << ini;
    std::vector<std::string> a = Args();
    a[7] = File("unread.ini");
    const TRun r = Cli_(a);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "Settings: 2 values not read: Focal, time\n");
    // The unread values kept their initial ones.
    std::ofstream(File("initial.ini"), std::ios::binary) << "[Camera]\n";
    a[7] = File("initial.ini");
    EXPECT_EQ(r.Out, Cli_(a).Out);
}

} // namespace

// --runs on saved reports: the table, and for any report that cannot take
// part one message naming it, exit 1 and no output at all.
TEST_F(CliDrive, RunsCompareSavedReportsOrWriteNothing)
{
    ASSERT_EQ(Run(Physical({"--json", File("a.json"), "--worm-phase", "0"})).Code, 0);
    ASSERT_EQ(Run(Physical({"--json", File("b.json"), "--worm-phase", "90"})).Code, 0);
    ASSERT_EQ(Run(Physical({"--json", File("g.json"), "--worm-phase", "0", "--channel", "g"})).Code, 0);
    const std::string a = ReadAll(File("a.json"));
    std::ofstream(File("cut.json"), std::ios::binary) << a.substr(0, a.size() / 3);
    std::string old = a;
    old.erase(old.find(",\n  \"format_version\""));
    std::ofstream(File("old.json"), std::ios::binary) << old << "\n}\n";

    const TRun ok = Run({"--runs", File("a.json"), File("b.json"), "--json", File("runs.json")});
    EXPECT_EQ(ok.Code, 0) << ok.Err;
    EXPECT_NE(ok.Out.find("2: P-P "), std::string::npos) << ok.Out;
    EXPECT_NE(ok.Out.find("(+0 %); aligned by phase"), std::string::npos) << ok.Out;
    EXPECT_NE(ReadAll(File("runs.json")).find("\"alignment\": \"phase\""), std::string::npos);

    const struct {
        std::vector<std::string> Args;
        std::string Says;
    } rows[] = {
        {{"--runs", File("a.json"), File("cut.json"), "--json", File("out.json")},
         File("cut.json") + " is not a drive report: its JSON breaks off"},
        {{"--runs", File("a.json"), File("old.json"), "--json", File("out.json")},
         File("old.json") + " was written by an older Vinsk: analyse the picture again"},
        {{"--runs", File("a.json"), File("g.json"), "--combine", "--pec", File("out.json")},
         File("g.json") + " measured the green channel, " + File("a.json") + " measured the average channel"},
        {{"--runs", File("a.json"), File("b.json"), "--combine", "--pec", File("out.json"), "--eqmod",
          File("e.txt")},
         "An EQMOD PEC file needs the RA motor position at START"},
        {{"--runs", File("a.json"), File("missing.json"), "--json", File("out.json")},
         "Cannot open " + File("missing.json") + ": No such file or directory"},
    };
    for (const auto& row : rows) {
        const TRun r = Run(row.Args);
        EXPECT_EQ(r.Code, 1) << row.Says;
        EXPECT_EQ(r.Err.rfind(row.Says, 0), 0u) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_FALSE(fs::exists(File("out.json")));
    }
}
