// Benchmarks that are judged as a ratio against a baseline measured in the
// same run: each comparison names the two benchmark runs and the goal.
#pragma once

#include <string>
#include <vector>

namespace vinsk::bench {

struct TComparison {
    std::string Subject;  // benchmark name, e.g. "BM_DarkThenFlat"
    std::string Baseline; // benchmark name of the reference
    double Goal;          // the ratio subject / baseline should not exceed
    std::string What;     // one line for the report
};

std::vector<TComparison>& Comparisons();

// Registers a comparison at static initialisation.
struct TCompare {
    TCompare(std::string subject, std::string baseline, double goal, std::string what)
    {
        Comparisons().push_back({std::move(subject), std::move(baseline), goal, std::move(what)});
    }
};

} // namespace vinsk::bench
