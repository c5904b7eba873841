#include "drive/DriveStage.h"

#include <cmath>

namespace vinsk::drive {

std::string Percent(long double fraction)
{
    return std::to_string(static_cast<long long>(std::llround(static_cast<double>(fraction * 100)))) + " %";
}

TDriveResult Refuse(const std::string& message)
{
    TDriveResult r;
    r.Refused = true;
    r.Message = message;
    return r;
}

std::string NoTrailMessage()
{
    return "There is no trail along the arc through START, IN-LINE and STOP: place the three check points on the "
           "trail's crest";
}

std::string LeavesPictureMessage(long double fraction)
{
    return "The trail leaves the picture along " + Percent(fraction) +
           " of its length: place START and STOP on the trail inside the picture, or use a picture that holds the "
           "whole trail";
}

} // namespace vinsk::drive
