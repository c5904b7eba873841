// The element of the Fourier transform's arrays.
#pragma once

namespace vinsk {

struct TComplex {
    double Re = 0;
    double Im = 0;
};

} // namespace vinsk
