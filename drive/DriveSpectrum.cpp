#include "drive/DriveSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "common/MathFaults.h"
#include "numeric/Fftw.h"
#include "numeric/Median.h"

namespace vinsk::drive {

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
    TRealFft fft(m);
    double* in = fft.In();
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
    fft.Execute();
    // One-sided amplitude: a sine of amplitude A reads A at its peak. The
    // bins in double: there are tens of thousands of them, and a plotted
    // amplitude or period needs no more.
    const std::size_t bins = fft.Bins();
    const double (*spec)[2] = fft.Out();
    std::vector<double> amp(bins);
    const double scale = static_cast<double>(2 / wsum);
    for (std::size_t k = 0; k < bins; ++k)
        amp[k] = scale * std::sqrt(spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1]);

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

void SpectrumAndPeaks(const std::vector<double>& tt, const std::vector<double>& pe, long double period,
                      const TDriveSettings& set, const TDetrended& fits, TDriveResult& r)
{
    const int K = set.Harmonics;
    // Spectrum, with the harmonics of the worm named and measured by the
    // joint fit (a short record's window smears P/2 into P).
    TSpectrum spec = PeriodSpectrum(r.T, r.Error);
    // A period longer than the record cannot be measured: the axis ends there.
    r.SpectrumPeriod.clear();
    r.SpectrumAmplitude.clear();
    for (std::size_t i = 0; i < spec.Period.size() && i < spec.Amplitude.size(); ++i)
        if (spec.Period[i] <= r.Record) {
            r.SpectrumPeriod.push_back(spec.Period[i]);
            r.SpectrumAmplitude.push_back(spec.Amplitude[i]);
        }
    r.Peaks = std::move(spec.Peaks);
    if (period > 0) {
        // A peak is harmonic i when its frequency lies within the
        // resolution of i / P: the record's (a window's lobe is 1/T wide)
        // or half the spacing of the harmonics, whichever is finer. On a
        // record of under two cycles the worm's lobe sits several per cent
        // off P.
        const long double tolerance = std::min(1 / static_cast<long double>(r.Record), 1 / (2 * period));
        int maxI = 0;
        for (TDrivePeak& p : r.Peaks) {
            const long double f = 1 / static_cast<long double>(p.Period), i = roundl(f * period);
            if (i >= 1 && i <= 10 && fabsl(f - i / period) <= tolerance) {
                p.Harmonic = static_cast<int>(i);
                maxI = std::max(maxI, p.Harmonic);
            }
        }
        // One row per harmonic: the strongest peak stands for it, the
        // others are its window's lobes.
        std::vector<TDrivePeak> kept;
        for (const TDrivePeak& p : r.Peaks) {
            bool seen = false;
            for (const TDrivePeak& q : kept)
                seen = seen || (p.Harmonic != 0 && q.Harmonic == p.Harmonic);
            if (!seen)
                kept.push_back(p);
        }
        r.Peaks = std::move(kept);
        {
            const TFit joint = maxI > K ? FitIncrements(tt, pe, maxI, period, &fits.Noise, fits.Harmonic.Degree, fits.Bridged) : fits.Harmonic;
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
                p.Period = StoreD(period / p.Harmonic); // the lobe's crest may lie a few per cent off
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
}

} // namespace vinsk::drive
