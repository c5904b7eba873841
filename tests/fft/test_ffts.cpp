#include "fft/FFTs.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/MathFaults.h"

using namespace vinsk;

namespace {

using LComplex = std::complex<long double>;

std::vector<int> FactorsOf(std::int32_t n)
{
    const fftdetail::TFactorList list = fftdetail::FactorLength(n);
    return {list.Factors.begin(), list.Factors.begin() + list.Count};
}

std::vector<TComplex> RandomSeries(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<TComplex> x(static_cast<std::size_t>(n));
    for (TComplex& v : x)
        v = {u(gen), u(gen)};
    return x;
}

// Plain O(N^2) transform with exactly computed roots, in extended precision.
std::vector<LComplex> ReferenceDFT(const std::vector<TComplex>& x)
{
    const long long n = static_cast<long long>(x.size());
    std::vector<LComplex> root(x.size());
    for (long long m = 0; m < n; ++m) {
        const long double a = 2.0L * std::numbers::pi_v<long double> * m / n;
        root[m] = {std::cos(a), -std::sin(a)};
    }
    std::vector<LComplex> y(x.size());
    for (long long j = 0; j < n; ++j) {
        LComplex sum = 0;
        long long m = 0; // j * k mod n
        for (long long k = 0; k < n; ++k) {
            sum += LComplex(x[k].Re, x[k].Im) * root[m];
            m += j;
            if (m >= n)
                m -= n;
        }
        y[j] = sum;
    }
    return y;
}

// Rounding bound: the transform's error grows with the size of the data, and
// the 14-digit radix-5 constants cost about 80 ulps of it on their own.
long double Tolerance(const std::vector<TComplex>& x)
{
    long double sumAbs = 0;
    for (const TComplex& v : x)
        sumAbs += std::hypot(static_cast<long double>(v.Re), static_cast<long double>(v.Im));
    return 256 * std::numeric_limits<double>::epsilon() * std::max(sumAbs, 1.0L);
}

bool SameBits(const std::vector<TComplex>& a, const std::vector<TComplex>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TComplex)) == 0;
}

} // namespace

// ---------------------------------------------------------------- factoring

struct FactorCase {
    std::int32_t N;
    std::vector<int> Factors;
};

void PrintTo(const FactorCase& c, std::ostream* os)
{
    *os << "N=" << c.N;
}

class FactorLengthTest : public testing::TestWithParam<FactorCase> {};

TEST_P(FactorLengthTest, GivesThePassRadices)
{
    EXPECT_EQ(FactorsOf(GetParam().N), GetParam().Factors);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, FactorLengthTest,
    testing::Values(FactorCase{1, {1}}, FactorCase{7, {7}}, FactorCase{14, {7, 2}}, FactorCase{16, {4, 4}},
                    FactorCase{20, {2, 10}}, FactorCase{32, {4, 8}}, FactorCase{48, {4, 3, 4}},
                    FactorCase{120, {3, 4, 10}}, FactorCase{128, {4, 4, 8}}, FactorCase{143, {13, 11}},
                    FactorCase{160, {4, 4, 10}}, FactorCase{360, {3, 3, 4, 10}}, FactorCase{1024, {4, 4, 8, 8}},
                    FactorCase{2310, {11, 7, 3, 10}}, FactorCase{6000, {2, 3, 10, 10, 10}},
                    FactorCase{16382, {8191, 2}},
                    // a repeated trial prime, and the merge with no 8 to pair
                    FactorCase{49 * 6, {7, 7, 2, 3}},
                    // a leftover prime above a trial prime
                    FactorCase{7 * 8209, {8209, 7}},
                    // the largest 32-bit length is prime
                    FactorCase{2147483647, {2147483647}},
                    // the longest lists a 32-bit length can have
                    FactorCase{1162261467, std::vector<int>(19, 3)}, FactorCase{1 << 30, std::vector<int>(10, 8)},
                    FactorCase{0, {}}, FactorCase{-12, {}}),
    [](const testing::TestParamInfo<FactorCase>& info) {
        return (info.param.N < 0 ? "Nminus" : "N") + std::to_string(std::abs(info.param.N));
    });

// ---------------------------------------------------------------- transform

struct LengthCase {
    int N;
    const char* Covers;
};

void PrintTo(const LengthCase& c, std::ostream* os)
{
    *os << "N=" << c.N << " (" << c.Covers << ")";
}

class ComplexFFTLength : public testing::TestWithParam<LengthCase> {};

TEST_P(ComplexFFTLength, MatchesExtendedPrecisionDFT)
{
    const int n = GetParam().N;
    const std::vector<TComplex> x = RandomSeries(n, 1000u + static_cast<unsigned>(n));
    std::vector<TComplex> y(x.size());
    ComplexFFT(x.data(), y.data(), n);

    const std::vector<LComplex> ref = ReferenceDFT(x);
    const long double tol = Tolerance(x);
    for (int j = 0; j < n; ++j) {
        ASSERT_LE(std::abs(LComplex(y[j].Re, y[j].Im) - ref[j]), tol) << "bin " << j;
    }
}

TEST_P(ComplexFFTLength, InPlaceEqualsOutOfPlaceBitForBit)
{
    const int n = GetParam().N;
    const std::vector<TComplex> x = RandomSeries(n, 7u);
    std::vector<TComplex> input = x;
    std::vector<TComplex> outOfPlace(x.size(), TComplex{-7, 7});
    ComplexFFT(input.data(), outOfPlace.data(), n);
    EXPECT_TRUE(SameBits(input, x)) << "out-of-place call changed its input";

    std::vector<TComplex> inPlace = x;
    ComplexFFT(inPlace.data(), inPlace.data(), n);
    EXPECT_TRUE(SameBits(inPlace, outOfPlace));
}

TEST_P(ComplexFFTLength, RealInputGivesConjugateSymmetry)
{
    const int n = GetParam().N;
    std::vector<TComplex> x = RandomSeries(n, 11u);
    for (TComplex& v : x)
        v.Im = 0;
    std::vector<TComplex> y(x.size());
    ComplexFFT(x.data(), y.data(), n);
    const long double tol = Tolerance(x);
    long double sum = 0;
    for (const TComplex& v : x)
        sum += v.Re;
    EXPECT_NEAR(y[0].Re, sum, tol);
    EXPECT_NEAR(y[0].Im, 0, tol);
    for (int j = 1; j < n; ++j) {
        ASSERT_NEAR(y[n - j].Re, y[j].Re, 2 * tol) << "bin " << j;
        ASSERT_NEAR(y[n - j].Im, -y[j].Im, 2 * tol) << "bin " << j;
    }
}

TEST_P(ComplexFFTLength, ImpulseGivesOnesAndConstantGivesItsSum)
{
    const int n = GetParam().N;
    std::vector<TComplex> impulse(static_cast<std::size_t>(n));
    impulse[0] = {1, 0};
    ComplexFFT(impulse.data(), impulse.data(), n);
    const long double tolImpulse = 256 * std::numeric_limits<double>::epsilon();
    for (int j = 0; j < n; ++j) {
        ASSERT_NEAR(impulse[j].Re, 1, tolImpulse) << "bin " << j;
        ASSERT_NEAR(impulse[j].Im, 0, tolImpulse) << "bin " << j;
    }

    const TComplex c{0.75, -2.5};
    const std::vector<TComplex> constant(static_cast<std::size_t>(n), c);
    std::vector<TComplex> y(constant.size());
    ComplexFFT(constant.data(), y.data(), n);
    const long double tol = Tolerance(constant);
    EXPECT_NEAR(y[0].Re, n * c.Re, tol);
    EXPECT_NEAR(y[0].Im, n * c.Im, tol);
    for (int j = 1; j < n; ++j) {
        ASSERT_NEAR(y[j].Re, 0, tol) << "bin " << j;
        ASSERT_NEAR(y[j].Im, 0, tol) << "bin " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Radices, ComplexFFTLength,
    testing::Values(LengthCase{1, "radix 1"}, LengthCase{2, "radix 2"}, LengthCase{3, "radix 3"},
                    LengthCase{4, "radix 4"}, LengthCase{5, "radix 5"}, LengthCase{7, "smallest odd prime"},
                    LengthCase{8, "radix 8"}, LengthCase{10, "radix 10"}, LengthCase{11, "odd 11"},
                    LengthCase{14, "7 then 2"}, LengthCase{16, "merged 4x4"}, LengthCase{20, "2 then 10"},
                    LengthCase{48, "4, 3, 4"}, LengthCase{49, "7 twice"}, LengthCase{97, "prime, one pass"},
                    LengthCase{120, "3, 4, 10"}, LengthCase{128, "4, 4, 8"}, LengthCase{143, "13, 11"},
                    LengthCase{360, "3, 3, 4, 10"}, LengthCase{480, "8 and 10"}, LengthCase{729, "3 six times"},
                    LengthCase{1000, "10 thrice"}, LengthCase{1024, "4, 4, 8, 8"},
                    LengthCase{2310, "11, 7, 3, 10"}, LengthCase{6000, "2, 3, 10, 10, 10"},
                    LengthCase{8191, "largest prime radix"}, LengthCase{16382, "8191 then 2"}),
    [](const testing::TestParamInfo<LengthCase>& info) { return "N" + std::to_string(info.param.N); });

TEST(ComplexFFT, ZeroOrNegativeLengthTouchesNothing)
{
    const std::vector<TComplex> input = RandomSeries(4, 3u);
    const std::vector<TComplex> before(4, TComplex{9, -9});
    for (std::int32_t n : {0, -5, std::numeric_limits<std::int32_t>::min()}) {
        ComplexFFT(nullptr, nullptr, n);
        std::vector<TComplex> output = before;
        ComplexFFT(input.data(), output.data(), n);
        EXPECT_TRUE(SameBits(output, before)) << "N=" << n;
    }
}

TEST(ComplexFFT, LengthOneCopiesTheValue)
{
    const TComplex in{-0.3, 1e-300};
    TComplex out{5, 5};
    ComplexFFT(&in, &out, 1);
    EXPECT_EQ(out.Re, in.Re);
    EXPECT_EQ(out.Im, in.Im);
}

TEST(ComplexFFT, SinusoidPeaksAtItsFrequency)
{
    // k whole cycles of amplitude A: two bins of N*A/2, the rest zero.
    const int n = 480;
    const int k = 7;
    const double amplitude = 3;
    std::vector<TComplex> x(n);
    for (int i = 0; i < n; ++i)
        x[i].Re = amplitude * std::cos(2 * std::numbers::pi * k * i / n);
    ComplexFFT(x.data(), x.data(), n);
    const long double tol = 1e-11;
    for (int j = 0; j < n; ++j) {
        const double expected = (j == k || j == n - k) ? n * amplitude / 2 : 0;
        ASSERT_NEAR(x[j].Re, expected, tol) << "bin " << j;
        ASSERT_NEAR(x[j].Im, 0, tol) << "bin " << j;
    }
}

TEST(ComplexFFT, PartlyOverlappingArraysAreReadBeforeWritten)
{
    const int n = 120;
    const std::vector<TComplex> x = RandomSeries(n, 5u);
    std::vector<TComplex> expected(x.size());
    ComplexFFT(x.data(), expected.data(), n);

    for (int shift : {1, -1, 37, -119}) {
        std::vector<TComplex> buffer(3 * n);
        TComplex* input = buffer.data() + n;
        std::copy(x.begin(), x.end(), input);
        TComplex* output = input + shift;
        ComplexFFT(input, output, n);
        EXPECT_TRUE(SameBits(std::vector<TComplex>(output, output + n), expected)) << "shift " << shift;
    }
}

// ---------------------------------------------------------------- failure

class ComplexFFTTooLargeFactor : public testing::TestWithParam<int> {};

TEST_P(ComplexFFTTooLargeFactor, RaisesBeforeWritingAnything)
{
    const int n = GetParam();
    const std::vector<TComplex> x = RandomSeries(n, 2u);
    std::vector<TComplex> output(x.size(), TComplex{4, -4});
    const std::vector<TComplex> before = output;
    try {
        ComplexFFT(x.data(), output.data(), n);
        FAIL() << "no error for N=" << n;
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(),
                     "Prime factor for FFT length too large. Change value for cMaxPrimeFactor in FFTs unit");
    }
    EXPECT_TRUE(SameBits(output, before));

    std::vector<TComplex> inPlace = x;
    EXPECT_THROW(ComplexFFT(inPlace.data(), inPlace.data(), n), EMathError);
    EXPECT_TRUE(SameBits(inPlace, x));
}

INSTANTIATE_TEST_SUITE_P(PrimeAbove8192, ComplexFFTTooLargeFactor, testing::Values(8209, 2 * 8209, 3 * 8209, 8209 * 7));

TEST(ComplexFFT, HugePrimeLengthFailsWithoutReadingTheArrays)
{
    // The arrays are far shorter than N: the address sanitizer would catch
    // any access before the error.
    TComplex input[2] = {{1, 2}, {3, 4}};
    TComplex output[2] = {{5, 6}, {7, 8}};
    EXPECT_THROW(ComplexFFT(input, output, 2147483647), EMathError);
    EXPECT_EQ(output[0].Re, 5);
    EXPECT_EQ(output[1].Im, 8);
}
