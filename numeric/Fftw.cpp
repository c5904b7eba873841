#include "numeric/Fftw.h"

#include <mutex>
#include <new>

#include <fftw3.h>

namespace vinsk {

namespace {

std::mutex& PlannerLock()
{
    static std::mutex m;
    return m;
}

} // namespace

void TRealFft::TFree::operator()(void* p) const
{
    fftw_free(p);
}

TRealFft::TRealFft(std::size_t n)
    : FSize(n), FIn(fftw_alloc_real(n)), FOut(reinterpret_cast<double(*)[2]>(fftw_alloc_complex(n / 2 + 1)))
{
    if (!FIn || !FOut)
        throw std::bad_alloc();
    std::lock_guard<std::mutex> lock(PlannerLock());
    FPlan = fftw_plan_dft_r2c_1d(static_cast<int>(n), FIn.get(), reinterpret_cast<fftw_complex*>(FOut.get()),
                                 FFTW_ESTIMATE);
    if (FPlan == nullptr)
        throw std::bad_alloc();
}

TRealFft::~TRealFft()
{
    std::lock_guard<std::mutex> lock(PlannerLock());
    fftw_destroy_plan(static_cast<fftw_plan>(FPlan));
}

void TRealFft::Execute()
{
    fftw_execute(static_cast<fftw_plan>(FPlan));
}

} // namespace vinsk
