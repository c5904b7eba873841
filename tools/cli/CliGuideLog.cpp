#include "tools/cli/CliGuideLog.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/NumText.h"
#include "drive/DrivePositions.h"
#include "guidelog/GuideLog.h"

namespace vinsk::cli {

namespace {

constexpr double SiderealRate = 15.041; // arc seconds per second, for the drift's percentage

std::string Quote(const std::string& s)
{
    std::string o = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\')
            o += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            continue; // no control characters come from a log's header
        o += c;
    }
    return o + "\"";
}

std::string Number(double v) { return std::isfinite(v) ? FloatText(v) : std::string("null"); }

// The log's own keys, first in the report.
std::string LogKeys(const TGuideSeries& s, const std::string& name)
{
    return "  \"source\": \"guide_log\",\n  \"guide_log\": " + Quote(name) + ",\n  \"section\": " +
           std::to_string(s.Section.Number) + ",\n  \"pixel_scale\": " + (s.InPixels ? "null" : Number(s.Section.PixelScale)) +
           ",\n  \"units\": " + (s.InPixels ? "\"px\"" : "\"arcsec\"") + ",\n  \"dec_deg\": " +
           Number(s.Section.DecDeg) + ",\n  \"mount_driver\": " +
           (s.Section.MountDriver.empty() ? std::string("null") : Quote(s.Section.MountDriver)) +
           ",\n  \"excluded\": {\"lost\": " + std::to_string(s.Excluded.Lost) + ", \"settling\": " +
           std::to_string(s.Excluded.Settling) + ", \"other_device\": " + std::to_string(s.Excluded.OtherDevice) +
           "},\n";
}

} // namespace

int RunGuideLog(const TCliOptions& o, const TDriveOptions& d, char sep, std::FILE* out, std::FILE* err)
{
    const std::string path = *o.GuideLog;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(err, "Cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    if (o.ListSections) {
        const TGuideSectionList list = ListGuideSections(in);
        if (list.Refused) {
            std::fprintf(err, "%s: %s\n", path.c_str(), list.Message.c_str());
            return 1;
        }
        std::string text;
        for (const TGuideSection& s : list.Sections)
            text += GuideSectionLine(s, static_cast<int>(list.Sections.size())) +
                    (s.Begins.empty() ? std::string() : ", begins " + s.Begins) + "\n";
        return WriteOutputs({}, text, out, err);
    }
    TGuideLogOptions options;
    options.Section = o.Section;
    if (o.PixelScale)
        options.PixelScale = *o.PixelScale;
    if (o.DecDeg)
        options.DecDeg = *o.DecDeg;
    const TGuideSeries series = ReadGuideLog(in, options);
    if (series.Refused) {
        std::fprintf(err, "%s: %s\n", path.c_str(), series.Message.c_str());
        return 1;
    }
    if (o.Section == 0)
        std::fprintf(err, "%s\n", GuideSectionLine(series.Section, series.SectionCount).c_str());

    TDriveSettings settings;
    if (o.Settings) {
        TExperiment unused;
        TCliResult loaded;
        try {
            settings = LoadSettings(*o.Settings, unused, sep, loaded);
        } catch (const std::exception& e) {
            std::fprintf(err, "%s\n", e.what());
            return 1;
        }
        for (const std::string* warning : {&loaded.Warning, &loaded.UnreadSettings})
            if (!warning->empty())
                std::fprintf(err, "%s\n", warning->c_str());
    }
    settings = DriveSettingsOf(d, settings);
    TDriveResult r = AnalysePositions(series.Time, series.PE, settings, series.InPixels ? NAN : SiderealRate);
    if (r.Refused) {
        std::fprintf(err, "%s\n", r.Message.c_str());
        return 1;
    }
    r.Notes.insert(r.Notes.begin(), series.Notes.begin(), series.Notes.end());
    if (d.Pec && r.Pec.empty()) {
        std::fprintf(err, "No PEC table without a worm period: %s\n",
                     r.WormNote.empty() ? "the harmonics could not be fitted" : r.WormNote.c_str());
        return 1;
    }

    const std::string name = std::filesystem::path(path).filename().string();
    std::string summary = DriveSummary(r, ChannelAvg, sep);
    summary = "Guide log " + name + ", section " + std::to_string(series.Section.Number) + ": " +
              std::to_string(series.Time.size()) + " frames over " + FixedText(r.Record, 1, sep) + " s" +
              (series.InPixels ? " (in guide-camera pixels)" : "") + "\n" + summary.substr(summary.find('\n') + 1);
    std::vector<std::pair<std::string, std::string>> outputs;
    if (d.Json) {
        std::string json = DriveJson(r);
        // No picture: its Setup values and steps say nothing here.
        for (const char* key : {"  \"setup\": ", "  \"samples\": "}) {
            const std::size_t at = json.find(key);
            if (at != std::string::npos) {
                const std::size_t value = at + std::strlen(key);
                json.replace(value, json.find(",\n", value) - value, "null");
            }
        }
        json.insert(2, LogKeys(series, name));
        outputs.emplace_back(*d.Json, json);
    }
    if (o.Csv)
        outputs.emplace_back(*o.Csv, DriveCsv(r));
    if (d.Pec)
        outputs.emplace_back(*d.Pec, PecTableText(r));
    return WriteOutputs(outputs, summary, out, err);
}

} // namespace vinsk::cli
