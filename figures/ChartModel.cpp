#include "figures/ChartModel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vinsk {

bool ChartXBefore(const TChartPoint& a, const TChartPoint& b)
{
    if (std::isnan(a.X) || std::isnan(b.X))
        return !std::isnan(a.X) && std::isnan(b.X);
    return a.X < b.X;
}

void SortChartPoints(std::vector<TChartPoint>& points)
{
    // Normally sorted already. A stable sort keeps equal X in the order of
    // addition, as AddXY does, without its quadratic cost on a trail walked
    // towards smaller x.
    if (!std::is_sorted(points.begin(), points.end(), ChartXBefore))
        std::stable_sort(points.begin(), points.end(), ChartXBefore);
}

void TChartModel::AddXY(double x, double y)
{
    const TChartPoint p{x, y};
    Points.insert(std::upper_bound(Points.begin(), Points.end(), p, ChartXBefore), p);
}

void TChartModel::SetPoints(const std::vector<double>& xs, const std::vector<double>& ys, std::size_t count)
{
    if (count > xs.size() || count > ys.size())
        throw std::out_of_range("TChartModel::SetPoints: fewer values than points");
    Points.clear();
    Points.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        Points.push_back({xs[i], ys[i]});
    SortChartPoints(Points);
}

} // namespace vinsk
