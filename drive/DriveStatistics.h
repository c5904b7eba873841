// The statistics of the drift-free error (see TDriveStats).
#pragma once

#include <cstddef>
#include <vector>

#include "drive/DriveAnalysis.h"

namespace vinsk::drive {

// Centred moving average over a time window.
std::vector<double> SmoothOver(const std::vector<double>& t, const std::vector<double>& e, long double window);

// The worm period sets the rate's window; 0 without one.
TDriveStats Statistics(const std::vector<double>& t, const std::vector<double>& e, long double period,
                       long double tolerance);

// The standard deviation of r's peak-to-peak from the photometry's noise.
// Noise always raises a peak-to-peak read from data, and by how much depends
// on the light: the noise of the steps' light (its long-run variance, from
// blocks of steps) is drawn again a few dozen times, carried through the
// time scale into the drift-free error as the series makes it (less a line,
// as the drift removal takes), and the spread of the peak-to-peaks is the
// answer. The draws are seeded, so a result repeats to the last digit.
// Blocks holding a repaired step do not enter the noise: their light was
// made up from the neighbours'.
double PeakToPeakSigma(const TDriveResult& r, long double mountSpeed,
                       const std::vector<std::size_t>& repaired = {});

} // namespace vinsk::drive
