#include "drive/DriveAnalysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <numbers>
#include <numeric>

#include <fftw3.h>

#include "common/MathFaults.h"
#include "common/NumText.h"

namespace vinsk {

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;
constexpr long double ArcsecPerRad = 206264.80624709636L;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------- geometry

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

// The exact circumcircle (the plotting run's circle rounds its centre to
// whole pixels; photometry wants the arc itself). Nearly collinear points
// give the straight line from START to STOP.
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
    const long double g = 2 * (x1 * (y2 - y3) + x2 * (y3 - y1) + x3 * (y1 - y2));
    // Sag of IN-LINE off the chord; below 0.05 px the line is as good as any circle.
    const long double sag = fabsl((x3 - x1) * arc.Uy - (y3 - y1) * arc.Ux);
    if (g == 0 || sag < 0.05L) {
        arc.Line = true;
        arc.Length = chord;
        return true;
    }
    const long double s1 = x1 * x1 + y1 * y1, s2 = x2 * x2 + y2 * y2, s3 = x3 * x3 + y3 * y3;
    arc.Cx = (s1 * (y2 - y3) + s2 * (y3 - y1) + s3 * (y1 - y2)) / g;
    arc.Cy = (s1 * (x3 - x2) + s2 * (x1 - x3) + s3 * (x2 - x1)) / g;
    arc.R = hypotl(x1 - arc.Cx, y1 - arc.Cy);
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

template <class T>
long double Median(T* first, T* last)
{
    if (first == last)
        return 0;
    const std::size_t n = static_cast<std::size_t>(last - first), m = n / 2;
    std::nth_element(first, first + m, last);
    long double med = first[m];
    if (n % 2 == 0)
        med = (med + *std::max_element(first, first + m)) / 2;
    return med;
}

template <class T>
long double Median(std::vector<T>& v)
{
    return Median(v.data(), v.data() + v.size());
}

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

// ------------------------------------------------------------ least squares

// Columns: 1, tau, [tau^2], then cos/sin of K harmonics of P, tau = (t - mid) / half.
constexpr int MaxK = 50;

struct TIncrementNoise;

struct TFit {
    int Degree = 1, K = 0;
    long double P = 0, T0 = 0, Mid = 0, Half = 1;
    std::vector<long double> Coef;
    long double Rss = 0;
    std::shared_ptr<const TIncrementNoise> Noise; // for the uncertainties, when asked for
    bool Ok = false;

    int Columns() const { return Degree + 1 + 2 * K; }
    // cos and sin of i w for i = 1..K, w = 2 pi (t - T0) / P, by the angle
    // addition recurrence from one reduced angle. In double: the extended
    // format's sine reduces every argument the slow way, and made the fits
    // the costliest part of the analysis; the basis needs no more than
    // double's sixteen digits.
    void Harmonics(double t, double* c, double* s) const
    {
        double turns = static_cast<double>((t - T0) / P);
        turns -= std::floor(turns);
        const double w = static_cast<double>(2 * Pi) * turns, c1 = std::cos(w), s1 = std::sin(w);
        double ci = c1, si = s1;
        for (int i = 1; i <= K; ++i) {
            c[i] = ci;
            s[i] = si;
            const double cn = ci * c1 - si * s1;
            si = si * c1 + ci * s1;
            ci = cn;
        }
    }
    void Row(double t, double* a) const
    {
        const double tau = static_cast<double>((t - Mid) / Half);
        double p = 1;
        for (int d = 0; d <= Degree; ++d, p *= tau)
            a[d] = p;
        double c[MaxK + 1], s[MaxK + 1];
        Harmonics(t, c, s);
        for (int i = 1; i <= K; ++i) {
            a[Degree + 2 * i - 1] = c[i];
            a[Degree + 2 * i] = s[i];
        }
    }
    long double Poly(long double t) const
    {
        const long double tau = (t - Mid) / Half;
        long double p = 1, s = 0;
        for (int d = 0; d <= Degree; ++d, p *= tau)
            s += Coef[d] * p;
        return s;
    }
    // In double: a handful of terms of the size of the error, evaluated at
    // every step.
    long double Periodic(long double t) const
    {
        double c[MaxK + 1], s[MaxK + 1];
        double sum = 0;
        Harmonics(static_cast<double>(t), c, s);
        for (int i = 1; i <= K; ++i)
            sum += static_cast<double>(Coef[Degree + 2 * i - 1]) * c[i] + static_cast<double>(Coef[Degree + 2 * i]) * s[i];
        return sum;
    }
    long double PeriodicRate(long double t) const
    {
        double c[MaxK + 1], s[MaxK + 1];
        long double sum = 0;
        Harmonics(static_cast<double>(t), c, s);
        for (int i = 1; i <= K; ++i)
            sum += 2 * Pi * i / P * (-Coef[Degree + 2 * i - 1] * s[i] + Coef[Degree + 2 * i] * c[i]);
        return sum;
    }
    // The amplitude of harmonic i.
    long double Amplitude(int i) const { return hypotl(Coef[Degree + 2 * i - 1], Coef[Degree + 2 * i]); }
    // The slope of the polynomial at the record's middle, per second.
    long double Slope() const { return Degree >= 1 ? Coef[1] / Half : 0; }
};

// Solves the m x m system (row-major) by Gaussian elimination with partial
// pivoting; false when it is singular. Overwrites a and b.
bool Solve(std::vector<long double>& a, std::vector<long double>& b, int m, std::vector<long double>& x)
{
    for (int col = 0; col < m; ++col) {
        int piv = col;
        for (int r = col + 1; r < m; ++r)
            if (fabsl(a[r * m + col]) > fabsl(a[piv * m + col]))
                piv = r;
        if (fabsl(a[piv * m + col]) < 1e-14L * (1 + fabsl(a[0])))
            return false;
        if (piv != col) {
            for (int c = 0; c < m; ++c)
                std::swap(a[col * m + c], a[piv * m + c]);
            std::swap(b[col], b[piv]);
        }
        for (int r = col + 1; r < m; ++r) {
            const long double q = a[r * m + col] / a[col * m + col];
            for (int c = col; c < m; ++c)
                a[r * m + c] -= q * a[col * m + c];
            b[r] -= q * b[col];
        }
    }
    x.assign(m, 0);
    for (int r = m - 1; r >= 0; --r) {
        long double s = b[r];
        for (int c = r + 1; c < m; ++c)
            s -= a[r * m + c] * x[c];
        x[r] = s / a[r * m + r];
    }
    return true;
}

// Least squares through the normal equations: the columns (powers of tau in
// -1..1, cosines and sines) are of one size and nearly orthogonal, so the
// products sum in double without loss that matters, and the small system
// is solved in the extended format. The residual follows from the same
// sums: e.e - c.(A'e).
TFit FitSeries(const std::vector<double>& t, const std::vector<double>& e, int degree, int k, long double period)
{
    TFit f;
    f.Degree = degree;
    f.K = period > 0 ? std::min(k, MaxK) : 0;
    f.P = period;
    const std::size_t n = t.size();
    if (n < 3)
        return f;
    f.T0 = t.front();
    f.Mid = (t.front() + static_cast<long double>(t.back())) / 2;
    f.Half = std::max<long double>((t.back() - static_cast<long double>(t.front())) / 2, 1e-9L);
    const int m = f.Columns();
    if (static_cast<std::size_t>(m) >= n)
        return f;
    std::vector<double> sums(static_cast<std::size_t>(m) * m, 0), a(m);
    std::vector<long double> ata(static_cast<std::size_t>(m) * m, 0), atb(m, 0);
    long double ee = 0;
    for (std::size_t i = 0; i < n; ++i) {
        f.Row(t[i], a.data());
        const double ei = e[i];
        for (int r = 0; r < m; ++r) {
            atb[r] += static_cast<long double>(a[r]) * ei;
            double* row = sums.data() + r * m;
            const double ar = a[r];
            for (int c = r; c < m; ++c)
                row[c] += ar * a[c];
        }
        ee += static_cast<long double>(ei) * ei;
    }
    for (int r = 0; r < m; ++r)
        for (int c = r; c < m; ++c)
            ata[r * m + c] = ata[c * m + r] = sums[r * m + c];
    const std::vector<long double> rhs = atb;
    if (!Solve(ata, atb, m, f.Coef))
        return f;
    long double explained = 0;
    for (int r = 0; r < m; ++r)
        explained += f.Coef[r] * rhs[r];
    f.Rss = std::max(0.0L, ee - explained);
    f.Ok = true;
    return f;
}

// Means of blocks of consecutive samples, about `count` of them (all the
// samples when they are fewer).
void BlockMeans(const std::vector<double>& t, const std::vector<double>& e, std::size_t count, std::vector<double>& tOut,
                std::vector<double>& eOut)
{
    const std::size_t block = std::max<std::size_t>(1, t.size() / std::max<std::size_t>(count, 1));
    tOut.clear();
    eOut.clear();
    for (std::size_t a = 0; a < t.size(); a += block) {
        const std::size_t z = std::min(t.size(), a + block);
        long double st = 0, se = 0;
        for (std::size_t i = a; i < z; ++i) {
            st += t[i];
            se += e[i];
        }
        tOut.push_back(static_cast<double>(st / (z - a)));
        eOut.push_back(static_cast<double>(se / (z - a)));
    }
}

// What the uncertainties of a fit to the increments need: the light of the
// steps left out at the two ends enters the time scale of every step.
struct TDriftNoiseContext {
    long double Exposure = 0;     // s
    std::size_t StepsOutside = 0; // steps of the walk outside the fitted ones
};

// Kept from a fit to the increments for its uncertainties.
struct TIncrementNoise {
    int M = 0;                       // columns without the intercept
    std::vector<double> A, W, Dt;    // per increment: its columns, weight and time step
    std::vector<long double> Normal; // the normal matrix, M x M
    long double Lrv = std::numeric_limits<long double>::quiet_NaN(); // long-run variance per step
    TDriftNoiseContext Context;
};

// The long-run variance per step of the increments' noise. The noise of
// neighbouring steps is shared (interpolation, the background smoothed over
// 41 steps), so it comes from the sums of the residuals over blocks of 50
// steps: longer than that sharing, and short beside the worm's harmonics,
// whose fit takes the slowest part of the noise out of the residuals. The
// increments need a few such blocks; with fewer it is unknown (NaN).
long double LongRunVariance(const std::vector<double>& a, const std::vector<double>& d,
                            const std::vector<long double>& x)
{
    const int m = static_cast<int>(x.size());
    const std::size_t n = d.size();
    constexpr std::size_t Block = 50;
    if (n < 2 * Block)
        return std::numeric_limits<long double>::quiet_NaN();
    const std::vector<double> xd(x.begin(), x.end());
    long double blockSum = 0, lrv = 0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double* ai = a.data() + i * static_cast<std::size_t>(m);
        double fitted = 0;
        for (int r = 0; r < m; ++r)
            fitted += xd[r] * ai[r];
        blockSum += d[i] - fitted;
        if ((i + 1) % Block == 0) {
            lrv += blockSum * blockSum;
            blockSum = 0;
            used += Block;
        }
    }
    return lrv / static_cast<long double>(used);
}

// The covariances of two coefficients of a fit to the increments (columns j
// and l, 0 the line's, 2i - 1 and 2i the cosine and sine of harmonic i), from
// the photometry's noise with the worm period taken as exact: {jj, ll, jl}.
// A coefficient is a linear sum of the increments, sum c_i de_i. Each
// increment's noise is the step's own, eps_i, less its share dt_i / T of the
// whole walk's noise (the times are fractions of the total light), so the
// coefficient's noise is
//   sum_fitted (c_i - kappa) eps_i - kappa sum_outside eps_j,
//   kappa = sum c_i dt_i / T.
// Over 12 noise draws of ten rendered trails the drift's uncertainty came
// within a fifth of its scatter.
std::array<long double, 3> Covariances(const TFit& f, int j, int l)
{
    const long double nan = std::numeric_limits<long double>::quiet_NaN();
    const TIncrementNoise* noise = f.Noise.get();
    if (noise == nullptr || !std::isfinite(noise->Lrv) || !(noise->Context.Exposure > 0))
        return {nan, nan, nan};
    const int m = noise->M;
    // Rows j and l of the inverse normal matrix.
    auto inverseRow = [&](int column, std::vector<long double>& z) {
        std::vector<long double> normal = noise->Normal, unit(m, 0);
        unit[column] = 1;
        return Solve(normal, unit, m, z);
    };
    std::vector<long double> zj, zl;
    if (!inverseRow(j, zj) || (j != l && !inverseRow(l, zl)))
        return {nan, nan, nan};
    if (j == l)
        zl = zj;
    // The weights c in double: an uncertainty needs no more, and these sums
    // run over every increment.
    const std::vector<double> zjd(zj.begin(), zj.end()), zld(zl.begin(), zl.end());
    const std::size_t n = noise->W.size();
    long double sjj = 0, sll = 0, sjl = 0, sj = 0, sl = 0, kj = 0, kl = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double* ai = noise->A.data() + i * static_cast<std::size_t>(m);
        double cj = 0, cl = 0;
        for (int r = 0; r < m; ++r) {
            cj += zjd[r] * ai[r];
            cl += zld[r] * ai[r];
        }
        cj *= noise->W[i];
        cl *= noise->W[i];
        sjj += cj * cj;
        sll += cl * cl;
        sjl += cj * cl;
        sj += cj;
        sl += cl;
        kj += cj * noise->Dt[i];
        kl += cl * noise->Dt[i];
    }
    kj /= noise->Context.Exposure;
    kl /= noise->Context.Exposure;
    const auto all = static_cast<long double>(n + noise->Context.StepsOutside);
    // sum over the fitted increments of (c - kappa)(c' - kappa'), plus the
    // steps outside.
    return {noise->Lrv * (sjj - 2 * kj * sj + all * kj * kj), noise->Lrv * (sll - 2 * kl * sl + all * kl * kl),
            noise->Lrv * (sjl - kl * sj - kj * sl + all * kj * kl)};
}

// The drift's standard deviation (per second).
long double SlopeSigma(const TFit& f)
{
    return sqrtl(Covariances(f, 0, 0)[0]) / f.Half;
}

// The standard deviation of harmonic i's amplitude: its variance along the
// direction of its (cosine, sine) coefficients.
long double AmplitudeSigma(const TFit& f, int i)
{
    const std::array<long double, 3> v = Covariances(f, 2 * i - 1, 2 * i);
    const long double c = f.Coef[f.Degree + 2 * i - 1], sn = f.Coef[f.Degree + 2 * i], amp = hypotl(c, sn);
    if (!(amp > 0))
        return sqrtl((v[0] + v[1]) / 2);
    return sqrtl((c * c * v[0] + sn * sn * v[1] + 2 * c * sn * v[2]) / (amp * amp));
}

// The model (line plus K harmonics of the period) fitted to the error's
// increments from step to step. The error is a running sum of the light, so
// the photometry's noise makes it a random walk whose neighbours share
// almost all their noise, pinned at the trail's two ends by the total; the
// increments carry independent noise, which is what least squares assumes.
// Fitted to the error itself, the walk's slow wander moved the drift by 5 to
// 9 % of a 0.01"/s drift and the period by up to half a per cent.
//
// Each increment is weighted by the inverse of its time step, which is the
// least-squares fit of the rate: the time steps come from the same light as
// the increments (a step with more light lasts longer and gains less on the
// nominal rate), and unweighted, that shared noise biased the drift by the
// light's relative variance times the mount speed, a quarter of the drift
// on an undersampled trail. Weighted, the drift term rests on the sums of
// the increments and of the time steps, which the pinned ends hold.
//
// The intercept, which the increments cannot see, makes the model's mean
// the error's mean; Rss is the weighted residual of the increments.
TFit FitIncrements(const std::vector<double>& t, const std::vector<double>& e, int k, long double period,
                   const TDriftNoiseContext* noise = nullptr)
{
    TFit f;
    f.Degree = 1;
    f.K = std::min(k, MaxK);
    f.P = period;
    const std::size_t n = t.size();
    const int m = f.Columns() - 1; // the intercept drops out
    if (n < 4 || static_cast<std::size_t>(m) + 1 >= n)
        return f;
    f.T0 = t.front();
    f.Mid = (t.front() + static_cast<long double>(t.back())) / 2;
    f.Half = std::max<long double>((t.back() - static_cast<long double>(t.front())) / 2, 1e-9L);
    // Sums in double, as FitSeries: the columns are of one size, and these
    // loops run some forty times in a period search.
    std::vector<double> sums(static_cast<std::size_t>(m) * m, 0), prev(m + 1), cur(m + 1), a(m), atbSum(m, 0);
    std::vector<long double> ata(static_cast<std::size_t>(m) * m, 0), atb(m, 0);
    long double dd = 0;
    // Column sums over every step, for the intercept.
    std::vector<double> colSum(m + 1, 0);
    long double eSum = e[0];
    // Kept for the uncertainties: each increment's columns, weight, time step
    // and value.
    std::vector<double> keptA, keptW, keptDt, keptD;
    if (noise) {
        keptA.reserve(n * static_cast<std::size_t>(m));
        keptW.reserve(n);
        keptDt.reserve(n);
        keptD.reserve(n);
    }
    std::size_t from = 0; // the increment runs from the last step that came before in time
    f.Row(t[0], prev.data());
    for (int r = 0; r <= m; ++r)
        colSum[r] += prev[r];
    for (std::size_t i = 1; i < n; ++i) {
        eSum += e[i];
        f.Row(t[i], cur.data());
        for (int r = 0; r <= m; ++r)
            colSum[r] += cur[r];
        const double dt = t[i] - t[from];
        if (!(dt > 0))
            continue; // a step that gathered no light: the next increment spans it
        for (int r = 0; r < m; ++r)
            a[r] = cur[r + 1] - prev[r + 1];
        const double di = e[i] - e[from], w = 1 / dt;
        dd += static_cast<long double>(di) * di * w;
        for (int r = 0; r < m; ++r) {
            const double ar = a[r] * w;
            atbSum[r] += ar * di;
            double* row = sums.data() + r * m;
            for (int c = r; c < m; ++c)
                row[c] += ar * a[c];
        }
        if (noise) {
            keptA.insert(keptA.end(), a.begin(), a.end());
            keptW.push_back(w);
            keptDt.push_back(dt);
            keptD.push_back(di);
        }
        std::swap(prev, cur);
        from = i;
    }
    for (int r = 0; r < m; ++r) {
        atb[r] = atbSum[r];
        for (int c = r; c < m; ++c)
            ata[r * m + c] = ata[c * m + r] = sums[r * m + c];
    }
    const std::vector<long double> rhs = atb, normal = ata;
    std::vector<long double> x;
    if (!Solve(ata, atb, m, x))
        return f;
    long double explained = 0;
    for (int r = 0; r < m; ++r)
        explained += x[r] * rhs[r];
    f.Rss = std::max(0.0L, dd - explained);
    f.Coef.assign(m + 1, 0);
    std::copy(x.begin(), x.end(), f.Coef.begin() + 1);
    long double fitted = 0;
    for (int r = 1; r <= m; ++r)
        fitted += f.Coef[r] * colSum[r];
    f.Coef[0] = (eSum - fitted) / static_cast<long double>(n);
    f.Ok = true;
    if (noise) {
        auto kept = std::make_shared<TIncrementNoise>();
        kept->M = m;
        kept->Lrv = LongRunVariance(keptA, keptD, x);
        kept->A = std::move(keptA);
        kept->W = std::move(keptW);
        kept->Dt = std::move(keptDt);
        kept->Normal = normal;
        kept->Context = *noise;
        f.Noise = std::move(kept);
    }
    return f;
}

long double IncrementRss(const std::vector<double>& t, const std::vector<double>& e, int k, long double period)
{
    const TFit f = FitIncrements(t, e, k, period);
    return f.Ok ? f.Rss : std::numeric_limits<long double>::max();
}

// The worm period near a first guess: the one whose joint fit (line plus K
// harmonics) leaves the least residual in the increments. The spectral peak
// alone is off by about a percent on a two-cycle record.
long double RefinePeriod(const std::vector<double>& tFull, const std::vector<double>& peFull, int k,
                         long double guess)
{
    // The search fits a few dozen times, on block means: eight of them per
    // cycle of the highest harmonic keep its shape, and every candidate
    // period sees the same (slight) smoothing, so the minimum stays where it
    // is. At least 200 blocks, as many as the steps when they are fewer.
    const long double record = tFull.back() - static_cast<long double>(tFull.front());
    const auto wanted = static_cast<std::size_t>(
        std::clamp<long double>(ceill(8 * std::min(k, MaxK) * record / guess), 200, 4000));
    std::vector<double> t, pe;
    BlockMeans(tFull, peFull, wanted, t, pe);
    auto rss = [&](long double p) { return IncrementRss(t, pe, k, p); };
    // A grid over +-10 % in steps of 2 % finds the basin (a two-cycle
    // record's is some 20 % wide), then golden sections narrow it to 1e-4 of
    // the period, a tenth of what the noise allows at best.
    long double lo = guess * 0.9L, hi = guess * 1.1L;
    const int grid = 10;
    long double best = guess, bestRss = rss(guess);
    for (int i = 0; i <= grid; ++i) {
        const long double p = lo + (hi - lo) * i / grid, r = rss(p);
        if (r < bestRss) {
            bestRss = r;
            best = p;
        }
    }
    const long double step = (hi - lo) / grid;
    lo = best - step;
    hi = best + step;
    const long double g = (sqrtl(5.0L) - 1) / 2;
    long double a = hi - g * (hi - lo), b = lo + g * (hi - lo), ra = rss(a), rb = rss(b);
    while (hi - lo > 1e-4L * guess) {
        if (ra < rb) {
            hi = b;
            b = a;
            rb = ra;
            a = hi - g * (hi - lo);
            ra = rss(a);
        } else {
            lo = a;
            a = b;
            ra = rb;
            b = lo + g * (hi - lo);
            rb = rss(b);
        }
    }
    const long double p = (lo + hi) / 2;
    return rss(p) <= bestRss ? p : best;
}

// ----------------------------------------------------------------- spectrum

struct TSpectrum {
    long double Threshold = 0; // of a peak
    std::vector<double> Period, Amplitude;
    std::vector<TDrivePeak> Peaks;
};

TSpectrum PeriodSpectrum(const std::vector<double>& t, const std::vector<double>& e)
{
    TSpectrum out;
    const std::size_t n = t.size();
    if (n < 8 || !(t.back() > t.front()))
        return out;
    const long double record = t.back() - static_cast<long double>(t.front());
    const long double dt = record / static_cast<long double>(n - 1);
    // Uniform resampling, mean removed, Hann window.
    std::vector<long double> u(n);
    std::size_t j = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long double ti = t.front() + dt * i;
        while (j + 2 < n && t[j + 1] < ti)
            ++j;
        const long double span = t[j + 1] - static_cast<long double>(t[j]);
        const long double w = span > 0 ? std::clamp<long double>((ti - t[j]) / span, 0, 1) : 0;
        u[i] = e[j] + w * (e[j + 1] - static_cast<long double>(e[j]));
    }
    const long double mean = std::accumulate(u.begin(), u.end(), 0.0L) / n;
    std::size_t pow2 = 1;
    while (pow2 < n)
        pow2 <<= 1;
    const std::size_t m = 4 * pow2;
    double* in = fftw_alloc_real(m);
    fftw_complex* spec = fftw_alloc_complex(m / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(m), in, spec, FFTW_ESTIMATE);
    long double wsum = 0;
    for (std::size_t i = 0; i < m; ++i) {
        if (i < n) {
            // The window in double: the extended cosine reduces its
            // argument the slow way, and cost more than the transform.
            const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1));
            wsum += w;
            in[i] = static_cast<double>((u[i] - mean) * w);
        } else {
            in[i] = 0;
        }
    }
    fftw_execute(plan);
    // One-sided amplitude: a sine of amplitude A reads A at its peak. The
    // bins in double: there are tens of thousands of them, and a plotted
    // amplitude or period needs no more.
    const std::size_t bins = m / 2 + 1;
    std::vector<double> amp(bins);
    const double scale = static_cast<double>(2 / wsum);
    for (std::size_t k = 0; k < bins; ++k)
        amp[k] = scale * std::sqrt(spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1]);
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(spec);

    const long double df = 1 / (dt * m);
    const double dfd = static_cast<double>(df);
    out.Period.resize(bins - 1);
    out.Amplitude.resize(bins - 1);
    for (std::size_t k = 1; k < bins; ++k) {
        out.Period[bins - 1 - k] = 1 / (dfd * static_cast<double>(k)); // longest period first
        out.Amplitude[bins - 1 - k] = amp[k];
    }

    // Peaks: local maxima above the noise floor, periods within the record.
    const auto firstInRecord = std::max<std::size_t>(1, static_cast<std::size_t>(ceill(1 / (df * record))));
    if (firstInRecord >= bins)
        return out;
    std::vector<double> floorv(amp.begin() + static_cast<std::ptrdiff_t>(firstInRecord), amp.end());
    const long double top = *std::max_element(floorv.begin(), floorv.end());
    const long double threshold = std::max(4 * Median(floorv), 0.02L * top);
    out.Threshold = threshold;
    for (std::size_t k = 2; k + 1 <= m / 2; ++k) {
        if (!(amp[k] > amp[k - 1] && amp[k] >= amp[k + 1]) || amp[k] < threshold)
            continue;
        const long double a = amp[k - 1], b = amp[k], c = amp[k + 1];
        const long double den = a - 2 * b + c;
        const long double d = den != 0 ? std::clamp<long double>(0.5L * (a - c) / den, -0.5L, 0.5L) : 0;
        const long double period = 1 / (df * (k + d));
        if (period > record)
            continue;
        TDrivePeak p;
        p.Period = static_cast<double>(period);
        p.Amplitude = static_cast<double>(b - 0.25L * (a - c) * d);
        p.PeakToPeak = 2 * p.Amplitude;
        out.Peaks.push_back(p);
    }
    std::sort(out.Peaks.begin(), out.Peaks.end(),
              [](const TDrivePeak& x, const TDrivePeak& y) { return x.Amplitude > y.Amplitude; });
    if (out.Peaks.size() > 12)
        out.Peaks.resize(12);
    return out;
}

// ---------------------------------------------------------------- statistics

// Centred moving average over a time window.
std::vector<double> SmoothOver(const std::vector<double>& t, const std::vector<double>& e, long double window)
{
    const std::size_t n = t.size();
    std::vector<long double> pre(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        pre[i + 1] = pre[i] + e[i];
    std::vector<double> out(n);
    std::size_t a = 0, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (t[a] < t[i] - window / 2)
            ++a;
        while (b < n && t[b] <= t[i] + window / 2)
            ++b;
        out[i] = static_cast<double>((pre[b] - pre[a]) / static_cast<long double>(b - a));
    }
    return out;
}

TDriveStats Statistics(const std::vector<double>& t, const std::vector<double>& e, long double period,
                       long double tolerance)
{
    TDriveStats s;
    const std::size_t n = t.size();
    s.Tolerance = static_cast<double>(tolerance);
    if (n < 2)
        return s;
    const long double record = t.back() - static_cast<long double>(t.front());
    s.SmoothWindow = static_cast<double>(std::max(2.0L, 0.005L * record));
    s.RateWindow = static_cast<double>(std::max(5.0L, period > 0 ? period / 20 : 0));

    const long double mean = std::accumulate(e.begin(), e.end(), 0.0L) / n;
    long double ss = 0;
    for (double v : e)
        ss += (v - mean) * (v - mean);
    s.Rms = static_cast<double>(sqrtl(ss / n));

    const std::vector<double> sm = SmoothOver(t, e, s.SmoothWindow);
    const auto [mn, mx] = std::minmax_element(sm.begin(), sm.end());
    s.PeakToPeak = *mx - *mn;
    s.MaxPlus = static_cast<double>(*mx - mean);
    s.MaxMinus = static_cast<double>(*mn - mean);

    // Rate: slope of the local least-squares line over RateWindow.
    std::vector<long double> pt(n + 1, 0), pe(n + 1, 0), ptt(n + 1, 0), pte(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const long double ti = t[i] - static_cast<long double>(t.front());
        pt[i + 1] = pt[i] + ti;
        pe[i + 1] = pe[i] + e[i];
        ptt[i + 1] = ptt[i] + ti * ti;
        pte[i + 1] = pte[i] + ti * e[i];
    }
    const long double half = std::min<long double>(s.RateWindow / 2, record / 2);
    long double maxRate = 0;
    std::size_t a = 0, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i] - half < t.front() - 1e-9 || t[i] + half > t.back() + 1e-9)
            continue; // only whole windows
        while (t[a] < t[i] - half)
            ++a;
        while (b < n && t[b] <= t[i] + half)
            ++b;
        const long double c = b - a;
        const long double st = pt[b] - pt[a], se = pe[b] - pe[a], stt = ptt[b] - ptt[a], ste = pte[b] - pte[a];
        const long double den = c * stt - st * st;
        if (c >= 3 && den > 0)
            maxRate = std::max(maxRate, fabsl((c * ste - st * se) / den));
    }
    s.MaxRate = static_cast<double>(maxRate);

    // Longest window whose smoothed error stays within the tolerance.
    std::deque<std::size_t> hiQ, loQ;
    std::size_t left = 0;
    long double longest = 0;
    for (std::size_t r = 0; r < n; ++r) {
        while (!hiQ.empty() && sm[hiQ.back()] <= sm[r])
            hiQ.pop_back();
        hiQ.push_back(r);
        while (!loQ.empty() && sm[loQ.back()] >= sm[r])
            loQ.pop_back();
        loQ.push_back(r);
        while (sm[hiQ.front()] - sm[loQ.front()] > tolerance) {
            ++left;
            while (hiQ.front() < left)
                hiQ.pop_front();
            while (loQ.front() < left)
                loQ.pop_front();
        }
        longest = std::max<long double>(longest, t[r] - static_cast<long double>(t[left]));
    }
    s.LongestExposure = static_cast<double>(longest);
    return s;
}

std::string Percent(long double fraction)
{
    return std::to_string(static_cast<long long>(std::llround(static_cast<double>(fraction * 100)))) + " %";
}

TDriveResult Refuse(const std::string& message)
{
    TDriveResult r;
    r.Refused = true;
    r.Message = message;
    return r;
}

} // namespace

const char* WormSourceName(TWormSource s)
{
    switch (s) {
    case TWormSource::Given:
        return "given";
    case TWormSource::Estimated:
        return "estimated";
    case TWormSource::None:
        break;
    }
    return "none";
}

namespace {

TDriveResult Analyse(const TSampleSource& samples, const TDriveInput& in)
{
    const TExperiment& e = in.Setup;
    const TDriveSettings& set = in.Settings;
    if (samples.Width() <= 0 || samples.Height() <= 0)
        return Refuse("There is no picture to analyse: open the exposure first");
    if (!(e.FocalLength > 0) || !(e.StarDistance > e.FocalLength) || !(e.PixelWidth > 0) ||
        !(e.PixelHeight > 0) || !(e.ExposureTime > 0) || !(e.MountSpeed > 0))
        return Refuse("The Setup values give no angle per pixel: the distance must exceed the focal length, and "
                      "the pixel size, focal length, exposure and mount speed must be positive");
    if (!DriveSettingsValid(set))
        return Refuse("The drive settings are out of range: harmonics 1 to " + std::to_string(MaxDriveHarmonics) +
                      ", a positive tolerance, a half-width of 0 to " + FloatText(MaxDriveHalfWidth) +
                      " px and a worm period of 0 to " + FloatText(MaxDriveWormPeriod) + " s");
    TArc arc;
    if (!MakeArc(in, arc))
        return Refuse("START and STOP are too close together: place them at the two ends of the trail");

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
        return Refuse("The trail leaves the picture along " + Percent(out) +
                      " of its length: place START and STOP on the trail inside the picture, or use a picture "
                      "that holds the whole trail");
    }
    const long double typical = Median(fluxes);
    if (!(typical > 0))
        return Refuse("There is no trail along the arc through START, IN-LINE and STOP: place the three check "
                      "points on the trail's crest");
    std::vector<long double> widths;
    for (const TCross& c : across)
        if (c.Inside && c.Flux > 0.5L * typical && c.Peak > 0)
            widths.push_back(c.Flux / c.Peak / sqrtl(2 * Pi) * 2.3548200450309493L);
    if (widths.size() < 3)
        return Refuse("There is no trail along the arc through START, IN-LINE and STOP: place the three check "
                      "points on the trail's crest");
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
        return Refuse("The trail leaves the picture along " + Percent(static_cast<long double>(outsideAcross) / core) +
                      " of its length: place START and STOP on the trail inside the picture, or use a picture "
                      "that holds the whole trail");
    if (endCut)
        return Refuse("The trail runs into the edge of the picture beyond START or STOP, so its end is missing: "
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
            return Refuse("There is no trail along the arc through START, IN-LINE and STOP: place the three check "
                          "points on the trail's crest");
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
    TDriveResult r;
    r.SaturatedFraction = static_cast<double>(static_cast<long double>(saturatedCore) / core);
    r.OutsideFraction = static_cast<double>(static_cast<long double>(outsideCore) / core);
    if (r.OutsideFraction > 0.02)
        return Refuse("The trail leaves the picture along " + Percent(r.OutsideFraction) +
                      " of its length: place START and STOP on the trail inside the picture, or use a picture "
                      "that holds the whole trail");
    if (r.SaturatedFraction > 0.02)
        return Refuse("The trail is saturated along " + Percent(r.SaturatedFraction) +
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
            return Refuse("There is no trail along the arc through START, IN-LINE and STOP: place the three check "
                          "points on the trail's crest");
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

    // Time and error.
    long double total = 0;
    for (long double x : b)
        total += x;
    if (!(total > 0))
        return Refuse("There is no trail along the arc through START, IN-LINE and STOP: place the three check "
                      "points on the trail's crest");
    const long double T = e.ExposureTime, w0 = e.MountSpeed;
    r.Exposure = e.ExposureTime;
    r.Fwhm = static_cast<double>(fwhm);
    r.HalfWidth = m;
    r.Flux.resize(steps);
    r.Time.resize(steps);
    r.PE.resize(steps);
    long double cum = 0, angle = 0, alphaSum = 0;
    for (std::size_t k = 0; k < steps; ++k) {
        const long double t = T * cum / total;
        r.Time[k] = StoreD(t);
        r.PE[k] = StoreD(angle - w0 * t);
        r.Flux[k] = StoreD(b[k]);
        cum += b[k];
        angle += alpha[k];
        alphaSum += alpha[k];
    }
    r.ArcsecPerStep = StoreD(alphaSum / steps);

    // The statistics leave out the ends: from 2 FWHM inside the points where
    // the light reaches half its typical level.
    {
        std::vector<long double> smooth = RunningMean(b, 2);
        std::size_t first = 0, last = steps - 1;
        while (first < steps && smooth[first] < 0.5L * typical)
            ++first;
        while (last > first && smooth[last] < 0.5L * typical)
            --last;
        const auto margin = static_cast<std::size_t>(ceill(2 * fwhm)) + 2;
        if (last < first + 2 * margin + 16)
            return Refuse("The trail is too short to analyse: it needs at least " + std::to_string(2 * margin + 16) +
                          " px between its ends");
        r.TrimFirst = first + margin;
        r.TrimLast = last - margin;
        r.TrimmedSeconds = StoreD(r.Time[r.TrimFirst] + (T - r.Time[r.TrimLast]));
    }
    std::vector<double> tt(r.Time.begin() + r.TrimFirst, r.Time.begin() + r.TrimLast + 1);
    std::vector<double> pe(r.PE.begin() + r.TrimFirst, r.PE.begin() + r.TrimLast + 1);
    r.Record = tt.back() - tt.front();
    const int K = set.Harmonics;

    // Worm period: given, or from the strongest spectral peak of the
    // line-free error when the record holds 1.5 of its cycles, refined by
    // the joint fit.
    long double period = 0;
    if (set.WormPeriod > 0) {
        period = set.WormPeriod;
        r.WormSource = TWormSource::Given;
    } else {
        const TFit line = FitSeries(tt, pe, 1, 0, 0);
        if (line.Ok) {
            std::vector<double> lf(pe.size());
            const double a = static_cast<double>(line.Coef[0]), b = static_cast<double>(line.Coef[1]);
            const double mid = static_cast<double>(line.Mid), half = static_cast<double>(line.Half);
            for (std::size_t i = 0; i < pe.size(); ++i)
                lf[i] = pe[i] - (a + b * ((tt[i] - mid) / half)); // only for finding the period
            // Only the strongest long period matters here: a thousand block
            // means hold every period above a few seconds.
            std::vector<double> bt, bl;
            BlockMeans(tt, lf, 1024, bt, bl);
            const TSpectrum first = PeriodSpectrum(bt, bl);
            if (first.Peaks.empty()) {
                r.WormNote = "No periodic error stands out of the noise, so there is no worm period to estimate; "
                             "give the worm period to see the cycles and the PEC table";
            } else {
                const long double strongest = first.Peaks.front().Period;
                const long double cycles = r.Record / strongest;
                // A worm shows as a peak that carries a real share of the
                // error, not as the strongest ripple of the noise.
                long double ss = 0;
                for (double x : lf)
                    ss += static_cast<long double>(x) * x;
                const long double pureSine = sqrtl(2 * ss / lf.size());
                const bool stands = first.Peaks.front().Amplitude >= 0.3L * pureSine;
                if (!stands) {
                    r.WormNote = "No periodic error stands out of the noise, so there is no worm period to "
                                 "estimate; give the worm period to see the cycles and the PEC table";
                } else if (cycles >= 1.5L) {
                    period = RefinePeriod(tt, pe, K, strongest);
                    if (r.Record / period >= 1.5L) {
                        r.WormSource = TWormSource::Estimated;
                    } else {
                        period = 0;
                    }
                }
                if (period == 0 && stands) {
                    char buf[240];
                    std::snprintf(buf, sizeof buf,
                                  "The trail covers %.1f cycles of its strongest period (%.0f s); at least 1.5 are "
                                  "needed to estimate the worm period. Give the worm period to see the cycles and "
                                  "the PEC table",
                                  static_cast<double>(cycles), static_cast<double>(strongest));
                    r.WormNote = buf;
                }
            }
        }
    }
    r.WormPeriod = static_cast<double>(period);

    // Drift removal.
    TDetrend use = set.Detrend;
    if (use == TDetrend::Harmonic && !(period > 0 && r.Record >= 2 * period)) {
        use = TDetrend::Line;
        r.Notes.push_back(period > 0 ? "The trail holds fewer than 2 worm cycles: the drift is a plain line fit"
                                     : "Without a worm period the drift is a plain line fit");
    }
    r.DetrendUsed = use;
    // The joint fit of the line and K harmonics serves the drift, the
    // harmonics' amplitudes and the PEC curve.
    const TDriftNoiseContext noise{T, r.Time.size() - tt.size()};
    const TFit harmonicFit = period > 0 ? FitIncrements(tt, pe, K, period, &noise) : TFit{};
    TFit trend;
    switch (use) {
    case TDetrend::None:
        break;
    case TDetrend::Line:
        trend = FitSeries(tt, pe, 1, 0, 0);
        break;
    case TDetrend::Quadratic:
        trend = FitSeries(tt, pe, 2, 0, 0);
        break;
    case TDetrend::Harmonic:
        trend = harmonicFit;
        break;
    }
    if (use != TDetrend::None && !trend.Ok)
        return Refuse("The drift could not be fitted: the trail has too few steps for the harmonics asked for");
    r.T = tt;
    r.Error.resize(pe.size());
    for (std::size_t i = 0; i < pe.size(); ++i)
        r.Error[i] = StoreD(use == TDetrend::None ? pe[i] : pe[i] - trend.Poly(tt[i]));
    if (use == TDetrend::None) {
        r.Drift = NaN;
        r.DriftPercent = NaN;
    } else {
        r.Drift = StoreD(trend.Slope());
        r.DriftPercent = StoreD(100 * trend.Slope() / w0);
    }
    const long double driftSigma = use == TDetrend::Harmonic ? SlopeSigma(trend) : NaN;
    r.DriftSigma = std::isfinite(driftSigma) ? StoreD(driftSigma) : NaN;
    r.Notes.push_back("The drift also carries any scale error of the Setup values (distance, focal length, pixel "
                      "size, exposure, mount speed)");

    r.Stats = Statistics(r.T, r.Error, period, set.Tolerance);

    // Spectrum, with the harmonics of the worm named and measured by the
    // joint fit (a short record's window smears P/2 into P).
    TSpectrum spec = PeriodSpectrum(r.T, r.Error);
    r.SpectrumPeriod = std::move(spec.Period);
    r.SpectrumAmplitude = std::move(spec.Amplitude);
    r.Peaks = std::move(spec.Peaks);
    if (period > 0) {
        int maxI = 0;
        for (TDrivePeak& p : r.Peaks) {
            const long double i = roundl(period / p.Period);
            if (i >= 1 && i <= 10 && fabsl(p.Period - period / i) <= 0.03L * period / i) {
                p.Harmonic = static_cast<int>(i);
                maxI = std::max(maxI, p.Harmonic);
            }
        }
        // One peak per harmonic: the strongest keeps the label.
        for (std::size_t a = 0; a < r.Peaks.size(); ++a)
            for (std::size_t z = a + 1; z < r.Peaks.size(); ++z)
                if (r.Peaks[z].Harmonic != 0 && r.Peaks[z].Harmonic == r.Peaks[a].Harmonic)
                    r.Peaks[z].Harmonic = 0;
        {
            const TFit joint = maxI > K ? FitIncrements(tt, pe, maxI, period, &noise) : harmonicFit;
            // Harmonics up to K that the window merged into a neighbour's
            // lobe (P/2 beside P on a two-cycle record) still get their row
            // when the joint fit finds them above the spectrum's threshold.
            for (int i = 1; joint.Ok && i <= std::min(K, 10); ++i) {
                bool listed = false;
                for (const TDrivePeak& p : r.Peaks)
                    listed = listed || p.Harmonic == i;
                const long double amp = joint.Amplitude(i);
                if (!listed && amp >= spec.Threshold && spec.Threshold > 0) {
                    TDrivePeak p;
                    p.Period = StoreD(period / i);
                    p.Harmonic = i;
                    r.Peaks.push_back(p);
                }
            }
            for (TDrivePeak& p : r.Peaks) {
                if (p.Harmonic == 0)
                    continue;
                p.Label = "P/" + std::to_string(p.Harmonic);
                if (joint.Ok) {
                    p.Amplitude = StoreD(joint.Amplitude(p.Harmonic));
                    p.PeakToPeak = 2 * p.Amplitude;
                    const long double sigma = AmplitudeSigma(joint, p.Harmonic);
                    p.AmplitudeSigma = std::isfinite(sigma) ? StoreD(sigma) : NaN;
                }
            }
            std::sort(r.Peaks.begin(), r.Peaks.end(),
                      [](const TDrivePeak& x, const TDrivePeak& y) { return x.Amplitude > y.Amplitude; });
        }
    }

    // Cycles and PEC.
    r.CycleSpreadRms = NaN;
    r.PecResidualRms = NaN;
    if (period > 0) {
        const TFit& pec = harmonicFit;
        if (pec.Ok) {
            r.PecHarmonics = K;
            // The fit's line in double, as its periodic part.
            const double lineA = static_cast<double>(pec.Coef[0]), lineB = static_cast<double>(pec.Coef[1]);
            const double mid = static_cast<double>(pec.Mid), half = static_cast<double>(pec.Half);
            long double rss = 0;
            for (std::size_t i = 0; i < tt.size(); ++i) {
                const double d = pe[i] - (lineA + lineB * ((tt[i] - mid) / half)) - static_cast<double>(pec.Periodic(tt[i]));
                rss += static_cast<long double>(d) * d;
            }
            r.PecResidualRms = StoreD(sqrtl(rss / tt.size()));
            for (int i = 1; i <= K; ++i) {
                r.PecCos.push_back(StoreD(pec.Coef[1 + 2 * i - 1]));
                r.PecSin.push_back(StoreD(pec.Coef[1 + 2 * i]));
            }
            for (long double ph = 0; ph < period; ph += 1) {
                TPecRow row;
                row.Phase = static_cast<double>(ph);
                row.Error = StoreD(pec.Periodic(tt.front() + ph));
                row.Rate = StoreD(-pec.PeriodicRate(tt.front() + ph));
                r.Pec.push_back(row);
            }
        }
        if (r.Record >= period) {
            r.CycleCount = static_cast<int>(floorl(r.Record / period + 1e-9L));
            const int bins = static_cast<int>(std::clamp<long double>(roundl(period), 16, 720));
            std::vector<long double> sum(bins, 0);
            std::vector<std::size_t> cnt(bins, 0);
            r.Phase.resize(tt.size());
            r.Cycle.resize(tt.size());
            // Phases in double: a position within one period, at every step;
            // the extended format's floor and division made this loop as
            // slow as the spectrum.
            const double periodD = static_cast<double>(period);
            for (std::size_t i = 0; i < tt.size(); ++i) {
                const double rel = tt[i] - tt.front();
                const double c = std::floor(rel / periodD);
                r.Cycle[i] = static_cast<int>(c);
                r.Phase[i] = std::max(0.0, rel - c * periodD);
                const int bin = std::min(bins - 1, static_cast<int>(r.Phase[i] / periodD * bins));
                sum[bin] += r.Error[i];
                ++cnt[bin];
            }
            for (int k = 0; k < bins; ++k)
                if (cnt[k] > 0) {
                    r.MeanCyclePhase.push_back(StoreD((k + 0.5L) * period / bins));
                    r.MeanCycleError.push_back(StoreD(sum[k] / cnt[k]));
                }
            auto meanAt = [&](long double ph) {
                const auto& P = r.MeanCyclePhase;
                const auto& E = r.MeanCycleError;
                if (P.size() == 1)
                    return static_cast<long double>(E[0]);
                auto it = std::upper_bound(P.begin(), P.end(), static_cast<double>(ph));
                std::size_t hi = it == P.end() ? P.size() - 1 : static_cast<std::size_t>(it - P.begin());
                if (hi == 0)
                    hi = 1;
                const std::size_t lo = hi - 1;
                const long double w = (ph - P[lo]) / (P[hi] - static_cast<long double>(P[lo]));
                return E[lo] + std::clamp<long double>(w, -0.5L, 1.5L) * (E[hi] - static_cast<long double>(E[lo]));
            };
            std::vector<long double> cs(r.CycleCount, 0);
            std::vector<std::size_t> cc(r.CycleCount, 0);
            long double all = 0;
            std::size_t allN = 0;
            for (std::size_t i = 0; i < tt.size(); ++i) {
                if (r.Cycle[i] >= r.CycleCount)
                    continue;
                const long double d = r.Error[i] - meanAt(r.Phase[i]);
                cs[r.Cycle[i]] += d * d;
                ++cc[r.Cycle[i]];
                all += d * d;
                ++allN;
            }
            for (int c = 0; c < r.CycleCount; ++c)
                r.CycleRms.push_back(cc[c] ? StoreD(sqrtl(cs[c] / cc[c])) : NaN);
            if (allN > 0)
                r.CycleSpreadRms = StoreD(sqrtl(all / allN));
        }
    }
    return r;
}

} // namespace

TDriveResult AnalyseDrive(const TSampleSource& samples, const TDriveInput& in)
{
    try {
        TDriveResult r = Analyse(samples, in);
        r.Setup = in.Setup;
        return r;
    } catch (const EMathError& ex) {
        return Refuse(std::string("The analysis met an arithmetic fault (") + ex.what() +
                      "): check the Setup values and the check points");
    }
}

TDriveResult AnalysePicture(const TBitmap32& bitmap, const TLinearPlane& linear, const TDriveInput& input)
{
    std::optional<TRasterSamples> raster;
    std::optional<TLinearSamples> samples;
    return AnalyseDrive(PictureSamples(bitmap, linear, raster, samples), input);
}

} // namespace vinsk
