#include "drive/DrivePhotometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "drive/DriveStage.h"
#include "numeric/Circle.h"
#include "numeric/Median.h"

namespace vinsk::drive {

namespace {

// The trail's path through the three check points, by arc length from START.
struct TArc {
    bool Line = false;
    long double Sx = 0, Sy = 0, Ux = 1, Uy = 0;
    long double Cx = 0, Cy = 0, R = 0, Psi0 = 0, Sign = 1;
    long double Length = 0; // START to STOP

    void At(long double s, long double& x, long double& y, long double& tx, long double& ty) const
    {
        if (Line) {
            x = Sx + s * Ux;
            y = Sy + s * Uy;
            tx = Ux;
            ty = Uy;
            return;
        }
        // The angle in double: the extended format's sine reduces its
        // argument the slow way, and a position to 1e-11 px is plenty.
        const double psi = static_cast<double>(Psi0 + Sign * s / R);
        const long double c = std::cos(psi), sn = std::sin(psi);
        x = Cx + R * c;
        y = Cy + R * sn;
        tx = -Sign * sn;
        ty = Sign * c;
    }
};

long double Wrap(long double a)
{
    while (a > Pi)
        a -= 2 * Pi;
    while (a <= -Pi)
        a += 2 * Pi;
    return a;
}

// The exact circumcircle: photometry wants the arc itself. Nearly collinear
// points give the straight line from START to STOP.
bool MakeArc(const TDriveInput& in, TArc& arc)
{
    const long double x1 = in.Start.X, y1 = in.Start.Y, x2 = in.Stop.X, y2 = in.Stop.Y;
    const long double x3 = in.InLine.X, y3 = in.InLine.Y;
    const long double chord = hypotl(x2 - x1, y2 - y1);
    if (!(chord >= 2))
        return false;
    arc.Sx = x1;
    arc.Sy = y1;
    arc.Ux = (x2 - x1) / chord;
    arc.Uy = (y2 - y1) / chord;
    // Sag of IN-LINE off the chord; below 0.05 px the line is as good as any circle.
    const long double sag = fabsl((x3 - x1) * arc.Uy - (y3 - y1) * arc.Ux);
    TCircle circle;
    if (sag < 0.05L || !Circumcircle(x1, y1, x2, y2, x3, y3, circle)) {
        arc.Line = true;
        arc.Length = chord;
        return true;
    }
    arc.Cx = circle.Cx;
    arc.Cy = circle.Cy;
    arc.R = circle.R;
    arc.Psi0 = atan2l(y1 - arc.Cy, x1 - arc.Cx);
    const long double toStop = Wrap(atan2l(y2 - arc.Cy, x2 - arc.Cx) - arc.Psi0);
    const long double toIn = Wrap(atan2l(y3 - arc.Cy, x3 - arc.Cx) - arc.Psi0);
    // Go the way round that passes IN-LINE.
    long double span = toStop;
    const bool inBetween = (toStop > 0) ? (toIn > 0 && toIn < toStop) : (toIn < 0 && toIn > toStop);
    if (!inBetween)
        span = toStop > 0 ? toStop - 2 * Pi : toStop + 2 * Pi;
    arc.Sign = span >= 0 ? 1 : -1;
    arc.Length = fabsl(span) * arc.R;
    return true;
}

// --------------------------------------------------------------- sampling

// Bilinear reads from a cache of the picture in tiles of 32 x 32 cells,
// filled on first use with one Block call each: the walk reads some twenty
// values per step across the trail, and neighbouring steps fall into the
// same few tiles, so the picture is touched once near the trail and never
// pixel by pixel through a virtual call.
class TSampler {
public:
    TSampler(const TSampleSource& s, TChannel c)
        : FS(s), FC(c), FW(s.Width()), FH(s.Height()), FTilesX((static_cast<std::size_t>(FW) + Tile - 1) / Tile),
          FSlot(FTilesX * ((static_cast<std::size_t>(FH) + Tile - 1) / Tile), 0)
    {
    }

    // false when the sample needs a pixel outside the picture. Positions,
    // weights and values in double: they are fractions of a pixel and
    // levels, and the extended format's loads and rounding instructions made
    // this the slowest line of the walk.
    bool Read(double x, double y, double& v, bool& saturated) { return ReadAt<true>(x, y, v, saturated); }
    // The same without the saturation flags, for the background bands.
    bool Read(double x, double y, double& v)
    {
        bool unused = false;
        return ReadAt<false>(x, y, v, unused);
    }

private:
    template <bool WithSaturation>
    bool ReadAt(double x, double y, double& v, bool& saturated)
    {
        // Truncation is the floor here, as both are at least 0; floor itself
        // is a library call without SSE4.1, and this is the walk's inner read.
        if (!(x >= 0 && y >= 0 && x < FW && y < FH))
            return false; // on the last row or column exactly, the outer weight is zero
        const auto ix = static_cast<std::uint32_t>(x), iy = static_cast<std::uint32_t>(y);
        const double ax = x - ix, ay = y - iy;
        const std::size_t slot = (iy / Tile) * FTilesX + ix / Tile;
        if (FSlot[slot] == 0)
            Fill(ix / Tile, iy / Tile, slot);
        const std::size_t at = (FSlot[slot] - 1) * TileCells + (iy % Tile) * Stride + ix % Tile;
        const float* p = FValues.data() + at;
        v = (1 - ay) * ((1 - ax) * p[0] + ax * p[1]) + ay * ((1 - ax) * p[Stride] + ax * p[Stride + 1]);
        if constexpr (WithSaturation) {
            const std::uint8_t* q = FSaturated.data() + at;
            saturated = saturated || (q[0] | q[1] | q[Stride] | q[Stride + 1]) != 0;
        }
        return true;
    }

    static constexpr std::uint32_t Tile = 32, Stride = Tile + 1;
    static constexpr std::size_t TileCells = static_cast<std::size_t>(Stride) * Stride;

    // A tile holds its cells' pixels and the next column and row; at the
    // picture's last column and row those repeat the edge, whose outer
    // weight is zero.
    void Fill(std::uint32_t tx, std::uint32_t ty, std::size_t slot)
    {
        const auto x0 = static_cast<std::int32_t>(tx * Tile), y0 = static_cast<std::int32_t>(ty * Tile);
        const std::int32_t w = std::min<std::int32_t>(Stride, FW - x0), h = std::min<std::int32_t>(Stride, FH - y0);
        const std::size_t base = FValues.size();
        FValues.resize(base + TileCells);
        FSaturated.resize(base + TileCells);
        float* v = FValues.data() + base;
        std::uint8_t* q = FSaturated.data() + base;
        FS.Block(x0, y0, w, h, FC, v, q, Stride);
        // Past the picture's last column and row, the edge repeats.
        for (std::int32_t r = 0; r < h; ++r)
            for (auto c = static_cast<std::uint32_t>(w); c < Stride; ++c) {
                v[r * Stride + c] = v[r * Stride + w - 1];
                q[r * Stride + c] = q[r * Stride + w - 1];
            }
        for (auto r = static_cast<std::uint32_t>(h); r < Stride; ++r) {
            std::copy_n(v + (h - 1) * Stride, Stride, v + r * Stride);
            std::copy_n(q + (h - 1) * Stride, Stride, q + r * Stride);
        }
        FSlot[slot] = static_cast<std::uint32_t>(base / TileCells + 1);
    }

    const TSampleSource& FS;
    TChannel FC;
    std::int32_t FW, FH;
    std::size_t FTilesX;
    std::vector<std::uint32_t> FSlot; // per tile: 1 + its place in the store, 0 when not read yet
    std::vector<float> FValues;
    std::vector<std::uint8_t> FSaturated;
};

// What one look across the trail sees: centroid offset, flux and peak.
struct TCross {
    bool Inside = false;
    long double Offset = 0, Flux = 0, Peak = 0;
};

constexpr int CrossReach = 10; // px each side for finding the crest

TCross LookAcross(TSampler& sampler, long double xl, long double yl, long double nxl, long double nyl)
{
    TCross c;
    double v[2 * CrossReach + 1];
    bool sat = false;
    const double x = static_cast<double>(xl), y = static_cast<double>(yl);
    const double nx = static_cast<double>(nxl), ny = static_cast<double>(nyl);
    for (int j = -CrossReach; j <= CrossReach; ++j)
        if (!sampler.Read(x + j * nx, y + j * ny, v[j + CrossReach], sat))
            return c;
    c.Inside = true;
    double edge[6] = {v[0], v[1], v[2], v[2 * CrossReach - 2], v[2 * CrossReach - 1], v[2 * CrossReach]};
    const long double bg = Median(edge, edge + 6);
    int best = CrossReach;
    for (int j = 3; j <= 2 * CrossReach - 3; ++j)
        if (v[j] > v[best])
            best = j;
    long double sw = 0, swu = 0;
    for (int j = best - 3; j <= best + 3; ++j) {
        const long double w = v[j] - bg;
        if (w > 0) {
            sw += w;
            swu += w * (j - CrossReach);
        }
    }
    long double flux = 0;
    for (int j = 3; j <= 2 * CrossReach - 3; ++j)
        flux += v[j] - bg;
    c.Flux = flux;
    c.Peak = v[best] - bg;
    // The crest usually lies between two samples: a Gaussian through the
    // three highest gives its true height, which the width estimate needs.
    const double a = static_cast<double>(v[best - 1] - bg), b = static_cast<double>(v[best] - bg), d = static_cast<double>(v[best + 1] - bg);
    c.Offset = sw > 0 ? swu / sw : 0;
    if (a > 0 && b > 0 && d > 0) {
        const double la = std::log(a), lb = std::log(b), ld = std::log(d), den = la - 2 * lb + ld;
        if (den < 0) {
            c.Peak = std::exp(lb - (la - ld) * (la - ld) / (8 * den));
            // Its vertex is also where the crest lies. The centroid over the
            // seven samples around the brightest is pulled towards that
            // sample when the trail is wide: a crest 0.19 px off the arc read
            // as 0.13, and on a curved trail the crest's length, and with it
            // the time scale, came out 1e-5 short (2 % of a 0.01"/s drift).
            c.Offset = best - CrossReach + std::clamp(0.5 * (la - ld) / den, -1.0, 1.0);
        }
    }
    return c;
}

} // namespace

// Centred running mean over +-h entries (fewer at the ends).
std::vector<long double> RunningMean(const std::vector<long double>& v, std::size_t h)
{
    const std::size_t n = v.size();
    std::vector<long double> pre(n + 1, 0), out(n);
    for (std::size_t i = 0; i < n; ++i)
        pre[i + 1] = pre[i] + v[i];
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t a = i >= h ? i - h : 0, b = std::min(n, i + h + 1);
        out[i] = (pre[b] - pre[a]) / static_cast<long double>(b - a);
    }
    return out;
}

TPhotometry MeasureLight(const TSampleSource& samples, const TDriveInput& in)
{
    const TExperiment& e = in.Setup;
    const TDriveSettings& set = in.Settings;
    auto refuse = [](std::string message) {
        TPhotometry p;
        p.Refusal = std::move(message);
        return p;
    };
    TArc arc;
    if (!MakeArc(in, arc))
        return refuse("START and STOP are too close together: place them at the two ends of the trail");
    TPhotometry light;

    // v = f D / (D - f): the image distance of a star at D.
    const long double f = e.FocalLength, dist = e.StarDistance;
    const long double v = f * dist / (dist - f);
    // In double: a step is some 1e-5 rad, far inside double's sixteen
    // digits, and the extended functions cost a millisecond a trail.
    const double vd = static_cast<double>(v);
    auto stepAngle = [&](long double tx, long double ty) {
        const double l = std::hypot(static_cast<double>(tx) * e.PixelWidth, static_cast<double>(ty) * e.PixelHeight);
        return static_cast<long double>(std::atan(l / vd)) * ArcsecPerRad;
    };

    TSampler sampler(samples, in.Channel);
    const long double length = arc.Length;
    const auto core = static_cast<std::size_t>(floorl(length)) + 1; // steps START..STOP

    // Pass 1: look across the trail along START..STOP for the crest and the
    // width, on every third step (the next two take its look): the crest is
    // smoothed over thirty steps and the width is a median, and the
    // photometry below counts every step that leaves the picture.
    constexpr std::size_t LookEvery = 3;
    std::vector<TCross> across(core);
    for (std::size_t k = 0; k < core; ++k) {
        if (k % LookEvery != 0) {
            across[k] = across[k - k % LookEvery];
            continue;
        }
        long double x, y, tx, ty;
        arc.At(static_cast<long double>(k), x, y, tx, ty);
        across[k] = LookAcross(sampler, x, y, -ty, tx);
    }
    std::vector<long double> fluxes;
    for (const TCross& c : across)
        if (c.Inside)
            fluxes.push_back(c.Flux);
    if (fluxes.size() < core / 2 + 1) {
        const long double out = 1 - static_cast<long double>(fluxes.size()) / core;
        return refuse(LeavesPictureMessage(out));
    }
    const long double typical = Median(fluxes);
    if (!(typical > 0))
        return refuse(NoTrailMessage());
    std::vector<long double> widths;
    for (const TCross& c : across)
        if (c.Inside && c.Flux > 0.5L * typical && c.Peak > 0)
            widths.push_back(c.Flux / c.Peak / sqrtl(2 * Pi) * 2.3548200450309493L);
    if (widths.size() < 3)
        return refuse(NoTrailMessage());
    const long double fwhm = Median(widths);
    const long double halfWidth = set.HalfWidth > 0 ? set.HalfWidth : std::max(3.0L, 1.3L * fwhm);
    // Samples at whole-pixel offsets within the half-width: 2m + 1 of them.
    const int m = static_cast<int>(std::max(1.0L, floorl(halfWidth)));
    // Wide side bands: the background is subtracted 2m + 1 times per step, so
    // its noise weighs as much as the segment's own unless the bands hold
    // several times the segment's pixels.
    const int gap = 2, band = std::max(6, 3 * m);

    // Pass 1b: extend past START and STOP until the light falls to the background.
    const long double floorFlux = 0.03L * typical;
    const long double maxExtend = 30 + 10 * fwhm + 0.1L * length;
    // An end whose light still shines where the picture ends has lost its
    // cap: the time it holds is unknown.
    bool endCut = false;
    auto extend = [&](int dir) {
        long double s = dir < 0 ? 0 : static_cast<long double>(core - 1);
        int low = 0;
        long double reach = 0, last = typical;
        while (reach < maxExtend) {
            s += dir;
            long double x, y, tx, ty;
            arc.At(s, x, y, tx, ty);
            const TCross c = LookAcross(sampler, x, y, -ty, tx);
            if (!c.Inside) {
                endCut = endCut || last >= 0.5L * typical;
                break;
            }
            reach += 1;
            last = c.Flux;
            low = c.Flux < floorFlux ? low + 1 : 0;
            if (low >= 3)
                break;
        }
        return reach;
    };
    const long double before = extend(-1), after = extend(+1);
    std::size_t outsideAcross = 0;
    for (const TCross& c : across)
        outsideAcross += c.Inside ? 0 : 1;
    if (outsideAcross > 0.02L * core)
        return refuse(LeavesPictureMessage(static_cast<long double>(outsideAcross) / core));
    if (endCut)
        return refuse("The trail runs into the edge of the picture beyond START or STOP, so its end is missing: "
                      "use a picture that holds the whole trail with a margin around it");
    const long double s0 = -before;
    const auto steps = static_cast<std::size_t>(before + after) + core;

    // Crest offsets across the trail, smoothed along it; where the light is
    // faint, the nearest reliable offset holds.
    std::vector<long double> offset(steps, 0);
    std::vector<char> reliable(steps, 0);
    for (std::size_t k = 0; k < steps; ++k) {
        const long double s = s0 + k;
        const std::size_t c = static_cast<std::size_t>(k) - static_cast<std::size_t>(before);
        TCross cr;
        if (s >= 0 && c < core) {
            cr = across[c];
        } else {
            long double x, y, tx, ty;
            arc.At(s, x, y, tx, ty);
            cr = LookAcross(sampler, x, y, -ty, tx);
        }
        if (cr.Inside && cr.Flux > 0.3L * typical) {
            offset[k] = cr.Offset;
            reliable[k] = 1;
        }
    }
    {
        std::size_t firstGood = steps;
        for (std::size_t k = 0; k < steps; ++k)
            if (reliable[k]) {
                firstGood = k;
                break;
            }
        if (firstGood == steps)
            return refuse(NoTrailMessage());
        long double hold = offset[firstGood];
        for (std::size_t k = 0; k < steps; ++k) {
            if (reliable[k])
                hold = offset[k];
            else
                offset[k] = hold;
        }
        offset = RunningMean(offset, 15);
    }

    // Pass 2: the photometry segments, centred on the measured crest.
    std::vector<long double> raw(steps, 0), bgStep(steps, 0), alpha(steps, 0);
    std::vector<char> bad(steps, 0);
    std::size_t saturatedCore = 0, outsideCore = 0;
    std::vector<double> bandValues;
    // The crest: the arc moved across by the measured offsets. Each step
    // covers the crest's own length there, which on a curved trail differs
    // from the fitted arc's pixel when the two are not concentric; the
    // angle of a step follows that length and direction.
    std::vector<long double> crestX(steps), crestY(steps), normX(steps), normY(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        long double x, y, tx, ty;
        arc.At(s0 + k, x, y, tx, ty);
        normX[k] = -ty;
        normY[k] = tx;
        crestX[k] = x + offset[k] * normX[k];
        crestY[k] = y + offset[k] * normY[k];
    }
    // A segment across the fitted arc cuts the crest at a slant where the two
    // part, and so reads the crest's light per unit of the arc's normal
    // direction: the light of a step is that times the step's length along
    // the arc's tangent. Left out, a crest half a pixel off an arc of radius
    // 1,000 px bends the time by 5e-4, which the drift fit takes for rate.
    std::vector<long double> along(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        const std::size_t a = k > 0 ? k - 1 : k, z = k + 1 < steps ? k + 1 : k;
        const long double dx = (crestX[z] - crestX[a]) / (z - a), dy = (crestY[z] - crestY[a]) / (z - a);
        alpha[k] = stepAngle(dx, dy);
        along[k] = dx * normY[k] - dy * normX[k];
    }
    for (std::size_t k = 0; k < steps; ++k) {
        const long double s = s0 + k;
        const double nx = static_cast<double>(normX[k]), ny = static_cast<double>(normY[k]);
        const double cx = static_cast<double>(crestX[k]), cy = static_cast<double>(crestY[k]);
        bool sat = false, outside = false;
        long double sum = 0;
        for (int j = -m; j <= m; ++j) {
            double val;
            if (sampler.Read(cx + j * nx, cy + j * ny, val, sat))
                sum += val;
            else
                outside = true;
        }
        bandValues.clear();
        for (int side = -1; side <= 1; side += 2)
            for (int j = m + gap; j < m + gap + band; ++j) {
                double val;
                if (sampler.Read(cx + side * j * nx, cy + side * j * ny, val))
                    bandValues.push_back(val);
            }
        if (bandValues.empty())
            outside = true;
        raw[k] = sum;
        bgStep[k] = Median(bandValues);
        const bool inCore = s >= 0 && s <= length;
        if (outside) {
            bad[k] = 1;
            if (inCore)
                ++outsideCore;
        } else if (sat) {
            bad[k] = 1;
            if (inCore)
                ++saturatedCore;
        }
    }
    light.SaturatedFraction = static_cast<double>(static_cast<long double>(saturatedCore) / core);
    light.OutsideFraction = static_cast<double>(static_cast<long double>(outsideCore) / core);
    if (light.OutsideFraction > 0.02)
        return refuse(LeavesPictureMessage(light.OutsideFraction));
    if (light.SaturatedFraction > 0.02)
        return refuse("The trail is saturated along " + Percent(light.SaturatedFraction) +
                      " of its length: use a shorter exposure or a smaller aperture");

    // Background: per-step medians of the side bands, smoothed along the trail.
    {
        long double hold = 0;
        bool any = false;
        for (std::size_t k = 0; k < steps; ++k)
            if (!bad[k]) {
                hold = bgStep[k];
                any = true;
                break;
            }
        if (!any)
            return refuse(NoTrailMessage());
        for (std::size_t k = 0; k < steps; ++k) {
            if (bad[k])
                bgStep[k] = hold;
            else
                hold = bgStep[k];
        }
        bgStep = RunningMean(bgStep, 20);
    }
    std::vector<long double> b(steps);
    for (std::size_t k = 0; k < steps; ++k)
        b[k] = (raw[k] - (2 * m + 1) * bgStep[k]) * along[k];
    // The few bad steps take the light of their good neighbours.
    for (std::size_t k = 0; k < steps; ++k) {
        if (!bad[k])
            continue;
        std::size_t a = k, z = k;
        while (a > 0 && bad[a])
            --a;
        while (z + 1 < steps && bad[z])
            ++z;
        const bool ga = !bad[a], gz = !bad[z];
        if (ga && gz)
            b[k] = b[a] + (b[z] - b[a]) * (static_cast<long double>(k - a) / (z - a));
        else if (ga)
            b[k] = b[a];
        else if (gz)
            b[k] = b[z];
    }
    light.Light = std::move(b);
    light.Alpha = std::move(alpha);
    light.Typical = typical;
    light.Fwhm = fwhm;
    light.HalfWidth = m;
    return light;
}

} // namespace vinsk::drive
