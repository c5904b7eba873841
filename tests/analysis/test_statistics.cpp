// Series helpers, statistics texts, estimation curve and average line.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

#include "analysis/AverageLine.h"
#include "analysis/Estimation.h"
#include "analysis/Statistics.h"
#include "common/MathFaults.h"

using namespace vinsk;

namespace {

using Series = std::vector<double>;

TEST(ArrayHelpers, EmptySeries)
{
    EXPECT_EQ(ArraySum({}), 0.0);
    EXPECT_EQ(ArrayMean({}), 0.0);
    EXPECT_EQ(ArrayMax({}), 0.0);
    EXPECT_EQ(ArrayMin({}), 0.0);
    const double v = ArrayVariance({}, 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(std::signbit(v)); // 0 / -1
}

TEST(ArrayHelpers, SumRoundsToDoubleAfterEveryAddition)
{
    // 1e16 + 1 is a tie that rounds back to 1e16; an extended accumulator
    // would end at 1e16 + 2.
    EXPECT_EQ(ArraySum({1e16, 1, 1}), 1e16);
    EXPECT_EQ(ArrayMean({1, 2, 3, 4}), 2.5);
}

TEST(ArrayHelpers, MaxAndMinIncludeZero)
{
    EXPECT_EQ(ArrayMax({-3, -1, -2}), 0.0);
    EXPECT_EQ(ArrayMin({3, 1, 2}), 0.0);
    EXPECT_EQ(ArrayMax({-3, 7, 2}), 7.0);
    EXPECT_EQ(ArrayMin({-3, 7, -4.5}), -4.5);
}

TEST(ArrayHelpers, Variance)
{
    EXPECT_DOUBLE_EQ(ArrayVariance({1, 2, 3, 4}, 2.5), 5.0 / 3);
    EXPECT_EQ(ArrayVariance({5}, 5), 1.0);
    EXPECT_EQ(ArrayVariance({-7}, 0), 1.0);
    EXPECT_EQ(ArrayVariance({2, 2}, 2), 0.0);
}

struct StatRow {
    Series pe;
    char sep;
    const char* label40;
    const char* label42;
    const char* label43;
};

void PrintTo(const StatRow& r, std::ostream* os) { *os << r.label40; }

class PEStatisticTest : public testing::TestWithParam<StatRow> {};

TEST_P(PEStatisticTest, Texts)
{
    const StatRow& r = GetParam();
    const TStatisticTexts t = PEStatistic(r.pe, r.sep);
    EXPECT_EQ(t.Label40, r.label40);
    EXPECT_EQ(t.Label42, r.label42);
    EXPECT_EQ(t.Label43, r.label43);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, PEStatisticTest, testing::Values(
    // 42.5 rounds to 42; sigma 3.69593 -> 37 and 110.88 -> 111
    StatRow{{-3.14159, 4.25, 0.5}, '.', "Min/Max PE [\"]: -3.1/4.2", "68% interval[\"]:  +/- 3.7", "99% interval[\"]:  +/- 11.1"},
    // sigma 1.29099: 12.9 -> 13, 38.73 -> 39
    StatRow{{1, 2, 3, 4}, '.', "Min/Max PE [\"]: 0/4", "68% interval[\"]:  +/- 1.3", "99% interval[\"]:  +/- 3.9"},
    StatRow{{2, 3}, '.', "Min/Max PE [\"]: 0/3", "68% interval[\"]:  +/- 0.7", "99% interval[\"]:  +/- 2.1"},
    StatRow{{5}, '.', "Min/Max PE [\"]: 0/5", "68% interval[\"]:  +/- 1", "99% interval[\"]:  +/- 3"},
    StatRow{{}, '.', "Min/Max PE [\"]: 0/0", "68% interval[\"]:  +/- 0", "99% interval[\"]:  +/- 0"},
    // sigma sqrt(2)
    StatRow{{-0.5, 1.5}, ',', "Min/Max PE [\"]: -0,5/1,5", "68% interval[\"]:  +/- 1,4", "99% interval[\"]:  +/- 4,2"}));
// clang-format on

TEST(EstimationCurve, StandardNormal)
{
    TTrailState t;
    t.GraphX.assign(7, 1);
    EstimationCurve(t, 0, 1);
    ASSERT_EQ(t.GraphX.size(), 501u);
    ASSERT_EQ(t.GraphY.size(), 501u);
    EXPECT_EQ(t.GraphX[0], -3.0);
    EXPECT_NEAR(t.GraphX[1], -2.988, 1e-15);
    EXPECT_NEAR(t.GraphX[250], 0.0, 1e-15);
    EXPECT_NEAR(t.GraphX[500], 3.0, 1e-15);
    for (int i = 1; i <= 500; ++i)
        EXPECT_NEAR(t.GraphX[i] - t.GraphX[i - 1], 0.012, 1e-14);
    EXPECT_NEAR(t.GraphY[250], 0.39894228040143268, 1e-15);
    EXPECT_NEAR(t.GraphY[0], 0.0044318484119380072, 1e-16);
    EXPECT_NEAR(t.GraphY[500], 0.0044318484119380072, 1e-16);
}

TEST(EstimationCurve, MeanTwoVarianceFour)
{
    TTrailState t;
    EstimationCurve(t, 2, 4);
    EXPECT_EQ(t.GraphX[0], -4.0);
    EXPECT_NEAR(t.GraphX[500], 8.0, 1e-14);
    double top = 0;
    for (double v : t.GraphY)
        top = std::max(top, v);
    EXPECT_NEAR(top, 0.19947114020071634, 1e-15);
    EXPECT_EQ(top, t.GraphY[250]);
}

TEST(EstimationCurve, ZeroVarianceFailsAtTheFirstPoint)
{
    TTrailState t;
    EXPECT_THROW(EstimationCurve(t, 3, 0), EZeroDivide);
    EXPECT_EQ(t.GraphX.size(), 501u);
    EXPECT_EQ(t.GraphX[0], 3.0);
}

struct SmoothRow {
    const char* name;
    Series y;
    double width;
    Series expected;
};

void PrintTo(const SmoothRow& r, std::ostream* os) { *os << r.name; }

class SmoothBrightnessTest : public testing::TestWithParam<SmoothRow> {};

TEST_P(SmoothBrightnessTest, Smoothed)
{
    Series y = GetParam().y;
    SmoothBrightness(y, GetParam().width);
    ASSERT_EQ(y.size(), GetParam().expected.size());
    for (std::size_t i = 0; i < y.size(); ++i)
        EXPECT_DOUBLE_EQ(y[i], GetParam().expected[i]) << "i=" << i;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, SmoothBrightnessTest, testing::Values(
    SmoothRow{"width two", {10, 20, 30, 40, 50}, 2, {30, 30, 20, 30, 40}},
    SmoothRow{"width one", {10, 20, 30, 40, 50}, 1, {30, 15, 25, 35, 45}},
    SmoothRow{"width zero", {10, 20, 30, 40, 50}, 0, {10, 20, 30, 40, 50}},
    SmoothRow{"width equals length", {10, 20, 30, 40, 50}, 5, {30, 30, 30, 30, 30}},
    SmoothRow{"width beyond length", {10, 20, 30, 40, 50}, 100, {30, 30, 30, 30, 30}},
    // An empty window over a divisor of -2; nothing outside the series is touched.
    SmoothRow{"negative width", {10, 20, 30}, -3, {0, 0, 0}},
    SmoothRow{"empty", {}, 2, {}}));
// clang-format on

TEST(SmoothBrightness, WidthMinusOneIsAnInvalidOperation)
{
    Series y{1, 2};
    EXPECT_THROW(SmoothBrightness(y, -1), EInvalidOp);
}

} // namespace
