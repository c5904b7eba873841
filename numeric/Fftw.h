// FFTW's real-to-complex transform, owned and safe to use from several
// threads at once.
//
// FFTW's planner is not thread-safe: plans are made and destroyed here under
// one lock, while the transforms themselves run concurrently. Plans are kept
// by size and shared; the buffers free themselves when an exception passes.
#pragma once

#include <cstddef>
#include <memory>

namespace vinsk {

class TRealFft {
public:
    // A transform of n real values (n >= 1); throws std::bad_alloc when
    // FFTW cannot allocate.
    explicit TRealFft(std::size_t n);
    ~TRealFft();
    TRealFft(const TRealFft&) = delete;
    TRealFft& operator=(const TRealFft&) = delete;

    std::size_t Size() const { return FSize; }
    std::size_t Bins() const { return FSize / 2 + 1; }
    double* In() { return FIn.get(); }
    // Bin k = 0 .. n/2: its real and imaginary parts.
    const double (*Out() const)[2] { return FOut.get(); }
    void Execute();

private:
    struct TFree {
        void operator()(void* p) const;
    };
    std::size_t FSize;
    std::unique_ptr<double[], TFree> FIn;
    std::unique_ptr<double[][2], TFree> FOut;
    void* FPlan = nullptr;
    bool FOwnPlan = false; // made for this transform alone, not kept
};

} // namespace vinsk
