#include "drive/DrivePhotometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/MathFaults.h"
#include "drive/DriveOutliers.h"
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

// Bilinear reads from a cache of the picture in tiles of 16 x 16 cells,
// filled on first use with one Block call each: the walk reads some twenty
// values per step across the trail, and neighbouring steps fall into the
// same few tiles, so the picture is touched once near the trail and never
// pixel by pixel through a virtual call. Smaller tiles fill fewer pixels
// the trail never reaches; a line across the trail looks its tiles up once
// each.
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

    // The samples at (x + j nx, y + j ny) for j = from..to, in that order,
    // into v; false when one needs a pixel outside the picture. The
    // positions move one way with j, so both ends inside put every sample
    // inside, and the tile is looked up only where the line enters another.
    template <bool WithSaturation>
    bool ReadLine(double x, double y, double nx, double ny, int from, int to, double* v, bool& saturated)
    {
        if (!Inside(x + from * nx, y + from * ny) || !Inside(x + to * nx, y + to * ny))
            return false;
        std::uint32_t tileX = ~0u, tileY = ~0u;
        const float* tile = nullptr;
        const std::uint8_t* flags = nullptr;
        bool sat = false;
        double jd = from; // j as the product takes it
        for (int j = from; j <= to; ++j, jd += 1) {
            const double px = x + jd * nx, py = y + jd * ny;
            const auto ix = static_cast<std::uint32_t>(px), iy = static_cast<std::uint32_t>(py);
            const double ax = px - ix, ay = py - iy;
            if (ix / Tile != tileX || iy / Tile != tileY) {
                tileX = ix / Tile;
                tileY = iy / Tile;
                const std::size_t base = TileStart(tileX, tileY); // may grow the store
                tile = FValues.data() + base;
                flags = FSaturated.data() + base;
            }
            const std::size_t at = (iy % Tile) * Stride + ix % Tile;
            const float* p = tile + at;
            *v++ = (1 - ay) * ((1 - ax) * p[0] + ax * p[1]) + ay * ((1 - ax) * p[Stride] + ax * p[Stride + 1]);
            if constexpr (WithSaturation) {
                const std::uint8_t* q = flags + at;
                sat = sat || (q[0] | q[1] | q[Stride] | q[Stride + 1]) != 0;
            }
        }
        saturated = saturated || sat;
        return true;
    }
    bool ReadLine(double x, double y, double nx, double ny, int from, int to, double* v)
    {
        bool unused = false;
        return ReadLine<false>(x, y, nx, ny, from, to, v, unused);
    }

private:
    bool Inside(double x, double y) const { return x >= 0 && y >= 0 && x < FW && y < FH; }

    // Where tile (tx, ty)'s cells start in the store, filling it on first use.
    std::size_t TileStart(std::uint32_t tx, std::uint32_t ty)
    {
        const std::size_t slot = ty * FTilesX + tx;
        if (FSlot[slot] == 0)
            Fill(tx, ty, slot);
        return (FSlot[slot] - 1) * TileCells;
    }

    template <bool WithSaturation>
    bool ReadAt(double x, double y, double& v, bool& saturated)
    {
        // Truncation is the floor here, as both are at least 0; floor itself
        // is a library call without SSE4.1, and this is the walk's inner read.
        if (!Inside(x, y))
            return false; // on the last row or column exactly, the outer weight is zero
        const auto ix = static_cast<std::uint32_t>(x), iy = static_cast<std::uint32_t>(y);
        const double ax = x - ix, ay = y - iy;
        const std::size_t at = TileStart(ix / Tile, iy / Tile) + (iy % Tile) * Stride + ix % Tile;
        const float* p = FValues.data() + at;
        v = (1 - ay) * ((1 - ax) * p[0] + ax * p[1]) + ay * ((1 - ax) * p[Stride] + ax * p[Stride + 1]);
        if constexpr (WithSaturation) {
            const std::uint8_t* q = FSaturated.data() + at;
            saturated = saturated || (q[0] | q[1] | q[Stride] | q[Stride + 1]) != 0;
        }
        return true;
    }

    static constexpr std::uint32_t Tile = 16, Stride = Tile + 1;
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

// px each side for finding the trail's centre: a ring of 6 px with its blur,
// and three pixels of background beyond.
constexpr int CrossReach = 16;

TCross LookAcross(TSampler& sampler, long double xl, long double yl, long double nxl, long double nyl)
{
    TCross c;
    double v[2 * CrossReach + 1];
    const double x = static_cast<double>(xl), y = static_cast<double>(yl);
    const double nx = static_cast<double>(nxl), ny = static_cast<double>(nyl);
    if (!sampler.ReadLine(x, y, nx, ny, -CrossReach, CrossReach, v))
        return c;
    c.Inside = true;
    double edge[6] = {v[0], v[1], v[2], v[2 * CrossReach - 2], v[2 * CrossReach - 1], v[2 * CrossReach]};
    const double bg = static_cast<double>(MedianOfFew(edge, edge + 6));
    int best = CrossReach;
    for (int j = 3; j <= 2 * CrossReach - 3; ++j)
        if (v[j] > v[best])
            best = j;
    // The centre is the centroid of all the light across the trail: the
    // brightest sample of a defocused star's ring jumps between its two
    // crests, and a band centred there loses a changing share of the light.
    double flux = 0, moment = 0;
    for (int j = 3; j <= 2 * CrossReach - 3; ++j) {
        flux += v[j] - bg;
        moment += (v[j] - bg) * (j - CrossReach);
    }
    c.Flux = flux;
    c.Peak = v[best] - bg;
    c.Offset = flux > 0 ? std::clamp(moment / flux, -1.0 * CrossReach / 2, 1.0 * CrossReach / 2) : 0;
    // The crest usually lies between two samples: a Gaussian through the
    // three highest gives its true height, which the width estimate needs.
    const double a = static_cast<double>(v[best - 1] - bg), b = static_cast<double>(v[best] - bg), d = static_cast<double>(v[best + 1] - bg);
    if (a > 0 && b > 0 && d > 0) {
        const double la = std::log(a), lb = std::log(b), ld = std::log(d), den = la - 2 * lb + ld;
        if (den < 0)
            c.Peak = std::exp(lb - (la - ld) * (la - ld) / (8 * den));
    }
    return c;
}

// The light's centroid across the trail within +-reach px of (x, y), its
// background the mean of six pixels beyond each side: the wide look above
// weighs the noise of 27 samples by their distance, some 0.2 px a look on a
// faint 8-bit trail, and steps whose centres jitter read as a false drift.
// false outside the picture or without light.
bool CentroidNear(TSampler& sampler, double x, double y, double nx, double ny, int reach, long double& offset)
{
    constexpr int Side = 6;
    double before[Side], after[Side], v[2 * CrossReach + 1];
    if (!sampler.ReadLine(x, y, nx, ny, -(reach + 1 + Side), -(reach + 2), before) ||
        !sampler.ReadLine(x, y, nx, ny, reach + 2, reach + 1 + Side, after) ||
        !sampler.ReadLine(x, y, nx, ny, -reach, reach, v))
        return false;
    double bg = 0;
    for (int i = Side - 1; i >= 0; --i) // outwards from the trail on each side
        bg += before[i];
    for (int i = 0; i < Side; ++i)
        bg += after[i];
    bg /= 2 * Side;
    double flux = 0, moment = 0;
    for (int j = -reach; j <= reach; ++j) {
        flux += v[j + reach] - bg;
        moment += (v[j + reach] - bg) * j;
    }
    if (!(flux > 0))
        return false;
    offset = std::clamp(moment / flux, -0.5 * reach, 0.5 * reach);
    return true;
}

// The trail's mean cross-section, in half pixels either side of the
// centre, background removed.
struct TProfile {
    static constexpr int Half = 2 * CrossReach;
    std::vector<double> Sum = std::vector<double>(2 * Half + 1, 0);
    std::size_t Count = 0;

    void Add(TSampler& sampler, double x, double y, double nx, double ny)
    {
        double v[2 * Half + 1];
        if (!sampler.ReadLine(x, y, 0.5 * nx, 0.5 * ny, -Half, Half, v))
            return;
        // The mean of the outer three pixels each side: a median of
        // quantised levels is biased, and no other star is expected here.
        double bg = 0;
        for (int u = 0; u < 6; ++u)
            bg += v[u] + v[2 * Half - u];
        bg /= 12;
        for (int u = 0; u <= 2 * Half; ++u)
            Sum[u] += v[u] - bg;
        ++Count;
    }
    // The second-moment width about the centroid, px; 0 without light.
    // Within four widths of the centroid (at least 8 px), found by a few
    // rounds from the whole look: out in the wings the moment weighs the background's small
    // error by the square of the distance, and two looks at the same trail
    // a fraction of a pixel apart would read widths 10 % apart.
    long double Width() const
    {
        long double centre = 0, reach = 0.5L * (Half - 6), width = 0;
        for (int round = 0; round < 4; ++round) {
            long double w = 0, wx = 0, wxx = 0;
            for (int u = -Half + 6; u <= Half - 6; ++u) {
                const long double x = 0.5L * u, p = Sum[u + Half];
                if (fabsl(x - centre) > reach)
                    continue;
                w += p;
                wx += p * x;
                wxx += p * x * x;
            }
            if (!(w > 0))
                return 0;
            centre = wx / w;
            width = sqrtl(std::max(0.0L, wxx / w - centre * centre));
            reach = std::min(reach, std::max(8.0L, 4 * width));
        }
        return width;
    }
};

// Crests of a cross-section: two when it has two maxima at least 2 px
// apart, each 5 % above the dip between them; their half distance apart is
// the ring's radius.
void FindCrests(const TProfile& p, int& crests, long double& ringRadius)
{
    constexpr int H = TProfile::Half;
    std::vector<long double> s(2 * H + 1, 0);
    for (int u = 1; u < 2 * H; ++u)
        s[u] = (p.Sum[u - 1] + 2 * p.Sum[u] + p.Sum[u + 1]) / 4;
    crests = 1;
    ringRadius = 0;
    // Only maxima that carry light: the background's ripples in the wings
    // stand 5 % above a dip of almost nothing.
    const long double top = *std::max_element(s.begin(), s.end());
    int first = -1, second = -1;
    for (int u = 7; u <= 2 * H - 7; ++u)
        if (s[u] > s[u - 1] && s[u] >= s[u + 1] && s[u] >= 0.2L * top) {
            if (first < 0 || s[u] > s[first]) {
                second = first;
                first = u;
            } else if (second < 0 || s[u] > s[second]) {
                second = u;
            }
        }
    if (first < 0 || second < 0)
        return;
    const int a = std::min(first, second), b = std::max(first, second);
    long double dip = s[a];
    for (int u = a; u <= b; ++u)
        dip = std::min(dip, s[u]);
    if (b - a < 4 || !(s[a] >= 1.05L * dip && s[b] >= 1.05L * dip && dip > 0))
        return;
    // Each crest between its samples, by a parabola through three.
    auto vertex = [&](int u) {
        const long double den = s[u - 1] - 2 * s[u] + s[u + 1];
        return u + (den < 0 ? std::clamp(0.5L * (s[u - 1] - s[u + 1]) / den, -0.5L, 0.5L) : 0.0L);
    };
    crests = 2;
    ringRadius = 0.25L * (vertex(b) - vertex(a));
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
    auto refuse = [](TRefusal why) {
        TPhotometry p;
        p.Refusal = std::move(why);
        return p;
    };
    TArc arc;
    if (!MakeArc(in, arc))
        return refuse(Refuse(TRefusalReason::CheckPoints));
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
    // width, on every sixth step (the next five take its look): the crest is
    // smoothed over thirty steps and measured again near it below, the width
    // is a median, and the photometry below counts every step that leaves
    // the picture.
    constexpr std::size_t LookEvery = 6;
    // The cross-section's and the second centroid's looks, closer together.
    constexpr std::size_t NearEvery = 3;
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
        return refuse(LeavesPicture(out));
    }
    const long double typical = Median(fluxes);
    if (!(typical > 0))
        return refuse(Refuse(TRefusalReason::NoTrail));
    std::vector<long double> widths;
    for (const TCross& c : across)
        if (c.Inside && c.Flux > 0.5L * typical && c.Peak > 0)
            widths.push_back(c.Flux / c.Peak / sqrtl(2 * Pi) * 2.3548200450309493L);
    if (widths.size() < 3)
        return refuse(Refuse(TRefusalReason::NoTrail));
    const long double fwhm = Median(widths);

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
        return refuse(LeavesPicture(static_cast<long double>(outsideAcross) / core));
    if (endCut)
        return refuse(Refuse(TRefusalReason::LeavesPicture,
                             "The trail runs into the edge of the picture beyond START or STOP, so its end is missing: "
                             "use a picture that holds the whole trail with a margin around it"));
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
            return refuse(Refuse(TRefusalReason::NoTrail));
        long double hold = offset[firstGood];
        for (std::size_t k = 0; k < steps; ++k) {
            if (reliable[k])
                hold = offset[k];
            else
                offset[k] = hold;
        }
        offset = RunningMean(offset, 15);
    }

    // The photometry segments, centred on the measured crest.
    std::vector<long double> raw(steps, 0), bgStep(steps, 0), alpha(steps, 0);
    std::vector<char> bad(steps, 0);
    std::size_t saturatedCore = 0, outsideCore = 0;
    // The crest: the arc moved across by the measured offsets. Each step
    // covers the crest's own length there, which on a curved trail differs
    // from the fitted arc's pixel when the two are not concentric; the
    // angle of a step follows that length and direction.
    std::vector<long double> crestX(steps), crestY(steps), normX(steps), normY(steps), arcX(steps), arcY(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        long double tx, ty;
        arc.At(s0 + k, arcX[k], arcY[k], tx, ty);
        normX[k] = -ty;
        normY[k] = tx;
    }
    auto placeCrest = [&] {
        for (std::size_t k = 0; k < steps; ++k) {
            crestX[k] = arcX[k] + offset[k] * normX[k];
            crestY[k] = arcY[k] + offset[k] * normY[k];
        }
    };
    placeCrest();
    // A segment across the fitted arc cuts the crest at a slant where the two
    // part, and so reads the crest's light per unit of the arc's normal
    // direction: the light of a step is that times the step's length along
    // the arc's tangent. Left out, a crest half a pixel off an arc of radius
    // 1,000 px bends the time by 5e-4, which the drift fit takes for rate.

    // The mean cross-section in five stretches of the trail. The band holds
    // three second-moment widths of the widest, along the whole trail: a
    // width that changed along it would change the share of the light
    // lost, and the integral would read that as error. Some 600 looks fix
    // the width to well under a per cent (their mean, not one look, is
    // measured); a long trail takes them on every sixth step or further
    // apart, as each look reads 65 samples.
    constexpr std::size_t ProfileLooks = 600;
    const std::size_t profileEvery = NearEvery * std::max<std::size_t>(1, core / (NearEvery * ProfileLooks));
    TProfile fifths[5], whole;
    for (std::size_t c = 0; c < core; c += profileEvery) {
        if (!(across[c].Inside && across[c].Flux > 0.5L * typical))
            continue;
        const std::size_t k = c + static_cast<std::size_t>(before);
        fifths[c * 5 / core].Add(sampler, static_cast<double>(crestX[k]), static_cast<double>(crestY[k]),
                                 static_cast<double>(normX[k]), static_cast<double>(normY[k]));
    }
    long double width = 0;
    for (const TProfile& p : fifths) {
        if (p.Count == 0)
            continue;
        width = std::max(width, p.Width());
        for (std::size_t u = 0; u < whole.Sum.size(); ++u)
            whole.Sum[u] += p.Sum[u];
        whole.Count += p.Count;
    }
    if (!(width > 0))
        return refuse(Refuse(TRefusalReason::NoTrail));
    FindCrests(whole, light.Crests, light.RingRadius);

    // The centre again, now that the width is known: the centroid within
    // three widths of the first one, smoothed along the trail as before.
    {
        const int reach = static_cast<int>(std::clamp(ceill(3 * width), 2.0L, 1.0L * CrossReach));
        std::vector<long double> refined(steps, 0);
        std::vector<char> measured(steps, 0);
        for (std::size_t k = 0; k < steps; k += NearEvery) {
            long double delta;
            if (reliable[k] && CentroidNear(sampler, static_cast<double>(crestX[k]), static_cast<double>(crestY[k]),
                                            static_cast<double>(normX[k]), static_cast<double>(normY[k]), reach,
                                            delta)) {
                refined[k] = offset[k] + delta;
                measured[k] = 1;
            }
        }
        bool any = false;
        long double hold = 0;
        for (std::size_t k = 0; k < steps && !any; ++k)
            if (measured[k]) {
                hold = refined[k];
                any = true;
            }
        if (any) {
            for (std::size_t k = 0; k < steps; ++k) {
                if (measured[k])
                    hold = refined[k];
                refined[k] = hold;
            }
            offset = RunningMean(refined, 15);
            placeCrest();
        }
    }
    std::vector<long double> along(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        const std::size_t a = k > 0 ? k - 1 : k, z = k + 1 < steps ? k + 1 : k;
        const long double dx = (crestX[z] - crestX[a]) / (z - a), dy = (crestY[z] - crestY[a]) / (z - a);
        alpha[k] = stepAngle(dx, dy);
        along[k] = dx * normY[k] - dy * normX[k];
    }
    // Samples at whole-pixel offsets within the half-width h: 2m + 1 of
    // them in full, where m is h's whole part, and the two next at the
    // weight of its fraction. A band that grew by whole pixels would jump
    // as the measured width crosses a half: two sets of check points a
    // fraction of a pixel apart could then read different light.
    const long double h = set.HalfWidth > 0 ? std::max(1.0L, static_cast<long double>(set.HalfWidth))
                                            : std::max(2.0L, 3 * width);
    const int m = static_cast<int>(floorl(h));
    const double frac = static_cast<double>(h - m);
    const long double count = 2 * m + 1 + 2 * static_cast<long double>(frac);
    // Wide side bands, outside the wings: the background is subtracted
    // 2h + 1 times per step, so its noise weighs as much as the segment's
    // own unless the bands hold several times the segment's pixels.
    const int outer = frac > 0 ? m + 1 : m;
    const int gap = 2, band = std::max(6, 3 * outer);
    std::vector<double> segment(2 * static_cast<std::size_t>(outer) + 1), bandValues(2 * static_cast<std::size_t>(band));
    for (std::size_t k = 0; k < steps; ++k) {
        const long double s = s0 + k;
        const double nx = static_cast<double>(normX[k]), ny = static_cast<double>(normY[k]);
        const double cx = static_cast<double>(crestX[k]), cy = static_cast<double>(crestY[k]);
        bool sat = false, outside = false;
        // Near the picture's edge sample by sample; one outside adds nothing.
        if (!sampler.ReadLine<true>(cx, cy, nx, ny, -outer, outer, segment.data(), sat))
            for (int j = -outer; j <= outer; ++j)
                if (!sampler.Read(cx + j * nx, cy + j * ny, segment[j + outer], sat)) {
                    segment[j + outer] = 0;
                    outside = true;
                }
        double sum = 0;
        for (int j = -outer; j <= outer; ++j)
            sum += (j < -m || j > m) ? frac * segment[j + outer] : segment[j + outer];
        // The median takes the bands in any order.
        std::size_t inBands = 0;
        for (int side = -1; side <= 1; side += 2) {
            const int near = side * (outer + gap), far = side * (outer + gap + band - 1);
            if (sampler.ReadLine(cx, cy, nx, ny, std::min(near, far), std::max(near, far), bandValues.data() + inBands)) {
                inBands += static_cast<std::size_t>(band);
                continue;
            }
            for (int j = outer + gap; j < outer + gap + band; ++j) {
                double val;
                if (sampler.Read(cx + side * j * nx, cy + side * j * ny, val))
                    bandValues[inBands++] = val;
            }
        }
        if (inBands == 0)
            outside = true;
        raw[k] = sum;
        bgStep[k] = MedianOfFew(bandValues.data(), bandValues.data() + inBands);
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
        return refuse(LeavesPicture(light.OutsideFraction));
    if (light.SaturatedFraction > 0.02)
        return refuse(
            Refuse(TRefusalReason::Saturated, "The trail is saturated along " + Percent(light.SaturatedFraction) +
                                                  " of its length: use a shorter exposure or a smaller aperture"));

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
            return refuse(Refuse(TRefusalReason::NoTrail));
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
        b[k] = (raw[k] - count * bgStep[k]) * along[k];
    // Light that is not the star's is bridged like saturated light.
    {
        const TOutliers odd = FindOutliers(b, bad, typical, fwhm);
        std::size_t repairedCore = 0;
        for (std::size_t k : odd.Steps) {
            bad[k] = 1;
            const long double s = s0 + k;
            repairedCore += s >= 0 && s <= length ? 1 : 0;
        }
        const long double covered = static_cast<long double>(repairedCore + saturatedCore + outsideCore) / core;
        if (odd.LongestRun > LongestBridgedRun || (!odd.Steps.empty() && covered > 0.02L))
            return refuse(ForeignLight(covered));
        light.Repaired = odd.Steps;
    }
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
    light.HalfWidth = StoreD(h);
    light.Width = width;
    return light;
}

} // namespace vinsk::drive
