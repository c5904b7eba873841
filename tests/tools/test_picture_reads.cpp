// The picture and its frames decoded at once give what the window's loads,
// one command after the other, give: the raster, the samples with their clip
// mask, the notes, and the failure the first of them meets.
#include <unistd.h>

#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/Calibration.h"
#include "image/FrameCalibration.h"
#include "image/formats/Picture.h"
#include "image/formats/PictureReads.h"
#include "tools/cli/CliRun.h"
#include "tools/sample-gen/TrailScene.h"
#include "tools/writers/RgbImage.h"

using namespace vinsk;
using namespace vinsk::tools;
namespace fs = std::filesystem;

namespace {

struct TLoaded {
    TVinskState State;
    std::string Error;
};

// The window's way: the picture, then each frame at its own command.
TLoaded OneAfterAnother(const cli::TCliOptions& o)
{
    TLoaded r;
    TImageState& s = r.State.Image;
    auto frame = [&](const std::string& path, const char* name, auto refusal, auto apply) {
        if (auto message = refusal(s))
            throw ECalibrationError(*message);
        TBitmap32 f;
        TPictureExtras e;
        e.AsFrame = true;
        LoadPicture(path, f, e, HeldForFrame(s, name));
        apply(s, f, e.Linear, r.State.Status);
    };
    try {
        TPictureExtras extras;
        LoadPicture(o.Image, s.Bitmap, extras);
        s.Linear.Swap(extras.Linear);
        if (o.Dark)
            frame(*o.Dark, "dark", DarkRefusal, ApplyDarkFrame);
        if (o.Flat)
            frame(*o.Flat, "flat", FlatRefusal, ApplyFlatFrame);
    } catch (const std::exception& e) {
        r.Error = e.what();
    }
    return r;
}

TLoaded AtOnce(const cli::TCliOptions& o)
{
    TLoaded r;
    try {
        cli::LoadPictures(o, r.State);
    } catch (const std::exception& e) {
        r.Error = e.what();
    }
    return r;
}

void ExpectSamePlane(const TLinearPlane& a, const TLinearPlane& b, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(a.Empty(), b.Empty());
    if (a.Empty())
        return;
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    ASSERT_EQ(a.Channels(), b.Channels());
    EXPECT_EQ(a.SourceBits(), b.SourceBits());
    ASSERT_EQ(a.IsFloat(), b.IsFloat());
    EXPECT_EQ(a.SaturationLevel(), b.SaturationLevel());
    EXPECT_EQ(a.NoiseFloor(), b.NoiseFloor());
    if (a.IsFloat())
        EXPECT_EQ(std::memcmp(a.Float(), b.Float(), a.SampleCount() * sizeof(float)), 0);
    else
        EXPECT_EQ(std::memcmp(a.U16(), b.U16(), a.SampleCount() * 2), 0);
    ASSERT_EQ(a.Clipped().Recorded(), b.Clipped().Recorded());
    ASSERT_EQ(a.Clipped().Any(), b.Clipped().Any());
    const std::size_t pixels = static_cast<std::size_t>(a.Width()) * static_cast<std::size_t>(a.Height());
    std::size_t differ = 0;
    for (std::size_t p = 0; p < pixels; ++p)
        differ += a.Clipped().Bits(p) != b.Clipped().Bits(p);
    EXPECT_EQ(differ, 0u);
}

class PictureReads : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Dir = new fs::path(fs::temp_directory_path() / ("vinsk-reads-" + std::to_string(::getpid())));
        fs::create_directories(*Dir);
        TSceneOptions o;
        o.Deep = true;
        TScene scene = RenderScene(o);
        // A saturated stretch of the trail, so that the clip mask carries
        // something through the dark and the flat.
        for (std::size_t i = 0; i < 600; ++i)
            scene.Image16.Pixels[(220u * 720u + 300u) * 3u + i] = 65535;
        WritePng16(File("picture.png"), scene.Image16);
        WritePng16(File("dark.png"), scene.Dark16);
        WritePng16(File("flat.png"), scene.Flat16);
        WritePng(File("dark8.png"), scene.Dark);
        TRgb16Image small(100, 80);
        WritePng16(File("small.png"), small);
        // Cut inside the pixel data: libpng's own message names the damage.
        std::ifstream in(File("dark.png"), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(File("damaged.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(*Dir);
        delete Dir;
    }
    static std::string File(const std::string& name) { return (*Dir / name).string(); }

    static inline fs::path* Dir = nullptr;
};

TEST_F(PictureReads, AtOnceAsOneAfterAnother)
{
    struct TCase {
        const char* What;
        const char* Picture;
        const char* Dark; // nullptr: none
        const char* Flat;
        bool Fails;
        bool Clipped = false; // the samples carry their clip mask through the frames
    };
    const TCase cases[] = {
        {"picture, dark and flat", "picture.png", "dark.png", "flat.png", false, true},
        {"the dark alone", "picture.png", "dark.png", nullptr, false, true},
        {"an 8-bit dark drops the samples", "picture.png", "dark8.png", "flat.png", false},
        {"a damaged dark", "picture.png", "damaged.png", "flat.png", true},
        {"a damaged picture before a damaged dark", "damaged.png", "damaged.png", "flat.png", true},
        {"a missing dark before a damaged flat", "picture.png", "missing.png", "damaged.png", true},
        {"a dark of another size", "picture.png", "small.png", "flat.png", true},
        {"a damaged flat after a dark", "picture.png", "dark.png", "damaged.png", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        cli::TCliOptions o;
        o.Image = File(c.Picture);
        if (c.Dark)
            o.Dark = File(c.Dark);
        if (c.Flat)
            o.Flat = File(c.Flat);
        const TLoaded serial = OneAfterAnother(o);
        const TLoaded atOnce = AtOnce(o);
        EXPECT_EQ(atOnce.Error, serial.Error);
        EXPECT_EQ(!serial.Error.empty(), c.Fails) << serial.Error;
        if (c.Fails)
            continue;
        const TImageState &a = atOnce.State.Image, &b = serial.State.Image;
        ASSERT_EQ(a.Bitmap.Width(), b.Bitmap.Width());
        ASSERT_EQ(a.Bitmap.Height(), b.Bitmap.Height());
        EXPECT_EQ(std::memcmp(a.Bitmap.Bits(), b.Bitmap.Bits(), RasterBytes(a.Bitmap)), 0);
        EXPECT_EQ(a.DarkApplied, b.DarkApplied);
        EXPECT_EQ(a.FlatApplied, b.FlatApplied);
        EXPECT_EQ(a.FlatOffsetSource, b.FlatOffsetSource);
        EXPECT_EQ(b.Linear.Clipped().Any(), c.Clipped);
        ExpectSamePlane(a.Linear, b.Linear, "samples");
        ExpectSamePlane(a.FlatOffset, b.FlatOffset, "the flat's offset");
        EXPECT_EQ(atOnce.State.Status.Linear, serial.State.Status.Linear);
        EXPECT_EQ(atOnce.State.Status.Panels, serial.State.Status.Panels);
    }
    // The first case really read its files on threads of their own.
    TPictureReads reads({{File("picture.png"), {}, false}, {File("dark.png"), {}, true}, {File("flat.png"), {}, true}});
    EXPECT_EQ(reads.ReadAhead(), 3u);
}

// A read made ahead within its share of the budget is not handed to a load
// that holds more beside it: that load is made again and refused in its own
// words.
TEST_F(PictureReads, ATakeHoldingMoreIsReadAgain)
{
    const std::string dark = File("dark.png");
    TPictureReads reads({{File("picture.png"), {}, false}, {dark, {}, true}});
    const TMemoryHeld held{MemoryBudget - (1u << 20), "The picture and the dark frame together"};
    std::string ahead, serial;
    TBitmap32 frame;
    TPictureExtras extras;
    try {
        reads.Take(1, frame, extras, held);
    } catch (const EPictureError& e) {
        ahead = e.what();
    }
    extras.AsFrame = true;
    try {
        LoadPicture(dark, frame, extras, held);
    } catch (const EPictureError& e) {
        serial = e.what();
    }
    EXPECT_FALSE(serial.empty());
    EXPECT_EQ(ahead, serial);
    EXPECT_TRUE(frame.Empty());
}

// Reads released to make room are read again when taken, to the same result.
TEST_F(PictureReads, ReleasedReadsAreReadAgain)
{
    const std::string dark = File("dark.png");
    TPictureReads reads({{File("picture.png"), {}, false}, {dark, {}, true}});
    EXPECT_GT(reads.HeldBytes(true), 0u);
    reads.Release();
    EXPECT_EQ(reads.HeldBytes(true), 0u);
    TBitmap32 taken, loaded;
    TPictureExtras takenExtras, loadedExtras;
    reads.Take(1, taken, takenExtras, {});
    loadedExtras.AsFrame = true;
    LoadPicture(dark, loaded, loadedExtras);
    ASSERT_FALSE(taken.Empty());
    ASSERT_EQ(RasterBytes(taken), RasterBytes(loaded));
    EXPECT_EQ(std::memcmp(taken.Bits(), loaded.Bits(), RasterBytes(taken)), 0);
    ExpectSamePlane(takenExtras.Linear, loadedExtras.Linear, "samples");
}

} // namespace
