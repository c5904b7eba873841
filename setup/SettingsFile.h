// The experiment settings file (INI kind): save and load of the nine values.
#pragma once

#include <array>
#include <string>

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

struct TSettingsValue {
    const char* FieldName; // "RxSpinEdit1", "RxSpinEdit9", ... in reading order
    double Value;          // in the field's unit
};

struct TSettingsLoad {
    bool VersionMismatch = false; // show SettingsVersionWarning before applying
    std::array<TSettingsValue, 9> Values{};
};

// Parses settings text of any bytes, LF or CR LF line ends. Blanks around a
// value are ignored and a value is cut to 2047 characters; a missing, empty
// or unparsable value (a number beyond the double range included) gives the
// current parameter in the file's unit.
TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current, char decimalSep);

// Reads the file with LoadSettingsText; a missing or unreadable file counts
// as one without keys.
TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current, char decimalSep);

} // namespace vinsk
