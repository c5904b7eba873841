#include "drive/DriveDetrend.h"

#include <algorithm>
#include <limits>

#include "common/MathFaults.h"
#include "numeric/LeastSquares.h"

namespace vinsk::drive {

namespace {

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

// Increments held back to enter the normal sums together: each sum still
// takes them one by one in their order, but is loaded and stored once for
// the lot, and those loads and stores were most of a fit's time.
struct TPending {
    static constexpr std::size_t Size = 4;
    std::vector<double> A; // Size rows of M columns
    double W[Size] = {}, D[Size] = {};
    int M;

    explicit TPending(int m) : A(Size * static_cast<std::size_t>(m)), M(m) {}
    double* Columns(std::size_t j) { return A.data() + j * static_cast<std::size_t>(M); }

    // Adds the first count increments to the upper triangle of the normal
    // matrix and to its right-hand side.
    void AddTo(double* sums, double* atb, std::size_t count) const
    {
        switch (count) {
        case 4:
            return Add<4>(sums, atb);
        case 3:
            return Add<3>(sums, atb);
        case 2:
            return Add<2>(sums, atb);
        case 1:
            return Add<1>(sums, atb);
        default:
            return;
        }
    }

private:
    static_assert(Size == 4, "AddTo counts up to Size");

    template <std::size_t N>
    void Add(double* sums, double* atb) const
    {
        const double* a[N];
        for (std::size_t j = 0; j < N; ++j)
            a[j] = A.data() + j * static_cast<std::size_t>(M);
        for (int r = 0; r < M; ++r) {
            double ar[N];
            for (std::size_t j = 0; j < N; ++j) {
                ar[j] = a[j][r] * W[j];
                atb[r] += ar[j] * D[j];
            }
            double* row = sums + r * M;
            for (int c = r; c < M; ++c) {
                double v = row[c];
                for (std::size_t j = 0; j < N; ++j)
                    v += ar[j] * a[j][c];
                row[c] = v;
            }
        }
    }
};

} // namespace

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
    if (!SolveLinear(ata, atb, m, f.Coef))
        return f;
    long double explained = 0;
    for (int r = 0; r < m; ++r)
        explained += f.Coef[r] * rhs[r];
    f.Rss = std::max(0.0L, ee - explained);
    f.Ok = true;
    return f;
}

void BlockMeans(const std::vector<double>& t, const std::vector<double>& e, std::size_t count, std::vector<double>& tOut,
                std::vector<double>& eOut, const TBridged* bridged, TBridged* bridgedOut)
{
    const std::size_t block = std::max<std::size_t>(1, t.size() / std::max<std::size_t>(count, 1));
    tOut.clear();
    eOut.clear();
    if (bridgedOut)
        bridgedOut->clear();
    bool before = false; // a bridged increment in the previous block
    for (std::size_t a = 0; a < t.size(); a += block) {
        const std::size_t z = std::min(t.size(), a + block);
        long double st = 0, se = 0;
        bool here = false;
        for (std::size_t i = a; i < z; ++i) {
            st += t[i];
            se += e[i];
            here = here || (bridged && i < bridged->size() && (*bridged)[i]);
        }
        tOut.push_back(static_cast<double>(st / (z - a)));
        eOut.push_back(static_cast<double>(se / (z - a)));
        // Two means differ by the increments of both their blocks.
        if (bridgedOut)
            bridgedOut->push_back(here || before);
        before = here;
    }
}

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
        return SolveLinear(normal, unit, m, z);
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

long double SlopeSigma(const TFit& f)
{
    return sqrtl(Covariances(f, 0, 0)[0]) / f.Half;
}

long double AmplitudeSigma(const TFit& f, int i)
{
    // The increments' columns leave out the intercept: tau's powers first.
    const std::array<long double, 3> v = Covariances(f, f.Degree + 2 * i - 2, f.Degree + 2 * i - 1);
    const long double c = f.Coef[f.Degree + 2 * i - 1], sn = f.Coef[f.Degree + 2 * i], amp = hypotl(c, sn);
    if (!(amp > 0))
        return sqrtl((v[0] + v[1]) / 2);
    return sqrtl((c * c * v[0] + sn * sn * v[1] + 2 * c * sn * v[2]) / (amp * amp));
}

int JointDegree(long double record, long double period)
{
    return period > 0 && record >= 2 * period ? 2 : 1;
}

TFit FitIncrements(const std::vector<double>& t, const std::vector<double>& e, int k, long double period,
                   const TDriftNoiseContext* noise, int degree, const TBridged* bridged)
{
    TFit f;
    f.Degree = degree;
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
    std::vector<double> sums(static_cast<std::size_t>(m) * m, 0), prev(m + 1), cur(m + 1), atbSum(m, 0);
    TPending pending(m);
    std::size_t held = 0;
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
        if (bridged && i < bridged->size() && (*bridged)[i]) {
            std::swap(prev, cur);
            from = i;
            continue;
        }
        const double dt = t[i] - t[from];
        if (!(dt > 0))
            continue; // a step that gathered no light: the next increment spans it
        double* a = pending.Columns(held);
        for (int r = 0; r < m; ++r)
            a[r] = cur[r + 1] - prev[r + 1];
        const double di = e[i] - e[from], w = 1 / dt;
        dd += static_cast<long double>(di) * di * w;
        pending.W[held] = w;
        pending.D[held] = di;
        if (++held == TPending::Size) {
            pending.AddTo(sums.data(), atbSum.data(), held);
            held = 0;
        }
        if (noise) {
            keptA.insert(keptA.end(), a, a + m);
            keptW.push_back(w);
            keptDt.push_back(dt);
            keptD.push_back(di);
        }
        std::swap(prev, cur);
        from = i;
    }
    pending.AddTo(sums.data(), atbSum.data(), held);
    for (int r = 0; r < m; ++r) {
        atb[r] = atbSum[r];
        for (int c = r; c < m; ++c)
            ata[r * m + c] = ata[c * m + r] = sums[r * m + c];
    }
    const std::vector<long double> rhs = atb, normal = ata;
    std::vector<long double> x;
    if (!SolveLinear(ata, atb, m, x))
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

const char* const SlowErrorNote = "Most of this error changes slowly, not periodically: the light may have "
                                  "changed during the exposure \u2014 check the frame";

bool Unbend(const TFit& joint, const TExperiment& e, TDriveResult& r, TSeries& series, int k,
            const TBridged* bridged)
{
    if (!joint.Ok || joint.Degree != 2 || series.T.empty() || r.Time.size() != r.PE.size() ||
        !BendOfTheLight(joint.Coef[2], series.LightBend))
        return false;
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (double t : series.T) {
        const double p = static_cast<double>(joint.Periodic(t));
        lo = std::min(lo, p);
        hi = std::max(hi, p);
    }
    const bool slow = fabsl(joint.Coef[2]) > hi - static_cast<long double>(lo);
    // Light that falls steadily in time, 1 - d t / T, makes the time scale
    // t' = (t - d t^2 / 2T) / (1 - d / 2), and the error gains the bend
    // w0 (t - t'), whose t^2 coefficient is w0 d / (2T (1 - d / 2)). So d
    // follows from the bend, and each step's time from the exact inverse of
    // that map; the fit on the new times finds what bend is left, and three
    // rounds leave none that matters.
    const long double T = e.ExposureTime, w0 = e.MountSpeed;
    const std::vector<double> time0 = r.Time, pe0 = r.PE;
    auto trueTime = [&](long double tm, long double d) {
        const long double u = 1 - 2 * d * (1 - d / 2) * std::clamp<long double>(tm / T, 0, 1);
        return 2 * (1 - d / 2) * tm / (1 + sqrtl(std::max<long double>(u, 0)));
    };
    long double q = 0, d = 0; // q = d / (1 - d / 2)
    TFit fit = joint;
    for (int round = 0; round < 3 && fit.Ok; ++round) {
        q += 2 * T * fit.Coef[2] / (w0 * fit.Half * fit.Half);
        d = q / (1 + q / 2);
        if (!(fabsl(d) < 0.5L))
            return false; // no lamp dims by half: not the light's bend
        for (std::size_t i = 0; i < time0.size(); ++i) {
            const long double t = trueTime(time0[i], d);
            r.Time[i] = StoreD(t);
            r.PE[i] = StoreD(pe0[i] - w0 * (t - time0[i]));
        }
        series.T.assign(r.Time.begin() + r.TrimFirst, r.Time.begin() + r.TrimLast + 1);
        series.PE.assign(r.PE.begin() + r.TrimFirst, r.PE.begin() + r.TrimLast + 1);
        fit = FitIncrements(series.T, series.PE, k, joint.P, nullptr, 2, bridged);
    }
    if (r.Repaired)
        for (double& t : *r.Repaired)
            t = StoreD(trueTime(t, d));
    r.Record = series.T.back() - series.T.front();
    r.TrimmedSeconds = StoreD(r.Time[r.TrimFirst] + (T - r.Time[r.TrimLast]));
    if (slow)
        r.Notes.push_back(SlowErrorNote);
    return true;
}

TDetrended RemoveDrift(const std::vector<double>& tt, const std::vector<double>& pe, long double period,
                       const TDriveSettings& set, const TExperiment& e, TDriveResult& r, const TBridged* bridged)
{
    const long double T = e.ExposureTime, w0 = e.MountSpeed;
    const int K = set.Harmonics;
    TDetrend use = set.Detrend;
    if (use == TDetrend::Harmonic && !(period > 0 && r.Record >= 2 * period)) {
        use = TDetrend::Line;
        r.Notes.push_back(period > 0 ? "The trail holds fewer than 2 worm cycles: the drift is a plain line fit"
                                     : "Without a worm period the drift is a plain line fit");
    }
    r.DetrendUsed = use;
    // The joint fit of the line and K harmonics serves the drift, the
    // harmonics' amplitudes and the PEC curve.
    TDetrended out;
    out.Noise = {T, r.Time.size() - tt.size()};
    r.JointDegree = JointDegree(r.Record, period);
    out.Bridged = bridged;
    out.Harmonic = period > 0 ? FitIncrements(tt, pe, K, period, &out.Noise, r.JointDegree, bridged) : TFit{};
    const TFit& harmonicFit = out.Harmonic;
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
        return {Refuse(TRefusalReason::TooShort,
                       "The drift could not be fitted: the trail has too few steps for the harmonics asked for"),
                {}, {}};
    r.T = tt;
    r.Error.resize(pe.size());
    // The drift at each step, once: the error, its mean and the removed
    // drift all take it.
    std::vector<long double> drift(use == TDetrend::None ? 0 : tt.size());
    for (std::size_t i = 0; i < drift.size(); ++i)
        drift[i] = trend.Poly(tt[i]);
    for (std::size_t i = 0; i < pe.size(); ++i)
        r.Error[i] = StoreD(use == TDetrend::None ? pe[i] : pe[i] - drift[i]);
    if (use != TDetrend::None && !tt.empty()) {
        long double mean = 0;
        for (long double d : drift)
            mean += d;
        mean /= static_cast<long double>(tt.size());
        r.RemovedDrift.resize(tt.size());
        for (std::size_t i = 0; i < tt.size(); ++i)
            r.RemovedDrift[i] = StoreD(drift[i] - mean);
    }
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
    return out;
}

} // namespace vinsk::drive
