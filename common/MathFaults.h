// Checked floating-point operations.
//
// The measuring code behaves as if the processor trapped division by zero,
// invalid operations and overflow: the command stops where the fault happens
// and the user sees the run-time message. Every place where such a fault can
// occur goes through one of these helpers; nothing relies on signals or on
// infinities and NaNs flowing through.
//
// Expressions are evaluated in long double (64-bit mantissa on x86-64) and
// rounded to double only where a value is stored, with StoreD.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vinsk {

class EMathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EZeroDivide : public EMathError {
public:
    EZeroDivide() : EMathError("Floating point division by zero") {}
};

class EInvalidOp : public EMathError {
public:
    EInvalidOp() : EMathError("Invalid floating point operation") {}
};

class EOverflow : public EMathError {
public:
    EOverflow() : EMathError("Floating point overflow") {}
};

// An extended result that has become infinite overflowed; a NaN can only come
// from an invalid operation.
long double Checked(long double x);

// a / b: x / 0 is a zero divide, 0 / 0 an invalid operation.
long double FDiv(long double a, long double b);

// Square root; a negative argument is an invalid operation.
long double FSqrt(long double x);

// e to the x; a result too large for the extended format overflows.
long double FExp(long double x);

// Rounds an extended value to the double it is stored as; a finite value
// beyond the double range overflows.
double StoreD(long double x);

// Nearest integer, halves to even, as a signed 64-bit integer. Not a number
// or a result outside the 64-bit range is an invalid operation.
std::int64_t Round(long double x);

// The low 32 bits of a rounded value, where a 32-bit coordinate is kept.
inline std::int32_t Low32(std::int64_t v)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

} // namespace vinsk
