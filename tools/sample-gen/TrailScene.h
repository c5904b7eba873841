// A synthetic star-trail exposure with a known periodic error, with its
// matching dark and flat frames.
//
// The trail is an arc of the circle through three whole-pixel check points,
// with a Gaussian cross-section. The star's time runs linearly along the
// trail's major axis (as the analyser assumes), and the brightness at the
// trail's centre encodes the mount's error E(t) through the analyser's
// conversion: b / m = 1 + E / K for E > 0 and 1 / (1 - E / K) otherwise,
// K = alpha x speed, m the mean brightness over the sampled positions.
// A small constant Offset is added to E so that m really is the mean, which
// makes the analyser's result for a clean trail exactly E + Offset.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/writers/DeepWriters.h"
#include "tools/writers/RgbImage.h"

namespace vinsk::tools {

struct TPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

struct TSceneOptions {
    std::int32_t Width = 720;
    std::int32_t Height = 400;
    TPoint Start{54, 220};
    TPoint Stop{666, 196};
    double Sag = 16;   // pixels the arc's middle lies off the chord (sign: side)
    double Sigma = 3;  // Gaussian cross-section of the trail, pixels

    // Mean brightness of the trail's centre (levels, before vignetting) and
    // the star's colour as channel factors.
    double TrailLevel = 165;
    std::array<double, 3> StarColor{1.0, 0.96, 0.88};
    double SkyLevel = 3;
    std::array<double, 3> SkyColor{0.8, 0.9, 1.0};
    double Vignetting = 0.3; // light at the corners falls to 1 - Vignetting

    double DarkLevel = 6;    // thermal level of the dark
    double AmpGlow = 14;     // extra dark signal fading from the left edge
    std::int32_t HotPixels = 14;
    double ReadNoise = 0.8;  // levels, per channel
    double ElectronsPerLevel = 40; // photon noise: sqrt(level / ElectronsPerLevel)
    double DarkNoise = 0.3;  // the master dark is an average of many frames
    double FlatLevel = 185;
    double FlatNoise = 0.4;
    std::uint64_t Seed = 1;

    // The periodic error: A1 sin(2 pi t / Period + Phase1) + A2 sin(4 pi t / Period + Phase2).
    double A1 = 8, Phase1 = 0;
    double A2 = 3, Phase2 = 1;
    double Period = 40; // seconds

    // The experiment, as the settings file carries it (field units).
    double PixelUm = 5.7;
    double FocalMm = 400;
    double ExposureS = 120;
    double MountSpeed = 15; // arc seconds per second

    // Also draw the three pictures with 16-bit samples (256 per level).
    bool Deep = false;
};

struct TExpectedPE {
    TPoint InLine;          // the third check point
    double Alpha = 0;       // arc seconds per sampling step
    double Offset = 0;      // added to E so that the brightness mean holds
    std::int32_t Samples = 0;
    std::vector<double> PE; // E(t_k) + Offset at every sampled position
    double Min = 0, Max = 0, Sigma = 0; // as the statistics report them
};

struct TScene {
    TRgbImage Image, Dark, Flat;
    TRgb16Image Image16, Dark16, Flat16; // when the options ask for deep pictures
    TExpectedPE Expected;
};

// The error of the mount at time t, without the offset.
double MountError(const TSceneOptions& o, double t);

// The third check point, the step angle and the expected series, without
// drawing anything. Throws std::invalid_argument for a degenerate trail.
TExpectedPE ExpectedPeriodicError(const TSceneOptions& o);

TScene RenderScene(const TSceneOptions& o);

} // namespace vinsk::tools
