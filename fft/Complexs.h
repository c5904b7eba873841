// Complex arithmetic on TComplex values. Inline: the transform calls these
// once or more per element and pass, and they must cost no more than the
// arithmetic itself.
#pragma once

#include "fft/TypesFFT.h"

namespace vinsk {

constexpr TComplex MakeComplex(double Re, double Im)
{
    return TComplex{Re, Im};
}

constexpr TComplex CAdd(TComplex a, TComplex b)
{
    return TComplex{a.Re + b.Re, a.Im + b.Im};
}

constexpr TComplex CSub(TComplex a, TComplex b)
{
    return TComplex{a.Re - b.Re, a.Im - b.Im};
}

constexpr TComplex CMul(TComplex a, TComplex b)
{
    return TComplex{a.Re * b.Re - a.Im * b.Im, a.Im * b.Re + a.Re * b.Im};
}

constexpr TComplex CScale(TComplex a, double x)
{
    return TComplex{x * a.Re, x * a.Im};
}

} // namespace vinsk
