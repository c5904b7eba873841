// vinsk-cli on the sample generator's deep pictures: a camera RAW measured
// like the 8-bit trail, and the Setup values a FITS header brings.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/SettingsFile.h"
#include "tools/sample-gen/TrailScene.h"

using namespace vinsk;
using namespace vinsk::tools;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class DeepCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Dir = new fs::path(fs::temp_directory_path() / ("vinsk-deep-cli-" + std::to_string(::getpid())));
        fs::create_directories(*Dir);
        for (const char* format : {"fits", "dng", "png"})
            ASSERT_EQ(Run(VINSK_SAMPLE_GEN, {"--out", Dir->string(), "--name", format, "--format", format}), 0);
        TExperiment e;
        e.ExposureTime = 100;
        e.FocalLength = TSceneOptions{}.FocalMm / 1000;
        SaveSettingsFile((*Dir / "e100.ini").string(), e, '.');
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(*Dir);
        delete Dir;
    }

    static int Run(const std::string& program, const std::vector<std::string>& args)
    {
        std::string cmd = "LC_ALL=C '" + program + "'";
        for (const std::string& a : args)
            cmd += " '" + a + "'";
        cmd += " >'" + (*Dir / "run.out").string() + "' 2>'" + (*Dir / "run.err").string() + "'";
        const int status = std::system(cmd.c_str());
        Out = ReadAll(*Dir / "run.out");
        Err = ReadAll(*Dir / "run.err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static std::vector<std::string> Trail(const std::string& stem)
    {
        const TSceneOptions o;
        const TExpectedPE x = ExpectedPeriodicError(o);
        auto point = [](TPoint p) { return std::to_string(p.X) + "," + std::to_string(p.Y); };
        return {"--start", point(o.Start), "--stop", point(o.Stop), "--inline", point(x.InLine), "--image",
                (*Dir / stem).string()};
    }

    // The time of the error curve's last sample: the exposure the run used.
    static double LastTime(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--figure", "error", "--csv", "-"});
        EXPECT_EQ(Run(VINSK_CLI, args), 0) << Err;
        std::istringstream in(Out);
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty())
                last = line;
        return std::stod(last.substr(0, last.find(';')));
    }

    static inline fs::path* Dir = nullptr;
    static inline std::string Out, Err;
};

TEST_F(DeepCli, CameraRawMeasuresTheKnownPeriodicError)
{
    std::vector<std::string> a = Trail("dng.dng");
    a.insert(a.end(), {"--dark", (*Dir / "dng-dark.dng").string(), "--flat", (*Dir / "dng-flat.dng").string(),
                       "--settings", (*Dir / "dng.ini").string()});
    ASSERT_EQ(Run(VINSK_CLI, a), 0) << Err;
    const TExpectedPE x = ExpectedPeriodicError(TSceneOptions{});
    double min = 0, max = 0, sigma = 0;
    ASSERT_EQ(std::sscanf(Out.c_str(), "Min/Max PE [\"]: %lf/%lf\n68%% interval[\"]:  +/- %lf", &min, &max, &sigma), 3)
        << Out;
    // As for the 8-bit trail: linear samples with a white balance per channel
    // keep every ratio along the trail.
    EXPECT_NEAR(sigma, x.Sigma, 0.05 * x.Sigma + 0.1) << Out;
    EXPECT_NEAR(min, x.Min, 1.5) << Out;
    EXPECT_NEAR(max, x.Max, 1.5) << Out;
}

TEST_F(DeepCli, HeaderValuesOverrideTheSettingsAndTheCommandLineBoth)
{
    const std::vector<std::string> base = Trail("fits.fits");
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> a = base;
        a.insert(a.end(), extra.begin(), extra.end());
        return LastTime(a);
    };
    const std::string ini = (*Dir / "e100.ini").string();
    EXPECT_EQ(with({"--settings", ini}), 100);
    // The generator's header says EXPTIME = 120.
    EXPECT_EQ(with({"--settings", ini, "--from-header"}), 120);
    EXPECT_EQ(with({"--from-header"}), 120);
    // Through the field's one decimal, as every value.
    EXPECT_EQ(with({"--settings", ini, "--from-header", "--exposure", "300.04"}), 300);
    // A RAW brings its EXIF exposure the same way.
    std::vector<std::string> raw = Trail("dng.dng");
    raw.insert(raw.end(), {"--settings", ini, "--from-header"});
    EXPECT_EQ(LastTime(raw), 120);
}

// An 8-bit dark drops the FITS picture's 16-bit samples: every mode that
// loads frames says so, as the window's status bar does.
TEST_F(DeepCli, AFrameOfAnotherDepthIsNamedInEveryMode)
{
    const std::string said = "Linear samples dropped: the dark frame has 8 bits per sample, the picture 16 bits\n";
    const std::string image = (*Dir / "fits.fits").string(), dark = (*Dir / "png-dark.png").string();
    std::vector<std::string> figures = Trail("fits.fits");
    figures.insert(figures.end(), {"--dark", dark});
    std::vector<std::string> drive = figures;
    drive.insert(drive.end(), {"--drive", "--json", "-"});
    for (const auto& args : {figures, std::vector<std::string>{"--find-trail", "--image", image, "--dark", dark}, drive}) {
        EXPECT_EQ(Run(VINSK_CLI, args), 0) << Err;
        EXPECT_NE(Err.find(said), std::string::npos) << Err;
    }
    EXPECT_NE(Out.find("\"notes\": [\"" + said.substr(0, said.size() - 1) + "\""), std::string::npos) << Out;
}

// Header values that are no number the fields can hold are named, and the
// field keeps its value: a denormal exposure was taken as 0 s and the run
// stopped on "Invalid floating point operation"; a focal length as text was
// skipped without a word.
TEST_F(DeepCli, UnusableHeaderValuesAreNamedAndTheFieldsKeepTheirs)
{
    std::string fits = ReadAll(*Dir / "fits.fits");
    auto replace = [&](const std::string& key, const std::string& value) {
        const std::size_t at = fits.find((key + "        ").substr(0, 8) + "=");
        ASSERT_NE(at, std::string::npos) << key;
        fits.replace(at + 10, 20, (std::string(20, ' ') + value).substr(value.size()));
    };
    replace("EXPTIME", "1E-310");
    replace("FOCALLEN", "'400 mm'");
    const fs::path path = *Dir / "unusable.fits";
    std::ofstream(path, std::ios::binary) << fits;
    std::vector<std::string> a = Trail("unusable.fits");
    a.insert(a.end(), {"--settings", (*Dir / "e100.ini").string(), "--from-header"});
    EXPECT_EQ(LastTime(a), 100);
    // First on standard error (the figure's text follows it there when
    // the CSV goes to standard output).
    const std::string notes = "EXPTIME in the header is not a usable number: kept 100 s\n"
                              "FOCALLEN in the header is not a usable number: kept " +
                              std::to_string(static_cast<int>(TSceneOptions{}.FocalMm)) + " mm\n";
    EXPECT_EQ(Err.substr(0, notes.size()), notes);
}

} // namespace
