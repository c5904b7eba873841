// A physically rendered trail as the window holds it: an 8-bit raster, with
// the Setup values of the rendering and the check points a user clicks.
// The drive, trail-search and window tests and the drive benchmark measure
// the same scenes through these.
#pragma once

#include <cstdint>

#include "drive/DriveAnalysis.h"
#include "image/Bitmap32.h"
#include "setup/Experiment.h"
#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/writers/RgbImage.h"

namespace vinsk {

// Where a trail runs: the picture's size, START and STOP, and the bow off
// the chord at its middle.
struct TTrailPath {
    std::int32_t Width = 0, Height = 0;
    double StartX = 0, StartY = 0, StopX = 0, StopY = 0;
    double Sag = 0;
};
void SetPath(tools::TPhysicalOptions& o, const TTrailPath& path);

// The table-driven drive tests' trail: terms of 5" and 1.5" on the worm
// period and its half at f = 300 mm, `cycles` worm periods long, in 8 bits
// or in 16 (crest 40,000 over a background of 900, noise 60).
tools::TPhysicalOptions TableTrail(const TTrailPath& path, double period, double cycles, int bits,
                                   std::uint64_t seed);

// The 8-bit picture, opaque.
TBitmap32 Raster(const tools::TRgbImage& rgb);
TBitmap32 Raster(const tools::TPhysicalTrail& t);

// The rendering's optics, exposure and mount speed.
TExperiment SetupOf(const tools::TPhysicalOptions& o, const tools::TPhysicalTruth& truth);

// The Setup values with the check points a user clicks, whole pixels: START
// and STOP at the trail's true ends, IN-LINE on the arc's middle.
TDriveInput InputFor(const tools::TPhysicalOptions& o, const tools::TPhysicalTruth& truth);

struct TRendered {
    TBitmap32 Bitmap;
    TDriveInput Input;
};

TRendered Render(const tools::TPhysicalOptions& o);

} // namespace vinsk
