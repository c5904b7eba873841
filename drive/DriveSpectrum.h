// The spectrum of the drift-free error on a period axis, its peaks, and the
// worm's harmonics among them named and measured by the joint fit.
#pragma once

#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DriveDetrend.h"

namespace vinsk::drive {

struct TSpectrum {
    long double Threshold = 0; // of a peak
    std::vector<double> Period, Amplitude;
    std::vector<TDrivePeak> Peaks;
};

// The one-sided amplitude spectrum (a sine of amplitude A reads A) of the
// series resampled uniformly, its mean removed and under a Hann window,
// periods shortest first; and up to 12 peaks within the record, strongest
// first, above 4 times the median bin and 2 % of the highest, each placed
// between bins by the parabola through its three.
TSpectrum PeriodSpectrum(const std::vector<double>& t, const std::vector<double>& e);

// The stage: r's SpectrumPeriod, SpectrumAmplitude and Peaks, with the worm
// period's harmonics labelled "P/i" and their amplitudes from the joint fit.
void SpectrumAndPeaks(const std::vector<double>& t, const std::vector<double>& pe, long double period,
                      const TDriveSettings& set, const TDetrended& fits, TDriveResult& r);

} // namespace vinsk::drive
