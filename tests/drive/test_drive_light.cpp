// The drive analysis on light: rendered trails under a vignetting lens with
// their dark and flat frames, and trails stored through the tone curves of
// cameras and photo software, read against the truth they were rendered from.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>



#include "drive/DriveAnalysis.h"
#include "image/FrameCalibration.h"
#include "image/formats/Picture.h"
#include "linear/PlaneCalibration.h"
#include "tests/support/EncodedPictures.h"
#include "tests/support/RenderedTrail.h"
#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/writers/RgbImage.h"

using namespace vinsk;
using namespace vinsk::tools;
using namespace vinsk::test;

namespace {

// What a reading comes to, as fractions of the true P-P and RMS: the series'
// error (recovered less true, its best line removed), and the P-P and RMS
// read against true.
struct TReading {
    double Series = 0, PP = 0, Rms = 0;
    double TruePP = 0, TrueRms = 0, ReadPP = 0, ReadRms = 0;
};

TReading Read(const TDriveResult& r, const TPhysicalTruth& truth)
{
    const std::size_t n = r.T.size();
    std::vector<double> tr(n), d(n);
    for (std::size_t i = 0; i < n; ++i) {
        tr[i] = TruthError(truth, r.T[i]);
        d[i] = r.Error[i] - tr[i];
    }
    long double st = 0, sd = 0, stt = 0, std_ = 0;
    for (std::size_t i = 0; i < n; ++i)
        st += r.T[i], sd += d[i], stt += r.T[i] * r.T[i], std_ += r.T[i] * d[i];
    const long double b = (n * std_ - st * sd) / (n * stt - st * st), a = (sd - b * st) / n;
    long double ss = 0, mean = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long double e = d[i] - (a + b * r.T[i]);
        ss += e * e;
        mean += tr[i];
    }
    mean /= n;
    long double tss = 0;
    for (double v : tr)
        tss += (v - mean) * (v - mean);
    TReading m;
    m.TruePP = *std::max_element(tr.begin(), tr.end()) - *std::min_element(tr.begin(), tr.end());
    m.TrueRms = static_cast<double>(std::sqrt(tss / n));
    m.ReadPP = r.Stats.PeakToPeak;
    m.ReadRms = r.Stats.Rms;
    m.Series = static_cast<double>(std::sqrt(ss / n)) / m.TruePP;
    m.PP = std::abs(m.ReadPP - m.TruePP) / m.TruePP;
    m.Rms = std::abs(m.ReadRms - m.TrueRms) / m.TrueRms;
    return m;
}

void Print(const std::string& name, const TReading& m)
{
    std::printf("[%s] P-P %.3f/%.3f (%.2f %%), RMS %.3f/%.3f (%.2f %%), series error %.2f %% of P-P\n", name.c_str(),
                m.ReadPP, m.TruePP, 100 * m.PP, m.ReadRms, m.TrueRms, 100 * m.Rms, 100 * m.Series);
}

// 2.2 cycles of the main mount's terms on a worm of 239.5 s, in 16 bits.
TPhysicalOptions Trail16()
{
    TPhysicalOptions o;
    o.Terms = {{5, 239.5, 0}, {1.5, 119.75, 0.7}};
    o.Drift = 0.01;
    SetPath(o, {3000, 160, 80, 70, 2920, 100, 30});
    o.ExposureS = 2.2 * 239.5;
    o.Bits = 16;
    o.Crest = 40000;
    o.Noise = 60;
    o.Background = 2000;
    o.Seed = 21;
    return o;
}

// The same light with the 8-bit trail's noise and background, its crest at
// 94 % of full scale: what a camera's tone curve bends most.
TPhysicalOptions ToneTrail16()
{
    TPhysicalOptions o = Trail16();
    ToneLevels(o);
    o.Seed = 32;
    return o;
}

} // namespace

// Trails stored as cameras and photo software store them, read through the
// curve each file declares (or a JPEG's default): the 8-bit encodings at the
// 8-bit bars, the 16-bit TIFFs at the 16-bit ones. A linear PNG without tags
// reads exactly as its stored values do.
TEST(DriveEncodings, EachEncodingReadsAsTheLightItStores)
{
    enum class TFile { Jpeg, Png, PngSrgbIcc, PngGama, PngAdobeIcc, Tiff16Linear, Tiff16Srgb };
    struct TRow {
        const char* Name;
        TFile File;
        double (*Stored)(double);
        const char* Source;
        double Bar; // of P-P and RMS; the series' error within Series of the true P-P
        double Series;
    } rows[] = {
        {"sRGB JPEG without tags", TFile::Jpeg, SrgbStored, "jpeg-default", 0.12, 0.05},
        {"PNG with an sRGB ICC profile", TFile::PngSrgbIcc, SrgbStored, "icc", 0.12, 0.05},
        {"PNG with gAMA 0.45455", TFile::PngGama, Gamma22Stored, "png-gama", 0.12, 0.05},
        {"PNG with an Adobe RGB (1998) profile", TFile::PngAdobeIcc, AdobeStored, "icc", 0.12, 0.05},
        {"16-bit TIFF, linear profile", TFile::Tiff16Linear, LinearStored, "icc", 0.025, 0.025},
        {"16-bit TIFF, sRGB profile", TFile::Tiff16Srgb, SrgbStored, "icc", 0.025, 0.025},
        {"linear PNG without tags", TFile::Png, LinearStored, "format-default", 0, 0},
    };
    const TPhysicalOptions tone = ToneTrail16(), deep = Trail16();
    const TPhysicalTrail toneTrail = RenderPhysicalTrail(tone), deepTrail = RenderPhysicalTrail(deep);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const bool is16 = row.File == TFile::Tiff16Linear || row.File == TFile::Tiff16Srgb;
        const TPhysicalTrail& trail = is16 ? deepTrail : toneTrail;
        const TPhysicalOptions& o = is16 ? deep : tone;
        const std::string path = TempPicture(row.File == TFile::Jpeg ? "t.jpg" : is16 ? "t.tif" : "t.png");
        const TRgbImage stored = is16 ? TRgbImage() : Stored8(trail, row.Stored);
        switch (row.File) {
        case TFile::Jpeg:
            WriteJpeg(path, stored, 92);
            break;
        case TFile::Tiff16Linear:
            WriteTiff16(path, trail, row.Stored, LinearIccProfile(3));
            break;
        case TFile::Tiff16Srgb:
            WriteTiff16(path, trail, row.Stored, SrgbProfile());
            break;
        default:
            WritePng(path, stored);
            if (row.File == TFile::PngSrgbIcc)
                InsertPngChunk(path, "iCCP", IccpData(SrgbProfile()));
            else if (row.File == TFile::PngAdobeIcc)
                InsertPngChunk(path, "iCCP", IccpData(GammaProfile(AdobeRgb, 563.0 / 256)));
            else if (row.File == TFile::PngGama)
                InsertPngChunk(path, "gAMA", {0, 0, 0xB1, 0x8F}); // 45455
        }
        TBitmap32 bitmap;
        TPictureExtras extras;
        LoadPicture(path, bitmap, extras);
        std::filesystem::remove(path);
        EXPECT_EQ(extras.Transfer.Source, row.Source);
        const TDriveInput in = InputFor(o, trail.Truth);
        const TDriveResult r = AnalysePicture(bitmap, extras.Linear, in);
        ASSERT_FALSE(r.Refused()) << r.Message;
        if (row.File == TFile::Png) {
            // No light plane: the stored values as the raster holds them.
            EXPECT_TRUE(extras.Linear.Empty());
            const TDriveResult raw = AnalysePicture(Raster(stored), TLinearPlane(), in);
            EXPECT_EQ(r.Stats.PeakToPeak, raw.Stats.PeakToPeak);
            EXPECT_EQ(r.Stats.Rms, raw.Stats.Rms);
            EXPECT_EQ(r.Error, raw.Error);
            continue;
        }
        ASSERT_FALSE(extras.Linear.Empty());
        const TReading m = Read(r, trail.Truth);
        Print(row.Name, m);
        EXPECT_LE(m.PP, row.Bar);
        EXPECT_LE(m.Rms, row.Bar);
        EXPECT_LE(m.Series, row.Series);
    }
}

// A lens wide open darkens the corners by 30 %; the camera adds an offset
// to the picture, the dark and the flat alike (300 in 16 bits, 6 in 8).
// Divided by the flat as it is, the offset leaves part of the vignetting,
// which the integral turns into error; less the dark's offset, the trail
// meets the bars of its depth (in 8 bits those of a flat whose own
// quantisation integrates into a random walk). The files go through the
// loader as the window and vinsk-cli load them.
TEST(DriveFrames, TheFlatLessItsOffsetRemovesTheVignetting)
{
    const struct {
        const char* Name;
        int Bits;
        double Offset, FlatLevel;
        double PP, Rms, Series;
    } rows[] = {
        {"16-bit", 16, 300, 30000, 0.025, 0.025, 0.025},
        {"8-bit", 8, 6, 120, 0.15, 0.12, 0.12},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const TPhysicalOptions o = row.Bits == 16 ? Trail16() : ToneTrail16();
        const TPhysicalTrail trail = RenderPhysicalTrail(o);
        const double cx = 0.5 * trail.Width, cy = 0.5 * trail.Height, top = row.Bits == 16 ? 65535 : 255;
        auto vignetting = [&](std::size_t i) {
            const auto pixel = static_cast<std::int32_t>(i / 3);
            const double x = pixel % trail.Width, y = pixel / trail.Width;
            return 1 - 0.3 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
        };
        // A frame of the given light at each sample, as a PNG of the row's depth.
        auto write = [&](const std::string& name, auto light) {
            const std::string path = TempPicture(name + ".png");
            if (row.Bits == 16) {
                TRgb16Image img(trail.Width, trail.Height);
                for (std::size_t i = 0; i < img.Pixels.size(); ++i)
                    img.Pixels[i] = static_cast<std::uint16_t>(std::clamp(std::lround(row.Offset + light(i)), 0L, 65535L));
                WritePng16(path, img);
            } else {
                TRgbImage img(trail.Width, trail.Height, 3);
                for (std::size_t i = 0; i < img.Pixels.size(); ++i)
                    img.Pixels[i] = static_cast<std::uint8_t>(std::clamp(std::lround(row.Offset + light(i)), 0L, 255L));
                WritePng(path, img);
            }
            return path;
        };
        const std::string picturePath =
            write("light", [&](std::size_t i) { return vignetting(i) * trail.Levels[i] * top / 65535; });
        const std::string darkPath = write("dark", [](std::size_t) { return 0.0; });
        const std::string flatPath = write("flat", [&](std::size_t i) { return row.FlatLevel * vignetting(i); });

        TImageState s;
        TPictureExtras extras;
        LoadPicture(picturePath, s.Bitmap, extras);
        s.Linear.Swap(extras.Linear);
        auto load = [&](const std::string& path) {
            std::pair<TBitmap32, TPictureExtras> f;
            f.second.AsFrame = true;
            LoadPicture(path, f.first, f.second, HeldForFrame(s, "dark"));
            return f;
        };
        const auto dark = load(darkPath), flat = load(flatPath);
        for (const std::string& path : {picturePath, darkPath, flatPath})
            std::filesystem::remove(path);

        // The flat divided as it is, offset and all.
        TLinearPlane plain = s.Linear;
        if (plain.Empty())
            RasterToPlane(s.Bitmap, plain);
        SubtractDarkPlane(plain, dark.second.Linear);
        DivideFlatPlane(plain, flat.second.Linear);

        const TDriveInput in = InputFor(o, trail.Truth);
        const TDriveResult withOffset = AnalysePicture(s.Bitmap, plain, in);

        TStatusPanels status;
        ApplyDarkFrame(s, dark.first, dark.second.Linear, status);
        // Without the flat the vignetting stays, and the user is told why.
        const TDriveResult noFlat = AnalysePicture(s.Bitmap, s.Linear, in);
        ASSERT_FALSE(noFlat.Refused()) << noFlat.Message;
        EXPECT_TRUE(std::any_of(noFlat.Notes.begin(), noFlat.Notes.end(), [](const std::string& n) {
                        return n.find("vignetting? Apply a flat frame") != std::string::npos;
                    }));
        ApplyFlatFrame(s, flat.first, flat.second.Linear, status);
        ASSERT_TRUE(FlatOffsetFromDark(s)) << status.Linear;
        const TDriveResult lessOffset = AnalysePicture(s.Bitmap, s.Linear, in);
        ASSERT_FALSE(withOffset.Refused() || lessOffset.Refused()) << withOffset.Message << lessOffset.Message;

        const TReading before = Read(withOffset, trail.Truth), after = Read(lessOffset, trail.Truth);
        Print(std::string(row.Name) + " vignetted, flat with its offset", before);
        Print(std::string(row.Name) + " vignetted, flat less the dark's offset", after);
        EXPECT_LT(after.Series, before.Series);
        EXPECT_LT(after.PP, before.PP);
        EXPECT_LE(after.Series, row.Series);
        EXPECT_LE(after.PP, row.PP);
        EXPECT_LE(after.Rms, row.Rms);
    }
}
