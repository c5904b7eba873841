// The drive analysis' texts (JSON, PEC table, CSV) and the committed
// physical sample against its truth file.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "drive/DriveAnalysis.h"
#include "image/formats/Picture.h"

using namespace vinsk;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// "key value" lines of the truth file.
double TruthValue(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + " ", 0) == 0)
            return std::stod(line.substr(key.size() + 1));
    ADD_FAILURE() << "no " << key << " in the truth file";
    return 0;
}

// The committed sample, analysed with the check points its block in
// samples/checkpoints.txt gives.
TDriveResult AnalyseSample(const TDriveSettings& settings, TBitmap32& bmp, std::string& truth)
{
    const std::string dir = std::string(VINSK_SOURCE_DIR) + "/samples/";
    LoadPicture(dir + "physical.png", bmp);
    truth = ReadText(dir + "physical-truth.txt");
    TDriveInput in;
    in.Start = {40, 55};
    in.Stop = {1580, 45};
    in.InLine = {810, 32};
    in.Setup.ExposureTime = TruthValue(truth, "exposure_s");
    in.Settings = settings;
    return AnalyseDrive(TRasterSamples(bmp), in);
}

} // namespace

TEST(DriveSample, CommittedPhysicalTrailGivesItsTruth)
{
    TBitmap32 bmp;
    std::string truth;
    const TDriveResult r = AnalyseSample({}, bmp, truth);
    ASSERT_FALSE(r.Refused()) << r.Message;
    EXPECT_EQ(r.WormSource, TWormSource::Estimated);
    EXPECT_NEAR(r.WormPeriod, 100, 1.5);
    EXPECT_EQ(r.DetrendUsed, TDetrend::Harmonic);
    EXPECT_NEAR(r.Stats.PeakToPeak, TruthValue(truth, "true_peak_to_peak"), 0.12 * TruthValue(truth, "true_peak_to_peak"));
    EXPECT_NEAR(r.Stats.Rms, TruthValue(truth, "true_rms"), 0.08 * TruthValue(truth, "true_rms"));
    EXPECT_GE(r.CycleCount, 2);
    EXPECT_EQ(r.Pec.size(), static_cast<std::size_t>(std::ceil(r.WormPeriod))); // one row per second
    std::printf("[sample] P-P %.3f/%.3f RMS %.3f/%.3f period %.2f drift %.5f\n", r.Stats.PeakToPeak,
                TruthValue(truth, "true_peak_to_peak"), r.Stats.Rms, TruthValue(truth, "true_rms"), r.WormPeriod,
                r.Drift);
}

TEST(DriveReport, TextsUseAPointWhateverTheLocaleAndNullForUnknowns)
{
    TBitmap32 bmp;
    std::string truth;
    TDriveSettings set;
    set.WormPeriod = 100;
    const TDriveResult r = AnalyseSample(set, bmp, truth);
    ASSERT_FALSE(r.Refused()) << r.Message;
    const char* old = std::setlocale(LC_ALL, "de_DE.UTF-8");
    ASSERT_NE(old, nullptr) << "the de_DE.UTF-8 locale is needed";
    const std::string json = DriveJson(r), pec = PecTableText(r), csv = DriveCsv(r);
    std::setlocale(LC_ALL, "C");

    for (const char* key : {"\"exposure_s\": ", "\"arcsec_per_step\": ", "\"samples\": ", "\"trimmed_s\": ",
                            "\"saturated_fraction\": ", "\"outside_fraction\": ", "\"drift_arcsec_per_s\": ",
                            "\"drift_percent\": ", "\"peak_to_peak\": ", "\"longest_exposure_s\": ",
                            "\"worm_period_s\": 100", "\"worm_period_source\": \"given\"", "\"peaks\": ",
                            "\"harmonic\": \"P/1\"", "\"cycles\": {\"count\": 2", "\"pec\": {\"harmonics\": 5",
                            "\"series\": {\"t\": ["})
        EXPECT_NE(json.find(key), std::string::npos) << key;
    EXPECT_NE(json.find("\"exposure_s\": 289.80"), std::string::npos);

    // PEC: two comment lines, then one row per second of the worm period,
    // and the rate is minus the error's slope.
    std::istringstream in(pec);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.rfind("# Worm period 100.000 s", 0), 0u) << line;
    std::getline(in, line);
    EXPECT_EQ(line, "# phase [s] error [arcsec] correction rate [arcsec/s]");
    std::vector<double> ph, err, rate;
    while (std::getline(in, line)) {
        ASSERT_EQ(line.find(','), std::string::npos) << line;
        std::istringstream row(line);
        row.imbue(std::locale::classic());
        double a, b, c;
        ASSERT_TRUE(row >> a >> b >> c) << line;
        ph.push_back(a), err.push_back(b), rate.push_back(c);
    }
    ASSERT_EQ(ph.size(), 100u);
    EXPECT_EQ(ph.front(), 0);
    EXPECT_EQ(ph.back(), 99);
    for (std::size_t i = 1; i + 1 < err.size(); ++i)
        EXPECT_NEAR(rate[i], -(err[i + 1] - err[i - 1]) / 2, 0.01) << i;

    // CSV: a header and one row per trimmed step, point decimals.
    EXPECT_EQ(csv.rfind("t [s],drift-free error [arcsec]\n", 0), 0u);
    EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), r.T.size() + 1);
}

TEST(DriveReport, UnknownsAreNullAndRefusalsCarryTheirMessage)
{
    TDriveResult r;
    r.Exposure = 10;
    r.Drift = NAN;
    r.DriftPercent = NAN;
    r.CycleSpreadRms = NAN;
    r.PecResidualRms = NAN;
    const std::string json = DriveJson(r);
    EXPECT_NE(json.find("\"drift_arcsec_per_s\": null"), std::string::npos);
    EXPECT_NE(json.find("\"worm_period_s\": null"), std::string::npos);
    EXPECT_NE(json.find("\"worm_period_source\": \"none\""), std::string::npos);
    EXPECT_NE(json.find("\"pec\": {\"harmonics\": null, \"residual_rms\": null, \"cos\": null"), std::string::npos);
    EXPECT_TRUE(PecTableText(r).empty());

    TDriveResult refused;
    refused.Reason = TRefusalReason::Saturated;
    refused.Message = "The trail is saturated along 23 % of its length: use a \"shorter\" exposure";
    EXPECT_NE(DriveJson(refused).find("\"message\": \"The trail is saturated along 23 % of its length: use a "
                                      "\\\"shorter\\\" exposure\""),
              std::string::npos);
}
