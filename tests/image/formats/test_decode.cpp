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
} // namespace vinsk::test
