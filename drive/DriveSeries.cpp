#include "drive/DriveSeries.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/MathFaults.h"
#include "common/NumText.h"
#include "drive/DriveStage.h"
#include "numeric/LeastSquares.h"

namespace vinsk::drive {

TLightTrend LightTrend(const std::vector<long double>& light, const std::vector<long double>& alpha,
                       std::size_t first, std::size_t last)
{
    TLightTrend trend;
    if (last <= first + 3 || last >= light.size() || light.size() != alpha.size())
        return trend;
    // A step's light is its dwell time: per arc second it is the rate's
    // inverse, which the mount's error moves by well under a per cent.
    const long double mid = (first + static_cast<long double>(last)) / 2, half = (last - static_cast<long double>(first)) / 2;
    TNormalEquations<3> normal;
    long double mean = 0;
    for (std::size_t k = first; k <= last; ++k) {
        if (!(alpha[k] > 0))
            continue;
        const long double x = (k - mid) / half, q = light[k] / alpha[k];
        normal.Add({1, x, x * x, q});
        mean += q;
    }
    if (normal.Rows() < 4)
        return trend;
    mean /= static_cast<long double>(normal.Rows());
    std::array<long double, 3> p{};
    if (!(mean > 0) || !normal.Solve(p))
        return trend;
    auto at = [&](long double x) { return p[0] + p[1] * x + p[2] * x * x; };
    long double lo = std::min(at(-1), at(1)), hi = std::max(at(-1), at(1));
    if (p[2] != 0) {
        const long double vertex = -p[1] / (2 * p[2]);
        if (vertex > -1 && vertex < 1) {
            lo = std::min(lo, at(vertex));
            hi = std::max(hi, at(vertex));
        }
    }
    trend.Change = (hi - lo) / mean;
    trend.Mean = mean;
    trend.Mid = mid;
    trend.Half = half;
    trend.P = p;
    return trend;
}

TSeries MakeSeries(const TPhotometry& light, const TExperiment& e, TDriveResult& r, bool flatApplied)
{
    auto refused = [](TRefusal why) {
        TSeries s;
        s.Refusal = std::move(why);
        return s;
    };
    const std::vector<long double>& b = light.Light;
    const std::vector<long double>& alpha = light.Alpha;
    const std::size_t steps = b.size();
    const long double typical = light.Typical, fwhm = light.Fwhm;
    r.SaturatedFraction = light.SaturatedFraction;
    r.OutsideFraction = light.OutsideFraction;
    const long double T = e.ExposureTime, w0 = e.MountSpeed;
    // Each step's time is its share of all the light before it.
    auto integrate = [&] {
        long double total = 0;
        for (long double x : b)
            total += x;
        if (!(total > 0))
            return false;
        r.Time.resize(steps);
        r.PE.resize(steps);
        long double cum = 0, angle = 0;
        for (std::size_t k = 0; k < steps; ++k) {
            const long double t = T * cum / total;
            r.Time[k] = StoreD(t);
            r.PE[k] = StoreD(angle - w0 * t);
            cum += b[k];
            angle += alpha[k];
        }
        return true;
    };
    if (!integrate())
        return refused(Refuse(TRefusalReason::NoTrail));
    r.Exposure = e.ExposureTime;
    r.Fwhm = static_cast<double>(fwhm);
    r.HalfWidth = light.HalfWidth;
    r.Crests = light.Crests;
    r.RingRadius = StoreD(light.RingRadius);
    if (light.Crests == 2)
        r.Notes.push_back("The star is out of focus (a ring of radius " + FixedText(StoreD(light.RingRadius), 0) +
                          " px): the result holds, but a sharp star puts the same light into fewer pixels, so "
                          "less background noise enters each step");
    r.Flux.resize(steps);
    long double alphaSum = 0;
    for (std::size_t k = 0; k < steps; ++k) {
        r.Flux[k] = StoreD(b[k]);
        alphaSum += alpha[k];
    }
    r.ArcsecPerStep = StoreD(alphaSum / steps);
    r.Repaired.emplace();
    for (std::size_t k : light.Repaired)
        r.Repaired->push_back(r.Time[k]);

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
            return refused(Refuse(TRefusalReason::TooShort, "The trail is too short to analyse: it needs at least " +
                                                                std::to_string(2 * margin + 16) +
                                                                " px between its ends"));
        r.TrimFirst = first + margin;
        r.TrimLast = last - margin;
        r.TrimmedSeconds = StoreD(r.Time[r.TrimFirst] + (T - r.Time[r.TrimLast]));
    }
    // Light that changes slowly along the trail reads as error: name it.
    // (Dividing it out of the light would not do: a quadratic through the
    // light takes some of the worm's own change of light with it, and the
    // integral turns that into an error of its own.)
    const TLightTrend trend = LightTrend(b, alpha, r.TrimFirst, r.TrimLast);
    r.LightChange = StoreD(trend.Change);
    if (trend.Change > LightChangeNoted) {
        const std::string percent = FixedText(StoreD(100 * trend.Change), 0);
        r.Notes.push_back(flatApplied ? "The light changed by " + percent +
                                            " % during the exposure: a dimming lamp, dew or cloud?"
                                      : "The light along the trail changes by " + percent +
                                            " % from the middle to the ends: vignetting? Apply a flat frame; "
                                            "without one the error is not the mount's");
    }
    TSeries s;
    s.T.assign(r.Time.begin() + r.TrimFirst, r.Time.begin() + r.TrimLast + 1);
    s.PE.assign(r.PE.begin() + r.TrimFirst, r.PE.begin() + r.TrimLast + 1);
    // A step's light is the time from it to the next step.
    for (std::size_t k : light.Repaired)
        if (k >= r.TrimFirst && k < r.TrimLast) {
            s.Bridged.resize(s.T.size());
            s.Bridged[k - r.TrimFirst + 1] = 1;
        }
    r.Record = s.T.back() - s.T.front();
    if (trend.Mean > 0 && trend.Change > LightChangeNoted) {
        const long double d = -2 * trend.P[1] / trend.Mean, q = d / (1 - d / 2), half = r.Record / 2;
        s.LightBend = w0 * q * half * half / (2 * T);
    }
    return s;
}

} // namespace vinsk::drive
