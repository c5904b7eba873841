// Why a measurement gives no result. The drive analysis, the trail search,
// the guide logs, the runs and the PEC files say "cannot" this one way: a
// named reason the code can act on and a sentence for the user that says
// what failed and what to do.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace vinsk {

enum class TRefusalReason : unsigned char {
    None,            // not refused
    NoPicture,       // nothing to measure
    SetupValues,     // the Setup values (or a log's own) give no angle on the sky
    Settings,        // a setting out of its range
    CheckPoints,     // START and STOP do not span a trail
    NoTrail,         // no trail where the check points are, or none found
    LeavesPicture,   // the trail leaves the picture, or its end is cut off
    Saturated,       // too much of the trail is saturated
    ForeignLight,    // too much light that is not the star's
    TooShort,        // too little trail, series or time to measure
    NeedsInput,      // an output needs a value that was not given
    Ambiguous,       // more than one trail could be the one meant
    Mismatch,        // runs that cannot be compared or averaged together
    CannotOpen,      // a file cannot be opened
    Unreadable,      // a file's content is not what it should be
    ArithmeticFault, // the arithmetic met a fault (see common/MathFaults.h)
    OutOfMemory,
    Fault,           // any other failure, with its own text
};

// Results that can be refused derive from this. A refused result holds
// nothing valid beyond what its own comment names.
struct TRefusal {
    TRefusalReason Reason = TRefusalReason::None;
    std::string Message; // why, and what the user can do; empty when not refused

    bool Refused() const { return Reason != TRefusalReason::None; }
};

// The message table: the sentence of a reason that always says the same,
// empty for a reason whose sentence carries values.
std::string_view RefusalSentence(TRefusalReason reason);

// A refusal with the table's sentence, or with the given one.
TRefusal Refuse(TRefusalReason reason);
TRefusal Refuse(TRefusalReason reason, std::string message);

// A result of type R (derived from TRefusal) that holds only the refusal.
template <class R>
R Refused(TRefusal why)
{
    R r;
    static_cast<TRefusal&>(r) = std::move(why);
    return r;
}

// An exception that stopped a measurement, as its refusal: the reason from
// its type, the exception's own text as the message.
TRefusal RefusalOf(const std::exception& e);

} // namespace vinsk
