// Spectrum of the periodic error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/Spectrum.h"
#include "common/MathFaults.h"
#include "fft/FFTs.h"

using namespace vinsk;

namespace {

TEST(ComplexMagnitude, IsTheModulus)
{
    EXPECT_EQ(ComplexMagnitude({3, 4}), 5.0);
    EXPECT_EQ(ComplexMagnitude({-3, -4}), 5.0);
    EXPECT_EQ(ComplexMagnitude({0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(ComplexMagnitude({1, -1}), std::sqrt(2.0));
}

TEST(PESpectrum, ConstantErrorIsAllAtZeroHertz)
{
    std::vector<double> pe(12, -2.5);
    std::vector<double> x(12, 99);
    PESpectrum(pe, x, 480);
    EXPECT_NEAR(pe[0], 2.5, 1e-14);
    for (int i = 1; i < 12; ++i) {
        EXPECT_NEAR(pe[i], 0, 1e-14) << i;
        EXPECT_DOUBLE_EQ(x[i], i / 480.0) << i;
    }
    EXPECT_EQ(x[0], 0.0);
}

TEST(PESpectrum, SinusoidSplitsIntoTwoHalves)
{
    const int n = 96, k = 5;
    const double a = 3;
    std::vector<double> pe(n);
    for (int i = 0; i < n; ++i)
        pe[i] = a * std::sin(2 * std::numbers::pi * k * i / n + 0.3);
    std::vector<double> x(n);
    PESpectrum(pe, x, 480);
    for (int i = 0; i < n; ++i) {
        const double expected = (i == k || i == n - k) ? a / 2 : 0;
        EXPECT_NEAR(pe[i], expected, 1e-12) << i;
    }
    EXPECT_DOUBLE_EQ(x[k], 5 / 480.0);
    EXPECT_DOUBLE_EQ(x[n - k], 91 / 480.0);
}

TEST(PESpectrum, SingleSample)
{
    std::vector<double> pe{-4};
    std::vector<double> x{17};
    PESpectrum(pe, x, 480);
    EXPECT_EQ(pe, std::vector<double>{4});
    EXPECT_EQ(x, std::vector<double>{0});
}

TEST(PESpectrum, NegativeExposureGivesPositiveFrequencies)
{
    std::vector<double> pe{1, 2, 3, 4};
    std::vector<double> x(4);
    PESpectrum(pe, x, -200);
    EXPECT_EQ(x[0], 0.0);
    for (int i = 1; i < 4; ++i)
        EXPECT_DOUBLE_EQ(x[i], i / 200.0);
}

TEST(PESpectrum, ShortAbscissaGrows)
{
    std::vector<double> pe{1, 2, 3};
    std::vector<double> x;
    PESpectrum(pe, x, 3);
    ASSERT_EQ(x.size(), 3u);
    EXPECT_DOUBLE_EQ(x[2], 2 / 3.0);
}

TEST(PESpectrum, ZeroExposureFailsBeforeWriting)
{
    std::vector<double> pe{1, 2};
    std::vector<double> x{5, 6};
    EXPECT_THROW(PESpectrum(pe, x, 0), EZeroDivide);
    EXPECT_EQ(pe, (std::vector<double>{1, 2}));
    EXPECT_EQ(x, (std::vector<double>{5, 6}));
}

TEST(PESpectrum, PrimeFactorBeyondTheTransformFails)
{
    std::vector<double> pe(8209, 1.0);
    std::vector<double> x(8209, 7.0);
    EXPECT_THAT([&] { PESpectrum(pe, x, 480); }, testing::ThrowsMessage<EMathError>(testing::StrEq(FFTPrimeFactorMessage)));
    EXPECT_EQ(pe[3], 1.0);
    EXPECT_EQ(x[3], 7.0);
}

} // namespace
