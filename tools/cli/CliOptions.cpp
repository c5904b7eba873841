#include "tools/cli/CliOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <set>
#include <utility>

#include "common/NumText.h"

namespace vinsk::cli {

const char* const CliUsage =
    "usage: vinsk-cli --image FILE [--dark FILE] [--flat FILE] [--flat-dark FILE]\n"
    "                 [--settings FILE] [--from-header] [--exposure S] [--pixel W[,H]] [--focal MM]\n"
    "                 [--aperture MM]\n"
    "                 [--start X,Y --stop X,Y --inline X,Y]\n"
    "                 [--figure profile|error|estimation|spectrum] [--channel r|g|b|avg]\n"
    "                 [--average N] [--csv FILE]\n"
    "       vinsk-cli --drive --image FILE [--dark FILE] [--flat FILE] [--flat-dark FILE]\n"
    "                 [--settings FILE] [--start X,Y --stop X,Y --inline X,Y] [--channel r|g|b|avg]\n"
    "                 [--worm-period S] [--detrend none|line|quadratic|harmonic]\n"
    "                 [--harmonics K] [--tolerance ARCSEC] [--half-width PX|auto]\n"
    "                 [--transfer auto|linear|srgb|gamma:G]\n"
    "                 [--json FILE] [--csv FILE] [--pec FILE]\n"
    "                 [--start-side left|right|top|bottom] [--worm-phase DEG]\n"
    "                 [--motor-start N] [--steps-per-worm N] [--hemisphere north|south]\n"
    "                 [--eqmod FILE] [--celestron FILE] [--celestron-worm-arcsec 7200|3600]\n"
    "                 [--invert]\n"
    "       vinsk-cli --find-trail --image FILE [--dark FILE] [--flat FILE] [--flat-dark FILE]\n"
    "                 [--channel r|g|b|avg] [--settings FILE]\n"
    "                 [--start-side left|right|top|bottom]\n"
    "       vinsk-cli --guide-log FILE [--section N] [--pixel-scale ARCSEC] [--dec DEG]\n"
    "                 [--settings FILE] [--worm-period S] [--detrend none|line|quadratic|harmonic]\n"
    "                 [--harmonics K] [--tolerance ARCSEC] [--json FILE] [--csv FILE] [--pec FILE]\n"
    "       vinsk-cli --guide-log FILE --list-sections\n"
    "       vinsk-cli --runs REPORT REPORT [REPORT ...] [--same-power-up] [--json FILE]\n"
    "                 [--combine [--pec FILE] [--eqmod FILE] [--celestron FILE]\n"
    "                 [--celestron-worm-arcsec 7200|3600] [--invert]]\n"
    "       vinsk-cli --capture [--indi HOST[:PORT]] --camera NAME --mount NAME\n"
    "                 --capture-seconds S --out FILE.fits [--settings FILE]\n"
    "                 [--drive ... | --find-trail ...]\n"
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
    "  --flat-dark  a dark frame of the flat's own exposure (a bias frame): the\n"
    "             light the drive analysis and the trail finder read is divided\n"
    "             by the flat less it (without one, less the dark frame); the\n"
    "             figures keep the flat as it is\n"
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
    "The PEC files for mount drivers are written from the PEC fit, drift-free,\n"
    "and need a worm period, at least one whole cycle of trail and the worm's\n"
    "phase at START, which one picture does not record:\n"
    "  --worm-phase   the worm's phase at START in degrees, 0 at the mount's PEC\n"
    "                 index; the PEC table's phase then runs from the index\n"
    "  --motor-start  the RA motor's step count at START\n"
    "  --steps-per-worm  the RA motor's steps per worm turn ([Drive] StepsPerWorm)\n"
    "  --hemisphere   north (the motor's count rises with tracking) or south\n"
    "                 ([Drive] Hemisphere)\n"
    "  --eqmod        an EQMOD PEC file (needs --motor-start and --steps-per-worm)\n"
    "  --celestron    a Celestron PEC file of 88 bins from the PEC index (needs\n"
    "                 --worm-phase)\n"
    "  --celestron-worm-arcsec  the arc seconds the mount's table covers, 7200\n"
    "                 (initial) or 3600\n"
    "  --invert       flip the correction's sign in both files\n"
    "Each output takes a file name, or - for standard output (one of them at a\n"
    "time). They always use a point as the decimal separator. A short summary\n"
    "goes to standard output, or to standard error when an output takes it.\n"
    "\n"
    "Without --start, --stop and --inline the trail is found in the (calibrated)\n"
    "picture's channel first, and the points found are printed to standard error\n"
    "as '--start X,Y --stop X,Y --inline X,Y'. --find-trail only finds them and\n"
    "prints that line to standard output. A picture does not show which way the\n"
    "star moved: START is at the end on the side that --start-side names (or the\n"
    "settings file's [Drive] StartSide); without one, the trail's left end, or its\n"
    "top end when the trail is steeper than 45 degrees.\n"
    "\n"
    "--guide-log reads a guiding program's log (PHD2's guide log, or its CSV rows)\n"
    "instead of a picture: the mount's unguided RA error, rebuilt from the star's\n"
    "offsets and the corrections sent, goes through the drive analysis from the\n"
    "error on, with the drive options above. Without --section the longest\n"
    "guiding section is used and standard error says which.\n"
    "  --section      the guiding section, counted from 1\n"
    "  --list-sections  print one line per guiding section and exit\n"
    "  --pixel-scale  arc seconds per guide-camera pixel, when the log lacks it\n"
    "                 or is wrong (without one the result is in pixels)\n"
    "  --dec          the star's declination in degrees, when the log lacks it\n"
    "\n"
    "--runs compares saved drive reports (--drive --json, or the window's report):\n"
    "a table of each run's worm period, cycles, P-P, RMS and residual after PEC,\n"
    "and each run's change against the first, the run before the correction.\n"
    "Runs whose worm phases are both from the PEC index (--worm-phase), or both\n"
    "motor counts of the same steps per worm turn, line up by phase; others by\n"
    "the shift that best matches their mean cycles. A run whose curve is under 3\n"
    "times its residual after PEC, or whose worm period differs from the first\n"
    "run's by more than 1 %, is compared by its statistics only.\n"
    "  --same-power-up  the motor counts were taken without the mount being\n"
    "                 switched off in between (a count starts afresh at power-up)\n"
    "  --json     the table as JSON\n"
    "  --combine  average the runs' PEC curves, each weighted by its cycles over\n"
    "             the square of its cycle-to-cycle spread (2 cycles or more each),\n"
    "             on the first run's phase; --pec, --eqmod, --celestron,\n"
    "             --celestron-worm-arcsec and --invert write the averaged curve\n"
    "\n"
    "--capture takes the picture through an INDI server instead of --image: the\n"
    "camera exposes for --capture-seconds while the mount tracks, and the picture\n"
    "is written whole to --out (FITS) with the RA motor's count at the start of\n"
    "the exposure in its header (VNSKMOT0; VNSKSPW holds --steps-per-worm or the\n"
    "settings file's [Drive] StepsPerWorm). Progress goes to standard error every\n"
    "few seconds, then the count recorded. The mount must be connected and\n"
    "tracking already.\n"
    "  --indi     the server, HOST or HOST:PORT (default localhost:7624)\n"
    "  --camera, --mount  the devices' names on the server\n"
    "Alone it only takes the picture; with --drive or --find-trail the picture is\n"
    "then analysed as --image's would be (with --drive, --find-trail finds the\n"
    "trail), and a failed analysis leaves the picture in place. Ctrl-C aborts\n"
    "the exposure and leaves no file.\n"
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
        if (a == "--invert") {
            drive.Invert = true;
            continue;
        }
        if (a == "--list-sections") {
            o.ListSections = true;
            continue;
        }
        if (a == "--find-trail")
            continue;
        if (a == "--capture") {
            c.Capture.Capture = true;
            continue;
        }
        if (a == "--combine" || a == "--same-power-up") {
            (a == "--combine" ? c.Runs.Combine : c.Runs.SamePowerUp) = true;
            continue;
        }
        if (a == "--runs") {
            // The reports: every argument up to the next option.
            while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
                c.Runs.Reports.push_back(args[++i]);
            continue;
        }
        if (i + 1 >= args.size())
            BadArguments("missing value after " + a);
        const std::string& v = args[++i];
        if (a == "--image")
            o.Image = v;
        else if (a == "--dark")
            o.Dark = v;
        else if (a == "--flat")
            o.Flat = v;
        else if (a == "--flat-dark")
            o.FlatDark = v;
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
        } else if (a == "--guide-log") {
            o.GuideLog = v;
        } else if (a == "--section") {
            const long n = ParseInt(v, a);
            if (n < 1)
                BadArguments("--section counts from 1");
            o.Section = static_cast<int>(n);
        } else if (a == "--pixel-scale") {
            o.PixelScale = ParseNumber(v, a, sep);
            if (!(*o.PixelScale > 0) || !std::isfinite(*o.PixelScale))
                BadArguments("--pixel-scale takes a positive number of arc seconds per pixel");
        } else if (a == "--dec") {
            o.DecDeg = ParseNumber(v, a, sep);
            if (!(std::fabs(*o.DecDeg) <= 90))
                BadArguments("--dec takes a declination from -90 to 90 degrees");
        } else if (a == "--start-side") {
            TStartSide side;
            if (!ParseStartSide(v, side))
                BadArguments("--start-side takes left, right, top or bottom, not '" + v + "'");
            o.StartSide = side;
        } else if (IsCaptureOption(a)) {
            if (const auto problem = TakeCaptureOption(c.Capture, a, v, sep))
                BadArguments(*problem);
        } else if (IsDriveOption(a)) {
            if (const auto problem = TakeDriveOption(drive, a, v))
                BadArguments(*problem);
        } else
            BadArguments("unknown option " + a);
    }
    if (seen.count("--runs")) {
        if (const auto problem = RunsUsageProblem(seen, c.Runs, drive))
            BadArguments(*problem);
        c.Mode = ECliMode::Runs;
        return;
    }
    for (const char* runsOnly : {"--combine", "--same-power-up"})
        if (seen.count(runsOnly))
            BadArguments(std::string(runsOnly) + " needs --runs");
    if (seen.count("--guide-log")) {
        // A log takes the drive analysis' options without --drive.
        static const char* const allowed[] = {"--guide-log", "--section", "--pixel-scale", "--dec", "--list-sections",
                                              "--settings", "--worm-period", "--detrend", "--harmonics",
                                              "--tolerance", "--json", "--csv", "--pec"};
        for (const std::string& a : seen)
            if (std::find(std::begin(allowed), std::end(allowed), a) == std::end(allowed))
                BadArguments(a + " does not go with --guide-log");
        const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
            {"--json", &drive.Json}, {"--csv", &o.Csv}, {"--pec", &drive.Pec}};
        for (std::size_t x = 0; x < 3; ++x)
            for (std::size_t y = x + 1; y < 3; ++y)
                if (*outputs[x].second && *outputs[y].second && **outputs[x].second == **outputs[y].second)
                    BadArguments(std::string(outputs[x].first) + " and " + outputs[y].first + " cannot both write to " +
                                 (**outputs[x].second == "-" ? "standard output" : **outputs[x].second));
        c.Mode = ECliMode::GuideLog;
        return;
    }
    for (const char* logOnly : {"--section", "--pixel-scale", "--dec", "--list-sections"})
        if (seen.count(logOnly))
            BadArguments(std::string(logOnly) + " needs --guide-log");
    if (const auto problem = DriveUsageProblem(seen, drive, o))
        BadArguments(*problem);
    if (const auto problem = CaptureUsageProblem(seen, c.Capture))
        BadArguments(*problem);
    if (c.Capture.Capture) {
        // The captured picture replaces --out's file: never an input's, nor
        // another output's.
        if (const auto clash = OutputClash(o, "--out", c.Capture.Request.OutPath))
            BadArguments(*clash);
        for (const auto& [option, output] : {std::pair{"--csv", &o.Csv}, {"--json", &drive.Json}, {"--pec", &drive.Pec}})
            if (*output && **output == c.Capture.Request.OutPath)
                BadArguments(std::string(option) + " and --out cannot both write to " + c.Capture.Request.OutPath);
        // The captured picture is the one analysed.
        o.Image = c.Capture.Request.OutPath;
        // ... and carries the steps per worm turn given here (VNSKSPW).
        c.Capture.Request.StepsPerWorm = drive.StepsPerWorm.value_or(0);
    } else if (!seen.count("--image"))
        BadArguments("--image is required");
    if (drive.Invert && !drive.Drive)
        BadArguments("--invert needs --drive");
    if (o.FlatDark && !o.Flat)
        BadArguments("--flat-dark needs --flat");
    for (const auto& [option, output] : {std::pair{"--csv", &o.Csv}, {"--json", &drive.Json}, {"--pec", &drive.Pec},
                                         {"--eqmod", &drive.Eqmod}, {"--celestron", &drive.Celestron}})
        if (const auto clash = OutputClash(o, option, *output))
            BadArguments(*clash);
    if (c.Capture.Capture && !drive.Drive && !seen.count("--find-trail")) {
        c.Mode = ECliMode::Capture;
        return;
    }
    // With --capture and --drive, --find-trail asks the analysis to find the
    // trail in the new picture.
    const bool findInCapture = c.Capture.Capture && drive.Drive && seen.count("--find-trail");
    if (seen.count("--find-trail") && !findInCapture) {
        for (const std::string& a : seen)
            if (a != "--find-trail" && a != "--image" && a != "--dark" && a != "--flat" && a != "--flat-dark" && a != "--channel" &&
                a != "--start-side" && a != "--settings" && a != "--capture" && !IsCaptureOption(a))
                BadArguments(a + " does not go with --find-trail");
        c.Mode = ECliMode::FindTrail;
        return;
    }
    const auto points = seen.count("--start") + seen.count("--stop") + seen.count("--inline");
    if (points != 0 && points != 3)
        BadArguments("--start, --stop and --inline go together: give all three, or none to find the trail");
    if (points == 3 && seen.count("--start-side"))
        BadArguments("--start-side places START on a trail that is found: it does not go with --start, --stop "
                     "and --inline");
    if (findInCapture && points != 0)
        BadArguments("--find-trail finds the check points: it does not go with --start, --stop and --inline");
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
