// The drive analysis on light: rendered trails under a vignetting lens with
// their dark and flat frames, and trails stored through the tone curves of
// cameras and photo software, read against the truth they were rendered from.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include <lcms2.h>
#include <tiffio.h>
#include <zlib.h>

#include "drive/DriveAnalysis.h"
#include "image/FrameCalibration.h"
#include "image/formats/Picture.h"
#include "linear/PlaneCalibration.h"
#include "tools/sample-gen/PhysicalTrail.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

TDriveInput InputFor(const TPhysicalOptions& o, const TPhysicalTruth& truth)
{
    TDriveInput in;
    in.Setup.StarDistance = o.DistanceM;
    in.Setup.PixelWidth = o.PixelWidthUm * 1e-6;
    in.Setup.PixelHeight = o.PixelHeightUm * 1e-6;
    in.Setup.FocalLength = o.FocalMm * 1e-3;
    in.Setup.ExposureTime = truth.ExposureS;
    in.Setup.MountSpeed = o.MountSpeed;
    in.Start = {std::round(truth.StartX), std::round(truth.StartY)};
    in.Stop = {std::round(truth.EndX), std::round(truth.EndY)};
    const double dx = o.StopX - o.StartX, dy = o.StopY - o.StartY, chord = std::hypot(dx, dy);
    in.InLine = {std::round(o.StartX + dx / 2 + o.Sag * dy / chord), std::round(o.StartY + dy / 2 - o.Sag * dx / chord)};
    return in;
}

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
    o.Width = 3000;
    o.Height = 160;
    o.StartX = 80;
    o.StartY = 70;
    o.StopX = 2920;
    o.StopY = 100;
    o.Sag = 30;
    o.ExposureS = 2.2 * 239.5;
    o.Bits = 16;
    o.Crest = 40000;
    o.Noise = 60;
    o.Background = 2000;
    o.Seed = 21;
    return o;
}

} // namespace

// A lens wide open darkens the corners by 30 %; the camera adds an offset
// of 300 to the picture, the dark and the flat alike. Divided by the flat
// as it is, the offset leaves part of the vignetting, which the integral
// turns into error; less the dark's offset, the trail meets the 16-bit bars.
TEST(DriveFrames, TheFlatLessItsOffsetRemovesTheVignetting)
{
    const TPhysicalOptions o = Trail16();
    const TPhysicalTrail trail = RenderPhysicalTrail(o);
    const double cx = 0.5 * trail.Width, cy = 0.5 * trail.Height, offset = 300;
    auto vignetting = [&](std::int32_t x, std::int32_t y) {
        return 1 - 0.3 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
    };
    // A frame's raster and 16-bit samples from its light at each pixel.
    auto frame = [&](auto light) {
        std::pair<TBitmap32, TLinearPlane> f;
        f.first.SetSize(trail.Width, trail.Height);
        f.second.Allocate16(trail.Width, trail.Height, 3, 16);
        for (std::int32_t y = 0; y < trail.Height; ++y)
            for (std::int32_t x = 0; x < trail.Width; ++x) {
                std::uint16_t v[3];
                for (int c = 0; c < 3; ++c) {
                    const std::size_t i = (static_cast<std::size_t>(y) * trail.Width + x) * 3 + c;
                    v[c] = static_cast<std::uint16_t>(std::clamp(std::lround(offset + light(x, y, i)), 0L, 65535L));
                    f.second.U16()[i] = v[c];
                }
                f.first.SetPixelS(x, y, Color32(255, v[0] / 257u, v[1] / 257u, v[2] / 257u));
            }
        return f;
    };
    auto picture = frame([&](std::int32_t x, std::int32_t y, std::size_t i) { return vignetting(x, y) * trail.Levels[i]; });
    const auto dark = frame([](std::int32_t, std::int32_t, std::size_t) { return 0.0; });
    const auto flat = frame([&](std::int32_t x, std::int32_t y, std::size_t) { return 30000 * vignetting(x, y); });
    const TDriveInput in = InputFor(o, trail.Truth);

    // The flat divided as it is, offset and all.
    TLinearPlane plain = picture.second;
    SubtractDarkPlane(plain, dark.second);
    DivideFlatPlane(plain, flat.second);
    const TDriveResult withOffset = AnalysePicture(picture.first, plain, in);

    TImageState s;
    s.Bitmap.Swap(picture.first);
    s.Linear.Swap(picture.second);
    TStatusPanels status;
    ApplyDarkFrame(s, dark.first, dark.second, status);
    ApplyFlatFrame(s, flat.first, flat.second, status);
    ASSERT_TRUE(FlatOffsetFromDark(s)) << status.Linear;
    const TDriveResult lessOffset = AnalysePicture(s.Bitmap, s.Linear, in);
    ASSERT_FALSE(withOffset.Refused || lessOffset.Refused) << withOffset.Message << lessOffset.Message;

    const TReading before = Read(withOffset, trail.Truth), after = Read(lessOffset, trail.Truth);
    Print("vignetted, flat with its offset", before);
    Print("vignetted, flat less the dark's offset", after);
    EXPECT_LT(after.Series, before.Series);
    EXPECT_LT(after.PP, before.PP);
    EXPECT_LE(after.Series, 0.025);
    EXPECT_LE(after.PP, 0.025);
    EXPECT_LE(after.Rms, 0.025);
}
