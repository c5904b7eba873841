// Light on the trail that is not the star's: cosmic-ray hits, hot pixels
// and satellite streaks drawn onto rendered trails whose error is known.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "drive/DriveAnalysis.h"
#include "image/Bitmap32.h"
#include "image/SampleSource.h"
#include "linear/LinearPlane.h"
#include "tests/support/RenderedTrail.h"
#include "tools/sample-gen/PhysicalTrail.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

enum class TOdd { Hits, HotPixels, Streak };

struct TOutlierRow {
    const char* Name;
    int Bits;
    int Width, Height;
    double StartX, StartY, StopX, StopY, Sag;
    double Period, Cycles;
    TOdd Kind;
    int Count;         // hits or hot pixels
    double StreakDeg;  // the streak's angle to the trail
    bool Refused;      // a streak along the trail cannot be bridged
    std::uint64_t Seed;
};

TPhysicalOptions TrailOf(const TOutlierRow& row)
{
    return TableTrail({row.Width, row.Height, row.StartX, row.StartY, row.StopX, row.StopY, row.Sag}, row.Period,
                      row.Cycles, row.Bits, row.Seed);
}

// Where along the trail, and when, the light was added.
struct TMark {
    double X = 0, Y = 0, T = 0;
};

class TDrawing {
public:
    TDrawing(TPhysicalTrail& trail, const TPhysicalOptions& o) : FTrail(trail), FO(o) {}

    // The trail's crest near the point a fraction u along it, and the time
    // the star passed there.
    TMark On(double u) const
    {
        const TPhysicalTruth& tr = FTrail.Truth;
        const double dx = tr.EndX - tr.StartX, dy = tr.EndY - tr.StartY, chord = std::hypot(dx, dy);
        const double nx = -dy / chord, ny = dx / chord;
        const double px = tr.StartX + u * dx, py = tr.StartY + u * dy;
        TMark m;
        double best = -1;
        for (double j = -std::abs(FO.Sag) - 8; j <= std::abs(FO.Sag) + 8; j += 0.5) {
            const double x = px + j * nx, y = py + j * ny;
            const double v = Level(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
            if (v > best) {
                best = v;
                m.X = x;
                m.Y = y;
            }
        }
        // The star reached arc length s when it had turned s alpha.
        const double s = ((m.X - tr.StartX) * dx + (m.Y - tr.StartY) * dy) / chord * tr.PathLength / chord;
        const double pe0 = PhysicalPE(FO, 0);
        double lo = 0, hi = tr.ExposureS;
        for (int i = 0; i < 60; ++i) {
            const double t = (lo + hi) / 2;
            (FO.MountSpeed * t + PhysicalPE(FO, t) - pe0 < s * tr.Alpha ? lo : hi) = t;
        }
        m.T = lo;
        return m;
    }

    // Across the trail from a crest point: the direction to move off it.
    void Across(double& nx, double& ny) const
    {
        const TPhysicalTruth& tr = FTrail.Truth;
        const double dx = tr.EndX - tr.StartX, dy = tr.EndY - tr.StartY, chord = std::hypot(dx, dy);
        nx = -dy / chord;
        ny = dx / chord;
    }

    void Add(int x, int y, double amount)
    {
        if (x < 0 || y < 0 || x >= FTrail.Width || y >= FTrail.Height)
            return;
        const double full = FTrail.Bits == 16 ? 65535 : 255;
        for (int c = 0; c < 3; ++c) {
            std::uint16_t& v = FTrail.Levels[(static_cast<std::size_t>(y) * FTrail.Width + x) * 3 + c];
            v = static_cast<std::uint16_t>(std::min(full, v + amount));
        }
    }

    // A band w px wide through (x, y) at the angle deg to the trail, across the whole picture.
    void Streak(const TMark& at, double deg, double w, double amount)
    {
        const TPhysicalTruth& tr = FTrail.Truth;
        const double a = std::atan2(tr.EndY - tr.StartY, tr.EndX - tr.StartX) + deg * 3.14159265358979 / 180;
        const double ux = std::cos(a), uy = std::sin(a);
        for (int y = 0; y < FTrail.Height; ++y)
            for (int x = 0; x < FTrail.Width; ++x)
                if (std::abs((x - at.X) * uy - (y - at.Y) * ux) <= w / 2)
                    Add(x, y, amount);
    }

    double Full() const { return FTrail.Bits == 16 ? 65535 : 255; }
    // What a pixel takes before it clips.
    double Room(int x, int y) const { return std::max(0.0, Full() - 8 * (FTrail.Bits == 16 ? 257 : 1) - Level(x, y)); }

private:
    double Level(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= FTrail.Width || y >= FTrail.Height)
            return -1;
        return FTrail.Levels[(static_cast<std::size_t>(y) * FTrail.Width + x) * 3 + 1];
    }

    TPhysicalTrail& FTrail;
    const TPhysicalOptions& FO;
};

// The recovered drift-free error against the truth over the analysis' own
// steps, each with its best line removed: the RMS of the difference.
double ErrorRms(const TDriveResult& r, const TPhysicalTruth& truth)
{
    const std::size_t n = r.T.size();
    std::vector<double> d(n);
    for (std::size_t i = 0; i < n; ++i)
        d[i] = r.Error[i] - TruthError(truth, r.T[i]);
    double st = 0, sd = 0, stt = 0, std_ = 0;
    for (std::size_t i = 0; i < n; ++i)
        st += r.T[i], sd += d[i], stt += r.T[i] * r.T[i], std_ += r.T[i] * d[i];
    const double b = (n * std_ - st * sd) / (n * stt - st * st), a = (sd - b * st) / n;
    double ss = 0;
    for (std::size_t i = 0; i < n; ++i)
        ss += (d[i] - a - b * r.T[i]) * (d[i] - a - b * r.T[i]);
    return std::sqrt(ss / n);
}

class DriveOutlierTable : public ::testing::TestWithParam<TOutlierRow> {};

} // namespace

TEST_P(DriveOutlierTable, BridgesLightThatIsNotTheStar)
{
    const TOutlierRow& row = GetParam();
    const TPhysicalOptions o = TrailOf(row);
    TPhysicalTrail trail = RenderPhysicalTrail(o);
    TDrawing draw(trail, o);
    std::mt19937_64 rng(row.Seed);
    auto in = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    double nx, ny;
    draw.Across(nx, ny);
    std::vector<TMark> marks;
    if (row.Kind == TOdd::Streak) {
        marks.push_back(draw.On(in(0.3, 0.7)));
        draw.Streak(marks.back(), row.StreakDeg, 3, 0.3 * draw.Full());
    } else {
        // Spread along the trail, in its wings.
        for (int i = 0; i < row.Count; ++i) {
            TMark m = draw.On((i + in(0.25, 0.75)) / row.Count * 0.9 + 0.05);
            const double off = in(1.5, 2.5) * (in(0, 1) < 0.5 ? -1 : 1);
            const int x = static_cast<int>(std::lround(m.X + off * nx)), y = static_cast<int>(std::lround(m.Y + off * ny));
            // Not clipped: a clipped step is bridged as saturated.
            if (row.Kind == TOdd::Hits) {
                double amount = in(0.5, 1) * draw.Full();
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        amount = std::min(amount, draw.Room(x + dx, y + dy));
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        draw.Add(x + dx, y + dy, amount);
            } else {
                draw.Add(x, y, std::min(in(0.3, 0.6) * draw.Full(), draw.Room(x, y)));
            }
            marks.push_back(m);
        }
    }

    const TDriveInput in_ = InputFor(o, trail.Truth);
    // 8 bits through the raster, 16 through the light plane, as loaded pictures are read.
    TDriveResult r;
    if (row.Bits == 8) {
        r = AnalyseDrive(TRasterSamples(Raster(trail)), in_);
    } else {
        TLinearPlane plane;
        plane.Allocate16(trail.Width, trail.Height, 3, 16);
        std::copy(trail.Levels.begin(), trail.Levels.end(), plane.U16());
        r = AnalyseDrive(TLinearSamples(plane), in_);
    }
    if (row.Refused) {
        ASSERT_TRUE(r.Refused()) << row.Name;
        const std::string tail = ") is covered by light that is not the star: take a dark frame, or check for a "
                                 "streak across the trail";
        EXPECT_EQ(r.Message.rfind("Too much of the trail (", 0), 0u) << r.Message;
        EXPECT_NE(r.Message.find(tail), std::string::npos) << r.Message;
        return;
    }
    ASSERT_FALSE(r.Refused()) << row.Name << ": " << r.Message;
    ASSERT_TRUE(r.Repaired.has_value());
    const std::vector<double>& repaired = *r.Repaired;
    // Within three steps of each place the light was added.
    const double step = trail.Truth.Alpha / o.MountSpeed;
    for (const TMark& m : marks) {
        double nearest = 1e300;
        for (double t : repaired)
            nearest = std::min(nearest, std::abs(t - m.T));
        EXPECT_LE(nearest, 3.5 * step) << row.Name << ": nothing bridged near t = " << m.T;
    }
    // The drive bars of the accuracy table.
    const double pp = trail.Truth.PeakToPeak, rms = ErrorRms(r, trail.Truth);
    const double bar = row.Bits == 16 ? 0.025 : 0.05, ppBar = row.Bits == 16 ? 0.025 : 0.12;
    const double periodBar = row.Bits == 16 ? 0.005 : 0.01;
    std::printf("[%s] %zu steps bridged; P-P %.3f/%.3f, period %.2f/%.2f, error RMS %.2f %% of P-P\n", row.Name,
                repaired.size(), r.Stats.PeakToPeak, pp, r.WormPeriod, o.Terms.front().Period, 100 * rms / pp);
    EXPECT_LE(rms, bar * pp) << row.Name;
    EXPECT_NEAR(r.Stats.PeakToPeak, pp, ppBar * pp) << row.Name;
    if (row.Cycles >= 2) {
        EXPECT_NEAR(r.WormPeriod, o.Terms.front().Period, periodBar * o.Terms.front().Period) << row.Name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trails, DriveOutlierTable,
    ::testing::Values(
        TOutlierRow{"8 bits, 3 hits", 8, 4450, 200, 70, 80, 4370, 120, 30, 479, 2.27, TOdd::Hits, 3, 0, false, 401},
        TOutlierRow{"16 bits, steep, 5 hits", 16, 260, 3950, 120, 60, 150, 3890, 20, 240, 4, TOdd::Hits, 5, 0, false, 402},
        TOutlierRow{"8 bits, 5 hits", 8, 2800, 200, 80, 90, 2700, 110, 20, 300, 2.2, TOdd::Hits, 5, 0, false, 403},
        TOutlierRow{"16 bits, 3 hits", 16, 2800, 200, 80, 90, 2700, 110, -20, 300, 2.2, TOdd::Hits, 3, 0, false, 404},
        TOutlierRow{"8 bits, hot pixels, no dark frame", 8, 2800, 200, 80, 90, 2700, 110, 20, 300, 2.2, TOdd::HotPixels, 8, 0, false, 405},
        TOutlierRow{"8 bits, a streak at 70 degrees", 8, 3400, 400, 80, 190, 3300, 210, 20, 300, 2.7, TOdd::Streak, 0, 70, false, 406},
        TOutlierRow{"8 bits, a streak at 20 degrees", 8, 3400, 400, 80, 190, 3300, 210, 20, 300, 2.7, TOdd::Streak, 0, 20, true, 407}),
    [](const ::testing::TestParamInfo<TOutlierRow>& info) { return "o" + std::to_string(info.index); });
