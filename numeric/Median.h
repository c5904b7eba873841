// The median of a range of values, which it reorders.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vinsk {

// The mean of the two middle values for an even count, in the extended
// format; 0 for an empty range.
template <class T>
long double Median(T* first, T* last)
{
    if (first == last)
        return 0;
    const std::size_t n = static_cast<std::size_t>(last - first), m = n / 2;
    std::nth_element(first, first + m, last);
    long double med = first[m];
    if (n % 2 == 0)
        med = (med + *std::max_element(first, first + m)) / 2;
    return med;
}

// The same median of values already in order.
inline long double MedianOfSorted(const double* v, std::size_t n)
{
    if (n == 0)
        return 0;
    const std::size_t m = n / 2;
    long double med = v[m];
    if (n % 2 == 0)
        med = (med + v[m - 1]) / 2;
    return med;
}

// The same median of up to a few dozen values, by a sorting network: the
// drive's photometry takes one of some thirty samples at every step of a
// trail, where nth_element's unpredictable branches cost more than the
// comparisons. More values, or any NaN, go to Median, which reorders them.
long double MedianOfFew(double* first, double* last);

template <class T>
long double Median(std::vector<T>& v)
{
    return Median(v.data(), v.data() + v.size());
}

// The upper of the two middle values for an even count, of the values' own
// type: a typical level that is one of the values. 0 for none.
template <class T>
T UpperMedian(std::vector<T>& v)
{
    if (v.empty())
        return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

} // namespace vinsk
