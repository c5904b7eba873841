// Small linear systems and least squares, in the extended format.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vinsk {

// Solves the m x m system a x = b (a row-major) by Gaussian elimination with
// partial pivoting. False when a pivot falls below 1e-14 of 1 + |a[0]|: the
// system is singular as far as measured data can tell. Overwrites a and b.
// By hand rather than a library's LU: the systems have at most 102 columns,
// and Eigen's moved the drive's error series in the last bit and cost the
// period search some 5 % of its time.
bool SolveLinear(std::vector<long double>& a, std::vector<long double>& b, int m, std::vector<long double>& x);

// The answer of the normal equations; false when they are singular or the
// answer is not finite.
template <std::size_t N>
bool SolveNormal(const std::array<long double, N * N>& sums, const std::array<long double, N>& rhs,
                 std::array<long double, N>& p)
{
    std::vector<long double> ata(sums.begin(), sums.end()), atb(rhs.begin(), rhs.end()), x;
    if (!SolveLinear(ata, atb, static_cast<int>(N), x))
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (!std::isfinite(static_cast<double>(x[i])))
            return false;
        p[i] = x[i];
    }
    return true;
}

// Weighted least squares for sum_j p_j x_j = y over rows {x_0 .. x_{N-1}, y}
// through the normal equations; false when they are singular or the answer
// is not finite.
template <std::size_t N>
bool WeightedLeastSquares(const std::vector<std::array<long double, N + 1>>& rows, const std::vector<long double>& w,
                          std::array<long double, N>& p)
{
    // The sums in local arrays: in vectors every term was a load and a
    // store of the extended format.
    std::array<long double, N * N> sums{};
    std::array<long double, N> rhs{};
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::array<long double, N + 1>& r = rows[k];
        for (std::size_t i = 0; i < N; ++i) {
            const long double wi = w[k] * r[i];
            for (std::size_t j = 0; j < N; ++j)
                sums[i * N + j] += wi * r[j];
            rhs[i] += wi * r[N];
        }
    }
    return SolveNormal<N>(sums, rhs, p);
}

// Least squares with every weight 1, its normal equations built up one row
// at a time: the matrix's upper triangle only, mirrored, which gives the
// very sums the weighted form would.
template <std::size_t N>
class TNormalEquations {
public:
    void Add(const std::array<long double, N + 1>& r)
    {
        for (std::size_t i = 0; i < N; ++i) {
            for (std::size_t j = i; j < N; ++j)
                FSums[i * N + j] += r[i] * r[j];
            FRhs[i] += r[i] * r[N];
        }
        ++FRows;
    }
    std::size_t Rows() const { return FRows; }
    // False when the equations are singular or the answer is not finite.
    bool Solve(std::array<long double, N>& p) const
    {
        std::array<long double, N * N> sums = FSums;
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t j = 0; j < i; ++j)
                sums[i * N + j] = sums[j * N + i];
        return SolveNormal<N>(sums, FRhs, p);
    }

private:
    std::array<long double, N * N> FSums{};
    std::array<long double, N> FRhs{};
    std::size_t FRows = 0;
};

} // namespace vinsk
