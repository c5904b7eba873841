#include "tools/cli/CliGuideLog.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/NumText.h"
#include "guidelog/GuideLog.h"
#include "guidelog/GuideLogReport.h"

namespace vinsk::cli {

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
        if (list.Refused()) {
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
    if (series.Refused()) {
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
    const TDriveResult r = AnalyseGuideSeries(series, settings);
    if (r.Refused()) {
        std::fprintf(err, "%s\n", r.Message.c_str());
        return 1;
    }
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
    if (d.Json)
        outputs.emplace_back(*d.Json, GuideLogJson(r, series, name));
    if (o.Csv)
        outputs.emplace_back(*o.Csv, DriveCsv(r));
    if (d.Pec)
        outputs.emplace_back(*d.Pec, PecTableText(r));
    return WriteOutputs(outputs, summary, out, err);
}

} // namespace vinsk::cli
