// Every family decodes a real file, through LoadPicture and its extension.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "DecodeCases.h"
#include "image/formats/Picture.h"

namespace vinsk::test {
namespace {

std::string Hex(std::uint32_t c)
{
    char s[16];
    std::snprintf(s, sizeof s, "$%08X", c);
    return s;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int da = static_cast<int>((a >> shift) & 0xFF);
        const int db = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(da - db) > tolerance)
            return false;
    }
    return true;
}

class DecodeFamily : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeFamily, GivesThePixelsAndAlpha)
{
    const TDecodeCase& c = GetParam();
    const std::string path = TempPath(c.Name + "." + c.Extension);
    WriteFile(path, c.Bytes);
    TBitmap32 bmp;
    LoadPicture(path, bmp);
    std::remove(path.c_str());

    ASSERT_EQ(bmp.Width(), c.Width);
    ASSERT_EQ(bmp.Height(), c.Height);
    for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x) {
            const std::uint32_t want = c.Pixels[y * c.Width + x];
            const std::uint32_t got = bmp.PixelS(x, y);
            EXPECT_TRUE(Near(got, want, c.Tolerance))
                << "pixel (" << x << ", " << y << ") is " << Hex(got) << ", expected " << Hex(want);
        }
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeFamily, ::testing::ValuesIn(DecodeCases()),
                         [](const auto& info) { return info.param.Name; });

} // namespace
// Uncompressed tiled pictures, with tiles cut by the right and bottom edge.
TEST(TiledTiff, EightAndSixteenBitRgbAndGreyAreRead)
{
    const int w = 40, h = 30;
    for (const int samples : {1, 3})
        for (const int bits : {8, 16}) {
            std::vector<std::uint16_t> values;
            std::vector<std::uint32_t> expected;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t r = (x * 6 + y) & 0xFF, g = (y * 8 + 3) & 0xFF, b = (x * y) & 0xFF;
                    const std::uint32_t scale = bits == 16 ? 257 : 1;
                    if (samples == 1) {
                        values.push_back(static_cast<std::uint16_t>(r * scale));
                        expected.push_back(Color32(255, r, r, r));
                    } else {
                        for (const std::uint32_t v : {r, g, b})
                            values.push_back(static_cast<std::uint16_t>(v * scale));
                        expected.push_back(Color32(255, r, g, b));
                    }
                }
            const TFileBytes file = MakeTiffTiled(w, h, samples, bits, values);
            TBitmap32 bmp;
            ASSERT_NO_THROW(formats::DecodeTiff(formats::TBytes(file.data(), file.size()), bmp, {}))
                << samples << " x " << bits;
            ASSERT_EQ(bmp.Width(), w);
            ASSERT_EQ(bmp.Height(), h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(bmp.PixelS(x, y), expected[static_cast<std::size_t>(y) * w + x])
                        << samples << " x " << bits << " at " << x << "," << y;
        }
}

} // namespace vinsk::test
