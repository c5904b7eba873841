// The loaded picture and its calibration flags.
#pragma once

#include "image/Bitmap32.h"

namespace vinsk {

struct TImageState {
    TBitmap32 Bitmap;         // the picture of Image1
    bool DarkApplied = false; // the dark has been subtracted
    bool FlatApplied = false; // the flat has been divided out
};

} // namespace vinsk
