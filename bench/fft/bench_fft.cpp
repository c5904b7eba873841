// ComplexFFT against FFTW and against a plain O(N^2) transform. After the run
// a summary gives each time as a ratio to FFTW's time for the same length,
// measured in the same run.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fft/FFTs.h"

using namespace vinsk;

namespace {

const std::vector<int> Lengths = {480, 1000, 1024, 2310, 4096, 6000, 8191, 16382};

std::vector<TComplex> RandomSeries(int n)
{
    std::mt19937 gen(static_cast<unsigned>(n));
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<TComplex> x(static_cast<std::size_t>(n));
    for (TComplex& v : x)
        v = {u(gen), u(gen)};
    return x;
}

void BM_ComplexFFT(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<TComplex> x = RandomSeries(n);
    std::vector<TComplex> y(x.size());
    for (auto _ : state) {
        ComplexFFT(x.data(), y.data(), n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
}

void BM_FFTW(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n));
    // Planning with MEASURE overwrites the arrays, so the data comes after it.
    const fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    const std::vector<TComplex> x = RandomSeries(n);
    for (int i = 0; i < n; ++i) {
        in[i][0] = x[i].Re;
        in[i][1] = x[i].Im;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

void BM_PlainDFT(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<TComplex> x = RandomSeries(n);
    std::vector<TComplex> root(x.size());
    for (int m = 0; m < n; ++m) {
        const double a = 2 * std::numbers::pi * m / n;
        root[m] = {std::cos(a), -std::sin(a)};
    }
    std::vector<TComplex> y(x.size());
    for (auto _ : state) {
        for (int j = 0; j < n; ++j) {
            double re = 0;
            double im = 0;
            int m = 0;
            for (int k = 0; k < n; ++k) {
                re += x[k].Re * root[m].Re - x[k].Im * root[m].Im;
                im += x[k].Im * root[m].Re + x[k].Re * root[m].Im;
                m += j;
                if (m >= n)
                    m -= n;
            }
            y[j] = {re, im};
        }
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
}

void Register()
{
    for (int n : Lengths) {
        benchmark::RegisterBenchmark("ComplexFFT", BM_ComplexFFT)->Arg(n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("FFTW", BM_FFTW)->Arg(n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("PlainDFT", BM_PlainDFT)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
}

// Keeps the console output and remembers the time per iteration of each run.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const std::string name = run.run_name.function_name;
            const int n = std::stoi(run.run_name.args);
            Times[n][name] = run.GetAdjustedRealTime();
        }
    }

    void PrintSummary() const
    {
        std::printf("\nTime relative to FFTW (same run, same length):\n");
        std::printf("%8s %12s %12s %14s\n", "N", "FFTW", "ComplexFFT", "PlainDFT");
        for (const auto& [n, byName] : Times) {
            const auto fftw = byName.find("FFTW");
            if (fftw == byName.end() || fftw->second <= 0)
                continue;
            auto ratio = [&](const char* name) {
                const auto it = byName.find(name);
                return it == byName.end() ? std::nan("") : it->second / fftw->second;
            };
            std::printf("%8d %12.1f %12.2f %14.1f\n", n, 1.0, ratio("ComplexFFT"), ratio("PlainDFT"));
        }
    }

private:
    std::map<int, std::map<std::string, double>> Times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Register();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
