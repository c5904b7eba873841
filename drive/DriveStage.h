// What the stages of the drive analysis share: a few constants and the
// refusals, whose sentences are written here once.
#pragma once

#include <limits>
#include <string>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

inline constexpr long double Pi = 3.141592653589793238462643383279502884L;
inline constexpr long double ArcsecPerRad = 206264.80624709636L;
inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A whole per cent: "12 %".
std::string Percent(long double fraction);

TDriveResult Refuse(const std::string& message);

// The check points do not lie on a trail.
std::string NoTrailMessage();
// The trail leaves the picture along this fraction of its length.
std::string LeavesPictureMessage(long double fraction);

} // namespace vinsk::drive
