#include "drive/DriveStage.h"

#include <cmath>
#include <utility>

namespace vinsk::drive {

std::string Percent(long double fraction)
{
    return std::to_string(static_cast<long long>(std::llround(static_cast<double>(fraction * 100)))) + " %";
}

TRefusal LeavesPicture(long double fraction)
{
    return Refuse(TRefusalReason::LeavesPicture,
                  "The trail leaves the picture along " + Percent(fraction) +
                      " of its length: place START and STOP on the trail inside the picture, or use a picture that "
                      "holds the whole trail");
}

TRefusal ForeignLight(long double fraction)
{
    return Refuse(TRefusalReason::ForeignLight,
                  "Too much of the trail (" + Percent(fraction) +
                      ") is covered by light that is not the star: take a dark frame, or check for a streak across "
                      "the trail");
}

} // namespace vinsk::drive
