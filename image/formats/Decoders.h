// The picture readers on memory buffers. Each one decodes a complete file
// image into `out` or throws EPictureError with the problem (without the file
// name, which LoadPicture adds); on failure `out` is untouched.
#pragma once

#include <cstdint>
#include <span>

#include "image/Bitmap32.h"
#include "image/formats/Picture.h"

namespace vinsk::formats {

using TBytes = std::span<const std::uint8_t>;

// What a declared picture may ask for before anything is allocated.
struct TDecodeLimits {
    std::int64_t MaxSide = 30000;            // pixels, either direction
    std::uint64_t MaxBytes = 2ull << 30;     // bytes of the 32-bit raster (and linear samples)
};

void DecodeBmp(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeIco(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeTga(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodePcx(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeSgi(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodePsd(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodePnm(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeJpeg(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodePng(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeTiff(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
// The readers that can keep linear samples: with `extras` they also fill its
// plane when the source has more than 8 bits per sample (and, for FITS and
// RAW, its Setup values), and the limits count raster and plane together.
// With nullptr they deliver the raster alone.
void DecodeSgi(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodePsd(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodePnm(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodePng(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodeTiff(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
// FITS through cfitsio (also tile-compressed), camera RAW through LibRaw.
void DecodeFits(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodeRaw(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
// Through GraphicsMagick.
void DecodePcd(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeCut(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeRla(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});

} // namespace vinsk::formats
