// Pictures with more than 8 bits per sample: FITS and camera RAW, and the
// linear samples every deep reader keeps beside the raster.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fitsio.h>

#include "DecodeCases.h"
#include "image/formats/Picture.h"
#include "tools/writers/DeepWriters.h"

namespace vinsk::test {
namespace {

using tools::TFitsPicture;
using tools::TRgb16Image;
using tools::At;

constexpr std::uint32_t Grey(std::uint32_t v) { return 0xFF000000u | (v << 16) | (v << 8) | v; }

// A fresh path in this run's folder for deep pictures.
std::string DeepPath(const std::string& name)
{
    const std::string path = TempPath("deep/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return path;
}

struct TLoaded {
    TBitmap32 Bitmap;
    TPictureExtras Extras;
};

TLoaded Load(const std::string& path)
{
    TLoaded r;
    LoadPicture(path, r.Bitmap, r.Extras);
    return r;
}

// The message LoadPicture gives, or "" when it loads; the target must stay
// as it was on failure.
std::string LoadError(const std::string& path)
{
    TBitmap32 bmp;
    bmp.SetSize(1, 1);
    bmp.SetPixelS(0, 0, 0xFF123456u);
    TPictureExtras extras;
    extras.Linear.Allocate16(1, 1, 1, 16);
    extras.Linear.U16()[0] = 77;
    testing::internal::CaptureStderr();
    std::string message;
    try {
        LoadPicture(path, bmp, extras);
    } catch (const EPictureError& e) {
        message = e.what();
    }
    // The libraries report through us, never on the terminal.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (!message.empty()) {
        EXPECT_EQ(bmp.Width(), 1);
        EXPECT_EQ(bmp.PixelS(0, 0), 0xFF123456u);
        EXPECT_EQ(extras.Linear.Width(), 1);
        EXPECT_EQ(extras.Linear.Sample(0, 0, 0), 77.0f);
    }
    return message;
}

// 4 x 3 grey physical values, stored row 1 (the bottom) first.
TFitsPicture Grey4x3(int bitpix, std::vector<double> values)
{
    TFitsPicture p;
    p.Width = 4;
    p.Height = 3;
    p.Bitpix = bitpix;
    p.Values = std::move(values);
    return p;
}

struct TBitpixCase {
    std::string Name;
    int Bitpix;
    double Bzero, Bscale;
    std::vector<double> Values; // stored order, bottom row first
};

void PrintTo(const TBitpixCase& c, std::ostream* os) { *os << c.Name; }

class FitsBitpix : public ::testing::TestWithParam<TBitpixCase> {};

// Every sample type gives its physical values in the plane, top row first,
// and the raster maps the data's range to 0..255.
TEST_P(FitsBitpix, PhysicalValuesAndRangeMap)
{
    const TBitpixCase& c = GetParam();
    TFitsPicture p = Grey4x3(c.Bitpix, c.Values);
    p.Bzero = c.Bzero;
    p.Bscale = c.Bscale;
    const std::string path = DeepPath("bitpix_" + c.Name + ".fits");
    tools::WriteFits(path, p);
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Bitmap.Width(), 4);
    ASSERT_EQ(r.Bitmap.Height(), 3);
    const TLinearPlane& plane = r.Extras.Linear;
    ASSERT_EQ(plane.Channels(), 1);
    EXPECT_EQ(plane.SourceBits(), c.Bitpix);
    double lo = c.Values[0], hi = c.Values[0];
    for (double v : c.Values) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const double v = c.Values[static_cast<std::size_t>((2 - y) * 4 + x)];
            EXPECT_NEAR(plane.Sample(x, y, 0), v, std::abs(v) * 1e-7) << x << "," << y;
            const auto expected = static_cast<std::uint32_t>(std::floor((v - lo) * 255.0 / (hi - lo) + 0.5));
            EXPECT_EQ(r.Bitmap.PixelS(x, y), Grey(expected)) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Fits, FitsBitpix,
    ::testing::Values(
        TBitpixCase{"b8", 8, 0, 1, {0, 1, 2, 3, 10, 20, 30, 40, 100, 200, 254, 255}},
        TBitpixCase{"b16", 16, 0, 1, {-32768, -1000, 0, 1, 2, 3, 100, 1000, 10000, 20000, 30000, 32767}},
        TBitpixCase{"b16_unsigned", 16, 32768, 1, {0, 1, 2, 3, 1000, 4000, 16000, 32768, 40000, 50000, 60000, 65535}},
        TBitpixCase{"b16_scaled", 16, 100, 0.5, {100, 100.5, 101, 150, 200, 300, 400, 500, 1000, 2000, 5000, 16000}},
        TBitpixCase{"b32", 32, 0, 1, {-2000000, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16000000}},
        TBitpixCase{"b32_scaled", 32, -5, 0.25, {-5, -4.75, 0, 1, 2, 3, 4, 5, 6, 7, 8, 1000}},
        TBitpixCase{"f32", -32, 0, 1, {-1.5, 0, 0.25, 0.5, 0.75, 1, 1.25, 1.5, 2, 3, 4, 8.5}},
        TBitpixCase{"f64", -64, 0, 1, {1e-3, 2e-3, 3e-3, 4e-3, 5e-3, 6e-3, 7e-3, 8e-3, 9e-3, 1e-2, 2e-2, 4e-2}}),
    [](const auto& info) { return info.param.Name; });

TEST(Fits, ThreePlanesAreRedGreenBlue)
{
    TFitsPicture p;
    p.Width = 2;
    p.Height = 1;
    p.Planes = 3;
    p.Bitpix = -32;
    p.Values = {0, 10, 20, 30, 40, 50}; // red plane, green plane, blue plane
    const std::string path = DeepPath("rgb.fit");
    tools::WriteFits(path, p);
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Extras.Linear.Channels(), 3);
    EXPECT_EQ(r.Extras.Linear.Sample(1, 0, 0), 10.0f);
    EXPECT_EQ(r.Extras.Linear.Sample(0, 0, 1), 20.0f);
    EXPECT_EQ(r.Extras.Linear.Sample(1, 0, 2), 50.0f);
    // Range 0..50 over all three planes.
    EXPECT_EQ(r.Bitmap.PixelS(0, 0), Color32(255, 0, 102, 204));
    EXPECT_EQ(r.Bitmap.PixelS(1, 0), Color32(255, 51, 153, 255));
}

TEST(Fits, DataMinMaxSetTheRasterRange)
{
    TFitsPicture p = Grey4x3(16, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100});
    p.NumberKeys = {{"DATAMIN", 100}, {"DATAMAX", 600}};
    const std::string path = DeepPath("datamin.fts");
    tools::WriteFits(path, p);
    const TLoaded r = Load(path);
    // Bottom row stored first: the top row holds 800..1100, all above DATAMAX.
    EXPECT_EQ(r.Bitmap.PixelS(0, 0), Grey(255));
    EXPECT_EQ(r.Bitmap.PixelS(0, 2), Grey(0));                                       // 0, below DATAMIN
    EXPECT_EQ(r.Bitmap.PixelS(0, 1), Grey(static_cast<std::uint32_t>(255 * 0.6 + 0.5))); // 400
    EXPECT_EQ(r.Extras.Linear.Sample(0, 0, 0), 800.0f);
}

TEST(Fits, TopDownRowOrderKeepsTheStoredOrder)
{
    TFitsPicture p = Grey4x3(16, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3});
    p.TextKeys = {{"ROWORDER", "TOP-DOWN"}};
    const std::string path = DeepPath("topdown.fits");
    tools::WriteFits(path, p);
    EXPECT_EQ(Load(path).Extras.Linear.Sample(0, 0, 0), 1.0f);
}

// RGGB shifted by one column (XBAYROFF = 1) reads as GRBG; each 2x2 cell
// becomes one pixel with the mean of its two greens.
TEST(Fits, BayerCellsBecomeSuperpixels)
{
    TFitsPicture p;
    p.Width = 4;
    p.Height = 2;
    p.Bitpix = 16;
    // Stored row 1: G R G R, row 2: B G B G (GRBG).
    p.Values = {10, 100, 12, 120, 1000, 20, 1200, 22};
    p.TextKeys = {{"BAYERPAT", "RGGB"}};
    p.NumberKeys = {{"XBAYROFF", 1}, {"YBAYROFF", 0}, {"XPIXSZ", 3.76}};
    const std::string path = DeepPath("bayer.fits");
    tools::WriteFits(path, p);
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Bitmap.Width(), 2);
    ASSERT_EQ(r.Bitmap.Height(), 1);
    const TLinearPlane& plane = r.Extras.Linear;
    ASSERT_EQ(plane.Channels(), 3);
    EXPECT_EQ(plane.Sample(0, 0, 0), 100.0f);
    EXPECT_EQ(plane.Sample(0, 0, 1), 15.0f);
    EXPECT_EQ(plane.Sample(0, 0, 2), 1000.0f);
    EXPECT_EQ(plane.Sample(1, 0, 0), 120.0f);
    EXPECT_EQ(plane.Sample(1, 0, 1), 17.0f);
    EXPECT_EQ(plane.Sample(1, 0, 2), 1200.0f);
    // A superpixel is two sensor pixels wide.
    ASSERT_TRUE(r.Extras.Setup.PixelWidthUm.has_value());
    EXPECT_EQ(*r.Extras.Setup.PixelWidthUm, 7.52);
}

// The Rice tiles of every sample width, with flat stretches (blocks of
// equal pixels), gentle ramps (short codes) and noise over the whole range
// (pixels stored in full): the check that guards cfitsio's decoder must pass
// every stream cfitsio itself writes.
TEST(Fits, TileCompressedOfEveryWidthReadsAsThePlainFile)
{
    for (const int bitpix : {8, 16, 32}) {
        TFitsPicture p;
        p.Width = 70;
        p.Height = 9;
        p.Bitpix = bitpix;
        const double top = bitpix == 8 ? 255 : bitpix == 16 ? 32767 : 2e9;
        std::uint32_t state = 12345;
        for (std::int64_t i = 0; i < p.Width * p.Height; ++i) {
            state = state * 1664525u + 1013904223u;
            const std::int64_t row = i / p.Width, x = i % p.Width;
            p.Values.push_back(row % 3 == 0 ? 7 : row % 3 == 1 ? (x * 3) % 200 : std::floor(top * (state >> 8) / 16777216.0));
        }
        const std::string plainPath = DeepPath("plain" + std::to_string(bitpix) + ".fits");
        tools::WriteFits(plainPath, p);
        p.TileCompressed = true;
        const std::string packedPath = DeepPath("packed" + std::to_string(bitpix) + ".fits.fz");
        tools::WriteFits(packedPath, p);
        const TLoaded plain = Load(plainPath);
        const TLoaded packed = Load(packedPath);
        ASSERT_EQ(packed.Bitmap.Width(), 70) << bitpix;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 70; ++x)
                ASSERT_EQ(packed.Extras.Linear.Sample(x, y, 0), plain.Extras.Linear.Sample(x, y, 0)) << bitpix;

    }
}

// A Rice tile whose codes end in a run of zero bytes: cfitsio's decoder
// reads on past the tile, far outside its buffer (found by fuzzing).
TEST(Fits, RiceTileThatRunsPastItsEndIsRefused)
{
    const std::string path = DeepPath("runaway.fits.fz");
    std::filesystem::copy_file(std::string(VINSK_SOURCE_DIR) + "/fuzz/corpus/fits/rice_stream_runs_past_tile", path,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_NE(LoadError(path).find("a compressed tile is damaged"), std::string::npos) << LoadError(path);
}

TEST(Fits, TileCompressedReadsAsThePlainFile)
{
    TFitsPicture p = Grey4x3(16, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 4000});
    p.NumberKeys = {{"EXPTIME", 60}};
    const std::string plainPath = DeepPath("plain.fits");
    tools::WriteFits(plainPath, p);
    p.TileCompressed = true;
    const std::string packedPath = DeepPath("packed.fits.fz");
    tools::WriteFits(packedPath, p);
    const TLoaded plain = Load(plainPath);
    const TLoaded packed = Load(packedPath);
    ASSERT_EQ(packed.Bitmap.Width(), 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(packed.Bitmap.PixelS(x, y), plain.Bitmap.PixelS(x, y));
            EXPECT_EQ(packed.Extras.Linear.Sample(x, y, 0), plain.Extras.Linear.Sample(x, y, 0));
        }
    EXPECT_EQ(packed.Extras.Setup.ExposureSeconds, 60.0);
}

// The header keys as a camera writes them, to Setup values in the fields'
// units, exactly.
TEST(Fits, HeaderGivesSetupValues)
{
    TFitsPicture p = Grey4x3(16, std::vector<double>(12, 7));
    p.NumberKeys = {{"EXPTIME", 480}, {"PIXSIZE1", 3.76}, {"PIXSIZE2", 3.76}, {"XBINNING", 2},
                    {"YBINNING", 2},  {"FOCALLEN", 400},  {"APTDIA", 80}};
    const std::string path = DeepPath("header.fits");
    tools::WriteFits(path, p);
    const TFileSetupValues v = Load(path).Extras.Setup;
    EXPECT_EQ(v.ExposureSeconds, 480.0);
    EXPECT_EQ(v.PixelWidthUm, 7.52);
    EXPECT_EQ(v.PixelHeightUm, 7.52);
    EXPECT_EQ(v.FocalMm, 400.0);
    EXPECT_EQ(v.ApertureMm, 80.0);
    EXPECT_EQ(FileValuesQuestion(v, '.'),
              "Use the values from the file? Exposition 480 s, pixel 7.52 \xC2\xB5m, focal length 400 mm, aperture 80 mm");

    // XPIXSZ already holds the binning and wins; EXPOSURE stands in for EXPTIME.
    p.NumberKeys = {{"EXPOSURE", 30}, {"XPIXSZ", 4.63}, {"YPIXSZ", 5}, {"PIXSIZE1", 3.76}, {"XBINNING", 2}};
    tools::WriteFits(path, p);
    const TFileSetupValues w = Load(path).Extras.Setup;
    EXPECT_EQ(w.ExposureSeconds, 30.0);
    EXPECT_EQ(w.PixelWidthUm, 4.63);
    EXPECT_EQ(w.PixelHeightUm, 5.0);
    EXPECT_FALSE(w.FocalMm.has_value());
    EXPECT_EQ(FileValuesQuestion(w, ','), "Use the values from the file? Exposition 30 s, pixel 4,63 x 5 \xC2\xB5m");
}

// A capture through INDI records the worm's phase in Vinsk's own keys; the
// question names it with the counts whole.
TEST(Fits, HeaderGivesTheWormPhase)
{
    TFitsPicture p = Grey4x3(16, std::vector<double>(12, 7));
    p.NumberKeys = {{"EXPTIME", 480}, {"VNSKMOT0", 1234567}, {"VNSKMERR", 52.5}, {"VNSKSPW", 50133}, {"VNSKS360", 9024000}};
    p.TextKeys = {{"VNSKHEMI", "south"}, {"VNSKMNT", "indi_eqmod_telescope EQ6"}, {"DATE-OBS", "2026-12-07T21:00:00.5"}};
    const std::string path = DeepPath("phase.fits");
    tools::WriteFits(path, p);
    const TFileSetupValues v = Load(path).Extras.Setup;
    EXPECT_EQ(v.MotorStart, 1234567);
    EXPECT_EQ(v.MotorStartSigma, 52.5);
    EXPECT_EQ(v.StepsPerWorm, 50133);
    EXPECT_EQ(v.Hemisphere, -1);
    EXPECT_EQ(v.ExposureStart, "2026-12-07T21:00:00.5"); // for the drive report
    EXPECT_EQ(FileValuesQuestion(v, ','),
              "Use the values from the file? Exposition 480 s, RA motor 1234567 of 50133 steps per worm, hemisphere south");

    // Values no mount gives are left for the user to type.
    p.NumberKeys = {{"VNSKMOT0", 12.5}, {"VNSKSPW", 0}};
    p.TextKeys = {{"VNSKHEMI", "up"}, {"DATE-OBS", "\"}, \"x"}};
    tools::WriteFits(path, p);
    const TFileSetupValues w = Load(path).Extras.Setup;
    EXPECT_FALSE(w.MotorStart || w.StepsPerWorm || w.Hemisphere || w.Any());
    EXPECT_EQ(w.ExposureStart, "");
}

// Writers that stop at the last byte of data leave the final 2880-byte
// block short; cfitsio must not read past the file's end for it.
TEST(Fits, UnpaddedLastBlockLoads)
{
    const std::string path = DeepPath("unpadded.fits");
    tools::WriteFits(path, Grey4x3(16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    std::filesystem::resize_file(path, 2880 + 24);
    const TLoaded r = Load(path);
    EXPECT_EQ(r.Extras.Linear.Sample(3, 0, 0), 11.0f);
    EXPECT_EQ(r.Bitmap.PixelS(3, 0), Grey(255));
    // One byte less is a truncated data unit.
    std::filesystem::resize_file(path, 2880 + 23);
    EXPECT_NE(LoadError(path).find("the file is truncated"), std::string::npos);
}

// Values cfitsio divides by while it opens a compressed image: refused
// before it sees them.
TEST(Fits, CompressedHeaderWithZeroTileIsRefused)
{
    TFitsPicture p = Grey4x3(16, std::vector<double>(12, 5));
    p.TileCompressed = true;
    const std::string path = DeepPath("zero_tile.fz");
    tools::WriteFits(path, p);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.find("ZTILE2  =");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes[at + 29], '1');
    f.seekp(static_cast<std::streamoff>(at + 29));
    f.put('0');
    f.close();
    EXPECT_NE(LoadError(path).find("the header's ZTILE2 must be a whole number from 1 up"), std::string::npos);
}

// The header check reads numbers the FITS way, whatever the locale's
// decimal separator: a long exposure value is a number, not malformed.
TEST(Fits, LongNumbersPassUnderACommaLocale)
{
    TFileBytes bytes = FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"), FitsCard("NAXIS1", "2"),
                                   FitsCard("NAXIS2", "1"), "EXPTIME =   6.00000000000000000000000000E+01"});
    bytes.resize(bytes.size() + 2880, 0);
    const std::string path = DeepPath("long_number.fits");
    WriteFile(path, bytes);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    std::string error;
    TLoaded r;
    try {
        LoadPicture(path, r.Bitmap, r.Extras);
    } catch (const EPictureError& e) {
        error = e.what();
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.Extras.Setup.ExposureSeconds, 60.0);
}

struct THostileCase {
    std::string Name;
    TFileBytes Bytes;
    std::string Problem; // a part of the message after "Cannot load <path>: "
};

void PrintTo(const THostileCase& c, std::ostream* os) { *os << c.Name; }

class FitsHostile : public ::testing::TestWithParam<THostileCase> {};

TEST_P(FitsHostile, RefusedWithAClearMessage)
{
    const THostileCase& c = GetParam();
    const std::string path = DeepPath("hostile_" + c.Name + ".fits");
    WriteFile(path, c.Bytes);
    const std::string message = LoadError(path);
    EXPECT_EQ(message.rfind("Cannot load " + path + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.Problem), std::string::npos) << message;
}

TFileBytes WithData(TFileBytes header, std::size_t dataBytes)
{
    header.resize(header.size() + dataBytes, 0);
    return header;
}

// A 2 x 2 16-bit picture with the given cards after the structural ones.
TFileBytes Plain2x2(const std::vector<std::string>& extra)
{
    std::vector<std::string> cards = {FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                      FitsCard("NAXIS1", "2"), FitsCard("NAXIS2", "2")};
    cards.insert(cards.end(), extra.begin(), extra.end());
    return WithData(FitsHeader(cards), 8);
}

INSTANTIATE_TEST_SUITE_P(
    Fits, FitsHostile,
    ::testing::Values(
        // 40 GB of pixels declared over 2880 bytes of data: the limit speaks
        // before anything is allocated.
        THostileCase{"huge_naxis",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                          FitsCard("NAXIS1", "100000"), FitsCard("NAXIS2", "100000")}),
                              2880),
                     "above the limit of 30000 x 30000 pixels"},
        THostileCase{"memory_limit",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                          FitsCard("NAXIS1", "29000"), FitsCard("NAXIS2", "29000")}),
                              2880),
                     "needs more than 2 GiB of memory"},
        THostileCase{"bitpix_minus_16",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "-16"), FitsCard("NAXIS", "2"),
                                          FitsCard("NAXIS1", "4"), FitsCard("NAXIS2", "4")}),
                              2880),
                     "Illegal value for BITPIX keyword: -16"},
        THostileCase{"truncated_data",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                          FitsCard("NAXIS1", "100"), FitsCard("NAXIS2", "100")}),
                              2880),
                     "the file is truncated"},
        THostileCase{"no_end",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                          FitsCard("NAXIS1", "4"), FitsCard("NAXIS2", "4")},
                                         false),
                              2880),
                     "END keyword"},
        THostileCase{"four_axes",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "8"), FitsCard("NAXIS", "4"),
                                          FitsCard("NAXIS1", "2"), FitsCard("NAXIS2", "2"), FitsCard("NAXIS3", "2"),
                                          FitsCard("NAXIS4", "2")}),
                              2880),
                     "only FITS pictures of 2 dimensions"},
        // cfitsio itself would abort on this value (its message buffer overflows).
        THostileCase{"malformed_integer",
                     WithData(FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                          "NAXIS1  =                   (4 / pixels per row (1, 2, 4, or 8)",
                                          FitsCard("NAXIS2", "4")}),
                              2880),
                     "the header's NAXIS1 holds a malformed value"},
        THostileCase{"no_image",
                     FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "8"), FitsCard("NAXIS", "0")}),
                     "holds no picture"},
        THostileCase{"not_fits", TFileBytes{'h', 'e', 'l', 'l', 'o'}, "FITS error"},
        // Scaling that leaves no picture.
        THostileCase{"bscale_zero", Plain2x2({FitsCard("BSCALE", "0")}), "the header's BSCALE must be a number other than 0"},
        THostileCase{"bscale_empty", Plain2x2({"BSCALE  =                      / no value"}),
                     "the header's BSCALE must be a number other than 0"},
        THostileCase{"bzero_beyond_float", Plain2x2({FitsCard("BZERO", "-1E39")}),
                     "the header's BZERO must be a number below 1e38"},
        THostileCase{"all_not_a_number",
                     [] {
                         TFileBytes b = FitsHeader({FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "-32"),
                                                    FitsCard("NAXIS", "2"), FitsCard("NAXIS1", "2"), FitsCard("NAXIS2", "2")});
                         for (int i = 0; i < 4; ++i)
                             b.insert(b.end(), {0x7F, 0xC0, 0x00, 0x00});
                         return b;
                     }(),
                     "the FITS picture holds no finite values"},
        // Tile streams that cfitsio would follow past the tile: a GZIP
        // stream that never ends (cfitsio grows its buffer until memory runs
        // out), HCOMPRESS without its magic number (cfitsio's message was
        // "unknown error status") or larger than its tile (written out
        // whole), a PLIO list longer than its tile (read past its end).
        THostileCase{"gzip_never_ends",
                     MakeCompressedFits16(8, 4, 8, 4, "GZIP_1",
                                          {[] {
                                              TFileBytes gzip = GzipRepeated(TFileBytes(64, 7), 1);
                                              gzip.resize(gzip.size() - 4); // no stored length at its end
                                              return gzip;
                                          }()}),
                     "the compressed tile 1 is damaged"},
        THostileCase{"hcompress_no_magic", MakeCompressedFits16(8, 4, 8, 4, "HCOMPRESS_1", {TFileBytes(40, 0)}),
                     "the compressed tile 1 is damaged"},
        THostileCase{"hcompress_larger_than_tile",
                     MakeCompressedFits16(8, 4, 8, 4, "HCOMPRESS_1",
                                          {[] {
                                              TWriter w;
                                              w.Bytes({0xDD, 0x99}).U32BE(4000).U32BE(4000).U32BE(0).Zeros(40);
                                              return w.Take();
                                          }()}),
                     "the compressed tile 1 is damaged"},
        THostileCase{"plio_list_past_tile",
                     MakeCompressedFits16(8, 4, 8, 4, "PLIO_1",
                                          {[] {
                                              TWriter w;
                                              w.U16BE(0).U16BE(7).U16BE(30000).Zeros(8);
                                              return w.Take();
                                          }()}),
                     "the compressed tile 1 is damaged"},
        // cfitsio reads a missing tile's descriptor past the table (found by
        // fuzzing with cfitsio instrumented).
        THostileCase{"fewer_rows_than_tiles",
                     MakeCompressedFits16(8, 4, 8, 1, "GZIP_1",
                                          {GzipRepeated(TFileBytes(16, 0), 1), GzipRepeated(TFileBytes(16, 0), 1)}),
                     "the compressed image holds 2 of its 4 tiles"},
        // cfitsio stops reading the parameters at the missing ZVAL1 and its
        // reads then take column 0 for the tiles' column (found by fuzzing
        // with cfitsio instrumented).
        THostileCase{"rice_without_zval1",
                     MakeCompressedFits16(8, 4, 8, 4, "RICE_1", {TFileBytes(8, 0)}),
                     "the compressed image's header is incomplete"},
        // A stream that ends short of its tile, found among good ones by its number.
        THostileCase{"third_tile_short",
                     MakeCompressedFits16(8, 4, 8, 1, "GZIP_1",
                                          {GzipRepeated(TFileBytes(16, 0), 1), GzipRepeated(TFileBytes(16, 0), 1),
                                           GzipRepeated(TFileBytes(10, 0), 1), GzipRepeated(TFileBytes(16, 0), 1)}),
                     "the compressed tile 3 is damaged"}),
    [](const auto& info) { return info.param.Name; });

// GZIP tiles of several rows: each read whole, its rows in the picture's
// order (the last stored row on top).
TEST(Fits, GzipTilesOfSeveralRowsReadInOrder)
{
    // 6 x 4 in tiles of 4 x 3: stored value 10 * row + column.
    auto tile = [](int x0, int y0, int w, int h) {
        TWriter raw;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                raw.U16BE(static_cast<std::uint32_t>(10 * y + x));
        return GzipRepeated(raw.Take(), 1);
    };
    const std::string path = DeepPath("gzip_tiles.fits.fz");
    WriteFile(path, MakeCompressedFits16(6, 4, 4, 3, "GZIP_1", {tile(0, 0, 4, 3), tile(4, 0, 2, 3), tile(0, 3, 4, 1), tile(4, 3, 2, 1)}));
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Bitmap.Width(), 6);
    ASSERT_EQ(r.Bitmap.Height(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(r.Extras.Linear.Sample(x, 3 - y, 0), static_cast<float>(10 * y + x)) << x << "," << y;
}

// HCOMPRESS tiles read whole; a stream cut short is refused by its tile's
// number, since cfitsio's decoder reads on past the tile's bytes (a stream
// missing only its last sign bits even decoded without an error).
TEST(Fits, HcompressTilesCutShortAreRefusedByNumber)
{
    // 16 x 12 in tiles of 8 x 6: stored value 10 * row + column - 50.
    auto tile = [](int x0, int y0) {
        std::vector<int> values;
        for (int y = y0; y < y0 + 6; ++y)
            for (int x = x0; x < x0 + 8; ++x)
                values.push_back(10 * y + x - 50);
        std::vector<char> stream(4096);
        long bytes = static_cast<long>(stream.size());
        int status = 0;
        fits_hcompress(values.data(), 8, 6, 0, stream.data(), &bytes, &status);
        EXPECT_EQ(status, 0);
        return TFileBytes(stream.begin(), stream.begin() + bytes);
    };
    const std::vector<TFileBytes> tiles = {tile(0, 0), tile(8, 0), tile(0, 6), tile(8, 6)};
    const std::vector<std::string> lossless = {FitsCard("ZNAME1", "'SCALE'"), FitsCard("ZVAL1", "0"),
                                               FitsCard("ZNAME2", "'SMOOTH'"), FitsCard("ZVAL2", "0")};
    const std::string path = DeepPath("hcompress.fits.fz");
    WriteFile(path, MakeCompressedFits16(16, 12, 8, 6, "HCOMPRESS_1", tiles, lossless));
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Bitmap.Width(), 16);
    ASSERT_EQ(r.Bitmap.Height(), 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(r.Extras.Linear.Sample(x, 11 - y, 0), static_cast<float>(10 * y + x - 50)) << x << "," << y;
    // Cut in the sign bits, in the bit planes, and after the header.
    for (const std::size_t keep : {tiles[2].size() - 1, tiles[2].size() / 2, std::size_t{25}}) {
        std::vector<TFileBytes> cut = tiles;
        cut[2].resize(keep);
        const std::string damaged = DeepPath("hcompress_cut.fits.fz");
        WriteFile(damaged, MakeCompressedFits16(16, 12, 8, 6, "HCOMPRESS_1", cut, lossless));
        EXPECT_EQ(LoadError(damaged), "Cannot load " + damaged + ": the compressed tile 3 is damaged") << keep;
    }
}

// A new picture read in place of the open one: both count against the
// budget, and the open one is let go first only when they do not fit
// together and it may go; a failure after that says so.
TEST(Picture, TheOpenPictureIsLetGoOnlyWhenBothDoNotFit)
{
    const std::string header = "P6\n64 48\n255\n";
    TFileBytes ppm(header.begin(), header.end());
    ppm.resize(ppm.size() + 64 * 48 * 3, 0x80);
    const std::string good = DeepPath("replacing.ppm"), bad = DeepPath("replacing_cut.ppm");
    WriteFile(good, ppm);
    WriteFile(bad, TFileBytes(ppm.begin(), ppm.begin() + 1000));
    const std::uint64_t noFile = MemoryBudget - 1000;                // the file's bytes do not fit
    const std::uint64_t noRaster = MemoryBudget - ppm.size() - 100; // the file fits, its raster not
    const std::string together = "The open picture and the new one together";
    struct TCase {
        const char* Name;
        std::string Path;
        std::uint64_t Held;
        bool MayGo;
        int Asked;
        std::string Error;
    };
    const TCase cases[] = {
        {"fits beside", good, 1000, true, 0, ""},
        {"nothing held", good, 0, true, 0, ""},
        {"let go for the file", good, noFile, true, 1, ""},
        {"let go for the raster", good, noRaster, true, 1, ""},
        {"kept", good, noFile, false, 1,
         "Cannot load " + good + ": " + together + " need 2.2 GB; the limit is 2 GiB"},
        {"let go, then failed", bad, noRaster, true, 1,
         "Cannot load " + bad + ": the file is truncated (the open picture was closed to make room for it)"},
    };
    for (const TCase& c : cases) {
        TBitmap32 out;
        TPictureExtras extras;
        int asked = 0;
        std::string error;
        try {
            LoadPictureInPlaceOf(c.Path, out, extras, {c.Held, together}, [&] {
                ++asked;
                return c.MayGo;
            });
        } catch (const EPictureError& e) {
            error = e.what();
        }
        EXPECT_EQ(asked, c.Asked) << c.Name;
        EXPECT_EQ(error, c.Error) << c.Name;
        EXPECT_EQ(out.Width(), c.Error.empty() ? 64 : 0) << c.Name;
    }
}

TEST(CameraRaw, DngThroughLibRawIsLinearHalfSize)
{
    // LibRaw takes no sensor below 22 pixels a side.
    TRgb16Image img(16, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            At(img, x, y, 0) = static_cast<std::uint16_t>(1000 + 100 * x);
            At(img, x, y, 1) = static_cast<std::uint16_t>(2000 + 100 * y);
            At(img, x, y, 2) = static_cast<std::uint16_t>(3000);
        }
    const std::string path = DeepPath("sample.dng");
    tools::WriteDng(path, img, 480, 400, "2026:12:07 21:30:05");
    const TLoaded r = Load(path);
    // The sensor is 32 x 24; its 2x2 cells give the 16 x 12 picture.
    ASSERT_EQ(r.Bitmap.Width(), 16);
    ASSERT_EQ(r.Bitmap.Height(), 12);
    const TLinearPlane& plane = r.Extras.Linear;
    ASSERT_EQ(plane.Channels(), 3);
    EXPECT_EQ(plane.SourceBits(), 16);
    EXPECT_FALSE(plane.IsFloat());
    // Linear: equal steps in the file stay equal steps, whatever the
    // channel's white-balance factor.
    const float step1 = plane.Sample(1, 0, 0) - plane.Sample(0, 0, 0);
    const float step2 = plane.Sample(12, 0, 0) - plane.Sample(11, 0, 0);
    EXPECT_GT(step1, 0.0f);
    EXPECT_NEAR(step1, step2, 2.0f);
    EXPECT_NEAR(plane.Sample(0, 0, 0) / plane.Sample(2, 0, 0), 1000.0 / 1200.0, 0.002);
    // The raster maps the 16-bit samples as other 16-bit sources do.
    const auto level = static_cast<std::uint32_t>(std::lround(plane.Sample(3, 2, 2) * 255.0 / 65535.0));
    EXPECT_EQ(ColorB(r.Bitmap.PixelS(3, 2)), level);
    EXPECT_EQ(r.Extras.Setup.ExposureSeconds, 480.0);
    EXPECT_EQ(r.Extras.Setup.FocalMm, 400.0);
    // The camera's clock reading, as a run names its exposure's start.
    EXPECT_EQ(r.Extras.Setup.ExposureStart, "2026-12-07T21:30:05");
}

TEST(CameraRaw, UnreadableFileNamesTheFileAndTheReason)
{
    const std::string path = DeepPath("broken.nef");
    WriteFile(path, TFileBytes(4096, 0x5A));
    const std::string message = LoadError(path);
    EXPECT_EQ(message.rfind("Cannot load " + path + ": camera RAW error: ", 0), 0u) << message;
}

struct TDeepCase {
    std::string Name;                 // a decode case with 16-bit samples
    std::vector<float> Samples;       // its plane, row-major
};

void PrintTo(const TDeepCase& c, std::ostream* os) { *os << c.Name; }

class DeepSamples : public ::testing::TestWithParam<TDeepCase> {};

// Kept samples are the stored ones, and the raster is exactly what the
// reader gives without keeping them.
TEST_P(DeepSamples, PlaneBesideTheSameRaster)
{
    const TDeepCase& c = GetParam();
    const TDecodeCase* source = nullptr;
    for (const TDecodeCase& d : DecodeCases())
        if (d.Name == c.Name)
            source = &d;
    ASSERT_NE(source, nullptr);
    const std::string path = DeepPath(c.Name + "." + source->Extension);
    WriteFile(path, source->Bytes);
    const TLoaded r = Load(path);
    ASSERT_EQ(r.Bitmap.Width(), source->Width);
    for (int i = 0; i < source->Width * source->Height; ++i)
        EXPECT_EQ(r.Bitmap.Bits()[i], source->Pixels[static_cast<std::size_t>(i)]) << i;
    if (c.Samples.empty()) {
        EXPECT_TRUE(r.Extras.Linear.Empty());
        return;
    }
    ASSERT_FALSE(r.Extras.Linear.Empty());
    ASSERT_EQ(r.Extras.Linear.SampleCount(), c.Samples.size());
    for (std::size_t i = 0; i < c.Samples.size(); ++i)
        EXPECT_EQ(r.Extras.Linear.U16()[i], c.Samples[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Readers, DeepSamples,
                         ::testing::Values(TDeepCase{"png_grey16_rounded", {255, 65280, 65535}},
                                           TDeepCase{"tiff_grey16_rounded", {255, 65280, 65535}},
                                           TDeepCase{"pgm16_rounded", {255, 65280, 65535}},
                                           TDeepCase{"sgi16_grey_rounded", {255, 65280, 65535}},
                                           TDeepCase{"sgi16_rgba_rle", {65535, 0x8080, 0x00FF}},
                                           TDeepCase{"psd_grey16_packbits", {255, 65280}},
                                           TDeepCase{"png_rgb", {}}, TDeepCase{"ppm_binary", {}},
                                           TDeepCase{"psd_rgb_raw", {}}),
                         [](const auto& info) { return info.param.Name; });

// Every 16-bit value in every channel: the raster beside the kept samples
// rounds as libpng's own reduction to 8 bits does.
TEST(DeepSamples, SixteenBitPngColour)
{
    TRgb16Image img(256, 256);
    for (std::size_t i = 0; i < 65536; ++i) {
        img.Pixels[3 * i] = static_cast<std::uint16_t>(i);
        img.Pixels[3 * i + 1] = static_cast<std::uint16_t>(65535 - i);
        img.Pixels[3 * i + 2] = static_cast<std::uint16_t>(i * 40503u);
    }
    const std::string path = DeepPath("rgb16.png");
    tools::WritePng16(path, img);
    const TLoaded r = Load(path);
    TBitmap32 plain;
    LoadPicture(path, plain);
    ASSERT_EQ(r.Extras.Linear.Channels(), 3);
    int samples = 0, pixels = 0;
    for (std::size_t i = 0; i < img.Pixels.size(); ++i)
        samples += r.Extras.Linear.U16()[i] != img.Pixels[i];
    for (int i = 0; i < 65536; ++i)
        pixels += r.Bitmap.Bits()[i] != plain.Bits()[i];
    EXPECT_EQ(samples, 0);
    EXPECT_EQ(pixels, 0);
}

} // namespace
} // namespace vinsk::test
