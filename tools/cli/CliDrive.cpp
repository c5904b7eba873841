#include "tools/cli/CliDrive.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <new>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/TrailGeometry.h"
#include "common/AtomicFile.h"
#include "common/NumText.h"
#include "drive/DriveAnalysis.h"
#include "drive/FilePhase.h"
#include "drive/PecFiles.h"
#include "drive/Runs.h"
#include "tools/cli/Version.h"
#include "drive/DriveLight.h"
#include "image/FrameCalibration.h"

namespace vinsk::cli {

namespace {

constexpr const char* ValueOptions[] = {"--worm-period", "--detrend",      "--harmonics",      "--tolerance",
                                        "--half-width",  "--json",         "--pec",            "--worm-phase",
                                        "--motor-start", "--steps-per-worm", "--hemisphere",   "--eqmod",
                                        "--celestron",   "--celestron-worm-arcsec", "--transfer"};

const char* ChannelName(int channel)
{
    static const char* const names[] = {"red", "green", "blue", "average"};
    return channel >= 0 && channel < 4 ? names[channel] : "average";
}

std::string DetrendText(TDetrend d, int jointDegree)
{
    switch (d) {
    case TDetrend::None:
        return "not removed";
    case TDetrend::Line:
        return "removed as a fitted line";
    case TDetrend::Quadratic:
        return "removed as a fitted parabola";
    case TDetrend::Harmonic:
        break;
    }
    return jointDegree == 2 ? "removed as a parabola fitted jointly with the worm's harmonics (its slope at the middle)"
                            : "removed as a line fitted jointly with the worm's harmonics";
}

std::string Summary(const TDriveResult& r, int channel, char sep)
{
    const std::string q = "\"";
    std::string s = std::string("Drive analysis of the ") + ChannelName(channel) +
                    " channel: " + std::to_string(r.Flux.size()) + " steps of " + FixedText(r.ArcsecPerStep, 3, sep) +
                    q + ", " + FixedText(r.Record, 1, sep) + " s analysed (" + FixedText(r.TrimmedSeconds, 1, sep) +
                    " s at the ends left out)\n";
    if (const std::string light = TransferLine(r, sep); !light.empty())
        s += light + "\n";
    if (r.SaturatedFraction > 0 || r.OutsideFraction > 0)
        s += "Steps saturated: " + FixedText(100 * r.SaturatedFraction, 1, sep) +
             " %, outside the picture: " + FixedText(100 * r.OutsideFraction, 1, sep) +
             " % (bridged from their neighbours)\n";
    if (const std::string repaired = RepairedLine(r); !repaired.empty())
        s += repaired + "\n";
    if (std::isfinite(r.Drift))
        s += "Drift: " + FixedText(r.Drift, 5, sep) +
             (std::isfinite(r.DriftSigma) ? " +/- " + FixedText(r.DriftSigma, 5, sep) : std::string()) + q + "/s " +
             (std::isfinite(r.DriftPercent) ? "(" + FixedText(r.DriftPercent, 3, sep) + " % of the mount speed), "
                                            : std::string()) +
             DetrendText(r.DetrendUsed, r.JointDegree) + "\n";
    else
        s += "Drift: " + DetrendText(r.DetrendUsed, r.JointDegree) + "\n";
    const TDriveStats& st = r.Stats;
    s += "Error: peak-to-peak " + FixedText(st.PeakToPeak, 2, sep) +
         (std::isfinite(st.PeakToPeakSigma) ? " +/- " + FixedText(st.PeakToPeakSigma, 2, sep) : std::string()) + q +
         ", RMS " + FixedText(st.Rms, 2, sep) + q + ", Max+ " + FixedText(st.MaxPlus, 2, sep) + q + ", Max- " +
         FixedText(st.MaxMinus, 2, sep) + q + "\n";
    s += "Largest rate: " + FixedText(st.MaxRate, 3, sep) + q + "/s; longest exposure within " +
         FixedText(st.Tolerance, 2, sep) + q + ": " + FixedText(st.LongestExposure, 1, sep) + " s\n";
    if (r.WormSource == TWormSource::None) {
        s += "Worm period: none. " + r.WormNote + "\n";
    } else {
        s += "Worm period: " + FixedText(r.WormPeriod, 2, sep) + " s (" + WormSourceName(r.WormSource) + ")";
        if (r.CycleCount > 0)
            s += ", " + std::to_string(r.CycleCount) + (r.CycleCount == 1 ? " whole cycle" : " whole cycles") +
                 ", cycle-to-cycle spread " + FixedText(r.CycleSpreadRms, 2, sep) + q + " RMS";
        s += " (for PHD2's predictive PEC: period length " + FixedText(r.WormPeriod, 1, sep) + " s)\n";
    }
    s += PhaseText(r.PhaseInput) + "\n";
    if (!r.Pec.empty())
        s += "PEC: " + std::to_string(r.PecHarmonics) + " harmonics, residual " + FixedText(r.PecResidualRms, 2, sep) +
             q + " RMS\n";
    if (!r.Peaks.empty()) {
        s += "Peaks:";
        for (std::size_t i = 0; i < r.Peaks.size() && i < 5; ++i) {
            const TDrivePeak& p = r.Peaks[i];
            s += (i ? "; " : " ") + FixedText(p.Period, 1, sep) + " s " + FixedText(p.Amplitude, 2, sep) +
                 (std::isfinite(p.AmplitudeSigma) ? " +/- " + FixedText(p.AmplitudeSigma, 2, sep) : std::string()) + q;
            if (!p.Label.empty())
                s += " (" + p.Label + ")";
        }
        s += "\n";
    }
    for (const std::string& note : r.Notes)
        s += "Note: " + note + "\n";
    return s;
}

} // namespace

int WriteOutputs(const std::vector<std::pair<std::string, std::string>>& outputs, const std::string& summaryText,
                 std::FILE* out, std::FILE* err)
{
    // Every file is written before any is put in place, and standard output
    // comes last: a run that fails on one output replaces none.
    const std::string* toStdout = nullptr;
    try {
        TAtomicSaveSet files;
        for (const auto& [target, text] : outputs) {
            if (target == "-")
                toStdout = &text;
            else
                files.Add(target, text);
        }
        files.Commit();
    } catch (const std::exception& e) {
        Put(err, FailureText(e) + "\n");
        return 1;
    }
    if (toStdout && !Put(out, *toStdout)) {
        Put(err, std::string("Cannot write to standard output: ") + std::strerror(errno) + "\n");
        return 1;
    }
    std::FILE* summary = toStdout ? err : out;
    if (!Put(summary, summaryText)) {
        if (summary == out)
            Put(err, std::string("Cannot write to standard output: ") + std::strerror(errno) + "\n");
        return 1;
    }
    return 0;
}

std::string DriveSummary(const TDriveResult& r, int channel, char sep)
{
    return Summary(r, channel, sep);
}

bool IsDriveOption(const std::string& option)
{
    for (const char* o : ValueOptions)
        if (option == o)
            return true;
    return false;
}

std::optional<std::string> TakeDriveOption(TDriveOptions& d, const std::string& option, const std::string& value)
{
    auto bad = [&](const std::string& wants) {
        return std::optional<std::string>(option + " takes " + wants + ", not '" + value + "'");
    };
    const std::optional<double> number = DriveNumber(value, '.');
    if (option == "--worm-period") {
        if (!number || !ValidWormPeriod(*number))
            return bad("the worm period in seconds, 0 (unknown) to " + FloatText(MaxDriveWormPeriod));
        d.WormPeriod = number;
    } else if (option == "--tolerance") {
        if (!number || !ValidTolerance(*number))
            return bad("a positive number of arc seconds");
        d.Tolerance = number;
    } else if (option == "--harmonics") {
        if (!number || !ValidHarmonics(*number))
            return bad("a whole number from 1 to " + std::to_string(MaxDriveHarmonics));
        d.Harmonics = static_cast<int>(*number);
    } else if (option == "--half-width") {
        if (value == "auto")
            d.HalfWidth = 0;
        else if (!number || !ValidHalfWidth(*number))
            return bad("auto or up to " + FloatText(MaxDriveHalfWidth) + " pixels");
        else
            d.HalfWidth = number;
    } else if (option == "--detrend") {
        TDetrend detrend;
        if (!ParseDetrend(value, detrend))
            return bad("none, line, quadratic or harmonic");
        d.Detrend = detrend;
    } else if (option == "--transfer") {
        TTransferChoice transfer;
        if (!ParseTransfer(value, '.', transfer))
            return bad("auto, linear, srgb or gamma:G with G from 0 to 10");
        d.Transfer = transfer;
    } else if (option == "--json" || option == "--pec") {
        if (value.empty())
            return bad("a file name, or - for standard output");
        (option == "--json" ? d.Json : d.Pec) = value;
    } else if (option == "--eqmod" || option == "--celestron") {
        if (value.empty() || value == "-")
            return bad("a file name");
        (option == "--eqmod" ? d.Eqmod : d.Celestron) = value;
    } else if (option == "--worm-phase") {
        if (!number || *number < 0 || *number >= 360)
            return bad("the worm's phase at START in degrees, 0 to below 360");
        d.WormPhase = number;
    } else if (option == "--motor-start") {
        if (!number || *number != std::floor(*number) || std::fabs(*number) > 9e15)
            return bad("the RA motor's step count at START, a whole number");
        d.MotorStart = static_cast<long long>(*number);
    } else if (option == "--steps-per-worm") {
        if (!number || !ValidStepsPerWorm(*number))
            return bad("the motor's steps per worm turn, a whole number from 1 to 2147483647");
        d.StepsPerWorm = static_cast<long long>(*number);
    } else if (option == "--hemisphere") {
        int h = 1;
        if (!ParseHemisphere(value, h))
            return bad("north or south");
        d.Hemisphere = h;
    } else if (option == "--celestron-worm-arcsec") {
        if (value != "7200" && value != "3600")
            return bad("7200 or 3600");
        d.CelestronWormArcsec = value == "7200" ? 7200 : 3600;
    }
    return std::nullopt;
}

std::optional<std::string> DriveUsageProblem(const std::set<std::string>& given, const TDriveOptions& d,
                                             const TCliOptions& o)
{
    if (d.Drive) {
        for (const char* figureOnly : {"--figure", "--average"})
            if (given.count(figureOnly))
                return std::string(figureOnly) + " chooses a figure and does not go with --drive";
    } else {
        for (const char* option : ValueOptions)
            // A capture writes the steps per worm turn into the picture.
            if (given.count(option) && !(given.count("--capture") && option == std::string_view("--steps-per-worm")))
                return std::string(option) + " needs --drive";
    }
    const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
        {"--json", &d.Json}, {"--csv", &o.Csv}, {"--pec", &d.Pec}};
    for (std::size_t a = 0; a < 3; ++a)
        for (std::size_t z = a + 1; z < 3; ++z) {
            const auto &x = *outputs[a].second, &y = *outputs[z].second;
            if (x && y && *x == *y)
                return std::string(outputs[a].first) + " and " + outputs[z].first + " cannot both write to " +
                       (*x == "-" ? "standard output" : *x);
        }
    return std::nullopt;
}

TDriveSettings DriveSettingsOf(const TDriveOptions& d, const std::optional<TDriveSettings>& fromFile)
{
    TDriveSettings s = fromFile.value_or(TDriveSettings{});
    s.WormPeriod = d.WormPeriod.value_or(s.WormPeriod);
    s.Tolerance = d.Tolerance.value_or(s.Tolerance);
    s.Detrend = d.Detrend.value_or(s.Detrend);
    s.Harmonics = d.Harmonics.value_or(s.Harmonics);
    s.HalfWidth = d.HalfWidth.value_or(s.HalfWidth);
    s.StepsPerWorm = d.StepsPerWorm.value_or(s.StepsPerWorm);
    s.Hemisphere = d.Hemisphere.value_or(s.Hemisphere);
    s.Transfer = d.Transfer.value_or(s.Transfer);
    return s;
}

TPhaseInput PhaseOf(const TDriveOptions& d, const TDriveSettings& s)
{
    TPhaseInput p;
    if (d.WormPhase)
        p.WormPhaseDeg = *d.WormPhase;
    if (d.MotorStart) {
        p.HaveMotorStart = true;
        p.MotorStart = *d.MotorStart;
    }
    p.StepsPerWorm = s.StepsPerWorm;
    p.Hemisphere = s.Hemisphere;
    return p;
}

int RunDrive(const TCliOptions& o, const TDriveOptions& d, char sep, std::FILE* out, std::FILE* err)
{
    TDriveResult r;
    TCliResult loaded; // the settings file's warnings
    std::string dropped; // the linear samples a frame dropped
    try {
        TVinskState s;
        TFileSetupValues header;
        // The settings first: their [Drive] Transfer says how the pictures
        // are read.
        std::optional<TDriveSettings> fromFile;
        if (o.Settings)
            fromFile = LoadSettings(*o.Settings, s.Experiment, sep, loaded);
        TTransfer transfer;
        LoadPictures(o, s, &header, DriveSettingsOf(d, fromFile).Transfer, &transfer);
        dropped = s.Status.Linear;
        loaded.UnusableHeader = TakeSetupValues(o, header, s.Experiment, sep);
        TDriveInput in;
        std::tie(in.Start, in.Stop, in.InLine) = CheckPointsAs<TDrivePoint>(o.CheckPoints);
        in.Setup = ExactSetup(o, header, sep);
        in.Channel = ChannelOf(o.Channel);
        in.Settings = DriveSettingsOf(d, fromFile);
        in.Phase = PhaseOf(d, in.Settings);
        in.FlatApplied = s.Image.FlatApplied;
        if (o.FromHeader) {
            // A captured picture's own phase keys, over the settings file's
            // and under the options.
            TPhaseInput fromFile = PhaseWithFileValues(in.Phase, header);
            if (d.MotorStart) {
                fromFile.MotorStart = *d.MotorStart;
                fromFile.MotorStartSigma = std::numeric_limits<double>::quiet_NaN(); // the file's was for its count
            }
            fromFile.StepsPerWorm = d.StepsPerWorm.value_or(fromFile.StepsPerWorm);
            fromFile.Hemisphere = d.Hemisphere.value_or(fromFile.Hemisphere);
            in.Phase = fromFile;
        }
        r = AnalysePicture(s.Image.Bitmap, s.Image.Linear, in);
        if (!r.Refused()) {
            NameTransfer(r, transfer);
            NameFlatOffset(r, FlatOffsetFromDark(s.Image));
            r.PictureName = std::filesystem::path(o.Image).filename().string();
            r.PictureModified = FileModifiedUtc(o.Image);
            r.ExposureStart = header.ExposureStart;
        }
    } catch (const std::exception& e) {
        static_cast<TRefusal&>(r) = RefusalOf(e);
        if (r.Reason == TRefusalReason::OutOfMemory)
            r.Message = "Not enough memory for the drive analysis of " + o.Image;
    }
    for (const std::string* warning : {&loaded.Warning, &loaded.UnreadSettings, &loaded.UnusableHeader, &dropped})
        if (!warning->empty())
            Put(err, *warning + "\n");
    if (r.Refused()) {
        Put(err, r.Message + "\n");
        return 1;
    }
    if (d.Pec && r.Pec.empty()) {
        Put(err, "No PEC table without a worm period: " +
                     (r.WormNote.empty() ? std::string("the harmonics could not be fitted") : r.WormNote) + "\n");
        return 1;
    }

    // The mount's PEC files: each refused as a whole, before anything is written.
    TPecFileOptions pecOptions;
    pecOptions.Invert = d.Invert;
    pecOptions.CelestronWormArcsec = d.CelestronWormArcsec.value_or(7200);
    pecOptions.Version = ProgramVersion;
    pecOptions.PictureName = std::filesystem::path(o.Image).filename().string();
    std::vector<std::pair<std::string, std::string>> pecFiles;
    std::string pecNotes;
    const double mountSpeed = r.Setup.MountSpeed;
    for (const auto& [target, make] :
         {std::pair{&d.Eqmod, +[](const TDriveResult& x, const TPecFileOptions& po, double) {
              return EqmodPecFile(x, x.PhaseInput, po);
          }},
          std::pair{&d.Celestron, +[](const TDriveResult& x, const TPecFileOptions& po, double speed) {
              return CelestronPecFile(x, x.PhaseInput, speed, po);
          }}}) {
        if (!*target)
            continue;
        const TPecFile f = make(r, pecOptions, mountSpeed);
        if (f.Refused()) {
            Put(err, f.Message + "\n");
            return 1;
        }
        pecFiles.emplace_back(**target, f.Text);
        if (!f.Warning.empty())
            pecNotes += "Note: " + f.Warning + "\n";
    }
    if (d.Invert && !pecFiles.empty())
        pecNotes += "Note: the PEC files hold the correction inverted (--invert)\n";

    // Said on standard error already; the JSON keeps it with the result.
    const std::string summaryText = Summary(r, o.Channel, sep) + pecNotes;
    if (!dropped.empty())
        r.Notes.insert(r.Notes.begin(), dropped);

    std::vector<std::pair<std::string, std::string>> outputs;
    const std::pair<const std::optional<std::string>*, std::string (*)(const TDriveResult&)> texts[] = {
        {&d.Json, DriveJson}, {&o.Csv, DriveCsv}, {&d.Pec, PecTableText}};
    for (const auto& [target, text] : texts)
        if (*target)
            outputs.emplace_back(**target, text(r));
    outputs.insert(outputs.end(), pecFiles.begin(), pecFiles.end());
    return WriteOutputs(outputs, summaryText, out, err);
}

} // namespace vinsk::cli
