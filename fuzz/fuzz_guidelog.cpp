// The guide-log reader on arbitrary bytes: every section listed, the longest
// read, and a series that reads goes through the analysis of positions.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "drive/DrivePositions.h"
#include "guidelog/GuideLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream list(text);
    (void)vinsk::ListGuideSections(list);
    std::istringstream in(text);
    const vinsk::TGuideSeries s = vinsk::ReadGuideLog(in, {});
    if (!s.Refused()) {
        const vinsk::TDriveResult r = vinsk::AnalysePositions(s.Time, s.PE, vinsk::TDriveSettings{}, 15.041);
        if (!r.Refused() && r.Error.size() != s.PE.size())
            __builtin_trap();
    }
    return 0;
}
