// vinsk-cli's command line parsed in process: each row's first problem, or
// the mode it asks for.
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
        {{"--image", "a", "--from-header"}, "", ECliMode::Figures},
        {{"--image", "a", "--drive", "--half-width", "auto"}, "", ECliMode::Drive},
        {{"--image", "a", "--drive", "--transfer", "gamma:2.2"}, "", ECliMode::Drive},
        {{"--image", "a", "--drive", "--transfer", "gamma"},
         "--transfer takes auto, linear, srgb or gamma:G with G from 0 to 10, not 'gamma'"},
        {{"--image", "a", "--transfer", "srgb"}, "--transfer needs --drive"},
    };
    for (const TRow& row : rows) {
        std::string line;
        for (const std::string& a : row.Args)
            line += " " + a;
        SCOPED_TRACE(line);
        const TCliParse p = ParseCommandLine(row.Args, '.');
        EXPECT_EQ(p.Problem.value_or(""), row.Problem);
        if (row.Problem.empty()) {
            EXPECT_EQ(p.Command.Mode, row.Mode);
        }
    }
    std::vector<std::string> args = {"--image", "a", "--drive"};
    args.insert(args.end(), std::begin(drivePoints), std::end(drivePoints));
    EXPECT_FALSE(ParseCommandLine(args, '.').Command.FindPoints);
    EXPECT_TRUE(ParseCommandLine({"--image", "a", "--drive"}, '.').Command.FindPoints);
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
