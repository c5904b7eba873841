// What keeps a malformed FITS file away from cfitsio. cfitsio 4.2 trusts
// what a header and a tile claim: it aborts, divides by zero or reads and
// allocates far past a tile on values no valid file holds. Every header is
// checked before cfitsio opens the file, and a compressed image's tiles
// before it decodes them; a refusal names what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>

#include <fitsio.h>

#include "image/formats/Decoders.h"
#include "image/formats/FitsCards.h"

namespace vinsk::formats::fits {

struct TImageInfo {
    int Bitpix = 0;
    int Naxis = 0;
    long long Naxes[3] = {1, 1, 1};
};

// cfitsio's status text and the messages it stacked, as our refusal.
[[noreturn]] void FailFits(int status);
// The tile's number as the reader counts it (the table row, from 1).
[[noreturn]] void FailTile(long long row);

// Every card of every header in `data`: values cfitsio cannot take, and the
// compression parameters it divides by.
void CheckHeaders(TBytes data);

// The compressed image's data unit, table and tiles, with cfitsio positioned
// at its table; `buffer` holds the bytes cfitsio reads, `fileSize` the
// file's real size. Returns the bytes of the largest tile's stream.
std::uint64_t CheckCompressedDataUnit(fitsfile* f, const THeader& h, const TImageInfo& info, std::size_t fileSize,
                                      TBytes buffer);

} // namespace vinsk::formats::fits
