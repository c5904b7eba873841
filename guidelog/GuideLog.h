// A guiding program's log as a second, independent record of the mount's
// periodic error.
//
// The log holds, for each guide frame, the star's offset from the lock
// position along the RA axis (RARawDistance, guide-camera pixels) and the
// correction sent after that frame (RAGuideDistance, same pixels). The
// mount's unguided error adds the corrections back:
//   position_k = RARawDistance_k + sum_{j<k} RAGuideDistance_j
//   PE_k       = -kappa * position_k * scale / cos(Dec)
// kappa is +1 when the log's positive corrections are West pulses (a West
// pulse speeds the RA axis up), -1 when they are East; scale is the pixel
// scale in arc seconds per pixel, and 1 / cos(Dec) turns an offset on the sky
// into the RA axis's angle. PE is positive when the mount is ahead.
//
// The log is read in one streaming pass; only the chosen section's frames
// are kept, so a log of many nights costs the memory of one section.
#pragma once

#include <cstddef>
#include <istream>
#include <limits>
#include <string>
#include <vector>

#include "common/Refusal.h"

namespace vinsk {

// One guiding section, from "Guiding Begins" to "Guiding Ends".
struct TGuideSection {
    int Number = 0;        // 1-based among the log's guiding sections
    long Line = 0;         // of its "Guiding Begins" line, 1-based
    std::string Begins;    // the date and time after "Guiding Begins at "
    int Frames = 0;        // the mount's rows, lost ones included
    double Duration = 0;   // s, the last row's time
    std::string MountDriver;
    double PixelScale = std::numeric_limits<double>::quiet_NaN(); // arc seconds per pixel
    double DecDeg = std::numeric_limits<double>::quiet_NaN();
    double XAngleDeg = std::numeric_limits<double>::quiet_NaN();  // the RA axis on the camera
};

// The frames left out of the series, by reason.
struct TGuideExcluded {
    int Lost = 0;        // "DROP" rows and rows with an error code
    int Settling = 0;    // between "Settling started" and "Settling complete"
    int OtherDevice = 0; // rows of another device, such as an adaptive-optics unit
};

struct TGuideSeries : TRefusal {

    TGuideSection Section;
    int SectionCount = 0;            // guiding sections in the log
    std::vector<double> Time;        // s since the section began, rising
    std::vector<double> Position;    // unguided offset along RA, guide-camera pixels
    std::vector<double> PE;          // arc seconds on the RA axis, or pixels without a scale
    bool InPixels = false;           // no pixel scale: PE is -kappa * position
    int Kappa = 1;
    TGuideExcluded Excluded;
    int LockMoves = 0;               // dithers and new lock positions bridged
    std::vector<std::string> Notes;
};

struct TGuideLogOptions {
    int Section = 0;  // 1-based; 0 picks the longest
    double PixelScale = std::numeric_limits<double>::quiet_NaN(); // overrides the header's
    double DecDeg = std::numeric_limits<double>::quiet_NaN();     // overrides the header's
};

// Every guiding section of the log, in order; Refused with a message naming
// the line when the log cannot be read.
struct TGuideSectionList : TRefusal {
    std::vector<TGuideSection> Sections;
};
TGuideSectionList ListGuideSections(std::istream& in);

// The unguided RA error of one section.
TGuideSeries ReadGuideLog(std::istream& in, const TGuideLogOptions& options);

// "Section 3 of 10: 3660 s, 1831 frames, Celestron AVX driver"
std::string GuideSectionLine(const TGuideSection& s, int count);

} // namespace vinsk
