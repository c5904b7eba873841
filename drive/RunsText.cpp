// The comparison of runs as people read it, shared by the command line and
// the window.
#include <cmath>

#include "common/NumText.h"
#include "drive/Runs.h"

namespace vinsk {

namespace {

const std::string Arcsec = "\u2033";
const std::string Minus = "\u2212";
const char* const WorseText = "PEC made the error larger: the correction's sign is probably inverted (use Invert) or "
                              "its phase is off by half a cycle";

// " (−74 %)", or "" when the first value is 0.
std::string Change(double from, double to)
{
    if (!(from > 0))
        return "";
    const long long percent = std::llround(100 * (static_cast<long double>(to) - from) / from);
    return " (" + (percent < 0 ? Minus + std::to_string(-percent) : "+" + std::to_string(percent)) + " %)";
}

std::string Alignment(const TRunReport& run, const TRunReport& first, const TRunRow& row, const TRunRow& firstRow,
                      char sep)
{
    switch (row.Alignment) {
    case TRunAlignment::Phase:
        return "aligned by phase";
    case TRunAlignment::Shape:
        return "aligned by shape, lag " + FixedText(row.LagDeg, 0, sep) + "\u00b0";
    case TRunAlignment::First:
    case TRunAlignment::None:
        break;
    }
    if (!row.PeriodAgrees)
        return "its worm period of " + FixedText(run.WormPeriod, 2, sep) + " s differs from the first run's " +
               FixedText(first.WormPeriod, 2, sep) + " s by more than 1 %: only the statistics are compared";
    if (firstRow.TooSmall)
        return "not aligned, as the first run's curve is too small (its P-P under 3 \u00d7 its residual after PEC): "
               "only the statistics are compared";
    return "not aligned, as its curve is too small (its P-P under 3 \u00d7 its residual after PEC): only the "
           "statistics are compared";
}

} // namespace

std::vector<std::vector<std::string>> RunsTable(const std::vector<TRunReport>& runs, char sep)
{
    std::vector<std::vector<std::string>> rows = {
        {"#", "Run", "Date", "Worm period", "Cycles", "P-P", "RMS", "Residual after PEC"}};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const TRunReport& r = runs[i];
        rows.push_back({std::to_string(i + 1), r.Name(), r.Date().empty() ? "-" : r.Date(),
                        FixedText(r.WormPeriod, 2, sep) + " s", std::to_string(r.CycleCount),
                        FixedText(r.PeakToPeak, 2, sep) + Arcsec, FixedText(r.Rms, 2, sep) + Arcsec,
                        std::isfinite(r.PecResidualRms) ? FixedText(r.PecResidualRms, 2, sep) + Arcsec : "-"});
    }
    return rows;
}

std::vector<std::string> RunsChanges(const std::vector<TRunReport>& runs, const TRunsComparison& c, char sep)
{
    std::vector<std::string> lines;
    if (runs.empty() || c.Rows.size() != runs.size())
        return lines;
    const TRunReport& a = runs.front();
    for (std::size_t i = 1; i < runs.size(); ++i) {
        const TRunReport& r = runs[i];
        lines.push_back(std::to_string(i + 1) + ": P-P " + FixedText(a.PeakToPeak, 1, sep) + Arcsec + " \u2192 " +
                        FixedText(r.PeakToPeak, 1, sep) + Arcsec + Change(a.PeakToPeak, r.PeakToPeak) + ", RMS " +
                        FixedText(a.Rms, 1, sep) + Arcsec + " \u2192 " + FixedText(r.Rms, 1, sep) + Arcsec +
                        Change(a.Rms, r.Rms) + "; " + Alignment(r, a, c.Rows[i], c.Rows[0], sep));
        if (c.Rows[i].MadeWorse)
            lines.push_back(std::to_string(i + 1) + ": " + WorseText);
    }
    return lines;
}

std::string AverageText(const TRunsAverage& a, char sep)
{
    std::string s = "Averaged PEC of " + std::to_string(a.Weights.size()) + " runs, on the first run's phase: P-P " +
                    FixedText(a.PeakToPeak, 2, sep) + Arcsec + " \u00b1 " + FixedText(a.PeakToPeakSigma, 2, sep) +
                    Arcsec + "; weights";
    for (std::size_t i = 0; i < a.Weights.size(); ++i)
        s += (i ? ", " : " ") + FixedText(a.Weights[i], 2, sep);
    return s;
}

} // namespace vinsk
