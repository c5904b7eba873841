#include "tests/drive/RenderedTrail.h"

#include <cmath>
#include <cstdint>

namespace vinsk {

TRendered Render(const tools::TPhysicalOptions& o)
{
    const tools::TPhysicalTrail t = tools::RenderPhysicalTrail(o);
    const tools::TRgbImage rgb = tools::PhysicalToRgb8(t);
    TRendered r;
    r.Bitmap.SetSize(rgb.Width, rgb.Height);
    for (std::int32_t y = 0; y < rgb.Height; ++y)
        for (std::int32_t x = 0; x < rgb.Width; ++x) {
            const std::uint8_t* p = rgb.Row(y) + 3 * x;
            r.Bitmap.SetPixelS(x, y, Color32(255, p[0], p[1], p[2]));
        }
    TDriveInput& in = r.Input;
    in.Setup.StarDistance = o.DistanceM;
    in.Setup.PixelWidth = o.PixelWidthUm * 1e-6;
    in.Setup.PixelHeight = o.PixelHeightUm * 1e-6;
    in.Setup.FocalLength = o.FocalMm * 1e-3;
    in.Setup.ExposureTime = t.Truth.ExposureS;
    in.Setup.MountSpeed = o.MountSpeed;
    in.Start = {std::round(t.Truth.StartX), std::round(t.Truth.StartY)};
    in.Stop = {std::round(t.Truth.EndX), std::round(t.Truth.EndY)};
    const double dx = o.StopX - o.StartX, dy = o.StopY - o.StartY, chord = std::hypot(dx, dy);
    in.InLine = {std::round(o.StartX + dx / 2 + o.Sag * dy / chord), std::round(o.StartY + dy / 2 - o.Sag * dx / chord)};
    return r;
}

} // namespace vinsk
