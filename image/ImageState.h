// The loaded picture and its calibration flags.
#pragma once

#include "image/Bitmap32.h"
#include "linear/LinearPlane.h"
#include "linear/ToneCurve.h"

namespace vinsk {

enum class TFlatOffsetSource { None, Dark, FlatDark };

struct TImageState {
    TBitmap32 Bitmap;         // the picture of Image1
    bool DarkApplied = false; // the dark has been subtracted
    bool FlatApplied = false; // the flat has been divided out
    // The picture's own samples when it has more than 8 bits per sample;
    // calibrated with the raster, dropped when a frame cannot be applied to it.
    TLinearPlane Linear;
    // How the picture's stored values were read as light for Linear.
    TTransfer Transfer;
    // The light the flat's own offset is taken from before it divides
    // Linear: a flat-dark (bias) frame when one was given, else the dark
    // frame. Held from the dark (or the flat-dark) until the flat.
    TLinearPlane FlatOffset;
    // Where FlatOffset came from; after the flat, the offset it had removed.
    TFlatOffsetSource FlatOffsetSource = TFlatOffsetSource::None;
};

} // namespace vinsk
