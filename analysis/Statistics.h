// Series helpers shared by the trail analysis, and the three statistics
// texts of the periodic error.
#pragma once

#include <string>
#include <vector>

namespace vinsk {

// Sum in index order, rounded to double after every addition; 0 when empty.
double ArraySum(const std::vector<double>& a);
// ArraySum / n; 0 when empty.
double ArrayMean(const std::vector<double>& a);
// The largest of 0 and the elements (never below 0).
double ArrayMax(const std::vector<double>& a);
// The smallest of 0 and the elements (never above 0).
double ArrayMin(const std::vector<double>& a);
// Sum of (x - mean)^2 over n - 1; exactly 1.0 for one element, -0 when empty.
double ArrayVariance(const std::vector<double>& a, double mean);

inline constexpr const char* InitialLabel40 = "Min/Max PE [\"]:  -0 / +0";
inline constexpr const char* InitialLabel42 = "68% interval[\"]:  -0 / +0";
inline constexpr const char* InitialLabel43 = "99% interval [\"]:  -0 / +0";

// Captions of the statistics labels under "Statistic:" on the Graph tab.
struct TStatisticTexts {
    std::string Label40 = InitialLabel40; // min / max
    std::string Label42 = InitialLabel42; // one standard deviation
    std::string Label43 = InitialLabel43; // three standard deviations

    friend bool operator==(const TStatisticTexts&, const TStatisticTexts&) = default;
};

// Min/max and the 68 % and 99 % intervals of a periodic error series, each
// rounded to one decimal.
TStatisticTexts PEStatistic(const std::vector<double>& pe, char decimalSep);

} // namespace vinsk
