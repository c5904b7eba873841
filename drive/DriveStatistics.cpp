#include "drive/DriveStatistics.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>
#include <random>

#include "common/MathFaults.h"
#include "drive/DriveStage.h"

namespace vinsk::drive {

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

double PeakToPeakSigma(const TDriveResult& r, long double mountSpeed, const std::vector<std::size_t>& repaired)
{
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double>& b = r.Flux;
    const std::size_t n = b.size(), first = r.TrimFirst, last = r.TrimLast;
    // Blocks of ten steps: longer than the sharing of noise between
    // neighbours (interpolation), short beside the light's own changes, which
    // their second differences take out.
    constexpr std::size_t Block = 10;
    const std::size_t blocks = last >= first ? (last - first + 1) / Block : 0;
    if (n < 3 || blocks < 8 || r.T.size() != last - first + 1)
        return unknown;
    std::vector<long double> sums(blocks, 0);
    for (std::size_t j = 0; j < blocks; ++j)
        for (std::size_t k = first + j * Block; k < first + (j + 1) * Block; ++k)
            sums[j] += b[k];
    std::vector<unsigned char> made(blocks, 0);
    for (std::size_t k : repaired)
        if (k >= first && (k - first) / Block < blocks)
            made[(k - first) / Block] = 1;
    long double dd = 0;
    std::size_t used = 0;
    for (std::size_t j = 1; j + 1 < blocks; ++j) {
        if (made[j - 1] || made[j] || made[j + 1])
            continue;
        const long double d = sums[j + 1] - 2 * sums[j] + sums[j - 1];
        dd += d * d;
        ++used;
    }
    if (used == 0)
        return unknown;
    const long double sigma = sqrtl(dd / (6 * Block * static_cast<long double>(used)));
    const long double total = std::accumulate(b.begin(), b.end(), 0.0L);
    if (!(sigma > 0) || !(total > 0))
        return unknown;

    // A step's time is the light before it over all the light, so noise of
    // the light e moves it by T (sum_before e - t/T sum_all e) / total. The
    // draws in double: their spread is known to a few per cent at best, and
    // they are the costliest part of the statistics.
    const double T = r.Exposure, scale = static_cast<double>(-mountSpeed * T / total);
    const double sd = static_cast<double>(sigma);
    std::mt19937_64 rng(20261207);
    auto uniform = [&] { return (static_cast<double>(rng() >> 11) + 0.5) / 9007199254740992.0; };
    const std::size_t m = last - first + 1;
    double tMean = 0;
    for (double t : r.T)
        tMean += t;
    tMean /= static_cast<double>(m);
    double stt = 0;
    for (double t : r.T)
        stt += (t - tMean) * (t - tMean);
    constexpr int Draws = 24;
    const std::vector<double> smooth = SmoothOver(r.T, r.Error, r.Stats.SmoothWindow);
    // One draw per block of steps, the walk straight between them: the
    // smoothing window spans several blocks, and it is the walk, not the
    // wiggle inside a block, that moves the peak-to-peak.
    const std::size_t nb = (n + Block - 1) / Block;
    std::vector<double> walk(nb + 1), move(m), blockShare(nb);
    const double blockSd = sd * std::sqrt(static_cast<double>(Block));
    for (std::size_t j = 0; j < nb; ++j) // a short last block moves less
        blockShare[j] = std::sqrt(static_cast<double>(std::min(Block, n - j * Block)) / Block);
    // Each fitted step's block and its share of the way through it, each
    // time's share of the exposure and distance from the mean time: the
    // same in every draw.
    std::vector<std::size_t> at(m);
    std::vector<double> into(m), tOverT(m), fromMean(m);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t k = first + i, j = std::min(k / Block, nb - 1), len = std::min(Block, n - j * Block);
        at[i] = j;
        into[i] = static_cast<double>(k - j * Block) / static_cast<double>(len);
        tOverT[i] = r.T[i] / T;
        fromMean[i] = r.T[i] - tMean;
    }
    long double sum = 0, sum2 = 0;
    for (int draw = 0; draw < Draws; ++draw) {
        // Box and Muller: two normal draws from two uniform ones.
        double c = 0;
        for (std::size_t j = 0; j < nb; j += 2) {
            const double rad = blockSd * std::sqrt(-2 * std::log(uniform())), ang = 2 * static_cast<double>(Pi) * uniform();
            walk[j] = c;
            c += rad * std::cos(ang) * blockShare[j];
            if (j + 1 < nb) {
                walk[j + 1] = c;
                c += rad * std::sin(ang) * blockShare[j + 1];
            }
        }
        walk[nb] = c;
        const double all = c;
        // The drift-free error moves by -w0 dt; the drift removal takes the
        // best line out of that move.
        double se = 0, ste = 0;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t j = at[i];
            const double cum = walk[j] + (walk[j + 1] - walk[j]) * into[i];
            move[i] = scale * (cum - tOverT[i] * all);
            se += move[i];
            ste += fromMean[i] * move[i];
        }
        const double slope = stt > 0 ? ste / stt : 0, mean = se / static_cast<double>(m);
        // The smoothing is linear, and the walk, straight over each block,
        // passes through it almost unchanged: the smoothed error plus the move.
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        for (std::size_t i = 0; i < m; ++i) {
            const double v = smooth[i] + move[i] - mean - slope * fromMean[i];
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const long double pp = static_cast<long double>(hi) - lo;
        sum += pp;
        sum2 += pp * pp;
    }
    const long double mean = sum / Draws;
    return StoreD(sqrtl(std::max(0.0L, (sum2 - Draws * mean * mean) / (Draws - 1))));
}

} // namespace vinsk::drive
