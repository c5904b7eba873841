// What the chart holds: a title line, two axis captions, the bottom axis's
// logarithmic switch and one line series kept in ascending x.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vinsk {

struct TChartPoint {
    double X = 0;
    double Y = 0;

    friend bool operator==(const TChartPoint&, const TChartPoint&) = default;
};

// The order of a series, the one both the model and the chart widget keep:
// ascending X, a NaN X after all others, so that the order stays strict.
bool ChartXBefore(const TChartPoint& a, const TChartPoint& b);
// Puts points in that order; points of equal X (and NaN X) keep their order.
void SortChartPoints(std::vector<TChartPoint>& points);

inline constexpr const char* InitialChartTitle = "Periodic error";
inline constexpr const char* InitialBottomCaption = "Time [s]";
inline constexpr const char* InitialLeftCaption = "PE [\"]";

struct TChartModel {
    std::string Title = InitialChartTitle;
    std::string BottomCaption = InitialBottomCaption;
    std::string LeftCaption = InitialLeftCaption;
    std::vector<TChartPoint> Points; // ChartXBefore order; equal X in order of addition
    bool BottomLogarithmic = false;

    // Inserts after the last point whose X is less than or equal to x.
    void AddXY(double x, double y);
    // Replaces the points by (xs[i], ys[i]) for i < count, as if added one by
    // one in index order.
    void SetPoints(const std::vector<double>& xs, const std::vector<double>& ys, std::size_t count);
};

} // namespace vinsk
