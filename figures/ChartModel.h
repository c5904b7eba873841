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

inline constexpr const char* InitialChartTitle = "Periodic error";
inline constexpr const char* InitialBottomCaption = "Time [s]";
inline constexpr const char* InitialLeftCaption = "PE [\"]";

struct TChartModel {
    std::string Title = InitialChartTitle;
    std::string BottomCaption = InitialBottomCaption;
    std::string LeftCaption = InitialLeftCaption;
    std::vector<TChartPoint> Points; // ascending X; equal X in order of addition
    bool BottomLogarithmic = false;

    // Inserts after the last point whose X is less than or equal to x.
    void AddXY(double x, double y);
    // Replaces the points by (xs[i], ys[i]) for i < count, as if added one by
    // one in index order.
    void SetPoints(const std::vector<double>& xs, const std::vector<double>& ys, std::size_t count);
};

} // namespace vinsk
