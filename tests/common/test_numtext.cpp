#include "common/NumText.h"

#include <gtest/gtest.h>

using namespace vinsk;

struct TextRow {
    long double value;
    const char* text;
};

void PrintTo(const TextRow& r, std::ostream* os) { *os << r.text; }

class FloatTextRows : public ::testing::TestWithParam<TextRow> {};

TEST_P(FloatTextRows, GeneralForm)
{
    EXPECT_EQ(FloatText(GetParam().value, '.'), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    NumText, FloatTextRows,
    ::testing::Values(TextRow{0, "0"}, TextRow{-0.0L, "0"}, TextRow{120, "120"}, TextRow{12.7, "12.7"},
                      TextRow{-3.1, "-3.1"}, TextRow{0.00001L, "1E-5"}, TextRow{1.5e20L, "1.5E20"},
                      TextRow{0.0001L, "0.0001"}, TextRow{0.00012345L, "0.00012345"},
                      TextRow{1e15L, "1E15"}, TextRow{999999999999999.0L, "999999999999999"},
                      TextRow{123456789012345678.0L, "1.23456789012346E17"},
                      TextRow{static_cast<double>(-4.898789148036954), "-4.89878914803695"},
                      TextRow{static_cast<double>(1.0 / 3.0), "0.333333333333333"},
                      TextRow{static_cast<double>(2.0 / 3.0), "0.666666666666667"},
                      // A 16th digit of 9 carries into a new leading digit.
                      TextRow{9.9999999999999999L, "10"}, TextRow{-1e-5L, "-1E-5"}, TextRow{1e100L, "1E100"}));

TEST(FloatText, ExtendedProductShowsAsComputed)
{
    // 12.7 is stored below 12.7; 60 times it in extended is 761.99999999999995...
    const double a = 12.7;
    EXPECT_EQ(FloatText(60.0L * a, '.'), "762");
}

TEST(FloatText, LocaleSeparator)
{
    EXPECT_EQ(FloatText(1.5e-6L, ','), "1,5E-6");
    EXPECT_EQ(FloatText(-4.25L, ','), "-4,25");
}

class FixedTextRows : public ::testing::TestWithParam<TextRow> {};

TEST_P(FixedTextRows, OneDecimal)
{
    EXPECT_EQ(FixedText1(GetParam().value, '.'), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(NumText, FixedTextRows,
                         ::testing::Values(TextRow{400, "400.0"}, TextRow{400.25L, "400.3"},
                                           TextRow{static_cast<double>(0.15), "0.1"}, TextRow{5.74L, "5.7"},
                                           TextRow{6.45L, "6.5"}, TextRow{0, "0.0"}, TextRow{-2.96L, "-3.0"},
                                           TextRow{0.05L, "0.1"}, TextRow{0.04L, "0.0"}, TextRow{-0.04L, "0.0"},
                                           TextRow{9.96L, "10.0"}, TextRow{0.004L, "0.0"},
                                           TextRow{static_cast<double>(5.7e-6 * 1e6), "5.7"}));

// The tables' and reports' forms: what the summaries, the PEC files and the
// chart's axis read, with the separator the user chose.
TEST(NumText, TableForms)
{
    const struct {
        std::string Text, Expected;
    } rows[] = {
        {FixedText(-0.004, 2), "0.00"}, // a rounded zero has no sign
        {FixedText(-0.005001, 2), "-0.01"},
        {FixedText(1234.5678, 3, ','), "1234,568"},
        {FixedText(2.5, 0), "2"}, // to even, as the exact binary value is half
        {FixedText(1e300, 2).substr(0, 4), "1000"},
        {GeneralText(0.0001, 6), "0.0001"},
        {GeneralText(0.00001, 6), "1e-05"},
        {GeneralText(1234567.0, 6), "1.23457e+06"},
        {GeneralText(2.50, 6, ','), "2,5"},
        {GeneralText(1.0 / 3.0, 10), "0.3333333333"},
        {GeneralText(-120, 6), "-120"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.Text, row.Expected);
}

TEST(TextToFloat, ParsesWithTheGivenSeparator)
{
    long double v = -1;
    EXPECT_TRUE(TryTextToFloat(" 5.74 ", '.', v));
    EXPECT_EQ(v, 5.74L);
    EXPECT_TRUE(TryTextToFloat("-1,5E3", ',', v));
    EXPECT_EQ(v, -1500.0L);
    EXPECT_TRUE(TryTextToFloat("400", '.', v));
    EXPECT_EQ(v, 400.0L);
    EXPECT_TRUE(TryTextToFloat(".5", '.', v));
    EXPECT_EQ(v, 0.5L);
    for (const char* bad : {"", "  ", "5,7", "abc", "1e", "+", "1.2.3", "4 0"})
        EXPECT_FALSE(TryTextToFloat(bad, '.', v)) << bad;
    EXPECT_EQ(TextToFloatOrZero("5,7", '.'), 0.0L);
    EXPECT_EQ(TextToFloatOrZero("5,7", ','), 5.7L);
}
