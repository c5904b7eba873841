// The format list, the open dialog's filter and the choice of the reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <tiffio.h>

#include "DecodeCases.h"
#include "image/formats/Decoders.h"
#include "image/formats/Picture.h"

namespace vinsk::test {
namespace {

TEST(PictureFormats, FilterListsTheFormatsFromTheLastRegistration)
{
    const std::string patterns =
        "*.png;*.psp;*.cut;*.pcd;*.pic;*.cel;*.pbm;*.pgm;*.ppm;*.pdd;*.psd;*.bw;*.rgba;*.rgb;*.sgi;*.rla;*.rpf;"
        "*.scr;*.pcc;*.pcx;*.eps;*.fax;*.tif;*.tiff;*.icb;*.tga;*.vda;*.vst;*.win;*.dib;*.rle;*.jpeg;*.jpe;*.jpg;"
        "*.jfif;*.emf;*.wmf;*.ico;*.bmp;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf;"
        // The formats read beside the registered ones follow them, also in
        // "All", so every registered entry keeps its filter index.
        "*.fits;*.fit;*.fts;*.fz;*.cr2;*.cr3;*.nef;*.arw;*.dng;*.orf;*.raf;*.rw2;*.pef";
    const std::string expected =
        "All (" + patterns + ")|" + patterns +
        "|Portable network graphic images (*.png)|*.png"
        "|Paintshop Pro images (*.psp)|*.psp"
        "|Dr. Halo images (*.cut)|*.cut"
        "|Kodak Photo-CD images (*.pcd)|*.pcd"
        "|Autodesk images (*.pic)|*.pic"
        "|Autodesk images (*.cel)|*.cel"
        "|Portable bitmap images (*.pbm)|*.pbm"
        "|Portable gray map images (*.pgm)|*.pgm"
        "|Portable pixel map images (*.ppm)|*.ppm"
        "|Photoshop images (*.pdd)|*.pdd"
        "|Photoshop images (*.psd)|*.psd"
        "|SGI black/white images (*.bw)|*.bw"
        "|SGI true color images with alpha (*.rgba)|*.rgba"
        "|SGI true color images (*.rgb)|*.rgb"
        "|SGI true color images (*.sgi)|*.sgi"
        "|Alias/Wavefront images (*.rla)|*.rla"
        "|Alias/Wavefront images (*.rpf)|*.rpf"
        "|Word 5.x screen capture images (*.scr)|*.scr"
        "|ZSoft Paintbrush images (*.pcc)|*.pcc"
        "|ZSoft Paintbrush images (*.pcx)|*.pcx"
        "|Encapsulated Postscript images (*.eps)|*.eps"
        "|GFI fax images (*.fax)|*.fax"
        "|PC TIF images (*.tif)|*.tif"
        "|Macintosh TIFF images (*.tiff)|*.tiff"
        "|Truevision images (*.icb)|*.icb"
        "|Truevision images (*.tga)|*.tga"
        "|Truevision images (*.vda)|*.vda"
        "|Truevision images (*.vst)|*.vst"
        "|Truevision images (*.win)|*.win"
        "|Device independant Windows bitmaps (*.dib)|*.dib"
        "|Run length encoded Windows bitmaps (*.rle)|*.rle"
        "|JPEG images (*.jpeg)|*.jpeg"
        "|JPE images (*.jpe)|*.jpe"
        "|JPG images (*.jpg)|*.jpg"
        "|JFIF images (*.jfif)|*.jfif"
        "|Windows enhanced meta files (*.emf)|*.emf"
        "|Windows metafiles (*.wmf)|*.wmf"
        "|Windows icons (*.ico)|*.ico"
        "|Windows bitmaps (*.bmp)|*.bmp"
        "|JPEG Image File (*.jpg)|*.jpg"
        "|JPEG Image File (*.jpeg)|*.jpeg"
        "|Bitmaps (*.bmp)|*.bmp"
        "|Icons (*.ico)|*.ico"
        "|Enhanced Metafiles (*.emf)|*.emf"
        "|Metafiles (*.wmf)|*.wmf"
        "|FITS images (*.fits)|*.fits"
        "|FITS images (*.fit)|*.fit"
        "|FITS images (*.fts)|*.fts"
        "|Tile-compressed FITS images (*.fz)|*.fz"
        "|Camera RAW images (*.cr2)|*.cr2"
        "|Camera RAW images (*.cr3)|*.cr3"
        "|Camera RAW images (*.nef)|*.nef"
        "|Camera RAW images (*.arw)|*.arw"
        "|Camera RAW images (*.dng)|*.dng"
        "|Camera RAW images (*.orf)|*.orf"
        "|Camera RAW images (*.raf)|*.raf"
        "|Camera RAW images (*.rw2)|*.rw2"
        "|Camera RAW images (*.pef)|*.pef";
    EXPECT_EQ(PictureOpenFilter(), expected);
}

TEST(PictureFormats, RegistrationOrderRunsFromMetafilesToPng)
{
    const auto& formats = RegisteredPictureFormats();
    ASSERT_EQ(formats.size(), 45u);
    EXPECT_EQ(formats.front().Extension, "wmf");
    EXPECT_EQ(formats.front().Description, "Metafiles");
    EXPECT_EQ(formats.back().Extension, "png");
    EXPECT_EQ(formats.back().Description, "Portable network graphic images");
}

struct TLookupCase {
    std::string FileName;
    std::string CaseName; // the decode case whose bytes the file holds; empty: a few junk bytes
    std::string Error;    // empty: decodes; else the whole message after "Cannot load <path>: ",
                          // or the whole message when it starts with "Unknown"
};

void PrintTo(const TLookupCase& c, std::ostream* os) { *os << c.FileName; }

class PictureLookup : public ::testing::TestWithParam<TLookupCase> {};

TEST_P(PictureLookup, ExtensionChoosesTheReader)
{
    const TLookupCase& c = GetParam();
    const std::string path = TempPath(c.FileName);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const TDecodeCase* source = nullptr;
    for (const TDecodeCase& d : DecodeCases())
        if (d.Name == c.CaseName)
            source = &d;
    ASSERT_TRUE(source != nullptr || c.CaseName.empty()) << c.CaseName;
    WriteFile(path, source ? source->Bytes : TFileBytes{1, 2, 3, 4});

    TBitmap32 bmp;
    bmp.SetSize(1, 1);
    bmp.SetOuterColor(0xFFFFFFFFu);
    try {
        LoadPicture(path, bmp);
        EXPECT_EQ(c.Error, "") << "decoded";
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(bmp.Width(), source->Width);
        EXPECT_EQ(bmp.PixelS(1, 0), source->Pixels[1]);
        EXPECT_EQ(bmp.OuterColor(), 0xFFFFFFFFu);
    } catch (const EPictureError& e) {
        const std::string expected = c.Error.rfind("Unknown", 0) == 0 ? c.Error : "Cannot load " + path + ": " + c.Error;
        EXPECT_EQ(std::string(e.what()), expected);
        EXPECT_EQ(bmp.Width(), 1);
    }
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PictureLookup,
    ::testing::Values(TLookupCase{"lower.jpg", "jpeg_rgb", ""}, TLookupCase{"UPPER.JPG", "jpeg_rgb", ""},
                      TLookupCase{"Mixed.JpEg", "jpeg_rgb", ""}, TLookupCase{"two.dots.tif", "tiff_rgb", ""},
                      TLookupCase{"picture.TGA", "tga24_bottom_up", ""},
                      TLookupCase{"picture.xyz", "", "Unknown picture file extension (.xyz)"},
                      TLookupCase{"picture.XyZ", "", "Unknown picture file extension (.XyZ)"},
                      TLookupCase{"no_extension", "", "Unknown picture file extension (.)"},
                      TLookupCase{"dotted.dir/no_extension", "", "Unknown picture file extension (.)"},
                      TLookupCase{"picture.jpg.gz", "", "Unknown picture file extension (.gz)"},
                      // The extension, not the content, chooses the reader.
                      TLookupCase{"png_inside.bmp", "png_rgb", "not a Windows bitmap (no BM signature)"},
                      TLookupCase{"drawing.eps", "", "reading Encapsulated Postscript images is not supported"},
                      TLookupCase{"drawing.WMF", "", "reading Windows metafiles is not supported"},
                      TLookupCase{"drawing.emf", "", "reading Windows enhanced meta files is not supported"},
                      TLookupCase{"render.RLA", "rla_rgb", ""},
                      TLookupCase{"render.rpf", "", "reading Alias/Wavefront images is not supported"},
                      TLookupCase{"anim.cel", "", "reading Autodesk images is not supported"},
                      TLookupCase{"anim.pic", "", "reading Autodesk images is not supported"},
                      TLookupCase{"photo.pcd", "", "the file is truncated"},
                      TLookupCase{"paint.cut", "cut8_grey", ""},
                      // GraphicsMagick reads with the coder of the extension, never the content's.
                      TLookupCase{"png_inside.cut", "png_rgb", "CUT error: Improper image header"},
                      TLookupCase{"paint.psp", "", "reading Paintshop Pro images is not supported"}));

std::string LoadError(const std::string& path)
{
    TBitmap32 bmp;
    try {
        LoadPicture(path, bmp);
    } catch (const EPictureError& e) {
        EXPECT_TRUE(bmp.Empty());
        return e.what();
    }
    return "decoded";
}

TEST(PictureFile, MissingEmptyAndFolderAreReported)
{
    const std::string missing = TempPath("missing.png");
    std::filesystem::remove(missing);
    EXPECT_EQ(LoadError(missing), "Cannot load " + missing + ": No such file or directory");

    const std::string empty = TempPath("empty.png");
    WriteFile(empty, {});
    EXPECT_EQ(LoadError(empty), "Cannot load " + empty + ": the file is empty");
    std::filesystem::remove(empty);

    const std::string folder = TempPath("folder.png");
    std::filesystem::create_directories(folder);
    EXPECT_EQ(LoadError(folder), "Cannot load " + folder + ": not a regular file");
    std::filesystem::remove(folder);
}

// Larger than the old mapping threshold, where a file shortened under the
// loader gave SIGBUS; sparse, so it costs no disk.
TEST(PictureFile, AFileShortenedWhileItIsReadIsReportedNotASignal)
{
    const std::string path = TempPath("shortened.ppm");
    const std::string header = "P6\n64 48\n255\n";
    std::vector<std::uint8_t> ppm(header.begin(), header.end());
    ppm.resize(ppm.size() + 64 * 48 * 3, 0x80);
    for (const std::uintmax_t shortTo : {std::uintmax_t{0}, std::uintmax_t{ppm.size() / 2}}) {
        WriteFile(path, ppm);
        std::filesystem::resize_file(path, 100u << 20);
        SetPictureReadSeam([&](const std::string& p) { std::filesystem::resize_file(p, shortTo); });
        EXPECT_EQ(LoadError(path), "Cannot load " + path + ": The file changed while it was read") << shortTo;
        SetPictureReadSeam(nullptr);
    }
    std::filesystem::remove(path);
}

// TIFFRGBAImageGet decodes a strip at a time into a buffer of its own: a
// picture in one deflate strip holds all its samples beside the raster.
TEST(PictureBudget, TheTiffStripBufferCounts)
{
    constexpr int side = 1000; // raster 4 MB and plane 6 MB: within 12 MiB, not with a 6 MB strip
    for (const int rowsPerStrip : {side, 16}) {
        const std::string path = TempPath("strip.tif");
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        std::vector<std::uint16_t> row(side * 3, 1000);
        for (int y = 0; y < side; ++y)
            TIFFWriteScanline(tif, row.data(), y, 0);
        TIFFClose(tif);
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
        formats::TDecodeLimits limits;
        limits.Budget = 12u << 20;
        TBitmap32 bmp;
        TPictureExtras extras;
        std::string error = "decoded";
        try {
            formats::DecodeTiff(file, bmp, &extras, limits);
        } catch (const EPictureError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, rowsPerStrip == side ? "the declared size 1000 x 1000 needs more than 12 MiB of memory"
                                              : "decoded");
    }
}

// A frame's load counts the picture it is loaded for.
TEST(PictureBudget, AFrameBesideThePictureIsRefusedNamingBoth)
{
    const std::string path = TempPath("frame.png");
    WriteFile(path, MakePngGrey16(10, 10, std::vector<std::uint16_t>(100, 7)));
    TBitmap32 bmp;
    TPictureExtras extras;
    LoadPicture(path, bmp, extras, {MemoryBudget - 1000, "The picture and the dark frame together"});
    EXPECT_FALSE(bmp.Empty());
    try {
        LoadPicture(path, bmp, extras, {MemoryBudget - 500, "The picture and the dark frame together"});
        ADD_FAILURE() << "loaded";
    } catch (const EPictureError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot load " + path + ": The picture and the dark frame together need 2.2 GB; the limit is 2 GiB");
    }
}

} // namespace
} // namespace vinsk::test
