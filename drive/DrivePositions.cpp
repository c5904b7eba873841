#include "drive/DrivePositions.h"

#include <algorithm>
#include <cmath>

#include "common/MathFaults.h"
#include "common/NumText.h"
#include "drive/DriveCycles.h"
#include "drive/DriveDetrend.h"
#include "drive/DriveSpectrum.h"
#include "drive/DriveStage.h"
#include "drive/DriveStatistics.h"
#include "numeric/LeastSquares.h"

namespace vinsk {

using namespace drive;

namespace {

constexpr std::size_t MinSamples = 20;

// The covariance of a fit to positions: (A'A)^-1 times the residuals'
// variance, widened by (1 + rho) / (1 - rho) for the correlation rho of
// neighbouring residuals (seeing and the guider's own reactions last longer
// than one frame).
struct TPositionNoise {
    int M = 0;
    std::vector<long double> Inverse; // M x M
    long double Variance = std::numeric_limits<long double>::quiet_NaN();

    long double Cov(int j, int l) const { return Variance * Inverse[static_cast<std::size_t>(j * M + l)]; }
};

TPositionNoise NoiseOf(const std::vector<double>& t, const std::vector<double>& pe, const TFit& f)
{
    TPositionNoise n;
    n.M = f.Columns();
    const std::size_t m = static_cast<std::size_t>(n.M);
    if (!f.Ok || t.size() <= m + 2)
        return n;
    std::vector<long double> ata(m * m, 0);
    std::vector<double> row(m);
    long double ss = 0, lag = 0, prev = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        f.Row(t[i], row.data());
        for (std::size_t a = 0; a < m; ++a)
            for (std::size_t b = 0; b < m; ++b)
                ata[a * m + b] += static_cast<long double>(row[a]) * row[b];
        long double fit = 0;
        for (std::size_t a = 0; a < m; ++a)
            fit += f.Coef[a] * row[a];
        const long double r = pe[i] - fit;
        ss += r * r;
        if (i > 0)
            lag += r * prev;
        prev = r;
    }
    n.Inverse.assign(m * m, 0);
    for (std::size_t c = 0; c < m; ++c) {
        std::vector<long double> a = ata, e(m, 0), x;
        e[c] = 1;
        if (!SolveLinear(a, e, n.M, x))
            return n;
        for (std::size_t r = 0; r < m; ++r)
            n.Inverse[r * m + c] = x[r];
    }
    const long double rho = ss > 0 ? std::clamp<long double>(lag / ss, 0, 0.95L) : 0;
    n.Variance = ss / static_cast<long double>(t.size() - m) * (1 + rho) / (1 - rho);
    return n;
}

// The worm period near the strongest peak of the line-free error that the
// record holds 1.5 times: the one whose joint fit to the positions leaves
// the least residual, within 3 % of the peak.
long double EstimatePeriod(const std::vector<double>& t, const std::vector<double>& pe, int k, long double record)
{
    const TFit line = FitSeries(t, pe, 1, 0, 0);
    if (!line.Ok)
        return 0;
    std::vector<double> rest(pe.size());
    for (std::size_t i = 0; i < pe.size(); ++i)
        rest[i] = static_cast<double>(pe[i] - line.Poly(t[i]));
    const TSpectrum spec = PeriodSpectrum(t, rest);
    long double guess = 0;
    for (const TDrivePeak& p : spec.Peaks)
        if (p.Period > 0 && 1.5L * p.Period <= record) {
            guess = p.Period;
            break;
        }
    if (!(guess > 0))
        return 0;
    constexpr int Steps = 60;             // each side
    constexpr long double Step = 0.0005L; // of the guess
    long double best = 0, bestRss = 0;
    std::vector<long double> rss(2 * Steps + 1, -1);
    int at = -1;
    for (int s = -Steps; s <= Steps; ++s) {
        const long double p = guess * (1 + s * Step);
        const TFit f = FitSeries(t, pe, 1, k, p);
        if (!f.Ok)
            continue;
        rss[static_cast<std::size_t>(s + Steps)] = f.Rss;
        if (at < 0 || f.Rss < bestRss) {
            best = p;
            bestRss = f.Rss;
            at = s + Steps;
        }
    }
    // Between grid points: the parabola through the least and its neighbours.
    if (at > 0 && at < 2 * Steps) {
        const long double a = rss[static_cast<std::size_t>(at - 1)], b = rss[static_cast<std::size_t>(at)],
                          c = rss[static_cast<std::size_t>(at + 1)];
        const long double d = a - 2 * b + c;
        if (a >= 0 && c >= 0 && d > 0)
            best += guess * Step * (a - c) / (2 * d);
    }
    return best;
}

} // namespace

namespace {

TDriveResult Analyse(const std::vector<double>& t, const std::vector<double>& pe, const TDriveSettings& set,
                     double mountSpeed)
{
    if (t.size() < MinSamples || t.size() != pe.size())
        return Refused<TDriveResult>(Refuse(TRefusalReason::TooShort, "The series holds " + std::to_string(t.size()) +
                                                                          " samples; the analysis needs at least " +
                                                                          std::to_string(MinSamples)));
    TDriveResult r;
    // Nothing photometric: null in the report.
    r.Exposure = r.ArcsecPerStep = r.Fwhm = r.HalfWidth = NaN;
    r.SaturatedFraction = r.OutsideFraction = r.RingRadius = NaN;
    r.Crests = 0;
    r.Time = t;
    r.PE = pe;
    r.T = t;
    r.TrimFirst = 0;
    r.TrimLast = t.size() - 1;
    r.Record = StoreD(static_cast<long double>(t.back()) - t.front());
    if (!(r.Record > 0))
        return Refused<TDriveResult>(Refuse(TRefusalReason::TooShort, "The series spans no time"));

    const int k = set.Harmonics;
    long double period = 0;
    if (set.WormPeriod > 0) {
        period = set.WormPeriod;
        r.WormSource = TWormSource::Given;
    } else {
        period = EstimatePeriod(t, pe, k, r.Record);
        r.WormSource = period > 0 ? TWormSource::Estimated : TWormSource::None;
        if (!(period > 0))
            r.WormNote = "No periodic error stands out of the noise in a record of " + FixedText(r.Record, 0) +
                         " s (a worm period needs 1.5 of its cycles)";
    }
    r.WormPeriod = period > 0 ? StoreD(period) : 0;

    // The joint fit of a line and K harmonics: the drift, the harmonics and
    // the PEC curve; a plain polynomial when the record is too short for it.
    TDetrended fits;
    if (period > 0)
        fits.Harmonic = FitSeries(t, pe, 1, k, period);
    TDetrend mode = set.Detrend;
    if (mode == TDetrend::Harmonic && !(fits.Harmonic.Ok && r.Record >= 2 * period))
        mode = TDetrend::Line;
    r.DetrendUsed = mode;
    TFit trend;
    if (mode == TDetrend::Harmonic)
        trend = fits.Harmonic;
    else if (mode == TDetrend::Line || mode == TDetrend::Quadratic)
        trend = FitSeries(t, pe, mode == TDetrend::Line ? 1 : 2, 0, 0);
    long double mean = 0;
    for (double v : pe)
        mean += v;
    mean /= pe.size();
    r.Error.resize(pe.size());
    for (std::size_t i = 0; i < pe.size(); ++i)
        r.Error[i] = StoreD(trend.Ok ? pe[i] - trend.Poly(t[i]) : pe[i] - mean);
    r.Drift = r.DriftPercent = r.DriftSigma = NaN;
    if (trend.Ok) {
        r.Drift = StoreD(trend.Slope());
        if (std::isfinite(mountSpeed) && mountSpeed > 0)
            r.DriftPercent = StoreD(100 * trend.Slope() / mountSpeed);
        const TPositionNoise noise = NoiseOf(t, pe, trend);
        if (std::isfinite(static_cast<double>(noise.Variance)))
            r.DriftSigma = StoreD(sqrtl(noise.Cov(1, 1)) / trend.Half);
    }

    r.Stats = Statistics(r.T, r.Error, period, set.Tolerance);
    SpectrumAndPeaks(t, pe, period, set, fits, r);
    if (fits.Harmonic.Ok) {
        // The harmonics' uncertainties from the positions' own noise.
        const TPositionNoise noise = NoiseOf(t, pe, fits.Harmonic);
        const TFit& f = fits.Harmonic;
        for (TDrivePeak& p : r.Peaks) {
            if (p.Harmonic < 1 || p.Harmonic > k || !std::isfinite(static_cast<double>(noise.Variance)))
                continue;
            const int jc = f.Degree + 2 * p.Harmonic - 1, js = jc + 1;
            const long double c = f.Coef[static_cast<std::size_t>(jc)], s = f.Coef[static_cast<std::size_t>(js)];
            const long double amp = hypotl(c, s);
            const long double v = amp > 0 ? (c * c * noise.Cov(jc, jc) + s * s * noise.Cov(js, js) +
                                             2 * c * s * noise.Cov(jc, js)) / (amp * amp)
                                          : (noise.Cov(jc, jc) + noise.Cov(js, js)) / 2;
            p.AmplitudeSigma = StoreD(sqrtl(v));
        }
    }
    CyclesAndPec(t, pe, period, set, fits.Harmonic, r);
    return r;
}

} // namespace

TDriveResult AnalysePositions(const std::vector<double>& t, const std::vector<double>& pe, const TDriveSettings& set,
                              double mountSpeed)
{
    try {
        return Analyse(t, pe, set, mountSpeed);
    } catch (const EMathError& ex) {
        return Refused<TDriveResult>(
            Refuse(TRefusalReason::ArithmeticFault,
                   std::string("The analysis met an arithmetic fault (") + ex.what() + "): check the series"));
    }
}

} // namespace vinsk
