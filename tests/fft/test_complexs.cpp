#include "fft/Complexs.h"

#include <gtest/gtest.h>

using namespace vinsk;

namespace {

void ExpectComplex(TComplex actual, double re, double im)
{
    EXPECT_EQ(actual.Re, re);
    EXPECT_EQ(actual.Im, im);
}

} // namespace

TEST(Complexs, ArithmeticOnHandPickedValues)
{
    const TComplex a = MakeComplex(1, 2);
    const TComplex b = MakeComplex(3, -4);
    ExpectComplex(a, 1, 2);
    ExpectComplex(CAdd(a, b), 4, -2);
    ExpectComplex(CSub(a, b), -2, 6);
    // (1 + 2i)(3 - 4i) = 3 - 4i + 6i + 8 = 11 + 2i
    ExpectComplex(CMul(a, b), 11, 2);
    ExpectComplex(CMul(MakeComplex(0, 1), MakeComplex(0, 1)), -1, 0);
    ExpectComplex(CScale(b, -0.5), -1.5, 2);
}
