#include "image/MemoryBudget.h"

#include <cstdio>

namespace vinsk {

std::string LimitText(std::uint64_t bytes)
{
    if (bytes >= (1ull << 30) && bytes % (1ull << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes >= (1ull << 20) && bytes % (1ull << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string NeedText(std::uint64_t bytes)
{
    char text[32];
    // Rounded up: a need shown as the limit itself would read as no refusal.
    const std::uint64_t tenths = (bytes + 99'999'999) / 100'000'000;
    std::snprintf(text, sizeof text, "%llu.%llu GB", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
    return text;
}

} // namespace vinsk
