// The tools' picture writers, read back through the program's own loader.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "image/formats/Picture.h"
#include "tools/writers/RgbImage.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

// A picture whose pixels differ from their neighbours and whose channels
// differ from each other, smooth but for one step, so a swapped channel or
// a shifted row shows.
TRgbImage Pattern(std::int32_t w, std::int32_t h, std::int32_t channels)
{
    TRgbImage img(w, h, channels);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            for (std::int32_t c = 0; c < channels; ++c)
                img.Row(y)[x * channels + c] = static_cast<std::uint8_t>(20 + x * 2 + y * 3 + c * 30 + (x > w / 2 ? 30 : 0));
    return img;
}

struct WriterRow {
    const char* Extension;
    std::int32_t Channels;
    int MaxError; // 0: lossless
};

void PrintTo(const WriterRow& r, std::ostream* os)
{
    *os << r.Extension << (r.Channels == 1 ? " grey" : " colour");
}

class Writers : public ::testing::TestWithParam<WriterRow> {};

TEST_P(Writers, WritePicturesTheLoaderReadsBack)
{
    const WriterRow& r = GetParam();
    const TRgbImage img = Pattern(37, 23, r.Channels);
    const auto path = std::filesystem::temp_directory_path() /
                      ("vinsk-writer-" + std::to_string(::getpid()) + "." + r.Extension);
    WritePicture(path.string(), img);
    TBitmap32 bmp;
    LoadPicture(path.string(), bmp);
    std::filesystem::remove(path);
    ASSERT_EQ(bmp.Width(), 37);
    ASSERT_EQ(bmp.Height(), 23);
    int worst = 0;
    for (std::int32_t y = 0; y < 23; ++y)
        for (std::int32_t x = 0; x < 37; ++x) {
            const std::uint32_t c = bmp.PixelS(x, y);
            const std::uint8_t* p = img.Row(y) + x * r.Channels;
            const int want[3] = {p[0], p[r.Channels == 3 ? 1 : 0], p[r.Channels == 3 ? 2 : 0]};
            const int got[3] = {static_cast<int>(ColorR(c)), static_cast<int>(ColorG(c)), static_cast<int>(ColorB(c))};
            EXPECT_EQ(ColorA(c), 255u);
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::abs(want[k] - got[k]));
        }
    EXPECT_LE(worst, r.MaxError);
}

INSTANTIATE_TEST_SUITE_P(Formats, Writers,
                         ::testing::Values(WriterRow{"png", 3, 0}, WriterRow{"png", 1, 0}, WriterRow{"tif", 3, 0},
                                           WriterRow{"tif", 1, 0}, WriterRow{"jpg", 3, 16},
                                           WriterRow{"jpg", 1, 8}),
                         [](const ::testing::TestParamInfo<WriterRow>& info) {
                             return std::string(info.param.Extension) + (info.param.Channels == 1 ? "Grey" : "Colour");
                         });

TEST(Writers, AnUnknownExtensionOrAnUnwritablePlaceIsAnError)
{
    const TRgbImage img = Pattern(4, 4, 3);
    EXPECT_THROW(WritePicture("/tmp/vinsk-writer.bmp", img), EWriteError);
    EXPECT_THROW(WritePicture("/nonexistent-folder/x.png", img), EWriteError);
    EXPECT_THROW(WritePicture("/tmp/vinsk-writer-empty.png", TRgbImage()), EWriteError);
    // A failed write removes only a file it wrote: here the path is a link
    // to a device that refuses every byte, and the link stays.
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("vinsk-writer-full-" + std::to_string(::getpid()));
    for (const char* ext : {".png", ".tif"}) {
        const std::filesystem::path named = link.string() + ext;
        std::filesystem::remove(named);
        std::filesystem::create_symlink("/dev/full", named);
        EXPECT_THROW(WritePicture(named.string(), img), EWriteError) << ext;
        EXPECT_TRUE(std::filesystem::is_symlink(named)) << ext;
        std::filesystem::remove(named);
    }
}


// Pictures whose levels are light (the sample generator's) are read as
// light: a JPEG through the linear profile it embeds, grey or colour.
TEST(Writers, PicturesDeclaredLinearAreReadAsLinear)
{
    const struct {
        const char* Extension;
        std::int32_t Channels;
        const char* Source;
    } rows[] = {{"jpg", 3, "icc"}, {"jpg", 1, "icc"}, {"png", 3, "format-default"}, {"tif", 1, "format-default"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.Extension) + " " + std::to_string(r.Channels));
        const auto path = std::filesystem::temp_directory_path() /
                          ("vinsk-writer-linear-" + std::to_string(::getpid()) + "." + r.Extension);
        WritePicture(path.string(), Pattern(9, 7, r.Channels), true);
        TBitmap32 bmp;
        TPictureExtras extras;
        LoadPicture(path.string(), bmp, extras);
        std::filesystem::remove(path);
        EXPECT_TRUE(extras.Transfer.IsLinear());
        EXPECT_EQ(extras.Transfer.Source, r.Source);
        EXPECT_TRUE(extras.Linear.Empty());
    }
}

} // namespace
