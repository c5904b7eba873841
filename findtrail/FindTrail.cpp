#include "findtrail/FindTrail.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/MathFaults.h"
#include "numeric/Circle.h"
#include "numeric/LeastSquares.h"
#include "numeric/Median.h"

namespace vinsk {

namespace {

// A region starts only where the smoothed picture stands clearly above the
// noise, and grows over what is still likely light of the same object.
constexpr double SeedSigmas = 5.0;
constexpr double GrowSigmas = 2.5;
// Length over width from which a region counts as elongated: stars and hot
// pixels are round, a trail is long. Two hot pixels side by side are
// elongated too, but short.
constexpr double MinElongation = 2.0;
constexpr double MinElongatedLength = 10.0; // px
// Shorter elongated objects are not trails worth measuring [px].
constexpr double MinTrailLength = 30.0;
// A second trail with this share of the first one's flux competes with it.
constexpr double CompetingFlux = 0.5;
// A region whose pixels lie this much off its own fitted arc holds more than
// one trail.
constexpr double CrossingShare = 0.25;
// The detection copy is binned down to about this many pixels: a trail only
// gains against the noise, and the picture is read once.
constexpr double MaxBinnedPixels = 1.5e6;
constexpr std::int32_t MaxTile = 64;
constexpr double MadToSigma = 1.4826;

// Linear interpolation between sample centres c[0] < c[1] < ...: the two
// neighbours of pos and the weight of the second, held constant beyond the
// outer centres.
struct TLerp {
    std::size_t I0 = 0, I1 = 0;
    double F = 0;
};

TLerp Between(const std::vector<double>& c, double pos)
{
    TLerp l;
    if (c.size() < 2 || pos <= c.front())
        return l;
    if (pos >= c.back()) {
        l.I0 = l.I1 = c.size() - 1;
        return l;
    }
    const auto it = std::upper_bound(c.begin(), c.end(), pos);
    l.I1 = static_cast<std::size_t>(it - c.begin());
    l.I0 = l.I1 - 1;
    l.F = (pos - c[l.I0]) / (c[l.I1] - c[l.I0]);
    return l;
}

// The picture binned and smoothed, less its background, in units of the
// noise's sigma: what the regions are grown on.
class TDetection {
public:
    TDetection(const TSampleSource& src, TChannel channel)
    {
        const std::int32_t w = src.Width(), h = src.Height();
        const double pixels = static_cast<double>(w) * static_cast<double>(h);
        Bin = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::floor(std::sqrt(pixels / MaxBinnedPixels))));
        BW = (w + Bin - 1) / Bin;
        BH = (h + Bin - 1) / Bin;
        D.assign(static_cast<std::size_t>(BW) * static_cast<std::size_t>(BH), 0.0f);
        std::vector<float> perColumn(static_cast<std::size_t>(BW)); // 1 / the pixels a bin spans across
        for (std::int32_t bx = 0; bx < BW; ++bx)
            perColumn[static_cast<std::size_t>(bx)] = 1.0f / static_cast<float>(std::min(w, (bx + 1) * Bin) - bx * Bin);
        for (std::int32_t by = 0; by < BH; ++by) {
            const std::int32_t y0 = by * Bin, y1 = std::min(h, y0 + Bin);
            float* acc = &At(0, by);
            src.AddBins(y0, y1, Bin, channel, acc);
            const float perRow = 1.0f / static_cast<float>(y1 - y0);
            for (std::int32_t bx = 0; bx < BW; ++bx)
                acc[bx] *= perColumn[static_cast<std::size_t>(bx)] * perRow;
        }
        Smooth();
        EstimateBackground();
        Sigma = std::max(Sigma, src.NoiseFloor());
        SubtractBackground();
    }

    float& At(std::int32_t bx, std::int32_t by)
    {
        return D[static_cast<std::size_t>(by) * static_cast<std::size_t>(BW) + static_cast<std::size_t>(bx)];
    }
    float At(std::int32_t bx, std::int32_t by) const
    {
        return D[static_cast<std::size_t>(by) * static_cast<std::size_t>(BW) + static_cast<std::size_t>(bx)];
    }

    // Centre of bin b in picture pixels.
    double Centre(std::int32_t b) const { return (b + 0.5) * Bin - 0.5; }

    // The background at a picture position, in sample units.
    double Background(double x, double y) const
    {
        const TLerp lx = Between(FTileX, (x + 0.5) / Bin - 0.5);
        const TLerp ly = Between(FTileY, (y + 0.5) / Bin - 0.5);
        auto t = [&](std::size_t tx, std::size_t ty) { return FTileBkg[ty * FTileX.size() + tx]; };
        const double top = t(lx.I0, ly.I0) + lx.F * (t(lx.I1, ly.I0) - t(lx.I0, ly.I0));
        const double bottom = t(lx.I0, ly.I1) + lx.F * (t(lx.I1, ly.I1) - t(lx.I0, ly.I1));
        return top + ly.F * (bottom - top);
    }

    std::int32_t Bin = 1;
    std::int32_t BW = 0, BH = 0;
    std::vector<float> D;
    double Sigma = 0; // noise of D before it was divided by it

private:
    // 3 x 3 box: a trail keeps its crest, the noise drops to a third. At
    // the edges the mean is over the neighbours that exist. In place, with
    // the rows it still needs kept aside.
    void Smooth()
    {
        const auto w = static_cast<std::size_t>(BW), h = static_cast<std::size_t>(BH);
        std::vector<float> copy(w);
        for (std::size_t y = 0; y < h; ++y) {
            float* row = &D[y * w];
            std::copy(row, row + w, copy.begin());
            if (w == 1)
                continue;
            row[0] = (copy[0] + copy[1]) * 0.5f;
            for (std::size_t x = 1; x + 1 < w; ++x)
                row[x] = (copy[x - 1] + copy[x] + copy[x + 1]) * (1.0f / 3.0f);
            row[w - 1] = (copy[w - 2] + copy[w - 1]) * 0.5f;
        }
        if (h == 1)
            return;
        std::vector<float> above(D.begin(), D.begin() + static_cast<std::ptrdiff_t>(w)), here(w);
        for (std::size_t y = 0; y < h; ++y) {
            float* row = &D[y * w];
            std::copy(row, row + w, here.begin());
            if (y == 0) {
                const float* below = row + w;
                for (std::size_t x = 0; x < w; ++x)
                    row[x] = (here[x] + below[x]) * 0.5f;
            } else if (y + 1 == h) {
                for (std::size_t x = 0; x < w; ++x)
                    row[x] = (above[x] + here[x]) * 0.5f;
            } else {
                const float* below = row + w;
                for (std::size_t x = 0; x < w; ++x)
                    row[x] = (above[x] + here[x] + below[x]) * (1.0f / 3.0f);
            }
            above.swap(here);
        }
    }

    // Median and MAD in tiles: vignetting, glow and gradients are followed,
    // and a trail covers too little of a tile to move its median far.
    void EstimateBackground()
    {
        const std::int32_t tile = std::clamp<std::int32_t>(std::min(BW, BH) / 3, 8, MaxTile);
        const std::int32_t tw = (BW + tile - 1) / tile, th = (BH + tile - 1) / tile;
        // Some 256 bins of a tile already give a steady median.
        const std::int32_t step = std::max(1, tile / 16);
        std::vector<float> medians(static_cast<std::size_t>(tw) * static_cast<std::size_t>(th));
        std::vector<float> mads(medians.size());
        std::vector<float> scratch;
        for (std::int32_t ty = 0; ty < th; ++ty)
            for (std::int32_t tx = 0; tx < tw; ++tx) {
                scratch.clear();
                for (std::int32_t by = ty * tile; by < std::min(BH, (ty + 1) * tile); by += step)
                    for (std::int32_t bx = tx * tile; bx < std::min(BW, (tx + 1) * tile); bx += step)
                        scratch.push_back(At(bx, by));
                const float m = UpperMedian(scratch);
                for (float& v : scratch)
                    v = std::abs(v - m);
                const std::size_t i = static_cast<std::size_t>(ty) * static_cast<std::size_t>(tw) + static_cast<std::size_t>(tx);
                medians[i] = m;
                mads[i] = UpperMedian(scratch);
            }
        // A tile that a bright object fills is outvoted by its neighbours.
        FTileBkg.resize(medians.size());
        for (std::int32_t ty = 0; ty < th; ++ty)
            for (std::int32_t tx = 0; tx < tw; ++tx) {
                scratch.clear();
                for (std::int32_t y = std::max(0, ty - 1); y <= std::min(th - 1, ty + 1); ++y)
                    for (std::int32_t x = std::max(0, tx - 1); x <= std::min(tw - 1, tx + 1); ++x)
                        scratch.push_back(medians[static_cast<std::size_t>(y) * static_cast<std::size_t>(tw) +
                                                  static_cast<std::size_t>(x)]);
                FTileBkg[static_cast<std::size_t>(ty) * static_cast<std::size_t>(tw) + static_cast<std::size_t>(tx)] =
                    UpperMedian(scratch);
            }
        Sigma = MadToSigma * UpperMedian(mads);
        for (std::int32_t tx = 0; tx < tw; ++tx)
            FTileX.push_back(tx * tile + (std::min(tile, BW - tx * tile) - 1) / 2.0);
        for (std::int32_t ty = 0; ty < th; ++ty)
            FTileY.push_back(ty * tile + (std::min(tile, BH - ty * tile) - 1) / 2.0);
    }

    // D becomes (value - background) / sigma. A noiseless picture keeps a
    // tiny sigma, so that only what is really above the background counts.
    void SubtractBackground()
    {
        const double sigma = Sigma > 0 ? Sigma : 1e-6;
        const float inv = static_cast<float>(1.0 / sigma);
        std::vector<double> column(FTileX.size());
        std::vector<TLerp> across(static_cast<std::size_t>(BW));
        for (std::int32_t bx = 0; bx < BW; ++bx)
            across[static_cast<std::size_t>(bx)] = Between(FTileX, bx);
        for (std::int32_t by = 0; by < BH; ++by) {
            const TLerp ly = Between(FTileY, by);
            for (std::size_t tx = 0; tx < FTileX.size(); ++tx) {
                const double a = FTileBkg[ly.I0 * FTileX.size() + tx], b = FTileBkg[ly.I1 * FTileX.size() + tx];
                column[tx] = a + ly.F * (b - a);
            }
            for (std::int32_t bx = 0; bx < BW; ++bx) {
                const TLerp& lx = across[static_cast<std::size_t>(bx)];
                const double bkg = column[lx.I0] + lx.F * (column[lx.I1] - column[lx.I0]);
                float& v = At(bx, by);
                v = static_cast<float>(v - bkg) * inv;
            }
        }
    }

    std::vector<double> FTileX, FTileY; // tile centres in bins
    std::vector<float> FTileBkg;
};

// A connected region above the background, in picture pixels.
struct TRegion {
    std::vector<std::int32_t> Bins; // indexes into the detection copy
    double Flux = 0;                // above the background, in sigma x pixels
    double Cx = 0, Cy = 0;          // centre
    double Ex = 1, Ey = 0;          // principal axis
    double UMin = 0, UMax = 0;      // extent along it, from the centre
    double Length = 0, Width = 0;

    bool Elongated() const { return Length >= MinElongation * Width && Length >= MinElongatedLength; }
    bool Trail() const { return Elongated() && Length >= MinTrailLength; }
};

void Measure(TRegion& r, const TDetection& det)
{
    const double bin2 = static_cast<double>(det.Bin) * det.Bin;
    double sx = 0, sy = 0, flux = 0;
    for (std::int32_t i : r.Bins) {
        sx += det.Centre(i % det.BW);
        sy += det.Centre(i / det.BW);
        flux += det.D[static_cast<std::size_t>(i)];
    }
    const double n = static_cast<double>(r.Bins.size());
    r.Flux = flux * bin2;
    r.Cx = sx / n;
    r.Cy = sy / n;
    double xx = 0, xy = 0, yy = 0;
    for (std::int32_t i : r.Bins) {
        const double dx = det.Centre(i % det.BW) - r.Cx, dy = det.Centre(i / det.BW) - r.Cy;
        xx += dx * dx;
        xy += dx * dy;
        yy += dy * dy;
    }
    const double phi = 0.5 * std::atan2(2 * xy, xx - yy);
    r.Ex = std::cos(phi);
    r.Ey = std::sin(phi);
    r.UMin = 0;
    r.UMax = 0;
    for (std::int32_t i : r.Bins) {
        const double u = (det.Centre(i % det.BW) - r.Cx) * r.Ex + (det.Centre(i / det.BW) - r.Cy) * r.Ey;
        r.UMin = std::min(r.UMin, u);
        r.UMax = std::max(r.UMax, u);
    }
    r.Length = r.UMax - r.UMin + det.Bin;
    r.Width = n * bin2 / r.Length;
}

// Regions grown from seeds, over 8-connected bins.
std::vector<TRegion> Regions(const TDetection& det)
{
    std::vector<TRegion> regions;
    std::vector<std::uint8_t> taken(det.D.size(), 0);
    std::vector<std::int32_t> stack;
    for (std::size_t i = 0; i < det.D.size(); ++i) {
        if (taken[i] || !(det.D[i] > SeedSigmas))
            continue;
        TRegion r;
        taken[i] = 1;
        stack.push_back(static_cast<std::int32_t>(i));
        while (!stack.empty()) {
            const std::int32_t p = stack.back();
            stack.pop_back();
            r.Bins.push_back(p);
            const std::int32_t px = p % det.BW, py = p / det.BW;
            for (std::int32_t y = std::max(0, py - 1); y <= std::min(det.BH - 1, py + 1); ++y)
                for (std::int32_t x = std::max(0, px - 1); x <= std::min(det.BW - 1, px + 1); ++x) {
                    const std::size_t q = static_cast<std::size_t>(y) * static_cast<std::size_t>(det.BW) +
                                          static_cast<std::size_t>(x);
                    if (!taken[q] && det.D[q] > GrowSigmas) {
                        taken[q] = 1;
                        stack.push_back(static_cast<std::int32_t>(q));
                    }
                }
        }
        Measure(r, det);
        regions.push_back(std::move(r));
    }
    return regions;
}

struct TCrestPoint {
    double U = 0, V = 0, Flux = 0, Spread = 0;
    bool Inside = true;
};

// The trail measured across, step by step along a region's axis.
class TRidge {
public:
    TRidge(const TSampleSource& src, TChannel channel, const TDetection& det, const TRegion& r)
        : FSrc(src), FChannel(channel), FDet(det), FR(r)
    {
    }

    std::int32_t Width() const { return FSrc.Width(); }
    std::int32_t Height() const { return FSrc.Height(); }

    double X(double u, double v) const { return FR.Cx + u * FR.Ex - v * FR.Ey; }
    double Y(double u, double v) const { return FR.Cy + u * FR.Ey + v * FR.Ex; }

    bool InPicture(double x, double y) const
    {
        return x >= 0 && y >= 0 && x <= Width() - 1 && y <= Height() - 1;
    }

    // Bilinear sample (or the nearest pixel's) less the background; false
    // outside the picture.
    bool Sample(double u, double v, double bkg, bool nearest, double& out) const
    {
        const double x = X(u, v), y = Y(u, v);
        if (!InPicture(x, y))
            return false;
        if (nearest) {
            out = FSrc.Value(static_cast<std::int32_t>(x + 0.5), static_cast<std::int32_t>(y + 0.5), FChannel) - bkg;
            return true;
        }
        out = FSrc.Interpolated(x, y, FChannel) - bkg;
        return true;
    }

    double BackgroundAt(double u, double v) const { return FDet.Background(X(u, v), Y(u, v)); }

    // The light across the trail at u, in a window of +-half around v0: its
    // sum, and the centroid and spread of its positive part. A first look
    // may read whole pixels.
    TCrestPoint Across(double u, double v0, std::int32_t half, bool nearest = false) const
    {
        TCrestPoint c;
        c.U = u;
        c.V = v0;
        c.Inside = InPicture(X(u, v0), Y(u, v0));
        const double bkg = BackgroundAt(u, v0);
        double sum = 0, pos = 0, first = 0, second = 0;
        for (std::int32_t j = -half; j <= half; ++j) {
            double p = 0;
            if (!Sample(u, v0 + j, bkg, nearest, p))
                continue;
            sum += p;
            if (p > 0) {
                pos += p;
                first += p * j;
                second += p * j * j;
            }
        }
        c.Flux = sum;
        if (pos > 0) {
            const double mean = first / pos;
            c.V = v0 + mean;
            c.Spread = std::sqrt(std::max(0.0, second / pos - mean * mean));
        }
        return c;
    }

private:
    const TSampleSource& FSrc;
    TChannel FChannel;
    const TDetection& FDet;
    const TRegion& FR;
};

// The centre line of a region's bins as a parabola across its axis, as the
// first guess of the crest.
std::array<long double, 3> CentreLine(const TRegion& r, const TDetection& det)
{
    std::vector<std::array<long double, 4>> rows;
    std::vector<long double> w;
    const long double scale = std::max(1.0, std::max(-r.UMin, r.UMax));
    for (std::int32_t i : r.Bins) {
        const double dx = det.Centre(i % det.BW) - r.Cx, dy = det.Centre(i / det.BW) - r.Cy;
        const long double u = (dx * r.Ex + dy * r.Ey) / scale, v = -dx * r.Ey + dy * r.Ex;
        rows.push_back({1, u, u * u, v});
        w.push_back(std::max(0.0f, det.D[static_cast<std::size_t>(i)]));
    }
    std::array<long double, 3> p{};
    if (!WeightedLeastSquares<3>(rows, w, p))
        return {0, 0, 0};
    return {p[0], p[1] / scale, p[2] / (scale * scale)};
}

// The circle through the crest points, by least squares, with the points
// far off it (a hot pixel, a star touching the trail) left out.
bool FitArc(std::vector<TCrestPoint> pts, double scale, TAlgebraicCircle& arc)
{
    for (int round = 0; round < 4; ++round) {
        if (pts.size() < 5)
            return false;
        std::vector<std::array<double, 3>> weighted;
        for (const TCrestPoint& c : pts)
            weighted.push_back({c.U, c.V, std::max(c.Flux, 0.0)});
        if (!FitAlgebraicCircle(weighted, scale, arc))
            return false;
        std::vector<double> res;
        for (const TCrestPoint& c : pts)
            res.push_back(static_cast<double>(arc.Distance(c.U, c.V)));
        std::vector<double> sorted = res;
        const double limit = std::max(0.75, 3.5 * MadToSigma * UpperMedian(sorted));
        std::vector<TCrestPoint> kept;
        for (std::size_t i = 0; i < pts.size(); ++i)
            if (res[i] <= limit)
                kept.push_back(pts[i]);
        if (kept.size() == pts.size())
            return true;
        pts = std::move(kept);
    }
    return pts.size() >= 5;
}

// Steps from an end inwards past its cap, where the trail's own level is.
std::size_t EndOffset(double sigma)
{
    return static_cast<std::size_t>(std::ceil(2.5 * sigma)) + 2;
}

struct TEnds {
    double ULow = 0, UHigh = 0;
    bool OffPicture = false;
    bool Found = false;
};

// Where the flux across the trail falls to half its level next to each end.
// Steps from uMin to uMax are those the region covered: mostly trail. Next
// to each end the steps are whole pixels, for the end cap and the plateau
// of `plateau` steps inside it.
TEnds FindEnds(const std::vector<TCrestPoint>& along, double sigma, double uMin, double uMax, std::size_t plateau)
{
    TEnds e;
    const std::size_t n = along.size();
    std::vector<double> inside;
    for (const TCrestPoint& c : along)
        if (c.Inside && c.U >= uMin && c.U <= uMax)
            inside.push_back(c.Flux);
    const double level = 0.5 * UpperMedian(inside);
    if (!(level > 0))
        return e;
    // From the outside in, the first step that carries half the typical flux.
    std::size_t lo = 0, hi = n;
    while (lo < n && !(along[lo].Inside && along[lo].Flux >= level))
        ++lo;
    while (hi > lo && !(along[hi - 1].Inside && along[hi - 1].Flux >= level))
        --hi;
    if (hi <= lo + 4)
        return e;
    --hi;
    // The level next to each end, from past its cap inwards.
    const std::size_t offset = EndOffset(sigma);
    const std::size_t span = hi - lo;
    const std::size_t len = std::max<std::size_t>(3, std::min(plateau, span / 3));
    auto levelNear = [&](std::size_t from, int dir) {
        std::vector<double> v;
        for (std::size_t k = 0; k < len; ++k) {
            const auto i = static_cast<std::ptrdiff_t>(from) + dir * static_cast<std::ptrdiff_t>(offset + k);
            if (i >= 0 && i < static_cast<std::ptrdiff_t>(n) && along[static_cast<std::size_t>(i)].Inside)
                v.push_back(along[static_cast<std::size_t>(i)].Flux);
        }
        return UpperMedian(v);
    };
    // Walks from inside the plateau outwards to the first step below half
    // of it; the crossing lies between that step and the one before.
    auto crossing = [&](std::size_t from, int dir, double& u) {
        const double half = 0.5 * levelNear(from, dir);
        if (!(half > 0))
            return false;
        auto i = static_cast<std::ptrdiff_t>(from) + dir * static_cast<std::ptrdiff_t>(std::min(offset, span / 2));
        bool above = false;
        for (;; i -= dir) {
            const std::ptrdiff_t next = i - dir;
            if (next < 0 || next >= static_cast<std::ptrdiff_t>(n) || !along[static_cast<std::size_t>(next)].Inside) {
                e.OffPicture = true;
                return false;
            }
            const TCrestPoint& a = along[static_cast<std::size_t>(i)];
            const TCrestPoint& b = along[static_cast<std::size_t>(next)];
            above = above || a.Flux >= half;
            if (above && b.Flux < half) {
                const double f = (a.Flux - half) / (a.Flux - b.Flux);
                u = a.U + f * (b.U - a.U);
                return true;
            }
        }
    };
    e.Found = crossing(lo, +1, e.ULow) && crossing(hi, -1, e.UHigh);
    return e;
}

std::string Px(double length)
{
    return std::to_string(static_cast<long long>(std::llround(length)));
}

TTrailSearch Refused(TRefusalReason reason, std::string message)
{
    return Refused<TTrailSearch>(Refuse(reason, std::move(message)));
}

std::string ShortTrailMessage(double length)
{
    return std::string(NoTrailPrefix) + "the brightest elongated object is " + Px(length) + " px long";
}

// The crest along a region, the arc fitted to it and the ends on it.
struct TTrace {
    TAlgebraicCircle Arc;
    TEnds Ends;
    double Sigma = 0;
    double FarShare = 0;
    bool Ok = false;
};

TTrace Trace(const TSampleSource& src, TChannel channel, const TDetection& det, const TRegion& r)
{
    TTrace t;
    const TRidge ridge(src, channel, det, r);
    const std::array<long double, 3> guess = CentreLine(r, det);
    const auto half = static_cast<std::int32_t>(std::ceil(0.5 * r.Width + 2.0 * det.Bin + 3));
    const std::int32_t narrow = std::max<std::int32_t>(3, (half + 1) / 2);
    const auto first = static_cast<std::int64_t>(std::floor(r.UMin - half));
    const auto last = static_cast<std::int64_t>(std::ceil(r.UMax + half));

    // A thousand points along the crest fit the arc as well as every pixel
    // would; next to the ends every pixel is measured.
    const std::int64_t steps = last - first + 1;
    const std::int64_t stride = std::max<std::int64_t>(1, steps / 1000);

    // The crest: centred on the guess, then on what it found.
    std::vector<TCrestPoint> crest;
    for (std::int64_t k = first; k <= last; k += stride) {
        const auto u = static_cast<double>(k);
        const double v0 = static_cast<double>((guess[2] * u + guess[1]) * u + guess[0]);
        const TCrestPoint wide = ridge.Across(u, v0, half, true);
        crest.push_back(ridge.Across(u, wide.V, narrow));
    }
    std::vector<double> fluxes;
    for (const TCrestPoint& c : crest)
        if (c.Inside && c.U >= r.UMin && c.U <= r.UMax)
            fluxes.push_back(c.Flux);
    const double body = 0.5 * UpperMedian(fluxes);
    std::vector<TCrestPoint> onTrail;
    std::vector<double> spreads;
    for (const TCrestPoint& c : crest)
        if (c.Inside && c.Flux >= body && body > 0) {
            onTrail.push_back(c);
            spreads.push_back(c.Spread);
        }
    t.Sigma = UpperMedian(spreads);
    const double scale = std::max(1.0, std::max(-r.UMin, r.UMax));
    if (!FitArc(onTrail, scale, t.Arc))
        return t;

    // The flux across the fitted arc, wide enough for the whole cross-section.
    const auto reach = static_cast<std::int32_t>(std::max(3.0, std::ceil(3 * t.Sigma + 1)));
    const auto plateau = static_cast<std::size_t>(std::clamp<std::int64_t>(steps / 20, 15, 60));
    const std::int64_t zone = 3 * half + static_cast<std::int64_t>(EndOffset(t.Sigma) + plateau) + 8;
    std::vector<TCrestPoint> along;
    for (std::int64_t k = first; k <= last; ++k) {
        if (k - first >= zone && last - k >= zone && (k - first) % stride != 0)
            continue;
        const auto u = static_cast<long double>(k);
        long double v = 0;
        if (!t.Arc.V(u, v))
            return t;
        TCrestPoint c = ridge.Across(static_cast<double>(u), static_cast<double>(v), reach);
        c.V = static_cast<double>(v);
        along.push_back(c);
    }
    t.Ends = FindEnds(along, t.Sigma, r.UMin, r.UMax, plateau);

    // Light that lies well off the arc belongs to something else.
    std::size_t far = 0;
    const double nearby = 0.75 * r.Width + 2.0 * det.Bin + 2;
    for (std::int32_t i : r.Bins) {
        const double dx = det.Centre(i % det.BW) - r.Cx, dy = det.Centre(i / det.BW) - r.Cy;
        if (t.Arc.Distance(dx * r.Ex + dy * r.Ey, -dx * r.Ey + dy * r.Ex) > nearby)
            ++far;
    }
    t.FarShare = static_cast<double>(far) / static_cast<double>(r.Bins.size());
    t.Ok = true;
    return t;
}

// Share of a region's bins near the arc traced on another region.
double ShareNear(const TRegion& other, const TRegion& r, const TTrace& t, const TDetection& det)
{
    std::size_t near = 0;
    const double nearby = 0.75 * r.Width + 2.0 * det.Bin + 2;
    for (std::int32_t i : other.Bins) {
        const double dx = det.Centre(i % det.BW) - r.Cx, dy = det.Centre(i / det.BW) - r.Cy;
        if (t.Arc.Distance(dx * r.Ex + dy * r.Ey, -dx * r.Ey + dy * r.Ex) <= nearby)
            ++near;
    }
    return static_cast<double>(near) / static_cast<double>(other.Bins.size());
}

// The fitted arc from end to end in short chords, with the length along it
// up to each chord's end.
struct TPath {
    std::vector<TImagePoint> P;
    std::vector<double> At;
};

TPath ArcPath(const TTrace& t, const TRidge& ridge)
{
    TPath path;
    const double u0 = t.Ends.ULow, u1 = t.Ends.UHigh;
    const auto steps = static_cast<std::size_t>(std::max(4.0, std::ceil((u1 - u0) * 4)));
    for (std::size_t i = 0; i <= steps; ++i) {
        const double u = u0 + (u1 - u0) * static_cast<double>(i) / static_cast<double>(steps);
        long double v = 0;
        t.Arc.V(u, v); // the ends lie where the arc was traced
        path.P.push_back({ridge.X(u, static_cast<double>(v)), ridge.Y(u, static_cast<double>(v))});
        path.At.push_back(i == 0 ? 0.0
                                 : path.At.back() + std::hypot(path.P[i].X - path.P[i - 1].X,
                                                               path.P[i].Y - path.P[i - 1].Y));
    }
    return path;
}

double ArcLength(const TTrace& t, const TSampleSource& src, TChannel channel, const TDetection& det, const TRegion& r)
{
    return ArcPath(t, TRidge(src, channel, det, r)).At.back();
}

TIntPoint Whole(const TImagePoint& p)
{
    return {Low32(Round(p.X)), Low32(Round(p.Y))};
}

} // namespace

TTrailSearch FindTrail(const TSampleSource& samples, int channelIndex, TStartSide side)
{
    const TChannel channel = ChannelOf(channelIndex);
    if (samples.Width() <= 0 || samples.Height() <= 0)
        return Refused(TRefusalReason::NoPicture, "Image is not loaded. You must image load first!");
    const TDetection det(samples, channel);
    std::vector<TRegion> regions = Regions(det);
    if (regions.empty())
        return Refused(TRefusalReason::NoTrail, std::string(NoTrailPrefix) + "nothing stands out from the background");

    std::sort(regions.begin(), regions.end(), [](const TRegion& a, const TRegion& b) { return a.Flux > b.Flux; });
    const auto best = std::find_if(regions.begin(), regions.end(), [](const TRegion& r) { return r.Trail(); });
    if (best == regions.end()) {
        const auto elongated =
            std::find_if(regions.begin(), regions.end(), [](const TRegion& r) { return r.Elongated(); });
        if (elongated != regions.end()) {
            // Its length between the half-flux ends, where they can be found:
            // the region itself reaches into the star's halo.
            const TTrace t = Trace(samples, channel, det, *elongated);
            const double length =
                t.Ok && t.Ends.Found ? ArcLength(t, samples, channel, det, *elongated) : elongated->Length;
            return Refused(TRefusalReason::TooShort, ShortTrailMessage(length));
        }
        return Refused(TRefusalReason::NoTrail, std::string(NoTrailPrefix) + "only " + std::to_string(regions.size()) +
                                                    (regions.size() == 1 ? " small spot (a hot pixel or a star) stands"
                                                                         : " small spots (hot pixels or stars) stand") +
                                                    " out from the background");
    }
    TRegion trail = *best;
    TTrace trace = Trace(samples, channel, det, trail);
    if (!trace.Ok)
        return Refused(TRefusalReason::NoTrail, std::string(NoTrailPrefix) +
                                                    "the crest of the brightest elongated object, " + Px(trail.Length) +
                                                    " px long, cannot be followed");

    // Pieces that lie on the same arc are one trail broken by a faint
    // stretch; another trail nearly as bright makes the choice a guess.
    bool merged = false;
    for (auto r = regions.begin(); r != regions.end(); ++r) {
        if (r == best || !r->Elongated())
            continue;
        if (ShareNear(*r, *best, trace, det) >= 0.8) {
            trail.Bins.insert(trail.Bins.end(), r->Bins.begin(), r->Bins.end());
            merged = true;
        } else if (r->Trail() && r->Flux >= CompetingFlux * best->Flux) {
            return Refused(TRefusalReason::Ambiguous, "Two star trails of similar size were found (" +
                                                          Px(best->Length) + " px and " + Px(r->Length) +
                                                          " px long): place the points by hand");
        }
    }
    if (merged) {
        Measure(trail, det);
        trace = Trace(samples, channel, det, trail);
        if (!trace.Ok)
            return Refused(TRefusalReason::NoTrail, std::string(NoTrailPrefix) +
                                                        "the crest of the brightest elongated object, " +
                                                        Px(trail.Length) + " px long, cannot be followed");
    }
    if (trace.FarShare > CrossingShare)
        return Refused(TRefusalReason::Ambiguous,
                       "Two star trails of similar size cross each other: place the points by hand");
    if (trace.Ends.OffPicture)
        return Refused(TRefusalReason::LeavesPicture, "The star trail runs off the picture: place the points by hand");
    if (!trace.Ends.Found)
        return Refused(TRefusalReason::NoTrail, std::string(NoTrailPrefix) +
                                                    "the ends of the brightest elongated object, " + Px(trail.Length) +
                                                    " px long, cannot be told from the background");

    const TRidge ridge(samples, channel, det, trail);
    const TPath path = ArcPath(trace, ridge);
    const std::vector<double>& at = path.At;
    TTrailSearch s;
    s.Length = at.back();
    s.CrestSigma = trace.Sigma;
    if (s.Length < MinTrailLength)
        return Refused(TRefusalReason::TooShort, ShortTrailMessage(s.Length));
    const auto mid = static_cast<std::size_t>(std::lower_bound(at.begin(), at.end(), 0.5 * s.Length) - at.begin());
    const std::vector<TImagePoint>& p = path.P;
    if (mid == 0) {
        s.InLine = p.front();
    } else {
        const double f = (0.5 * s.Length - at[mid - 1]) / (at[mid] - at[mid - 1]);
        s.InLine = {p[mid - 1].X + f * (p[mid].X - p[mid - 1].X), p[mid - 1].Y + f * (p[mid].Y - p[mid - 1].Y)};
    }
    TImagePoint a = p.front(), b = p.back();
    const bool xMajor = std::abs(b.X - a.X) > std::abs(b.Y - a.Y);
    // a becomes the end on the chosen side; a side across the trail's main
    // axis still picks by its own coordinate while the ends differ in it.
    bool byX = xMajor;
    if ((side == TStartSide::Left || side == TStartSide::Right) && b.X != a.X)
        byX = true;
    else if ((side == TStartSide::Top || side == TStartSide::Bottom) && b.Y != a.Y)
        byX = false;
    const bool reversed = side == TStartSide::Right || side == TStartSide::Bottom;
    if ((byX ? b.X < a.X : b.Y < a.Y) != reversed)
        std::swap(a, b);
    s.Start = a;
    s.Stop = b;
    s.Points = TTrailPoints{Whole(s.Start), Whole(s.Stop), Whole(s.InLine)};
    return s;
}

} // namespace vinsk
