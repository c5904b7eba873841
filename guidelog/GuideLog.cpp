#include "guidelog/GuideLog.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/NumText.h"

namespace vinsk {

namespace {

constexpr std::size_t MaxLine = 64 * 1024; // no guide log writes longer lines
constexpr int MinFrames = 20;
constexpr long double Pi = 3.141592653589793238462643383279502884L;

std::string LineText(long line) { return "Line " + std::to_string(line); }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

std::optional<double> Number(std::string_view s)
{
    s = Trim(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The number that follows "key = " somewhere in a header line, up to the
// next blank or comma.
std::optional<double> KeyNumber(std::string_view line, std::string_view key)
{
    std::size_t at = 0;
    while ((at = line.find(key, at)) != std::string_view::npos) {
        // The key must start the line or follow ", ".
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == ',') {
            std::string_view rest = line.substr(at + key.size());
            rest = Trim(rest);
            if (!rest.empty() && rest.front() == '=') {
                rest = Trim(rest.substr(1));
                const std::size_t stop = rest.find_first_of(" ,");
                return Number(rest.substr(0, stop));
            }
        }
        at += key.size();
    }
    return std::nullopt;
}

// The two numbers after "new lock pos = " (or "Lock position = ").
std::optional<std::pair<double, double>> LockPos(std::string_view line, std::string_view key)
{
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = line.substr(at + key.size());
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const auto x = Number(rest.substr(0, comma));
    rest = rest.substr(comma + 1);
    const auto y = Number(rest.substr(0, rest.find(',')));
    if (!x || !y)
        return std::nullopt;
    return std::make_pair(*x, *y);
}

// Splits a CSV row at commas outside quotes; quotes are dropped.
void SplitRow(std::string_view row, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i <= row.size(); ++i) {
        if (i == row.size() || (row[i] == ',' && !quoted)) {
            std::string_view f = Trim(row.substr(start, i - start));
            if (f.size() >= 2 && f.front() == '"' && f.back() == '"')
                f = f.substr(1, f.size() - 2);
            fields.push_back(f);
            start = i + 1;
        } else if (row[i] == '"') {
            quoted = !quoted;
        }
    }
}

// Reads lines of at most MaxLine characters, without their CR LF or LF.
class TLineReader {
public:
    explicit TLineReader(std::istream& in) : Buf(in.rdbuf()) {}
    // false at the end; Bad when the line is no text.
    bool Next(std::string& line)
    {
        line.clear();
        if (!Buf)
            return false;
        int c = Buf->sbumpc();
        if (c == std::char_traits<char>::eof())
            return false;
        ++Number;
        while (c != std::char_traits<char>::eof() && c != '\n') {
            if (c == 0 || line.size() >= MaxLine) {
                Bad = true;
                return true;
            }
            line.push_back(static_cast<char>(c));
            c = Buf->sbumpc();
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    }
    long Number = 0;
    bool Bad = false;

private:
    std::streambuf* Buf;
};

struct TColumns {
    int Time = -1, Mount = -1, Dx = -1, Dy = -1, RaRaw = -1, RaGuide = -1, RaDir = -1, Error = -1;
    int Count = 0;
};

bool ReadColumns(std::string_view line, TColumns& c)
{
    std::vector<std::string_view> f;
    SplitRow(line, f);
    c = TColumns{};
    c.Count = static_cast<int>(f.size());
    for (int i = 0; i < c.Count; ++i) {
        const std::string_view n = f[static_cast<std::size_t>(i)];
        if (n == "Time") c.Time = i;
        else if (n == "mount") c.Mount = i;
        else if (n == "dx") c.Dx = i;
        else if (n == "dy") c.Dy = i;
        else if (n == "RARawDistance") c.RaRaw = i;
        else if (n == "RAGuideDistance") c.RaGuide = i;
        else if (n == "RADirection") c.RaDir = i;
        else if (n == "ErrorCode") c.Error = i;
    }
    return c.Time >= 0 && c.Mount >= 0 && c.RaRaw >= 0 && c.RaGuide >= 0 && c.RaDir >= 0 && c.Error >= 0;
}

// What a section accumulates while it is read.
struct TSectionState {
    TGuideSection Info;
    TGuideExcluded Excluded;
    bool Keep = false;        // its frames are stored
    bool HaveColumns = false;
    TColumns Columns;
    bool Settling = false;
    long double GuideSum = 0; // corrections sent so far, px along RA
    long double LockShift = 0;
    bool HaveLock = false;
    double LockX = 0, LockY = 0;
    double LastTime = -1;
    int PositiveWest = 0, PositiveEast = 0;
    std::vector<double> Time, Position;
    std::vector<std::size_t> Jumps; // first frame after a lock move the angle cannot bridge
    bool PendingJump = false;
    int LockMoves = 0;
};

class TScanner {
public:
    TScanner(std::istream& in, int want, bool keepLongest) : Lines(in), Want(want), KeepLongest(keepLongest) {}

    // Reads the whole log. Returns an empty text, or the refusal.
    std::string Run()
    {
        std::string line;
        std::vector<std::string_view> fields;
        while (Lines.Next(line)) {
            if (Lines.Bad)
                return LineText(Lines.Number) + " is not text: is this a guide log?";
            const std::string_view s = line;
            const bool begins = StartsWith(s, "Guiding Begins at ");
            // A log cut down to its rows starts at the column line: one section.
            if (begins || (!Current && StartsWith(s, "Frame,"))) {
                Close();
                Current.emplace();
                Current->Info.Number = ++Count;
                Current->Info.Line = Lines.Number;
                Current->Keep = KeepLongest || Want == Count;
                if (begins) {
                    Current->Info.Begins = std::string(Trim(s.substr(18)));
                    continue;
                }
            }
            if (StartsWith(s, "Guiding Ends") || StartsWith(s, "Calibration Begins")) {
                Close();
                continue;
            }
            if (!Current)
                continue; // calibration and the log's own header
            TSectionState& c = *Current;
            if (StartsWith(s, "INFO:")) {
                Info(c, s);
                continue;
            }
            if (!c.HaveColumns) {
                if (StartsWith(s, "Frame,")) {
                    if (!ReadColumns(s, c.Columns))
                        return LineText(Lines.Number) + ": the column line lacks Time, mount, RARawDistance, "
                                                         "RAGuideDistance, RADirection or ErrorCode";
                    c.HaveColumns = true;
                } else {
                    Header(c, s);
                }
                continue;
            }
            if (s.empty() || !(s.front() >= '0' && s.front() <= '9'))
                continue; // other text inside a section (a server message)
            SplitRow(s, fields);
            if (std::string message = Row(c, fields); !message.empty())
                return message;
        }
        Close();
        if (Count == 0)
            return "The file holds no guiding section (no line \"Guiding Begins at ...\"): is it a guide log?";
        return {};
    }

    std::vector<TGuideSection> Sections;
    std::optional<TSectionState> Chosen;
    int Count = 0;

private:
    void Header(TSectionState& c, std::string_view s)
    {
        if (StartsWith(s, "Pixel scale = ")) {
            if (auto v = KeyNumber(s, "Pixel scale"))
                c.Info.PixelScale = *v;
        } else if (StartsWith(s, "Dec = ")) {
            if (auto v = KeyNumber(s, "Dec"))
                c.Info.DecDeg = *v;
        } else if (StartsWith(s, "Mount = ")) {
            std::string_view rest = s.substr(8);
            c.Info.MountDriver = std::string(Trim(rest.substr(0, rest.find(','))));
            if (auto v = KeyNumber(s, "xAngle"))
                c.Info.XAngleDeg = *v;
        } else if (StartsWith(s, "Lock position = ")) {
            if (auto p = LockPos(s, "Lock position = ")) {
                c.HaveLock = true;
                c.LockX = p->first;
                c.LockY = p->second;
            }
        }
    }

    void Info(TSectionState& c, std::string_view s)
    {
        if (s.find("Settling started") != std::string_view::npos) {
            c.Settling = true;
        } else if (s.find("Settling complete") != std::string_view::npos ||
                   s.find("Settling failed") != std::string_view::npos) {
            c.Settling = false;
        } else if (s.find("DITHER") != std::string_view::npos || s.find("SET LOCK POSITION") != std::string_view::npos) {
            const auto pos = LockPos(s, "new lock pos = ");
            double dx = 0, dy = 0;
            bool known = false;
            if (pos && c.HaveLock) {
                dx = pos->first - c.LockX;
                dy = pos->second - c.LockY;
                known = true;
            } else if (!pos) {
                if (auto by = LockPos(s, "DITHER by ")) {
                    dx = by->first;
                    dy = by->second;
                    known = true;
                }
            }
            if (pos) {
                c.HaveLock = true;
                c.LockX = pos->first;
                c.LockY = pos->second;
            }
            if (known && dx == 0 && dy == 0)
                return;
            ++c.LockMoves;
            if (known && std::isfinite(c.Info.XAngleDeg)) {
                const long double a = c.Info.XAngleDeg * Pi / 180;
                c.LockShift += dx * cosl(a) + dy * sinl(a);
            } else {
                c.PendingJump = true;
            }
        }
    }

    std::string Row(TSectionState& c, const std::vector<std::string_view>& f)
    {
        const TColumns& col = c.Columns;
        const long n = Lines.Number;
        if (static_cast<int>(f.size()) < col.Count)
            return LineText(n) + ": the row has " + std::to_string(f.size()) + " fields; the column line names " +
                   std::to_string(col.Count);
        const auto field = [&](int i) { return f[static_cast<std::size_t>(i)]; };
        const auto time = Number(field(col.Time));
        if (!time)
            return LineText(n) + ": Time is not a number: \"" + std::string(field(col.Time)) + "\"";
        if (*time < 0 || *time > 1e8)
            return LineText(n) + ": Time is out of range: \"" + std::string(field(col.Time)) + "\"";
        if (*time < c.LastTime)
            return LineText(n) + ": the time goes backwards (" + FixedText(*time, 3) + " s after " +
                   FixedText(c.LastTime, 3) + " s)";
        c.LastTime = *time;
        const std::string_view device = field(col.Mount);
        if (device == "DROP") {
            ++c.Info.Frames;
            c.Info.Duration = *time;
            ++c.Excluded.Lost;
            return {};
        }
        if (device != "Mount") {
            ++c.Excluded.OtherDevice;
            return {};
        }
        ++c.Info.Frames;
        c.Info.Duration = *time;
        const auto number = [&](int i, std::optional<double>& out) -> std::string {
            const std::string_view t = field(i);
            if (t.empty()) {
                out = 0.0;
                return {};
            }
            out = Number(t);
            if (!out)
                return LineText(n) + ": " + std::string(ColumnName(i)) + " is not a number: \"" + std::string(t) + "\"";
            // A guide star moves pixels, not millions of them.
            if (std::fabs(*out) > 1e6)
                return LineText(n) + ": " + std::string(ColumnName(i)) + " is out of range: \"" + std::string(t) + "\"";
            return {};
        };
        std::optional<double> raw, guide, error;
        for (auto [i, out] : {std::pair{col.RaRaw, &raw}, std::pair{col.RaGuide, &guide}, std::pair{col.Error, &error}})
            if (std::string m = number(i, *out); !m.empty())
                return m;
        const std::string_view dir = field(col.RaDir);
        if (*guide > 0 && dir == "W")
            ++c.PositiveWest;
        else if (*guide > 0 && dir == "E")
            ++c.PositiveEast;

        const bool lost = *error != 0;
        if (lost)
            ++c.Excluded.Lost;
        else if (c.Settling)
            ++c.Excluded.Settling;
        else if (c.Keep && (c.Time.empty() || *time > c.Time.back())) {
            if (c.PendingJump && !c.Time.empty())
                c.Jumps.push_back(c.Time.size());
            c.PendingJump = false;
            c.Time.push_back(*time);
            c.Position.push_back(static_cast<double>(*raw + c.GuideSum + c.LockShift));
        }
        // A correction moves the mount whether or not its frame is used.
        c.GuideSum += *guide;
        return {};
    }

    std::string_view ColumnName(int i) const
    {
        const TColumns& c = Current->Columns;
        if (i == c.RaRaw) return "RARawDistance";
        if (i == c.RaGuide) return "RAGuideDistance";
        return "ErrorCode";
    }

    void Close()
    {
        if (!Current)
            return;
        Sections.push_back(Current->Info);
        if (Current->Keep && (!Chosen || Current->Info.Duration > Chosen->Info.Duration))
            Chosen = std::move(Current);
        Current.reset();
    }

    TLineReader Lines;
    int Want;
    bool KeepLongest;
    std::optional<TSectionState> Current;
};

// Without a calibration angle a lock move's size on the RA axis is unknown:
// fit the frames either side with one line and a step between them, and
// take the step.
void BridgeJumps(TSectionState& c)
{
    constexpr std::size_t Side = 10;
    for (const std::size_t j : c.Jumps) {
        const std::size_t b0 = j >= Side ? j - Side : 0;
        const std::size_t a1 = std::min(c.Position.size(), j + Side);
        // Least squares of y = a + b (t - t_j) + s [after], by normal equations.
        long double n = 0, st = 0, stt = 0, sy = 0, sty = 0, na = 0, sta = 0, sya = 0;
        for (std::size_t i = b0; i < a1; ++i) {
            const long double t = c.Time[i] - c.Time[j], y = c.Position[i];
            n += 1, st += t, stt += t * t, sy += y, sty += t * y;
            if (i >= j)
                na += 1, sta += t, sya += y;
        }
        // Solve [[n st na][st stt sta][na sta na]] [a b s] = [sy sty sya] by Cramer's rule.
        const auto det3 = [](long double a, long double b, long double c, long double d, long double e, long double f,
                             long double g, long double h, long double k) {
            return a * (e * k - f * h) - b * (d * k - f * g) + c * (d * h - e * g);
        };
        const long double d = det3(n, st, na, st, stt, sta, na, sta, na);
        long double jump = 0;
        if (std::fabs(d) > 0) {
            jump = det3(n, st, sy, st, stt, sty, na, sta, sya) / d;
        }
        for (std::size_t i = j; i < c.Position.size(); ++i)
            c.Position[i] = static_cast<double>(c.Position[i] - jump);
    }
}

} // namespace

TGuideSectionList ListGuideSections(std::istream& in)
{
    TScanner scan(in, -1, false);
    TGuideSectionList list;
    if (std::string problem = scan.Run(); !problem.empty())
        static_cast<TRefusal&>(list) = Refuse(TRefusalReason::Unreadable, std::move(problem));
    list.Sections = std::move(scan.Sections);
    return list;
}

TGuideSeries ReadGuideLog(std::istream& in, const TGuideLogOptions& options)
{
    TGuideSeries out;
    const auto refuse = [&](TRefusalReason reason, std::string message) {
        static_cast<TRefusal&>(out) = Refuse(reason, std::move(message));
        return out;
    };
    TScanner scan(in, options.Section, options.Section <= 0);
    if (std::string m = scan.Run(); !m.empty())
        return refuse(TRefusalReason::Unreadable, std::move(m));
    out.SectionCount = scan.Count;
    if (options.Section > scan.Count)
        return refuse(TRefusalReason::NeedsInput, "The log holds " + std::to_string(scan.Count) + " guiding section" +
                                                      (scan.Count == 1 ? "" : "s") + "; there is no section " +
                                                      std::to_string(options.Section));
    TSectionState& c = *scan.Chosen;
    out.Section = c.Info;
    out.Excluded = c.Excluded;
    out.LockMoves = c.LockMoves;
    if (c.Time.size() < static_cast<std::size_t>(MinFrames))
        return refuse(TRefusalReason::TooShort,
                      "Section " + std::to_string(c.Info.Number) + " holds " + std::to_string(c.Time.size()) +
                          " usable frames; the analysis needs at least " + std::to_string(MinFrames));
    BridgeJumps(c);

    if (std::isfinite(options.PixelScale))
        out.Section.PixelScale = options.PixelScale;
    if (std::isfinite(options.DecDeg))
        out.Section.DecDeg = options.DecDeg;
    const double dec = out.Section.DecDeg;
    if (std::isfinite(dec) && std::fabs(dec) > 89)
        return refuse(TRefusalReason::SetupValues,
                      "The star stands at Dec " + FixedText(dec, 1) +
                          " deg, too close to the pole: its RA offsets say nothing of the RA axis");
    if (std::isfinite(dec) && std::fabs(dec) > 80)
        out.Notes.push_back("The star stands at Dec " + FixedText(dec, 1) +
                            " deg: near the pole a small offset is a large RA angle, so the result is uncertain");
    if (!std::isfinite(dec))
        out.Notes.push_back("The log gives no declination: the error is on the sky, not on the RA axis (give the Dec)");

    // Without any correction the direction is unknown: West is the common case.
    out.Kappa = c.PositiveEast > c.PositiveWest ? -1 : 1;
    const double scale = out.Section.PixelScale;
    out.InPixels = !(std::isfinite(scale) && scale > 0);
    if (out.InPixels)
        out.Notes.push_back("The log gives no pixel scale: the error is in guide-camera pixels (give the pixel scale)");
    const long double factor = -out.Kappa * (out.InPixels ? 1.0L : scale) /
                               (std::isfinite(dec) ? cosl(dec * Pi / 180) : 1.0L);
    out.Time = std::move(c.Time);
    out.Position = std::move(c.Position);
    out.PE.resize(out.Position.size());
    for (std::size_t i = 0; i < out.PE.size(); ++i)
        out.PE[i] = static_cast<double>(factor * out.Position[i]);
    return out;
}

std::string GuideSectionLine(const TGuideSection& s, int count)
{
    std::string line = "Section " + std::to_string(s.Number) + " of " + std::to_string(count) + ": " +
                       FixedText(s.Duration, 0) + " s, " + std::to_string(s.Frames) + " frames";
    if (!s.MountDriver.empty())
        line += ", " + s.MountDriver + " driver";
    return line;
}

} // namespace vinsk
