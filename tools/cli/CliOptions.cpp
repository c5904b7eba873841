#include "tools/cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <set>
#include <utility>

#include "common/NumText.h"

namespace vinsk::cli {

const char* const CliUsage =
    "usage: vinsk-cli --image FILE [--dark FILE] [--flat FILE] [--settings FILE]\n"
    "                 [--from-header] [--exposure S] [--pixel W[,H]] [--focal MM]\n"
    "                 [--aperture MM]\n"
    "                 [--start X,Y --stop X,Y --inline X,Y]\n"
    "                 [--figure profile|error|estimation|spectrum] [--channel r|g|b|avg]\n"
    "                 [--average N] [--csv FILE]\n"
    "       vinsk-cli --drive --image FILE [--dark FILE] [--flat FILE] [--settings FILE]\n"
    "                 [--start X,Y --stop X,Y --inline X,Y] [--channel r|g|b|avg]\n"
    "                 [--worm-period S] [--detrend none|line|quadratic|harmonic]\n"
    "                 [--harmonics K] [--tolerance ARCSEC] [--half-width PX|auto]\n"
    "                 [--transfer auto|linear|srgb|gamma:G]\n"
    "                 [--json FILE] [--csv FILE] [--pec FILE]\n"
    "       vinsk-cli --find-trail --image FILE [--dark FILE] [--flat FILE] [--channel r|g|b|avg]\n"
    "       vinsk-cli --help | --version\n"
    "\n"
    "Measures a mount's periodic error from a star-trail picture. The picture is\n"
    "loaded, corrected by the dark frame and then the flat frame when given, and\n"
    "sampled along the circle through the check points START, STOP and IN-LINE\n"
    "(whole image pixels). The experiment's parameters come from the settings\n"
    "file (shown with one decimal, as the window's fields show them; --drive\n"
    "takes every decimal given, in the file, the header or an option), or are\n"
    "the initial ones. Its numbers may use a point or a comma under any locale; a\n"
    "value that is there but no number is named on standard error and not used.\n"
    "\n"
    "  --from-header  take the exposure, pixel size, focal length and aperture\n"
    "             that the picture's file carries (FITS header keys, camera RAW\n"
    "             EXIF); they override the settings file\n"
    "  --exposure, --pixel (um, width and height), --focal, --aperture (mm)\n"
    "             set those values directly; they override both\n"
    "  --figure   the figure whose points --csv writes (default error)\n"
    "  --channel  the colour channel to measure (default avg)\n"
    "  --average  smooth the brightness over N + 1 pixels (2 to 100) before the\n"
    "             figure; the statistics always use the raw series\n"
    "  --csv      write the figure's points as the window's CSV export does, to\n"
    "             FILE, or to standard output with -\n"
    "  --help     print this help and exit (also -h)\n"
    "  --version  print the program's version and exit\n"
    "\n"
    "--drive measures the drive itself from the light along the trail: the\n"
    "drift, the drift-free error's peak-to-peak, RMS and extremes, the largest\n"
    "rate, the longest exposure within the tolerance, the worm period and its\n"
    "harmonics, and a PEC table. Its settings come from the settings file's\n"
    "[Drive] section, overridden by these options:\n"
    "  --worm-period  in seconds; 0 (the initial value) estimates it when the\n"
    "                 trail holds 1.5 cycles or more\n"
    "  --detrend      how the drift is removed (initial: harmonic, which falls\n"
    "                 back to a line below 2 worm cycles)\n"
    "  --harmonics    of the worm period in the joint fit and the PEC (1 to 50,\n"
    "                 initial 5)\n"
    "  --tolerance    for the longest exposure, in arc seconds (initial 1)\n"
    "  --half-width   of the photometry segment each side of the crest, in\n"
    "                 pixels, or auto (the initial value)\n"
    "  --transfer     how stored values become light (initial: auto, the file's\n"
    "                 own declaration; a JPEG without one is sRGB, other formats\n"
    "                 linear); gamma:G reads light as value^G; FITS and camera\n"
    "                 RAW are always linear\n"
    "  --json         the whole result as JSON\n"
    "  --csv          time and drift-free error of the analysed steps\n"
    "  --pec          the PEC table: one row per second of the worm period;\n"
    "                 without a worm period nothing is written and the exit\n"
    "                 status is 1\n"
    "Each output takes a file name, or - for standard output (one of them at a\n"
    "time). They always use a point as the decimal separator. A short summary\n"
    "goes to standard output, or to standard error when an output takes it.\n"
    "\n"
    "Without --start, --stop and --inline the trail is found in the (calibrated)\n"
    "picture's channel first, and the points found are printed to standard error\n"
    "as '--start X,Y --stop X,Y --inline X,Y'. --find-trail only finds them and\n"
    "prints that line to standard output. A picture does not show which way the\n"
    "star moved: START is the trail's left end, or its top end when the trail is\n"
    "steeper than 45 degrees.\n"
    "\n"
    "Prints the Min/Max, 68% and 99% statistics lines, then the measurement error\n"
    "when the run posts one, to standard output (to standard error when the CSV\n"
    "takes standard output). Numbers use the locale's decimal separator.\n"
    "Exit status: 0 done, 1 the run was refused or failed (message on standard\n"
    "error), 2 bad arguments.\n";

namespace {

// Unwinds the parse to its one problem.
struct EUsage {
    std::string Problem;
};

[[noreturn]] void BadArguments(const std::string& problem) { throw EUsage{problem}; }

double ParseNumber(const std::string& text, const std::string& option, char sep)
{
    long double v = 0;
    if (!TryTextToFloat(text, sep, v) && !TryTextToFloat(text, '.', v))
        BadArguments("bad number '" + text + "' for " + option);
    return static_cast<double>(v);
}

long ParseInt(const std::string& text, const std::string& option)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < -2147483648L || v > 2147483647L)
        BadArguments("bad whole number '" + text + "' for " + option);
    return v;
}

void ParsePoint(const std::string& text, const std::string& option, long double& x, long double& y)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos)
        BadArguments(option + " needs X,Y in whole pixels, not '" + text + "'");
    x = static_cast<long double>(ParseInt(text.substr(0, comma), option));
    y = static_cast<long double>(ParseInt(text.substr(comma + 1), option));
}

int Choice(const std::string& text, const std::string& option, std::initializer_list<const char*> names)
{
    int i = 0;
    for (const char* n : names) {
        if (text == n)
            return i;
        ++i;
    }
    BadArguments("unknown value '" + text + "' for " + option);
}

void Parse(const std::vector<std::string>& args, char sep, TCliCommand& c)
{
    TCliOptions& o = c.Options;
    TDriveOptions& drive = c.Drive;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            c.Mode = ECliMode::Help;
            return;
        }
        if (a == "--version") {
            c.Mode = ECliMode::Version;
            return;
        }
        if (a.rfind("--", 0) != 0)
            BadArguments("unexpected argument '" + a + "'");
        if (!seen.insert(a).second)
            BadArguments(a + " given twice");
        if (a == "--from-header") {
            o.FromHeader = true;
            continue;
        }
        if (a == "--drive") {
            drive.Drive = true;
            continue;
        }
        if (a == "--find-trail")
            continue;
        if (i + 1 >= args.size())
            BadArguments("missing value after " + a);
        const std::string& v = args[++i];
        if (a == "--image")
            o.Image = v;
        else if (a == "--dark")
            o.Dark = v;
        else if (a == "--flat")
            o.Flat = v;
        else if (a == "--settings")
            o.Settings = v;
        else if (a == "--start")
            ParsePoint(v, a, o.CheckPoints[0], o.CheckPoints[1]);
        else if (a == "--stop")
            ParsePoint(v, a, o.CheckPoints[2], o.CheckPoints[3]);
        else if (a == "--inline")
            ParsePoint(v, a, o.CheckPoints[4], o.CheckPoints[5]);
        else if (a == "--figure")
            o.Figure = Choice(v, a, {"profile", "error", "estimation", "spectrum"});
        else if (a == "--channel")
            o.Channel = Choice(v, a, {"r", "g", "b", "avg"});
        else if (a == "--average") {
            const long n = ParseInt(v, a);
            if (n < 2 || n > 100)
                BadArguments("--average takes 2 to 100 pixels");
            o.AverageWidth = static_cast<int>(n);
        } else if (a == "--csv") {
            o.Csv = v;
        } else if (a == "--exposure") {
            o.Exposure = ParseNumber(v, a, sep);
        } else if (a == "--focal") {
            o.Focal = ParseNumber(v, a, sep);
        } else if (a == "--aperture") {
            o.Aperture = ParseNumber(v, a, sep);
        } else if (a == "--pixel") {
            // The comma separates width and height, so the point is the decimal separator here.
            const auto comma = v.find(',');
            o.PixelWidth = ParseNumber(v.substr(0, comma), a, '.');
            o.PixelHeight = comma == std::string::npos ? *o.PixelWidth : ParseNumber(v.substr(comma + 1), a, '.');
        } else if (IsDriveOption(a)) {
            if (const auto problem = TakeDriveOption(drive, a, v))
                BadArguments(*problem);
        } else
            BadArguments("unknown option " + a);
    }
    if (const auto problem = DriveUsageProblem(seen, drive, o))
        BadArguments(*problem);
    if (!seen.count("--image"))
        BadArguments("--image is required");
    for (const auto& [option, output] : {std::pair{"--csv", &o.Csv}, {"--json", &drive.Json}, {"--pec", &drive.Pec}})
        if (const auto clash = OutputClash(o, option, *output))
            BadArguments(*clash);
    if (seen.count("--find-trail")) {
        for (const std::string& a : seen)
            if (a != "--find-trail" && a != "--image" && a != "--dark" && a != "--flat" && a != "--channel")
                BadArguments(a + " does not go with --find-trail");
        c.Mode = ECliMode::FindTrail;
        return;
    }
    const auto points = seen.count("--start") + seen.count("--stop") + seen.count("--inline");
    if (points != 0 && points != 3)
        BadArguments("--start, --stop and --inline go together: give all three, or none to find the trail");
    c.FindPoints = points == 0;
    c.Mode = drive.Drive ? ECliMode::Drive : ECliMode::Figures;
}

} // namespace

TCliParse ParseCommandLine(const std::vector<std::string>& args, char decimalSep)
{
    TCliParse r;
    try {
        Parse(args, decimalSep, r.Command);
    } catch (const EUsage& e) {
        r.Problem = e.Problem;
    }
    return r;
}

} // namespace vinsk::cli
