#include "linear/ToneCurve.h"

#include <cmath>

namespace vinsk {

const char* ToneCurveName(TToneCurve c)
{
    switch (c) {
    case TToneCurve::Srgb:
        return "srgb";
    case TToneCurve::Gamma:
        return "gamma";
    case TToneCurve::Icc:
        return "icc";
    case TToneCurve::Linear:
        break;
    }
    return "linear";
}

double LightOf(const TTransfer& t, double v, int channel)
{
    switch (t.Curve) {
    case TToneCurve::Icc: {
        const std::vector<float>& table = t.Tables->Channel[channel < 0 || channel > 2 ? 1 : channel];
        const double at = std::fmin(std::fmax(v, 0.0), 1.0) * 65535;
        return table[static_cast<std::size_t>(std::lround(at))];
    }
    case TToneCurve::Srgb:
        // IEC 61966-2-1: a straight foot, then a power of 2.4.
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    case TToneCurve::Gamma:
        return v <= 0 ? 0.0 : std::pow(v, t.Gamma);
    case TToneCurve::Linear:
        break;
    }
    return v;
}

} // namespace vinsk
