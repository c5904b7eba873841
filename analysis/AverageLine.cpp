#include "analysis/AverageLine.h"

#include <algorithm>
#include <cstdint>

#include "analysis/Statistics.h"
#include "common/MathFaults.h"

namespace vinsk {

void SmoothBrightness(std::vector<double>& y, double width)
{
    std::int64_t n0 = 0;
    double mean = 0;
    try {
        n0 = Round(width);
        mean = ArrayMean(y);
    } catch (const EMathError&) {
        // An unusable width or mean leaves the series as it is.
        n0 = 0;
        mean = 0;
    }
    const auto n = static_cast<std::int64_t>(y.size());
    // Descending, so every window still sees unsmoothed samples. A negative
    // width never reaches below the first sample.
    for (std::int64_t i = n - 1; i >= std::max<std::int64_t>(n0, 0); --i) {
        const std::int64_t t = std::max<std::int64_t>(Round(i - static_cast<long double>(width)), 0);
        double sum = 0;
        for (std::int64_t j = i; j >= t; --j)
            sum = StoreD(static_cast<long double>(sum) + y[static_cast<std::size_t>(j)]);
        y[static_cast<std::size_t>(i)] = StoreD(FDiv(sum, static_cast<long double>(width) + 1));
    }
    const std::int64_t head = std::min(n0, n);
    for (std::int64_t i = head - 1; i >= 0; --i)
        y[static_cast<std::size_t>(i)] = mean;
}

} // namespace vinsk
