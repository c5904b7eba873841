// Number texts shown to the user or written to files.
#pragma once

#include <string>
#include <string_view>

namespace vinsk {

// General form: up to 15 significant digits taken from the value's 18-digit
// decimal form (a 16th digit of 5 or more rounds the magnitude up), no
// trailing zeros, no point for a whole number, exponent form ("1E-5",
// "1.5E20") only below 0.0001 in magnitude or from 10^15 upwards.
std::string FloatText(long double v, char decimalSep = '.');

// Fixed form with exactly one decimal, as the Setup fields show a value the
// program sets: the 18-digit decimal form is cut after the first decimal and
// a following digit of 5 or more rounds the magnitude up (400.25 -> "400.3",
// 0.15 -> "0.1" because the stored value lies below 0.15).
std::string FixedText1(long double v, char decimalSep = '.');

// Fixed form with the given number of decimals, for tables, reports and
// summaries (not the Setup fields): a value that rounds to zero has no minus
// sign ("0.00", never "-0.00").
std::string FixedText(double v, int decimals, char decimalSep = '.');

// Up to the given number of significant digits, no trailing zeros, as
// printf's %g writes it ("1e-05", "2.5e+06"), for reports and axis labels;
// "nan", "inf" and "-0" as they are.
std::string GeneralText(double v, int digits, char decimalSep = '.');

// Parses a decimal number written with the given separator (blanks around it
// allowed, optional sign and exponent). Returns false for anything else,
// including an empty text.
bool TryTextToFloat(std::string_view text, char decimalSep, long double& out);

// The same, with any one of the given characters as the decimal separator;
// a text holding two separators is no number.
bool TryTextToFloatSeparators(std::string_view text, std::string_view separators, long double& out);

// Text that does not parse reads as 0, as in the numeric fields.
long double TextToFloatOrZero(std::string_view text, char decimalSep);

} // namespace vinsk
