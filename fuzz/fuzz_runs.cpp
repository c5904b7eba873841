// The run reader on arbitrary bytes: a text that reads as a run goes on to
// be compared with itself and averaged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/Runs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const vinsk::TRunRead read = vinsk::ReadRunReport(text, "fuzz.json");
    if (read.Run.has_value() == !read.Message.empty())
        __builtin_trap(); // a run, or a message: never both, never neither
    if (read.Run) {
        const std::vector<vinsk::TRunReport> runs = {*read.Run, *read.Run};
        const vinsk::TRunsComparison c = vinsk::CompareRuns(runs, true);
        (void)vinsk::AverageRuns(runs, c);
    }
    return 0;
}
