// Runs the benchmarks and reports each comparison as a ratio of real times
// measured in this one run.
#include <cstdio>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/imaging/Comparisons.h"

namespace vinsk::bench {

std::vector<TComparison>& Comparisons()
{
    static std::vector<TComparison> list;
    return list;
}

namespace {

class TCollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration)
                continue;
            if (r.error_occurred) {
                Errors[r.run_name.function_name] = r.error_message;
                continue;
            }
            // Seconds per iteration; a benchmark run with repetitions keeps its
            // fastest one, the least disturbed by the other processes.
            const double t = r.real_accumulated_time / static_cast<double>(r.iterations);
            auto [it, fresh] = Seconds.emplace(r.run_name.function_name, t);
            if (!fresh && t < it->second)
                it->second = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> Seconds;
    std::map<std::string, std::string> Errors;
};

} // namespace

} // namespace vinsk::bench

int main(int argc, char** argv)
{
    using namespace vinsk::bench;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TCollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nRatios (real time, this run):\n");
    for (const TComparison& c : Comparisons()) {
        const auto s = reporter.Seconds.find(c.Subject);
        const auto b = reporter.Seconds.find(c.Baseline);
        if (s == reporter.Seconds.end() || b == reporter.Seconds.end()) {
            std::string why = "not run";
            for (const std::string* n : {&c.Subject, &c.Baseline})
                if (auto e = reporter.Errors.find(*n); e != reporter.Errors.end())
                    why = e->second;
            std::printf("  %-58s  n/a (%s)\n", c.What.c_str(), why.c_str());
            continue;
        }
        const double ratio = s->second / b->second;
        std::printf("  %-58s %6.2f  (%.1f ms / %.1f ms, goal <= %.2f: %s)\n", c.What.c_str(), ratio,
                    s->second * 1e3, b->second * 1e3, c.Goal, ratio <= c.Goal ? "met" : "missed");
    }
    return 0;
}
