// Dark and flat calibration of the loaded picture.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "common/Status.h"
#include "image/ImageState.h"

namespace vinsk {

// The refusal that the dark (flat) command shows before asking for a file,
// or nothing when it may go on.
std::optional<std::string> DarkRefusal(const TImageState& s);
std::optional<std::string> FlatRefusal(const TImageState& s);

class ECalibrationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Subtract the dark frame / divide out the flat frame in place, set the flags
// and write the confirmation to the prompt panel. A frame of another size throws
// ECalibrationError("Dark image must have equal size!") (resp. "Flat ...")
// and leaves everything unchanged.
void ApplyDark(TImageState& s, const TBitmap32& dark, TStatusPanels& status);
void ApplyFlat(TImageState& s, const TBitmap32& flat, TStatusPanels& status);

} // namespace vinsk
