// One picture reader on arbitrary bytes. Refusals are EPictureError; any
// other exception, a crash or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>

#include "image/formats/Decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Small enough that a hostile size costs little time per run, large
    // enough that every size check is reached.
    vinsk::formats::TDecodeLimits limits;
    limits.Budget = 16u << 20;
    vinsk::TBitmap32 bmp;
    try {
        vinsk::formats::VINSK_FUZZ_DECODER(vinsk::formats::TBytes(data, size), bmp, limits);
    } catch (const vinsk::EPictureError&) {
        return 0;
    }
    // A decoded raster must be whole.
    if (bmp.Empty() || static_cast<std::size_t>(bmp.Width()) * bmp.Height() * 4 > limits.Budget)
        __builtin_trap();
    return 0;
}
