// Light that is not the star's on rendered trails: cosmic-ray hits, hot
// pixels and satellite streaks added where the trail runs. Each step of
// extra light left a jump in the error for the rest of the trail.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/DriveAnalysis.h"
#include "image/Bitmap32.h"
#include "tools/sample-gen/PhysicalTrail.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

enum class TKind { Hits, HotPixels, Streak };

struct TRow {
    const char* Name;
    int Bits;
    TKind Kind;
    int Count;          // hits or hot pixels
    double StreakAngle; // degrees from the trail's direction
    bool Refused;
};

const TRow Rows[] = {
    {"3 hits, 8 bits", 8, TKind::Hits, 3, 0, false},
    {"5 hits, 8 bits", 8, TKind::Hits, 5, 0, false},
    {"3 hits, 16 bits", 16, TKind::Hits, 3, 0, false},
    {"5 hits, 16 bits", 16, TKind::Hits, 5, 0, false},
    {"hot pixels, 8 bits", 8, TKind::HotPixels, 6, 0, false},
    {"streak at 70 degrees", 8, TKind::Streak, 0, 70, false},
    {"a trail of too many hits", 16, TKind::Hits, 40, 0, true},
};

// 2.2 cycles of a 239.5 s worm along a straight trail of about 2,900 px.
TPhysicalOptions Mount(int bits)
{
    TPhysicalOptions o;
    o.Terms = {{5, 239.5, 0}, {1.5, 119.75, 0.7}};
    o.Drift = 0.01;
    o.Width = 3000;
    o.Height = 200;
    o.StartX = 60;
    o.StartY = 120;
    o.StopX = 2940;
    o.StopY = 80;
    o.Sag = 0;
    o.ExposureS = 2.2 * 239.5;
    o.Bits = bits;
    o.Crest = 120; // room for a hit below full scale
    if (bits == 16) {
        o.Crest = 40000;
        o.Noise = 60;
        o.Background = 2000;
    }
    o.Seed = 201;
    return o;
}

struct TDamaged {
    TPhysicalTrail Trail;
    std::vector<double> Times; // when the star crossed each hit
};

// The star's place at time t on the straight trail.
void PlaceAt(const TPhysicalOptions& o, const TPhysicalTruth& truth, double t, double& x, double& y, double& ux,
             double& uy)
{
    const double dx = truth.EndX - truth.StartX, dy = truth.EndY - truth.StartY, len = std::hypot(dx, dy);
    ux = dx / len;
    uy = dy / len;
    const double along = (o.MountSpeed * t + PhysicalPE(o, t) - PhysicalPE(o, 0)) / truth.Alpha;
    x = truth.StartX + ux * along;
    y = truth.StartY + uy * along;
}

void Add(TPhysicalTrail& t, int x, int y, double level)
{
    if (x < 0 || y < 0 || x >= t.Width || y >= t.Height)
        return;
    const double top = t.Bits == 8 ? 255 : 65535;
    for (int c = 0; c < 3; ++c) {
        std::uint16_t& v = t.Levels[(static_cast<std::size_t>(y) * t.Width + x) * 3 + c];
        v = static_cast<std::uint16_t>(std::min(top, v + level));
    }
}

TDamaged Damage(const TPhysicalOptions& o, const TRow& row)
{
    TDamaged d{RenderPhysicalTrail(o), {}};
    TPhysicalTrail& t = d.Trail;
    const double top = o.Bits == 8 ? 255 : 65535, T = t.Truth.ExposureS;
    std::mt19937_64 rng(o.Seed + 7);
    std::uniform_real_distribution<double> unit(0, 1);
    double x, y, ux, uy;
    if (row.Kind == TKind::Streak) {
        // A 3-px streak, a fifth of the crest above the sky, across the
        // trail's middle.
        const double tm = 0.45 * T, a = row.StreakAngle * std::numbers::pi / 180;
        PlaceAt(o, t.Truth, tm, x, y, ux, uy);
        const double sx = ux * std::cos(a) - uy * std::sin(a), sy = ux * std::sin(a) + uy * std::cos(a);
        for (int py = 0; py < t.Height; ++py)
            for (int px = 0; px < t.Width; ++px)
                if (std::abs((px - x) * sy - (py - y) * sx) <= 1.5)
                    Add(t, px, py, 0.2 * o.Crest);
        d.Times.push_back(tm);
        return d;
    }
    for (int k = 0; k < row.Count; ++k) {
        const double tk = T * (0.1 + 0.8 * (k + unit(rng)) / row.Count);
        PlaceAt(o, t.Truth, tk, x, y, ux, uy);
        // Within a pixel or so of the crest, and below full scale: a hit
        // that saturates goes as a saturated step.
        const double off = (k % 2 ? 0.5 : -1.5) + unit(rng);
        const double room = 0.3;
        const int px = static_cast<int>(std::floor(x - uy * off)), py = static_cast<int>(std::floor(y + ux * off));
        if (row.Kind == TKind::HotPixels) {
            Add(t, px, py, room * top); // one pixel
        } else {
            const double level = room * (1 + unit(rng) / 3) * top; // 2 x 2 px
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i)
                    Add(t, px + i, py + j, level);
        }
        d.Times.push_back(tk);
    }
    return d;
}

TDriveResult Analyse(const TPhysicalOptions& o, const TPhysicalTrail& t)
{
    const TRgbImage rgb = PhysicalToRgb8(t);
    TBitmap32 bmp;
    bmp.SetSize(rgb.Width, rgb.Height);
    for (std::int32_t y = 0; y < rgb.Height; ++y)
        for (std::int32_t x = 0; x < rgb.Width; ++x) {
            const std::uint8_t* p = rgb.Row(y) + 3 * x;
            bmp.SetPixelS(x, y, Color32(255, p[0], p[1], p[2]));
        }
    TDriveInput in;
    in.Setup.StarDistance = o.DistanceM;
    in.Setup.PixelWidth = o.PixelWidthUm * 1e-6;
    in.Setup.PixelHeight = o.PixelHeightUm * 1e-6;
    in.Setup.FocalLength = o.FocalMm * 1e-3;
    in.Setup.ExposureTime = t.Truth.ExposureS;
    in.Setup.MountSpeed = o.MountSpeed;
    in.Start = {std::round(t.Truth.StartX), std::round(t.Truth.StartY)};
    in.Stop = {std::round(t.Truth.EndX), std::round(t.Truth.EndY)};
    in.InLine = {std::round((t.Truth.StartX + t.Truth.EndX) / 2), std::round((t.Truth.StartY + t.Truth.EndY) / 2)};
    return AnalyseDrive(TRasterSamples(bmp), in);
}

} // namespace

TEST(DriveOutliers, HitsHotPixelsAndStreaksAreRepairedOrRefused)
{
    for (const TRow& row : Rows) {
        const TPhysicalOptions o = Mount(row.Bits);
        const TDamaged d = Damage(o, row);
        const TDriveResult r = Analyse(o, d.Trail);
        if (row.Refused) {
            ASSERT_TRUE(r.Refused) << row.Name;
            EXPECT_NE(r.Message.find("is covered by light that is not the star"), std::string::npos) << r.Message;
            continue;
        }
        ASSERT_FALSE(r.Refused) << row.Name << ": " << r.Message;
        // The trimmed steps' truth: the periodic terms, drift-free.
        double lo = 1e300, hi = -1e300;
        for (double t : r.T) {
            lo = std::min(lo, TruthError(d.Trail.Truth, t));
            hi = std::max(hi, TruthError(d.Trail.Truth, t));
        }
        std::printf("[%s] P-P %.3f/%.3f, period %.2f/239.5, %zu steps repaired\n", row.Name, r.Stats.PeakToPeak,
                    hi - lo, r.WormPeriod, r.Repaired.size());
        EXPECT_NEAR(r.Stats.PeakToPeak, hi - lo, 0.12 * (hi - lo)) << row.Name;
        EXPECT_NEAR(r.WormPeriod, 239.5, 0.01 * 239.5) << row.Name;
        const double step = d.Trail.Truth.Alpha / o.MountSpeed;
        for (double t : d.Times) {
            bool found = false;
            for (double rt : r.Repaired)
                found = found || std::abs(rt - t) <= 3 * step;
            EXPECT_TRUE(found) << row.Name << ": nothing repaired within 3 steps of " << t << " s";
        }
        EXPECT_NE(r.Notes.front().find("repaired (cosmic rays, hot pixels or a streak)"), std::string::npos)
            << row.Name;
    }
}
