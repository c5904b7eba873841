#include "fft/FFTs.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "common/MathFaults.h"
#include "fft/Complexs.h"

namespace vinsk {

namespace fftdetail {

namespace {

std::int32_t FloorSqrt(std::int32_t n)
{
    auto s = static_cast<std::int64_t>(std::sqrt(static_cast<double>(n)));
    while (s * s > n)
        --s;
    while ((s + 1) * (s + 1) <= n)
        ++s;
    return static_cast<std::int32_t>(s);
}

} // namespace

TFactorList FactorLength(std::int32_t N)
{
    TFactorList list;
    if (N <= 0)
        return list;
    // Every factor but a single 2 is at least 3, so a 32-bit length never
    // fills more than 19 of the FactorListCapacity entries.
    auto append = [&list](std::int32_t f) { list.Factors[list.Count++] = f; };

    if (N == 1)
        append(1);

    for (int e = static_cast<int>(DedicatedRadices.size()) - 1; N > 1 && e >= 0;) {
        const int r = DedicatedRadices[e];
        if (N % r == 0) {
            N /= r;
            append(r);
        } else {
            --e;
        }
    }

    // Two radix-4 passes are cheaper than a radix-8 and a radix-2 pass.
    if (list.Count > 0 && list.Factors[list.Count - 1] == 2) {
        for (int i = list.Count - 2; i >= 0; --i) {
            if (list.Factors[i] == 8) {
                list.Factors[i] = 4;
                list.Factors[list.Count - 1] = 4;
                break;
            }
        }
    }

    if (N > 1) {
        const std::int32_t s = FloorSqrt(N);
        for (std::int32_t c = 2; c <= s && N > 1; ++c) {
            while (N % c == 0) {
                N /= c;
                append(c);
            }
        }
    }
    if (N > 1)
        append(N);

    // The largest radix runs first; the capacity check needs to look at it only.
    std::reverse(list.Factors.begin(), list.Factors.begin() + list.Count);
    return list;
}

} // namespace fftdetail

namespace {

using Index = std::int64_t;

// Per-call work storage, a fixed size whatever N is. It is left
// uninitialised: every element is written before it is read, and clearing
// half a megabyte would cost more than a short transform.
struct TWorkArea {
    TComplex Gathered[cMaxPrimeFactor];
    TComplex Roots[cMaxPrimeFactor];
    TComplex Powers[cMaxPrimeFactor];
    TComplex OddSums[cMaxPrimeFactor / 2];
    TComplex OddDiffs[cMaxPrimeFactor / 2];
};

struct TWorkAreaDelete {
    void operator()(TWorkArea* p) const { ::operator delete(p); }
};

using TWorkAreaPtr = std::unique_ptr<TWorkArea, TWorkAreaDelete>;

TWorkAreaPtr NewWorkArea()
{
    // TWorkArea is an implicit-lifetime aggregate, so raw storage from
    // operator new holds one without running the element initialisers.
    return TWorkAreaPtr(static_cast<TWorkArea*>(::operator new(sizeof(TWorkArea))));
}

// The factor plan of one call, indexed from 1 like the passes.
struct TPlan {
    int m = 0;
    std::array<Index, FactorListCapacity + 1> Factors{};
    std::array<Index, FactorListCapacity + 1> InnerSize{};
    std::array<Index, FactorListCapacity + 2> OuterCount{};
};

TComplex UnitRoot(Index n)
{
    const long double angle = 2.0L * std::numbers::pi_v<long double> / static_cast<long double>(n);
    return MakeComplex(static_cast<double>(std::cos(angle)), static_cast<double>(-std::sin(angle)));
}

void BuildRootTable(int r, TComplex* root)
{
    root[0] = MakeComplex(1, 0);
    root[1] = UnitRoot(r);
    for (int k = 2; k < r; ++k)
        root[k] = CMul(root[1], root[k - 1]);
}

// Mixed-radix digit reversal: Target[sum d_j InnerSize[j]] = Input[sum d_j OuterCount[j]].
void ReorderInput(const TComplex* Input, TComplex* Target, Index N, const TPlan& plan)
{
    std::array<Index, FactorListCapacity + 2> c{};
    Index k = 0;
    for (Index i = 0; i < N - 1; ++i) {
        Target[i] = Input[k];
        k += plan.OuterCount[1];
        ++c[1];
        // Only N - 1 steps are taken, so the top digit never carries.
        for (int j = 1; c[j] >= plan.Factors[j];) {
            c[j] = 0;
            k = k - plan.OuterCount[j - 1] + plan.OuterCount[j + 1];
            ++j;
            ++c[j];
        }
    }
    Target[N - 1] = Input[N - 1];
}

void Butterfly2(TComplex* z)
{
    const TComplex z0 = z[0];
    z[0] = CAdd(z0, z[1]);
    z[1] = CSub(z0, z[1]);
}

void Butterfly3(TComplex* z)
{
    const TComplex t1 = CAdd(z[1], z[2]);
    z[0] = CAdd(z[0], t1);
    const TComplex m1 = CScale(t1, K3A);
    const TComplex m2 = MakeComplex(K3B * (z[1].Im - z[2].Im), K3B * (z[2].Re - z[1].Re));
    const TComplex s1 = CAdd(z[0], m1);
    z[1] = CAdd(s1, m2);
    z[2] = CSub(s1, m2);
}

void Butterfly4(TComplex* z)
{
    const TComplex t1 = CAdd(z[0], z[2]);
    const TComplex t2 = CAdd(z[1], z[3]);
    const TComplex m2 = CSub(z[0], z[2]);
    const TComplex m3 = MakeComplex(z[1].Im - z[3].Im, z[3].Re - z[1].Re);
    z[0] = CAdd(t1, t2);
    z[2] = CSub(t1, t2);
    z[1] = CAdd(m2, m3);
    z[3] = CSub(m2, m3);
}

void Butterfly5(TComplex* z)
{
    const TComplex t1 = CAdd(z[1], z[4]);
    const TComplex t2 = CAdd(z[2], z[3]);
    const TComplex t3 = CSub(z[1], z[4]);
    const TComplex t4 = CSub(z[3], z[2]);
    const TComplex t5 = CAdd(t1, t2);
    z[0] = CAdd(z[0], t5);
    const TComplex m1 = CScale(t5, K5A);
    const TComplex m2 = CScale(CSub(t1, t2), K5B);
    const TComplex m3 = MakeComplex(-K5C * (t3.Im + t4.Im), K5C * (t3.Re + t4.Re));
    const TComplex m4 = MakeComplex(-K5D * t4.Im, K5D * t4.Re);
    const TComplex m5 = MakeComplex(-K5E * t3.Im, K5E * t3.Re);
    const TComplex s3 = CSub(m3, m4);
    const TComplex s5 = CAdd(m3, m5);
    const TComplex s1 = CAdd(z[0], m1);
    const TComplex s2 = CAdd(s1, m2);
    const TComplex s4 = CSub(s1, m2);
    z[1] = CAdd(s2, s3);
    z[2] = CAdd(s4, s5);
    z[3] = CSub(s4, s5);
    z[4] = CSub(s2, s3);
}

void Butterfly8(TComplex* z)
{
    TComplex a[4] = {z[0], z[2], z[4], z[6]};
    TComplex b[4] = {z[1], z[3], z[5], z[7]};
    Butterfly4(a);
    Butterfly4(b);
    b[1] = MakeComplex(K8 * (b[1].Re + b[1].Im), K8 * (b[1].Im - b[1].Re));
    b[2] = MakeComplex(b[2].Im, -b[2].Re);
    b[3] = MakeComplex(K8 * (b[3].Im - b[3].Re), -K8 * (b[3].Re + b[3].Im));
    for (int k = 0; k < 4; ++k) {
        z[k] = CAdd(a[k], b[k]);
        z[k + 4] = CSub(a[k], b[k]);
    }
}

// Radix 5 by radix 2 with index maps, so no twiddles between the halves.
void Butterfly10(TComplex* z)
{
    TComplex a[5] = {z[0], z[2], z[4], z[6], z[8]};
    TComplex b[5] = {z[5], z[7], z[9], z[1], z[3]};
    Butterfly5(a);
    Butterfly5(b);
    z[0] = CAdd(a[0], b[0]);
    z[5] = CSub(a[0], b[0]);
    z[6] = CAdd(a[1], b[1]);
    z[1] = CSub(a[1], b[1]);
    z[2] = CAdd(a[2], b[2]);
    z[7] = CSub(a[2], b[2]);
    z[8] = CAdd(a[3], b[3]);
    z[3] = CSub(a[3], b[3]);
    z[4] = CAdd(a[4], b[4]);
    z[9] = CSub(a[4], b[4]);
}

// Any odd radix (and 1): pairs z_j with z_(r-j), so each product of a root
// and a pair serves two outputs. A and B hold (r + 1) div 2 elements at most.
void ButterflyOdd(TComplex* z, int r, const TComplex* root, TComplex* A, TComplex* B)
{
    const int h = (r + 1) / 2;
    for (int j = 1; j < h; ++j) {
        const TComplex& lo = z[j];
        const TComplex& hi = z[r - j];
        A[j] = MakeComplex(lo.Re + hi.Re, lo.Im - hi.Im);
        B[j] = MakeComplex(lo.Re - hi.Re, lo.Im + hi.Im);
    }
    const TComplex z0 = z[0];
    for (int j = 1; j < h; ++j) {
        TComplex lo = z0;
        TComplex hi = z0;
        int k = j;
        for (int i = 1; i < h; ++i) {
            const double rr = root[k].Re * A[i].Re;
            const double ii = root[k].Im * A[i].Im;
            const double ri = root[k].Re * B[i].Im;
            const double ir = root[k].Im * B[i].Re;
            hi.Re += rr + ii;
            hi.Im += ri - ir;
            lo.Re += rr - ii;
            lo.Im += ri + ir;
            k += j;
            if (k >= r)
                k -= r;
        }
        z[j] = lo;
        z[r - j] = hi;
    }
    for (int i = 1; i < h; ++i) {
        z[0].Re += A[i].Re;
        z[0].Im += B[i].Im;
    }
}

// One pass over Y: S columns of G groups of r elements, S apart. Rfixed is
// the radix when known at compile time, 0 for the general butterfly.
template <int Rfixed, class TButterfly>
void RunPass(Index S, int rRun, Index G, TComplex* Y, TWorkArea& work, TButterfly butterfly)
{
    const int r = Rfixed > 0 ? Rfixed : rRun;
    // A small radix gathers into a local array the compiler can hold in
    // registers; going through memory stalls on every store and reload.
    TComplex local[Rfixed > 0 ? Rfixed : 1];
    TComplex* z = Rfixed > 0 ? local : work.Gathered;
    TComplex* p = work.Powers;
    const TComplex w = UnitRoot(S * r);
    TComplex t = MakeComplex(1, 0);
    for (Index d = 0; d < S; ++d) {
        if (S > 1) {
            p[0] = MakeComplex(1, 0);
            p[1] = t;
            for (int k = 2; k < r; ++k)
                p[k] = CMul(t, p[k - 1]);
            t = CMul(w, t);
        }
        const bool twiddled = S > 1 && d > 0;
        for (Index g = 0; g < G; ++g) {
            TComplex* base = Y + d + g * S * r;
            z[0] = base[0];
            if (twiddled) {
                for (int k = 1; k < r; ++k)
                    z[k] = CMul(p[k], base[k * S]);
            } else {
                for (int k = 1; k < r; ++k)
                    z[k] = base[k * S];
            }
            butterfly(z);
            for (int k = 0; k < r; ++k)
                base[k * S] = z[k];
        }
    }
}

void RadixPass(Index S, int r, Index G, TComplex* Y, TWorkArea& work)
{
    BuildRootTable(r, work.Roots);
    switch (r) {
    case 2:
        RunPass<2>(S, r, G, Y, work, Butterfly2);
        break;
    case 3:
        RunPass<3>(S, r, G, Y, work, Butterfly3);
        break;
    case 4:
        RunPass<4>(S, r, G, Y, work, Butterfly4);
        break;
    case 5:
        RunPass<5>(S, r, G, Y, work, Butterfly5);
        break;
    case 8:
        RunPass<8>(S, r, G, Y, work, Butterfly8);
        break;
    case 10:
        RunPass<10>(S, r, G, Y, work, Butterfly10);
        break;
    default:
        RunPass<0>(S, r, G, Y, work, [r, &work](TComplex* z) {
            ButterflyOdd(z, r, work.Roots, work.OddSums, work.OddDiffs);
        });
        break;
    }
}

bool Overlap(const TComplex* a, const TComplex* b, Index n)
{
    // std::less gives a total order even for pointers into different arrays.
    const std::less<const TComplex*> before;
    return before(a, b + n) && before(b, a + n);
}

} // namespace

void ComplexFFT(const TComplex* Input, TComplex* Output, std::int32_t N)
{
    // A negative length is never passed by the program; doing nothing is the
    // only answer that cannot touch memory the caller does not own.
    if (N <= 0)
        return;

    const fftdetail::TFactorList factors = fftdetail::FactorLength(N);
    if (factors.Factors[0] > cMaxPrimeFactor)
        throw EMathError(FFTPrimeFactorMessage);

    TPlan plan;
    plan.m = factors.Count;
    plan.OuterCount[0] = N;
    for (int i = 1; i <= plan.m; ++i) {
        plan.Factors[i] = factors.Factors[i - 1];
        plan.InnerSize[i] = i == 1 ? 1 : plan.InnerSize[i - 1] * plan.Factors[i - 1];
        plan.OuterCount[i] = plan.OuterCount[i - 1] / plan.Factors[i];
    }

    // Allocate before writing anything, so a failed allocation leaves Output as it was.
    const TWorkAreaPtr work = NewWorkArea();

    // Storage shared in any part goes through a temporary, not only the very
    // same array: the reordering reads every element after some are written.
    if (Overlap(Input, Output, N)) {
        std::vector<TComplex> temp(static_cast<std::size_t>(N));
        ReorderInput(Input, temp.data(), N, plan);
        std::copy(temp.begin(), temp.end(), Output);
    } else {
        ReorderInput(Input, Output, N, plan);
    }

    for (int i = 1; i <= plan.m; ++i)
        RadixPass(plan.InnerSize[i], static_cast<int>(plan.Factors[i]), plan.OuterCount[i], Output, *work);
}

} // namespace vinsk
