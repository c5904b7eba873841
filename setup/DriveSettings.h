// The drive analysis's settings: plain values that the settings file, the
// window and the command line hold, and the analysis reads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vinsk {

class TProfileText;

// "none" keeps the error as measured; "line" and "quadratic" remove a fitted
// polynomial; "harmonic" fits the line jointly with the first K harmonics of
// the worm period and removes the line only. Harmonic is the initial choice
// and falls back to a line when there is no worm period or the trail holds
// fewer than two of its cycles.
enum class TDetrend { None, Line, Quadratic, Harmonic };

// Beyond these the analysis has nothing to gain and only time and memory to
// lose (the PEC table holds a row per second of the worm period).
inline constexpr int MaxDriveHarmonics = 50;
inline constexpr double MaxDriveWormPeriod = 86400; // s
inline constexpr double MaxDriveHalfWidth = 200;    // px

// Which end of the trail the star started from, along the trail's main
// axis. Auto: the left end, or the top end of a trail steeper than 45
// degrees, as the Graph tab's walk reads it; once the user places START or
// swaps the points, the side they chose.
enum class TStartSide { Auto, Left, Right, Top, Bottom };

// How the picture's stored values become light: Auto takes the file's own
// declaration (a JPEG without one is sRGB, other formats linear); the others
// override it. Never applied to FITS or camera RAW, which hold light.
enum class TTransferKind { Auto, Linear, Srgb, Gamma };
struct TTransferChoice {
    TTransferKind Kind = TTransferKind::Auto;
    double Gamma = 1; // light = v^Gamma, for Gamma
    bool operator==(const TTransferChoice&) const = default;
};

struct TDriveSettings {
    double WormPeriod = 0; // s, 0..MaxDriveWormPeriod; 0: unknown (estimated when the trail allows)
    double Tolerance = 1;  // arc seconds, positive, for the longest exposure
    TDetrend Detrend = TDetrend::Harmonic;
    int Harmonics = 5;     // K, for the PEC fit and the harmonic drift removal; 1..MaxDriveHarmonics
    double HalfWidth = 0;  // px of the photometry segment each side, 0..MaxDriveHalfWidth; 0: auto
    TStartSide StartSide = TStartSide::Auto;
    // The mount: its RA motor's steps per worm turn (0: unknown), and the
    // hemisphere, +1 north (the motor's count rises with tracking), -1 south.
    long long StepsPerWorm = 0;
    int Hemisphere = 1;
    TTransferChoice Transfer{};

    bool operator==(const TDriveSettings&) const = default;
};

// Whether every value lies in its range; one at a time for the readers.
bool DriveSettingsValid(const TDriveSettings& d);
bool ValidWormPeriod(double v);
bool ValidTolerance(double v);
bool ValidHarmonics(double v); // a whole number in range
bool ValidHalfWidth(double v);
bool ValidStepsPerWorm(double v); // a whole number, 1 .. 2^31 - 1

// A number written with the given separator, a point or a comma (a file or
// a command carried between locales holds the other one, and one number
// cannot be misread whichever it uses); nothing for any other text or a
// value beyond the double range.
std::optional<double> DriveNumber(std::string_view text, char decimalSep);

// The names the settings file and the command line use: "none", "line",
// "quadratic", "harmonic"; false for anything else.
bool ParseDetrend(std::string_view text, TDetrend& out);
const char* DetrendName(TDetrend d);
// "left", "right", "top", "bottom" ("auto" for Auto, which no file holds).
bool ParseStartSide(std::string_view text, TStartSide& out);
const char* StartSideName(TStartSide s);
// "north", "south": +1, -1.
bool ParseHemisphere(std::string_view text, int& out);
const char* HemisphereName(int h);
// "auto", "linear", "srgb", "gamma:G" with G a positive number up to 10
// written with a point or the given separator; false for anything else.
bool ParseTransfer(std::string_view text, char decimalSep, TTransferChoice& out);
std::string TransferName(const TTransferChoice& t, char decimalSep);
// The side of START relative to STOP along the main axis of the line between
// them; Auto when the two points coincide.
TStartSide StartSideOf(double startX, double startY, double stopX, double stopY);

// The [Drive] section. It is written only when a value differs from its
// initial one or the file already holds the section, so a file saved with
// the initial settings stays as it was before the section existed, and a
// section once written always holds what was saved. Numbers in the general
// form with the given separator.
void WriteDriveSection(TProfileText& ini, const TDriveSettings& d, char decimalSep);

// Each key that is present and valid replaces the current value; a missing,
// empty, unparsable or out-of-range value keeps it. Numbers may use the
// given separator, a point or a comma; the detrend name any letter case.
// Keys present with a value that cannot be taken join `unread` with their
// line (0-based), when given.
TDriveSettings ReadDriveSection(const TProfileText& ini, const TDriveSettings& current, char decimalSep,
                                std::vector<std::pair<std::size_t, std::string>>* unread = nullptr);

} // namespace vinsk
