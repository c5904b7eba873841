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
// A picture without samples whose first frame brings some (an 8-bit frame
// as light, see TPictureExtras::AsFrame) gets them from its raster first, so
// the frames apply in floating point. The dark's samples are kept as the
// flat's offset unless a flat-dark frame gave one; the flat is divided less
// that offset.
void ApplyDarkFrame(TImageState& s, const TBitmap32& dark, const TLinearPlane& darkPlane, TStatusPanels& status);
void ApplyFlatFrame(TImageState& s, const TBitmap32& flat, const TLinearPlane& flatPlane, TStatusPanels& status);

// The flat-dark (bias) frame: kept as the flat's offset for the samples; the
// raster is not touched. Refused without a picture or after the flat.
std::optional<std::string> FlatDarkRefusal(const TImageState& s);
void ApplyFlatDarkFrame(TImageState& s, const TBitmap32& flatDark, const TLinearPlane& plane, TStatusPanels& status);

// Whether the flat was applied to the samples less the dark frame's
// offset, no flat-dark frame having been given.
bool FlatOffsetFromDark(const TImageState& s);

// A new picture: no frame applied, no offset held.
void ForgetFrames(TImageState& s);

// The raster's stored values as a plane of three float channels of an 8-bit
// source, the samples at 255 recorded as clipped. Throws std::bad_alloc.
void RasterToPlane(const TBitmap32& raster, TLinearPlane& plane);

// What a frame's load must leave room for: the picture's raster and samples,
// named with the frame ("dark", "flat") in a refusal.
TMemoryHeld HeldForFrame(const TImageState& s, const char* frameName);

// At most what applying a dark, flat or flat-dark frame holds at its peak
// as the budget counts it: the picture, the frame with its samples (and
// their copy kept as the flat's offset), and the picture's samples made
// floating point.
std::uint64_t FrameApplyBytes(const TImageState& s, const TBitmap32& frame, const TLinearPlane& framePlane);

// What the open picture holds while a new one is read to replace it.
TMemoryHeld HeldForNewPicture(const TImageState& s);

// Whether the open picture may be let go before a new one is read: only
// when it is still its file as read, with no frame applied to it.
bool PictureReleasable(const TImageState& s);

std::uint64_t RasterBytes(const TBitmap32& b);

// What status.Linear shows after a picture is loaded: "Linear samples: 16
// bits", or nothing for a picture without a plane.
std::string LinearPlaneNote(const TLinearPlane& plane);

} // namespace vinsk
