// The measurements' mathematics against values worked out by hand or by a
// long-double DFT.
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/Circle.h"
#include "numeric/Fftw.h"
#include "numeric/LeastSquares.h"
#include "numeric/Median.h"

using namespace vinsk;

TEST(Numeric, MediansOfOddEvenAndEmptyRanges)
{
    struct TRow {
        std::vector<double> Values;
        long double Median;
        double Upper;
    };
    const TRow rows[] = {
        {{}, 0, 0},
        {{7}, 7, 7},
        {{3, 1, 2}, 2, 2},
        {{4, 1, 3, 2}, 2.5L, 3},
        {{5, 5, 1, 9, 5, 0}, 5, 5},
        {{-1e300, 1e300}, 0, 1e300},
    };
    for (const TRow& r : rows) {
        std::vector<double> a = r.Values, b = r.Values;
        EXPECT_EQ(Median(a), r.Median) << r.Values.size();
        EXPECT_EQ(UpperMedian(b), r.Upper) << r.Values.size();
        std::vector<double> c = r.Values;
        EXPECT_EQ(MedianOfFew(c.data(), c.data() + c.size()), r.Median) << r.Values.size();
    }
}

// The sorting networks against nth_element at every count around their
// sizes (16, 32, 64 and past them), with ties and infinities.
TEST(Numeric, FewValuesHaveTheMedianOfAnyCount)
{
    std::uint64_t seed = 88172645463325252ull;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    for (std::size_t n = 1; n <= 70; ++n)
        for (int draw = 0; draw < 20; ++draw) {
            std::vector<double> v(n);
            for (double& x : v) {
                const std::uint64_t r = next();
                // Few levels make ties; some draws hold infinities.
                x = draw % 2 ? static_cast<double>(r % 7) : static_cast<double>(r % 100000) / 7 - 5000;
                if (draw % 5 == 4 && r % 11 == 0)
                    x = r % 2 ? HUGE_VAL : -HUGE_VAL;
            }
            std::vector<double> a = v, b = v;
            const long double few = MedianOfFew(a.data(), a.data() + n), all = Median(b);
            // -inf and +inf in the middle make a NaN either way.
            EXPECT_TRUE(few == all || (std::isnan(few) && std::isnan(all))) << n << " values, draw " << draw;
        }
}

TEST(Numeric, SolveNeedsPivotingAndRefusesSingularSystems)
{
    // A zero on the diagonal needs a row swap; x = (1, 2, 3).
    std::vector<long double> a = {0, 1, 1, 2, 1, 0, 1, 0, 3}, b = {5, 4, 10}, x;
    ASSERT_TRUE(SolveLinear(a, b, 3, x));
    EXPECT_NEAR(static_cast<double>(x[0]), 1, 1e-15);
    EXPECT_NEAR(static_cast<double>(x[1]), 2, 1e-15);
    EXPECT_NEAR(static_cast<double>(x[2]), 3, 1e-15);
    std::vector<long double> s = {1, 2, 2, 4}, c = {1, 2};
    EXPECT_FALSE(SolveLinear(s, c, 2, x));

    // y = 2 - 3x through five weighted points, one far off with no weight.
    std::vector<std::array<long double, 3>> rows;
    std::vector<long double> w;
    for (int i = 0; i < 5; ++i) {
        rows.push_back({1, static_cast<long double>(i), 2 - 3.0L * i + (i == 4 ? 100 : 0)});
        w.push_back(i == 4 ? 0 : 1 + i);
    }
    std::array<long double, 2> p{};
    ASSERT_TRUE(WeightedLeastSquares<2>(rows, w, p));
    EXPECT_NEAR(static_cast<double>(p[0]), 2, 1e-14);
    EXPECT_NEAR(static_cast<double>(p[1]), -3, 1e-14);
}

TEST(Numeric, CirclesThroughThreeAndThroughManyPoints)
{
    // Centre (100, -50), radius 250.
    auto on = [](double deg, double& x, double& y) {
        x = 100 + 250 * std::cos(deg * std::numbers::pi / 180);
        y = -50 + 250 * std::sin(deg * std::numbers::pi / 180);
    };
    double x1, y1, x2, y2, x3, y3;
    on(10, x1, y1);
    on(75, x2, y2);
    on(200, x3, y3);
    TCircle c;
    ASSERT_TRUE(Circumcircle(x1, y1, x2, y2, x3, y3, c));
    EXPECT_NEAR(static_cast<double>(c.Cx), 100, 1e-9);
    EXPECT_NEAR(static_cast<double>(c.Cy), -50, 1e-9);
    EXPECT_NEAR(static_cast<double>(c.R), 250, 1e-9);
    EXPECT_FALSE(Circumcircle(0, 0, 1, 1, 3, 3, c));

    // The arc v = R - sqrt(R^2 - u^2) (centre (0, R)) is A = 1 / (2R), B = D = 0;
    // a straight row of points is A = 0, the line v = 0.5 u + 2.
    for (const double radius : {400.0, 0.0}) {
        std::vector<std::array<double, 3>> pts;
        for (int u = -60; u <= 60; u += 5) {
            const double v = radius > 0 ? radius - std::sqrt(radius * radius - u * u) : 0.5 * u + 2;
            pts.push_back({static_cast<double>(u), v, 1.0 + (u & 4)});
        }
        TAlgebraicCircle a;
        ASSERT_TRUE(FitAlgebraicCircle(pts, 60, a)) << radius;
        EXPECT_NEAR(static_cast<double>(a.A), radius > 0 ? 1 / (2 * radius) : 0, 1e-12) << radius;
        EXPECT_NEAR(static_cast<double>(a.B), radius > 0 ? 0 : 0.5, 1e-12) << radius;
        EXPECT_NEAR(static_cast<double>(a.D), radius > 0 ? 0 : 2, 1e-12) << radius;
        long double v = 0;
        ASSERT_TRUE(a.V(30, v));
        EXPECT_NEAR(static_cast<double>(v), radius > 0 ? radius - std::sqrt(radius * radius - 900) : 17, 1e-9);
        // One unit above the curve, whose slope there is 0.075 or 0.5.
        const double slope = radius > 0 ? 30 / std::sqrt(radius * radius - 900) : 0.5;
        EXPECT_NEAR(static_cast<double>(a.Distance(30, v + 1)), 1 / std::hypot(1, slope), 2e-3);
    }
}

// Plans are kept by size and run on other buffers: each transform alive at
// the same time, and sizes past the kept ones, must still give its own DFT.
TEST(Numeric, RealFftMatchesALongDoubleDft)
{
    auto check = [](TRealFft& fft, long double phase) {
        const std::size_t n = fft.Size();
        ASSERT_EQ(fft.Bins(), n / 2 + 1);
        std::vector<long double> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = 0.3L + std::sin(0.7L * i + phase) + 0.01L * i * i;
            fft.In()[i] = static_cast<double>(x[i]);
        }
        fft.Execute();
        for (std::size_t k = 0; k < fft.Bins(); ++k) {
            long double re = 0, im = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const long double a = -2 * std::numbers::pi_v<long double> * k * i / n;
                re += x[i] * cosl(a);
                im += x[i] * sinl(a);
            }
            EXPECT_NEAR(fft.Out()[k][0], static_cast<double>(re), 1e-12 * (1 + n * n)) << n << " " << k;
            EXPECT_NEAR(fft.Out()[k][1], static_cast<double>(im), 1e-12 * (1 + n * n)) << n << " " << k;
        }
    };
    for (int round = 0; round < 2; ++round)
        for (const std::size_t n : {1u, 7u, 64u, 100u}) {
            TRealFft first(n), second(n);
            check(first, 0);
            check(second, 1);
        }
    for (std::size_t n = 2; n < 40; ++n) {
        TRealFft fft(n);
        check(fft, 0.5L);
    }
}
