#include "setup/SettingsFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/SetupValues.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include <sys/stat.h>

using namespace vinsk;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::string& text)
{
    std::ofstream out(p, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << p;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "vinsk-setup-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Dir = pattern;
    }
    void TearDown() override { fs::remove_all(Dir); }

    std::string Path(const char* name) const { return (Dir / name).string(); }

    fs::path Dir;
};

const char* const InitialFile = "[VinskFile]\r\nversion=1.1\r\n\r\n"
                                "[Mount]\r\nDistance=10\r\nMountSpeed=15\r\n\r\n"
                                "[Camera]\r\nHPixSize=5.7\r\nWPixSize=5.7\r\nHSensor=14.8\r\nWSensor=22.2\r\n\r\n"
                                "[Lens]\r\nFocal=400\r\nDiameter=40\r\n\r\n"
                                "[Exposition]\r\ntime=480\r\n";

TEST_F(SettingsFileTest, InitialParametersGiveTheTableValuesInOrder)
{
    SaveSettingsFile(Path("new.ini"), TExperiment{}, '.');
    EXPECT_EQ(ReadFile(Path("new.ini")), InitialFile);
}

TEST_F(SettingsFileTest, UpdateKeepsForeignLinesAndReplacesInPlace)
{
    WriteFile(Path("old.ini"), "; written by hand\n"
                               "[lens]\n"
                               "FOCAL = 135\n"
                               "Colour=red\n"
                               "\n"
                               "[Observer]\n"
                               "Name=me\n"
                               "[MOUNT]\n"
                               "distance=3\n");
    TExperiment e;
    e.PixelHeight = 0.00000574; // typed with more decimals than the field shows
    e.SensorWidth = 0.0236;
    SaveSettingsFile(Path("old.ini"), e, ',');
    EXPECT_EQ(ReadFile(Path("old.ini")), "; written by hand\n"
                                         "[lens]\n"
                                         "FOCAL=400\n"
                                         "Colour=red\n"
                                         "Diameter=40\n"
                                         "\n"
                                         "[Observer]\n"
                                         "Name=me\n"
                                         "[MOUNT]\n"
                                         "distance=10\n"
                                         "MountSpeed=15\n"
                                         "\n"
                                         "[VinskFile]\n"
                                         "version=1.1\n"
                                         "\n"
                                         "[Camera]\n"
                                         "HPixSize=5,74\n"
                                         "WPixSize=5,7\n"
                                         "HSensor=14,8\n"
                                         "WSensor=23,6\n"
                                         "\n"
                                         "[Exposition]\n"
                                         "time=480\n");
}

TEST_F(SettingsFileTest, SavedValuesLoadBackAtFullPrecision)
{
    const TExperiment e{.StarDistance = 12.25,
                        .PixelWidth = 0.00000465,
                        .PixelHeight = 0.00000574,
                        .FocalLength = 0.0035,
                        .ExposureTime = 0.5,
                        .MountSpeed = -7.5};
    SaveSettingsFile(Path("trip.ini"), e, '.');
    const TSettingsLoad load = LoadSettingsFile(Path("trip.ini"), TExperiment{}, '.');
    EXPECT_FALSE(load.VersionMismatch);
    test::ExpectLoadedValues(load, {12.25, -7.5, 5.74, 4.65, 14.8, 22.2, 3.5, 40, 0.5});
}

TEST_F(SettingsFileTest, SavingTwiceChangesOnlyTheValues)
{
    SaveSettingsFile(Path("twice.ini"), TExperiment{}, '.');
    SaveSettingsFile(Path("twice.ini"), TExperiment{}, '.');
    EXPECT_EQ(ReadFile(Path("twice.ini")), InitialFile);
}

TEST_F(SettingsFileTest, DriveSectionOnlyWhenADriveValueDiffers)
{
    // Initial drive settings add nothing, to a new file or to an old one.
    SaveSettingsFile(Path("plain.ini"), TExperiment{}, TDriveSettings{}, '.');
    EXPECT_EQ(ReadFile(Path("plain.ini")), InitialFile);

    TDriveSettings d;
    d.WormPeriod = 479.5;
    d.Detrend = TDetrend::Quadratic;
    SaveSettingsFile(Path("drive.ini"), TExperiment{}, d, ',');
    const std::string text = ReadFile(Path("drive.ini"));
    EXPECT_EQ(text.substr(0, text.find("[Mount]")), "[VinskFile]\r\nversion=1.1\r\n\r\n");
    EXPECT_EQ(text.substr(text.find("[Exposition]")), "[Exposition]\r\ntime=480\r\n\r\n"
                                                      "[Drive]\r\nWormPeriod=479,5\r\nTolerance=1\r\n"
                                                      "Detrend=quadratic\r\nHarmonics=5\r\nHalfWidth=0\r\n");

    // Back to the initial values: the section stays and says so, instead of
    // keeping the old period for the next load.
    SaveSettingsFile(Path("drive.ini"), TExperiment{}, TDriveSettings{}, '.');
    TDriveSettings current;
    current.Harmonics = 9;
    EXPECT_EQ(LoadSettingsFile(Path("drive.ini"), TExperiment{}, current, '.').Drive, TDriveSettings{});
}

TEST_F(SettingsFileTest, DriveSettingsLoadBack)
{
    const TDriveSettings d{.WormPeriod = 239.25,
                           .Tolerance = 0.75,
                           .Detrend = TDetrend::None,
                           .Harmonics = 12,
                           .HalfWidth = 4.5,
                           .StartSide = TStartSide::Bottom,
                           .StepsPerWorm = 50133,
                           .Hemisphere = -1,
                           .Transfer = {TTransferKind::Gamma, 2.25}};
    SaveSettingsFile(Path("trip.ini"), TExperiment{}, d, ',');
    // Read under the other locale too: the file names no separator.
    EXPECT_EQ(LoadSettingsFile(Path("trip.ini"), TExperiment{}, TDriveSettings{}, ',').Drive, d);
    EXPECT_EQ(LoadSettingsFile(Path("trip.ini"), TExperiment{}, TDriveSettings{}, '.').Drive, d);
}

TEST_F(SettingsFileTest, MissingFolderFailsWithTheMessage)
{
    const std::string path = Path("no-such-folder/x.ini");
    try {
        SaveSettingsFile(path, TExperiment{}, '.');
        FAIL() << "no error";
    } catch (const std::runtime_error& err) {
        EXPECT_STREQ(err.what(), ("Unable to write to " + path).c_str());
    }
    EXPECT_FALSE(fs::exists(Dir / "no-such-folder"));
}

TEST_F(SettingsFileTest, DirectoryAsTargetIsRefused)
{
    fs::create_directory(Dir / "folder.ini");
    WriteFile(Dir / "folder.ini" / "inside", "keep");
    const std::string path = Path("folder.ini");
    EXPECT_THROW(
        {
            try {
                SaveSettingsFile(path, TExperiment{}, '.');
            } catch (const std::runtime_error& err) {
                EXPECT_STREQ(err.what(), ("Unable to write to " + path).c_str());
                throw;
            }
        },
        std::runtime_error);
    EXPECT_TRUE(fs::is_directory(Dir / "folder.ini"));
    EXPECT_EQ(ReadFile(Dir / "folder.ini" / "inside"), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, WriteFailingHalfwayLeavesTheOldFileByteIdentical)
{
    // A file-size limit makes the write fail partway, also for root.
    const std::string old = "[Notes]\r\n" + std::string(8000, 'n') + "\r\n[Lens]\r\nFocal=135\r\n";
    WriteFile(Dir / "big.ini", old);
    const std::string path = Path("big.ini");
    std::string message;
    {
        const test::TFileSizeLimit limit(4096);
        try {
            SaveSettingsFile(path, TExperiment{}, '.');
        } catch (const std::runtime_error& err) {
            message = err.what();
        }
    }
    EXPECT_EQ(message, "Unable to write to " + path);
    EXPECT_EQ(ReadFile(Dir / "big.ini"), old);
    // No half-written companion is left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, PermissionsOfTheTargetStay)
{
    WriteFile(Dir / "perm.ini", "[Lens]\nFocal=1\n");
    fs::permissions(Dir / "perm.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    SaveSettingsFile(Path("perm.ini"), TExperiment{}, '.');
    EXPECT_EQ(fs::status(Dir / "perm.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFileTest, SavingThroughALinkUpdatesItsFile)
{
    WriteFile(Dir / "real.ini", "[Lens]\nFocal=1\n");
    fs::create_symlink("real.ini", Dir / "link.ini");
    SaveSettingsFile(Path("link.ini"), TExperiment{}, '.');
    EXPECT_TRUE(fs::is_symlink(Dir / "link.ini"));
    TExperiment other;
    other.FocalLength = 0.001;
    EXPECT_EQ(LoadSettingsFile(Path("real.ini"), other, '.').Values[6].Value, 400);
}

TEST_F(SettingsFileTest, MissingFileLoadsTheCurrentValues)
{
    TExperiment current;
    current.FocalLength = 0.25;
    current.PixelHeight = 0.0000024;
    const TSettingsLoad load = LoadSettingsFile(Path("absent.ini"), current, '.');
    EXPECT_FALSE(load.VersionMismatch);
    test::ExpectLoadedValues(load, {10, 15, 2.4, 5.7, 14.8, 22.2, 250, 40, 480});
}

// What is not a regular file is refused before it is opened (a pipe would
// block in open for ever), and so is a file far larger than settings.
TEST_F(SettingsFileTest, SpecialAndOversizedFilesAreRefused)
{
    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    WriteFile(Path("large.ini"), std::string("[Lens]\nFocal=250\n") + std::string(MaxSettingsFileBytes, '\n'));
    const struct {
        std::string path;
        const char* problem;
    } rows[] = {
        {fifo, "not a regular file"},
        {Dir.string(), "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {Path("large.ini"), "larger than 1 MiB, far more than a settings file holds"},
    };
    for (const auto& r : rows)
        EXPECT_THROW(
            {
                try {
                    LoadSettingsFile(r.path, TExperiment{}, '.');
                } catch (const std::runtime_error& e) {
                    EXPECT_EQ(std::string(e.what()), "Cannot read settings file " + r.path + ": " + r.problem);
                    throw;
                }
            },
            std::runtime_error)
            << r.path;

    // Up to the limit the file is read as always.
    WriteFile(Path("padded.ini"), std::string("[Lens]\nFocal=250\n") + std::string(MaxSettingsFileBytes - 17, '\n'));
    EXPECT_DOUBLE_EQ(LoadSettingsFile(Path("padded.ini"), TExperiment{}, '.').Values[6].Value, 250);
}

struct LoadRow {
    const char* name;
    std::string content;
    char sep;
    std::size_t index; // position in reading order
    double expected;   // in the file's unit
    bool mismatch;
};

void PrintTo(const LoadRow& r, std::ostream* os) { *os << r.name; }

class LoadRows : public ::testing::TestWithParam<LoadRow> {};

TEST_P(LoadRows, ValueAndVersion)
{
    const LoadRow& row = GetParam();
    const TSettingsLoad load = LoadSettingsText(row.content, TExperiment{}, row.sep);
    EXPECT_EQ(load.VersionMismatch, row.mismatch);
    EXPECT_DOUBLE_EQ(load.Values[row.index].Value, row.expected) << load.Values[row.index].FieldName;
}

constexpr std::size_t Focal = 6, HPix = 2;

// "250." followed by zeros up to `length` characters, then "x".
std::string LongFocal(std::size_t length)
{
    std::string v = "250.";
    v.append(length - v.size(), '0');
    return "[Lens]\nFocal=" + v + "x\n";
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, LoadRows,
    ::testing::Values(
        LoadRow{"version110", "[VinskFile]\nversion=1.10\n[Lens]\nFocal=250\n", '.', Focal, 250, true},
        LoadRow{"noVersionSection", "[Lens]\nFocal=250\n", '.', Focal, 250, false},
        LoadRow{"noVersionKey", "[VinskFile]\n[Lens]\nFocal=250\n", '.', Focal, 250, false},
        LoadRow{"emptyVersion", "[VinskFile]\nversion=\n", '.', Focal, 400, true},
        LoadRow{"versionWithBlanks", "[vinskfile]\r\nVERSION =  1.1 \r\n", '.', Focal, 400, false},
        LoadRow{"caseInsensitiveCrLf", "[LENS]\r\nfocal=250\r\n", '.', Focal, 250, false},
        LoadRow{"missingFocalStaysInMillimetres", "[Lens]\nDiameter=50\n", '.', Focal, 400, false},
        LoadRow{"emptyFocal", "[Lens]\nFocal=\n", '.', Focal, 400, false},
        LoadRow{"unparsableFocal", "[Lens]\nFocal=abc\n", '.', Focal, 400, false},
        LoadRow{"beyondDoubleRange", "[Lens]\nFocal=1e400\n", '.', Focal, 400, false},
        LoadRow{"blanksAroundValue", "[Lens]\nFocal =  \t250  \n", '.', Focal, 250, false},
        LoadRow{"quotedValue", "[Lens]\nFocal=\"250\"\n", '.', Focal, 250, false},
        LoadRow{"keyAboveSections", "Focal=250\n[Lens]\n", '.', Focal, 400, false},
        LoadRow{"keyInOtherSection", "[Camera]\nFocal=250\n", '.', Focal, 400, false},
        LoadRow{"firstDuplicateSectionWins", "[Lens]\nFocal=250\n[Lens]\nFocal=300\n", '.', Focal, 250, false},
        LoadRow{"noLineEnd", "[Lens]\nFocal=250", '.', Focal, 250, false},
        LoadRow{"moreDecimalsThanTheField", "[Camera]\nHPixSize=6.45\n", '.', HPix, 6.45, false},
        LoadRow{"commaUnderPoint", "[Camera]\nHPixSize=6,45\n", '.', HPix, 6.45, false},
        LoadRow{"commaUnderComma", "[Camera]\nHPixSize=6,45\n", ',', HPix, 6.45, false},
        LoadRow{"pointUnderComma", "[Camera]\nHPixSize=6.45\n", ',', HPix, 6.45, false},
        LoadRow{"commaWithExponent", "[Camera]\nHPixSize=-1,5E1\n", '.', HPix, -15, false},
        LoadRow{"pointAndComma", "[Camera]\nHPixSize=6.4,5\n", ',', HPix, 5.7, false},
        LoadRow{"twoCommas", "[Camera]\nHPixSize=6,4,5\n", '.', HPix, 5.7, false},
        LoadRow{"thousandsAndDecimals", "[Lens]\nFocal=1.250,5\n", ',', Focal, 400, false},
        LoadRow{"separatorAlone", "[Lens]\nFocal=,\n", ',', Focal, 400, false},
        // The value is cut to 2047 characters: the trailing "x" falls away
        // only when it stands beyond them.
        LoadRow{"cutBeforeTheX", LongFocal(2047), '.', Focal, 250, false},
        LoadRow{"xWithinTheLimit", LongFocal(2046), '.', Focal, 400, false}),
    [](const ::testing::TestParamInfo<LoadRow>& info) { return std::string(info.param.name); });

// A file written under one locale reads the same under the other.
class AcrossLocales : public SettingsFileTest, public ::testing::WithParamInterface<std::pair<char, char>> {};

TEST_P(AcrossLocales, SavedFileLoadsItsValues)
{
    const auto [written, read] = GetParam();
    const TExperiment e{.StarDistance = 12.25,
                        .PixelWidth = 0.0000038,
                        .PixelHeight = 0.00000574,
                        .SensorWidth = 0.0236,
                        .FocalLength = 0.1355,
                        .LensDiameter = 0.0725,
                        .ExposureTime = 94.5,
                        .MountSpeed = 15.04};
    SaveSettingsFile(Path("exp.ini"), e, written);
    const TSettingsLoad load = LoadSettingsFile(Path("exp.ini"), TExperiment{}, read);
    test::ExpectLoadedValues(load, {12.25, 15.04, 5.74, 3.8, 14.8, 23.6, 135.5, 72.5, 94.5});
    EXPECT_TRUE(load.Unread.empty());
}

INSTANTIATE_TEST_SUITE_P(WrittenRead, AcrossLocales,
                         ::testing::Values(std::pair{'.', '.'}, std::pair{'.', ','}, std::pair{',', '.'},
                                           std::pair{',', ','}),
                         [](const ::testing::TestParamInfo<std::pair<char, char>>& info) {
                             auto name = [](char c) { return c == '.' ? std::string("Point") : std::string("Comma"); };
                             return name(info.param.first) + "Read" + name(info.param.second);
                         });

TEST(LoadSettingsText, UnreadValuesAreNamedInFileOrder)
{
    // Missing and empty values are not named; the others that are no number
    // are, in the order they stand in the file, however the key is spelt.
    const TSettingsLoad load = LoadSettingsText("[Exposition]\nTIME = 9,4.5\n[Mount]\nDistance=\n"
                                                "[Lens]\nDiameter=\"\"\nFocal=f/4\n"
                                                "[Camera]\nHPixSize=3,8\nWSensor=1e999\n",
                                                TExperiment{}, '.');
    EXPECT_EQ(load.Unread, (std::vector<std::string>{"time", "Focal", "WSensor"}));
    EXPECT_DOUBLE_EQ(load.Values[8].Value, 480);
    EXPECT_DOUBLE_EQ(load.Values[HPix].Value, 3.8);
    EXPECT_EQ(UnreadSettingsText(load), "Settings: 3 values not read: time, Focal, WSensor");

    TSettingsLoad one;
    one.Unread = {"Focal"};
    EXPECT_EQ(UnreadSettingsText(one), "Settings: 1 value not read: Focal");
    EXPECT_EQ(UnreadSettingsText(LoadSettingsText("[Lens]\nFocal=\n", TExperiment{}, ',')), "");
}

TEST(LoadSettingsText, AllValuesInReadingOrder)
{
    const TSettingsLoad load = LoadSettingsText("[Exposition]\ntime=600\n[Lens]\nDiameter=80\nFocal=135\n"
                                                "[Camera]\nWSensor=23.5\nHSensor=15.6\nWPixSize=3.9\nHPixSize=4.1\n"
                                                "[Mount]\nMountSpeed=7.5\nDistance=25\n",
                                                TExperiment{}, '.');
    test::ExpectLoadedValues(load, {25, 7.5, 4.1, 3.9, 15.6, 23.5, 135, 80, 600});
}

TEST(LoadSettingsText, HugeLineAndStrayBytes)
{
    std::string content = "[Lens]\nFocal=";
    content.append(5'000'000, '9');
    static const char tail[] = "\n\0\xff[\r\r\n[Mount]\nDistance=\0" "7\n";
    content.append(tail, sizeof tail - 1);
    content += "[Lens]";
    const TSettingsLoad load = LoadSettingsText(content, TExperiment{}, '.');
    EXPECT_DOUBLE_EQ(load.Values[Focal].Value, 400); // 2047 nines overflow a double
    EXPECT_DOUBLE_EQ(load.Values[0].Value, 10);
}

// Each row: the [Drive] lines, and the settings read over a current set
// whose every value differs from the initial one.
struct DriveRow {
    const char* name;
    const char* lines;
    TDriveSettings expected;
};

void PrintTo(const DriveRow& r, std::ostream* os) { *os << r.name; }

class DriveRows : public ::testing::TestWithParam<DriveRow> {};

const TDriveSettings Current{300, 2, TDetrend::Line, 7, 6};

TDriveSettings With(void (*change)(TDriveSettings&))
{
    TDriveSettings d = Current;
    change(d);
    return d;
}

TEST_P(DriveRows, ValidKeysReplaceOthersKeep)
{
    const DriveRow& row = GetParam();
    const std::string content = std::string("[Lens]\nFocal=250\n[Drive]\n") + row.lines;
    const TSettingsLoad load = LoadSettingsText(content, TExperiment{}, Current, '.');
    EXPECT_EQ(load.Drive, row.expected);
    EXPECT_DOUBLE_EQ(load.Values[Focal].Value, 250);
}

TEST(LoadSettingsText, DriveValuesNotTakenAreNamedInFileOrder)
{
    const TSettingsLoad load =
        LoadSettingsText("[Drive]\nHarmonics=2.5\nTolerance=0.5\nDetrend=cubic\n[Lens]\nFocal=x\n", TExperiment{},
                         TDriveSettings{}, '.');
    EXPECT_EQ(load.Unread, (std::vector<std::string>{"Harmonics", "Detrend", "Focal"}));
    EXPECT_EQ(load.Drive.Tolerance, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, DriveRows,
    ::testing::Values(
        DriveRow{"noKeys", "", Current},
        DriveRow{"allKeys", "WormPeriod=479\nTolerance=0.5\nDetrend=harmonic\nHarmonics=3\nHalfWidth=0\n",
                 TDriveSettings{479, 0.5, TDetrend::Harmonic, 3, 0}},
        DriveRow{"commaUnderPoint", "WormPeriod=479,5\n", With([](TDriveSettings& d) { d.WormPeriod = 479.5; })},
        DriveRow{"zeroPeriodIsUnknown", "WormPeriod=0\n", With([](TDriveSettings& d) { d.WormPeriod = 0; })},
        DriveRow{"detrendAnyCase", "detrend = Quadratic \n",
                 With([](TDriveSettings& d) { d.Detrend = TDetrend::Quadratic; })},
        DriveRow{"unknownDetrend", "Detrend=cubic\n", Current},
        DriveRow{"transferGamma", "Transfer=Gamma:2,2\n",
                 With([](TDriveSettings& d) { d.Transfer = {TTransferKind::Gamma, 2.2}; })},
        DriveRow{"transferGammaZero", "Transfer=gamma:0\n", Current},
        DriveRow{"negativePeriod", "WormPeriod=-479\n", Current},
        DriveRow{"periodBeyondADay", "WormPeriod=1e9\n", Current},
        DriveRow{"zeroTolerance", "Tolerance=0\n", Current},
        DriveRow{"fractionalHarmonics", "Harmonics=2.5\n", Current},
        DriveRow{"harmonicsOutOfRange", "Harmonics=51\nHarmonics=0\n", Current},
        DriveRow{"hugeHalfWidth", "HalfWidth=1e12\n", Current},
        DriveRow{"twoSeparators", "Tolerance=1.5,2\n", Current}),
    [](const ::testing::TestParamInfo<DriveRow>& info) { return std::string(info.param.name); });

} // namespace
