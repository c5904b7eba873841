#include "guidelog/GuideLogReport.h"

#include <cmath>
#include <cstring>

#include "common/NumText.h"
#include "drive/DrivePositions.h"

namespace vinsk {

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

TDriveResult AnalyseGuideSeries(const TGuideSeries& series, const TDriveSettings& settings)
{
    TDriveResult r = AnalysePositions(series.Time, series.PE, settings, series.InPixels ? NAN : SiderealRate);
    if (!r.Refused())
        r.Notes.insert(r.Notes.begin(), series.Notes.begin(), series.Notes.end());
    return r;
}

std::string GuideLogJson(const TDriveResult& result, const TGuideSeries& series, const std::string& name)
{
    std::string json = DriveJson(result);
    // No picture: its Setup values and steps say nothing here.
    for (const char* key : {"  \"setup\": ", "  \"samples\": "}) {
        const std::size_t at = json.find(key);
        if (at != std::string::npos) {
            const std::size_t value = at + std::strlen(key);
            json.replace(value, json.find(",\n", value) - value, "null");
        }
    }
    json.insert(2, LogKeys(series, name));
    return json;
}

} // namespace vinsk
