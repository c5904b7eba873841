// A physically rendered trail as the window holds it: an 8-bit raster, with
// the Setup values and the check points a user clicks.
#pragma once

#include "drive/DriveAnalysis.h"
#include "image/Bitmap32.h"
#include "tools/sample-gen/PhysicalTrail.h"

namespace vinsk {

struct TRendered {
    TBitmap32 Bitmap;
    TDriveInput Input;
};

TRendered Render(const tools::TPhysicalOptions& o);

} // namespace vinsk
