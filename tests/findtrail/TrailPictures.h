// Star trails rendered the way a camera records them: a point source moves
// along an arc, not quite steadily, and leaves light in proportion to the
// time it spends at each place. Where its image stood at the first and the
// last instant is known exactly.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "image/Bitmap32.h"
#include "image/Calibration.h"

namespace vinsk::test {

struct TXY {
    double X = 0, Y = 0;
};

struct TTrailSpec {
    TXY Begin, End;      // the star's image at the start and the end of the exposure
    double Sag = 0;      // the arc's middle off the chord [px], to the left of Begin -> End
    double Sigma = 1.5;  // the star's image, a Gaussian [px]
    double Crest = 150;  // levels at the trail's crest
    double Wobble = 1.0; // the periodic error as a shift along the trail [px]
    int Cycles = 3;      // of the periodic error during the exposure
};

struct TPictureSpec {
    std::int32_t Width = 640, Height = 420;
    std::vector<TTrailSpec> Trails;
    double Sky = 8;
    double Noise = 1.5;      // read noise [levels]
    double Gain = 20;        // photon noise: sqrt(level / Gain)
    double Vignetting = 0;   // light at the corners falls to 1 - Vignetting
    int HotPixels = 0;
    bool DarkAndFlat = false; // glow and hot pixels in a dark, vignetting in a flat, both applied
    std::uint64_t Seed = 1;
};

// The circle (or line) through Begin and End with the given sag, by arc length.
class TArcPath {
public:
    explicit TArcPath(const TTrailSpec& t) : FB(t.Begin), FE(t.End)
    {
        const double dx = FE.X - FB.X, dy = FE.Y - FB.Y;
        FChord = std::hypot(dx, dy);
        FTx = dx / FChord;
        FTy = dy / FChord;
        // Left of the direction of travel, with y down.
        FNx = FTy;
        FNy = -FTx;
        FSag = t.Sag;
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
        const double side = FSag > 0 ? 1 : -1;
        const double d = FR - std::abs(FSag);
        const TXY c{(FB.X + FE.X) / 2 - side * FNx * d, (FB.Y + FE.Y) / 2 - side * FNy * d};
        return std::abs(std::hypot(p.X - c.X, p.Y - c.Y) - FR);
    }

    // The direction of travel at arc length s.
    TXY Tangent(double s) const
    {
        const TXY a = At(std::max(0.0, s - 0.5)), b = At(std::min(Length(), s + 0.5));
        const double l = std::hypot(b.X - a.X, b.Y - a.Y);
        return {(b.X - a.X) / l, (b.Y - a.Y) / l};
    }

private:
    TXY FB, FE;
    double FChord = 0, FTx = 1, FTy = 0, FNx = 0, FNy = 0, FSag = 0;
    double FR = 0, FHalfAngle = 0;
};

// Adds a trail's light, in levels, to a float picture.
inline void DepositTrail(std::vector<float>& light, std::int32_t w, std::int32_t h, const TTrailSpec& t)
{
    const TArcPath path(t);
    const double len = path.Length();
    const double lambda = t.Crest * std::sqrt(2 * std::numbers::pi) * t.Sigma; // light per px of trail
    const double travel = len + 2 * std::numbers::pi * t.Cycles * std::abs(t.Wobble);
    const auto steps = static_cast<std::int64_t>(std::ceil(travel / 0.05));
    const double perStep = lambda * len / static_cast<double>(steps);
    const auto reach = static_cast<std::int32_t>(std::ceil(4 * t.Sigma));
    const double norm = 1 / (std::sqrt(2 * std::numbers::pi) * t.Sigma);
    std::vector<double> gx(static_cast<std::size_t>(2 * reach + 2)), gy(gx.size());
    for (std::int64_t k = 0; k <= steps; ++k) {
        const double tau = static_cast<double>(k) / static_cast<double>(steps);
        const double s = len * tau + t.Wobble * std::sin(2 * std::numbers::pi * t.Cycles * tau);
        const TXY p = path.At(s);
        const double weight = (k == 0 || k == steps) ? perStep / 2 : perStep;
        const auto x0 = static_cast<std::int32_t>(std::floor(p.X)) - reach;
        const auto y0 = static_cast<std::int32_t>(std::floor(p.Y)) - reach;
        for (std::int32_t i = 0; i < 2 * reach + 2; ++i) {
            const double dx = x0 + i - p.X, dy = y0 + i - p.Y;
            gx[static_cast<std::size_t>(i)] = norm * std::exp(-dx * dx / (2 * t.Sigma * t.Sigma));
            gy[static_cast<std::size_t>(i)] = norm * std::exp(-dy * dy / (2 * t.Sigma * t.Sigma));
        }
        for (std::int32_t j = 0; j < 2 * reach + 2; ++j) {
            const std::int32_t y = y0 + j;
            if (y < 0 || y >= h)
                continue;
            const double wy = weight * gy[static_cast<std::size_t>(j)];
            float* row = &light[static_cast<std::size_t>(y) * static_cast<std::size_t>(w)];
            for (std::int32_t i = 0; i < 2 * reach + 2; ++i) {
                const std::int32_t x = x0 + i;
                if (x >= 0 && x < w)
                    row[x] += static_cast<float>(wy * gx[static_cast<std::size_t>(i)]);
            }
        }
    }
}

// The picture as the program has it once loaded (and calibrated, when the
// spec asks for a dark and a flat).
inline TBitmap32 RenderPicture(const TPictureSpec& spec)
{
    const std::int32_t w = spec.Width, h = spec.Height;
    const auto n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<float> light(n, 0.0f);
    for (const TTrailSpec& t : spec.Trails)
        DepositTrail(light, w, h, t);

    std::mt19937_64 rng(spec.Seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    std::vector<float> hot(n, 0.0f);
    for (int i = 0; i < spec.HotPixels; ++i) {
        const auto x = static_cast<std::size_t>(uniform(rng) * w), y = static_cast<std::size_t>(uniform(rng) * h);
        hot[y * static_cast<std::size_t>(w) + x] = static_cast<float>(100 + 150 * uniform(rng));
    }
    auto level = [](double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
    TImageState img;
    TBitmap32 dark, flat;
    img.Bitmap.SetSize(w, h);
    if (spec.DarkAndFlat) {
        dark.SetSize(w, h);
        flat.SetSize(w, h);
    }
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, corner = cx * cx + cy * cy;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
            const double vig = 1 - spec.Vignetting * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / corner;
            const double glow = spec.DarkAndFlat ? 6 + 12 * std::exp(-x / (0.1 * w)) : 0;
            std::uint32_t c[3], d[3], f[3];
            const double l = (spec.Sky + light[i]) * vig;
            const double shot = std::sqrt(std::max(0.0, l) / spec.Gain);
            for (int k = 0; k < 3; ++k) {
                c[k] = level(l + shot * normal(rng) + glow + hot[i] + spec.Noise * normal(rng));
                if (spec.DarkAndFlat) {
                    d[k] = level(glow + hot[i] + 0.3 * normal(rng));
                    f[k] = level(180 * vig + 0.4 * normal(rng));
                }
            }
            img.Bitmap.SetPixelS(x, y, Color32(255, c[0], c[1], c[2]));
            if (spec.DarkAndFlat) {
                dark.SetPixelS(x, y, Color32(255, d[0], d[1], d[2]));
                flat.SetPixelS(x, y, Color32(255, f[0], f[1], f[2]));
            }
        }
    if (spec.DarkAndFlat) {
        TStatusPanels status;
        ApplyDark(img, dark, status);
        ApplyFlat(img, flat, status);
    }
    return std::move(img.Bitmap);
}

} // namespace vinsk::test
