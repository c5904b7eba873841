// Finds the one star trail in a picture and places START, STOP and IN-LINE
// on it, as a user would click them.
//
// The background is estimated tile by tile (median and MAD) on a binned,
// lightly smoothed copy of the picture; regions above it are grown from
// seeds well above the noise. The brightest elongated region is the trail.
// Its crest is measured across the trail at every pixel along its principal
// axis, a circle is fitted to the crest by least squares, and the ends are
// where the flux across the trail falls to half its level next to the end:
// for a star that moved steadily, that is where its image stood when the
// exposure began and ended. IN-LINE is the fitted arc's middle.
#pragma once

#include <optional>
#include <string>

#include "analysis/TrailState.h"
#include "common/Refusal.h"
#include "image/SampleSource.h"
#include "setup/DriveSettings.h"

namespace vinsk {

struct TTrailPoints {
    TIntPoint Start;
    TIntPoint Stop;
    TIntPoint InLine;
};

// A point in image pixel coordinates (x right, y down).
struct TImagePoint {
    double X = 0;
    double Y = 0;
};

struct TTrailSearch : TRefusal {
    // The three check points in whole pixels, or nothing when refused. One
    // picture does not show which way the star moved: START is at the end
    // on the given side; without one, the trail's left end, or
    // its top end when the trail is steeper than 45 degrees, the way the
    // Graph tab's walk reads the trail.
    std::optional<TTrailPoints> Points;

    // As measured, before rounding to whole pixels.
    TImagePoint Start, Stop, InLine;
    double Length = 0;      // along the arc from START to STOP [px]
    double CrestSigma = 0;  // the trail's cross-section, as a Gaussian's sigma [px]
};

// Refusals end with what the user can do; the first words say what failed.
inline constexpr const char* NoTrailPrefix = "No star trail found: ";

// Searches the picture's given channel (ChannelR ... ChannelAvg).
// Never throws for any picture content; an empty picture is refused.
TTrailSearch FindTrail(const TSampleSource& samples, int channel = ChannelAvg, TStartSide side = TStartSide::Auto);

} // namespace vinsk
