// Setup values that a picture file carries in its header (FITS keys, the
// EXIF of a camera RAW), offered to the Setup fields after loading.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "setup/Experiment.h"
#include "setup/SettingsFile.h"

namespace vinsk {

// A header key that is there but holds no usable number, and the Setup
// field it would have set.
struct TUnusableFileValue {
    std::string Key;       // "EXPTIME"
    std::string FieldName; // "RxSpinEdit8"
};

// In the Setup fields' units.
struct TFileSetupValues {
    std::optional<double> ExposureSeconds;
    std::optional<double> PixelWidthUm;
    std::optional<double> PixelHeightUm;
    std::optional<double> FocalMm;
    std::optional<double> ApertureMm;

    // Only keys whose field gets no value from the file otherwise.
    std::vector<TUnusableFileValue> Unusable;

    // The worm's phase, as a capture through INDI records it: the RA
    // motor's count at the exposure's start and its uncertainty (steps),
    // the steps per worm turn, the hemisphere (+1 north, -1 south).
    std::optional<long long> MotorStart;
    std::optional<double> MotorStartSigma;
    std::optional<long long> StepsPerWorm;
    std::optional<int> Hemisphere;

    // The exposure's start as the file records it (FITS DATE-OBS, the RAW
    // file's shooting time as "2026-12-07T22:31:05"); empty when it does not.
    std::string ExposureStart;

    bool Any() const
    {
        return ExposureSeconds || PixelWidthUm || PixelHeightUm || FocalMm || ApertureMm || MotorStart || StepsPerWorm ||
               Hemisphere;
    }
};

// "Use the values from the file? Exposition 480 s, pixel 7.52 µm, focal
// length 400 mm, aperture 80 mm, RA motor 1234567 of 50133 steps per worm,
// hemisphere north" (UTF-8), naming only the values present; numbers in the
// general form with the given decimal separator, counts whole with no
// separators.
std::string FileValuesQuestion(const TFileSetupValues& v, char decimalSep);

// "EXPTIME in the header is not a usable number: kept 480 s", a line for
// each unusable key with the value its field keeps (from `e`), joined by
// newlines; "" when every key was usable.
std::string UnusableFileValuesText(const TFileSetupValues& v, const TExperiment& e, char decimalSep);

// The values as the settings file's loading delivers them: field name and
// value in the field's unit, in the same reading order.
std::vector<TSettingsValue> FileValuesForFields(const TFileSetupValues& v);

// The values straight into their parameters, every decimal kept, for the
// drive analysis: a file's 3.76 um stays 3.76 um, where the Setup fields
// would keep 3.8. Each value is read from its shortest decimal text, so that
// it gives the parameter a typed "3.76" gives. Names of no Setup field are
// skipped.
void SetExactParams(TExperiment& e, const std::vector<TSettingsValue>& values);
void SetExactParams(TExperiment& e, const TSettingsValue* values, std::size_t count);

} // namespace vinsk
