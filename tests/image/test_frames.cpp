// Dark and flat frames applied to the linear samples beside the raster.
#include <gtest/gtest.h>

#include "image/FrameCalibration.h"

namespace vinsk::test {
namespace {

// A picture of width x 1 pixels whose raster and 16-bit grey plane hold the
// given samples (the raster as samples / 257).
struct TDeep {
    TBitmap32 Bitmap;
    TLinearPlane Plane;
};

TDeep Deep(const std::vector<std::uint16_t>& samples, int bits = 16)
{
    TDeep d;
    const auto w = static_cast<std::int32_t>(samples.size());
    d.Bitmap.SetSize(w, 1);
    d.Plane.Allocate16(w, 1, 1, bits);
    for (std::int32_t x = 0; x < w; ++x) {
        const std::uint32_t v = samples[static_cast<std::size_t>(x)] / 257u;
        d.Bitmap.SetPixelS(x, 0, Color32(255, v, v, v));
        d.Plane.U16()[x] = samples[static_cast<std::size_t>(x)];
    }
    return d;
}

TImageState Picture(const std::vector<std::uint16_t>& samples)
{
    TDeep d = Deep(samples);
    TImageState s;
    s.Bitmap.Swap(d.Bitmap);
    s.Linear.Swap(d.Plane);
    return s;
}

TEST(LinearFrames, DarkThenFlatInFloatingPoint)
{
    TImageState s = Picture({10000, 20000, 300, 5140});
    TImageState raster = s; // the raster alone, calibrated the specified way
    raster.Linear.Release();
    TStatusPanels status, rasterStatus;
    const TDeep dark = Deep({1000, 1000, 1000, 0});
    ApplyDarkFrame(s, dark.Bitmap, dark.Plane, status);
    ApplyDark(raster, dark.Bitmap, rasterStatus);
    // No floor at 0: the background's noise keeps its mean.
    ASSERT_TRUE(s.Linear.IsFloat());
    EXPECT_EQ(s.Linear.Sample(0, 0, 0), 9000.0f);
    EXPECT_EQ(s.Linear.Sample(2, 0, 0), -700.0f);
    EXPECT_EQ(s.Linear.Sample(3, 0, 0), 5140.0f);
    EXPECT_TRUE(status.Linear.empty());

    // The flat less the dark's offset, {0, 3000, 2000, 0}, mean 1250 (the
    // zero samples count); a flat at or below its offset leaves its sample alone.
    const TDeep flat = Deep({1000, 4000, 3000, 0});
    ApplyFlatFrame(s, flat.Bitmap, flat.Plane, status);
    ApplyFlat(raster, flat.Bitmap, rasterStatus);
    EXPECT_EQ(s.Linear.Sample(0, 0, 0), 9000.0f);
    EXPECT_FLOAT_EQ(s.Linear.Sample(1, 0, 0), 19000.0f * 1250.0f / 3000.0f);
    EXPECT_FLOAT_EQ(s.Linear.Sample(2, 0, 0), -700.0f * 1250.0f / 2000.0f);
    EXPECT_EQ(s.Linear.Sample(3, 0, 0), 5140.0f);
    EXPECT_TRUE(FlatOffsetFromDark(s));
    // The raster, flags and panels are exactly what the raster alone gives.
    for (std::int32_t x = 0; x < 4; ++x)
        EXPECT_EQ(s.Bitmap.PixelS(x, 0), raster.Bitmap.PixelS(x, 0)) << x;
    EXPECT_TRUE(s.DarkApplied && s.FlatApplied);
    EXPECT_EQ(status.Panels, rasterStatus.Panels);
}

TEST(LinearFrames, FrameOfAnotherKindDropsThePlane)
{
    struct TCase {
        TDeep Frame;
        std::string Note;
    };
    TDeep eightBit = Deep({0, 0});
    eightBit.Plane.Release();
    TDeep colour;
    colour.Bitmap.SetSize(2, 1);
    colour.Plane.Allocate16(2, 1, 3, 16);
    const TCase cases[] = {
        {eightBit, "Linear samples dropped: the dark frame has 8 bits per sample, the picture 16 bits"},
        {Deep({0, 0}, -32), "Linear samples dropped: the dark frame has 32-bit floats per sample, the picture 16 bits"},
        {colour, "Linear samples dropped: the dark frame is in colour, the picture grey"},
    };
    for (const TCase& c : cases) {
        TImageState s = Picture({1000, 2000});
        TStatusPanels status;
        ApplyDarkFrame(s, c.Frame.Bitmap, c.Frame.Plane, status);
        EXPECT_TRUE(s.DarkApplied);
        EXPECT_EQ(status.Panels[1], "Dark image  has been applied.");
        EXPECT_TRUE(s.Linear.Empty());
        EXPECT_EQ(status.Linear, c.Note);
    }
}

TEST(LinearFrames, RefusalsChangeNeitherRasterNorPlane)
{
    TImageState s = Picture({1000, 2000});
    TStatusPanels status;
    const TDeep narrow = Deep({5});
    EXPECT_THROW(ApplyDarkFrame(s, narrow.Bitmap, narrow.Plane, status), ECalibrationError);
    const TDeep flat = Deep({5, 5});
    EXPECT_THROW(ApplyFlatFrame(s, flat.Bitmap, flat.Plane, status), ECalibrationError);
    EXPECT_FALSE(s.Linear.IsFloat());
    EXPECT_EQ(s.Linear.U16()[1], 2000);
    EXPECT_FALSE(s.DarkApplied);
    EXPECT_TRUE(status.Linear.empty());
}


// The flat is divided less its own offset: a flat-dark frame's whenever one
// was given, before or after the dark, else the dark's. An 8-bit picture
// takes its samples from the raster when its frames come as light, and its
// raster is calibrated exactly as the raster alone is.
TEST(LinearFrames, TheFlatLosesItsOffsetFromTheFlatDarkElseTheDark)
{
    enum class TFlatDark { None, BeforeDark, AfterDark };
    struct TRow {
        const char* Name;
        int Bits;
        TFlatDark FlatDark;
    } rows[] = {
        {"16-bit, the dark's offset", 16, TFlatDark::None},
        {"16-bit, flat-dark before the dark", 16, TFlatDark::BeforeDark},
        {"16-bit, flat-dark after the dark", 16, TFlatDark::AfterDark},
        {"8-bit raster, the dark's offset", 8, TFlatDark::None},
        {"8-bit raster, a flat-dark", 8, TFlatDark::AfterDark},
    };
    const std::vector<double> light = {10000, 20000}, dark = {1000, 1000}, flatDark = {500, 700}, flat = {2500, 4500};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        // 8-bit frames as their loader gives them: a plane of their raster.
        const double scale = row.Bits == 8 ? 0.01 : 1;
        auto frame = [&](const std::vector<double>& v) {
            std::vector<std::uint16_t> samples;
            for (double x : v)
                samples.push_back(static_cast<std::uint16_t>(x * scale * (row.Bits == 8 ? 257 : 1)));
            TDeep d = Deep(samples);
            if (row.Bits == 8)
                RasterToPlane(d.Bitmap, d.Plane);
            return d;
        };
        TImageState s = Picture({10000, 20000});
        if (row.Bits == 8) {
            const TDeep raster = frame(light);
            s.Bitmap = raster.Bitmap;
            s.Linear.Release();
        }
        TImageState alone = s;
        TStatusPanels status, aloneStatus;
        const TDeep d = frame(dark), b = frame(flatDark), f = frame(flat);
        if (row.FlatDark == TFlatDark::BeforeDark)
            ApplyFlatDarkFrame(s, b.Bitmap, b.Plane, status);
        ApplyDarkFrame(s, d.Bitmap, d.Plane, status);
        if (row.FlatDark == TFlatDark::AfterDark)
            ApplyFlatDarkFrame(s, b.Bitmap, b.Plane, status);
        // The offset held until the flat counts in the flat's load.
        ASSERT_FALSE(s.FlatOffset.Empty());
        EXPECT_EQ(HeldForFrame(s, "flat").Bytes, RasterBytes(s.Bitmap) + s.Linear.Bytes() + s.FlatOffset.Bytes());
        ApplyFlatFrame(s, f.Bitmap, f.Plane, status);
        ApplyDark(alone, d.Bitmap, aloneStatus);
        ApplyFlat(alone, f.Bitmap, aloneStatus);

        ASSERT_FALSE(s.Linear.Empty()) << status.Linear;
        const std::vector<double>& offset = row.FlatDark == TFlatDark::None ? dark : flatDark;
        const double mean = (flat[0] - offset[0] + flat[1] - offset[1]) / 2;
        for (std::int32_t x = 0; x < 2; ++x) {
            const auto i = static_cast<std::size_t>(x);
            EXPECT_FLOAT_EQ(s.Linear.Sample(x, 0, 0), (light[i] - dark[i]) * scale * mean / (flat[i] - offset[i])) << x;
            EXPECT_EQ(s.Bitmap.PixelS(x, 0), alone.Bitmap.PixelS(x, 0)) << x;
        }
        EXPECT_EQ(FlatOffsetFromDark(s), row.FlatDark == TFlatDark::None);
        EXPECT_TRUE(s.FlatOffset.Empty()); // released with the flat
    }
}

TEST(LinearFrames, FlatDarkRefusals)
{
    TImageState s;
    TStatusPanels status;
    const TDeep b = Deep({5, 5});
    EXPECT_THROW(ApplyFlatDarkFrame(s, b.Bitmap, b.Plane, status), ECalibrationError);
    s = Picture({1000, 2000});
    const TDeep narrow = Deep({5});
    EXPECT_THROW(ApplyFlatDarkFrame(s, narrow.Bitmap, narrow.Plane, status), ECalibrationError);
    TDeep eightBit = Deep({5, 5});
    RasterToPlane(eightBit.Bitmap, eightBit.Plane);
    EXPECT_THROW(ApplyFlatDarkFrame(s, eightBit.Bitmap, eightBit.Plane, status), ECalibrationError);
    EXPECT_EQ(s.FlatOffsetSource, TFlatOffsetSource::None);
    ApplyDarkFrame(s, b.Bitmap, b.Plane, status);
    ApplyFlatFrame(s, b.Bitmap, b.Plane, status);
    EXPECT_EQ(FlatDarkRefusal(s).value_or(""), "Flat image is  applied. Load new image first!");
}

} // namespace
} // namespace vinsk::test
