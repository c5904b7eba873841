// Read access to a picture's samples, whatever holds them: the 32-bit raster
// today, linear samples where a picture brings them.
#pragma once

#include <cstdint>

#include "analysis/Sampling.h"
#include "image/Bitmap32.h"

namespace vinsk {

class TSampleSource {
public:
    virtual ~TSampleSource() = default;

    virtual std::int32_t Width() const = 0;
    virtual std::int32_t Height() const = 0;

    // The sample at (x, y) inside the picture, 0 <= x < Width, 0 <= y < Height;
    // channel ChannelR ... ChannelB, or ChannelAvg for their mean.
    virtual double Value(std::int32_t x, std::int32_t y, int channel) const = 0;

    // Bilinear interpolation between the four pixels around (x, y), which
    // must lie inside the picture: 0 <= x <= Width - 1, 0 <= y <= Height - 1.
    // The default reads Value.
    virtual double Interpolated(double x, double y, int channel) const;

    // For the rows y0 .. y1 - 1 of a channel, adds the sum of the samples in
    // each run of `bin` columns to acc[0 .. ceil(Width / bin) - 1]. Whole-
    // picture passes use this; the default reads Value pixel by pixel.
    virtual void AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, int channel, float* acc) const;

    // The least noise a difference between samples must exceed to mean
    // anything: whole levels step by one, so a steady background can show
    // steps of a level that no averaging removes. 0 for continuous samples.
    virtual double NoiseFloor() const { return 0; }
};

// The raster's colour words as samples 0 ... 255.
class TRasterSampleSource final : public TSampleSource {
public:
    // The raster must outlive this view of it.
    explicit TRasterSampleSource(const TBitmap32& bitmap) : FBitmap(bitmap) {}

    std::int32_t Width() const override { return FBitmap.Width(); }
    std::int32_t Height() const override { return FBitmap.Height(); }
    double Value(std::int32_t x, std::int32_t y, int channel) const override;
    double Interpolated(double x, double y, int channel) const override;
    void AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, int channel, float* acc) const override;
    double NoiseFloor() const override { return 0.5; }

private:
    const TBitmap32& FBitmap;
};

} // namespace vinsk
