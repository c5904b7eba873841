// Reading the picture along the trail walk into the four sample arrays, and
// the brightness series of one colour channel.
#pragma once

#include <vector>

#include "analysis/TrailGeometry.h"
#include "analysis/TrailState.h"
#include "common/Status.h"
#include "image/Bitmap32.h"
#include "image/SampleSource.h"

namespace vinsk {

// Fits the circle; with a zero radius returns leaving the arrays as they
// were. Otherwise resizes the four arrays to the walk's N (old elements kept,
// new ones zero) and fills them position by position: the time k * step with
// step = |exposureTime / D|, the coordinate along the trail, the pixel
// read-out (which also writes the read-out panel) and its channel mean. D = 0
// (START equal to STOP) fails with EInvalidOp before the first position.
void SampleTrail(TTrailState& trail, const TCheckPointEdits& edits, double exposureTime,
                 const TBitmap32& bitmap, TStatusPanels& status);

// One value per element of GraphX: the channel's sample, or GraphY for
// ChannelAvg. Elements without a sample behind them (arrays of different
// length left by an abandoned run) read as 0.
std::vector<double> BrightnessSeries(const TTrailState& trail, int channel);

} // namespace vinsk
