// How a picture's stored values map to light. The drive analysis measures
// light: a step where the star dwelt twice as long must read twice as
// bright, which a camera's tone curve (the sRGB curve, a power of about
// 1/2.2) does not give.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vinsk {

enum class TToneCurve { Linear, Srgb, Gamma, Icc };

// An ICC profile's curves: each channel's light in 0 .. 1 for the stored
// levels 0 .. 65535 (an 8-bit level k is entry 257 k).
struct TCurveTables {
    std::vector<float> Channel[3];
};

struct TTransfer {
    TToneCurve Curve = TToneCurve::Linear;
    double Gamma = 1; // light = v^Gamma for TToneCurve::Gamma, v in 0 .. 1
    // Where the curve came from: "setting", "icc", "png-srgb", "png-gama",
    // "exif", "jpeg-default", "format-default".
    std::string Source = "format-default";
    std::shared_ptr<const TCurveTables> Tables{}; // for Icc

    bool IsLinear() const { return Curve == TToneCurve::Linear || (Curve == TToneCurve::Gamma && Gamma == 1); }
    bool operator==(const TTransfer&) const = default;
};

// "linear", "srgb", "gamma", "icc".
const char* ToneCurveName(TToneCurve c);

// The light of a stored value v in 0 .. 1, in 0 .. 1, in channel 0 (red),
// 1 (green) or 2 (blue).
double LightOf(const TTransfer& t, double v, int channel = 1);

} // namespace vinsk
