#include "analysis/Statistics.h"

#include "common/MathFaults.h"
#include "common/NumText.h"

namespace vinsk {

double ArraySum(const std::vector<double>& a)
{
    double sum = 0;
    for (double v : a)
        sum = StoreD(static_cast<long double>(sum) + v);
    return sum;
}

double ArrayMean(const std::vector<double>& a)
{
    if (a.empty())
        return 0;
    return StoreD(FDiv(ArraySum(a), static_cast<long double>(a.size())));
}

double ArrayMax(const std::vector<double>& a)
{
    double m = 0;
    for (double v : a)
        if (!(m >= v))
            m = v;
    return m;
}

double ArrayMin(const std::vector<double>& a)
{
    double m = 0;
    for (double v : a)
        if (!(m <= v))
            m = v;
    return m;
}

double ArrayVariance(const std::vector<double>& a, double mean)
{
    if (a.size() == 1)
        return 1.0;
    double sum = 0;
    for (double v : a) {
        const long double d = static_cast<long double>(v) - mean;
        sum = StoreD(sum + d * d);
    }
    const long double high = static_cast<long double>(a.size()) - 1;
    return StoreD(FDiv(sum, high));
}

namespace {

// Rounded to one decimal, halves to even: Round(v * 10) / 10.
std::string OneDecimal(long double tenfold, char sep)
{
    return FloatText(static_cast<long double>(Round(tenfold)) / 10, sep);
}

} // namespace

TStatisticTexts PEStatistic(const std::vector<double>& pe, char decimalSep)
{
    const double min = ArrayMin(pe);
    const double max = ArrayMax(pe);
    const double mean = ArrayMean(pe);
    const double sigma = StoreD(FSqrt(ArrayVariance(pe, mean)));
    TStatisticTexts t;
    t.Label40 = "Min/Max PE [\"]: " + OneDecimal(min * 10.0L, decimalSep) + "/" + OneDecimal(max * 10.0L, decimalSep);
    t.Label42 = "68% interval[\"]:  +/- " + OneDecimal(sigma * 10.0L, decimalSep);
    t.Label43 = "99% interval[\"]:  +/- " + OneDecimal(sigma * 30.0L, decimalSep);
    return t;
}

} // namespace vinsk
