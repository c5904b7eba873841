// Runs compared with the first one, and their PEC curves averaged.
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/NumText.h"
#include "drive/PecFiles.h"
#include "drive/Runs.h"

namespace vinsk {

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// Worm periods that differ by more than this share are different worms (or
// a period estimated wrongly): their phases do not line up.
constexpr long double PeriodAgreement = 0.01L;
// A curve under this many times its residual after PEC is mostly noise: its
// shape cannot be matched.
constexpr long double AlignableRatio = 3;
// A correlation this high with a larger amplitude: the correction added to
// the error instead of removing it.
constexpr long double WorseCorrelation = 0.8L;

TPhaseSource SourceOf(const TRunReport& r) { return PhaseSourceOf(r.Phase); }

// The run's phase at START on its own axis, degrees.
long double AxisStartDeg(const TRunReport& r)
{
    switch (SourceOf(r)) {
    case TPhaseSource::WormPhase: return r.Phase.WormPhaseDeg;
    case TPhaseSource::Motor: return MotorPhaseDeg(r.Phase);
    case TPhaseSource::Start: break;
    }
    return 0;
}

// The mean cycle on the run's own axis. The report's runs from the PEC
// index with a worm phase and from START otherwise; a motor's axis is the
// START axis turned by the motor's phase at START.
std::vector<double> AxisCycle(const TRunReport& r)
{
    const std::vector<double>& c = r.MeanCycle;
    if (SourceOf(r) != TPhaseSource::Motor)
        return c;
    const long double shift = MotorPhaseDeg(r.Phase);
    const std::size_t n = c.size();
    std::vector<double> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        long double at = static_cast<long double>(k) - shift;
        at -= 360 * floorl(at / 360);
        const std::size_t lo = static_cast<std::size_t>(at) % n;
        const long double f = at - floorl(at);
        out[k] = static_cast<double>(c[lo] + f * (static_cast<long double>(c[(lo + 1) % n]) - c[lo]));
    }
    return out;
}

std::vector<long double> LessMean(const std::vector<double>& c)
{
    long double mean = 0;
    for (double v : c)
        mean += v;
    mean /= c.size();
    std::vector<long double> out;
    for (double v : c)
        out.push_back(v - mean);
    return out;
}

// The correlation of a(psi) with b(psi + lag), lag in whole samples.
long double Correlation(const std::vector<long double>& a, const std::vector<long double>& b, std::size_t lag)
{
    const std::size_t n = a.size();
    long double ab = 0, aa = 0, bb = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const long double y = b[(k + lag) % n];
        ab += a[k] * y;
        aa += a[k] * a[k];
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / sqrtl(aa * bb) : 0;
}

long double Amplitude(const std::vector<double>& c)
{
    const auto [lo, hi] = std::minmax_element(c.begin(), c.end());
    return static_cast<long double>(*hi) - *lo;
}

// The uncertainty of the mean cycle's peak-to-peak: each phase of it is
// uncertain by the spread over the root of the cycles, and a peak-to-peak is
// the difference of two phases. 0 when the report does not tell.
long double MeanCycleSigma(const TRunReport& r)
{
    if (r.CycleCount < 1 || !(r.CycleSpreadRms > 0) || !std::isfinite(r.CycleSpreadRms))
        return 0;
    return sqrtl(2.0L / r.CycleCount) * r.CycleSpreadRms;
}

// The report's own P-P uncertainty where it gives one, else the mean cycle's.
long double PeakToPeakSigma(const TRunReport& r)
{
    return std::isfinite(r.PeakToPeakSigma) && r.PeakToPeakSigma >= 0 ? r.PeakToPeakSigma : MeanCycleSigma(r);
}

bool TooSmall(const TRunReport& r)
{
    return r.PeakToPeak < AlignableRatio * r.PecResidualRms; // false without a residual
}

// Whether two runs' axes are the same: both from the PEC index, or both the
// motor's count of one power-up with the same steps per worm turn.
bool SameAxis(const TRunReport& a, const TRunReport& b, bool samePowerUp)
{
    const TPhaseSource s = SourceOf(a);
    if (s != SourceOf(b))
        return false;
    if (s == TPhaseSource::WormPhase)
        return true;
    return s == TPhaseSource::Motor && samePowerUp && a.Phase.StepsPerWorm == b.Phase.StepsPerWorm;
}

std::string ChannelText(const TRunReport& r)
{
    return r.Channel.empty() ? std::string("comes from a guide log") : "measured the " + r.Channel + " channel";
}

TWormSource WormSourceOf(const std::string& name)
{
    if (name == "given")
        return TWormSource::Given;
    if (name == "estimated")
        return TWormSource::Estimated;
    return TWormSource::None;
}

} // namespace

const char* RunAlignmentName(TRunAlignment a)
{
    switch (a) {
    case TRunAlignment::First: return "first";
    case TRunAlignment::Phase: return "phase";
    case TRunAlignment::Shape: return "shape";
    case TRunAlignment::None: break;
    }
    return "none";
}

std::vector<double> AlignedCycle(const TRunReport& run, const TRunRow& row)
{
    const std::vector<long double> c = LessMean(AxisCycle(run));
    const std::size_t n = c.size();
    const std::size_t lag = static_cast<std::size_t>(std::lround(row.LagDeg * n / 360)) % std::max<std::size_t>(n, 1);
    std::vector<double> out(n);
    for (std::size_t k = 0; k < n; ++k)
        out[k] = static_cast<double>(c[(k + lag) % n]);
    return out;
}

std::vector<double> CurveOnAxis(const TDriveResult& curve)
{
    std::vector<double> out;
    if (!(curve.WormPeriod > 0) || curve.T.empty())
        return out;
    const TPhaseSource s = PhaseSourceOf(curve.PhaseInput);
    const long double start = s == TPhaseSource::WormPhase ? curve.PhaseInput.WormPhaseDeg
                              : s == TPhaseSource::Motor   ? MotorPhaseDeg(curve.PhaseInput)
                                                           : 0;
    for (int k = 0; k < RunCycleSamples; ++k) {
        long double turns = (k - start) / 360;
        turns -= floorl(turns);
        out.push_back(PecFitAt(curve, static_cast<double>(turns * curve.WormPeriod)));
    }
    return out;
}

TRunsComparison CompareRuns(const std::vector<TRunReport>& runs, bool samePowerUp)
{
    TRunsComparison c;
    if (runs.empty()) {
        static_cast<TRefusal&>(c) = Refuse(TRefusalReason::Mismatch, "No runs to compare");
        return c;
    }
    const TRunReport& a = runs.front();
    for (const TRunReport& b : runs)
        if (b.Channel != a.Channel) {
            static_cast<TRefusal&>(c) =
                Refuse(TRefusalReason::Mismatch, b.File + " " + ChannelText(b) + ", " + a.File + " " + ChannelText(a) +
                                                     ": runs compare only within one channel");
            return c;
        }
    TRunRow first;
    first.Alignment = TRunAlignment::First;
    first.Correlation = 1;
    first.TooSmall = TooSmall(a);
    c.Rows.push_back(first);
    const std::vector<long double> ca = LessMean(AxisCycle(a));
    for (std::size_t i = 1; i < runs.size(); ++i) {
        const TRunReport& b = runs[i];
        TRunRow row;
        row.Correlation = NaN;
        row.PeriodAgrees = fabsl(static_cast<long double>(b.WormPeriod) - a.WormPeriod) <= PeriodAgreement * a.WormPeriod;
        row.TooSmall = TooSmall(b);
        if (row.PeriodAgrees && !row.TooSmall && !first.TooSmall) {
            const std::vector<long double> cb = LessMean(AxisCycle(b));
            if (SameAxis(a, b, samePowerUp)) {
                row.Alignment = TRunAlignment::Phase;
                row.Correlation = static_cast<double>(Correlation(ca, cb, 0));
            } else {
                row.Alignment = TRunAlignment::Shape;
                std::size_t best = 0;
                long double bestCorrelation = -2;
                for (std::size_t lag = 0; lag < cb.size(); ++lag)
                    if (const long double r = Correlation(ca, cb, lag); r > bestCorrelation)
                        bestCorrelation = r, best = lag;
                row.LagDeg = static_cast<double>(best * 360.0L / cb.size());
                row.Correlation = static_cast<double>(bestCorrelation);
            }
        }
        // A shape alignment makes the correlation high by construction, so
        // only a phase alignment's counts.
        // Larger beyond twice the difference's uncertainty: two runs of an
        // unchanged mount differ by their noise.
        const long double ppMargin = 2 * hypotl(PeakToPeakSigma(a), PeakToPeakSigma(b));
        const long double cycleMargin = 2 * hypotl(MeanCycleSigma(a), MeanCycleSigma(b));
        row.MadeWorse = b.PeakToPeak > a.PeakToPeak + ppMargin ||
                        (row.Alignment == TRunAlignment::Phase && row.Correlation >= WorseCorrelation &&
                         Amplitude(b.MeanCycle) > Amplitude(a.MeanCycle) + cycleMargin);
        c.Rows.push_back(row);
    }
    return c;
}

TRunsAverage AverageRuns(const std::vector<TRunReport>& runs, const TRunsComparison& comparison)
{
    TRunsAverage out;
    // Runs that cannot be averaged together, unless said otherwise.
    const auto refuse = [&](std::string message, TRefusalReason reason = TRefusalReason::Mismatch) {
        static_cast<TRefusal&>(out) = Refuse(reason, std::move(message));
        return out;
    };
    if (comparison.Refused())
        return refuse(comparison.Message, comparison.Reason);
    if (runs.empty() || comparison.Rows.size() != runs.size())
        return refuse("No runs to average");
    const TRunReport& a = runs.front();
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const TRunReport& r = runs[i];
        const TRunRow& row = comparison.Rows[i];
        if (r.CycleCount < 2)
            return refuse(
                r.File + " holds " + std::to_string(r.CycleCount) +
                    " whole worm cycle: averaging needs 2 or more from each run, as the spread of one is unknown",
                TRefusalReason::TooShort);
        if (!(r.CycleSpreadRms > 0) || !std::isfinite(r.CycleSpreadRms))
            return refuse(r.File + " holds no cycle-to-cycle spread to weight it by");
        if (r.PecCos.empty())
            return refuse(r.File + " holds no PEC fit");
        if (!row.PeriodAgrees)
            return refuse(r.File + "'s worm period of " + FixedText(r.WormPeriod, 2) + " s differs from " + a.File +
                          "'s " + FixedText(a.WormPeriod, 2) + " s by more than 1 %: their curves are not averaged");
        if (row.TooSmall)
            return refuse(r.File + "'s curve is under 3 times its residual after PEC: it cannot be aligned");
        if (row.Alignment == TRunAlignment::None)
            return refuse(r.File + " cannot be aligned with " + a.File);
    }
    std::size_t K = 0;
    for (const TRunReport& r : runs)
        K = std::max(K, r.PecCos.size());
    std::vector<long double> cosSum(K, 0), sinSum(K, 0);
    long double weightSum = 0, residual = 0;
    std::vector<long double> weights;
    for (const TRunReport& r : runs) {
        const long double w = r.CycleCount / (static_cast<long double>(r.CycleSpreadRms) * r.CycleSpreadRms);
        if (!std::isfinite(w))
            return refuse(r.File + " holds a cycle-to-cycle spread too small to weight it by");
        weights.push_back(w);
        weightSum += w;
    }
    if (!std::isfinite(weightSum))
        return refuse("The runs' cycle-to-cycle spreads are too small to weight them by");
    // Each run's axis starts (at its first analysed step) this far round.
    const auto delta = [](const TRunReport& r) {
        return 2 * Pi * (AxisStartDeg(r) / 360 + r.PecT0 / static_cast<long double>(r.WormPeriod));
    };
    const long double deltaA = delta(a);
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const TRunReport& r = runs[k];
        const long double w = weights[k] / weightSum;
        out.Weights.push_back(static_cast<double>(w));
        // The run's curve, read ahead by its lag, on the first run's times.
        const long double d = delta(r) - deltaA - comparison.Rows[k].LagDeg * Pi / 180;
        for (std::size_t i = 0; i < r.PecCos.size(); ++i) {
            const long double c = r.PecCos[i], s = r.PecSin[i], x = (i + 1) * d;
            cosSum[i] += w * (c * cosl(x) - s * sinl(x));
            sinSum[i] += w * (c * sinl(x) + s * cosl(x));
        }
        if (std::isfinite(r.PecResidualRms))
            residual += w * r.PecResidualRms * r.PecResidualRms;
    }
    TDriveResult& c = out.Curve;
    c.WormPeriod = a.WormPeriod;
    c.WormSource = WormSourceOf(a.WormSource);
    c.T = {a.PecT0};
    c.Record = a.Record;
    c.PhaseInput = a.Phase;
    c.Setup.MountSpeed = a.MountSpeed;
    c.PecHarmonics = static_cast<int>(K);
    c.PecResidualRms = static_cast<double>(sqrtl(residual));
    for (std::size_t i = 0; i < K; ++i) {
        c.PecCos.push_back(static_cast<double>(cosSum[i]));
        c.PecSin.push_back(static_cast<double>(sinSum[i]));
    }
    for (long double ph = 0; ph < c.WormPeriod; ph += 1) {
        TPecRow row;
        row.Phase = static_cast<double>(ph);
        const double t = static_cast<double>(a.PecT0 + ph);
        row.Error = PecFitAt(c, t);
        row.Rate = -PecFitRateAt(c, t);
        c.Pec.push_back(row);
    }
    PecRowsFromIndex(c);
    double lo = 0, hi = 0;
    constexpr int Samples = 3600;
    for (int k = 0; k < Samples; ++k) {
        const double v = PecFitAt(c, static_cast<double>(a.PecT0 + k * static_cast<long double>(c.WormPeriod) / Samples));
        lo = k ? std::min(lo, v) : v;
        hi = k ? std::max(hi, v) : v;
    }
    out.PeakToPeak = hi - lo;
    // Each run's mean curve is uncertain by its spread over the root of its
    // cycles; the weighted mean by 1 / sqrt(sum of weights) at every phase,
    // and the difference of two phases by sqrt(2) times that.
    out.PeakToPeakSigma = static_cast<double>(sqrtl(2 / weightSum));
    return out;
}

} // namespace vinsk
