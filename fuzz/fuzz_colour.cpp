// The colour declarations a picture file carries, on arbitrary bytes: an ICC
// profile through LittleCMS, and an EXIF block through the bounded IFD
// reader. A curve that comes back must give light within 0 .. 1.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/formats/ColourDeclarations.h"

namespace {

void Check(const std::optional<vinsk::TTransfer>& t)
{
    if (!t)
        return;
    for (int c = 0; c < 3; ++c)
        for (double v : {0.0, 0.25, 0.5, 1.0}) {
            const double l = vinsk::LightOf(*t, v, c);
            if (!(l >= 0 && l <= 1.0000001))
                __builtin_trap();
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    Check(vinsk::formats::TransferOfIccProfile(bytes));
    Check(vinsk::formats::TransferOfExif(bytes));
    return 0;
}
