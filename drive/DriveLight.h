// What the analysis says about the light it measured: the tone curve the
// picture was read through.
#pragma once

#include <string>

#include "drive/DriveAnalysis.h"

namespace vinsk {

// Records the curve in the result, with a note when Auto chose one the file
// did not declare (a JPEG without tags) and how to choose another.
void NameTransfer(TDriveResult& r, const TTransfer& t);

// A flat applied in light whose offset came from the dark frame, for want
// of a flat-dark frame, is said in a note.
void NameFlatOffset(TDriveResult& r, bool fromDark);

// "Light: stored values read through the sRGB curve (jpeg-default)", or
// nothing for linear samples; the summary and the Drive panel show it.
std::string TransferLine(const TDriveResult& r, char decimalSep);

// "3 steps repaired (cosmic rays, hot pixels or a streak)", or nothing when
// no step was; the summary and the Drive panel show it.
std::string RepairedLine(const TDriveResult& r);

} // namespace vinsk
