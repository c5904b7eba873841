// The image view's arithmetic: mouse position to picture pixel, the fit and
// the zoom scale.
#include <gtest/gtest.h>

#include "common/MathFaults.h"
#include "graphics/ViewMath.h"

namespace vinsk {
namespace {

struct TMapRow {
    long double ViewPos;
    float Offset;
    std::int32_t Zoom;
    std::int32_t Pixel;
};

class ViewToImageRows : public ::testing::TestWithParam<TMapRow> {};

TEST_P(ViewToImageRows, MapsViewPositionToImagePixel)
{
    const TMapRow& r = GetParam();
    EXPECT_EQ(ViewToImage(r.ViewPos, r.Offset, r.Zoom), r.Pixel);
}

INSTANTIATE_TEST_SUITE_P(Zooms, ViewToImageRows,
                         ::testing::Values(TMapRow{120, 0, 100, 120},   // 1:1
                                           TMapRow{101, 0, 200, 50},    // 50.5 -> even 50
                                           TMapRow{103, 0, 200, 52},    // 51.5 -> even 52
                                           TMapRow{102, 0, 200, 51},    // view 2k -> pixel k
                                           TMapRow{10, 20, 100, -10},   // left of the picture
                                           TMapRow{35, 5, 300, 10},     // 30 / 3
                                           TMapRow{1, 0, 33, 3},        // 3.03
                                           TMapRow{50, 0, 10, 500},     // reduced
                                           TMapRow{15, 0, 10, 150}));

TEST(FitZoom, WidthRatioLessOne)
{
    EXPECT_EQ(FitZoom(576, 3008), 18); // 18.15
    EXPECT_EQ(FitZoom(576, 100), 575);
    EXPECT_EQ(ClampZoom(FitZoom(576, 100)), 400);
    EXPECT_EQ(ClampZoom(FitZoom(576, 60000)), 10);
    EXPECT_EQ(FitZoom(400, 400), 99);
}

TEST(FitZoom, NoPictureIsADivisionByZero)
{
    EXPECT_THROW(FitZoom(576, 0), EZeroDivide);
    EXPECT_THROW(FitZoom(0, 0), EInvalidOp);
}

TEST(ZoomScale, IsTheStoredSingle)
{
    EXPECT_EQ(ZoomScale(33), 0.33f);
    EXPECT_EQ(ZoomScale(200), 2.0f);
}

} // namespace
} // namespace vinsk
