// The experiment settings file (INI kind): save and load of the nine values.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "setup/DriveSettings.h"
#include "setup/Experiment.h"

namespace vinsk {

// The format version this program writes and accepts.
inline constexpr const char* SettingsFileVersion = "1.1";

inline constexpr const char* SettingsFilter =
    "Experiment setings file (*.ini)|*.ini|Image profile file (*.dat)|*.dat|All files (*.*)|*.*";

inline constexpr const char* SettingsVersionWarning =
    "This is not VURiva or version of the VinskFile is not 1.1.\n\rCheck pleas input data.";

// Writes the version and the nine values into the file, updating an existing
// file key by key and keeping every other line. Either the complete new file
// is there afterwards or the old one is untouched; a failure throws
// EFileWriteError("Unable to write to " + path). The new file is written
// beside the target and renamed over it, keeping the target's permissions;
// a read-only target or folder is refused. Saving through a symbolic link
// updates the file it points to.
void SaveSettingsFile(const std::string& path, const TExperiment& e, char decimalSep);

// The same, and the drive settings in their [Drive] section after the nine
// values (see WriteDriveSection: initial settings add nothing).
void SaveSettingsFile(const std::string& path, const TExperiment& e, const TDriveSettings& drive, char decimalSep);

struct TSettingsValue {
    const char* FieldName; // "RxSpinEdit1", "RxSpinEdit9", ... in reading order
    double Value;          // in the field's unit
};

struct TSettingsLoad {
    bool VersionMismatch = false; // show SettingsVersionWarning before applying
    std::array<TSettingsValue, 9> Values{};
    TDriveSettings Drive; // the current drive settings with the file's valid [Drive] values
    // Keys present with a value that is no number, in the order they stand
    // in the file ("Focal", "time"); each kept its current parameter.
    std::vector<std::string> Unread;
};

// Parses settings text of any bytes, LF or CR LF line ends. Blanks around a
// value are ignored and a value is cut to 2047 characters. A number may use
// the locale's separator, a point or a comma, whatever the locale, so that a
// file written under another locale reads the same. A missing, empty or
// unparsable value (two separators, or a number beyond the double range)
// gives the current parameter in the file's unit.
TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current, char decimalSep);

// A settings file is a few hundred bytes; a larger one is refused unread.
inline constexpr std::size_t MaxSettingsFileBytes = 1u << 20;

// Reads the file with LoadSettingsText; a name that no file has counts as a
// file without keys. Throws std::runtime_error "Cannot read settings file
// <path>: <problem>" for a path that is not a regular file (a directory,
// pipe or device, checked before opening), a file above
// MaxSettingsFileBytes, or one that cannot be read.
TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current, char decimalSep);

// The same, with the current drive settings that the [Drive] keys update.
TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current,
                               const TDriveSettings& currentDrive, char decimalSep);
TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current,
                               const TDriveSettings& currentDrive, char decimalSep);
// "Settings: 2 values not read: Focal, time" for the unread keys of a load,
// empty when every present value was read.
std::string UnreadSettingsText(const TSettingsLoad& load);

} // namespace vinsk
