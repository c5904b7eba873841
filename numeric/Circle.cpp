#include "numeric/Circle.h"

#include <cmath>

#include "numeric/LeastSquares.h"

namespace vinsk {

bool Circumcircle(long double x1, long double y1, long double x2, long double y2, long double x3, long double y3,
                  TCircle& c)
{
    const long double g = 2 * (x1 * (y2 - y3) + x2 * (y3 - y1) + x3 * (y1 - y2));
    if (g == 0)
        return false;
    const long double s1 = x1 * x1 + y1 * y1, s2 = x2 * x2 + y2 * y2, s3 = x3 * x3 + y3 * y3;
    c.Cx = (s1 * (y2 - y3) + s2 * (y3 - y1) + s3 * (y1 - y2)) / g;
    c.Cy = (s1 * (x3 - x2) + s2 * (x1 - x3) + s3 * (x2 - x1)) / g;
    c.R = hypotl(x1 - c.Cx, y1 - c.Cy);
    return true;
}

bool TAlgebraicCircle::V(long double u, long double& v) const
{
    const long double k = (A * u + B) * u + D;
    const long double disc = 1 - 4 * A * k;
    if (disc < 0)
        return false;
    v = 2 * k / (1 + std::sqrt(disc));
    return true;
}

long double TAlgebraicCircle::Distance(long double u, long double v) const
{
    const long double f = A * (u * u + v * v) + B * u - v + D;
    const long double gu = 2 * A * u + B, gv = 2 * A * v - 1;
    return std::abs(f) / std::sqrt(gu * gu + gv * gv);
}

bool FitAlgebraicCircle(const std::vector<std::array<double, 3>>& points, double scale, TAlgebraicCircle& c)
{
    std::vector<std::array<long double, 4>> rows;
    std::vector<long double> w;
    rows.reserve(points.size());
    w.reserve(points.size());
    for (const auto& pt : points) {
        const long double u = pt[0] / scale, v = pt[1] / scale;
        rows.push_back({u * u + v * v, u, 1, v});
        w.push_back(pt[2]);
    }
    std::array<long double, 3> p{};
    if (!WeightedLeastSquares<3>(rows, w, p))
        return false;
    c.A = p[0] / scale;
    c.B = p[1];
    c.D = p[2] * scale;
    return true;
}

} // namespace vinsk
