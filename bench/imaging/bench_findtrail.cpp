// Finding the trail on a 6000 x 4000 picture against one plain pass over the
// same raster (each pixel's three channels summed).
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include <benchmark/benchmark.h>

#include "bench/imaging/Comparisons.h"
#include "findtrail/FindTrail.h"

namespace {

constexpr std::int32_t W = 6000, H = 4000;

// A noisy, vignetted sky with a 5000-px trail bowed 60 px, 2 px sigma.
const vinsk::TBitmap32& Picture()
{
    static const vinsk::TBitmap32 bmp = [] {
        vinsk::TBitmap32 b;
        b.SetSize(W, H);
        std::uint32_t s = 2463534242u;
        for (std::int32_t y = 0; y < H; ++y) {
            std::uint32_t* row = b.ScanLine(y);
            for (std::int32_t x = 0; x < W; ++x) {
                s ^= s << 13;
                s ^= s >> 17;
                s ^= s << 5;
                const double r2 = ((x - W / 2.0) * (x - W / 2.0) + (y - H / 2.0) * (y - H / 2.0)) / (W * W / 4.0);
                const auto v = static_cast<std::uint32_t>(12 * (1 - 0.25 * r2)) + (s & 3) + ((s >> 2) & 3);
                row[x] = vinsk::Color32(255, v, v, v);
            }
        }
        for (std::int32_t x = 500; x <= 5500; ++x) {
            const double t = (x - 3000) / 2500.0;
            const double yc = 1800 + 0.05 * (x - 500) - 60 * (1 - t * t);
            for (auto y = static_cast<std::int32_t>(yc) - 10; y <= static_cast<std::int32_t>(yc) + 10; ++y) {
                const double d = y - yc;
                const std::uint32_t c = b.PixelS(x, y);
                const auto v = std::min<std::uint32_t>(255, vinsk::ColorR(c) + static_cast<std::uint32_t>(
                                                                                   150 * std::exp(-d * d / 8)));
                b.SetPixelS(x, y, vinsk::Color32(255, v, v, v));
            }
        }
        return b;
    }();
    return bmp;
}

void BM_PlainPass(benchmark::State& state)
{
    const vinsk::TBitmap32& b = Picture();
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (std::int32_t y = 0; y < H; ++y) {
            const std::uint32_t* row = b.ScanLine(y);
            for (std::int32_t x = 0; x < W; ++x)
                sum += vinsk::ColorR(row[x]) + vinsk::ColorG(row[x]) + vinsk::ColorB(row[x]);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PlainPass)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_FindTrail(benchmark::State& state)
{
    const vinsk::TBitmap32& b = Picture();
    for (auto _ : state) {
        const vinsk::TTrailSearch s = vinsk::FindTrail(vinsk::TRasterSamples(b));
        if (!s.Points) {
            state.SkipWithError(s.Message.c_str());
            break;
        }
        benchmark::DoNotOptimize(s.Points);
    }
}
BENCHMARK(BM_FindTrail)->Unit(benchmark::kMillisecond)->Repetitions(3);

using vinsk::bench::TClock;
const vinsk::bench::TCompare findTrail("BM_FindTrail", TClock::Process, "BM_PlainPass", TClock::Process, 5.0,
                                       "trail finding, 6000 x 4000 / one plain pass over the raster");

} // namespace
