#include "drive/DriveWormPeriod.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "drive/DriveDetrend.h"
#include "drive/DriveSeries.h"
#include "drive/DriveSpectrum.h"
#include "numeric/Median.h"

namespace vinsk::drive {

long double IncrementRss(const std::vector<double>& t, const std::vector<double>& e, int k, long double period,
                         int degree, const TBridged* bridged)
{
    const TFit f = FitIncrements(t, e, k, period, nullptr, degree, bridged);
    return f.Ok ? f.Rss : std::numeric_limits<long double>::max();
}

namespace {

// The minimum of f by golden sections between lo and hi, down to tol.
template <class F>
long double GoldenMinimum(F f, long double lo, long double hi, long double tol)
{
    const long double g = (sqrtl(5.0L) - 1) / 2;
    long double a = hi - g * (hi - lo), b = lo + g * (hi - lo), ra = f(a), rb = f(b);
    while (hi - lo > tol) {
        if (ra < rb) {
            hi = b;
            b = a;
            rb = ra;
            a = hi - g * (hi - lo);
            ra = f(a);
        } else {
            lo = a;
            a = b;
            ra = rb;
            b = lo + g * (hi - lo);
            rb = f(b);
        }
    }
    return (lo + hi) / 2;
}

// Whether the line-free error lf is larger than its noise can make it, so
// that a period longer than the record is there: its RMS at least three
// times what a random walk with the increments' noise leaves about a line
// (a fifteenth of the walk's variance over the record). The noise comes from
// the increments summed over blocks of 50 steps, longer than the photometry
// shares its noise over, differenced so that a smooth error drops out.
bool LargerThanItsNoise(const std::vector<double>& lf)
{
    constexpr std::size_t Block = 50;
    const std::size_t blocks = lf.size() / Block;
    if (blocks < 8)
        return false;
    std::vector<long double> absolute;
    for (std::size_t b = 1; b + 1 < blocks; ++b)
        absolute.push_back(fabsl((lf[(b + 1) * Block] - static_cast<long double>(lf[b * Block])) -
                                 (lf[b * Block] - static_cast<long double>(lf[(b - 1) * Block]))));
    const long double sigma = 1.4826L * Median(absolute) / sqrtl(2); // of one block's change
    const long double walkRms = sigma * sqrtl(static_cast<long double>(lf.size()) / Block / 15);
    long double ss = 0;
    for (double x : lf)
        ss += static_cast<long double>(x) * x;
    return sqrtl(ss / lf.size()) >= 3 * walkRms;
}

std::string NoPeriodNote(const std::vector<double>& lf, long double record)
{
    if (LargerThanItsNoise(lf)) {
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "The trail covers %.0f s: too short to find a worm period; give it, or take a longer exposure "
                      "(at least 1.5 cycles)",
                      static_cast<double>(record));
        return buf;
    }
    return "No periodic error stands out of the noise, so there is no worm period to estimate; give the worm "
           "period to see the cycles and the PEC table";
}

// A slow bend from light that changed in time can hide the worm from the
// line-free spectrum. Only when the bend is the light's (lightBend, see
// TSeries) and swamps the rest is a quadratic taken out, and only where the
// record holds two cycles of what is left: a worm is looked for there, and
// kept when its refined period still gives two.
long double BehindABend(const std::vector<double>& tt, const std::vector<double>& pe, int k, long double record,
                        long double lightBend, const TBridged* bridged)
{
    const TFit bend = FitSeries(tt, pe, 2, 0, 0);
    if (!bend.Ok || !BendOfTheLight(bend.Coef[2], lightBend))
        return 0;
    std::vector<double> rest(pe.size());
    long double ss = 0;
    for (std::size_t i = 0; i < pe.size(); ++i) {
        rest[i] = static_cast<double>(pe[i] - bend.Poly(tt[i]));
        ss += static_cast<long double>(rest[i]) * rest[i];
    }
    // Only a bend that swamps the rest can have hidden a worm; a smaller one
    // is as likely a part of a worm cycle that the record does not hold.
    const auto [lo, hi] = std::minmax_element(rest.begin(), rest.end());
    if (!(fabsl(bend.Coef[2]) >= 3 * (*hi - static_cast<long double>(*lo))))
        return 0;
    std::vector<double> bt, bl;
    BlockMeans(tt, rest, 1024, bt, bl);
    const TSpectrum s = PeriodSpectrum(bt, bl);
    if (s.Peaks.empty() || record / s.Peaks.front().Period < 2 ||
        !(s.Peaks.front().Amplitude >= 0.3L * sqrtl(2 * ss / rest.size())))
        return 0;
    const long double period = RefinePeriod(tt, pe, k, s.Peaks.front().Period, bridged);
    return record / period >= 2 ? period : 0;
}

} // namespace

long double RefinePeriod(const std::vector<double>& tFull, const std::vector<double>& peFull, int k,
                         long double guess, const TBridged* bridged)
{
    // The basin is found on block means: eight of them per cycle of the
    // highest harmonic keep its shape, at least 200, as many as the steps
    // when they are fewer. A grid over +-10 % in steps of 2 % finds it (a
    // two-cycle record's is some 20 % wide), golden sections narrow it.
    const long double record = tFull.back() - static_cast<long double>(tFull.front());
    const auto wanted = static_cast<std::size_t>(
        std::clamp<long double>(ceill(8 * std::min(k, MaxK) * record / guess), 200, 4000));
    std::vector<double> t, pe;
    TBridged coarseBridged, fineBridged;
    const bool any = bridged && std::find(bridged->begin(), bridged->end(), 1) != bridged->end();
    BlockMeans(tFull, peFull, wanted, t, pe, any ? bridged : nullptr, &coarseBridged);
    const int degree = JointDegree(record, guess);
    auto coarse = [&](long double p) { return IncrementRss(t, pe, k, p, degree, any ? &coarseBridged : nullptr); };
    const long double lo = guess * 0.9L, hi = guess * 1.1L;
    const int grid = 10;
    long double best = guess, bestRss = coarse(guess);
    for (int i = 0; i <= grid; ++i) {
        const long double p = lo + (hi - lo) * i / grid, r = coarse(p);
        if (r < bestRss) {
            bestRss = r;
            best = p;
        }
    }
    const long double step = (hi - lo) / grid;
    long double p = GoldenMinimum(coarse, best - step, best + step, 1e-3L * guess);
    if (coarse(p) > bestRss)
        p = best;
    // The last word is the finer series': the coarse block means moved the
    // minimum by a few hundredths of a per cent. So near it the residual is a
    // parabola, whose vertex three fits find, on 1,000 means at least (a
    // hundred to a cycle of the fifth harmonic of a 1,000 s worm's two
    // cycles; 1,500 moved the period by a ten-thousandth at most).
    std::vector<double> tf, pf;
    BlockMeans(tFull, peFull, 1000, tf, pf, any ? bridged : nullptr, &fineBridged);
    auto fine = [&](long double q) { return IncrementRss(tf, pf, k, q, degree, any ? &fineBridged : nullptr); };
    const long double h = 1e-3L * guess, r0 = fine(p - h), r1 = fine(p), r2 = fine(p + h);
    const long double den = r0 - 2 * r1 + r2;
    if (!(den > 0))
        return r0 < r1 && r0 <= r2 ? p - h : (r2 < r1 ? p + h : p);
    return p + std::clamp(0.5L * h * (r0 - r2) / den, -h, h);
}

long double FindWormPeriod(const std::vector<double>& tt, const std::vector<double>& pe, const TDriveSettings& set,
                           TDriveResult& r, const TBridged* bridged, long double lightBend)
{
    const int K = set.Harmonics;
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
                period = BehindABend(tt, pe, K, r.Record, lightBend, bridged);
                if (period > 0)
                    r.WormSource = TWormSource::Estimated;
                else
                    r.WormNote = NoPeriodNote(lf, r.Record);
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
                    period = BehindABend(tt, pe, K, r.Record, lightBend, bridged);
                    if (period > 0)
                        r.WormSource = TWormSource::Estimated;
                    else
                        r.WormNote = NoPeriodNote(lf, r.Record);
                } else if (cycles >= 1.5L) {
                    period = RefinePeriod(tt, pe, K, strongest, bridged);
                    if (r.Record / period >= 1.5L) {
                        r.WormSource = TWormSource::Estimated;
                    } else {
                        period = 0;
                    }
                } else {
                    period = BehindABend(tt, pe, K, r.Record, lightBend, bridged);
                    if (period > 0)
                        r.WormSource = TWormSource::Estimated;
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
    return period;
}

} // namespace vinsk::drive
