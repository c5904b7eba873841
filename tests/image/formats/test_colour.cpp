// The EXIF colour space read by the bounded IFD reader: what each block
// declares, and never another curve (nor a read past the end) for a cut one.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/FrameCalibration.h"
#include "image/formats/ColourDeclarations.h"
#include "image/formats/Picture.h"
#include "tools/writers/RgbImage.h"

using namespace vinsk;
using namespace vinsk::formats;

namespace {

using TBlock = std::vector<std::uint8_t>;

void Put16(TBlock& b, std::uint16_t v, bool le)
{
    b.push_back(static_cast<std::uint8_t>(le ? v : v >> 8));
    b.push_back(static_cast<std::uint8_t>(le ? v >> 8 : v));
}

void Put32(TBlock& b, std::uint32_t v, bool le)
{
    Put16(b, static_cast<std::uint16_t>(le ? v : v >> 16), le);
    Put16(b, static_cast<std::uint16_t>(le ? v >> 16 : v), le);
}

// IFD0 -> EXIF IFD (colour space, interoperability pointer) -> the
// interoperability IFD with its index.
TBlock Exif(std::uint16_t space, const char index[4], bool le, bool prefix)
{
    TBlock b;
    if (prefix)
        b = {'E', 'x', 'i', 'f', 0, 0};
    const std::size_t base = b.size();
    b.push_back(le ? 'I' : 'M');
    b.push_back(le ? 'I' : 'M');
    Put16(b, 42, le);
    Put32(b, 8, le);
    Put16(b, 1, le);
    Put16(b, 0x8769, le), Put16(b, 4, le), Put32(b, 1, le), Put32(b, 26, le);
    Put32(b, 0, le);
    Put16(b, 2, le);
    Put16(b, 0xA001, le), Put16(b, 3, le), Put32(b, 1, le), Put16(b, space, le), Put16(b, 0, le);
    Put16(b, 0xA005, le), Put16(b, 4, le), Put32(b, 1, le), Put32(b, 56, le);
    Put32(b, 0, le);
    Put16(b, 1, le);
    Put16(b, 0x0001, le), Put16(b, 2, le), Put32(b, 4, le);
    b.insert(b.end(), index, index + 4);
    Put32(b, 0, le);
    EXPECT_EQ(b.size() - base, 74u);
    return b;
}

} // namespace

TEST(ExifColour, EachBlockGivesItsCurveAndACutOneNothing)
{
    const struct {
        const char* Name;
        TBlock Block;
        std::optional<TTransfer> Expected;
    } rows[] = {
        {"sRGB, APP1 prefix, Intel", Exif(1, "R98", true, true), TTransfer{TToneCurve::Srgb, 1, "exif"}},
        {"sRGB, Motorola", Exif(1, "R98", false, false), TTransfer{TToneCurve::Srgb, 1, "exif"}},
        {"Adobe RGB", Exif(0xFFFF, "R03", true, false), TTransfer{TToneCurve::Gamma, 563.0 / 256, "exif"}},
        {"uncalibrated, unknown index", Exif(0xFFFF, "THM", true, false), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(TransferOfExif(row.Block), row.Expected);
        // Cut anywhere: never another curve, and (in a block of its own size,
        // for the address sanitizer) no read past the end.
        for (std::size_t n = 0; n < row.Block.size(); ++n) {
            const TBlock cut(row.Block.begin(), row.Block.begin() + static_cast<std::ptrdiff_t>(n));
            const std::optional<TTransfer> got = TransferOfExif(cut);
            EXPECT_TRUE(!got || got == row.Expected) << n;
        }
    }
}

// A dark of another tone curve than the picture's (a linear PNG for an sRGB
// JPEG) is read through its own and subtracted in light; the picture keeps
// its light plane.
TEST(FrameLight, EachFrameIsReadThroughItsOwnCurve)
{
    const std::string base = (std::filesystem::temp_directory_path() / ("vinsk-frame-light-" +
                                                                         std::to_string(::getpid())))
                                 .string();
    tools::TRgbImage picture(16, 16, 3), dark(16, 16, 3);
    picture.Pixels.assign(picture.Pixels.size(), 128);
    dark.Pixels.assign(dark.Pixels.size(), 10);
    tools::WriteJpeg(base + ".jpg", picture);
    tools::WritePng(base + "-dark.png", dark);
    TImageState s;
    TPictureExtras extras;
    LoadPicture(base + ".jpg", s.Bitmap, extras);
    s.Linear.Swap(extras.Linear);
    TBitmap32 frame;
    TPictureExtras frameExtras;
    frameExtras.AsFrame = true;
    LoadPicture(base + "-dark.png", frame, frameExtras, HeldForFrame(s, "dark"));
    std::filesystem::remove(base + ".jpg");
    std::filesystem::remove(base + "-dark.png");
    EXPECT_EQ(extras.Transfer.Curve, TToneCurve::Srgb);
    EXPECT_TRUE(frameExtras.Transfer.IsLinear());

    const double stored = ColorG(s.Bitmap.PixelS(8, 8));
    TStatusPanels status;
    ApplyDarkFrame(s, frame, frameExtras.Linear, status);
    ASSERT_FALSE(s.Linear.Empty()) << status.Linear;
    EXPECT_NEAR(s.Linear.Sample(8, 8, 1), 255 * LightOf(extras.Transfer, stored / 255) - 10, 0.01);
}
