// Read access to a picture's samples, whatever holds them: the 32-bit raster,
// or the linear samples where a picture brings them. The trail finder and the
// drive analysis both read the picture through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/Bitmap32.h"
#include "linear/LinearPlane.h"

namespace vinsk {

// Item indices of the channel choice; any other index reads as ChannelAvg.
// ChannelAvg is the mean of red, green and blue.
enum TChannel : int { ChannelR = 0, ChannelG = 1, ChannelB = 2, ChannelAvg = 3 };

// The channel an item index names.
inline TChannel ChannelOf(int index)
{
    return index >= ChannelR && index <= ChannelB ? static_cast<TChannel>(index) : ChannelAvg;
}

class TSampleSource {
public:
    virtual ~TSampleSource() = default;

    virtual std::int32_t Width() const = 0;
    virtual std::int32_t Height() const = 0;

    // The sample at (x, y) inside the picture, 0 <= x < Width, 0 <= y < Height.
    // Sets saturated when a sample that enters the value is at or above the
    // source's saturation level; leaves it alone otherwise.
    virtual double Value(std::int32_t x, std::int32_t y, TChannel channel, bool& saturated) const = 0;
    double Value(std::int32_t x, std::int32_t y, TChannel channel) const
    {
        bool unused = false;
        return Value(x, y, channel, unused);
    }

    // Bilinear interpolation between the four pixels around (x, y), which
    // must lie inside the picture: 0 <= x <= Width - 1, 0 <= y <= Height - 1.
    // The default reads Value.
    virtual double Interpolated(double x, double y, TChannel channel) const;

    // The values of a block of w x h pixels from (x, y), row r at
    // values + r * stride, and a non-zero saturated flag for each at the same
    // place: reading the picture in small tiles through this avoids a virtual
    // call per pixel. The default reads Value.
    virtual void Block(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, TChannel channel,
                       float* values, std::uint8_t* saturated, std::size_t stride) const;

    // For the rows y0 .. y1 - 1 of a channel, adds the sum of the samples in
    // each run of `bin` columns to acc[0 .. ceil(Width / bin) - 1]. Whole-
    // picture passes use this; the default reads Value pixel by pixel.
    virtual void AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, TChannel channel, float* acc) const;

    // The least noise a difference between samples must exceed to mean
    // anything: whole levels step by one, so a steady background can show
    // steps of a level that no averaging removes. 0 for continuous samples.
    virtual double NoiseFloor() const { return 0; }
};

// The raster's colour words as samples 0 ... 255; 255 is saturated.
class TRasterSamples final : public TSampleSource {
public:
    // The raster must outlive this view of it.
    explicit TRasterSamples(const TBitmap32& bitmap) : FBitmap(bitmap) {}

    using TSampleSource::Value;
    std::int32_t Width() const override { return FBitmap.Width(); }
    std::int32_t Height() const override { return FBitmap.Height(); }
    double Value(std::int32_t x, std::int32_t y, TChannel channel, bool& saturated) const override;
    double Interpolated(double x, double y, TChannel channel) const override;
    void Block(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, TChannel channel, float* values,
               std::uint8_t* saturated, std::size_t stride) const override;
    void AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, TChannel channel, float* acc) const override;
    double NoiseFloor() const override { return 0.5; }

private:
    const TBitmap32& FBitmap;
};

// The picture's linear samples (16-bit or float): the depth the camera
// recorded. Grey samples serve every channel; a sample at or above the
// plane's saturation level is saturated.
class TLinearSamples final : public TSampleSource {
public:
    // The plane must outlive this view of it.
    explicit TLinearSamples(const TLinearPlane& plane) : FPlane(plane) {}

    using TSampleSource::Value;
    std::int32_t Width() const override { return FPlane.Width(); }
    std::int32_t Height() const override { return FPlane.Height(); }
    double Value(std::int32_t x, std::int32_t y, TChannel channel, bool& saturated) const override;
    // 16-bit samples step by whole levels, as the raster's do; light made
    // from whole levels by the first level's step.
    double NoiseFloor() const override
    {
        return FPlane.NoiseFloor() >= 0 ? FPlane.NoiseFloor() : FPlane.IsFloat() ? 0.0 : 0.5;
    }

private:
    const TLinearPlane& FPlane;
};

// The source a measurement reads: the linear samples when the picture has
// them (of the raster's size), otherwise the raster. The window and the
// command line choose through this, so both read the same samples.
const TSampleSource& PictureSamples(const TBitmap32& bitmap, const TLinearPlane& plane,
                                    std::optional<TRasterSamples>& raster, std::optional<TLinearSamples>& linear);

} // namespace vinsk
