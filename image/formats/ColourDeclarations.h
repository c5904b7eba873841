// What a picture file says about how its values map to light: an embedded
// ICC profile, read with LittleCMS, or the EXIF colour space, read by a small
// bounded IFD reader. Both come from untrusted files: every size and offset
// is checked against the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "linear/ToneCurve.h"

namespace vinsk::formats {

// The profile's tone curves (rTRC/gTRC/bTRC, or grayTRC) sampled from stored
// values to light; a profile with lookup tables only is transformed to a
// gamma-1 profile of the same colorants. Nothing for a profile LittleCMS
// cannot open or that is not RGB or grey.
std::optional<TTransfer> TransferOfIccProfile(std::span<const std::uint8_t> profile);

// The EXIF block (a TIFF header and its IFDs, with or without the "Exif\0\0"
// of a JPEG APP1 segment): colour space 1 is sRGB; uncalibrated with the
// interoperability index "R03" is Adobe RGB (a gamma of 563/256). Nothing
// for anything else or a damaged block.
std::optional<TTransfer> TransferOfExif(std::span<const std::uint8_t> exif);

} // namespace vinsk::formats
