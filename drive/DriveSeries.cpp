#include "drive/DriveSeries.h"

#include <cmath>

#include "common/MathFaults.h"
#include "common/NumText.h"
#include "drive/DriveStage.h"

namespace vinsk::drive {

TSeries MakeSeries(const TPhotometry& light, const TExperiment& e, TDriveResult& r)
{
    auto refused = [](std::string message) {
        TSeries s;
        s.Refusal = std::move(message);
        return s;
    };
    const std::vector<long double>& b = light.Light;
    const std::vector<long double>& alpha = light.Alpha;
    const std::size_t steps = b.size();
    const long double typical = light.Typical, fwhm = light.Fwhm;
    r.SaturatedFraction = light.SaturatedFraction;
    r.OutsideFraction = light.OutsideFraction;
    long double total = 0;
    for (long double x : b)
        total += x;
    if (!(total > 0))
        return refused(NoTrailMessage());
    const long double T = e.ExposureTime, w0 = e.MountSpeed;
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
            return refused("The trail is too short to analyse: it needs at least " +
                           std::to_string(2 * margin + 16) + " px between its ends");
        r.TrimFirst = first + margin;
        r.TrimLast = last - margin;
        r.TrimmedSeconds = StoreD(r.Time[r.TrimFirst] + (T - r.Time[r.TrimLast]));
    }
    TSeries s;
    s.T.assign(r.Time.begin() + r.TrimFirst, r.Time.begin() + r.TrimLast + 1);
    s.PE.assign(r.PE.begin() + r.TrimFirst, r.PE.begin() + r.TrimLast + 1);
    r.Record = s.T.back() - s.T.front();
    return s;
}

} // namespace vinsk::drive
