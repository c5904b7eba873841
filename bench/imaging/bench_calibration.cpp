// Dark then flat correction of a 6000 x 4000 picture against the plainest
// pass over the same memory: read two rasters, write one.
#include <cmath>
#include <cstdint>

#include <benchmark/benchmark.h>

#include "bench/imaging/Comparisons.h"
#include "image/Calibration.h"

namespace {

constexpr std::int32_t W = 6000, H = 4000;

std::uint32_t Mix(std::uint32_t& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// An exposure, a dark and a vignetted flat with sensor-like noise.
struct TFrames {
    vinsk::TBitmap32 Image, Dark, Flat;

    TFrames()
    {
        Image.SetSize(W, H);
        Dark.SetSize(W, H);
        Flat.SetSize(W, H);
        std::uint32_t s = 12345;
        for (std::int32_t y = 0; y < H; ++y) {
            std::uint32_t* img = Image.ScanLine(y);
            std::uint32_t* drk = Dark.ScanLine(y);
            std::uint32_t* flt = Flat.ScanLine(y);
            for (std::int32_t x = 0; x < W; ++x) {
                const double r2 = (std::pow(x - W / 2.0, 2) + std::pow(y - H / 2.0, 2)) / (W * W / 4.0 + H * H / 4.0);
                const std::uint32_t v = Mix(s);
                const std::uint32_t d = 8 + (v & 7);
                const std::uint32_t f = static_cast<std::uint32_t>(185 * (1 - 0.3 * r2)) + ((v >> 3) & 3);
                const std::uint32_t p = 20 + ((v >> 8) & 63);
                img[x] = vinsk::Color32(255, p, p + 3, p + 1);
                drk[x] = vinsk::Color32(255, d, d, d + 1);
                flt[x] = vinsk::Color32(255, f, f - 2, f - 1);
            }
        }
    }
};

const TFrames& Frames()
{
    static const TFrames f;
    return f;
}

void BM_PlainTwoInOneOut(benchmark::State& state)
{
    const TFrames& f = Frames();
    vinsk::TBitmap32 img = f.Image;
    for (auto _ : state) {
        for (std::int32_t y = 0; y < H; ++y) {
            std::uint32_t* p = img.ScanLine(y);
            const std::uint32_t* d = f.Dark.ScanLine(y);
            for (std::int32_t x = 0; x < W; ++x)
                p[x] = (p[x] & 0xFF000000u) | ((p[x] - d[x]) & 0x00FFFFFFu);
        }
        benchmark::DoNotOptimize(img.Bits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainTwoInOneOut)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_DarkThenFlat(benchmark::State& state)
{
    const TFrames& f = Frames();
    vinsk::TImageState s;
    vinsk::TStatusPanels status;
    for (auto _ : state) {
        state.PauseTiming();
        s.Bitmap = f.Image;
        s.DarkApplied = s.FlatApplied = false;
        state.ResumeTiming();
        vinsk::ApplyDark(s, f.Dark, status);
        vinsk::ApplyFlat(s, f.Flat, status);
        benchmark::DoNotOptimize(s.Bitmap.Bits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DarkThenFlat)->Unit(benchmark::kMillisecond)->Repetitions(3);

using vinsk::bench::TClock;
const vinsk::bench::TCompare darkFlat("BM_DarkThenFlat", TClock::Process, "BM_PlainTwoInOneOut", TClock::Process, 2.0,
                                      "dark then flat, 6000 x 4000 / plain 2-in-1-out pass");

} // namespace
