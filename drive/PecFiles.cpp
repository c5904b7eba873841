#include "drive/PecFiles.h"

#include <cmath>

#include "common/NumText.h"

namespace vinsk {

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;
constexpr int CelestronBins = 88;

// What every PEC file needs of the analysis: a worm period, its fit, and a
// whole cycle of trail behind it.
TRefusal CheckFit(const TDriveResult& r)
{
    if (r.Refused())
        return static_cast<const TRefusal&>(r);
    if (!(r.WormPeriod > 0) || r.PecCos.empty() || r.T.empty())
        return Refuse(TRefusalReason::NeedsInput,
                      "A PEC file needs a worm period: none was given, and the trail does not show one");
    if (r.Record < r.WormPeriod)
        return Refuse(TRefusalReason::TooShort, "The trail holds " + FixedText(r.Record / r.WormPeriod, 2) +
                                                    " worm cycles: a PEC file needs at least one whole cycle");
    return {};
}

// Up to six decimals, no trailing zeros.
std::string Short6(long double v)
{
    std::string s = FixedText(static_cast<double>(v), 6);
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

} // namespace

TPhaseSource PhaseSourceOf(const TPhaseInput& p)
{
    if (std::isfinite(p.WormPhaseDeg))
        return TPhaseSource::WormPhase;
    if (p.HaveMotorStart && p.StepsPerWorm > 0)
        return TPhaseSource::Motor;
    return TPhaseSource::Start;
}

const char* PhaseSourceName(TPhaseSource s)
{
    switch (s) {
    case TPhaseSource::WormPhase: return "worm_phase";
    case TPhaseSource::Motor: return "motor";
    case TPhaseSource::Start: break;
    }
    return "start";
}

double WormPhaseAt(const TDriveResult& r, const TPhaseInput& p, double t)
{
    if (!(r.WormPeriod > 0))
        return std::numeric_limits<double>::quiet_NaN();
    const long double start = std::isfinite(p.WormPhaseDeg) ? p.WormPhaseDeg : 0;
    long double turns = start / 360 + static_cast<long double>(t) / r.WormPeriod;
    turns -= floorl(turns);
    return static_cast<double>(turns * 360);
}

double MotorPhaseDeg(const TPhaseInput& p)
{
    if (!p.HaveMotorStart || p.StepsPerWorm <= 0)
        return std::numeric_limits<double>::quiet_NaN();
    long long m = (p.Hemisphere < 0 ? -p.MotorStart : p.MotorStart) % p.StepsPerWorm;
    if (m < 0)
        m += p.StepsPerWorm;
    return static_cast<double>(static_cast<long double>(m) / p.StepsPerWorm * 360);
}

double PecFitAt(const TDriveResult& r, double t)
{
    if (!(r.WormPeriod > 0) || r.T.empty())
        return 0;
    const long double w = 2 * Pi * (static_cast<long double>(t) - r.T.front()) / r.WormPeriod;
    long double sum = 0;
    for (std::size_t i = 0; i < r.PecCos.size() && i < r.PecSin.size(); ++i) {
        const long double a = (i + 1) * w;
        sum += r.PecCos[i] * cosl(a) + r.PecSin[i] * sinl(a);
    }
    return static_cast<double>(sum);
}

double PecFitRateAt(const TDriveResult& r, double t)
{
    if (!(r.WormPeriod > 0) || r.T.empty())
        return 0;
    const long double k = 2 * Pi / r.WormPeriod;
    const long double w = k * (static_cast<long double>(t) - r.T.front());
    long double sum = 0;
    for (std::size_t i = 0; i < r.PecCos.size() && i < r.PecSin.size(); ++i) {
        const long double a = (i + 1) * w;
        sum += (i + 1) * k * (-r.PecCos[i] * sinl(a) + r.PecSin[i] * cosl(a));
    }
    return static_cast<double>(sum);
}

void PecRowsFromIndex(TDriveResult& r)
{
    if (!std::isfinite(r.PhaseInput.WormPhaseDeg) || r.Pec.empty() || !(r.WormPeriod > 0))
        return;
    // The moment after the exposure's start at which the worm passes its index.
    long double turns = -r.PhaseInput.WormPhaseDeg / 360.0L;
    turns -= floorl(turns);
    const long double index = turns * r.WormPeriod;
    for (TPecRow& row : r.Pec) {
        const double t = static_cast<double>(index + row.Phase);
        row.Error = PecFitAt(r, t);
        row.Rate = -PecFitRateAt(r, t);
    }
}

std::string PhaseText(const TPhaseInput& p)
{
    switch (PhaseSourceOf(p)) {
    case TPhaseSource::WormPhase:
        return "Phase: the worm at " + FixedText(p.WormPhaseDeg, 1) + " deg at START (0 at the PEC index)";
    case TPhaseSource::Motor:
        return "Phase: RA motor at " + std::to_string(p.MotorStart) + " at START, " +
               FixedText(MotorPhaseDeg(p), 1) + " deg of its " + std::to_string(p.StepsPerWorm) +
               "-step worm turn (not the PEC index)";
    case TPhaseSource::Start:
        break;
    }
    return "Phase: from START (no worm phase given)";
}

std::string PhaseJson(const TPhaseInput& p)
{
    const TPhaseSource source = PhaseSourceOf(p);
    const auto num = [](double v) { return std::isfinite(v) ? FloatText(v) : std::string("null"); };
    const double phase = source == TPhaseSource::WormPhase ? p.WormPhaseDeg
                         : source == TPhaseSource::Motor   ? MotorPhaseDeg(p)
                                                           : std::numeric_limits<double>::quiet_NaN();
    return std::string("{\"source\": \"") + PhaseSourceName(source) + "\", \"phase_at_start_deg\": " + num(phase) +
           ", \"motor_start\": " + (p.HaveMotorStart ? std::to_string(p.MotorStart) : std::string("null")) +
           ", \"steps_per_worm\": " + (p.StepsPerWorm > 0 ? std::to_string(p.StepsPerWorm) : std::string("null")) +
           ", \"hemisphere\": \"" + (p.Hemisphere < 0 ? "south" : "north") + "\"" +
           // Known only for a count a capture recorded.
           (p.HaveMotorStart && std::isfinite(p.MotorStartSigma) ? ", \"motor_start_sigma\": " + num(p.MotorStartSigma)
                                                                  : std::string()) +
           "}";
}

TPecFile EqmodPecFile(const TDriveResult& r, const TPhaseInput& p, const TPecFileOptions& o)
{
    if (!p.HaveMotorStart || p.StepsPerWorm <= 0)
        return Refused<TPecFile>(
            Refuse(TRefusalReason::NeedsInput,
                   "An EQMOD PEC file needs the RA motor position at START and the motor steps per worm turn"));
    if (TRefusal why = CheckFit(r); why.Refused())
        return Refused<TPecFile>(std::move(why));
    const long long n = std::llround(r.WormPeriod);
    if (n < 1)
        return Refused<TPecFile>(
            Refuse(TRefusalReason::TooShort, "A PEC file needs a worm period of at least one second"));
    const int s = p.Hemisphere < 0 ? -1 : 1;
    const int sign = o.Invert ? -s : s;
    // The driver is a Windows program: CRLF, and one blank between fields,
    // since it splits at the first blank.
    TPecFile f;
    f.Text = "# Vinsk " + o.Version + " PEC, " + o.PictureName + (o.Invert ? ", correction inverted" : "") + "\r\n";
    f.Text += "!WormPeriod=" + std::to_string(n) + "\r\n"; // before the steps: reading it resets them
    f.Text += "!StepsPerWorm=" + std::to_string(p.StepsPerWorm) + "\r\n";
    f.Text += "# time - motor - PE\r\n";
    for (long long i = 0; i < n; ++i) {
        const long double t = static_cast<long double>(i) * r.WormPeriod / n;
        const long double steps = static_cast<long double>(p.MotorStart) +
                                  static_cast<long double>(s) * i * p.StepsPerWorm / n;
        long long m = std::llround(steps) % p.StepsPerWorm;
        if (m < 0)
            m += p.StepsPerWorm;
        f.Text += std::to_string(i) + " " + std::to_string(m) + " " +
                  FixedText(sign * PecFitAt(r, static_cast<double>(t)), 4) + "\r\n";
    }
    return f;
}

TPecFile CelestronPecFile(const TDriveResult& r, const TPhaseInput& p, double mountSpeed, const TPecFileOptions& o)
{
    if (!std::isfinite(p.WormPhaseDeg))
        return Refused<TPecFile>(
            Refuse(TRefusalReason::NeedsInput,
                   "A Celestron PEC file needs the worm phase at START (0 at the mount's PEC index)"));
    if (TRefusal why = CheckFit(r); why.Refused())
        return Refused<TPecFile>(std::move(why));
    const int arcsec = o.CelestronWormArcsec == 3600 ? 3600 : 7200;
    TPecFile f;
    // The time after START at which the worm stands at phase j of the table.
    const auto timeAt = [&](int j) {
        long double turns = static_cast<long double>(j) / CelestronBins - p.WormPhaseDeg / 360.0L;
        turns -= floorl(turns);
        return static_cast<double>(turns * r.WormPeriod);
    };
    const double pe0 = PecFitAt(r, timeAt(0));
    f.Text = std::to_string(CelestronBins) + "\n";
    for (int j = 0; j < CelestronBins; ++j) {
        // The cumulative correction: what undoes the error since the index.
        const long double c = -(static_cast<long double>(PecFitAt(r, timeAt(j))) - pe0);
        f.Text += Short6(o.Invert ? -c : c) + "\n";
    }
    f.Text += "0\n"; // a whole cycle from the index: the fit carries no drift
    f.Text += std::to_string(arcsec) + "\n";
    if (mountSpeed > 0) {
        const long double span = arcsec / static_cast<long double>(mountSpeed);
        if (fabsl(span - r.WormPeriod) > 0.01L * r.WormPeriod)
            f.Warning = "The mount's PEC table spans " + std::to_string(arcsec) + "\" at " +
                        FloatText(mountSpeed) + "\"/s, that is " + FixedText(static_cast<double>(span), 1) +
                        " s, not the worm period of " + FixedText(r.WormPeriod, 1) +
                        " s: check the worm arc seconds (7200 or 3600)";
    }
    return f;
}

} // namespace vinsk
