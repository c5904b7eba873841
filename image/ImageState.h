// The loaded picture and its calibration flags.
#pragma once

#include "image/Bitmap32.h"
#include "linear/LinearPlane.h"
#include "linear/ToneCurve.h"

namespace vinsk {

struct TImageState {
    TBitmap32 Bitmap;         // the picture of Image1
    bool DarkApplied = false; // the dark has been subtracted
    bool FlatApplied = false; // the flat has been divided out
    // The picture's own samples when it has more than 8 bits per sample;
    // calibrated with the raster, dropped when a frame cannot be applied to it.
    TLinearPlane Linear;
    // How the picture's stored values were read as light for Linear.
    TTransfer Transfer;
};

} // namespace vinsk
