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
// std::runtime_error("Unable to write to " + path).
void SaveSettingsFile(const std::string& path, const TExperiment& e, char decimalSep);

struct TSettingsValue {
    const char* FieldName; // "RxSpinEdit1", "RxSpinEdit9", ... in reading order
    double Value;          // in the field's unit
};

struct TSettingsLoad {
    bool VersionMismatch = false; // show SettingsVersionWarning before applying
    std::array<TSettingsValue, 9> Values{};
};

// Reads the file (a missing file counts as one without keys). A missing,
// empty or unparsable value gives the current parameter in the file's unit.
TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current, char decimalSep);

} // namespace vinsk
