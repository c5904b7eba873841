// Finding the trail on rendered pictures whose truth is known: where the
// star's image stood when the exposure began and ended.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "TrailPictures.h"
#include "findtrail/FindTrail.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

struct TOffsets {
    double Along = 0, Across = 0;
};

// A found end against the true one, along and across the trail there.
TOffsets Offsets(const TImagePoint& found, const TArcPath& path, double s)
{
    const TXY truth = path.At(s), t = path.Tangent(s);
    const double dx = found.X - truth.X, dy = found.Y - truth.Y;
    return {std::abs(dx * t.X + dy * t.Y), std::abs(-dx * t.Y + dy * t.X)};
}

TTrailSearch Find(const TBitmap32& bmp, int channel = ChannelAverage)
{
    return FindTrail(TRasterSamples(bmp), channel);
}

// Fifty pictures of random geometry, noise and calibration, six kinds of
// trail in turn.
TPictureSpec RandomScene(int i)
{
    std::mt19937_64 rng(1000 + static_cast<std::uint64_t>(i));
    auto in = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    TPictureSpec p;
    // A few large pictures, so that the binned search is tried too.
    if (i % 17 == 5) {
        p.Width = 3200;
        p.Height = 2100;
    } else {
        p.Width = static_cast<std::int32_t>(in(480, 900));
        p.Height = static_cast<std::int32_t>(in(360, 640));
    }
    TTrailSpec t;
    t.Sigma = in(1.0, 2.5);
    t.Crest = in(50, 200);
    t.Wobble = in(0, 2.0);
    t.Cycles = static_cast<int>(in(1, 6));
    const int kind = i % 6;
    const double margin = 4 * t.Sigma + 10;
    const double w = p.Width, h = p.Height;
    double angle = 0, length = 0;
    switch (kind) {
    case 0: // left to right
    case 1: // right to left
    case 3: // nearly straight
    case 4: // strongly curved
        angle = in(-0.45, 0.45);
        length = in(0.4, 0.85) * w;
        break;
    case 2: // steep
        angle = in(1.05, 1.57) * (in(0, 1) < 0.5 ? 1 : -1);
        length = in(0.5, 0.85) * h;
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
    const double cx = w / 2 + in(-0.1, 0.1) * w, cy = h / 2 + in(-0.1, 0.1) * h;
    t.Begin = {cx - std::cos(angle) * length / 2, cy - std::sin(angle) * length / 2};
    t.End = {cx + std::cos(angle) * length / 2, cy + std::sin(angle) * length / 2};
    if (kind == 1)
        std::swap(t.Begin, t.End);
    if (kind == 5) {
        // The left end close to the picture's edge, the trail along the top.
        const double shiftX = t.Begin.X - (margin - 4 + in(0, 4));
        t.Begin.X -= shiftX;
        t.End.X -= shiftX;
        const double top = std::min(t.Begin.Y, t.End.Y) - std::abs(sag) - margin - in(0, 6);
        t.Begin.Y -= top;
        t.End.Y -= top;
    }
    t.Sag = sag;
    p.Trails.push_back(t);
    p.Noise = in(0.8, 2.5);
    p.Sky = in(3, 20);
    p.HotPixels = static_cast<int>(in(0, 40));
    p.Vignetting = in(0, 0.35);
    p.DarkAndFlat = i % 3 == 0;
    p.Seed = 77 + static_cast<std::uint64_t>(i);
    return p;
}

TEST(FindTrail, FiftyRenderedScenesMeetTheBars)
{
    double worstAlong = 0, worstAcross = 0, worstInLine = 0;
    for (int i = 0; i < 50; ++i) {
        const TPictureSpec spec = RandomScene(i);
        const TTrailSpec& t = spec.Trails[0];
        const TBitmap32 bmp = RenderPicture(spec);
        const TTrailSearch s = Find(bmp);
        ASSERT_TRUE(s.Points) << "scene " << i << ": " << s.Refusal;

        // The picture cannot tell which end came first: the found ends are
        // matched to the true ones, and START is the left (or top) end.
        const TArcPath path(t);
        const double len = path.Length();
        TOffsets a = Offsets(s.Start, path, 0), b = Offsets(s.Stop, path, len);
        const TOffsets a2 = Offsets(s.Stop, path, 0), b2 = Offsets(s.Start, path, len);
        if (a2.Along + b2.Along < a.Along + b.Along) {
            a = a2;
            b = b2;
        }
        for (const TOffsets& o : {a, b}) {
            EXPECT_LE(o.Along, 3.0) << "scene " << i;
            EXPECT_LE(o.Across, 1.5) << "scene " << i;
            worstAlong = std::max(worstAlong, o.Along);
            worstAcross = std::max(worstAcross, o.Across);
        }
        const TTrailPoints& pts = *s.Points;
        const bool xMajor = std::abs(pts.Stop.X - pts.Start.X) > std::abs(pts.Stop.Y - pts.Start.Y);
        EXPECT_TRUE(xMajor ? pts.Start.X <= pts.Stop.X : pts.Start.Y <= pts.Stop.Y) << "scene " << i;

        // The whole-pixel points, as the analysis gets them.
        for (const TIntPoint& p : {pts.Start, pts.Stop})
            EXPECT_LE(path.Off({static_cast<double>(p.X), static_cast<double>(p.Y)}), 1.5 + 0.71) << "scene " << i;
        const double inLineOff = path.Off({static_cast<double>(pts.InLine.X), static_cast<double>(pts.InLine.Y)});
        EXPECT_LE(inLineOff, 1.5) << "scene " << i;
        worstInLine = std::max(worstInLine, inLineOff);
        EXPECT_NEAR(s.Length, len, 6.0) << "scene " << i;
    }
    std::printf("worst of 50: along %.2f px, across %.2f px, IN-LINE off the arc %.2f px\n", worstAlong,
                worstAcross, worstInLine);
}

TEST(FindTrail, EachChannelFindsAColouredTrail)
{
    TPictureSpec spec;
    spec.Trails.push_back({{60, 200}, {560, 160}, 20, 1.8, 120, 1, 3});
    const TBitmap32 grey = RenderPicture(spec);
    // Only the red channel carries the trail; green and blue hold the sky.
    TBitmap32 red = grey;
    for (std::int32_t y = 0; y < red.Height(); ++y)
        for (std::int32_t x = 0; x < red.Width(); ++x) {
            const std::uint32_t c = red.PixelS(x, y);
            red.SetPixelS(x, y, Color32(255, ColorR(c), 8, 8));
        }
    EXPECT_TRUE(Find(red, ChannelRed).Points);
    EXPECT_TRUE(Find(red, ChannelAverage).Points);
    const TTrailSearch green = Find(red, ChannelGreen);
    EXPECT_FALSE(green.Points);
    EXPECT_EQ(green.Refusal, "No star trail found: nothing stands out from the background");
}

// --- Refusals -----------------------------------------------------------------

TEST(FindTrail, RefusesWhatIsNotOneTrail)
{
    {
        SCOPED_TRACE("an empty frame");
        TPictureSpec spec;
        spec.Seed = 5;
        EXPECT_EQ(Find(RenderPicture(spec)).Refusal, "No star trail found: nothing stands out from the background");
        TBitmap32 flat;
        flat.SetSize(300, 200);
        EXPECT_EQ(Find(flat).Refusal, "No star trail found: nothing stands out from the background");
    }
    {
        SCOPED_TRACE("only hot pixels");
        TPictureSpec spec;
        spec.HotPixels = 25;
        const TTrailSearch s = Find(RenderPicture(spec));
        EXPECT_FALSE(s.Points);
        EXPECT_TRUE(std::regex_match(
            s.Refusal,
            std::regex(R"(No star trail found: only 2[0-5] small spots \(hot pixels or stars\) stand out from the background)")))
            << s.Refusal;
    }
    {
        SCOPED_TRACE("a short streak");
        TPictureSpec spec;
        spec.Trails.push_back({{300, 200}, {314, 203}, 0, 1.2, 150, 0, 1});
        const TTrailSearch s = Find(RenderPicture(spec));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(s.Refusal, m,
                                     std::regex(R"(No star trail found: the brightest elongated object is (\d+) px long)")))
            << s.Refusal;
        EXPECT_NEAR(std::stoi(m[1]), 14, 1);
    }
    {
        SCOPED_TRACE("two crossing trails");
        TPictureSpec spec;
        spec.Trails.push_back({{80, 100}, {560, 330}, 10, 1.6, 140, 1, 3});
        spec.Trails.push_back({{90, 340}, {540, 80}, -8, 1.6, 130, 1, 2});
        EXPECT_EQ(Find(RenderPicture(spec)).Refusal,
                  "Two star trails of similar size cross each other: place the points by hand");
    }
    {
        SCOPED_TRACE("two trails side by side");
        TPictureSpec spec;
        spec.Trails.push_back({{80, 120}, {560, 100}, 10, 1.6, 140, 1, 3});
        spec.Trails.push_back({{90, 300}, {520, 320}, -8, 1.6, 120, 1, 2});
        const TTrailSearch s = Find(RenderPicture(spec));
        EXPECT_TRUE(std::regex_match(
            s.Refusal,
            std::regex(R"(Two star trails of similar size were found \(\d+ px and \d+ px long\): place the points by hand)")))
            << s.Refusal;
    }
    {
        SCOPED_TRACE("a trail that leaves the picture");
        TPictureSpec spec;
        spec.Trails.push_back({{-80, 200}, {400, 180}, 10, 1.6, 140, 1, 3});
        EXPECT_EQ(Find(RenderPicture(spec)).Refusal, "The star trail runs off the picture: place the points by hand");
    }
    EXPECT_EQ(Find(TBitmap32()).Refusal, "Image is not loaded. You must image load first!");
}

TEST(FindTrail, AFaintSecondTrailOrAStarDoesNotCompete)
{
    TPictureSpec spec;
    spec.Trails.push_back({{80, 120}, {560, 100}, 10, 1.6, 160, 1, 3});
    spec.Trails.push_back({{90, 300}, {520, 320}, -8, 1.6, 40, 1, 2});
    // A bright star touching nothing.
    spec.Trails.push_back({{300, 250}, {301, 250}, 0, 2.5, 250, 0, 1});
    const TTrailSearch s = Find(RenderPicture(spec));
    ASSERT_TRUE(s.Points) << s.Refusal;
    EXPECT_NEAR(s.Start.X, 80, 3);
    EXPECT_NEAR(s.Stop.X, 560, 3);
}

} // namespace
} // namespace vinsk
