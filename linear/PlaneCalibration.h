// Dark and flat frames applied to the linear samples, in floating point.
#pragma once

#include <string>

#include "linear/LinearPlane.h"

namespace vinsk {

// Empty when the frame's samples can be applied to the picture's: the same
// size, channels and source depth. Otherwise why not, for the status bar
// ("the dark frame has 8 bits per sample, the picture 16").
std::string PlaneMismatch(const TLinearPlane& picture, const TLinearPlane& frame, const char* frameName);

// How the status bar names the samples: "16 bits", "32-bit floats", ...
std::string DepthText(int sourceBits);

// picture -= dark, sample by sample, in floating point and without a floor:
// the noise of the background keeps its mean. The picture's samples become
// floats. The caller has checked PlaneMismatch.
void SubtractDarkPlane(TLinearPlane& picture, const TLinearPlane& dark);

// picture *= mean(flat channel) / flat, in floating point; a flat sample of
// 0 (or not a number) leaves the picture's sample as it is. With an offset
// (the flat's own dark, of the flat's shape), flat - offset takes the flat's
// place: the offset is no light, and dividing by it leaves part of the
// vignetting in. A sample of flat - offset at or below 0 is then left alone.
void DivideFlatPlane(TLinearPlane& picture, const TLinearPlane& flat, const TLinearPlane* offset = nullptr);

} // namespace vinsk
