// PEC files read back as the mount drivers read them: readers written here
// from the drivers' layouts, not from the writer.
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/FilePhase.h"
#include "drive/PecFiles.h"

using namespace vinsk;

namespace {

constexpr double Pi = 3.14159265358979323846;

// A result with a known PEC fit: two harmonics of a 480 s worm, the record
// 2.5 cycles long, its first trimmed step 12 s after the exposure's start.
TDriveResult Fitted()
{
    TDriveResult r;
    r.WormPeriod = 480;
    r.T = {12, 1212};
    r.Record = 1200;
    r.PecCos = {3.0, 0.4};
    r.PecSin = {-1.5, 0.25};
    return r;
}

// The true fit, written out here: sum of a_i cos(i w) + b_i sin(i w).
double Truth(const TDriveResult& r, double t)
{
    const double w = 2 * Pi * (t - r.T.front()) / r.WormPeriod;
    return r.PecCos[0] * std::cos(w) + r.PecSin[0] * std::sin(w) + r.PecCos[1] * std::cos(2 * w) +
           r.PecSin[1] * std::sin(2 * w);
}

struct TEqmod {
    int WormPeriod = 0;
    long long StepsPerWorm = 0;
    std::vector<long long> Motor;
    std::vector<double> Pe;
};

// As the driver reads it: the first line skipped whatever it holds, "!"
// keys, "#" comments, rows split at blanks; a row of a further cycle is
// averaged into the first.
TEqmod ReadEqmod(const std::string& text)
{
    TEqmod e;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<int> count;
    while (std::getline(in, line)) {
        EXPECT_FALSE(line.empty() || line.back() != '\r') << "not CRLF: " << line;
        line.pop_back();
        if (line.rfind("!WormPeriod=", 0) == 0) {
            e.WormPeriod = std::stoi(line.substr(12));
            e.StepsPerWorm = 0; // reading the period resets the steps
        } else if (line.rfind("!StepsPerWorm=", 0) == 0) {
            e.StepsPerWorm = std::stoll(line.substr(14));
        } else if (!line.empty() && line[0] != '#') {
            std::istringstream row(line);
            long long i = 0, m = 0;
            double pe = 0;
            row >> i >> m >> pe;
            EXPECT_TRUE(row && row.eof()) << line;
            const std::size_t k = static_cast<std::size_t>(i % e.WormPeriod);
            if (e.Pe.size() <= k) {
                e.Pe.resize(k + 1, 0), e.Motor.resize(k + 1, 0), count.resize(k + 1, 0);
                e.Motor[k] = m;
            }
            e.Pe[k] += pe, ++count[k];
        }
    }
    for (std::size_t k = 0; k < e.Pe.size(); ++k)
        e.Pe[k] /= count[k];
    return e;
}

// As the INDI driver reads it: the bin count, count + 1 values, the worm's
// arc seconds.
std::vector<double> ReadCelestron(const std::string& text, int& arcsec)
{
    std::istringstream in(text);
    int bins = 0;
    in >> bins;
    EXPECT_EQ(bins, 88);
    std::vector<double> data(static_cast<std::size_t>(bins + 1));
    for (double& v : data)
        in >> v;
    in >> arcsec;
    std::string rest;
    EXPECT_FALSE(in >> rest) << "more after the worm's arc seconds: " << rest;
    return data;
}

} // namespace

TEST(PecFiles, EqmodRowsAreTheFitAtTheirMotorSteps)
{
    const TDriveResult r = Fitted();
    for (const int hemisphere : {1, -1}) {
        SCOPED_TRACE(hemisphere > 0 ? "north" : "south");
        TPhaseInput p;
        p.HaveMotorStart = true;
        p.MotorStart = 8388600; // near a 24-bit counter's top: the steps wrap
        p.StepsPerWorm = 50133;
        p.Hemisphere = hemisphere;
        const TPecFile f = EqmodPecFile(r, p, {false, 7200, "1.1", "trail.fits"});
        ASSERT_FALSE(f.Refused()) << f.Message;
        EXPECT_EQ(f.Text.rfind("# Vinsk 1.1 PEC, trail.fits\r\n", 0), 0u);
        const TEqmod e = ReadEqmod(f.Text);
        EXPECT_EQ(e.WormPeriod, 480);
        EXPECT_EQ(e.StepsPerWorm, 50133);
        ASSERT_EQ(e.Pe.size(), 480u);
        for (std::size_t i = 0; i < e.Pe.size(); i += 37) {
            EXPECT_NEAR(e.Pe[i], hemisphere * Truth(r, static_cast<double>(i)), 1e-4) << i;
            const long long m = ((8388600 + hemisphere * std::llround(i * 50133.0 / 480)) % 50133 + 50133) % 50133;
            EXPECT_LE(std::llabs(e.Motor[i] - m), 1) << i;
        }
        const TPecFile inv = EqmodPecFile(r, p, {true, 7200, "1.1", "trail.fits"});
        EXPECT_NEAR(ReadEqmod(inv.Text).Pe[100], -e.Pe[100], 1e-12);
    }
}

// A picture's recorded phase writes the EQMOD file with nothing typed, and
// replaces what the user had given.
TEST(PecFiles, TheFilesPhaseWritesTheEqmodFile)
{
    TPhaseInput typed;
    typed.HaveMotorStart = true;
    typed.MotorStart = 8388600;
    typed.StepsPerWorm = 50133;
    typed.Hemisphere = -1;
    TFileSetupValues v;
    v.MotorStart = 8388600;
    v.StepsPerWorm = 50133;
    v.Hemisphere = -1;
    TPhaseInput before;
    before.MotorStart = 5;
    before.StepsPerWorm = 7;
    // The worm phase is NaN, not given, in both: compared field by field.
    auto same = [](const TPhaseInput& a, const TPhaseInput& b) {
        return a.HaveMotorStart == b.HaveMotorStart && a.MotorStart == b.MotorStart &&
               a.StepsPerWorm == b.StepsPerWorm && a.Hemisphere == b.Hemisphere &&
               std::isnan(a.WormPhaseDeg) == std::isnan(b.WormPhaseDeg);
    };
    EXPECT_TRUE(same(PhaseWithFileValues(before, v), typed));
    const TPecFile f = EqmodPecFile(Fitted(), PhaseWithFileValues({}, v), {});
    EXPECT_FALSE(f.Refused()) << f.Message;
    EXPECT_EQ(f.Text, EqmodPecFile(Fitted(), typed, {}).Text);
    // A file without them keeps the typed phase.
    EXPECT_TRUE(same(PhaseWithFileValues(typed, {}), typed));
}

// The recorded count's uncertainty goes into the report with that count,
// and only then.
TEST(PecFiles, TheReportGivesTheRecordedCountsUncertainty)
{
    struct TRow {
        const char* Name;
        std::optional<long long> Count;
        std::optional<double> Sigma;
        const char* Tail; // how the phase object ends
    };
    const TRow rows[] = {
        {"recorded", 8388600, 52.5, "\"hemisphere\": \"north\", \"motor_start_sigma\": 52.5}"},
        {"count without sigma", 8388600, std::nullopt, "\"hemisphere\": \"north\"}"},
        {"sigma without count", std::nullopt, 52.5, "\"hemisphere\": \"north\"}"},
    };
    for (const TRow& row : rows) {
        TFileSetupValues v;
        v.MotorStart = row.Count;
        v.MotorStartSigma = row.Sigma;
        const std::string json = PhaseJson(PhaseWithFileValues({}, v));
        EXPECT_TRUE(json.ends_with(row.Tail)) << row.Name << ": " << json;
    }
    // A new exposure's count, typed over the recorded one, has no sigma.
    TFileSetupValues v;
    v.MotorStart = 8388600;
    v.MotorStartSigma = 52.5;
    const TPhaseInput recorded = PhaseWithFileValues({}, v);
    TFileSetupValues typed;
    typed.MotorStart = 100;
    EXPECT_EQ(PhaseJson(PhaseWithFileValues(recorded, typed)).find("motor_start_sigma"), std::string::npos);
}

// The Drive tab reruns the analysis only when its inputs differ: values not
// given (NaN) must compare equal, or every look at the tab reruns it.
TEST(PecFiles, InputsNotGivenCompareEqual)
{
    EXPECT_EQ(TPhaseInput{}, TPhaseInput{});
    EXPECT_EQ(TDriveInput{}, TDriveInput{});
    TPhaseInput given;
    given.WormPhaseDeg = 0;
    EXPECT_NE(given, TPhaseInput{});
    TPhaseInput sigma;
    sigma.MotorStartSigma = 52.5;
    EXPECT_NE(sigma, TPhaseInput{});
    TDriveInput moved;
    moved.InLine.Y = 1;
    EXPECT_NE(moved, TDriveInput{});
}

TEST(PecFiles, CelestronBinsAreTheCorrectionFromTheIndex)
{
    const TDriveResult r = Fitted();
    TPhaseInput p;
    p.WormPhaseDeg = 250; // START 250 deg after the index
    const TPecFile f = CelestronPecFile(r, p, 15.041, {});
    ASSERT_FALSE(f.Refused()) << f.Message;
    EXPECT_TRUE(f.Warning.empty()) << f.Warning; // 7200" / 15.041"/s = 478.7 s, within 1 %
    int arcsec = 0;
    const std::vector<double> data = ReadCelestron(f.Text, arcsec);
    EXPECT_EQ(arcsec, 7200);
    // The index lies (360 - 250) / 360 of a period after START.
    const auto at = [&](int j) { return std::fmod((j / 88.0 + 110.0 / 360) * 480, 480.0); };
    for (int j = 0; j <= 88; ++j)
        EXPECT_NEAR(data[j], -(Truth(r, at(j)) - Truth(r, at(0))), 1e-6) << j;
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[88], 0);

    TPecFileOptions half;
    half.CelestronWormArcsec = 3600;
    EXPECT_NE(CelestronPecFile(r, p, 15.041, half).Warning.find("that is 239.3 s, not the worm period of 480.0 s"), std::string::npos);
}

TEST(PecFiles, WithoutWhatTheyNeedNoFileIsMade)
{
    TPhaseInput both;
    both.WormPhaseDeg = 0;
    both.HaveMotorStart = true;
    both.StepsPerWorm = 50133;
    TDriveResult shortTrail = Fitted();
    shortTrail.Record = 400;
    TDriveResult noPeriod = Fitted();
    noPeriod.WormPeriod = 0;
    struct TCase {
        const char* Name;
        TDriveResult R;
        TPhaseInput P;
        const char* Eqmod;
        const char* Celestron;
    };
    const TCase cases[] = {
        {"no phase", Fitted(), TPhaseInput{}, "needs the RA motor position at START and the motor steps per worm",
         "needs the worm phase at START"},
        {"under one cycle", shortTrail, both, "The trail holds 0.83 worm cycles", "The trail holds 0.83 worm cycles"},
        {"no period", noPeriod, both, "needs a worm period", "needs a worm period"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TPecFile e = EqmodPecFile(c.R, c.P, {});
        const TPecFile k = CelestronPecFile(c.R, c.P, 15, {});
        EXPECT_TRUE(e.Refused() && e.Text.empty());
        EXPECT_TRUE(k.Refused() && k.Text.empty());
        EXPECT_NE(e.Message.find(c.Eqmod), std::string::npos) << e.Message;
        EXPECT_NE(k.Message.find(c.Celestron), std::string::npos) << k.Message;
    }
}
