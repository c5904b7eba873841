// The picture's own linear samples, kept beside the 8-bit raster when the
// source has more than 8 bits per sample, so measurements can use the full
// depth the camera recorded.
#pragma once

#include <cstdint>
#include <vector>

#include "linear/ClipMask.h"

namespace vinsk {

class TLinearPlane {
public:
    // Width x Height pixels of Channels samples (1: grey, 3: red, green,
    // blue), interleaved, row-major, top row first: the raster's geometry.
    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    int Channels() const { return FChannels; }
    // The source's sample depth: 16 for 16-bit integers, or the FITS BITPIX
    // (16, 32, -32, -64). Frames are applied only to a plane of equal depth.
    int SourceBits() const { return FSourceBits; }
    bool IsFloat() const { return !FFloat.empty(); }
    // Samples at or above it were clipped by the camera or the format:
    // 65535 for 16-bit samples unless the reader knows better, none
    // (infinity) for floats.
    float SaturationLevel() const { return FSaturation; }
    void SetSaturationLevel(float level) { FSaturation = level; }
    // The least difference between samples that means anything when they
    // are light made from whole stored levels: half the first level's step.
    // Negative when the samples are the stored ones.
    float NoiseFloor() const { return FNoiseFloor; }
    void SetNoiseFloor(float floor) { FNoiseFloor = floor; }
    // The samples clipped as loaded, once RecordClipping has run; the
    // calibration records them before it changes a value.
    const TClipMask& Clipped() const { return FClipped; }
    void RecordClipping();
    bool Empty() const { return FWidth <= 0 || FHeight <= 0 || (FU16.empty() && FFloat.empty()); }

    // Every sample 0. Throws std::bad_alloc when the memory is not there.
    void Allocate16(std::int32_t width, std::int32_t height, int channels, int sourceBits);
    void AllocateFloat(std::int32_t width, std::int32_t height, int channels, int sourceBits);
    void Release();

    std::uint16_t* U16() { return FU16.data(); }
    const std::uint16_t* U16() const { return FU16.data(); }
    float* Float() { return FFloat.data(); }
    const float* Float() const { return FFloat.data(); }

    // Sample c (0 .. Channels - 1) of pixel (x, y); the caller keeps inside.
    float Sample(std::int32_t x, std::int32_t y, int c) const
    {
        const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
                               static_cast<std::size_t>(x)) * static_cast<std::size_t>(FChannels) +
                              static_cast<std::size_t>(c);
        return FFloat.empty() ? static_cast<float>(FU16[i]) : FFloat[i];
    }
    std::size_t SampleCount() const
    {
        return static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight) * static_cast<std::size_t>(FChannels);
    }
    std::uint64_t Bytes() const { return SampleCount() * (IsFloat() ? 4u : 2u); }

    // The same samples held as floats (a copy when they are 16-bit).
    void ToFloat();
    void Swap(TLinearPlane& other) noexcept;

private:
    void SetShape(std::int32_t width, std::int32_t height, int channels, int sourceBits, float saturation);

    std::int32_t FWidth = 0;
    std::int32_t FHeight = 0;
    int FChannels = 0;
    int FSourceBits = 0;
    float FSaturation = 0;
    float FNoiseFloor = -1;
    std::vector<std::uint16_t> FU16;
    std::vector<float> FFloat;
    TClipMask FClipped;
};

} // namespace vinsk
