// The settings text parser on arbitrary bytes, with both decimal separators.
#include <cstddef>
#include <cstdint>
#include <string>

#include "setup/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const vinsk::TExperiment current;
    for (char sep : {'.', ','}) {
        const vinsk::TSettingsLoad load = vinsk::LoadSettingsText(text, current, sep);
        for (const vinsk::TSettingsValue& v : load.Values)
            if (v.FieldName == nullptr)
                __builtin_trap();
    }
    return 0;
}
