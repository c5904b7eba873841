#include "numeric/Median.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace vinsk {

namespace {

// Room for Batcher's comparators of N = 2^p inputs, fewer than N p (p + 1) / 4.
constexpr std::size_t MaxComparators(std::size_t N)
{
    std::size_t p = 0;
    while ((std::size_t{1} << p) < N)
        ++p;
    return N * p * (p + 1) / 4 + 1;
}

// Batcher's odd-even merge sort for N = 2^p inputs, as index pairs, made at
// compile time so that the network unrolls into straight-line minima and
// maxima: a loop over a table of pairs is slower than nth_element.
template <std::size_t N>
struct TNetwork {
    std::array<std::uint16_t, MaxComparators(N)> Low{}, High{};
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

// The comparators of the N-input network that the median of n <= N values
// needs. Wires n and up would hold infinities, which no comparator moves,
// so one that reaches them does nothing; one whose outputs never reach the
// middle places does not change the median. What is left gives the same
// middle values with a third or so fewer comparisons.
template <std::size_t N, std::size_t n>
struct TMedianNetwork {
    std::array<std::uint16_t, MaxComparators(N)> Low{}, High{};
    std::size_t Count = 0;

    constexpr TMedianNetwork()
    {
        const TNetwork<N>& all = Network<N>;
        std::array<bool, N> needed{};
        needed[n / 2] = true;
        if (n % 2 == 0)
            needed[n / 2 - 1] = true;
        std::array<bool, MaxComparators(N)> keep{};
        for (std::size_t c = all.Count; c-- > 0;)
            if (all.High[c] < n && (needed[all.Low[c]] || needed[all.High[c]])) {
                keep[c] = true;
                needed[all.Low[c]] = needed[all.High[c]] = true;
            }
        for (std::size_t c = 0; c < all.Count; ++c)
            if (keep[c]) {
                Low[Count] = all.Low[c];
                High[Count] = all.High[c];
                ++Count;
            }
    }
};

template <std::size_t N, std::size_t n>
inline constexpr TMedianNetwork<N, n> MedianNetwork{};

// One stretch of a network's comparators, from Base on.
template <const auto& Net, std::size_t Base, std::size_t... C>
void SortStretch(double* v, std::index_sequence<C...>)
{
    (
        [&] {
            const double a = v[Net.Low[Base + C]], b = v[Net.High[Base + C]];
            v[Net.Low[Base + C]] = std::min(a, b);
            v[Net.High[Base + C]] = std::max(a, b);
        }(),
        ...);
}

// In stretches of 128: a fold over all 543 of the 64-input network nests
// deeper than some compilers allow.
template <const auto& Net, std::size_t Base = 0>
void Sort(double* v)
{
    constexpr std::size_t Stretch = 128, count = Net.Count;
    if constexpr (Base < count) {
        SortStretch<Net, Base>(v, std::make_index_sequence<std::min(Stretch, count - Base)>{});
        Sort<Net, Base + Stretch>(v);
    }
}

constexpr std::size_t PowerOfTwoFrom(std::size_t n)
{
    std::size_t p = 1;
    while (p < n)
        p *= 2;
    return p;
}

template <std::size_t n>
long double NetworkMedian(const double* first)
{
    double v[n];
    std::copy_n(first, n, v);
    Sort<MedianNetwork<PowerOfTwoFrom(n), n>>(v);
    return MedianOfSorted(v, n);
}

template <std::size_t... I>
constexpr auto MakeNetworkMedians(std::index_sequence<I...>)
{
    return std::array<long double (*)(const double*), sizeof...(I)>{&NetworkMedian<I + 1>...};
}

// NetworkMedians[n - 1] takes n values. A network of its own for each
// count up to 32; beyond, one for each count would take the compiler long.
constexpr auto NetworkMedians = MakeNetworkMedians(std::make_index_sequence<32>{});

// Up to 64 values in the whole 64-input network, padded with infinities,
// which sort after every value: the first n places then hold the values in
// order.
long double PaddedMedian(const double* first, std::size_t n)
{
    double v[64];
    for (std::size_t i = 0; i < 64; ++i)
        v[i] = i < n ? first[i] : std::numeric_limits<double>::infinity();
    Sort<Network<64>>(v);
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
    return n <= NetworkMedians.size() ? NetworkMedians[n - 1](first) : PaddedMedian(first, n);
}

} // namespace vinsk
