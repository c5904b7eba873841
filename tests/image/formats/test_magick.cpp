// Photo CD pictures written by GraphicsMagick itself, and what the readers
// that go through GraphicsMagick allow the library to do.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <magick/api.h>

#include "DecodeCases.h"
#include "image/formats/Picture.h"

namespace vinsk::test {
namespace {

namespace fmt = vinsk::formats;

constexpr std::uint32_t Sentinel = 0x12345678u;
constexpr std::uint32_t Reddish = 0xFFC82828u;
constexpr std::uint32_t Greenish = 0xFF28C828u;
constexpr std::uint32_t Bluish = 0xFF2828C8u;
constexpr std::uint32_t Black = 0xFF000000u;

// Four flat quarters, far enough apart that any misplaced or swapped one shows.
TSourceImage Quarters(int width, int height)
{
    TSourceImage img{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.Pixels.push_back(y < height / 2 ? (x < width / 2 ? Reddish : Greenish)
                                                : (x < width / 2 ? Bluish : Black));
    return img;
}

const TFileBytes& LandscapePcd()
{
    static const TFileBytes bytes = MakePcd(Quarters(768, 512));
    return bytes;
}

// Photo CD keeps luma and chroma with a tone curve, and the library's writer
// and reader do not invert each other exactly: colours come back up to about
// 20 levels off, black exactly.
void ExpectNear(std::uint32_t got, std::uint32_t want, int tolerance, int x, int y)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int g = static_cast<int>((got >> shift) & 0xFF);
        const int w = static_cast<int>((want >> shift) & 0xFF);
        EXPECT_LE(std::abs(g - w), tolerance) << "pixel (" << x << ", " << y << ") channel at bit " << shift
                                               << ": " << g << " instead of " << w;
    }
}

void ExpectQuarters(const TBitmap32& bmp)
{
    const int w = bmp.Width();
    const int h = bmp.Height();
    // The middle of each quarter, away from the blur at the borders.
    ExpectNear(bmp.PixelS(w / 4, h / 4), Reddish, 24, w / 4, h / 4);
    ExpectNear(bmp.PixelS(3 * w / 4, h / 4), Greenish, 24, 3 * w / 4, h / 4);
    ExpectNear(bmp.PixelS(w / 4, 3 * h / 4), Bluish, 24, w / 4, 3 * h / 4);
    ExpectNear(bmp.PixelS(3 * w / 4, 3 * h / 4), Black, 0, 3 * w / 4, 3 * h / 4);
}

TEST(PhotoCd, LandscapeDecodesAtTheBaseResolution)
{
    const std::string path = TempPath("quarters.pcd");
    WriteFile(path, LandscapePcd());
    TBitmap32 bmp;
    LoadPicture(path, bmp);
    std::remove(path.c_str());
    ASSERT_EQ(bmp.Width(), 768);
    ASSERT_EQ(bmp.Height(), 512);
    ExpectQuarters(bmp);
}

TEST(PhotoCd, PortraitIsTurnedBack)
{
    const TFileBytes pcd = MakePcd(Quarters(512, 768));
    TBitmap32 bmp;
    fmt::DecodePcd(fmt::TBytes(pcd.data(), pcd.size()), bmp, {});
    ASSERT_EQ(bmp.Width(), 512);
    ASSERT_EQ(bmp.Height(), 768);
    ExpectQuarters(bmp);
}

std::string DecodeError(const TFileBytes& bytes, std::size_t length, const fmt::TDecodeLimits& limits = {})
{
    TBitmap32 bmp;
    bmp.SetSize(1, 1);
    bmp.SetPixelS(0, 0, Sentinel);
    try {
        fmt::DecodePcd(fmt::TBytes(bytes.data(), length), bmp, limits);
    } catch (const EPictureError& e) {
        EXPECT_EQ(bmp.Width(), 1);
        EXPECT_EQ(bmp.PixelS(0, 0), Sentinel);
        return e.what();
    }
    return "decoded";
}

TEST(PhotoCd, ShortFilesFail)
{
    // The base image is the last thing read: 96 sectors in, 768 x 512 luma
    // with chroma at half resolution.
    const TFileBytes& pcd = LandscapePcd();
    constexpr std::size_t BaseEnd = 96 * 0x800 + 768 * 512 * 3 / 2;
    ASSERT_GE(pcd.size(), BaseEnd);
    for (std::size_t length : {std::size_t{1}, std::size_t{0x800}, std::size_t{3 * 0x800 - 1}, std::size_t{3 * 0x800},
                               std::size_t{96 * 0x800}, std::size_t{96 * 0x800 + 1000}, BaseEnd / 2, BaseEnd - 1})
        EXPECT_NE(DecodeError(pcd, length), "decoded") << length << " bytes";
    EXPECT_EQ(DecodeError(pcd, BaseEnd), "decoded");
}

TEST(PhotoCd, OverviewAndForeignFilesAreRefused)
{
    TFileBytes overview = LandscapePcd();
    std::memcpy(overview.data(), "PCD_OPA", 7);
    EXPECT_EQ(DecodeError(overview, overview.size()), "Photo CD overview files are not supported");

    TFileBytes unsigned_ = LandscapePcd();
    unsigned_[0x800] = 'X';
    EXPECT_EQ(DecodeError(unsigned_, unsigned_.size()), "not a Photo CD picture (no PCD signature)");
}

TEST(PhotoCd, TheFixedSizeIsHeldAgainstTheLimits)
{
    const TFileBytes& pcd = LandscapePcd();
    fmt::TDecodeLimits narrow;
    narrow.MaxSide = 700;
    EXPECT_EQ(DecodeError(pcd, pcd.size(), narrow),
              "the declared size 768 x 512 is above the limit of 700 x 700 pixels");
    fmt::TDecodeLimits small;
    small.Budget = 1u << 20;
    EXPECT_EQ(DecodeError(pcd, pcd.size(), small), "the declared size 768 x 512 needs more than 1 MiB of memory");
}

// Once a reader has run, the library may not start a program, write a file
// or fetch anything, whatever a picture asks for.
TEST(MagickAccess, NothingIsAllowedAfterAReaderRan)
{
    const TDecodeCase* cut = nullptr;
    for (const TDecodeCase& c : DecodeCases())
        if (c.Name == "cut8_grey")
            cut = &c;
    ASSERT_NE(cut, nullptr);
    TBitmap32 bmp;
    fmt::DecodeCut(fmt::TBytes(cut->Bytes.data(), cut->Bytes.size()), bmp, {});

    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    for (ConfirmAccessMode mode :
         {FileExecuteConfirmAccessMode, FileReadConfirmAccessMode, FileWriteConfirmAccessMode,
          URLGetFTPConfirmAccessMode, URLGetFileConfirmAccessMode, URLGetHTTPConfirmAccessMode})
        EXPECT_EQ(MagickConfirmAccess(mode, "/bin/sh", &exception), MagickFail) << "mode " << mode;
    DestroyExceptionInfo(&exception);
}

} // namespace
} // namespace vinsk::test
