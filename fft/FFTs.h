// Mixed-radix complex discrete Fourier transform of any length whose prime
// factors do not exceed cMaxPrimeFactor.
#pragma once

#include <array>
#include <cstdint>

#include "fft/TypesFFT.h"

namespace vinsk {

// Capacity of each per-pass work array, and so the largest radix a pass takes.
inline constexpr int cMaxPrimeFactor = 8192;

// Capacity of the factor list. A 32-bit length has at most 19 factors (3^19).
inline constexpr int FactorListCapacity = 20;

// Radices with their own butterflies, ascending; searched from the last down.
inline constexpr std::array<int, 6> DedicatedRadices = {2, 3, 4, 5, 8, 10};

// Butterfly constants, rounded to 14 significant digits.
inline constexpr double K3A = -1.5;              // cos(2pi/3) - 1
inline constexpr double K3B = 0.86602540378444;  // sin(2pi/3)
inline constexpr double K5A = -1.25;             // (cos(2pi/5) + cos(4pi/5))/2 - 1
inline constexpr double K5B = 0.55901699437495;  // (cos(2pi/5) - cos(4pi/5))/2
inline constexpr double K5C = -0.95105651629515; // -sin(2pi/5)
inline constexpr double K5D = -1.5388417685876;  // -(sin(2pi/5) + sin(4pi/5))
inline constexpr double K5E = 0.36327126400268;  // sin(2pi/5) - sin(4pi/5)
inline constexpr double K8 = 0.70710678118655;   // sqrt(2)/2

inline constexpr const char* FFTPrimeFactorMessage =
    "Prime factor for FFT length too large. Change value for cMaxPrimeFactor in FFTs unit";

// Output[j] = sum over k of Input[k] * exp(-2 pi i j k / N), unscaled, natural
// order. Output may be the same storage as Input. A prime factor above
// cMaxPrimeFactor throws EMathError(FFTPrimeFactorMessage) before anything
// is written. N <= 0 does nothing.
void ComplexFFT(const TComplex* Input, TComplex* Output, std::int32_t N);

namespace fftdetail {

// The radices of the passes, in the order the passes run them.
struct TFactorList {
    int Count = 0;
    std::array<std::int32_t, FactorListCapacity> Factors{};
};

// Splits N (>= 1) into radices: the dedicated ones largest first (8*2 merged
// into 4*4), then trial-divided primes, the whole list reversed. N <= 0 gives
// an empty list.
TFactorList FactorLength(std::int32_t N);

} // namespace fftdetail

} // namespace vinsk
