#include "common/Refusal.h"

#include <new>

#include "common/MathFaults.h"

namespace vinsk {

std::string_view RefusalSentence(TRefusalReason reason)
{
    switch (reason) {
    case TRefusalReason::NoPicture:
        return "There is no picture to analyse: open the exposure first";
    case TRefusalReason::SetupValues:
        return "The Setup values give no angle per pixel: the distance must exceed the focal length, and the pixel "
               "size, focal length, exposure and mount speed must be positive";
    case TRefusalReason::CheckPoints:
        return "START and STOP are too close together: place them at the two ends of the trail";
    case TRefusalReason::NoTrail:
        return "There is no trail along the arc through START, IN-LINE and STOP: place the three check points on "
               "the trail's crest";
    default:
        return {};
    }
}

TRefusal Refuse(TRefusalReason reason)
{
    return Refuse(reason, std::string(RefusalSentence(reason)));
}

TRefusal Refuse(TRefusalReason reason, std::string message)
{
    TRefusal r;
    r.Reason = reason;
    r.Message = std::move(message);
    return r;
}

TRefusal RefusalOf(const std::exception& e)
{
    TRefusalReason reason = TRefusalReason::Fault;
    if (dynamic_cast<const std::bad_alloc*>(&e))
        reason = TRefusalReason::OutOfMemory;
    else if (dynamic_cast<const EMathError*>(&e))
        reason = TRefusalReason::ArithmeticFault;
    return Refuse(reason, e.what());
}

} // namespace vinsk
