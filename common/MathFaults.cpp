#include "MathFaults.h"

#include <cfenv>
#include <cmath>

namespace vinsk {

long double Checked(long double x)
{
    if (std::isnan(x))
        throw EInvalidOp();
    if (std::isinf(x))
        throw EOverflow();
    return x;
}

long double FDiv(long double a, long double b)
{
    if (std::isnan(a) || std::isnan(b))
        throw EInvalidOp();
    if (b == 0.0L) {
        if (a == 0.0L)
            throw EInvalidOp();
        throw EZeroDivide();
    }
    return Checked(a / b);
}

long double FSqrt(long double x)
{
    if (std::isnan(x) || x < 0.0L)
        throw EInvalidOp();
    return Checked(std::sqrt(x));
}

long double FExp(long double x)
{
    return Checked(std::exp(Checked(x)));
}

double StoreD(long double x)
{
    const double d = static_cast<double>(Checked(x));
    if (std::isinf(d))
        throw EOverflow();
    return d;
}

std::int64_t Round(long double x)
{
    if (std::isnan(x))
        throw EInvalidOp();
    // The default rounding mode is to nearest, ties to even; nothing in the
    // program changes it.
    const long double r = std::nearbyint(x);
    constexpr long double lo = -9223372036854775808.0L; // -2^63
    constexpr long double hi = 9223372036854775808.0L;  //  2^63
    if (!(r >= lo && r < hi))
        throw EInvalidOp();
    return static_cast<std::int64_t>(r);
}

} // namespace vinsk
