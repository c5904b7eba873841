// The one memory budget of a loaded picture: every buffer held at the
// load's peak counts against it (the file's copy, the decoders' buffers, the
// raster, the linear samples, and the picture a frame is applied to).
#pragma once

#include <cstdint>
#include <string>

namespace vinsk {

inline constexpr std::uint64_t MemoryBudget = 2ull << 30;

// What a load must leave room for: the bytes already held beside it (the
// picture a dark or flat frame is loaded for) and how a refusal names them
// together with the new ones ("The picture and the dark frame together").
struct TMemoryHeld {
    std::uint64_t Bytes = 0;
    std::string Together;
};

// "2 GiB", "16 MiB", "1000 bytes": a limit, exact.
std::string LimitText(std::uint64_t bytes);

// "4.6 GB": what something needs, to one decimal.
std::string NeedText(std::uint64_t bytes);

} // namespace vinsk
