#include "image/Calibration.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace vinsk;

namespace {

// A raster one row high from the given colour words.
TBitmap32 Row(std::initializer_list<std::uint32_t> pixels)
{
    TBitmap32 b;
    b.SetSize(static_cast<std::int32_t>(pixels.size()), 1);
    std::int32_t x = 0;
    for (std::uint32_t c : pixels)
        b.SetPixelS(x++, 0, c);
    return b;
}

TBitmap32 Filled(std::int32_t w, std::int32_t h, std::uint32_t c)
{
    TBitmap32 b;
    b.SetSize(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            b.SetPixelS(x, y, c);
    return b;
}

std::vector<std::uint32_t> Pixels(const TBitmap32& b)
{
    return std::vector<std::uint32_t>(b.Bits(), b.Bits() + static_cast<std::size_t>(b.Width()) * b.Height());
}

// The image after its dark, ready for a flat.
TImageState Darkened(TBitmap32 image)
{
    TImageState s;
    s.Bitmap = std::move(image);
    s.DarkApplied = true;
    return s;
}

} // namespace

TEST(ApplyDark, SubtractsPerChannelAndStopsAtZero)
{
    TImageState s;
    s.Bitmap = Row({Color32(0xFF, 10, 200, 255), Color32(0x40, 30, 30, 0)});
    const TBitmap32 dark = Row({Color32(0x00, 30, 50, 255), Color32(0xFF, 31, 0, 1)});
    TStatusPanels status;
    ApplyDark(s, dark, status);
    EXPECT_EQ(s.Bitmap.PixelS(0, 0), Color32(0xFF, 0, 150, 0));
    EXPECT_EQ(s.Bitmap.PixelS(1, 0), Color32(0x40, 0, 30, 0));
    EXPECT_TRUE(s.DarkApplied);
    EXPECT_FALSE(s.FlatApplied);
    EXPECT_EQ(status.Panels[PanelPrompt], "Dark image  has been applied.");
}

// The vector path takes four pixels at a time; a width of 258 leaves two
// columns for the pixel-by-pixel tail.
constexpr std::uint32_t kCols = 258, kRows = 256;

TEST(ApplyDark, EveryPairOfBytesInEveryChannel)
{
    // Each channel meets every (image, dark) pair at least once, the channels
    // in different arrangements so a mixed-up byte shows.
    TImageState s;
    s.Bitmap.SetSize(kCols, kRows);
    TBitmap32 dark;
    dark.SetSize(kCols, kRows);
    for (std::uint32_t y = 0; y < kRows; ++y)
        for (std::uint32_t x = 0; x < kCols; ++x) {
            const std::uint32_t u = x & 0xFF;
            const std::int32_t xi = static_cast<std::int32_t>(x), yi = static_cast<std::int32_t>(y);
            s.Bitmap.SetPixelS(xi, yi, Color32((u * 7) & 0xFF, u, y, 255 - u));
            dark.SetPixelS(xi, yi, Color32(0xFF, y, u, (u + y) & 0xFF));
        }
    TStatusPanels status;
    ApplyDark(s, dark, status);
    auto sub = [](std::uint32_t a, std::uint32_t b) { return a > b ? a - b : 0u; };
    for (std::uint32_t y = 0; y < kRows; ++y)
        for (std::uint32_t x = 0; x < kCols; ++x) {
            const std::uint32_t u = x & 0xFF;
            const std::uint32_t want =
                Color32((u * 7) & 0xFF, sub(u, y), sub(y, u), sub(255 - u, (u + y) & 0xFF));
            ASSERT_EQ(s.Bitmap.PixelS(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)), want)
                << "at " << x << ", " << y;
        }
}

// One flat channel case: a one-row flat (blue channel; red and green held at
// a uniform 100) and the image's blue byte at pixel 0.
struct FlatRow {
    const char* Name;
    std::vector<std::uint32_t> FlatBlue; // the flat's blue bytes, pixel 0 first
    std::uint32_t ImageBlue;             // the image's blue byte at pixel 0
    std::uint32_t Want;                  // the corrected blue byte at pixel 0
};

void PrintTo(const FlatRow& r, std::ostream* os)
{
    *os << r.Name << ": flat {";
    for (std::size_t i = 0; i < r.FlatBlue.size(); ++i)
        *os << (i ? ", " : "") << r.FlatBlue[i];
    *os << "}, image " << r.ImageBlue << " -> " << r.Want;
}

class FlatChannel : public ::testing::TestWithParam<FlatRow> {};

TEST_P(FlatChannel, CorrectsPixelZero)
{
    const FlatRow& r = GetParam();
    TBitmap32 flat;
    flat.SetSize(static_cast<std::int32_t>(r.FlatBlue.size()), 1);
    TBitmap32 image;
    image.SetSize(flat.Width(), 1);
    for (std::int32_t x = 0; x < flat.Width(); ++x) {
        flat.SetPixelS(x, 0, Color32(0xFF, 100, 100, r.FlatBlue[static_cast<std::size_t>(x)]));
        image.SetPixelS(x, 0, Color32(0xFF, 90, 91, x == 0 ? r.ImageBlue : 7));
    }
    TImageState s = Darkened(std::move(image));
    TStatusPanels status;
    ApplyFlat(s, flat, status);
    EXPECT_EQ(s.Bitmap.PixelS(0, 0), Color32(0xFF, 90, 91, r.Want));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FlatChannel,
    ::testing::Values(
        FlatRow{"uniform flat keeps the value", {77, 77, 77}, 123, 123},
        FlatRow{"uniform flat keeps 255", {1, 1}, 255, 255},
        FlatRow{"twice the mean halves", {200, 0, 100, 100}, 90, 45},
        FlatRow{"half the mean doubles", {50, 150}, 100, 200},
        FlatRow{"half the mean stops at 255", {50, 150}, 200, 255},
        FlatRow{"2.5 goes to 2", {4, 0}, 5, 2},
        FlatRow{"3.5 goes to 4", {4, 0}, 7, 4},
        // mean 5/3 is stored as a double just above 5/3, so 3 x mean / 2
        // lies just above 2.5 in extended precision (rounded to double the
        // product would be exactly 2.5 and go to 2)
        FlatRow{"extended precision decides", {2, 1, 2}, 3, 3},
        FlatRow{"image 0 stays 0", {10, 250}, 0, 0},
        FlatRow{"flat 0 leaves the channel", {0, 200}, 37, 37},
        FlatRow{"flat channel all 0 leaves the channel", {0, 0, 0}, 201, 201}),
    [](const ::testing::TestParamInfo<FlatRow>& info) { return "row" + std::to_string(info.index); });

TEST(ApplyFlat, EveryPairOfBytesMatchesTheFormula)
{
    // Flat bytes run over all 256 values in each channel, and the two tail
    // columns add 0 and 255, so each mean is 127.5; the expected byte is
    // Round(p * 127.5 / f), halves to even, and p itself where f is 0.
    TBitmap32 flat, image;
    flat.SetSize(kCols, kRows);
    image.SetSize(kCols, kRows);
    auto flatByte = [](std::uint32_t x) { return x < 256 ? x : (x == 256 ? 0u : 255u); };
    for (std::uint32_t y = 0; y < kRows; ++y)
        for (std::uint32_t x = 0; x < kCols; ++x) {
            const std::int32_t xi = static_cast<std::int32_t>(x), yi = static_cast<std::int32_t>(y);
            const std::uint32_t f = flatByte(x);
            flat.SetPixelS(xi, yi, Color32(0, f, y, 255 - f));
            image.SetPixelS(xi, yi, Color32(0x33, y, f, y));
        }
    TImageState s = Darkened(std::move(image));
    TStatusPanels status;
    ApplyFlat(s, flat, status);
    auto want = [](std::uint32_t p, std::uint32_t f) -> std::uint32_t {
        if (f == 0)
            return p;
        const long double q = std::nearbyint(static_cast<long double>(p) * 255.0L / (2.0L * f));
        return q > 255 ? 255u : static_cast<std::uint32_t>(q);
    };
    for (std::uint32_t y = 0; y < kRows; ++y)
        for (std::uint32_t x = 0; x < kCols; ++x) {
            const std::uint32_t f = flatByte(x);
            ASSERT_EQ(s.Bitmap.PixelS(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)),
                      Color32(0x33, want(y, f), want(f, y), want(y, 255 - f)))
                << "at " << x << ", " << y;
        }
}

TEST(ApplyFlat, AFlatByteOnlyInTheLastColumnIsCorrectedToo)
{
    // Five columns: four go through the vector path, the fifth alone holds
    // the smallest and the largest flat byte of its row pair.
    TBitmap32 flat, image;
    flat.SetSize(5, 2);
    image.SetSize(5, 2);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 5; ++x) {
            flat.SetPixelS(x, y, Color32(0xFF, 100, 100, 100));
            image.SetPixelS(x, y, Color32(0xFF, 60, 60, 60));
        }
    flat.SetPixelS(4, 0, Color32(0xFF, 10, 10, 10));   // mean (8 * 100 + 10 + 190) / 10 = 100
    flat.SetPixelS(4, 1, Color32(0xFF, 190, 190, 190));
    TImageState s = Darkened(std::move(image));
    TStatusPanels status;
    ApplyFlat(s, flat, status);
    EXPECT_EQ(s.Bitmap.PixelS(0, 0), Color32(0xFF, 60, 60, 60));
    EXPECT_EQ(s.Bitmap.PixelS(4, 0), Color32(0xFF, 255, 255, 255)); // 600 capped
    EXPECT_EQ(s.Bitmap.PixelS(4, 1), Color32(0xFF, 32, 32, 32));    // 31.58
}

TEST(ApplyFlat, SetsTheFlagAndThePanel)
{
    TImageState s = Darkened(Filled(3, 2, Color32(0xFF, 1, 2, 3)));
    TStatusPanels status;
    status.Panels[PanelPrompt] = "Dark image  has been applied.";
    ApplyFlat(s, Filled(3, 2, Color32(0xFF, 9, 9, 9)), status);
    EXPECT_TRUE(s.DarkApplied);
    EXPECT_TRUE(s.FlatApplied);
    EXPECT_EQ(status.Panels[PanelPrompt], "Flat image  has been applied.");
}

TEST(Calibration, AlphaSurvivesBothCorrections)
{
    TImageState s;
    s.Bitmap = Row({Color32(0x00, 100, 100, 100), Color32(0x7F, 100, 100, 100), Color32(0xFF, 100, 100, 100)});
    TStatusPanels status;
    ApplyDark(s, Row({Color32(0xFF, 10, 10, 10), Color32(0x00, 10, 10, 10), Color32(0x12, 10, 10, 10)}),
              status);
    ApplyFlat(s, Row({Color32(0xFF, 50, 50, 50), Color32(0x00, 50, 50, 50), Color32(0x80, 50, 50, 50)}),
              status);
    EXPECT_EQ(s.Bitmap.PixelS(0, 0), Color32(0x00, 90, 90, 90));
    EXPECT_EQ(s.Bitmap.PixelS(1, 0), Color32(0x7F, 90, 90, 90));
    EXPECT_EQ(s.Bitmap.PixelS(2, 0), Color32(0xFF, 90, 90, 90));
}

// A frame of another size than the image.
struct SizeRow {
    bool Flat;
    std::int32_t W, H;
    const char* Message;
};

void PrintTo(const SizeRow& r, std::ostream* os)
{
    *os << (r.Flat ? "flat " : "dark ") << r.W << " x " << r.H;
}

class WrongSize : public ::testing::TestWithParam<SizeRow> {};

TEST_P(WrongSize, IsRefusedAndChangesNothing)
{
    const SizeRow& r = GetParam();
    TImageState s;
    s.Bitmap = Filled(4, 3, Color32(0xFF, 50, 60, 70));
    s.DarkApplied = r.Flat;
    const std::vector<std::uint32_t> before = Pixels(s.Bitmap);
    TStatusPanels status;
    status.Panels[PanelPrompt] = "earlier";
    const TBitmap32 frame = Filled(r.W, r.H, Color32(0xFF, 1, 1, 1));
    try {
        if (r.Flat)
            ApplyFlat(s, frame, status);
        else
            ApplyDark(s, frame, status);
        FAIL() << "no error";
    } catch (const ECalibrationError& e) {
        EXPECT_STREQ(e.what(), r.Message);
    }
    EXPECT_EQ(Pixels(s.Bitmap), before);
    EXPECT_EQ(s.Bitmap.Width(), 4);
    EXPECT_EQ(s.DarkApplied, r.Flat);
    EXPECT_FALSE(s.FlatApplied);
    EXPECT_EQ(status.Panels[PanelPrompt], "earlier");
}

INSTANTIATE_TEST_SUITE_P(Rows, WrongSize,
                         ::testing::Values(SizeRow{false, 3, 3, "Dark image must have equal size!"},
                                           SizeRow{false, 4, 4, "Dark image must have equal size!"},
                                           SizeRow{false, 0, 0, "Dark image must have equal size!"},
                                           SizeRow{true, 3, 3, "Flat image must have equal size!"},
                                           SizeRow{true, 4, 2, "Flat image must have equal size!"},
                                           SizeRow{true, 3, 4, "Flat image must have equal size!"}));

// The refusal of each command in each state, checked in the commands'
// order (no image first, then the flags).
struct RefusalRow {
    bool Loaded, Dark, Flat;
    const char* DarkMessage; // nullptr: the dark may go on
    const char* FlatMessage;
};

void PrintTo(const RefusalRow& r, std::ostream* os)
{
    *os << (r.Loaded ? "image" : "no image") << (r.Dark ? ", dark" : "") << (r.Flat ? ", flat" : "");
}

class Refusals : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(Refusals, GiveTheFirstMissingPrecondition)
{
    const RefusalRow& r = GetParam();
    TImageState s;
    if (r.Loaded)
        s.Bitmap = Filled(2, 2, 0xFF808080u);
    s.DarkApplied = r.Dark;
    s.FlatApplied = r.Flat;
    const auto dark = DarkRefusal(s);
    const auto flat = FlatRefusal(s);
    EXPECT_EQ(dark.value_or("(none)"), r.DarkMessage ? r.DarkMessage : "(none)");
    EXPECT_EQ(flat.value_or("(none)"), r.FlatMessage ? r.FlatMessage : "(none)");
}

constexpr const char* kNoImage = "Image is not loaded. You must image load first!";
constexpr const char* kDarkTwice = "Dark image is already applied. Load new image first!";
constexpr const char* kNoDark = "Dark image is not applied. Load dark image first!";
constexpr const char* kFlatTwice = "Flat image is  applied. Load new image first!";

INSTANTIATE_TEST_SUITE_P(Rows, Refusals,
                         ::testing::Values(RefusalRow{false, false, false, kNoImage, kNoImage},
                                           RefusalRow{false, true, true, kNoImage, kNoImage},
                                           RefusalRow{true, false, false, nullptr, kNoDark},
                                           RefusalRow{true, true, false, kDarkTwice, nullptr},
                                           RefusalRow{true, true, true, kDarkTwice, kFlatTwice}));

TEST(Calibration, ACommandPastItsRefusalStillRefusesAndChangesNothing)
{
    TImageState s;
    s.Bitmap = Filled(2, 1, Color32(0xFF, 50, 50, 50));
    TStatusPanels status;
    const TBitmap32 frame = Filled(2, 1, Color32(0xFF, 10, 10, 10));
    try {
        ApplyFlat(s, frame, status);
        FAIL() << "flat before dark was applied";
    } catch (const ECalibrationError& e) {
        EXPECT_STREQ(e.what(), kNoDark);
    }
    ApplyDark(s, frame, status);
    try {
        ApplyDark(s, frame, status);
        FAIL() << "dark applied twice";
    } catch (const ECalibrationError& e) {
        EXPECT_STREQ(e.what(), kDarkTwice);
    }
    EXPECT_EQ(s.Bitmap.PixelS(0, 0), Color32(0xFF, 40, 40, 40));
}
