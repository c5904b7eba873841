// A star trail rendered the way the camera records it: a point source moves
// along an arc (or a straight line) while the mount turns at
// w(t) = w0 + PE'(t), and every short time step deposits flux x dt through a
// Gaussian point spread function. A faster mount spreads the same light over
// more pixels, so the brightness along the trail carries the error as the
// real exposure does.
//
// The image scale is that of a star at distance D: it focuses at
// v = f D / (D - f), so one pixel of sensor length l subtends atan(l / v).
// Positive PE means the mount is ahead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/writers/RgbImage.h"

namespace vinsk::tools {

// One periodic term of the mount's error: Amplitude sin(2 pi t / Period + Phase).
struct TPeriodicTerm {
    double Amplitude = 0; // arc seconds
    double Period = 0;    // seconds
    double Phase = 0;     // radians
};

struct TPhysicalOptions {
    std::int32_t Width = 1700;
    std::int32_t Height = 260;
    // The path: from Start towards Stop, bowed by Sag pixels off the chord at
    // its middle (positive to the left of the direction of travel); 0 is a
    // straight line. The star starts at Start; where it ends follows from
    // the exposure and the error.
    double StartX = 60, StartY = 130;
    double StopX = 1640, StopY = 120;
    double Sag = 20;

    // Setup (field units, as the settings file carries them).
    double DistanceM = 10;
    double PixelWidthUm = 5.7, PixelHeightUm = 5.7;
    double FocalMm = 400;
    double MountSpeed = 15; // arc seconds per second
    // Exposure in seconds; 0 chooses the time the nominal rate needs from
    // Start to Stop.
    double ExposureS = 0;

    // The error: the sum of the terms plus Drift x t.
    std::vector<TPeriodicTerm> Terms{{5, 100, 0}, {1.5, 50, 0.7}};
    double Drift = 0.01; // arc seconds per second

    double Fwhm = 3;          // pixels
    double Crest = 220;       // peak level of the trail above the background at the nominal rate
    double Background = 12;   // level
    double Noise = 1.5;       // Gaussian noise sigma of each channel, levels
    int Bits = 8;             // 8 or 16: the levels' range
    std::uint64_t Seed = 1;

    // The star's image out of focus, blurred by the Gaussian of Fwhm: a disc
    // of RingRadius px (0: a focused star), dark inside Obstruction times its
    // radius (a reflector's secondary; 0 is a plain lens's flat disc), the
    // radius growing evenly to RingRadiusEnd by the end (0: it stays); and a
    // lopsided, coma-like tail of Coma px. The light of the star stays that of
    // the focused one.
    double RingRadius = 0, RingRadiusEnd = 0, Obstruction = 0.7;
    double Coma = 0;
    // The lamp's light falls evenly by this share over the exposure (0.05:
    // 5 % dimmer at the end), as a battery's does.
    double Dimming = 0;
};

struct TPhysicalTruth {
    double ExposureS = 0;
    double Alpha = 0;       // arc seconds per pixel of path at Start
    double MountSpeed = 0;
    double StartX = 0, StartY = 0; // image position at t = 0
    double EndX = 0, EndY = 0;     // image position at t = T
    double PathLength = 0;  // pixels travelled
    bool Periodic = false;  // true: the drift-free error is the periodic terms alone
    double PeakToPeak = 0, Rms = 0; // of the drift-free error over [0, T] (RMS about its mean)
    // The drift-free error is PE(t) - (LineA + LineB t): the drift when Periodic,
    // otherwise the line fitted to PE over [0, T].
    double LineA = 0, LineB = 0;
    std::vector<TPeriodicTerm> Terms;
    double Drift = 0;
};

// The rendered levels, Width x Height pixels of red, green and blue
// (interleaved, top row first), quantised to Bits. The star is white; the
// noise is drawn for each channel on its own.
struct TPhysicalTrail {
    std::int32_t Width = 0, Height = 0;
    int Bits = 8;
    std::vector<std::uint16_t> Levels;
    TPhysicalTruth Truth;
};

// The error PE(t) of the options' mount, and its derivative.
double PhysicalPE(const TPhysicalOptions& o, double t);

// The true drift-free error at time t.
double TruthError(const TPhysicalTruth& truth, double t);

// Throws std::invalid_argument for options that cannot make a trail.
TPhysicalTrail RenderPhysicalTrail(const TPhysicalOptions& o);

// 16-bit levels are scaled to 8 bits.
TRgbImage PhysicalToRgb8(const TPhysicalTrail& trail);

// A PNG of the trail's own depth (8 or 16 bits per channel, RGB).
void WritePhysicalPng(const std::string& path, const TPhysicalTrail& trail);

// The truth as text: key value lines, then t, PE and the drift-free error
// every Step seconds. Throws EWriteError when the file cannot be written.
std::string PhysicalTruthText(const TPhysicalTruth& truth, const TPhysicalOptions& o, double step = 1);
void WritePhysicalTruth(const std::string& path, const TPhysicalTruth& truth, const TPhysicalOptions& o);

} // namespace vinsk::tools
