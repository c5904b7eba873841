// Saved reports read back as runs, through a JSON library's event parser:
// only the values a run needs are kept, so a report's long series cost no
// memory, and the nesting is capped before it can cost any.
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/NumText.h"
#include "drive/PecFiles.h"
#include "drive/Runs.h"

namespace vinsk {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// A report nests three deep (the top, a block, an array in it).
constexpr std::size_t MaxDepth = 8;
// Far above any report (a day's trail at one step a pixel), far below what hurts.
constexpr std::uintmax_t MaxReportBytes = 256u << 20;
constexpr std::size_t MaxHarmonics = MaxDriveHarmonics;

// Cyclic linear interpolation in a curve given at increasing positions
// within [0, period).
long double CyclicAt(const std::vector<double>& x, const std::vector<double>& y, long double period, long double at)
{
    const std::size_t n = x.size();
    if (n == 1)
        return y[0];
    auto it = std::upper_bound(x.begin(), x.end(), static_cast<double>(at));
    const std::size_t hi = static_cast<std::size_t>(it - x.begin()) % n;
    const std::size_t lo = (hi + n - 1) % n;
    long double x0 = x[lo], x1 = x[hi];
    if (x1 <= x0)
        x1 += period; // across the cycle's end
    long double a = at;
    if (a < x0)
        a += period;
    return y[lo] + (a - x0) / (x1 - x0) * (static_cast<long double>(y[hi]) - y[lo]);
}

// The event parser's handler: a stack of where it stands, and the run's
// values taken as they pass.
class TReportHandler : public nlohmann::json::json_sax_t {
public:
    explicit TReportHandler(TRunReport& run) : FRun(run) {}

    std::string Problem; // the first thing wrong, without the file's name
    bool Refused = false;
    std::string RefusedMessage;
    bool HaveVersion = false;
    long long Version = 0;
    std::map<std::string, bool> Seen;
    // The phase block's values, put together at the end.
    std::string PhaseSource;
    double PhaseAtStart = NaN;
    std::optional<long long> MotorStart, StepsPerWorm;
    std::string Hemisphere;
    std::string NameHex;
    bool CosNull = false, SinNull = false, CycleNull = false;

    bool null() override { return Value(TKind::Null, NaN, {}); }
    bool boolean(bool b) override { return Value(TKind::Bool, b ? 1 : 0, {}); }
    bool number_integer(number_integer_t v) override { return Value(TKind::Number, static_cast<double>(v), {}, v); }
    bool number_unsigned(number_unsigned_t v) override
    {
        return Value(TKind::Number, static_cast<double>(v), {},
                     v <= static_cast<number_unsigned_t>(std::numeric_limits<long long>::max())
                         ? std::optional<long long>(static_cast<long long>(v))
                         : std::nullopt);
    }
    bool number_float(number_float_t v, const string_t&) override { return Value(TKind::Number, v, {}); }
    bool string(string_t& s) override { return Value(TKind::String, NaN, s); }
    bool binary(binary_t&) override { return Fail("it holds binary data"); }
    bool start_object(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(true); }
    bool end_array() override { return Close(); }
    bool key(string_t& k) override
    {
        FKey = k;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::json::exception&) override
    {
        return Fail("its JSON breaks off or is malformed at byte " + std::to_string(position));
    }

private:
    enum class TKind { Null, Bool, Number, String };
    struct TFrame {
        bool Array = false;
        std::string Path; // "stats", "pec.cos" ...
    };

    bool Fail(const std::string& problem)
    {
        if (Problem.empty())
            Problem = problem;
        return false;
    }

    // The path of the value at hand: "worm_period_s", "stats.rms", "pec.cos[]".
    std::string Here() const
    {
        if (FStack.empty())
            return "";
        const TFrame& f = FStack.back();
        if (f.Array)
            return f.Path + "[]";
        return f.Path.empty() ? FKey : f.Path + "." + FKey;
    }

    bool Open(bool array)
    {
        if (FStack.size() >= MaxDepth)
            return Fail("it nests deeper than a report does");
        if (FStack.empty() && array)
            return Fail("it is a list, not a report");
        const std::string path = Here();
        Seen[path] = true;
        FStack.push_back({array, path});
        return true;
    }

    bool Close()
    {
        FStack.pop_back();
        return true;
    }

    // Takes a value the run needs; other values pass.
    bool Value(TKind kind, double number, const std::string& text, std::optional<long long> whole = std::nullopt)
    {
        if (FStack.empty())
            return Fail("it is a single value, not a report");
        const std::string path = Here();
        Seen[path] = true;
        const auto num = [&](double& into, bool nullable) {
            if (kind == TKind::Number)
                into = number;
            else if (kind == TKind::Null && nullable)
                into = NaN;
            else
                return Fail(path + " is not a number");
            return true;
        };
        const auto str = [&](std::string& into, bool nullable) {
            if (kind == TKind::String)
                into = text;
            else if (!(kind == TKind::Null && nullable))
                return Fail(path + " is not a text");
            return true;
        };
        const auto count = [&](std::optional<long long>& into) {
            if (kind == TKind::Null)
                return true;
            if (!whole)
                return Fail(path + " is not a whole number");
            into = whole;
            return true;
        };
        const auto listed = [&](std::vector<double>& into, std::size_t most) {
            if (kind != TKind::Number)
                return Fail(path.substr(0, path.size() - 2) + " holds a value that is not a number");
            if (into.size() >= most)
                return Fail(path.substr(0, path.size() - 2) + " holds too many values");
            into.push_back(number);
            return true;
        };
        TRunReport& r = FRun;
        if (path == "refused")
            Refused = kind == TKind::Bool && number != 0;
        else if (path == "message")
            return str(RefusedMessage, true);
        else if (path == "format_version") {
            if (!whole)
                return Fail("format_version is not a whole number");
            HaveVersion = true;
            Version = *whole;
        } else if (path == "worm_period_s")
            return num(r.WormPeriod, true);
        else if (path == "worm_period_source")
            return str(r.WormSource, true);
        else if (path == "record_s")
            return num(r.Record, true);
        else if (path == "stats.peak_to_peak")
            return num(r.PeakToPeak, true);
        else if (path == "stats.rms")
            return num(r.Rms, true);
        else if (path == "stats.peak_to_peak_sigma")
            return num(r.PeakToPeakSigma, true);
        else if (path == "cycles.count") {
            std::optional<long long> n;
            if (!count(n))
                return false;
            if (n && (*n < 0 || *n > 1000000000))
                return Fail("cycles.count is out of range");
            r.CycleCount = static_cast<int>(n.value_or(0));
        } else if (path == "cycles.spread_rms")
            return num(r.CycleSpreadRms, true);
        else if (path == "pec.harmonics") {
            std::optional<long long> n;
            if (!count(n))
                return false;
            r.PecHarmonics = n && *n > 0 && *n <= static_cast<long long>(MaxHarmonics) ? static_cast<int>(*n) : 0;
        } else if (path == "pec.residual_rms")
            return num(r.PecResidualRms, true);
        else if (path == "pec.t0_s")
            return num(r.PecT0, true);
        else if (path == "pec.cos" || path == "pec.sin") {
            if (kind != TKind::Null)
                return Fail(path + " is not a list of numbers");
            (path == "pec.cos" ? CosNull : SinNull) = true;
        } else if (path == "pec.cos[]")
            return listed(r.PecCos, MaxHarmonics);
        else if (path == "pec.sin[]")
            return listed(r.PecSin, MaxHarmonics);
        else if (path == "mean_cycle") {
            if (kind != TKind::Null)
                return Fail("mean_cycle is not a list of numbers");
            CycleNull = true;
        } else if (path == "mean_cycle[]")
            return listed(r.MeanCycle, RunCycleSamples);
        else if (path == "channel")
            return str(r.Channel, true);
        else if (path == "picture.name")
            return str(r.PictureName, true);
        else if (path == "picture.name_hex")
            return str(NameHex, true);
        else if (path == "picture.modified")
            return str(r.PictureModified, true);
        else if (path == "picture.exposure_start")
            return str(r.ExposureStart, true);
        else if (path == "setup.mount_speed_arcsec_per_s")
            return num(r.MountSpeed, true);
        else if (path == "phase.source")
            return str(PhaseSource, false);
        else if (path == "phase.phase_at_start_deg")
            return num(PhaseAtStart, true);
        else if (path == "phase.motor_start")
            return count(MotorStart);
        else if (path == "phase.steps_per_worm")
            return count(StepsPerWorm);
        else if (path == "phase.hemisphere")
            return str(Hemisphere, true);
        return true;
    }

    TRunReport& FRun;
    std::vector<TFrame> FStack;
    std::string FKey;
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The problem with a report that parsed, or "".
std::string Check(TReportHandler& h, TRunReport& r)
{
    if (h.Refused)
        return "holds a refused analysis: " + h.RefusedMessage;
    if (!h.HaveVersion) {
        if (h.Seen.count("exposure_s") || h.Seen.count("stats"))
            return "was written by an older Vinsk: analyse the picture again";
        return "is not a drive report";
    }
    if (h.Version != RunFormatVersion)
        return "is a report of format " + std::to_string(h.Version) + ", which this Vinsk does not read";
    for (const char* key : {"worm_period_s", "stats.peak_to_peak", "stats.rms", "cycles.count", "pec.residual_rms",
                            "pec.cos", "pec.sin", "pec.t0_s", "mean_cycle", "channel", "phase.source", "record_s"})
        if (!h.Seen.count(key))
            return std::string("is not a whole drive report: it lacks ") + key;
    if (!(r.WormPeriod > 0) || !std::isfinite(r.WormPeriod))
        return "holds no worm period: give the worm period and analyse the picture again";
    if (r.WormPeriod > MaxDriveWormPeriod)
        return "holds a worm period of " + FixedText(r.WormPeriod, 0) + " s, longer than a worm turns";
    if (r.CycleCount < 1 || h.CycleNull)
        return "holds no whole worm cycle: a run needs a trail of one worm period or more";
    if (r.MeanCycle.size() != static_cast<std::size_t>(RunCycleSamples))
        return "holds a mean cycle of " + std::to_string(r.MeanCycle.size()) + " values, not " +
               std::to_string(RunCycleSamples);
    if (r.PecCos.size() != r.PecSin.size() || h.CosNull != h.SinNull)
        return "holds PEC coefficients that do not pair up";
    for (double v : {r.PeakToPeak, r.Rms})
        if (!std::isfinite(v) || v < 0)
            return "holds no peak-to-peak or RMS";
    if (!std::isfinite(r.PecT0))
        r.PecT0 = 0;
    if (!h.NameHex.empty()) {
        if (h.NameHex.size() % 2 != 0)
            return "holds a picture name_hex that is no hexadecimal text";
        std::string name;
        for (std::size_t i = 0; i < h.NameHex.size(); i += 2) {
            const int a = HexDigit(h.NameHex[i]), b = HexDigit(h.NameHex[i + 1]);
            if (a < 0 || b < 0)
                return "holds a picture name_hex that is no hexadecimal text";
            name += static_cast<char>(a * 16 + b);
        }
        r.PictureName = name;
    }
    // The phase block as PhaseJson writes it.
    TPhaseInput& p = r.Phase;
    p.Hemisphere = h.Hemisphere == "south" ? -1 : 1;
    if (h.StepsPerWorm && *h.StepsPerWorm > 0)
        p.StepsPerWorm = *h.StepsPerWorm;
    if (h.MotorStart) {
        p.HaveMotorStart = true;
        p.MotorStart = *h.MotorStart;
    }
    if (h.PhaseSource == "worm_phase") {
        if (!(h.PhaseAtStart >= 0 && h.PhaseAtStart < 360))
            return "holds a worm phase outside 0 to 360 degrees";
        p.WormPhaseDeg = h.PhaseAtStart;
    } else if (h.PhaseSource == "motor") {
        if (!p.HaveMotorStart || p.StepsPerWorm <= 0)
            return "holds a motor phase without the motor count or the steps per worm turn";
    } else if (h.PhaseSource != "start") {
        return "holds an unknown phase source";
    }
    for (double v : r.MeanCycle)
        if (!std::isfinite(v))
            return "holds a mean cycle with values that are not numbers";
    for (std::size_t i = 0; i < r.PecCos.size(); ++i)
        if (!std::isfinite(r.PecCos[i]) || !std::isfinite(r.PecSin[i]))
            return "holds PEC coefficients that are not numbers";
    return {};
}

} // namespace

std::vector<double> MeanCycle360(const TDriveResult& r)
{
    const std::vector<double>& x = r.MeanCyclePhase;
    const std::vector<double>& y = r.MeanCycleError;
    if (!(r.WormPeriod > 0) || x.empty() || x.size() != y.size() || r.T.empty())
        return {};
    const long double period = r.WormPeriod;
    const long double start = std::isfinite(r.PhaseInput.WormPhaseDeg) ? r.PhaseInput.WormPhaseDeg : 0;
    std::vector<double> out(RunCycleSamples);
    for (int k = 0; k < RunCycleSamples; ++k) {
        // The moment the worm stands at k degrees, then its place in the
        // mean cycle, which runs from the first analysed step.
        long double turns = (k - start) / 360 - r.T.front() / period;
        turns -= floorl(turns);
        out[k] = static_cast<double>(CyclicAt(x, y, period, turns * period));
    }
    return out;
}

std::string FileModifiedUtc(const std::string& path)
{
    std::error_code ec;
    const auto when = std::filesystem::last_write_time(path, ec);
    if (ec)
        return {};
    const auto sys = std::chrono::file_clock::to_sys(when);
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(sys));
    std::tm tm{};
    char text[32];
    if (!gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
        return {};
    return text;
}

std::string TRunReport::Name() const
{
    // Control characters would break the table's rows and a PEC file's
    // comment line (a name may hold any text).
    std::string name = PictureName.empty() ? std::filesystem::path(File).filename().string() : PictureName;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return name;
}

std::string TRunReport::Date() const
{
    return ExposureStart.empty() ? PictureModified : ExposureStart;
}

TRunRead ReadRunReport(const std::string& text, const std::string& file)
{
    TRunRead out;
    TRunReport run;
    run.File = file;
    TReportHandler h(run);
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(text, &h, nlohmann::json::input_format_t::json, true);
    } catch (const std::exception& e) {
        // The parser throws for some faults instead of reporting them.
        if (h.Problem.empty())
            h.Problem = std::string("its JSON is malformed (") + e.what() + ")";
    }
    std::string problem;
    if (!parsed || !h.Problem.empty())
        problem = "is not a drive report: " + (h.Problem.empty() ? std::string("its JSON is malformed") : h.Problem);
    else
        problem = Check(h, run);
    if (!problem.empty()) {
        static_cast<TRefusal&>(out) = Refuse(TRefusalReason::Unreadable, file + " " + problem);
        return out;
    }
    out.Run = std::move(run);
    return out;
}

TRunRead ReadRunReportFile(const std::string& file)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (!ec && size > MaxReportBytes) {
        TRunRead r;
        static_cast<TRefusal&>(r) =
            Refuse(TRefusalReason::Unreadable, file + " is not a drive report: it is far larger than one");
        return r;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        TRunRead r;
        static_cast<TRefusal&>(r) =
            Refuse(TRefusalReason::CannotOpen, "Cannot open " + file + ": " + std::strerror(errno));
        return r;
    }
    std::ostringstream text;
    text << in.rdbuf(); // an empty file sets the failbit; it then fails as JSON
    return ReadRunReport(text.str(), file);
}

} // namespace vinsk
