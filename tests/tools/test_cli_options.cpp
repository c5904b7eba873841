// vinsk-cli's command line parsed in process: each row's first problem, or
// the mode it asks for.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/cli/CliOptions.h"

using namespace vinsk::cli;

namespace {

struct TRow {
    std::vector<std::string> Args;
    std::string Problem; // empty: parsed
    ECliMode Mode = ECliMode::Figures;
};

// Each row's first problem, or its mode and what `more` checks of it.
template <std::size_t N>
void ExpectRows(const TRow (&rows)[N], const std::function<void(const TCliParse&)>& more = {})
{
    for (const TRow& row : rows) {
        std::string line;
        for (const std::string& a : row.Args)
            line += " " + a;
        SCOPED_TRACE(line);
        const TCliParse p = ParseCommandLine(row.Args, '.');
        EXPECT_EQ(p.Problem.value_or(""), row.Problem);
        if (row.Problem.empty()) {
            EXPECT_EQ(p.Command.Mode, row.Mode);
            if (more)
                more(p);
        }
    }
}

} // namespace

TEST(CliOptions, EachCommandLineGivesItsModeOrItsFirstProblem)
{
    const std::string drivePoints[] = {"--start", "1,2", "--stop", "3,4", "--inline", "5,6"};
    const TRow rows[] = {
        {{}, "--image is required"},
        {{"pic.fits"}, "unexpected argument 'pic.fits'"},
        {{"--image"}, "missing value after --image"},
        {{"--image", "a", "--image", "b"}, "--image given twice"},
        {{"--bogus", "--help"}, "unknown option --bogus"}, // --help is the value here
        {{"--image", "a", "--start", "1"}, "--start needs X,Y in whole pixels, not '1'"},
        {{"--image", "a", "--start", "1,2.5"}, "bad whole number '2.5' for --start"},
        {{"--image", "a", "--start", "1,2"},
         "--start, --stop and --inline go together: give all three, or none to find the trail"},
        {{"--image", "a", "--average", "101"}, "--average takes 2 to 100 pixels"},
        {{"--image", "a", "--exposure", "1x"}, "bad number '1x' for --exposure"},
        {{"--image", "a", "--channel", "v"}, "unknown value 'v' for --channel"},
        {{"--image", "a", "--json", "j"}, "--json needs --drive"},
        {{"--image", "a", "--harmonics", "0", "--drive"}, "--harmonics takes a whole number from 1 to 50, not '0'"},
        {{"--drive", "--average", "3", "--image", "a"}, "--average chooses a figure and does not go with --drive"},
        {{"--image", "a", "--drive", "--pec", "-", "--csv", "-"}, "--csv and --pec cannot both write to standard output"},
        {{"--image", "a", "--find-trail", "--figure", "error"}, "--figure does not go with --find-trail"},
        {{"--find-trail", "--dark", "d"}, "--image is required"},
        {{"--image", "a", "--help", "--bogus"}, "", ECliMode::Help},
        {{"--version", "x"}, "", ECliMode::Version},
        {{"--image", "a", "--find-trail", "--flat", "f", "--channel", "r"}, "", ECliMode::FindTrail},
        {{"--image", "a", "--find-trail", "--flat", "f", "--flat-dark", "b"}, "", ECliMode::FindTrail},
        {{"--image", "a", "--drive", "--flat-dark", "b"}, "--flat-dark needs --flat"},
        {{"--image", "a", "--from-header"}, "", ECliMode::Figures},
        {{"--image", "a", "--drive", "--half-width", "auto"}, "", ECliMode::Drive},
        {{"--image", "a", "--drive", "--worm-phase", "360"},
         "--worm-phase takes the worm's phase at START in degrees, 0 to below 360, not '360'"},
        {{"--image", "a", "--drive", "--hemisphere", "east"}, "--hemisphere takes north or south, not 'east'"},
        {{"--image", "a", "--drive", "--steps-per-worm", "50133.5"},
         "--steps-per-worm takes the motor's steps per worm turn, a whole number from 1 to 2147483647, not "
         "'50133.5'"},
        {{"--image", "a", "--drive", "--eqmod", "-"}, "--eqmod takes a file name, not '-'"},
        {{"--image", "a", "--invert"}, "--invert needs --drive"},
        {{"--image", "a", "--celestron", "c.pec"}, "--celestron needs --drive"},
        {{"--image", "a", "--drive", "--start-side", "up"}, "--start-side takes left, right, top or bottom, not 'up'"},
        {{"--image", "a", "--drive", "--start-side", "left", "--start", "1,2", "--stop", "3,4", "--inline", "5,6"},
         "--start-side places START on a trail that is found: it does not go with --start, --stop and --inline"},
        {{"--image", "a", "--find-trail", "--start-side", "right", "--settings", "s.ini"}, "", ECliMode::FindTrail},
        {{"--image", "a", "--drive", "--motor-start", "-5", "--steps-per-worm", "50133", "--hemisphere", "south",
          "--eqmod", "e.txt", "--celestron", "c.pec", "--celestron-worm-arcsec", "3600", "--invert"},
         "",
         ECliMode::Drive},
        {{"--guide-log", "g.txt", "--section", "0"}, "--section counts from 1"},
        {{"--guide-log", "g.txt", "--channel", "r"}, "--channel does not go with --guide-log"},
        {{"--image", "a", "--pixel-scale", "2.66"}, "--pixel-scale needs --guide-log"},
        {{"--guide-log", "g.txt", "--dec", "91"}, "--dec takes a declination from -90 to 90 degrees"},
        {{"--guide-log", "g.txt", "--json", "-", "--pec", "-"}, "--json and --pec cannot both write to standard output"},
        {{"--guide-log", "g.txt", "--section", "3", "--pixel-scale", "2.66", "--worm-period", "383", "--json", "-"},
         "",
         ECliMode::GuideLog},
        {{"--image", "a", "--drive", "--transfer", "gamma:2.2"}, "", ECliMode::Drive},
        {{"--image", "a", "--drive", "--transfer", "gamma"},
         "--transfer takes auto, linear, srgb or gamma:G with G from 0 to 10, not 'gamma'"},
        {{"--image", "a", "--transfer", "srgb"}, "--transfer needs --drive"},
        {{"--runs", "a.json", "b.json", "c.json", "--combine", "--same-power-up", "--eqmod", "e.txt", "--json", "-"},
         "",
         ECliMode::Runs},
        {{"--runs", "a.json", "--json", "-"}, "--runs needs two reports or more"},
        {{"--runs", "a.json", "b.json", "--pec", "p.txt"}, "--pec writes the averaged curve: it needs --combine"},
        {{"--runs", "a.json", "b.json", "--image", "x.png"}, "--image does not go with --runs"},
        {{"--runs", "a.json", "b.json", "--json", "b.json"}, "--json would replace the report b.json"},
        {{"--image", "a", "--drive", "--combine"}, "--combine needs --runs"},
    };
    ExpectRows(rows);
    std::vector<std::string> args = {"--image", "a", "--drive"};
    args.insert(args.end(), std::begin(drivePoints), std::end(drivePoints));
    EXPECT_FALSE(ParseCommandLine(args, '.').Command.FindPoints);
    EXPECT_TRUE(ParseCommandLine({"--image", "a", "--drive"}, '.').Command.FindPoints);
}

// --capture takes the place of --image: alone it only takes the picture,
// with --drive or --find-trail the picture is then analysed.
TEST(CliOptions, CaptureTakesThePlaceOfTheImage)
{
    const std::vector<std::string> cap = {"--capture", "--camera", "CCD Simulator", "--mount", "EQMod Mount",
                                          "--capture-seconds", "2", "--out", "t.fits"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> a = cap;
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    const TRow rows[] = {
        {cap, "", ECliMode::Capture},
        {with({"--indi", "scope:7625", "--settings", "s.ini"}), "", ECliMode::Capture},
        {with({"--drive", "--find-trail", "--pec", "p.txt"}), "", ECliMode::Drive},
        {with({"--drive", "--start", "1,2", "--stop", "3,4", "--inline", "5,6"}), "", ECliMode::Drive},
        {with({"--find-trail", "--channel", "r"}), "", ECliMode::FindTrail},
        {with({"--image", "a"}), "--capture takes the place of --image"},
        {{"--capture", "--mount", "m", "--capture-seconds", "2", "--out", "t.fits"}, "--capture needs --camera"},
        {{"--image", "a", "--camera", "c"}, "--camera needs --capture"},
        {with({"--indi", "host:99999"}), "--indi takes HOST or HOST:PORT, not 'host:99999'"},
        {{"--capture", "--capture-seconds", "0"}, "--capture-seconds takes more than 0 and at most 86400 seconds, not '0'"},
        {{"--capture", "--out", "t.png"}, "--out takes a .fits or .fits.fz file name, not 't.png'"},
        {with({"--figure", "error"}), "--figure needs --drive or --find-trail with --capture"},
        {with({"--drive", "--json", "t.fits"}), "--json and --out cannot both write to t.fits"},
        {with({"--drive", "--find-trail", "--start", "1,2", "--stop", "3,4", "--inline", "5,6"}),
         "--find-trail finds the check points: it does not go with --start, --stop and --inline"},
    };
    ExpectRows(rows, [](const TCliParse& p) {
        EXPECT_EQ(p.Command.Options.Image, "t.fits");
        EXPECT_TRUE(p.Command.Capture.Capture);
    });
    const TCliParse p = ParseCommandLine(with({"--indi", ":7000", "--capture-seconds", "2.5"}), '.');
    EXPECT_EQ(p.Problem.value_or(""), "--capture-seconds given twice");
    const vinsk::TCaptureRequest c = ParseCommandLine(with({"--indi", "scope:7625"}), '.').Command.Capture.Request;
    EXPECT_EQ(c.Server.Host, "scope");
    EXPECT_EQ(c.Server.Port, 7625);
    EXPECT_EQ(c.Camera, "CCD Simulator");
    EXPECT_EQ(c.Seconds, 2);
    EXPECT_TRUE(ParseCommandLine(with({"--drive", "--find-trail"}), '.').Command.FindPoints);
    // The picture records the steps per worm turn given, with or without
    // the analysis.
    for (const auto& more : {std::vector<std::string>{"--steps-per-worm", "50133"},
                             std::vector<std::string>{"--drive", "--find-trail", "--steps-per-worm", "50133"}}) {
        const TCliParse spw = ParseCommandLine(with(more), '.');
        EXPECT_FALSE(spw.Problem) << *spw.Problem;
        EXPECT_EQ(spw.Command.Capture.Request.StepsPerWorm, 50133);
    }
}

TEST(CliOptions, NumbersTakeTheLocaleSeparatorOrAPointButThePixelSizeOnlyAPoint)
{
    const TCliParse p = ParseCommandLine({"--image", "a", "--exposure", "2,5", "--focal", "1000.5", "--pixel", "3.8,4",
                                          "--start", "1,2", "--stop", "-7,9", "--inline", "5,6"},
                                         ',');
    ASSERT_FALSE(p.Problem);
    const TCliOptions& o = p.Command.Options;
    EXPECT_EQ(o.Exposure, 2.5);
    EXPECT_EQ(o.Focal, 1000.5);
    EXPECT_EQ(o.PixelWidth, 3.8);
    EXPECT_EQ(o.PixelHeight, 4.0);
    EXPECT_EQ(o.CheckPoints[2], -7.0L);
    EXPECT_EQ(o.CheckPoints[3], 9.0L);
    EXPECT_EQ(ParseCommandLine({"--image", "a", "--pixel", "3,8"}, ',').Command.Options.PixelHeight, 8.0);
}
