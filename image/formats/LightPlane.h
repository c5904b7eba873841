// The picture's light for the drive analysis, made at load from its stored
// values through the tone curve the user or the file names.
#pragma once

#include <cstdint>
#include <optional>

#include "image/Bitmap32.h"
#include "linear/LinearPlane.h"
#include "linear/ToneCurve.h"
#include "setup/DriveSettings.h"

namespace vinsk {

// The user's choice first; in Auto the file's declaration, else sRGB for a
// JPEG (no camera writes a linear one: the reader declares it so) and linear
// for the rest. Samples that are light by definition stay linear.
TTransfer ChooseTransfer(const TTransferChoice& choice, const std::optional<TTransfer>& declared, bool holdsLight);

// The bytes MakeLightPlane allocates beside what the picture holds.
std::uint64_t LightPlaneBytes(const TBitmap32& raster, const TLinearPlane& plane);

// Whether MakeLightPlane changes anything.
bool MakesLightPlane(const TBitmap32& raster, const TLinearPlane& plane, const TTransfer& t, bool evenLinear);

// Replaces the plane (or, without one, makes it from the raster) by the
// light of its samples on their stored scale (0 .. 255, 0 .. 65535), as
// floats. Which samples were clipped is recorded on the stored values first.
// Nothing changes for a linear curve, unless evenLinear asks a raster
// without a plane for one (a frame applied in light). Throws std::bad_alloc.
void MakeLightPlane(const TBitmap32& raster, TLinearPlane& plane, const TTransfer& t, bool evenLinear = false);

} // namespace vinsk
