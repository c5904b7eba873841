// Finding the trail on rendered pictures whose truth is known: where the
// star's image stood when the exposure began and ended.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "TrailPictures.h"
#include "drive/DriveAnalysis.h"
#include "findtrail/FindTrail.h"
#include "tests/support/RenderedTrail.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

struct TOffsets {
    double Along = 0, Across = 0;
};

// A found end against the true one, along and across the trail there.
TOffsets Offsets(const TImagePoint& found, const TArcPath& path, TXY truth)
{
    const TXY t = path.Tangent(truth);
    const double dx = found.X - truth.X, dy = found.Y - truth.Y;
    return {std::abs(dx * t.X + dy * t.Y), std::abs(-dx * t.Y + dy * t.X)};
}

TTrailSearch Find(const TBitmap32& bmp, int channel = ChannelAvg)
{
    return FindTrail(TRasterSamples(bmp), channel);
}

// A trail from (x0, y0) towards (x1, y1) on a 640 x 420 picture.
tools::TPhysicalOptions Trail(double x0, double y0, double x1, double y1, double sag = 10, double crest = 150)
{
    tools::TPhysicalOptions o;
    SetPath(o, {640, 420, x0, y0, x1, y1, sag});
    o.Crest = crest;
    o.Terms = {{4, 30, 0.3}};
    return o;
}

struct TScene {
    tools::TPhysicalOptions Options;
    TCameraSpec Camera;
};

// Fifty pictures of random geometry, noise and calibration, six kinds of
// trail in turn.
TScene RandomScene(int i)
{
    std::mt19937_64 rng(1000 + static_cast<std::uint64_t>(i));
    auto in = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    TScene sc;
    tools::TPhysicalOptions& o = sc.Options;
    // One large picture, so that the binned search is tried too (it costs
    // as much as many small ones).
    if (i == 5) {
        o.Width = 3200;
        o.Height = 2100;
    } else {
        o.Width = static_cast<std::int32_t>(in(480, 900));
        o.Height = static_cast<std::int32_t>(in(360, 640));
    }
    o.Fwhm = in(2.3, 5.5);
    o.Crest = in(40, 180);
    o.Background = in(3, 20);
    o.Noise = in(0.8, 2.5);
    o.Bits = i % 7 == 3 ? 16 : 8;
    if (o.Bits == 16) {
        o.Crest *= 257;
        o.Background *= 257;
        o.Noise *= 257;
    }
    o.Seed = 500 + static_cast<std::uint64_t>(i);
    const int kind = i % 6;
    const double sigma = o.Fwhm / 2.3548;
    const double margin = 4 * sigma + 12;
    const double w = o.Width, h = o.Height;
    double angle = 0, length = 0;
    switch (kind) {
    case 0: // left to right
    case 1: // right to left
    case 3: // nearly straight
    case 4: // strongly curved
        angle = in(-0.45, 0.45);
        length = in(0.4, 0.8) * w;
        break;
    case 2: // steep
        angle = in(1.05, 1.57) * (in(0, 1) < 0.5 ? 1 : -1);
        length = in(0.5, 0.8) * h;
        break;
    default: // near the edge
        angle = in(-0.3, 0.3);
        length = in(0.5, 0.8) * w;
        break;
    }
    double sag = in(-0.05, 0.05) * length;
    if (kind == 3)
        sag = in(-0.6, 0.6);
    if (kind == 4)
        sag = in(0.12, 0.2) * length * (in(0, 1) < 0.5 ? 1 : -1);
    const double cx = w / 2 + in(-0.08, 0.08) * w, cy = h / 2 + in(-0.08, 0.08) * h;
    o.StartX = cx - std::cos(angle) * length / 2;
    o.StartY = cy - std::sin(angle) * length / 2;
    o.StopX = cx + std::cos(angle) * length / 2;
    o.StopY = cy + std::sin(angle) * length / 2;
    if (kind == 1) {
        std::swap(o.StartX, o.StopX);
        std::swap(o.StartY, o.StopY);
    }
    if (kind == 5) {
        // The left end close to the picture's edge, the trail along the top.
        const double shift = std::min(o.StartX, o.StopX) - margin;
        o.StartX -= shift;
        o.StopX -= shift;
        const double top = std::min(o.StartY, o.StopY) - std::abs(sag) - margin;
        o.StartY -= top;
        o.StopY -= top;
    }
    o.Sag = sag;
    // The mount's error: a worm term and its harmonic, 1 to 4 cycles over
    // the exposure, and some drift.
    const double seconds = length * 2.7 / o.MountSpeed;
    const double period = seconds / in(1, 4);
    o.Terms = {{in(1, 8), period, in(0, 6.28)}, {in(0, 2), period / 2, in(0, 6.28)}};
    o.Drift = in(-0.02, 0.02);
    sc.Camera.HotPixels = static_cast<int>(in(0, 40));
    sc.Camera.Vignetting = in(0, 0.35);
    sc.Camera.DarkAndFlat = i % 3 == 0;
    sc.Camera.Seed = 77 + static_cast<std::uint64_t>(i);
    return sc;
}

// The drive analysis of a scene from given check points, whole pixels.
TDriveResult Drive(const TBitmap32& bmp, const tools::TPhysicalOptions& o, const tools::TPhysicalTruth& truth,
                   TXY start, TXY stop, TXY inLine)
{
    TDriveInput in;
    in.Setup = SetupOf(o, truth);
    in.Start = {std::round(start.X), std::round(start.Y)};
    in.Stop = {std::round(stop.X), std::round(stop.Y)};
    in.InLine = {std::round(inLine.X), std::round(inLine.Y)};
    return AnalyseDrive(TRasterSamples(bmp), in);
}

// One scene a test, so that each has its own time limit and name.
class FindTrailScene : public ::testing::TestWithParam<int> {};

TEST_P(FindTrailScene, MeetsTheBars)
{
    const int i = GetParam();
    const TScene sc = RandomScene(i);
    const tools::TPhysicalTrail rendered = tools::RenderPhysicalTrail(sc.Options);
    const TBitmap32 bmp = Picture({sc.Options}, sc.Camera);
    const TTrailSearch s = Find(bmp);
    ASSERT_TRUE(s.Points) << s.Message;

    // The picture cannot tell which end came first: the found ends are
    // matched to the true ones, and START is the left (or top) end.
    const TArcPath path(sc.Options);
    const TXY begin{rendered.Truth.StartX, rendered.Truth.StartY}, end{rendered.Truth.EndX, rendered.Truth.EndY};
    TOffsets a = Offsets(s.Start, path, begin), b = Offsets(s.Stop, path, end);
    const TOffsets a2 = Offsets(s.Stop, path, begin), b2 = Offsets(s.Start, path, end);
    if (a2.Along + b2.Along < a.Along + b.Along) {
        a = a2;
        b = b2;
    }
    for (const TOffsets& o : {a, b}) {
        EXPECT_LE(o.Along, 3.0);
        EXPECT_LE(o.Across, 1.5);
    }
    const TTrailPoints& pts = *s.Points;
    const bool xMajor = std::abs(pts.Stop.X - pts.Start.X) > std::abs(pts.Stop.Y - pts.Start.Y);
    EXPECT_TRUE(xMajor ? pts.Start.X <= pts.Stop.X : pts.Start.Y <= pts.Stop.Y);

    // The whole-pixel points, as the analysis gets them.
    for (const TIntPoint& p : {pts.Start, pts.Stop})
        EXPECT_LE(path.Off({static_cast<double>(p.X), static_cast<double>(p.Y)}), 1.5 + 0.71);
    const double inLineOff = path.Off({static_cast<double>(pts.InLine.X), static_cast<double>(pts.InLine.Y)});
    EXPECT_LE(inLineOff, 1.5);
    EXPECT_NEAR(s.Length, rendered.Truth.PathLength, 6.0);

    // The drive analysis from the found points against that from the true
    // ones (the arc's middle for IN-LINE).
    const TDriveResult truthDrive = Drive(bmp, sc.Options, rendered.Truth, begin, end, path.At(path.Length() / 2));
    ASSERT_FALSE(truthDrive.Refused()) << truthDrive.Message;
    const TDriveResult foundDrive = Drive(bmp, sc.Options, rendered.Truth, {s.Start.X, s.Start.Y},
                                          {s.Stop.X, s.Stop.Y}, {s.InLine.X, s.InLine.Y});
    ASSERT_FALSE(foundDrive.Refused()) << foundDrive.Message;
    const TDriveStats &f = foundDrive.Stats, &t = truthDrive.Stats;
    EXPECT_NEAR(f.PeakToPeak, t.PeakToPeak, 0.02 * t.PeakToPeak);
    EXPECT_NEAR(f.Rms, t.Rms, 0.02 * t.Rms);
    std::printf("scene %d: ends %.2f/%.2f px along, %.2f/%.2f px across, IN-LINE %.2f px off the arc; "
                "drive P-P %+.2f %%, RMS %+.2f %%\n",
                i, a.Along, b.Along, a.Across, b.Across, inLineOff, 100 * (f.PeakToPeak / t.PeakToPeak - 1),
                100 * (f.Rms / t.Rms - 1));
}

INSTANTIATE_TEST_SUITE_P(Fifty, FindTrailScene, ::testing::Range(0, 50));

TEST(FindTrail, EachChannelFindsAColouredTrail)
{
    const TBitmap32 grey = Picture({Trail(60, 200, 560, 160, 20, 120)});
    // Only the red channel carries the trail; green and blue hold the sky.
    TBitmap32 red = grey;
    for (std::int32_t y = 0; y < red.Height(); ++y)
        for (std::int32_t x = 0; x < red.Width(); ++x) {
            const std::uint32_t c = red.PixelS(x, y);
            red.SetPixelS(x, y, Color32(255, ColorR(c), 8, 8));
        }
    EXPECT_TRUE(Find(red, ChannelR).Points);
    EXPECT_TRUE(Find(red, ChannelAvg).Points);
    const TTrailSearch green = Find(red, ChannelG);
    EXPECT_FALSE(green.Points);
    EXPECT_EQ(green.Message, "No star trail found: nothing stands out from the background");
}

// A trail that the 16-bit samples hold but their 8-bit picture rounds away:
// the search must read the linear samples when the picture has them.
TEST(FindTrail, AFaintDeepTrailIsFoundInTheLinearSamples)
{
    tools::TPhysicalOptions o = Trail(60, 200, 560, 160, 20, 0);
    o.Bits = 16;
    o.Crest = 220;       // under one level of the 8-bit picture
    o.Background = 3000;
    o.Noise = 12;
    const tools::TPhysicalTrail deep = tools::RenderPhysicalTrail(o);
    TLinearPlane plane;
    plane.Allocate16(deep.Width, deep.Height, 3, 16);
    std::copy(deep.Levels.begin(), deep.Levels.end(), plane.U16());
    const TBitmap32 bmp = Picture({o});

    std::optional<TRasterSamples> raster;
    std::optional<TLinearSamples> linear;
    const TTrailSearch found = FindTrail(PictureSamples(bmp, plane, raster, linear), ChannelAvg);
    ASSERT_TRUE(found.Points) << found.Message;
    EXPECT_NEAR(found.Points->Start.X, deep.Truth.StartX, 3);
    EXPECT_NEAR(found.Points->Start.Y, deep.Truth.StartY, 1.5);
    EXPECT_FALSE(Find(bmp).Points);
}

// --- Refusals -----------------------------------------------------------------

TEST(FindTrail, RefusesWhatIsNotOneTrail)
{
    // The background and noise of a trail too faint to leave any light.
    tools::TPhysicalOptions empty = Trail(100, 200, 500, 200);
    empty.Crest = 0;
    {
        SCOPED_TRACE("an empty frame");
        EXPECT_EQ(Find(Picture({empty})).Message, "No star trail found: nothing stands out from the background");
        TBitmap32 flat;
        flat.SetSize(300, 200);
        EXPECT_EQ(Find(flat).Message, "No star trail found: nothing stands out from the background");
    }
    {
        SCOPED_TRACE("only hot pixels");
        TCameraSpec cam;
        cam.HotPixels = 25;
        const TTrailSearch s = Find(Picture({empty}, cam));
        EXPECT_FALSE(s.Points);
        EXPECT_TRUE(std::regex_match(
            s.Message,
            std::regex(R"(No star trail found: only 2[0-5] small spots \(hot pixels or stars\) stand out from the background)")))
            << s.Message;
    }
    {
        SCOPED_TRACE("a short streak");
        tools::TPhysicalOptions o = Trail(300, 200, 314, 203, 0);
        o.Terms.clear();
        o.Drift = 0;
        const TTrailSearch s = Find(Picture({o}));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(s.Message, m,
                                     std::regex(R"(No star trail found: the brightest elongated object is (\d+) px long)")))
            << s.Message;
        EXPECT_NEAR(std::stoi(m[1]), 14, 1);
    }
    {
        SCOPED_TRACE("two crossing trails");
        EXPECT_EQ(Find(Picture({Trail(80, 100, 560, 330, 10, 140), Trail(90, 340, 540, 80, -8, 130)})).Message,
                  "Two star trails of similar size cross each other: place the points by hand");
    }
    {
        SCOPED_TRACE("two trails side by side");
        const TTrailSearch s = Find(Picture({Trail(80, 120, 560, 100, 10, 140), Trail(90, 300, 520, 320, -8, 120)}));
        EXPECT_TRUE(std::regex_match(
            s.Message,
            std::regex(R"(Two star trails of similar size were found \(\d+ px and \d+ px long\): place the points by hand)")))
            << s.Message;
    }
    {
        SCOPED_TRACE("a trail that leaves the picture");
        EXPECT_EQ(Find(Picture({Trail(-80, 200, 400, 180)})).Message,
                  "The star trail runs off the picture: place the points by hand");
    }
    EXPECT_EQ(Find(TBitmap32()).Message, "Image is not loaded. You must image load first!");
}

TEST(FindTrail, OddPicturesGetAnAnswer)
{
    // Thin, tiny, saturated, striped and random pictures: each is refused or
    // found, never a fault.
    std::mt19937 rng(3);
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{1, 1}, {1, 300}, {300, 1}, {2, 2}, {7, 3}, {64, 5}, {120, 90}};
    for (const auto& [w, h] : sizes)
        for (int fill = 0; fill < 4; ++fill) {
            TBitmap32 bmp;
            bmp.SetSize(w, h);
            for (std::int32_t y = 0; y < h; ++y)
                for (std::int32_t x = 0; x < w; ++x) {
                    const std::uint32_t v = fill == 0 ? 255 : fill == 1 ? (x % 2) * 255 : fill == 2 ? (y == h / 2) * 200 : rng() % 256;
                    bmp.SetPixelS(x, y, Color32(255, v, v, v));
                }
            const TTrailSearch s = Find(bmp);
            EXPECT_NE(s.Points.has_value(), !s.Message.empty()) << w << "x" << h << " fill " << fill;
        }
}

TEST(FindTrail, AFaintSecondTrailOrAStarDoesNotCompete)
{
    tools::TPhysicalOptions star = Trail(300, 250, 301.5, 250, 0, 250);
    star.Fwhm = 6;
    star.Terms.clear();
    const TTrailSearch s = Find(Picture({Trail(80, 120, 560, 100, 10, 160), Trail(90, 300, 520, 320, -8, 40), star}));
    ASSERT_TRUE(s.Points) << s.Message;
    EXPECT_NEAR(s.Start.X, 80, 3);
    EXPECT_NEAR(s.Stop.X, 560, 3);
}

// The user's side of START holds, also across the trail's main axis.
TEST(FindTrail, StartGoesToTheRememberedSide)
{
    const TBitmap32 picture = Picture({Trail(80, 120, 560, 100, 10, 160)});
    const struct {
        TStartSide Side;
        double StartX;
    } rows[] = {{TStartSide::Auto, 80}, {TStartSide::Left, 80}, {TStartSide::Right, 560},
                {TStartSide::Top, 560}, {TStartSide::Bottom, 80}};
    for (const auto& row : rows) {
        const TTrailSearch s = FindTrail(TRasterSamples(picture), ChannelAvg, row.Side);
        ASSERT_TRUE(s.Points) << s.Message;
        EXPECT_NEAR(s.Start.X, row.StartX, 3) << StartSideName(row.Side);
    }
}

} // namespace
} // namespace vinsk
