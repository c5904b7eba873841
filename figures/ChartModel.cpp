#include "figures/ChartModel.h"

#include <algorithm>
#include <stdexcept>

namespace vinsk {

namespace {
bool ByX(const TChartPoint& a, const TChartPoint& b) { return a.X < b.X; }
} // namespace

void TChartModel::AddXY(double x, double y)
{
    const TChartPoint p{x, y};
    Points.insert(std::upper_bound(Points.begin(), Points.end(), p, ByX), p);
}

void TChartModel::SetPoints(const std::vector<double>& xs, const std::vector<double>& ys, std::size_t count)
{
    if (count > xs.size() || count > ys.size())
        throw std::out_of_range("TChartModel::SetPoints: fewer values than points");
    Points.clear();
    Points.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        Points.push_back({xs[i], ys[i]});
    // A stable sort keeps equal X in the order of addition, as AddXY does,
    // without its quadratic cost on a trail walked towards smaller x.
    std::stable_sort(Points.begin(), Points.end(), ByX);
}

} // namespace vinsk
