#include "setup/DriveSettings.h"

#include <cmath>
#include <optional>
#include <string>

#include "common/NumText.h"
#include "setup/ProfileText.h"

namespace vinsk {

namespace {

constexpr const char* Section = "Drive";
constexpr const char* KeyWormPeriod = "WormPeriod";
constexpr const char* KeyTolerance = "Tolerance";
constexpr const char* KeyDetrend = "Detrend";
constexpr const char* KeyHarmonics = "Harmonics";
constexpr const char* KeyHalfWidth = "HalfWidth";

std::optional<double> Number(const TProfileText& ini, const char* key, char decimalSep)
{
    const auto text = ini.Get(Section, key);
    return text ? DriveNumber(*text, decimalSep) : std::nullopt;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

bool ValidWormPeriod(double v) { return v >= 0 && v <= MaxDriveWormPeriod; }
bool ValidTolerance(double v) { return v > 0 && std::isfinite(v); }
bool ValidHarmonics(double v) { return v >= 1 && v <= MaxDriveHarmonics && v == std::floor(v); }
bool ValidHalfWidth(double v) { return v >= 0 && v <= MaxDriveHalfWidth; }

std::optional<double> DriveNumber(std::string_view text, char decimalSep)
{
    for (char sep : {decimalSep, '.', ','}) {
        long double v = 0;
        if (TryTextToFloat(text, sep, v)) {
            const double d = static_cast<double>(v);
            return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
        }
    }
    return std::nullopt;
}

bool DriveSettingsValid(const TDriveSettings& d)
{
    return ValidWormPeriod(d.WormPeriod) && ValidTolerance(d.Tolerance) && ValidHarmonics(d.Harmonics) &&
           ValidHalfWidth(d.HalfWidth);
}

bool ParseDetrend(std::string_view text, TDetrend& out)
{
    if (text == "none")
        out = TDetrend::None;
    else if (text == "line")
        out = TDetrend::Line;
    else if (text == "quadratic")
        out = TDetrend::Quadratic;
    else if (text == "harmonic")
        out = TDetrend::Harmonic;
    else
        return false;
    return true;
}

const char* DetrendName(TDetrend d)
{
    switch (d) {
    case TDetrend::None:
        return "none";
    case TDetrend::Line:
        return "line";
    case TDetrend::Quadratic:
        return "quadratic";
    case TDetrend::Harmonic:
        break;
    }
    return "harmonic";
}

void WriteDriveSection(TProfileText& ini, const TDriveSettings& d, char decimalSep)
{
    bool present = false;
    for (const char* key : {KeyWormPeriod, KeyTolerance, KeyDetrend, KeyHarmonics, KeyHalfWidth})
        present = present || ini.Get(Section, key).has_value();
    if (d == TDriveSettings{} && !present)
        return;
    ini.Set(Section, KeyWormPeriod, FloatText(d.WormPeriod, decimalSep));
    ini.Set(Section, KeyTolerance, FloatText(d.Tolerance, decimalSep));
    ini.Set(Section, KeyDetrend, DetrendName(d.Detrend));
    ini.Set(Section, KeyHarmonics, FloatText(d.Harmonics, decimalSep));
    ini.Set(Section, KeyHalfWidth, FloatText(d.HalfWidth, decimalSep));
}

TDriveSettings ReadDriveSection(const TProfileText& ini, const TDriveSettings& current, char decimalSep,
                                std::vector<std::pair<std::size_t, std::string>>* unread)
{
    TDriveSettings d = current;
    // A key that holds something that cannot be taken is named for the user.
    auto taken = [&](const char* key, bool ok) {
        const auto text = ini.Get(Section, key);
        if (unread && text && !text->empty() && !ok)
            unread->emplace_back(*ini.LineOf(Section, key), key);
    };
    const auto period = Number(ini, KeyWormPeriod, decimalSep);
    taken(KeyWormPeriod, period && ValidWormPeriod(*period));
    if (period && ValidWormPeriod(*period))
        d.WormPeriod = *period;
    const auto tolerance = Number(ini, KeyTolerance, decimalSep);
    taken(KeyTolerance, tolerance && ValidTolerance(*tolerance));
    if (tolerance && ValidTolerance(*tolerance))
        d.Tolerance = *tolerance;
    TDetrend detrend;
    const auto detrendText = ini.Get(Section, KeyDetrend);
    const bool detrendOk = detrendText && ParseDetrend(Lower(*detrendText), detrend);
    taken(KeyDetrend, detrendOk);
    if (detrendOk)
        d.Detrend = detrend;
    const auto harmonics = Number(ini, KeyHarmonics, decimalSep);
    taken(KeyHarmonics, harmonics && ValidHarmonics(*harmonics));
    if (harmonics && ValidHarmonics(*harmonics))
        d.Harmonics = static_cast<int>(*harmonics);
    const auto halfWidth = Number(ini, KeyHalfWidth, decimalSep);
    taken(KeyHalfWidth, halfWidth && ValidHalfWidth(*halfWidth));
    if (halfWidth && ValidHalfWidth(*halfWidth))
        d.HalfWidth = *halfWidth;
    return d;
}

} // namespace vinsk
