#include "drive/DriveAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <numeric>

#include <fftw3.h>

#include "common/MathFaults.h"

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
        const long double psi = Psi0 + Sign * s / R;
        const long double c = cosl(psi), sn = sinl(psi);
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

// Bilinear reads with a one-row cache of the four pixels: consecutive
// samples of a segment mostly fall into the same or neighbouring cells.
class TSampler {
public:
    TSampler(const IDriveSamples& s, TDriveChannel c) : FS(s), FC(c), FW(s.Width()), FH(s.Height()) {}

    // false when the sample needs a pixel outside the picture. Positions and
    // weights in double: they are fractions of a pixel, and the extended
    // format's rounding instructions made this the slowest line of the walk.
    bool Read(long double xl, long double yl, long double& v, bool& saturated)
    {
        const double x = static_cast<double>(xl), y = static_cast<double>(yl);
        const double fx = std::floor(x), fy = std::floor(y);
        if (!(fx >= 0 && fy >= 0 && fx <= FW - 1 && fy <= FH - 1))
            return false; // on the last row or column exactly, the outer weight is zero
        const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
        const double ax = x - fx, ay = y - fy;
        if (ix != FX || iy != FY)
            Load(ix, iy);
        v = (1 - ay) * ((1 - ax) * FP[0] + ax * FP[1]) + ay * ((1 - ax) * FP[2] + ax * FP[3]);
        saturated = saturated || FSat;
        return true;
    }

private:
    void Load(std::int32_t ix, std::int32_t iy)
    {
        FX = ix;
        FY = iy;
        FSat = false;
        const std::int32_t x1 = ix + 1 < FW ? ix + 1 : ix, y1 = iy + 1 < FH ? iy + 1 : iy;
        FP[0] = FS.Value(ix, iy, FC, FSat);
        FP[1] = FS.Value(x1, iy, FC, FSat);
        FP[2] = FS.Value(ix, y1, FC, FSat);
        FP[3] = FS.Value(x1, y1, FC, FSat);
    }

    const IDriveSamples& FS;
    TDriveChannel FC;
    std::int32_t FW, FH;
    std::int32_t FX = -1, FY = -1;
    double FP[4] = {0, 0, 0, 0};
    bool FSat = false;
};

long double Median(std::vector<long double>& v)
{
    if (v.empty())
        return 0;
    const std::size_t m = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + m, v.end());
    long double med = v[m];
    if (v.size() % 2 == 0)
        med = (med + *std::max_element(v.begin(), v.begin() + m)) / 2;
    return med;
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

TCross LookAcross(TSampler& sampler, long double x, long double y, long double nx, long double ny)
{
    TCross c;
    long double v[2 * CrossReach + 1];
    bool sat = false;
    for (int j = -CrossReach; j <= CrossReach; ++j)
        if (!sampler.Read(x + j * nx, y + j * ny, v[j + CrossReach], sat))
            return c;
    c.Inside = true;
    std::vector<long double> edge{v[0], v[1], v[2], v[2 * CrossReach - 2], v[2 * CrossReach - 1], v[2 * CrossReach]};
    const long double bg = Median(edge);
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
    const long double a = v[best - 1] - bg, b = v[best] - bg, d = v[best + 1] - bg;
    if (a > 0 && b > 0 && d > 0) {
        const long double la = logl(a), lb = logl(b), ld = logl(d), den = la - 2 * lb + ld;
        if (den < 0)
            c.Peak = expl(lb - (la - ld) * (la - ld) / (8 * den));
    }
    c.Offset = sw > 0 ? swu / sw : 0;
    return c;
}

// ------------------------------------------------------------ least squares

// Columns: 1, tau, [tau^2], then cos/sin of K harmonics of P, tau = (t - mid) / half.
constexpr int MaxK = 50;

struct TFit {
    int Degree = 1, K = 0;
    long double P = 0, T0 = 0, Mid = 0, Half = 1;
    std::vector<long double> Coef;
    long double Rss = 0;
    bool Ok = false;

    int Columns() const { return Degree + 1 + 2 * K; }
    // cos and sin of i w for i = 1..K, w = 2 pi (t - T0) / P, by the angle
    // addition recurrence from one reduced angle (calling the library per
    // harmonic made the period search slow).
    void Harmonics(long double t, long double* c, long double* s) const
    {
        long double turns = (t - T0) / P;
        turns -= floorl(turns);
        const long double w = 2 * Pi * turns, c1 = cosl(w), s1 = sinl(w);
        long double ci = c1, si = s1;
        for (int i = 1; i <= K; ++i) {
            c[i] = ci;
            s[i] = si;
            const long double cn = ci * c1 - si * s1;
            si = si * c1 + ci * s1;
            ci = cn;
        }
    }
    void Row(long double t, long double* a) const
    {
        const long double tau = (t - Mid) / Half;
        long double p = 1;
        for (int d = 0; d <= Degree; ++d, p *= tau)
            a[d] = p;
        long double c[MaxK + 1], s[MaxK + 1];
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
    long double Periodic(long double t) const
    {
        long double c[MaxK + 1], s[MaxK + 1], sum = 0;
        Harmonics(t, c, s);
        for (int i = 1; i <= K; ++i)
            sum += Coef[Degree + 2 * i - 1] * c[i] + Coef[Degree + 2 * i] * s[i];
        return sum;
    }
    long double PeriodicRate(long double t) const
    {
        long double c[MaxK + 1], s[MaxK + 1], sum = 0;
        Harmonics(t, c, s);
        for (int i = 1; i <= K; ++i)
            sum += 2 * Pi * i / P * (-Coef[Degree + 2 * i - 1] * s[i] + Coef[Degree + 2 * i] * c[i]);
        return sum;
    }
    // The slope of the polynomial at the record's middle, per second.
    long double Slope() const { return Degree >= 1 ? Coef[1] / Half : 0; }
};

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
    std::vector<long double> ata(static_cast<std::size_t>(m) * m, 0), atb(m, 0), a(m);
    for (std::size_t i = 0; i < n; ++i) {
        f.Row(t[i], a.data());
        for (int r = 0; r < m; ++r) {
            atb[r] += a[r] * e[i];
            for (int c = r; c < m; ++c)
                ata[r * m + c] += a[r] * a[c];
        }
    }
    for (int r = 0; r < m; ++r)
        for (int c = 0; c < r; ++c)
            ata[r * m + c] = ata[c * m + r];
    // Gaussian elimination with partial pivoting.
    for (int col = 0; col < m; ++col) {
        int piv = col;
        for (int r = col + 1; r < m; ++r)
            if (fabsl(ata[r * m + col]) > fabsl(ata[piv * m + col]))
                piv = r;
        if (fabsl(ata[piv * m + col]) < 1e-14L * (1 + fabsl(ata[0])))
            return f;
        if (piv != col) {
            for (int c = 0; c < m; ++c)
                std::swap(ata[col * m + c], ata[piv * m + c]);
            std::swap(atb[col], atb[piv]);
        }
        for (int r = col + 1; r < m; ++r) {
            const long double q = ata[r * m + col] / ata[col * m + col];
            for (int c = col; c < m; ++c)
                ata[r * m + c] -= q * ata[col * m + c];
            atb[r] -= q * atb[col];
        }
    }
    f.Coef.assign(m, 0);
    for (int r = m - 1; r >= 0; --r) {
        long double s = atb[r];
        for (int c = r + 1; c < m; ++c)
            s -= ata[r * m + c] * f.Coef[c];
        f.Coef[r] = s / ata[r * m + r];
    }
    long double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long double d = e[i] - f.Poly(t[i]) - f.Periodic(t[i]);
        rss += d * d;
    }
    f.Rss = rss;
    f.Ok = true;
    return f;
}

// The worm period near a first guess: the one whose joint fit (line plus K
// harmonics) leaves the least residual. The spectral peak alone is off by
// about a percent on a two-cycle record.
long double RefinePeriod(const std::vector<double>& tFull, const std::vector<double>& peFull, int k,
                         long double guess)
{
    // The search fits about a hundred times: on block means of at most 1,000
    // points it costs little, and every candidate period sees the same
    // (tiny) smoothing, so the minimum stays where it is.
    const std::size_t block = (tFull.size() + 999) / 1000;
    std::vector<double> t, pe;
    for (std::size_t a = 0; a < tFull.size(); a += block) {
        const std::size_t z = std::min(tFull.size(), a + block);
        long double st = 0, se = 0;
        for (std::size_t i = a; i < z; ++i) {
            st += tFull[i];
            se += peFull[i];
        }
        t.push_back(static_cast<double>(st / (z - a)));
        pe.push_back(static_cast<double>(se / (z - a)));
    }
    auto rss = [&](long double p) {
        const TFit f = FitSeries(t, pe, 1, k, p);
        return f.Ok ? f.Rss : std::numeric_limits<long double>::max();
    };
    long double lo = guess * 0.9L, hi = guess * 1.1L;
    const int grid = 40;
    long double best = guess, bestRss = rss(guess);
    for (int i = 0; i <= grid; ++i) {
        const long double p = lo + (hi - lo) * i / grid, r = rss(p);
        if (r < bestRss) {
            bestRss = r;
            best = p;
        }
    }
    lo = best - (hi - lo) / grid;
    hi = best + (hi - lo) / grid;
    const long double g = (sqrtl(5.0L) - 1) / 2;
    long double a = hi - g * (hi - lo), b = lo + g * (hi - lo), ra = rss(a), rb = rss(b);
    for (int it = 0; it < 40; ++it) {
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
            const long double w = 0.5L - 0.5L * cosl(2 * Pi * i / static_cast<long double>(n - 1));
            wsum += w;
            in[i] = static_cast<double>((u[i] - mean) * w);
        } else {
            in[i] = 0;
        }
    }
    fftw_execute(plan);
    // One-sided amplitude: a sine of amplitude A reads A at its peak.
    std::vector<long double> amp(m / 2 + 1);
    for (std::size_t k = 0; k <= m / 2; ++k)
        amp[k] = 2 * hypotl(spec[k][0], spec[k][1]) / wsum;
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(spec);

    const long double df = 1 / (dt * m);
    for (std::size_t k = 1; k <= m / 2; ++k) {
        out.Period.push_back(static_cast<double>(1 / (df * k)));
        out.Amplitude.push_back(static_cast<double>(amp[k]));
    }
    std::reverse(out.Period.begin(), out.Period.end());
    std::reverse(out.Amplitude.begin(), out.Amplitude.end());

    // Peaks: local maxima above the noise floor, periods within the record.
    std::vector<long double> floorv;
    for (std::size_t k = 1; k <= m / 2; ++k)
        if (1 / (df * k) <= record)
            floorv.push_back(amp[k]);
    if (floorv.empty())
        return out;
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

double TRasterSamples::Value(std::int32_t x, std::int32_t y, TDriveChannel c, bool& saturated) const
{
    const std::uint32_t w = FBitmap.ScanLine(y)[x];
    const std::uint32_t r = ColorR(w), g = ColorG(w), b = ColorB(w);
    switch (c) {
    case TDriveChannel::Red:
        saturated = saturated || r >= 255;
        return r;
    case TDriveChannel::Green:
        saturated = saturated || g >= 255;
        return g;
    case TDriveChannel::Blue:
        saturated = saturated || b >= 255;
        return b;
    case TDriveChannel::Avg:
        break;
    }
    saturated = saturated || r >= 255 || g >= 255 || b >= 255;
    return (r + g + b) / 3.0;
}

bool ParseDetrend(const std::string& text, TDetrend& out)
{
    if (text == "none")
        out = TDetrend::None;
    else if (text == "line")
        out = TDetrend::Line;
    else if (text == "quadratic")
        out = TDetrend::Quadratic;
    else if (text == "harmonic")
        out = TDetrend::Harmonic;
    else
        return false;
    return true;
}

const char* DetrendName(TDetrend d)
{
    switch (d) {
    case TDetrend::None:
        return "none";
    case TDetrend::Line:
        return "line";
    case TDetrend::Quadratic:
        return "quadratic";
    case TDetrend::Harmonic:
        break;
    }
    return "harmonic";
}

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

TDriveResult Analyse(const IDriveSamples& samples, const TDriveInput& in)
{
    const TExperiment& e = in.Setup;
    const TDriveSettings& set = in.Settings;
    if (samples.Width() <= 0 || samples.Height() <= 0)
        return Refuse("There is no picture to analyse: open the exposure first");
    if (!(e.FocalLength > 0) || !(e.StarDistance > e.FocalLength) || !(e.PixelWidth > 0) ||
        !(e.PixelHeight > 0) || !(e.ExposureTime > 0) || !(e.MountSpeed > 0))
        return Refuse("The Setup values give no angle per pixel: the distance must exceed the focal length, and "
                      "the pixel size, focal length, exposure and mount speed must be positive");
    if (set.Harmonics < 1 || set.Harmonics > 50 || !(set.Tolerance > 0) || set.HalfWidth < 0 || set.WormPeriod < 0)
        return Refuse("The drive settings are out of range: harmonics 1 to 50, a positive tolerance, a half-width "
                      "and worm period of 0 or more");
    TArc arc;
    if (!MakeArc(in, arc))
        return Refuse("START and STOP are too close together: place them at the two ends of the trail");

    // v = f D / (D - f): the image distance of a star at D.
    const long double f = e.FocalLength, dist = e.StarDistance;
    const long double v = f * dist / (dist - f);
    auto stepAngle = [&](long double tx, long double ty) {
        return atanl(hypotl(tx * e.PixelWidth, ty * e.PixelHeight) / v) * ArcsecPerRad;
    };

    TSampler sampler(samples, in.Channel);
    const long double length = arc.Length;
    const auto core = static_cast<std::size_t>(floorl(length)) + 1; // steps START..STOP

    // Pass 1: look across the trail along START..STOP for the crest and the width.
    std::vector<TCross> across(core);
    for (std::size_t k = 0; k < core; ++k) {
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
        long double x, y, tx, ty;
        const long double s = s0 + k;
        arc.At(s, x, y, tx, ty);
        const std::size_t c = static_cast<std::size_t>(k) - static_cast<std::size_t>(before);
        TCross cr;
        if (s >= 0 && c < core)
            cr = across[c];
        else
            cr = LookAcross(sampler, x, y, -ty, tx);
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
    std::vector<long double> bandValues;
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
    for (std::size_t k = 0; k < steps; ++k) {
        const std::size_t a = k > 0 ? k - 1 : k, z = k + 1 < steps ? k + 1 : k;
        const long double dx = (crestX[z] - crestX[a]) / (z - a), dy = (crestY[z] - crestY[a]) / (z - a);
        alpha[k] = stepAngle(dx, dy);
    }
    for (std::size_t k = 0; k < steps; ++k) {
        const long double s = s0 + k;
        const long double nx = normX[k], ny = normY[k];
        const long double cx = crestX[k], cy = crestY[k];
        bool sat = false, outside = false;
        long double sum = 0;
        for (int j = -m; j <= m; ++j) {
            long double val;
            if (sampler.Read(cx + j * nx, cy + j * ny, val, sat))
                sum += val;
            else
                outside = true;
        }
        bandValues.clear();
        for (int side = -1; side <= 1; side += 2)
            for (int j = m + gap; j < m + gap + band; ++j) {
                long double val;
                bool bandSat = false;
                if (sampler.Read(cx + side * j * nx, cy + side * j * ny, val, bandSat))
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
        b[k] = raw[k] - (2 * m + 1) * bgStep[k];
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
            for (std::size_t i = 0; i < pe.size(); ++i)
                lf[i] = static_cast<double>(pe[i] - line.Poly(tt[i]));
            const TSpectrum first = PeriodSpectrum(tt, lf);
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
        trend = FitSeries(tt, pe, 1, K, period);
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
            const TFit joint = FitSeries(tt, pe, 1, std::max(K, maxI), period);
            // Harmonics up to K that the window merged into a neighbour's
            // lobe (P/2 beside P on a two-cycle record) still get their row
            // when the joint fit finds them above the spectrum's threshold.
            for (int i = 1; joint.Ok && i <= std::min(K, 10); ++i) {
                bool listed = false;
                for (const TDrivePeak& p : r.Peaks)
                    listed = listed || p.Harmonic == i;
                const long double amp = hypotl(joint.Coef[2 * i], joint.Coef[2 * i + 1]);
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
                    const long double c = joint.Coef[1 + 2 * p.Harmonic - 1], s = joint.Coef[1 + 2 * p.Harmonic];
                    p.Amplitude = StoreD(hypotl(c, s));
                    p.PeakToPeak = 2 * p.Amplitude;
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
        const TFit pec = FitSeries(tt, pe, 1, K, period);
        if (pec.Ok) {
            r.PecHarmonics = K;
            r.PecResidualRms = StoreD(sqrtl(pec.Rss / tt.size()));
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
            for (std::size_t i = 0; i < tt.size(); ++i) {
                const long double rel = tt[i] - static_cast<long double>(tt.front());
                const long double c = floorl(rel / period);
                r.Cycle[i] = static_cast<int>(c);
                r.Phase[i] = StoreD(rel - c * period);
                const int bin = std::min(bins - 1, static_cast<int>(r.Phase[i] / period * bins));
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

TDriveResult AnalyseDrive(const IDriveSamples& samples, const TDriveInput& in)
{
    try {
        return Analyse(samples, in);
    } catch (const EMathError& ex) {
        return Refuse(std::string("The analysis met an arithmetic fault (") + ex.what() +
                      "): check the Setup values and the check points");
    }
}

} // namespace vinsk
