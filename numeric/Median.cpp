#include "numeric/Median.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace vinsk {

namespace {

// Batcher's odd-even merge sort for N = 2^p inputs, as index pairs, made at
// compile time so that the network unrolls into straight-line minima and
// maxima: a loop over a table of pairs is slower than nth_element.
template <std::size_t N>
struct TNetwork {
    std::array<std::uint16_t, N * N> Low{}, High{};
    std::size_t Count = 0;

    constexpr TNetwork()
    {
        for (std::size_t p = 1; p < N; p += p)
            for (std::size_t k = p; k > 0; k /= 2)
                for (std::size_t j = k % p; j + k < N; j += 2 * k)
                    for (std::size_t i = 0; i < k && i + j + k < N; ++i)
                        if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) {
                            Low[Count] = static_cast<std::uint16_t>(i + j);
                            High[Count] = static_cast<std::uint16_t>(i + j + k);
                            ++Count;
                        }
    }
};

template <std::size_t N>
inline constexpr TNetwork<N> Network{};

// One stretch of the network's comparators, from Base on.
template <std::size_t N, std::size_t Base, std::size_t... C>
void SortStretch(double* v, std::index_sequence<C...>)
{
    constexpr const TNetwork<N>& net = Network<N>;
    (
        [&] {
            const double a = v[net.Low[Base + C]], b = v[net.High[Base + C]];
            v[net.Low[Base + C]] = std::min(a, b);
            v[net.High[Base + C]] = std::max(a, b);
        }(),
        ...);
}

// In stretches of 128: a fold over all 543 of the 64-input network nests
// deeper than some compilers allow.
template <std::size_t N, std::size_t Base = 0>
void Sort(double* v)
{
    constexpr std::size_t Stretch = 128, count = Network<N>.Count;
    if constexpr (Base < count) {
        SortStretch<N, Base>(v, std::make_index_sequence<std::min(Stretch, count - Base)>{});
        Sort<N, Base + Stretch>(v);
    }
}

template <std::size_t N>
long double NetworkMedian(const double* first, std::size_t n)
{
    // Padded with infinities, which sort after every value: the first n
    // places then hold the values in order.
    double v[N];
    for (std::size_t i = 0; i < N; ++i)
        v[i] = i < n ? first[i] : std::numeric_limits<double>::infinity();
    Sort<N>(v);
    return MedianOfSorted(v, n);
}

} // namespace

long double MedianOfFew(double* first, double* last)
{
    const auto n = static_cast<std::size_t>(last - first);
    bool nan = false;
    for (std::size_t i = 0; i < n; ++i)
        nan = nan || first[i] != first[i];
    if (n == 0 || nan || n > 64)
        return Median(first, last);
    if (n <= 16)
        return NetworkMedian<16>(first, n);
    if (n <= 32)
        return NetworkMedian<32>(first, n);
    return NetworkMedian<64>(first, n);
}

} // namespace vinsk
