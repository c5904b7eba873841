// The picture readers on memory buffers. Each one decodes a complete file
// image into `out` or throws EPictureError with the problem (without the file
// name, which LoadPicture adds); on failure `out` is untouched.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/Bitmap32.h"
#include "image/MemoryBudget.h"
#include "image/formats/Picture.h"

namespace vinsk::formats {

using TBytes = std::span<const std::uint8_t>;

// What a declared picture may ask for before anything is allocated.
struct TDecodeLimits {
    std::int64_t MaxSide = 30000; // pixels, either direction
    // Every byte of the load counts against the one budget: what is held
    // already (the file's copy, a picture a frame is loaded for) and what the
    // decoder would allocate (its buffers, the raster, the linear samples).
    std::uint64_t Budget = MemoryBudget;
    std::uint64_t Held = 0;
    std::string Together; // names the held picture with the new one in a refusal, when there is one

    // What the decoder may still allocate.
    std::uint64_t Room() const { return Held < Budget ? Budget - Held : 0; }
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
// 8 bits only: extras carries what the file says of its tone curve.
void DecodeJpeg(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
// FITS through cfitsio (also tile-compressed), camera RAW through LibRaw.
void DecodeFits(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
void DecodeRaw(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits = {});
// Whether cfitsio was built with its locks, so that two FITS files may be
// read on two threads at once.
bool FitsReentrant();
// Through GraphicsMagick.
void DecodePcd(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeCut(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});
void DecodeRla(TBytes data, TBitmap32& out, const TDecodeLimits& limits = {});

} // namespace vinsk::formats
