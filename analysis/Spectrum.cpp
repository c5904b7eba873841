#include "analysis/Spectrum.h"

#include <cmath>
#include <cstdint>

#include "common/MathFaults.h"
#include "fft/FFTs.h"

namespace vinsk {

double ComplexMagnitude(const TComplex& z)
{
    const long double re = z.Re;
    const long double im = z.Im;
    return StoreD(FSqrt(re * re - im * (-im)));
}

void PESpectrum(std::vector<double>& pe, std::vector<double>& graphX, double exposureTime)
{
    const auto n = static_cast<std::int32_t>(pe.size());
    std::vector<TComplex> z(pe.size());
    for (std::size_t i = 0; i < pe.size(); ++i)
        z[i] = {pe[i], 0};
    const double q = StoreD(std::fabs(FDiv(n, exposureTime)));
    if (n > 0)
        ComplexFFT(z.data(), z.data(), n);
    if (graphX.size() < pe.size())
        graphX.resize(pe.size());
    for (std::int32_t i = 0; i < n; ++i) {
        pe[i] = StoreD(FDiv(ComplexMagnitude(z[i]), n));
        graphX[i] = StoreD(std::fabs(FDiv(static_cast<long double>(i) * q, n)));
    }
}

} // namespace vinsk
