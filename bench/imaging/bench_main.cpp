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
            // Seconds per iteration; of repetitions the fastest counts, the
            // least disturbed by the other processes.
            const double n = static_cast<double>(r.iterations);
            Keep(Manual, r.run_name.function_name, r.real_accumulated_time / n);
            Keep(Process, r.run_name.function_name, r.cpu_accumulated_time / n);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    static void Keep(std::map<std::string, double>& m, const std::string& name, double t)
    {
        auto [it, fresh] = m.emplace(name, t);
        if (!fresh && t < it->second)
            it->second = t;
    }

    const std::map<std::string, double>& Of(TClock c) const { return c == TClock::Process ? Process : Manual; }

    std::map<std::string, double> Manual, Process;
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

    std::printf("\nRatios of processor times (user + system), this run:\n");
    for (const TComparison& c : Comparisons()) {
        const auto& subjects = reporter.Of(c.SubjectClock);
        const auto& baselines = reporter.Of(c.BaselineClock);
        const auto s = subjects.find(c.Subject);
        const auto b = baselines.find(c.Baseline);
        if (s == subjects.end() || b == baselines.end()) {
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
