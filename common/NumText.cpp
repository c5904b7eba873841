#include "NumText.h"

#include <charconv>
#include <cmath>
#include <string>

namespace vinsk {

namespace {

// |v| as 18 significant digits d1..d18 with value 0.d1d2...d18 x 10^exp.
struct Decimal18 {
    std::string digits; // exactly 18 characters
    int exp = 0;
};

Decimal18 ToDecimal18(long double mag)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific, 17);
    const std::string s(buf, res.ptr);
    // d.ddddddddddddddddde[+-]XX
    Decimal18 d;
    d.digits.reserve(18);
    d.digits.push_back(s[0]);
    const auto ePos = s.find('e');
    d.digits.append(s, 2, ePos - 2);
    d.exp = std::stoi(s.substr(ePos + 1)) + 1;
    return d;
}

// Rounds the digit string to `keep` digits by the digit that follows
// (half up on the magnitude); a carry out of the first digit raises exp.
void RoundDigits(Decimal18& d, int keep)
{
    if (keep >= static_cast<int>(d.digits.size()))
        return;
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    const bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (!up)
        return;
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') {
        d.digits[i] = '0';
        --i;
    }
    if (i >= 0) {
        ++d.digits[i];
    } else {
        d.digits.insert(d.digits.begin(), '1');
        ++d.exp;
    }
}

void StripTrailingZeros(std::string& digits)
{
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
}

} // namespace

std::string FloatText(long double v, char decimalSep)
{
    if (v == 0.0L || std::isnan(v))
        return "0";
    if (std::isinf(v))
        return v < 0 ? "-INF" : "INF";
    Decimal18 d = ToDecimal18(std::fabs(v));
    RoundDigits(d, 15);
    StripTrailingZeros(d.digits);
    std::string out = v < 0 ? "-" : "";
    const int e = d.exp;
    const int n = static_cast<int>(d.digits.size());
    if (e >= -3 && e <= 15) {
        if (e > 0) {
            if (n <= e) {
                out += d.digits;
                out.append(e - n, '0');
            } else {
                out.append(d.digits, 0, e);
                out += decimalSep;
                out.append(d.digits, e, std::string::npos);
            }
        } else {
            out += '0';
            out += decimalSep;
            out.append(-e, '0');
            out += d.digits;
        }
    } else {
        out += d.digits[0];
        if (n > 1) {
            out += decimalSep;
            out.append(d.digits, 1, std::string::npos);
        }
        out += 'E';
        out += std::to_string(e - 1);
    }
    return out;
}

std::string FixedText1(long double v, char decimalSep)
{
    if (std::isnan(v) || std::isinf(v))
        return FloatText(v, decimalSep);
    if (v == 0.0L)
        return std::string("0") + decimalSep + "0";
    Decimal18 d = ToDecimal18(std::fabs(v));
    if (d.exp > 18) // beyond the fixed form's reach: general form instead
        return FloatText(v, decimalSep);
    RoundDigits(d, d.exp + 1);
    // Digits now cover the integer part and at most one decimal.
    std::string intPart, frac = "0";
    if (d.digits.empty()) {
        intPart = "0";
    } else if (d.exp <= 0) {
        // Only reachable as 0.d (exp == 0) after rounding.
        intPart = "0";
        frac = d.exp == 0 ? std::string(1, d.digits[0]) : "0";
    } else {
        intPart = d.digits.substr(0, std::min<std::size_t>(d.exp, d.digits.size()));
        if (static_cast<int>(intPart.size()) < d.exp)
            intPart.append(d.exp - intPart.size(), '0');
        if (static_cast<int>(d.digits.size()) > d.exp)
            frac = std::string(1, d.digits[d.exp]);
    }
    const bool zero = intPart.find_first_not_of('0') == std::string::npos && frac == "0";
    std::string out = (v < 0 && !zero) ? "-" : "";
    out += intPart;
    out += decimalSep;
    out += frac;
    return out;
}

bool TryTextToFloat(std::string_view text, char decimalSep, long double& out)
{
    return TryTextToFloatSeparators(text, std::string_view(&decimalSep, 1), out);
}

bool TryTextToFloatSeparators(std::string_view text, std::string_view separators, long double& out)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    std::string canon;
    canon.reserve(text.size());
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int mantDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        canon += text[i++];
        ++mantDigits;
    }
    if (i < text.size() && separators.find(text[i]) != std::string_view::npos) {
        canon += '.';
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            canon += text[i++];
            ++mantDigits;
        }
    }
    if (mantDigits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        canon += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            canon += text[i++];
        int expDigits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            canon += text[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != text.size())
        return false;
    long double v = 0;
    const auto res = std::from_chars(canon.data(), canon.data() + canon.size(), v);
    if (res.ec != std::errc() || res.ptr != canon.data() + canon.size())
        return false;
    out = negative ? -v : v;
    return true;
}

long double TextToFloatOrZero(std::string_view text, char decimalSep)
{
    long double v = 0;
    return TryTextToFloat(text, decimalSep, v) ? v : 0.0L;
}

} // namespace vinsk

namespace vinsk {

namespace {

// std::to_chars's text with the given separator; the general form when it
// needs more room than any table gives it.
std::string CharsText(double v, std::chars_format format, int precision, char decimalSep, bool signedZero)
{
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, format, precision);
    if (res.ec != std::errc())
        return FloatText(v, decimalSep);
    std::string s(buf, res.ptr);
    if (!signedZero && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    if (decimalSep != '.')
        for (char& c : s)
            if (c == '.')
                c = decimalSep;
    return s;
}

} // namespace

std::string FixedText(double v, int decimals, char decimalSep)
{
    return CharsText(v, std::chars_format::fixed, decimals, decimalSep, false);
}

std::string GeneralText(double v, int digits, char decimalSep)
{
    return CharsText(v, std::chars_format::general, digits, decimalSep, true);
}

} // namespace vinsk
