// Mixed-radix complex discrete Fourier transform of any length whose prime
// factors do not exceed cMaxPrimeFactor.
#pragma once

#include <cstdint>

#include "fft/TypesFFT.h"

namespace vinsk {

inline constexpr int cMaxPrimeFactor = 8192;

inline constexpr const char* FFTPrimeFactorMessage =
    "Prime factor for FFT length too large. Change value for cMaxPrimeFactor in FFTs unit";

// Output[j] = sum over k of Input[k] * exp(-2 pi i j k / N), unscaled, natural
// order. Output may be the same storage as Input. A prime factor above
// cMaxPrimeFactor throws EMathError(FFTPrimeFactorMessage) before anything
// is written.
void ComplexFFT(const TComplex* Input, TComplex* Output, std::int32_t N);

} // namespace vinsk
