// What the stages of the drive analysis share: a few constants and the
// refusals whose sentences carry values (the fixed ones are in
// common/Refusal.cpp).
#pragma once

#include <limits>
#include <string>

#include "common/Refusal.h"
#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

inline constexpr long double Pi = 3.141592653589793238462643383279502884L;
inline constexpr long double ArcsecPerRad = 206264.80624709636L;
inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A whole per cent: "12 %".
std::string Percent(long double fraction);

// The trail leaves the picture along this fraction of its length.
TRefusal LeavesPicture(long double fraction);
// Light that is not the star's covers this fraction of the trail.
TRefusal ForeignLight(long double fraction);

} // namespace vinsk::drive
