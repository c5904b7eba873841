// Reading a guiding program's log: the mount's unguided RA error rebuilt
// from the offsets and the corrections, on logs written here with a known
// error, on damaged logs, and on two real logs of real mounts.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "drive/DrivePositions.h"
#include "guidelog/GuideLog.h"

using namespace vinsk;

namespace {

constexpr double Pi = 3.14159265358979323846;
const char* Columns = "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,"
                      "RADuration,RADirection,DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode";

// A log of one section: the unguided offset along RA is a sine of amplitude
// Amp px and period Period s plus a slow walk; a guider sends 70 % of each
// offset back as a correction. Halfway the lock position moves (a dither),
// frames are lost, and the guider settles for a while.
struct TMadeLog {
    std::string Text;
    double Amp = 1.5, Period = 300, Scale = 2.0, Dec = 30, XAngle = 30;
    int Frames = 600;
    double Unguided(double t) const { return Amp * std::sin(2 * Pi * t / Period) + 0.0004 * t; }
};

TMadeLog MakeLog(bool withAngle, bool eastPositive = false)
{
    TMadeLog m;
    std::ostringstream o;
    o << "PHD2 version 2.6.11, Log version 2.5. Log enabled at 2024-01-01 20:00:00\r\n\r\n"
      << "Guiding Begins at 2024-01-01 20:01:00\r\n"
      << "Pixel scale = " << m.Scale << " arc-sec/px, Binning = 1, Focal length = 400 mm\r\n"
      << "Mount = Made-up,  connected, guiding enabled";
    if (withAngle)
        o << ", xAngle = " << m.XAngle << ", xRate = 5.000";
    o << ", parity = +/+,\r\n"
      << "Dec = " << m.Dec << " deg, Hour angle = 1.00 hr, Pier side = East\r\n"
      << "Lock position = 100.000, 200.000, Star position = 100.000, 200.000, HFD = 2.00 px\r\n"
      << Columns << "\r\n";
    const double a = m.XAngle * Pi / 180;
    double sum = 0, shift = 0;
    for (int k = 1; k <= m.Frames; ++k) {
        const double t = 2.0 * k;
        if (k == 300) { // the lock moves by (0.5, -0.8) camera pixels
            o << "INFO: DITHER by 0.500, -0.800, new lock pos = 100.500, 199.200\r\n"
              << "INFO: SETTLING STATE CHANGE, Settling started\r\n";
            shift += 0.5 * std::cos(a) - 0.8 * std::sin(a);
        }
        if (k == 306)
            o << "INFO: SETTLING STATE CHANGE, Settling complete\r\n";
        if (k % 97 == 0) {
            o << k << "," << t << ",\"DROP\",,,,,,,,,,,,,0,0.00,2,\"Star lost - low SNR\"\r\n";
            continue;
        }
        const double raw = m.Unguided(t) - sum - shift;
        const double guide = std::round(0.7 * raw * 1000) / 1000;
        const char* dir = guide == 0 ? "" : ((guide > 0) != eastPositive ? "W" : "E");
        char row[256];
        std::snprintf(row, sizeof row, "%d,%.3f,\"Mount\",0.000,0.000,%.3f,0.000,%.3f,0.000,%d,%s,0,,,,5000,20.00,0\r\n",
                      k, t, raw, guide, static_cast<int>(std::fabs(guide) * 100), dir);
        o << row;
        sum += guide;
    }
    o << "Guiding Ends at 2024-01-01 20:21:00\r\n";
    m.Text = o.str();
    return m;
}

TGuideSeries Read(const std::string& text, TGuideLogOptions options = {})
{
    std::istringstream in(text);
    return ReadGuideLog(in, options);
}

} // namespace

// The error comes back from the offsets and corrections, across the dither
// (bridged by the calibration angle, or estimated without it), the lost
// frames and the settling, with the sign and scale of the RA axis.
TEST(GuideLog, RebuildsTheUnguidedErrorAcrossADitherAndLostFrames)
{
    for (const bool withAngle : {true, false}) {
        for (const bool east : {false, true}) {
            SCOPED_TRACE(std::string(withAngle ? "with" : "without") + " angle, " + (east ? "East" : "West"));
            const TMadeLog m = MakeLog(withAngle, east);
            const TGuideSeries s = Read(m.Text);
            ASSERT_FALSE(s.Refused()) << s.Message;
            EXPECT_EQ(s.Kappa, east ? -1 : 1);
            EXPECT_EQ(s.Excluded.Lost, 6);
            EXPECT_EQ(s.Excluded.Settling, 6);
            EXPECT_EQ(s.LockMoves, 1);
            ASSERT_EQ(s.Time.size(), s.PE.size());
            const double factor = -(east ? -1 : 1) * m.Scale / std::cos(m.Dec * Pi / 180);
            // An offset of the whole series is no error; compare after the first frame's.
            const double offset = s.PE[0] - factor * m.Unguided(s.Time[0]);
            double worst = 0;
            for (std::size_t i = 0; i < s.PE.size(); ++i)
                worst = std::max(worst, std::fabs(s.PE[i] - offset - factor * m.Unguided(s.Time[i])));
            // Without the angle the step is estimated from a line through the
            // frames either side, which the sine's curvature over the
            // settling gap bends a little.
            EXPECT_LT(worst, (withAngle ? 0.01 : 0.03) * m.Amp * std::fabs(factor));
        }
    }
}

TEST(GuideLog, DamagedLogsAreRefusedNamingTheLine)
{
    const std::string good = MakeLog(true).Text;
    const std::size_t row = good.find("\r\n10,") + 2; // the 10th frame's row, line 18
    const std::size_t rowEnd = good.find("\r\n", row);
    struct TCase {
        const char* Name;
        std::string Text;
        const char* Message;
    };
    const std::string fewer = good.substr(0, good.find("\r\n15,") + 2);
    std::string missing = good;
    missing.replace(row, rowEnd - row, "10,20.000,\"Mount\",0.1,0.2");
    std::string text = good;
    text.replace(row, rowEnd - row, "10,20.000,\"Mount\",0.000,0.000,0.100,0.000,abc,0.000,0,,0,,,,5000,20.00,0");
    std::string backwards = good;
    backwards.replace(row + 3, 6, "17.000");
    const TCase cases[] = {
        {"no section", "Frame times\nnothing here\n", "The file holds no guiding section"},
        {"too few frames", fewer, "holds 14 usable frames; the analysis needs at least 20"},
        {"missing columns", missing, "Line 18: the row has 5 fields; the column line names 18"},
        {"text in a number", text, "Line 18: RAGuideDistance is not a number: \"abc\""},
        {"backwards", backwards, "Line 18: the time goes backwards (17.000 s after 18.000 s)"},
        {"binary", std::string("Guiding Begins at x\n\x7f" "ELF\0\0\x01", 27), "Line 2 is not text"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TGuideSeries s = Read(c.Text);
        EXPECT_TRUE(s.Refused());
        EXPECT_NE(s.Message.find(c.Message), std::string::npos) << s.Message;
    }
}

// The worm period of a labelled harmonic, or 0.
double Labelled(const TDriveResult& r, const char* label)
{
    for (const TDrivePeak& p : r.Peaks)
        if (p.Label == label)
            return p.Period;
    return 0;
}

// Two real logs of real mounts: their sections, what was left out, and the
// worm period the analysis finds against the mounts' known ones.
TEST(GuideLog, ReadsRealLogsAndFindsTheirWorms)
{
    const std::string dir = std::string(VINSK_SOURCE_DIR) + "/samples/guide-logs/";
    std::ifstream full(dir + "performance_dataset04.txt", std::ios::binary);
    ASSERT_TRUE(full);
    const TGuideSeries a = ReadGuideLog(full, {});
    ASSERT_FALSE(a.Refused()) << a.Message;
    EXPECT_EQ(GuideSectionLine(a.Section, a.SectionCount), "Section 1 of 1: 9369 s, 4286 frames, AstroPhysicsV2 driver");
    EXPECT_DOUBLE_EQ(a.Section.PixelScale, 2.66);
    EXPECT_DOUBLE_EQ(a.Section.DecDeg, 22.6);
    EXPECT_FALSE(a.InPixels);
    // This mount family's worm: 382.95 s.
    const TDriveResult ra = AnalysePositions(a.Time, a.PE, TDriveSettings{}, 15.041);
    ASSERT_FALSE(ra.Refused()) << ra.Message;
    EXPECT_EQ(ra.WormSource, TWormSource::Estimated);
    EXPECT_NEAR(ra.WormPeriod, 382.95, 0.01 * 382.95);
    EXPECT_NEAR(Labelled(ra, "P/1"), 382.95, 0.01 * 382.95);

    std::ifstream rows(dir + "dataset01.csv", std::ios::binary);
    ASSERT_TRUE(rows);
    const TGuideSeries b = ReadGuideLog(rows, {});
    ASSERT_FALSE(b.Refused()) << b.Message;
    EXPECT_TRUE(b.InPixels);
    EXPECT_EQ(b.Section.Frames, 726);
    EXPECT_EQ(b.Excluded.Lost + static_cast<int>(b.Time.size()), 726);
    // The guiding program's own test expects 483 +/- 5 s here.
    const TDriveResult rb = AnalysePositions(b.Time, b.PE, TDriveSettings{}, NAN);
    ASSERT_FALSE(rb.Refused()) << rb.Message;
    EXPECT_NEAR(rb.WormPeriod, 483, 5);
}
