// The spectrum of the periodic error: magnitude of its discrete Fourier
// transform over N, against frequency in hertz.
#pragma once

#include <vector>

#include "fft/TypesFFT.h"

namespace vinsk {

// |z|, formed as the real part of z times its conjugate, then the root.
double ComplexMagnitude(const TComplex& z);

// pe (N periodic-error samples) becomes |DFT(pe)[i]| / N, and the first N
// elements of graphX the frequencies i / |exposureTime| (graphX grows to N
// if shorter). An exposure time of 0 fails with EZeroDivide, a length with
// a prime factor beyond the transform's reach with its EMathError, both
// before pe or graphX change.
void PESpectrum(std::vector<double>& pe, std::vector<double>& graphX, double exposureTime);

} // namespace vinsk
