// How a picture's stored values map to light. The drive analysis measures
// light: a step where the star dwelt twice as long must read twice as
// bright, which a camera's tone curve (the sRGB curve, a power of about
// 1/2.2) does not give.
#pragma once

#include <string>

namespace vinsk {

enum class TToneCurve { Linear, Srgb, Gamma };

struct TTransfer {
    TToneCurve Curve = TToneCurve::Linear;
    double Gamma = 1; // light = v^Gamma for TToneCurve::Gamma, v in 0 .. 1
    // Where the curve came from: "setting", "png-srgb", "png-gama",
    // "jpeg-default", "format-default".
    std::string Source = "format-default";

    bool IsLinear() const { return Curve == TToneCurve::Linear || (Curve == TToneCurve::Gamma && Gamma == 1); }
    bool operator==(const TTransfer&) const = default;
};

// "linear", "srgb", "gamma".
const char* ToneCurveName(TToneCurve c);

// The light of a stored value v in 0 .. 1, in 0 .. 1.
double LightOf(const TTransfer& t, double v);

} // namespace vinsk
