// The physically rendered trail: light conservation, the nominal scale and
// the truth the drive analysis is measured against.
#include <cmath>
#include <numeric>

#include <gtest/gtest.h>

#include "tests/support/RenderedTrail.h"
#include "tools/sample-gen/PhysicalTrail.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

TPhysicalOptions Quiet()
{
    TPhysicalOptions o;
    SetPath(o, {400, 60, 30, 30, 370, 30, 0});
    o.Noise = 0;
    o.Background = 0;
    o.Bits = 16;
    o.Crest = 20000;
    return o;
}

// Light in the column x, summed over the rows.
double Column(const TPhysicalTrail& t, int x)
{
    double s = 0;
    for (int y = 0; y < t.Height; ++y)
        s += t.Levels[3 * (static_cast<std::size_t>(y) * t.Width + x)];
    return s;
}

} // namespace

TEST(PhysicalTrail, NominalRateGivesAnEvenTrailOfTheCrestAndTheThinLensScale)
{
    TPhysicalOptions o = Quiet();
    o.Terms.clear();
    o.Drift = 0;
    const TPhysicalTrail t = RenderPhysicalTrail(o);
    // One pixel subtends p / v with v = f D / (D - f), not p / f.
    const double v = 0.4 * 10 / (10 - 0.4);
    EXPECT_NEAR(t.Truth.Alpha, std::atan(5.7e-6 / v) * 206264.806, 1e-6);
    EXPECT_NEAR(t.Truth.EndX, 370, 1e-6);
    EXPECT_NEAR(t.Truth.ExposureS, 340 * t.Truth.Alpha / 15, 1e-6);
    const double crest = t.Levels[3 * (30 * t.Width + 200)];
    EXPECT_NEAR(crest, 20000 * 0.96, 20000 * 0.04); // pixel-integrated peak of a 3 px FWHM
    for (int x = 60; x < 340; x += 20)
        EXPECT_NEAR(Column(t, x), Column(t, 200), 1e-3 * Column(t, 200)) << x;
}

TEST(PhysicalTrail, AFasterMountSpreadsTheLightThinnerAndTheTruthDropsTheDrift)
{
    TPhysicalOptions o = Quiet();
    o.Terms = {{4, 30, 0}};
    o.Drift = 0.02;
    o.ExposureS = 60; // two whole cycles
    const TPhysicalTrail t = RenderPhysicalTrail(o);
    ASSERT_TRUE(t.Truth.Periodic);
    EXPECT_NEAR(t.Truth.PeakToPeak, 8, 0.01);
    EXPECT_NEAR(t.Truth.Rms, 4 / std::sqrt(2.0), 0.05);
    // The light per pixel of path is inversely proportional to the image's
    // speed w0 + PE'(t) at the time the star passed the column.
    const double alpha = t.Truth.Alpha;
    auto rate = [&](double time) { return 15 + 0.02 + 4 * 2 * M_PI / 30 * std::cos(2 * M_PI * time / 30); };
    auto passed = [&](int x) { // solves w0 t + PE(t) - PE(0) = (x - 30) alpha
        double time = (x - 30) * alpha / 15;
        for (int it = 0; it < 30; ++it)
            time -= (15 * time + PhysicalPE(o, time) - PhysicalPE(o, 0) - (x - 30) * alpha) / rate(time);
        return time;
    };
    const double ref = Column(t, 200) * rate(passed(200));
    double lo = 1e300, hi = 0;
    for (int x = 50; x < 350; x += 7) {
        EXPECT_NEAR(Column(t, x) * rate(passed(x)), ref, 2e-3 * ref) << x;
        lo = std::min(lo, Column(t, x));
        hi = std::max(hi, Column(t, x));
    }
    EXPECT_GT(hi / lo, 1.1); // the error really modulates the light
}

TEST(PhysicalTrail, ShortTrailTruthIsTheErrorLessItsLine)
{
    TPhysicalOptions o = Quiet();
    o.Terms = {{4, 1000, 0.3}};
    o.Drift = 0.05;
    const TPhysicalTrail t = RenderPhysicalTrail(o);
    ASSERT_FALSE(t.Truth.Periodic);
    // The residual of a line fit has no line left in it.
    double st = 0, se = 0, stt = 0, ste = 0;
    const int n = 1000;
    for (int i = 0; i <= n; ++i) {
        const double time = t.Truth.ExposureS * i / n, e = TruthError(t.Truth, time);
        st += time, se += e, stt += time * time, ste += time * e;
    }
    EXPECT_NEAR(se / (n + 1), 0, 1e-4); // both on a finer grid in the generator
    EXPECT_NEAR(((n + 1) * ste - st * se) / ((n + 1) * stt - st * st), 0, 1e-6); // the fit saw 20001 points
    EXPECT_GT(t.Truth.PeakToPeak, 0.01);
}
