// The device-independent bitmap shared by the BMP and the icon readers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

enum class TDibCompression : std::uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

struct TDibInfo {
    std::int64_t Width = 0;
    std::int64_t Height = 0; // rows, always positive
    bool TopDown = false;
    std::uint32_t BitCount = 0;
    TDibCompression Compression = TDibCompression::Rgb;
    std::array<std::uint32_t, 4> Masks{}; // red, green, blue, alpha (BitFields only)
    std::vector<std::uint32_t> Palette;   // opaque colour words
};

// Reads the info header, the colour masks and the palette from the reader's
// position. `paletteEnd` bounds the palette (the pixel offset of a file, or
// the buffer size); the reader stops after the palette.
TDibInfo ReadDibHeader(TByteReader& r, std::size_t paletteEnd);

// Bytes of one stored row of an uncompressed DIB (rows padded to 4 bytes).
std::uint64_t DibRowBytes(const TDibInfo& info);

// Decodes the pixels that start at `offset` into `bmp`, which must already
// have the info's size. Fails when the data are short.
void DecodeDibPixels(TBytes data, std::size_t offset, const TDibInfo& info, TBitmap32& bmp);

} // namespace vinsk::formats
