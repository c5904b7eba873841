#include "drive/DriveOutliers.h"

#include <algorithm>
#include <cmath>

#include "drive/DrivePhotometry.h"
#include "drive/DriveStage.h"
#include "numeric/Median.h"

namespace vinsk::drive {

namespace {

constexpr std::size_t FitReach = 10;    // steps each side of the quadratic: a fast worm's swings are some 12 steps wide
constexpr std::size_t SeedReach = 45;   // each side of the first median: wider than a streak across the trail
constexpr std::size_t MaxReach = 90;    // how far a fit reaches past marked steps for light of its own
constexpr std::size_t MinEachSide = 5;  // unmarked steps a fit wants on each side
constexpr long double GrowSigmas = 3;   // a marked run takes neighbours this far up too
constexpr long double MinExcess = 0.01L; // of the typical light: a smooth, noiseless trail marks nothing

// The powers of a step's distance from k, in FitReach steps, for every
// distance a fit can reach: the fits below take them from here.
struct TPowers {
    double X[2 * MaxReach + 1], X2[2 * MaxReach + 1], X3[2 * MaxReach + 1], X4[2 * MaxReach + 1];

    // The weights that give a quadratic's value at k from the 2 FitReach + 1
    // steps about it when all of them are usable: most steps are, and the
    // fit is then one weighted sum.
    double Whole[2 * FitReach + 1];

    TPowers()
    {
        for (std::size_t i = 0; i <= 2 * MaxReach; ++i) {
            const double x = (static_cast<double>(i) - static_cast<double>(MaxReach)) / FitReach;
            X[i] = x;
            X2[i] = x * x;
            X3[i] = X2[i] * x;
            X4[i] = X2[i] * X2[i];
        }
        // On a symmetric window the odd moments vanish, and the value at 0
        // of the least-squares quadratic is sum (s4 - s2 x^2) y / (n s4 - s2^2)
        // with the even moments s2 and s4.
        long double s2 = 0, s4 = 0;
        const auto n = static_cast<long double>(2 * FitReach + 1);
        for (std::size_t i = 0; i <= 2 * FitReach; ++i) {
            const long double x = (static_cast<long double>(i) - FitReach) / FitReach;
            s2 += x * x;
            s4 += x * x * x * x;
        }
        const long double det = n * s4 - s2 * s2;
        for (std::size_t i = 0; i <= 2 * FitReach; ++i) {
            const long double x = (static_cast<long double>(i) - FitReach) / FitReach;
            Whole[i] = static_cast<double>((s4 - s2 * x * x) / det);
        }
    }
};

// The quadratic through the usable steps about k, its value at k; false
// when they do not fix one. y is the light in double: the baseline only
// decides which steps stand out, and these loops were half the analysis's
// time in the extended format.
bool QuadraticAt(const std::vector<double>& y, const std::vector<char>& usable, const TPowers& pw, std::size_t lo,
                 std::size_t hi, std::size_t k, bool usableAround, double& value)
{
    if (k >= lo + FitReach && k + FitReach <= hi && usableAround) {
        double v = 0;
        for (std::size_t i = 0; i <= 2 * FitReach; ++i)
            v += pw.Whole[i] * y[k - FitReach + i];
        value = v;
        return true;
    }
    // Each side reaches FitReach steps, further when marked steps leave it
    // fewer than MinEachSide of its own: the value at k is then read between
    // light on both sides, not extrapolated from one.
    std::size_t from = k, to = k, seen = 0;
    while (from > lo && (k - from < FitReach || (seen < MinEachSide && k - from < MaxReach))) {
        --from;
        seen += usable[from] ? 1 : 0;
    }
    seen = 0;
    while (to < hi && (to - k < FitReach || (seen < MinEachSide && to - k < MaxReach))) {
        ++to;
        seen += usable[to] ? 1 : 0;
    }
    double s[5] = {0, 0, 0, 0, 0}, t[3] = {0, 0, 0};
    const std::size_t shift = MaxReach - k; // table index of step j is j + shift
    for (std::size_t j = from; j <= to; ++j) {
        if (!usable[j])
            continue;
        const std::size_t i = j + shift;
        s[0] += 1;
        s[1] += pw.X[i];
        s[2] += pw.X2[i];
        s[3] += pw.X3[i];
        s[4] += pw.X4[i];
        const double v = y[j];
        t[0] += v;
        t[1] += v * pw.X[i];
        t[2] += v * pw.X2[i];
    }
    if (s[0] < 4)
        return false;
    // The normal equations by Cramer's rule; only the constant is wanted.
    const double det = s[0] * (s[2] * s[4] - s[3] * s[3]) - s[1] * (s[1] * s[4] - s[3] * s[2]) +
                       s[2] * (s[1] * s[3] - s[2] * s[2]);
    if (!(det > 1e-9 * s[0] * s[0] * s[0]))
        return false;
    value = (t[0] * (s[2] * s[4] - s[3] * s[3]) - s[1] * (t[1] * s[4] - s[3] * t[2]) +
             s[2] * (t[1] * s[3] - s[2] * t[2])) /
            det;
    return true;
}

// The median of the good steps' light in a window that only moves forward,
// kept sorted as it moves: each move sorts in the few steps that enter and
// takes out the few that leave.
class TSlidingMedian {
public:
    TSlidingMedian(const std::vector<double>& y, const std::vector<char>& bad) : FY(y), FBad(bad) {}

    // The median of the good steps a..z; neither end moves back between calls.
    long double At(std::size_t a, std::size_t z)
    {
        if (!FStarted) {
            FA = FEnd = a;
            FStarted = true;
        }
        // A step that leaves and one that enters together move only the
        // values between their places.
        while (FA < a && FA < FEnd && FEnd <= z) {
            if (!Held(FA))
                ++FA;
            else if (!Held(FEnd))
                ++FEnd;
            else
                Replace(FY[FA++], FY[FEnd++]);
        }
        for (; FA < a; ++FA)
            if (FA < FEnd && Held(FA)) {
                const std::size_t at = Find(FY[FA]);
                if (at < FSorted.size())
                    FSorted.erase(FSorted.begin() + static_cast<std::ptrdiff_t>(at));
            }
        FEnd = std::max(FEnd, FA);
        for (; FEnd <= z; ++FEnd)
            if (Held(FEnd))
                Insert(FY[FEnd]);
        return MedianOfSorted(FSorted.data(), FSorted.size());
    }

private:
    // The place of a kept value equal to y; the count of kept values when
    // there is none.
    std::size_t Find(double y) const
    {
        const std::size_t at = Before(y, false);
        return at < FSorted.size() && FSorted[at] == y ? at : FSorted.size();
    }

    void Insert(double y) { FSorted.insert(FSorted.begin() + static_cast<std::ptrdiff_t>(Before(y, true)), y); }

    // Takes out one value equal to out, when there is one, and puts in in.
    void Replace(double out, double in)
    {
        const std::size_t p = Find(out);
        if (p == FSorted.size()) {
            Insert(in);
            return;
        }
        double* v = FSorted.data();
        const std::size_t q = Before(in, true);
        if (q > p) {
            std::copy(v + p + 1, v + q, v + p);
            v[q - 1] = in;
        } else {
            std::copy_backward(v + q, v + p, v + p + 1);
            v[q] = in;
        }
    }

    // How many kept values lie below y (with orEqual, not above it): a
    // binary search whose steps are conditional moves, since the light's
    // noise makes every branch a coin toss.
    std::size_t Before(double y, bool orEqual) const
    {
        const double* base = FSorted.data();
        std::size_t n = FSorted.size();
        if (n == 0)
            return 0;
        while (n > 1) {
            const std::size_t half = n / 2;
            const bool right = orEqual ? !(y < base[half - 1]) : base[half - 1] < y;
            base = right ? base + half : base;
            n -= half;
        }
        const bool last = orEqual ? !(y < *base) : *base < y;
        return static_cast<std::size_t>(base - FSorted.data()) + (last ? 1 : 0);
    }

    // A NaN has no place in the order: it is kept out, so that it never
    // needs finding again.
    bool Held(std::size_t j) const { return !FBad[j] && FY[j] == FY[j]; }

    const std::vector<double>& FY;
    const std::vector<char>& FBad;
    std::vector<double> FSorted;
    bool FStarted = false;
    std::size_t FA = 0, FEnd = 0; // the window holds the good steps FA..FEnd-1
};

} // namespace

TOutliers FindOutliers(const std::vector<long double>& light, const std::vector<char>& bad, long double typical,
                       long double fwhm)
{
    TOutliers out;
    const std::size_t n = light.size();
    if (n == 0 || bad.size() != n || !(typical > 0))
        return out;
    // The steps the statistics use: the end caps' light falls faster than
    // any baseline could follow.
    const std::vector<long double> smooth = RunningMean(light, 2);
    std::size_t first = 0, last = n - 1;
    while (first < n && smooth[first] < 0.5L * typical)
        ++first;
    while (last > first && smooth[last] < 0.5L * typical)
        --last;
    const auto margin = static_cast<std::size_t>(std::ceil(static_cast<double>(2 * fwhm))) + 2;
    if (first >= n || last < first + 2 * margin + 2 * FitReach + 1)
        return out;
    const std::size_t lo = first + margin, hi = last - margin;

    // The noise of one step, from the step-to-step differences: a few
    // outliers and the light's slow changes move their median deviation
    // little.
    // In double: sigma only sets the mark's height.
    std::vector<double> diffs;
    for (std::size_t k = lo; k < hi; ++k)
        if (!bad[k] && !bad[k + 1])
            diffs.push_back(static_cast<double>(light[k + 1] - light[k]));
    if (diffs.size() < 2 * FitReach)
        return out;
    const double mid = static_cast<double>(Median(diffs));
    for (double& d : diffs)
        d = std::fabs(d - mid);
    const long double sigma = 1.4826L * Median(diffs) / sqrtl(2.0L);
    if (!(sigma > 0))
        return out;
    const long double floorExcess = MinExcess * typical;

    std::vector<double> y(n);
    for (std::size_t k = 0; k < n; ++k)
        y[k] = static_cast<double>(light[k]);
    const TPowers powers;
    std::vector<long double> base(n, 0);
    {
        // On every fourth step, straight between: a median of 91 moves
        // little from one step to the next, and it only seeds the marks.
        constexpr std::size_t Stride = 4;
        TSlidingMedian window(y, bad);
        auto medianAt = [&](std::size_t k) {
            const std::size_t a = k > lo + SeedReach ? k - SeedReach : lo, z = std::min(hi, k + SeedReach);
            return window.At(a, z);
        };
        std::size_t prev = lo;
        base[lo] = medianAt(lo);
        for (std::size_t k = lo + Stride;; k += Stride) {
            const std::size_t at = std::min(k, hi);
            base[at] = medianAt(at);
            const long double slope = (base[at] - base[prev]) / static_cast<long double>(at - prev);
            for (std::size_t j = prev + 1; j < at; ++j)
                base[j] = base[prev] + slope * static_cast<long double>(j - prev);
            prev = at;
            if (at == hi)
                break;
        }
    }
    std::vector<char> marked(n, 0), usable(n, 0);
    auto excess = [&](std::size_t k) { return light[k] - base[k]; };
    auto mark = [&] {
        for (std::size_t k = lo; k <= hi; ++k) {
            const long double e = excess(k);
            marked[k] = !bad[k] && e > OutlierSigmas * sigma && e > floorExcess;
        }
    };
    mark();
    // A median that lags the light's own swings (a fast worm on a short
    // trail) marks clean steps by the dozen: then the quadratic starts
    // from all steps.
    if (static_cast<long double>(std::count(marked.begin(), marked.end(), 1)) > 0.03L * (hi - lo + 1))
        std::fill(marked.begin(), marked.end(), 0);
    // Up to three rounds of the quadratic, each without the steps the last
    // marked; a round that marks the same steps ends them.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t k = lo; k <= hi; ++k)
            usable[k] = !bad[k] && !marked[k];
        // How many of the steps k - FitReach .. k + FitReach are not usable.
        std::size_t unusable = 0;
        auto notUsable = [&](std::size_t j) -> std::size_t { return j >= lo && j <= hi && !usable[j] ? 1 : 0; };
        for (std::size_t j = lo; j < lo + FitReach && j <= hi; ++j)
            unusable += notUsable(j);
        for (std::size_t k = lo; k <= hi; ++k) {
            unusable += notUsable(k + FitReach);
            double v;
            if (QuadraticAt(y, usable, powers, lo, hi, k, unusable == 0, v))
                base[k] = v;
            if (k >= lo + FitReach)
                unusable -= notUsable(k - FitReach);
        }
        const std::vector<char> before = marked;
        mark();
        if (marked == before)
            break;
    }
    // A hit shared by two steps may leave the smaller part below the mark.
    for (std::size_t k = lo; k <= hi; ++k) {
        if (!marked[k])
            continue;
        for (std::size_t j = k; j > lo && !marked[j - 1] && !bad[j - 1] && excess(j - 1) > GrowSigmas * sigma; --j)
            marked[j - 1] = 2;
        for (std::size_t j = k; j < hi && !marked[j + 1] && !bad[j + 1] && excess(j + 1) > GrowSigmas * sigma; ++j)
            marked[j + 1] = 2;
    }
    // A run counts the saturated steps within it too: a bright streak
    // clips the crest where it crosses.
    std::size_t run = 0;
    bool runMarked = false;
    for (std::size_t k = lo; k <= hi; ++k) {
        if (marked[k])
            out.Steps.push_back(k);
        if (marked[k] || bad[k]) {
            ++run;
            runMarked = runMarked || marked[k];
            if (runMarked)
                out.LongestRun = std::max(out.LongestRun, run);
        } else {
            run = 0;
            runMarked = false;
        }
    }
    return out;
}

} // namespace vinsk::drive
