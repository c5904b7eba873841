#include "tools/cli/CliRun.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "common/AtomicFile.h"
#include "common/NumText.h"
#include "figures/CsvExport.h"
#include "image/Calibration.h"
#include "image/FrameCalibration.h"
#include "image/formats/Picture.h"
#include "image/formats/PictureReads.h"
#include "setup/Optics.h"
#include "setup/SettingsFile.h"

namespace vinsk::cli {

namespace {

// The window's side of a run: three markers placed, the choices fixed by the
// options, refusals remembered instead of shown in a box.
class TCliHost : public TPlotHost {
public:
    explicit TCliHost(const TCliOptions& o) : FOptions(o)
    {
        FChoices.Figure = o.Figure;
        FChoices.Channel = o.Channel;
        FChoices.AverageLine = o.AverageWidth.has_value();
        FChoices.AverageWidth = o.AverageWidth.value_or(2);
        FChoices.LogScale = false;
    }

    int LayerCount() const override { return 3; }
    TCheckPointEdits ReadCheckPointEdits() const override { return FOptions.CheckPoints; }
    TGraphChoices ReadChoices() const override { return FChoices; }
    void ShowError(const std::string& message) override { Refusal = message; }
    void ActivateGraphTab() override {}
    void ClearLogBox() override { FChoices.LogScale = false; }

    std::optional<std::string> Refusal;

private:
    const TCliOptions& FOptions;
    TGraphChoices FChoices;
};

// What the Setup fields show, one decimal each.
using TShownFields = std::array<std::string, 9>;

TShownFields ShownFields(const TExperiment& e, char sep)
{
    const auto& fields = SetupFields();
    TShownFields shown;
    for (std::size_t i = 0; i < fields.size(); ++i)
        shown[i] = FixedText1(static_cast<long double>(e.*fields[i].Param) / fields[i].Factor, sep);
    return shown;
}

// Values through the Setup fields: each is shown with one decimal, and only
// a text that differs from the field's current one sets the parameter from
// that text.
template <class Values>
void SetFields(const Values& values, TExperiment& e, TShownFields& shown, char sep)
{
    const auto& fields = SetupFields();
    for (const TSettingsValue& v : values) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (std::string(fields[i].Name) != v.FieldName)
                continue;
            const std::string text = FixedText1(v.Value, sep);
            if (text != shown[i]) {
                shown[i] = text;
                SetParamFromFieldText(e, static_cast<int>(i), text, sep);
            }
        }
    }
}

} // namespace

// The settings file through the Setup fields.
TDriveSettings LoadSettings(const std::string& path, TExperiment& e, char sep, TCliResult& r)
{
    // The window lets a typed name that does not exist load nothing; on the
    // command line that is a mistyped path, not a wish for initial values.
    // Checked without opening, which would wait for ever on a pipe; the
    // settings reader refuses what is not a regular file.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw std::runtime_error("Cannot open file " + path);
    TShownFields shown = ShownFields(e, sep);
    const TSettingsLoad load = LoadSettingsFile(path, e, TDriveSettings{}, sep);
    if (load.VersionMismatch)
        r.Warning = SettingsVersionWarning;
    r.UnreadSettings = UnreadSettingsText(load);
    SetFields(load.Values, e, shown, sep);
    return load.Drive;
}

namespace {

// Loads a frame and applies it, as the dark and flat commands do after
// their refusals.
template <class Refusal, class Apply>
void Calibrate(TVinskState& s, TPictureReads& files, std::size_t file, const char* frameName, Refusal refusal,
               Apply apply)
{
    if (auto message = refusal(s.Image))
        throw ECalibrationError(*message);
    TBitmap32 frame;
    TPictureExtras extras;
    files.Take(file, frame, extras, HeldForFrame(s.Image, frameName));
    // The frames read ahead wait beside this one's application (those still
    // being read counted at their whole share, unless waiting for them tells
    // less); when they would take it past the budget they are read again at
    // their turn.
    const std::uint64_t applying = FrameApplyBytes(s.Image, frame, extras.Linear);
    if (applying + files.HeldBytes(false) > MemoryBudget && applying + files.HeldBytes(true) > MemoryBudget)
        files.Release();
    apply(s.Image, frame, extras.Linear, s.Status);
}

} // namespace

void LoadPictures(const TCliOptions& o, TVinskState& s, TFileSetupValues* header, const TTransferChoice& choice,
                  TTransfer* transfer)
{
    // All the files are decoded at once when they fit the budget together;
    // they are taken, refused and applied in the order of the window's
    // commands.
    std::vector<TPictureRead> reads{{o.Image, choice, false}};
    for (const std::optional<std::string>* frame : {&o.Dark, &o.FlatDark, &o.Flat})
        if (*frame)
            reads.push_back({**frame, choice, true});
    TPictureReads files(std::move(reads));
    TPictureExtras extras;
    files.Take(0, s.Image.Bitmap, extras, {});
    s.Image.Linear.Swap(extras.Linear);
    if (header != nullptr)
        *header = extras.Setup;
    if (transfer != nullptr)
        *transfer = extras.Transfer;
    std::size_t next = 1;
    if (o.Dark)
        Calibrate(s, files, next++, "dark", DarkRefusal, ApplyDarkFrame);
    if (o.FlatDark)
        Calibrate(s, files, next++, "flat dark", FlatDarkRefusal, ApplyFlatDarkFrame);
    if (o.Flat)
        Calibrate(s, files, next++, "flat", FlatRefusal, ApplyFlatFrame);
}

namespace {

TFileSetupValues GivenValues(const TCliOptions& o)
{
    TFileSetupValues given;
    given.ExposureSeconds = o.Exposure;
    given.PixelWidthUm = o.PixelWidth;
    given.PixelHeightUm = o.PixelHeight;
    given.FocalMm = o.Focal;
    given.ApertureMm = o.Aperture;
    return given;
}

} // namespace

std::string TakeSetupValues(const TCliOptions& o, const TFileSetupValues& header, TExperiment& e, char sep)
{
    TShownFields shown = ShownFields(e, sep);
    if (o.FromHeader)
        SetFields(FileValuesForFields(header), e, shown, sep);
    SetFields(FileValuesForFields(GivenValues(o)), e, shown, sep);
    // Named with the value that stays, whatever set it.
    return o.FromHeader ? UnusableFileValuesText(header, e, sep) : std::string();
}

TExperiment ExactSetup(const TCliOptions& o, const TFileSetupValues& header, char sep)
{
    TExperiment e;
    if (o.Settings) {
        const TSettingsLoad load = LoadSettingsFile(*o.Settings, e, sep);
        SetExactParams(e, load.Values.data(), load.Values.size());
    }
    if (o.FromHeader)
        SetExactParams(e, FileValuesForFields(header));
    SetExactParams(e, FileValuesForFields(GivenValues(o)));
    return e;
}

TCliResult RunAnalysis(const TCliOptions& o, char sep)
{
    TCliResult r;
    // What the run is doing, for a message that says what ran out of memory.
    std::string doing = "loading the pictures";
    try {
        TVinskState s;
        s.DecimalSeparator = sep;
        TFileSetupValues header;
        LoadPictures(o, s, &header);
        r.LinearDropped = s.Status.Linear;
        if (o.Settings) {
            doing = "reading the settings file " + *o.Settings;
            LoadSettings(*o.Settings, s.Experiment, sep, r);
        }
        r.UnusableHeader = TakeSetupValues(o, header, s.Experiment, sep);
        r.Experiment = s.Experiment;

        doing = "the measurement along the trail";
        TCliHost host(o);
        const TPlotResult plot = RunPlot(s, host);
        if (host.Refusal) {
            r.ExitCode = 1;
            r.Error = *host.Refusal;
            return r;
        }
        r.Chart = s.Chart;
        r.Statistics = {s.Statistics.Label40, s.Statistics.Label42, s.Statistics.Label43};
        r.MeasurementError = plot.MeasurementError;
    } catch (const std::bad_alloc&) {
        r.ExitCode = 1;
        r.Error = "Not enough memory for " + doing;
    } catch (const std::exception& e) {
        r.ExitCode = 1;
        r.Error = e.what();
    }
    return r;
}

bool Put(std::FILE* f, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

namespace {

const char* StreamName(std::FILE* f, std::FILE* out) { return f == out ? "standard output" : "standard error"; }

} // namespace

std::string FailureText(const std::exception& e)
{
    const auto* write = dynamic_cast<const EFileWriteError*>(&e);
    return write != nullptr ? write->WithCause() : e.what();
}

int WriteResult(const TCliOptions& o, const TCliResult& r, char decimalSep, std::FILE* out, std::FILE* err)
{
    for (const std::string* warning : {&r.Warning, &r.UnreadSettings, &r.UnusableHeader, &r.LinearDropped})
        if (!warning->empty())
            Put(err, *warning + "\n");
    if (r.ExitCode != 0) {
        Put(err, r.Error + "\n");
        return r.ExitCode;
    }
    std::FILE* text = out;
    if (o.Csv && *o.Csv == "-") {
        if (!Put(out, ChartCsvText(r.Chart, decimalSep))) {
            Put(err, std::string("Cannot write to standard output: ") + std::strerror(errno) + "\n");
            return 1;
        }
        text = err;
    } else if (o.Csv) {
        try {
            SaveChartCsv(r.Chart, *o.Csv, decimalSep);
        } catch (const std::exception& e) {
            Put(err, FailureText(e) + "\n");
            return 1;
        }
    }
    std::string lines;
    for (const std::string& line : r.Statistics)
        lines += line + "\n";
    if (r.MeasurementError)
        lines += *r.MeasurementError + "\n";
    if (!Put(text, lines)) {
        const int e = errno;
        if (text != err)
            Put(err, std::string("Cannot write to ") + StreamName(text, out) + ": " + std::strerror(e) + "\n");
        return 1;
    }
    return 0;
}

std::optional<std::string> OutputClash(const TCliOptions& o, const char* outputOption,
                                       const std::optional<std::string>& output)
{
    if (!output || *output == "-")
        return std::nullopt;
    struct stat csv {};
    if (::stat(output->c_str(), &csv) != 0)
        return std::nullopt; // a new file is no other file
    const std::pair<const char*, const std::optional<std::string>*> inputs[] = {
        {"--image", nullptr}, {"--dark", &o.Dark}, {"--flat", &o.Flat}, {"--settings", &o.Settings}};
    for (const auto& [option, value] : inputs) {
        const std::string& path = value ? (value->has_value() ? **value : std::string()) : o.Image;
        struct stat in {};
        if (path.empty() || ::stat(path.c_str(), &in) != 0)
            continue;
        if (in.st_dev == csv.st_dev && in.st_ino == csv.st_ino)
            return std::string(outputOption) + " names the same file as " + option + ", which it would overwrite";
    }
    return std::nullopt;
}

} // namespace vinsk::cli
