// The check points, the circle fitted through them and the four sample
// arrays of the trail. One instance lives as long as the window (or the
// command-line run) that owns it; every plotting run rewrites it.
#pragma once

#include <cstdint>
#include <vector>

#include "image/Bitmap32.h"

namespace vinsk {

struct TIntPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;

    friend bool operator==(const TIntPoint&, const TIntPoint&) = default;
};

struct TTrailState {
    TIntPoint StartPoint;
    TIntPoint StopPoint;
    TIntPoint InLinePoint;
    TIntPoint ArcCenter;
    double ArcRadius = 0;
    // The three check points lie on one line (or two coincide): the walk
    // then follows the straight line from START to STOP.
    bool ArcIsLine = false;

    std::vector<double> GraphX;  // time of each sample [s]; a figure's abscissa inside a run
    std::vector<double> TrailPos; // coordinate along the walk's major axis [pix]
    std::vector<double> GraphY;  // (R + G + B) / 3; a figure's ordinate inside a run
    std::vector<PixelValue> ChannelSamples;
};

} // namespace vinsk
