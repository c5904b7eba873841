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
constexpr const char* KeyStartSide = "StartSide";
constexpr const char* KeyStepsPerWorm = "StepsPerWorm";
constexpr const char* KeyHemisphere = "Hemisphere";
constexpr const char* KeyTransfer = "Transfer";

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
bool ValidStepsPerWorm(double v) { return v >= 1 && v <= 2147483647.0 && v == std::floor(v); }

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
           ValidHalfWidth(d.HalfWidth) && (d.StepsPerWorm == 0 || ValidStepsPerWorm(static_cast<double>(d.StepsPerWorm))) &&
           (d.Hemisphere == 1 || d.Hemisphere == -1);
}

bool ParseStartSide(std::string_view text, TStartSide& out)
{
    for (TStartSide s : {TStartSide::Left, TStartSide::Right, TStartSide::Top, TStartSide::Bottom})
        if (text == StartSideName(s)) {
            out = s;
            return true;
        }
    return false;
}

const char* StartSideName(TStartSide s)
{
    switch (s) {
    case TStartSide::Left: return "left";
    case TStartSide::Right: return "right";
    case TStartSide::Top: return "top";
    case TStartSide::Bottom: return "bottom";
    case TStartSide::Auto: break;
    }
    return "auto";
}

bool ParseHemisphere(std::string_view text, int& out)
{
    if (text == "north")
        out = 1;
    else if (text == "south")
        out = -1;
    else
        return false;
    return true;
}

bool ParseTransfer(std::string_view text, char decimalSep, TTransferChoice& out)
{
    TTransferChoice t;
    if (text == "auto")
        t.Kind = TTransferKind::Auto;
    else if (text == "linear")
        t.Kind = TTransferKind::Linear;
    else if (text == "srgb")
        t.Kind = TTransferKind::Srgb;
    else if (text.substr(0, 6) == "gamma:") {
        const auto g = DriveNumber(text.substr(6), decimalSep);
        if (!g || !(*g > 0 && *g <= 10))
            return false;
        t.Kind = TTransferKind::Gamma;
        t.Gamma = *g;
    } else
        return false;
    out = t;
    return true;
}

std::string TransferName(const TTransferChoice& t, char decimalSep)
{
    switch (t.Kind) {
    case TTransferKind::Linear:
        return "linear";
    case TTransferKind::Srgb:
        return "srgb";
    case TTransferKind::Gamma:
        return "gamma:" + FloatText(t.Gamma, decimalSep);
    case TTransferKind::Auto:
        break;
    }
    return "auto";
}

const char* HemisphereName(int h) { return h < 0 ? "south" : "north"; }

TStartSide StartSideOf(double startX, double startY, double stopX, double stopY)
{
    const double dx = startX - stopX, dy = startY - stopY;
    if (dx == 0 && dy == 0)
        return TStartSide::Auto;
    if (std::fabs(dx) > std::fabs(dy))
        return dx < 0 ? TStartSide::Left : TStartSide::Right;
    return dy < 0 ? TStartSide::Top : TStartSide::Bottom;
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
    for (const char* key : {KeyWormPeriod, KeyTolerance, KeyDetrend, KeyHarmonics, KeyHalfWidth, KeyStartSide,
                            KeyStepsPerWorm, KeyHemisphere, KeyTransfer})
        present = present || ini.Get(Section, key).has_value();
    if (d == TDriveSettings{} && !present)
        return;
    ini.Set(Section, KeyWormPeriod, FloatText(d.WormPeriod, decimalSep));
    ini.Set(Section, KeyTolerance, FloatText(d.Tolerance, decimalSep));
    ini.Set(Section, KeyDetrend, DetrendName(d.Detrend));
    ini.Set(Section, KeyHarmonics, FloatText(d.Harmonics, decimalSep));
    ini.Set(Section, KeyHalfWidth, FloatText(d.HalfWidth, decimalSep));
    // The mount's keys only once they say something, so that files written
    // before them stay as they were.
    if (d.StartSide != TStartSide::Auto)
        ini.Set(Section, KeyStartSide, StartSideName(d.StartSide));
    if (d.StepsPerWorm > 0 || ini.Get(Section, KeyStepsPerWorm))
        ini.Set(Section, KeyStepsPerWorm, std::to_string(d.StepsPerWorm));
    if (d.Hemisphere < 0 || ini.Get(Section, KeyHemisphere))
        ini.Set(Section, KeyHemisphere, HemisphereName(d.Hemisphere));
    if (d.Transfer.Kind != TTransferKind::Auto || ini.Get(Section, KeyTransfer))
        ini.Set(Section, KeyTransfer, TransferName(d.Transfer, decimalSep));
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
    TStartSide side;
    const auto sideText = ini.Get(Section, KeyStartSide);
    const bool sideOk = sideText && ParseStartSide(Lower(*sideText), side);
    taken(KeyStartSide, sideOk);
    if (sideOk)
        d.StartSide = side;
    const auto steps = Number(ini, KeyStepsPerWorm, decimalSep);
    const bool stepsOk = steps && (*steps == 0 || ValidStepsPerWorm(*steps));
    taken(KeyStepsPerWorm, stepsOk);
    if (stepsOk)
        d.StepsPerWorm = static_cast<long long>(*steps);
    int hemisphere = 1;
    const auto hemiText = ini.Get(Section, KeyHemisphere);
    const bool hemiOk = hemiText && ParseHemisphere(Lower(*hemiText), hemisphere);
    taken(KeyHemisphere, hemiOk);
    if (hemiOk)
        d.Hemisphere = hemisphere;
    TTransferChoice transfer;
    const auto transferText = ini.Get(Section, KeyTransfer);
    const bool transferOk = transferText && ParseTransfer(Lower(*transferText), decimalSep, transfer);
    taken(KeyTransfer, transferOk);
    if (transferOk)
        d.Transfer = transfer;
    return d;
}

} // namespace vinsk
