#include "tools/cli/CliRuns.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <utility>

#include "common/NumText.h"
#include "drive/PecFiles.h"
#include "drive/Runs.h"
#include "tools/cli/Version.h"

namespace vinsk::cli {

namespace {

// Characters, not bytes: the table's texts are UTF-8.
std::size_t Width(const std::string& s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

double ChangePercent(double from, double to)
{
    return from > 0 ? static_cast<double>(100 * (static_cast<long double>(to) - from) / from)
                    : std::numeric_limits<double>::quiet_NaN();
}

std::string NumberList(const std::vector<double>& v)
{
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i)
        s += (i ? ", " : "") + JsonNumber(v[i]);
    return s + "]";
}

std::string RunsJson(const std::vector<TRunReport>& runs, const TRunsComparison& c, const TRunsAverage* average)
{
    const TRunReport& a = runs.front();
    std::string o = "{\n  \"channel\": " + (a.Channel.empty() ? std::string("null") : JsonString(a.Channel)) +
                    ",\n  \"runs\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const TRunReport& r = runs[i];
        const TRunRow& row = c.Rows[i];
        const bool aligned = row.Alignment == TRunAlignment::Phase || row.Alignment == TRunAlignment::Shape;
        o += std::string(i ? "," : "") + "\n    {\"file\": " + JsonString(r.File) + ", \"name\": " +
             JsonString(r.Name()) + ", \"date\": " + (r.Date().empty() ? "null" : JsonString(r.Date())) +
             ", \"worm_period_s\": " + JsonNumber(r.WormPeriod) + ", \"cycles\": " + std::to_string(r.CycleCount) +
             ", \"peak_to_peak\": " + JsonNumber(r.PeakToPeak) + ", \"rms\": " + JsonNumber(r.Rms) +
             ", \"residual_rms\": " + JsonNumber(r.PecResidualRms) + ", \"alignment\": \"" +
             RunAlignmentName(row.Alignment) + "\", \"lag_deg\": " +
             (row.Alignment == TRunAlignment::Shape ? JsonNumber(row.LagDeg) : std::string("null")) +
             ", \"correlation\": " + (aligned ? JsonNumber(row.Correlation) : std::string("null")) +
             ", \"period_agrees\": " + (row.PeriodAgrees ? "true" : "false") +
             ", \"too_small\": " + (row.TooSmall ? "true" : "false") +
             ", \"peak_to_peak_change_percent\": " +
             (i ? JsonNumber(ChangePercent(a.PeakToPeak, r.PeakToPeak)) : std::string("null")) +
             ", \"rms_change_percent\": " + (i ? JsonNumber(ChangePercent(a.Rms, r.Rms)) : std::string("null")) +
             ", \"made_worse\": " + (row.MadeWorse ? "true" : "false") + "}";
    }
    o += "\n  ],\n  \"average\": ";
    if (average) {
        const TDriveResult& curve = average->Curve;
        o += "{\"peak_to_peak\": " + JsonNumber(average->PeakToPeak) + ", \"peak_to_peak_sigma\": " +
             JsonNumber(average->PeakToPeakSigma) + ", \"weights\": " + NumberList(average->Weights) +
             ", \"worm_period_s\": " + JsonNumber(curve.WormPeriod) + ", \"cos\": " + NumberList(curve.PecCos) +
             ", \"sin\": " + NumberList(curve.PecSin) + ", \"t0_s\": " + JsonNumber(curve.T.front()) +
             ", \"phase\": " + PhaseJson(curve.PhaseInput) + "}";
    } else {
        o += "null";
    }
    return o + ",\n  \"format_version\": " + std::to_string(RunFormatVersion) + "\n}\n";
}

std::string Summary(const std::vector<TRunReport>& runs, const TRunsComparison& c, char sep)
{
    const TRunReport& a = runs.front();
    std::string s = "Runs of the " + (a.Channel.empty() ? std::string("guide log") : a.Channel + " channel") +
                    ", each compared with the first:\n";
    const std::vector<std::vector<std::string>> rows = RunsTable(runs, sep);
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], Width(row[i]));
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            s += row[i] + (i + 1 < row.size() ? std::string(widths[i] - Width(row[i]) + 2, ' ') : "");
        s += "\n";
    }
    for (const std::string& line : RunsChanges(runs, c, sep))
        s += line + "\n";
    return s;
}

} // namespace

std::optional<std::string> RunsUsageProblem(const std::set<std::string>& given, const TRunsOptions& runs,
                                            const TDriveOptions& d)
{
    static const char* const allowed[] = {"--runs",   "--combine",   "--same-power-up", "--json",
                                          "--pec",    "--eqmod",     "--celestron",     "--celestron-worm-arcsec",
                                          "--invert"};
    for (const std::string& a : given)
        if (std::find(std::begin(allowed), std::end(allowed), a) == std::end(allowed))
            return a + " does not go with --runs";
    if (runs.Reports.size() < 2)
        return std::string("--runs needs two reports or more");
    if (!runs.Combine)
        for (const char* curve : {"--pec", "--eqmod", "--celestron", "--celestron-worm-arcsec", "--invert"})
            if (given.count(curve))
                return std::string(curve) + " writes the averaged curve: it needs --combine";
    const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
        {"--json", &d.Json}, {"--pec", &d.Pec}, {"--eqmod", &d.Eqmod}, {"--celestron", &d.Celestron}};
    for (std::size_t x = 0; x < std::size(outputs); ++x) {
        const std::optional<std::string>& o = *outputs[x].second;
        if (!o)
            continue;
        for (std::size_t y = x + 1; y < std::size(outputs); ++y)
            if (*outputs[y].second && **outputs[y].second == *o)
                return std::string(outputs[x].first) + " and " + outputs[y].first + " cannot both write to " +
                       (*o == "-" ? "standard output" : *o);
        if (*o == "-")
            continue;
        // A report replaced by an output would be lost.
        for (const std::string& report : runs.Reports) {
            std::error_code ec;
            if (*o == report || std::filesystem::equivalent(*o, report, ec))
                return std::string(outputs[x].first) + " would replace the report " + report;
        }
    }
    return std::nullopt;
}

int RunRuns(const TRunsOptions& o, const TDriveOptions& d, char sep, std::FILE* out, std::FILE* err)
{
    const auto fail = [&](const std::string& message) {
        std::fputs((message + "\n").c_str(), err);
        return 1;
    };
    std::vector<TRunReport> runs;
    try {
        for (const std::string& file : o.Reports) {
            TRunRead read = ReadRunReportFile(file);
            if (!read.Run)
                return fail(read.Message);
            runs.push_back(std::move(*read.Run));
        }
    } catch (const std::bad_alloc&) {
        return fail("Not enough memory to read the reports");
    }
    const TRunsComparison c = CompareRuns(runs, o.SamePowerUp);
    if (c.Refused())
        return fail(c.Message);
    std::string summary = Summary(runs, c, sep);
    std::vector<std::pair<std::string, std::string>> outputs;
    std::optional<TRunsAverage> average;
    if (o.Combine) {
        average = AverageRuns(runs, c);
        if (average->Refused())
            return fail(average->Message);
        const TDriveResult& curve = average->Curve;
        summary += AverageText(*average, sep) + "\n";
        TPecFileOptions pecOptions;
        pecOptions.Invert = d.Invert;
        pecOptions.CelestronWormArcsec = d.CelestronWormArcsec.value_or(7200);
        pecOptions.Version = ProgramVersion;
        pecOptions.PictureName = "average of " + std::to_string(runs.size()) + " runs from " + runs.front().Name();
        if (d.Pec)
            outputs.emplace_back(*d.Pec, PecTableText(curve));
        if (d.Eqmod) {
            const TPecFile f = EqmodPecFile(curve, curve.PhaseInput, pecOptions);
            if (f.Refused())
                return fail(f.Message);
            outputs.emplace_back(*d.Eqmod, f.Text);
        }
        if (d.Celestron) {
            const TPecFile f = CelestronPecFile(curve, curve.PhaseInput, curve.Setup.MountSpeed, pecOptions);
            if (f.Refused())
                return fail(f.Message);
            outputs.emplace_back(*d.Celestron, f.Text);
            if (!f.Warning.empty())
                summary += "Note: " + f.Warning + "\n";
        }
        if (d.Invert && (d.Eqmod || d.Celestron))
            summary += "Note: the PEC files hold the correction inverted (--invert)\n";
    }
    if (d.Json)
        outputs.insert(outputs.begin(), {*d.Json, RunsJson(runs, c, average ? &*average : nullptr)});
    return WriteOutputs(outputs, summary, out, err);
}

} // namespace vinsk::cli
