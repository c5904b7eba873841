#include "tests/support/RenderedTrail.h"

#include <cmath>
#include <cstdint>

namespace vinsk {

void SetPath(tools::TPhysicalOptions& o, const TTrailPath& path)
{
    o.Width = path.Width;
    o.Height = path.Height;
    o.StartX = path.StartX;
    o.StartY = path.StartY;
    o.StopX = path.StopX;
    o.StopY = path.StopY;
    o.Sag = path.Sag;
}

tools::TPhysicalOptions TableTrail(const TTrailPath& path, double period, double cycles, int bits,
                                   std::uint64_t seed)
{
    tools::TPhysicalOptions o;
    o.FocalMm = 300;
    o.Terms = {{5, period, 0}, {1.5, period / 2, 0.7}};
    SetPath(o, path);
    o.ExposureS = cycles * period;
    o.Seed = seed;
    o.Bits = bits;
    if (bits == 16) {
        o.Crest = 40000;
        o.Background = 900;
        o.Noise = 60;
    }
    return o;
}

TBitmap32 Raster(const tools::TRgbImage& rgb)
{
    TBitmap32 bmp;
    bmp.SetSize(rgb.Width, rgb.Height);
    for (std::int32_t y = 0; y < rgb.Height; ++y)
        for (std::int32_t x = 0; x < rgb.Width; ++x) {
            const std::uint8_t* p = rgb.Row(y) + 3 * x;
            bmp.SetPixelS(x, y, Color32(255, p[0], p[1], p[2]));
        }
    return bmp;
}

TBitmap32 Raster(const tools::TPhysicalTrail& t)
{
    return Raster(tools::PhysicalToRgb8(t));
}

TExperiment SetupOf(const tools::TPhysicalOptions& o, const tools::TPhysicalTruth& truth)
{
    TExperiment e;
    e.StarDistance = o.DistanceM;
    e.PixelWidth = o.PixelWidthUm * 1e-6;
    e.PixelHeight = o.PixelHeightUm * 1e-6;
    e.FocalLength = o.FocalMm * 1e-3;
    e.ExposureTime = truth.ExposureS;
    e.MountSpeed = o.MountSpeed;
    return e;
}

TDriveInput InputFor(const tools::TPhysicalOptions& o, const tools::TPhysicalTruth& truth)
{
    TDriveInput in;
    in.Setup = SetupOf(o, truth);
    in.Start = {std::round(truth.StartX), std::round(truth.StartY)};
    in.Stop = {std::round(truth.EndX), std::round(truth.EndY)};
    const double dx = o.StopX - o.StartX, dy = o.StopY - o.StartY, chord = std::hypot(dx, dy);
    in.InLine = {std::round(o.StartX + dx / 2 + o.Sag * dy / chord), std::round(o.StartY + dy / 2 - o.Sag * dx / chord)};
    return in;
}

TRendered Render(const tools::TPhysicalOptions& o)
{
    const tools::TPhysicalTrail t = tools::RenderPhysicalTrail(o);
    return {Raster(t), InputFor(o, t.Truth)};
}

} // namespace vinsk
