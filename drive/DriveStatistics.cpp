#include "drive/DriveStatistics.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>

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

} // namespace vinsk::drive
