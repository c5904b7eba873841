#include "numeric/LeastSquares.h"

#include <utility>

namespace vinsk {

bool SolveLinear(std::vector<long double>& a, std::vector<long double>& b, int m, std::vector<long double>& x)
{
    for (int col = 0; col < m; ++col) {
        int piv = col;
        for (int r = col + 1; r < m; ++r)
            if (fabsl(a[r * m + col]) > fabsl(a[piv * m + col]))
                piv = r;
        if (fabsl(a[piv * m + col]) < 1e-14L * (1 + fabsl(a[0])))
            return false;
        if (piv != col) {
            for (int c = 0; c < m; ++c)
                std::swap(a[col * m + c], a[piv * m + c]);
            std::swap(b[col], b[piv]);
        }
        for (int r = col + 1; r < m; ++r) {
            const long double q = a[r * m + col] / a[col * m + col];
            for (int c = col; c < m; ++c)
                a[r * m + c] -= q * a[col * m + c];
            b[r] -= q * b[col];
        }
    }
    x.assign(m, 0);
    for (int r = m - 1; r >= 0; --r) {
        long double s = b[r];
        for (int c = r + 1; c < m; ++c)
            s -= a[r * m + c] * x[c];
        x[r] = s / a[r * m + r];
    }
    return true;
}

} // namespace vinsk
