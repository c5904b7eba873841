// Circle through the check points, the walk along it, and the sampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "analysis/Sampling.h"
#include "analysis/TrailGeometry.h"
#include "common/MathFaults.h"

using namespace vinsk;

namespace vinsk {
void PrintTo(const TIntPoint& p, std::ostream* os) { *os << '(' << p.X << ", " << p.Y << ')'; }
} // namespace vinsk

namespace {

TCheckPointEdits Edits(TIntPoint s, TIntPoint e, TIntPoint i)
{
    return {1.0L * s.X, 1.0L * s.Y, 1.0L * e.X, 1.0L * e.Y, 1.0L * i.X, 1.0L * i.Y};
}

template <class Info> std::string RowName(const Info& info)
{
    std::string n = info.param.name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

// R = x mod 256, G = y mod 256, B = (x + y) mod 256, opaque.
TBitmap32 Pattern(int w, int h)
{
    TBitmap32 b;
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixelS(x, y, Color32(255, x % 256, y % 256, (x + y) % 256));
    return b;
}

TEST(ReadCheckPoints, RoundsHalvesToEvenAndKeepsLow32Bits)
{
    TTrailState t;
    ReadCheckPoints(t, {2.5L, 3.5L, -2.5L, 4294967297.0L, 2147483648.0L, 0.49L});
    EXPECT_EQ(t.StartPoint, (TIntPoint{2, 4}));
    EXPECT_EQ(t.StopPoint, (TIntPoint{-2, 1}));
    EXPECT_EQ(t.InLinePoint, (TIntPoint{-2147483647 - 1, 0}));
}

struct CircleRow {
    const char* name;
    TIntPoint a, b, c;
    TIntPoint center;
    double radius;
    bool collinear;
};

void PrintTo(const CircleRow& r, std::ostream* os) { *os << r.name; }

class CircleThrough3PointsTest : public testing::TestWithParam<CircleRow> {};

TEST_P(CircleThrough3PointsTest, CentreAndRadius)
{
    const CircleRow& r = GetParam();
    const TCircle c = CircleThrough3Points(r.a, r.b, r.c);
    EXPECT_EQ(c.Center, r.center);
    EXPECT_NEAR(c.Radius, r.radius, 1e-9 * r.radius);
    EXPECT_EQ(c.Collinear, r.collinear);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CircleThrough3PointsTest,
    testing::Values(
        CircleRow{"shallow arc", {100, 200}, {300, 210}, {200, 212}, {236, -508}, 720.9438258283374, false},
        CircleRow{"quarter circle", {0, 50}, {50, 0}, {30, 40}, {0, 0}, 50, false},
        // x^2 + y^2 exceeds 32 bits; the determinants themselves do not.
        CircleRow{"large coordinates", {40000, 40000}, {40020, 40000}, {40010, 40010}, {40010, 40000}, 10, false},
        CircleRow{"large negative", {-40000, -40000}, {-39980, -40000}, {-39990, -39990}, {-39990, -40000}, 10, false},
        // A 5000-pixel trail across a 6000 x 4000 picture: the determinants
        // themselves exceed 32 bits (Nx = 5123000000); exact circumcentre
        // (3415.33, -18716.67).
        CircleRow{"long trail", {500, 2000}, {5500, 2100}, {3000, 2200}, {3415, -18717}, 20921.073442823148, false},
        // Circumcentre (0.5, 0.5) rounds to (0, 0), which is A itself.
        CircleRow{"centre rounds onto A", {0, 0}, {1, 0}, {0, 1}, {0, 0}, 0, false},
        CircleRow{"one row", {10, 20}, {40, 20}, {25, 20}, {0, 0}, 1e32, true},
        CircleRow{"A equals B", {5, 5}, {5, 5}, {9, 1}, {0, 0}, 1e32, true}),
    RowName<testing::TestParamInfo<CircleRow>>);

struct WalkRow {
    const char* name;
    TIntPoint start, stop, inLine;
    bool xMajor;
    std::int64_t d;
    std::vector<std::array<int, 3>> expected; // k, x, y
};

void PrintTo(const WalkRow& r, std::ostream* os) { *os << r.name; }

class TrailWalkTest : public testing::TestWithParam<WalkRow> {};

TEST_P(TrailWalkTest, Positions)
{
    const WalkRow& r = GetParam();
    TTrailState t;
    FitTrailCircle(t, Edits(r.start, r.stop, r.inLine));
    const TTrailWalk walk(t);
    ASSERT_FALSE(walk.Empty());
    EXPECT_EQ(walk.XMajor(), r.xMajor);
    EXPECT_EQ(walk.D(), r.d);
    EXPECT_EQ(walk.N(), (r.d < 0 ? -r.d : r.d) + 1);

    std::vector<TWalkPosition> seen;
    walk.ForEach([&](std::int64_t k, const TWalkPosition& p) {
        EXPECT_EQ(k, static_cast<std::int64_t>(seen.size()));
        seen.push_back(p);
    });
    ASSERT_EQ(static_cast<std::int64_t>(seen.size()), walk.N());
    const int step = r.d < 0 ? -1 : 1;
    const int first = r.xMajor ? r.start.X : r.start.Y;
    for (std::size_t k = 0; k < seen.size(); ++k) {
        EXPECT_EQ(seen[k].C, first + step * static_cast<int>(k)) << "k=" << k;
        EXPECT_EQ(seen[k].C, r.xMajor ? seen[k].X : seen[k].Y);
    }
    EXPECT_EQ(seen.back().C, r.xMajor ? r.stop.X : r.stop.Y);
    for (const auto& [k, x, y] : r.expected) {
        EXPECT_EQ(seen[k].X, x) << "k=" << k;
        EXPECT_EQ(seen[k].Y, y) << "k=" << k;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, TrailWalkTest, testing::Values(
    WalkRow{"arc", {100, 200}, {300, 210}, {200, 212}, true, 200, {{0, 100, 200}, {100, 200, 212}, {200, 300, 210}}},
    WalkRow{"stop left of start", {300, 210}, {100, 200}, {200, 212}, true, -200, {{0, 300, 210}, {100, 200, 212}, {200, 100, 200}}},
    WalkRow{"equal deltas walk y", {0, 50}, {50, 0}, {30, 40}, false, -50, {{0, 0, 50}, {10, 30, 40}, {20, 40, 30}, {50, 50, 0}}},
    WalkRow{"steep", {200, 100}, {210, 300}, {212, 200}, false, 200, {{0, 200, 100}, {100, 212, 200}, {200, 210, 300}}},
    WalkRow{"collinear row", {10, 20}, {40, 20}, {25, 20}, true, 30, {{0, 10, 20}, {15, 25, 20}, {30, 40, 20}}},
    WalkRow{"collinear slope", {0, 0}, {10, 4}, {5, 2}, true, 10, {{2, 2, 1}, {4, 4, 2}, {6, 6, 2}, {9, 9, 4}, {10, 10, 4}}},
    WalkRow{"in-line on stop", {0, 0}, {10, 4}, {10, 4}, true, 10, {{2, 2, 1}, {7, 7, 3}}},
    // x = 7 + y / 4: 7.5 and 8.5 both round to 8.
    WalkRow{"collinear steep halves", {7, 0}, {9, 8}, {8, 4}, false, 8, {{1, 7, 1}, {2, 8, 2}, {4, 8, 4}, {6, 8, 6}, {8, 9, 8}}}),
    RowName<testing::TestParamInfo<WalkRow>>);
// clang-format on

TEST(TrailWalk, CircleNotReachingStopFailsThere)
{
    // Centre rounds to (3, -5) with R^2 = 34; x = 9 lies 6 from the centre.
    TTrailState t;
    FitTrailCircle(t, Edits({0, 0}, {9, -3}, {4, 1}));
    const TTrailWalk walk(t);
    EXPECT_EQ(walk.At(8).Y, -2);
    EXPECT_THROW(walk.At(9), EInvalidOp);
}

TEST(LinePoints, ColoursOnlyPositionsInsideThePicture)
{
    TBitmap32 b;
    b.SetSize(50, 50);
    TTrailState t;
    LinePoints(t, Edits({-5, 10}, {60, 10}, {20, 10}), b);
    int coloured = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
            if (b.PixelS(x, y) == 0x0000FFFFu) {
                ++coloured;
                EXPECT_EQ(y, 10);
            }
    EXPECT_EQ(coloured, 50);
}

TEST(LinePoints, ZeroRadiusWritesNothingAndStartOnStopFails)
{
    TBitmap32 b;
    b.SetSize(4, 4);
    TTrailState t;
    LinePoints(t, Edits({0, 0}, {1, 0}, {0, 1}), b);
    EXPECT_EQ(std::count(b.Bits(), b.Bits() + 16, 0u), 16);
    EXPECT_THROW(LinePoints(t, Edits({2, 2}, {2, 2}, {3, 1}), b), EInvalidOp);
}

class SampleTrailTest : public testing::Test {
protected:
    TBitmap32 bitmap = Pattern(400, 300);
    TTrailState trail;
    TStatusPanels status;
};

TEST_F(SampleTrailTest, ArcOf201Positions)
{
    SampleTrail(trail, Edits({100, 200}, {300, 210}, {200, 212}), 480, bitmap, status);
    ASSERT_EQ(trail.GraphX.size(), 201u);
    ASSERT_EQ(trail.TrailPos.size(), 201u);
    ASSERT_EQ(trail.GraphY.size(), 201u);
    ASSERT_EQ(trail.ChannelSamples.size(), 201u);
    for (int k = 0; k <= 200; ++k) {
        EXPECT_DOUBLE_EQ(trail.GraphX[k], 2.4 * k);
        EXPECT_EQ(trail.TrailPos[k], 100 + k);
        EXPECT_EQ(trail.ChannelSamples[k].R, (100 + k) % 256);
    }
    EXPECT_EQ(trail.GraphX[0], 0.0);
    EXPECT_EQ(trail.GraphX[200], 480.0);
    // (100, 200): R 100, G 200, B 44.
    EXPECT_EQ(trail.ChannelSamples[0].G, 200);
    EXPECT_EQ(trail.ChannelSamples[0].B, 44);
    EXPECT_EQ(trail.ChannelSamples[0].A, 255);
    EXPECT_DOUBLE_EQ(trail.GraphY[0], 344.0 / 3);
    EXPECT_EQ(trail.ChannelSamples[100].G, 212);
    EXPECT_EQ(status.Panels[PanelReadout], "[300, 210] = [A:255, R:44, G:210, B:254]");
}

TEST_F(SampleTrailTest, WalkTowardsSmallerXKeepsTimesRising)
{
    SampleTrail(trail, Edits({300, 210}, {100, 200}, {200, 212}), 480, bitmap, status);
    ASSERT_EQ(trail.TrailPos.size(), 201u);
    EXPECT_EQ(trail.TrailPos.front(), 300);
    EXPECT_EQ(trail.TrailPos.back(), 100);
    EXPECT_EQ(trail.GraphX.back(), 480.0);
}

TEST_F(SampleTrailTest, ExposureTimeChangesOnlyTheTimes)
{
    const auto edits = Edits({100, 200}, {300, 210}, {200, 212});
    SampleTrail(trail, edits, 480, bitmap, status);
    const TTrailState before = trail;
    SampleTrail(trail, edits, -100, bitmap, status);
    EXPECT_EQ(trail.TrailPos, before.TrailPos);
    EXPECT_EQ(trail.GraphY, before.GraphY);
    for (std::size_t k = 0; k < trail.ChannelSamples.size(); ++k)
        EXPECT_EQ(trail.ChannelSamples[k].B, before.ChannelSamples[k].B);
    EXPECT_EQ(trail.GraphX[200], 100.0); // |ExposureTime|
    EXPECT_DOUBLE_EQ(trail.GraphX[1], 0.5);
}

TEST_F(SampleTrailTest, ChannelValuesAndOutsideReadsWhite)
{
    TBitmap32 b;
    b.SetSize(3, 1);
    b.SetPixelS(0, 0, 0xFFFFFFFFu);
    b.SetPixelS(1, 0, Color32(255, 1, 1, 2));
    b.SetPixelS(2, 0, Color32(7, 10, 20, 30));
    // One row from x = -2 to 2: two positions outside the picture.
    SampleTrail(trail, Edits({-2, 0}, {2, 0}, {1, 0}), 4, b, status);
    ASSERT_EQ(trail.GraphY.size(), 5u);
    const std::vector<double> avg{255, 255, 255, 4.0 / 3, 20};
    for (int k = 0; k < 5; ++k)
        EXPECT_DOUBLE_EQ(trail.GraphY[k], avg[k]) << k;
    EXPECT_EQ(trail.ChannelSamples[0].A, 255);
    EXPECT_EQ(trail.ChannelSamples[4].A, 7);
    EXPECT_EQ(BrightnessSeries(trail, ChannelR), (std::vector<double>{255, 255, 255, 1, 10}));
    EXPECT_EQ(BrightnessSeries(trail, ChannelG), (std::vector<double>{255, 255, 255, 1, 20}));
    EXPECT_EQ(BrightnessSeries(trail, ChannelB), (std::vector<double>{255, 255, 255, 2, 30}));
    EXPECT_EQ(BrightnessSeries(trail, ChannelAvg), trail.GraphY);
    EXPECT_EQ(BrightnessSeries(trail, 7), trail.GraphY);
}

TEST_F(SampleTrailTest, StartEqualToStopFails)
{
    EXPECT_THROW(SampleTrail(trail, Edits({5, 5}, {5, 5}, {8, 1}), 480, bitmap, status), EInvalidOp);
    EXPECT_EQ(trail.GraphX.size(), 1u);
}

TEST_F(SampleTrailTest, ZeroRadiusLeavesArraysAsTheyWere)
{
    trail.GraphX = {1, 2, 3};
    trail.TrailPos = {4};
    SampleTrail(trail, Edits({0, 0}, {1, 0}, {0, 1}), 480, bitmap, status);
    EXPECT_EQ(trail.GraphX, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(trail.TrailPos, (std::vector<double>{4}));
    EXPECT_TRUE(trail.ChannelSamples.empty());
    EXPECT_EQ(status.Panels[PanelReadout], "");
}

TEST_F(SampleTrailTest, FailedWalkKeepsWhatItWroteAndOldTail)
{
    SampleTrail(trail, Edits({100, 200}, {300, 210}, {200, 212}), 480, bitmap, status);
    EXPECT_THROW(SampleTrail(trail, Edits({0, 0}, {9, -3}, {4, 1}), 480, bitmap, status), EInvalidOp);
    ASSERT_EQ(trail.GraphX.size(), 10u);
    EXPECT_EQ(trail.TrailPos[8], 8);
    EXPECT_DOUBLE_EQ(trail.GraphX[8], 8 * 480.0 / 9);
    EXPECT_EQ(trail.TrailPos[9], 109);         // from the previous run
    EXPECT_DOUBLE_EQ(trail.GraphX[9], 2.4 * 9); // likewise
}

TEST(BrightnessSeries, ShorterSampleArraysReadAsZero)
{
    TTrailState t;
    t.GraphX.assign(4, 0);
    t.ChannelSamples.resize(2, PixelValue{9, 9, 9, 9});
    t.GraphY = {5};
    EXPECT_EQ(BrightnessSeries(t, ChannelG), (std::vector<double>{9, 9, 0, 0}));
    EXPECT_EQ(BrightnessSeries(t, ChannelAvg), (std::vector<double>{5, 0, 0, 0}));
}

} // namespace
