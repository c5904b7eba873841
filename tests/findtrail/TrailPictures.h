// Pictures of star trails for the finder: the physically rendered trails of
// the sample generator (a point source moving at the mount's true rate, so
// the truth is where its image stood at the first and the last instant),
// with what a camera adds: hot pixels, vignetting, a dark and a flat.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "image/Bitmap32.h"
#include "image/Calibration.h"
#include "tools/sample-gen/PhysicalTrail.h"

namespace vinsk::test {

struct TXY {
    double X = 0, Y = 0;
};

// What the camera adds to the rendered trails.
struct TCameraSpec {
    double Vignetting = 0;    // light at the corners falls to 1 - Vignetting
    int HotPixels = 0;
    bool DarkAndFlat = false; // glow and hot pixels in a dark, vignetting in a flat, both applied
    std::uint64_t Seed = 1;
};

// The path of a rendered trail: the circle (or line) from Start towards Stop
// with the generator's sag, by arc length.
class TArcPath {
public:
    explicit TArcPath(const tools::TPhysicalOptions& o) : FB{o.StartX, o.StartY}, FE{o.StopX, o.StopY}
    {
        const double dx = FE.X - FB.X, dy = FE.Y - FB.Y;
        FChord = std::hypot(dx, dy);
        FTx = dx / FChord;
        FTy = dy / FChord;
        // Left of the direction of travel, with y down.
        FNx = FTy;
        FNy = -FTx;
        FSag = o.Sag;
        if (std::abs(FSag) > 1e-9) {
            const double h = FChord / 2;
            FR = (h * h + FSag * FSag) / (2 * std::abs(FSag));
            FHalfAngle = std::asin(std::min(1.0, h / FR));
            if (std::abs(FSag) > h)
                FHalfAngle = std::numbers::pi - FHalfAngle;
        }
    }

    double Length() const { return FR > 0 ? 2 * FR * FHalfAngle : FChord; }

    TXY At(double s) const
    {
        if (FR == 0)
            return {FB.X + FTx * s, FB.Y + FTy * s};
        // In the chord's frame: a along the chord from its middle, b to the side.
        const double a0 = -FR * std::sin(FHalfAngle);
        const double ang = -FHalfAngle + s / FR;
        const double a = FR * std::sin(ang) - a0 - FChord / 2;
        const double b = (FR * std::cos(ang) - FR * std::cos(FHalfAngle)) * (FSag > 0 ? 1 : -1);
        return {FB.X + FTx * (a + FChord / 2) + FNx * b, FB.Y + FTy * (a + FChord / 2) + FNy * b};
    }

    // Distance of p from the whole circle (or line).
    double Off(TXY p) const
    {
        if (FR == 0)
            return std::abs((p.X - FB.X) * FNx + (p.Y - FB.Y) * FNy);
        const TXY c = Centre();
        return std::abs(std::hypot(p.X - c.X, p.Y - c.Y) - FR);
    }

    TXY Centre() const
    {
        const double side = FSag > 0 ? 1 : -1;
        const double d = FR - std::abs(FSag);
        return {(FB.X + FE.X) / 2 - side * FNx * d, (FB.Y + FE.Y) / 2 - side * FNy * d};
    }

    // The direction of travel at the point of the path nearest p.
    TXY Tangent(TXY p) const
    {
        if (FR == 0)
            return {FTx, FTy};
        const TXY c = Centre();
        const double l = std::hypot(p.X - c.X, p.Y - c.Y);
        TXY t{-(p.Y - c.Y) / l, (p.X - c.X) / l};
        if (t.X * FTx + t.Y * FTy < 0)
            t = {-t.X, -t.Y};
        return t;
    }

private:
    TXY FB, FE;
    double FChord = 0, FTx = 1, FTy = 0, FNx = 0, FNy = 0, FSag = 0;
    double FR = 0, FHalfAngle = 0;
};

// The trails rendered into one picture: the first brings the background and
// the noise, the others only their light. Then the camera's additions; with
// a dark and a flat the picture is calibrated as the Image tab does it.
inline TBitmap32 Picture(std::vector<tools::TPhysicalOptions> trails, const TCameraSpec& cam = {})
{
    std::vector<tools::TPhysicalTrail> rendered;
    for (std::size_t i = 0; i < trails.size(); ++i) {
        if (i > 0) {
            trails[i].Width = trails[0].Width;
            trails[i].Height = trails[0].Height;
            trails[i].Background = 0;
            trails[i].Noise = 0;
        }
        rendered.push_back(tools::RenderPhysicalTrail(trails[i]));
    }
    const std::int32_t w = trails[0].Width, h = trails[0].Height;
    const double scale = rendered[0].Bits == 16 ? 255.0 / 65535.0 : 1.0;
    std::mt19937_64 rng(cam.Seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    const auto n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<float> hot(n, 0.0f);
    for (int i = 0; i < cam.HotPixels; ++i) {
        const auto x = static_cast<std::size_t>(uniform(rng) * w), y = static_cast<std::size_t>(uniform(rng) * h);
        hot[y * static_cast<std::size_t>(w) + x] = static_cast<float>(100 + 150 * uniform(rng));
    }
    auto level = [](double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
    TImageState img;
    TBitmap32 dark, flat;
    img.Bitmap.SetSize(w, h);
    if (cam.DarkAndFlat) {
        dark.SetSize(w, h);
        flat.SetSize(w, h);
    }
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, corner = cx * cx + cy * cy;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
            const double vig = 1 - cam.Vignetting * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / corner;
            const double glow = cam.DarkAndFlat ? 6 + 12 * std::exp(-x / (0.1 * w)) : 0;
            std::uint32_t c[3];
            for (std::size_t k = 0; k < 3; ++k) {
                double light = 0;
                for (const tools::TPhysicalTrail& t : rendered)
                    light += t.Levels[3 * i + k] * scale;
                c[k] = level(light * vig + glow + hot[i]);
            }
            img.Bitmap.SetPixelS(x, y, Color32(255, c[0], c[1], c[2]));
            if (cam.DarkAndFlat) {
                const std::uint32_t d = level(glow + hot[i] + 0.3 * normal(rng));
                const std::uint32_t f = level(180 * vig + 0.4 * normal(rng));
                dark.SetPixelS(x, y, Color32(255, d, d, d));
                flat.SetPixelS(x, y, Color32(255, f, f, f));
            }
        }
    if (cam.DarkAndFlat) {
        TStatusPanels status;
        ApplyDark(img, dark, status);
        ApplyFlat(img, flat, status);
    }
    return std::move(img.Bitmap);
}

} // namespace vinsk::test
