#include "analysis/Estimation.h"

#include <cmath>

#include "common/MathFaults.h"

namespace vinsk {

namespace {
constexpr long double TwoPi = 6.283185307179586476925286766559L;
}

void EstimationCurve(TTrailState& trail, double mean, double variance)
{
    const double s = StoreD(FSqrt(variance));
    const double lo = StoreD(mean - 3.0L * s);
    const double hi = StoreD(mean + 3.0L * s);
    const double step = StoreD((static_cast<long double>(hi) - lo) / (EstimationPoints - 1));
    trail.GraphY.resize(EstimationPoints);
    trail.GraphX.resize(EstimationPoints);
    for (int i = 0; i < EstimationPoints; ++i) {
        trail.GraphX[i] = StoreD(i * static_cast<long double>(step) + lo);
        const long double prefactor = FDiv(1, FSqrt(TwoPi * variance));
        const long double d = static_cast<long double>(trail.GraphX[i]) - mean;
        trail.GraphY[i] = StoreD(prefactor * FExp(FDiv(FDiv(-(d * d), 2), variance)));
    }
}

} // namespace vinsk
