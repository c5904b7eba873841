// A deep picture reader on arbitrary bytes (FITS through cfitsio, or camera
// RAW through LibRaw: open from memory, unpack, process at half size),
// keeping the linear samples and the file's Setup values as the window does.
// Refusals are EPictureError; any other exception, a crash or a sanitizer
// report is a finding, and so is anything the library prints.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "image/formats/Decoders.h"

// cfitsio and LibRaw ask for what a damaged header claims and handle a
// refusal; the sanitizer refuses a huge request instead of stopping.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vinsk::formats::TDecodeLimits limits;
    limits.Budget = 16u << 20;
    vinsk::TBitmap32 bmp;
    vinsk::TPictureExtras extras;
    const off_t errBefore = lseek(2, 0, SEEK_CUR);
    try {
        vinsk::formats::VINSK_FUZZ_DECODER(vinsk::formats::TBytes(data, size), bmp, &extras, limits);
    } catch (const vinsk::EPictureError&) {
        return 0;
    }
    // Raster and samples together stay within the limit, and match.
    const vinsk::TLinearPlane& p = extras.Linear;
    if (bmp.Empty() || p.Width() != bmp.Width() || p.Height() != bmp.Height() ||
        static_cast<std::uint64_t>(bmp.Width()) * bmp.Height() * 4 + p.Bytes() > limits.Budget)
        __builtin_trap();
    // With standard error on a file, a message written there moves its offset.
    if (errBefore >= 0 && lseek(2, 0, SEEK_CUR) != errBefore)
        __builtin_trap();
    return 0;
}
