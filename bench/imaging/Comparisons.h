// Benchmarks that are judged as a ratio against a baseline measured in the
// same run: each comparison names the two benchmark runs and the goal.
// Times are processor times (user + system), which other processes on the
// machine disturb far less than wall-clock times: the process's own for
// in-process benchmarks, the child's (reported as manual time) for a tool.
#pragma once

#include <string>
#include <vector>

namespace vinsk::bench {

enum class TClock {
    Process, // the benchmark's CPU time column
    Manual,  // the time the benchmark reported itself (a child's CPU time)
};

struct TComparison {
    std::string Subject;  // benchmark name, e.g. "BM_DarkThenFlat"
    TClock SubjectClock;
    std::string Baseline; // benchmark name of the reference
    TClock BaselineClock;
    double Goal;          // the ratio subject / baseline should not exceed
    std::string What;     // one line for the report
};

std::vector<TComparison>& Comparisons();

// Registers a comparison at static initialisation.
struct TCompare {
    TCompare(std::string subject, TClock subjectClock, std::string baseline, TClock baselineClock, double goal,
             std::string what)
    {
        Comparisons().push_back(
            {std::move(subject), subjectClock, std::move(baseline), baselineClock, goal, std::move(what)});
    }
};

} // namespace vinsk::bench
