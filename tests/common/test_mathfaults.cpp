#include "common/MathFaults.h"

#include <cfloat>
#include <gtest/gtest.h>

using namespace vinsk;

TEST(Round, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(3.5L), 4);
    EXPECT_EQ(Round(-2.5L), -2);
    EXPECT_EQ(Round(-3.5L), -4);
    EXPECT_EQ(Round(0.49999999999999994L), 0);
    EXPECT_EQ(Round(1e18L), 1000000000000000000LL);
}

TEST(Round, OutOfRangeOrNaNIsAnInvalidOperation)
{
    EXPECT_THROW(Round(9223372036854775808.0L), EInvalidOp);
    EXPECT_THROW(Round(-9223372036854775809.0L * 1.01L), EInvalidOp);
    EXPECT_THROW(Round(__builtin_nanl("")), EInvalidOp);
    EXPECT_EQ(Round(-9223372036854775808.0L), INT64_MIN);
}

TEST(Round, ExtendedPrecisionDiffersFromDouble)
{
    // 0.15 is held slightly below 0.15: the extended product stays below 1.5,
    // the product rounded to double is exactly 1.5 and goes to the even 2.
    const double x = 0.15;
    EXPECT_EQ(Round(static_cast<long double>(x) * 10.0L), 1);
    EXPECT_EQ(Round(static_cast<long double>(x * 10.0)), 2);
}

TEST(Low32, KeepsTheLowBits)
{
    EXPECT_EQ(Low32(5), 5);
    EXPECT_EQ(Low32(-5), -5);
    EXPECT_EQ(Low32(0x100000005LL), 5);
    EXPECT_EQ(Low32(0x80000000LL), INT32_MIN);
}

TEST(FDiv, ZeroDivisorFaults)
{
    EXPECT_EQ(FDiv(1, 4), 0.25L);
    try {
        FDiv(1, 0);
        FAIL();
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
    try {
        FDiv(0, 0);
        FAIL();
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
    }
    EXPECT_THROW(FDiv(LDBL_MAX, 0.5L), EOverflow);
}

TEST(CheckedOps, SqrtExpAndStore)
{
    EXPECT_EQ(FSqrt(16), 4.0L);
    EXPECT_THROW(FSqrt(-1e-300L), EInvalidOp);
    EXPECT_THROW(FExp(20000), EOverflow);
    EXPECT_EQ(FExp(-20000), 0.0L); // underflow is no fault
    try {
        StoreD(1e309L);
        FAIL();
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(), "Floating point overflow");
    }
    EXPECT_EQ(StoreD(1e-320L), 1e-320);
}
