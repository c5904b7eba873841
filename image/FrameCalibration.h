// Dark and flat frames applied to the raster and to the picture's linear
// samples together.
#pragma once

#include "image/Calibration.h"
#include "image/MemoryBudget.h"

namespace vinsk {

// ApplyDark (ApplyFlat) on the raster, with its refusals and size rule; then
// the frame's linear samples are applied to the picture's in floating point.
// A frame whose samples do not match the picture's (another depth, 8 bits,
// grey against colour) drops the picture's plane, so measurements read the
// raster, and status.Linear says why. On a refusal nothing changes.
void ApplyDarkFrame(TImageState& s, const TBitmap32& dark, const TLinearPlane& darkPlane, TStatusPanels& status);
void ApplyFlatFrame(TImageState& s, const TBitmap32& flat, const TLinearPlane& flatPlane, TStatusPanels& status);

// What a frame's load must leave room for: the picture's raster and samples,
// named with the frame ("dark", "flat") in a refusal.
TMemoryHeld HeldForFrame(const TImageState& s, const char* frameName);

std::uint64_t RasterBytes(const TBitmap32& b);

// What status.Linear shows after a picture is loaded: "Linear samples: 16
// bits", or nothing for a picture without a plane.
std::string LinearPlaneNote(const TLinearPlane& plane);

} // namespace vinsk
