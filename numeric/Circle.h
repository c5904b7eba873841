// Circles from trail points: the exact circle through three points, and the
// least-squares circle through many.
#pragma once

#include <array>
#include <vector>

namespace vinsk {

struct TCircle {
    long double Cx = 0, Cy = 0, R = 0;
};

// The circle through three points, exact in the extended format (the
// plotting run's circle rounds its centre to whole pixels; measurements want
// the circle itself). False when the points are collinear.
bool Circumcircle(long double x1, long double y1, long double x2, long double y2, long double x3, long double y3,
                  TCircle& c);

// v = A (u^2 + v^2) + B u + D: a circle in a frame whose u axis runs along
// the points, or the line it becomes when A = 0, which is what nearly
// straight points need (a centre far away is ill-conditioned; A is not).
struct TAlgebraicCircle {
    long double A = 0, B = 0, D = 0;

    // v on the circle at u; false where the circle does not reach u.
    bool V(long double u, long double& v) const;
    // Distance of (u, v) from the circle, to first order.
    long double Distance(long double u, long double v) const;
};

// The weighted least-squares circle through points {u, v, weight}, solved
// in units of `scale` (about the points' extent, in double as the points)
// so that the columns are of one size. False when the points do not determine it.
bool FitAlgebraicCircle(const std::vector<std::array<double, 3>>& points, double scale, TAlgebraicCircle& c);

} // namespace vinsk
