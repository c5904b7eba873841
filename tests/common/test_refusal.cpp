#include "common/Refusal.h"

#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "common/MathFaults.h"

using namespace vinsk;

// What stopped a measurement decides what the user is told to do: an
// arithmetic fault is not a lack of memory, whatever the exception derives
// from.
TEST(Refusal, ExceptionsKeepTheirReasonAndText)
{
    const struct {
        const std::exception& Thrown;
        TRefusalReason Reason;
    } rows[] = {
        {EZeroDivide(), TRefusalReason::ArithmeticFault},
        {EInvalidOp(), TRefusalReason::ArithmeticFault},
        {std::bad_alloc(), TRefusalReason::OutOfMemory},
        {std::runtime_error("Cannot read the frame"), TRefusalReason::Fault},
    };
    for (const auto& row : rows) {
        const TRefusal r = RefusalOf(row.Thrown);
        EXPECT_EQ(r.Reason, row.Reason) << row.Thrown.what();
        EXPECT_EQ(r.Message, row.Thrown.what());
        EXPECT_TRUE(r.Refused());
    }
}

TEST(Refusal, FixedSentencesComeFromTheTable)
{
    EXPECT_FALSE(TRefusal().Refused());
    for (const TRefusalReason reason : {TRefusalReason::NoPicture, TRefusalReason::SetupValues,
                                        TRefusalReason::CheckPoints, TRefusalReason::NoTrail}) {
        const TRefusal r = Refuse(reason);
        EXPECT_TRUE(r.Refused());
        EXPECT_FALSE(r.Message.empty());
        EXPECT_EQ(r.Message, RefusalSentence(reason));
    }
    EXPECT_EQ(Refuse(TRefusalReason::NoTrail).Message,
              "There is no trail along the arc through START, IN-LINE and STOP: place the three check points on the "
              "trail's crest");
}
