#include "tools/cli/CliRun.h"

#include <exception>
#include <fstream>
#include <stdexcept>

#include "common/NumText.h"
#include "figures/CsvExport.h"
#include "image/Calibration.h"
#include "image/formats/Picture.h"
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

} // namespace

// The settings file through the Setup fields: each value is shown with one
// decimal, and only a text that differs from the field's current one sets
// the parameter from that text.
void LoadSettings(const std::string& path, TExperiment& e, char sep, TCliResult& r)
{
    // The window lets a typed name that does not exist load nothing; on the
    // command line that is a mistyped path, not a wish for initial values.
    if (!std::ifstream(path))
        throw std::runtime_error("Cannot open file " + path);
    const auto& fields = SetupFields();
    std::array<std::string, 9> shown;
    for (std::size_t i = 0; i < fields.size(); ++i)
        shown[i] = FixedText1(static_cast<long double>(e.*fields[i].Param) / fields[i].Factor, sep);

    const TSettingsLoad load = LoadSettingsFile(path, e, sep);
    if (load.VersionMismatch)
        r.Warning = SettingsVersionWarning;
    r.UnreadSettings = UnreadSettingsText(load);
    for (const TSettingsValue& v : load.Values) {
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

namespace {

// Loads a frame and applies it, as the dark and flat commands do after
// their refusals.
template <class Refusal, class Apply>
void Calibrate(TVinskState& s, const std::string& path, Refusal refusal, Apply apply)
{
    if (auto message = refusal(s.Image))
        throw ECalibrationError(*message);
    TBitmap32 frame;
    LoadPicture(path, frame);
    apply(s.Image, frame, s.Status);
}

} // namespace

void LoadPictures(const TCliOptions& o, TVinskState& s)
{
    LoadPicture(o.Image, s.Image.Bitmap);
    if (o.Dark)
        Calibrate(s, *o.Dark, DarkRefusal, ApplyDark);
    if (o.Flat)
        Calibrate(s, *o.Flat, FlatRefusal, ApplyFlat);
}

TCliResult RunAnalysis(const TCliOptions& o, char sep)
{
    TCliResult r;
    try {
        TVinskState s;
        s.DecimalSeparator = sep;
        LoadPictures(o, s);
        if (o.Settings)
            LoadSettings(*o.Settings, s.Experiment, sep, r);

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
    } catch (const std::exception& e) {
        r.ExitCode = 1;
        r.Error = e.what();
    }
    return r;
}

int WriteResult(const TCliOptions& o, const TCliResult& r, char decimalSep, std::FILE* out, std::FILE* err)
{
    for (const std::string* warning : {&r.Warning, &r.UnreadSettings})
        if (!warning->empty())
            std::fprintf(err, "%s\n", warning->c_str());
    if (r.ExitCode != 0) {
        std::fprintf(err, "%s\n", r.Error.c_str());
        return r.ExitCode;
    }
    std::FILE* text = out;
    if (o.Csv && *o.Csv == "-") {
        const std::string csv = ChartCsvText(r.Chart, decimalSep);
        std::fwrite(csv.data(), 1, csv.size(), out);
        std::fflush(out);
        text = err;
    } else if (o.Csv) {
        try {
            SaveChartCsv(r.Chart, *o.Csv, decimalSep);
        } catch (const std::exception& e) {
            std::fprintf(err, "%s\n", e.what());
            return 1;
        }
    }
    for (const std::string& line : r.Statistics)
        std::fprintf(text, "%s\n", line.c_str());
    if (r.MeasurementError)
        std::fprintf(text, "%s\n", r.MeasurementError->c_str());
    return 0;
}

} // namespace vinsk::cli
