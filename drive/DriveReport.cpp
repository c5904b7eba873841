// The drive analysis as text: JSON, the PEC table and CSV. Numbers go
// through common/NumText, which never looks at the locale, so the decimal
// separator is always a point.
#include <cmath>
#include <cstdio>
#include <string>

#include "common/NumText.h"
#include "drive/DriveAnalysis.h"
#include "drive/PecFiles.h"
#include "drive/Runs.h"

namespace vinsk {

namespace {

// Shortest text with up to `digits` significant digits; null for NaN and infinities.
std::string Num(double v, int digits = 10)
{
    if (!std::isfinite(v))
        return "null";
    if (v == 0)
        return "0"; // also for -0
    return GeneralText(v, digits);
}

// The length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (i + n > s.size() || at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

// JSON readers refuse text that is not UTF-8: a byte that is not becomes
// U+FFFD.
std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        const std::size_t n = Utf8Length(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.append(s, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string Hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

const char* ChannelKey(TChannel c)
{
    switch (c) {
    case ChannelR: return "red";
    case ChannelG: return "green";
    case ChannelB: return "blue";
    case ChannelAvg: break;
    }
    return "average";
}

void Array(std::string& out, const std::vector<double>& v)
{
    out += '[';
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i)
            out += ',';
        out += Num(v[i]);
    }
    out += ']';
}

} // namespace

std::string JsonNumber(double v) { return Num(v); }
std::string JsonString(const std::string& s) { return Quote(s); }

bool IsUtf8(const std::string& s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8Length(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string DriveJson(const TDriveResult& r)
{
    std::string o = "{\n";
    auto key = [&](const char* k, const std::string& value, bool last = false) {
        o += "  \"";
        o += k;
        o += "\": ";
        o += value;
        o += last ? "\n" : ",\n";
    };
    if (r.Refused()) {
        key("refused", "true");
        key("message", Quote(r.Message), true);
        return o + "}\n";
    }
    key("exposure_s", Num(r.Exposure));
    key("arcsec_per_step", Num(r.ArcsecPerStep));
    const TExperiment& e = r.Setup;
    // In the Setup fields' units; stored to double as the fields' values are.
    auto field = [](double v, long double factor) { return Num(static_cast<double>(v / factor)); };
    key("setup", "{\"star_distance_m\": " + Num(e.StarDistance) + ", \"pixel_width_um\": " +
                     field(e.PixelWidth, 1e-6L) + ", \"pixel_height_um\": " + field(e.PixelHeight, 1e-6L) +
                     ", \"focal_length_mm\": " + field(e.FocalLength, 1e-3L) + ", \"exposure_s\": " +
                     Num(e.ExposureTime) + ", \"mount_speed_arcsec_per_s\": " + Num(e.MountSpeed) + "}");
    key("samples", std::to_string(r.Flux.size()));
    key("trimmed_s", Num(r.TrimmedSeconds));
    key("record_s", Num(r.Record));
    key("fwhm_px", Num(r.Fwhm));
    key("half_width_px", Num(r.HalfWidth));
    key("saturated_fraction", Num(r.SaturatedFraction));
    key("outside_fraction", Num(r.OutsideFraction));
    key("detrend", Quote(DetrendName(r.DetrendUsed)));
    key("drift_arcsec_per_s", Num(r.Drift));
    key("drift_percent", Num(r.DriftPercent));
    key("drift_sigma_arcsec_per_s", Num(r.DriftSigma));
    const TDriveStats& s = r.Stats;
    key("stats", "{\"peak_to_peak\": " + Num(s.PeakToPeak) + ", \"rms\": " + Num(s.Rms) +
                     ", \"max_plus\": " + Num(s.MaxPlus) + ", \"max_minus\": " + Num(s.MaxMinus) +
                     ", \"max_rate\": " + Num(s.MaxRate) + ", \"tolerance\": " + Num(s.Tolerance) +
                     ", \"longest_exposure_s\": " + Num(s.LongestExposure) + ", \"smooth_window_s\": " +
                     Num(s.SmoothWindow) + ", \"rate_window_s\": " + Num(s.RateWindow) +
                     ", \"peak_to_peak_sigma\": " + Num(s.PeakToPeakSigma) + "}");
    key("worm_period_s", r.WormSource == TWormSource::None ? "null" : Num(r.WormPeriod));
    key("worm_period_source", Quote(WormSourceName(r.WormSource)));
    key("worm_period_note", r.WormNote.empty() ? "null" : Quote(r.WormNote));
    std::string peaks = "[";
    for (std::size_t i = 0; i < r.Peaks.size(); ++i) {
        const TDrivePeak& p = r.Peaks[i];
        peaks += i ? ",\n    " : "\n    ";
        peaks += "{\"period_s\": " + Num(p.Period) + ", \"amplitude\": " + Num(p.Amplitude) +
                 ", \"amplitude_sigma\": " + Num(p.AmplitudeSigma) + ", \"peak_to_peak\": " + Num(p.PeakToPeak) +
                 ", \"harmonic\": " + (p.Label.empty() ? std::string("null") : Quote(p.Label)) + "}";
    }
    peaks += r.Peaks.empty() ? "]" : "\n  ]";
    key("peaks", peaks);
    key("cycles", "{\"count\": " + std::to_string(r.CycleCount) + ", \"spread_rms\": " + Num(r.CycleSpreadRms) + "}");
    // The coefficients run from the first analysed step, t0_s.
    std::string pec = "{\"harmonics\": " + (r.Pec.empty() ? std::string("null") : std::to_string(r.PecHarmonics)) +
                      ", \"residual_rms\": " + Num(r.PecResidualRms);
    if (r.PecCos.empty() || r.T.empty()) {
        pec += ", \"cos\": null, \"sin\": null, \"t0_s\": null}";
    } else {
        pec += ", \"cos\": ";
        Array(pec, r.PecCos);
        pec += ", \"sin\": ";
        Array(pec, r.PecSin);
        pec += ", \"t0_s\": " + Num(r.T.front()) + "}";
    }
    key("pec", pec);
    key("phase", PhaseJson(r.PhaseInput));
    std::string notes = "[";
    for (std::size_t i = 0; i < r.Notes.size(); ++i)
        notes += (i ? ", " : "") + Quote(r.Notes[i]);
    key("notes", notes + "]");
    key("crests", r.Crests > 0 ? std::to_string(r.Crests) : "null");
    key("ring_radius_px", Num(r.RingRadius));
    std::string series = "{\"t\": ";
    Array(series, r.T);
    series += ", \"pe\": ";
    Array(series, r.Error);
    auto optional = [&](const char* name, const std::vector<double>& v) {
        series += name;
        if (v.empty())
            series += "null";
        else
            Array(series, v);
    };
    optional(", \"pec_fit\": ", r.PecFit);
    optional(", \"residual\": ", r.PecResidual);
    optional(", \"drift\": ", r.RemovedDrift);
    key("series", series + "}");
    const std::optional<TTransfer>& t = r.Transfer;
    key("transfer",
        t ? "{\"curve\": " + Quote(ToneCurveName(t->Curve)) + ", \"gamma\": " + Num(t->Gamma) +
                ", \"source\": " + Quote(t->Source) + "}"
          : std::string("null"));
    key("channel", r.Channel ? Quote(ChannelKey(*r.Channel)) : std::string("null"));
    // A name that is not UTF-8 is kept byte for byte beside its readable form.
    key("picture", "{\"name\": " + Quote(r.PictureName) + ", \"name_hex\": " +
                       (IsUtf8(r.PictureName) ? std::string("null") : Quote(Hex(r.PictureName))) +
                       ", \"modified\": " + (r.PictureModified.empty() ? "null" : Quote(r.PictureModified)) +
                       ", \"exposure_start\": " + (r.ExposureStart.empty() ? "null" : Quote(r.ExposureStart)) + "}");
    const std::vector<double> cycle = MeanCycle360(r);
    std::string mean = cycle.empty() ? "null" : "";
    if (!cycle.empty())
        Array(mean, cycle);
    key("mean_cycle", mean);
    key("repaired_steps", r.Repaired ? std::to_string(r.Repaired->size()) : "null");
    std::string repaired = "null";
    if (r.Repaired) {
        repaired.clear();
        Array(repaired, *r.Repaired);
    }
    key("repaired", repaired);
    key("format_version", std::to_string(RunFormatVersion), true);
    return o + "}\n";
}

std::string PecTableText(const TDriveResult& r)
{
    if (r.Refused() || r.Pec.empty())
        return {};
    std::string o = "# Worm period " + FixedText(r.WormPeriod, 3) + " s (" + WormSourceName(r.WormSource) + "), " +
                    std::to_string(r.PecHarmonics) + " harmonics, residual RMS " + FixedText(r.PecResidualRms, 3) +
                    " arcsec\n";
    o += std::isfinite(r.PhaseInput.WormPhaseDeg) ? "# phase from the PEC index [s] error [arcsec] correction rate [arcsec/s]\n"
                                             : "# phase [s] error [arcsec] correction rate [arcsec/s]\n";
    for (const TPecRow& row : r.Pec)
        o += FixedText(row.Phase, 0) + " " + FixedText(row.Error, 4) + " " + FixedText(row.Rate, 5) + "\n";
    return o;
}

std::string DriveCsv(const TDriveResult& r)
{
    std::string o = "t [s],drift-free error [arcsec]\n";
    for (std::size_t i = 0; i < r.T.size() && i < r.Error.size(); ++i)
        o += FixedText(r.T[i], 4) + "," + FixedText(r.Error[i], 4) + "\n";
    return o;
}

} // namespace vinsk
