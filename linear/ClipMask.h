// Which samples of a picture its source clipped, recorded before a dark or a
// flat changes the values: a clipped sample that a dark lowers is still
// clipped, and one that a flat lifts over the level without having been
// clipped is not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vinsk {

class TClipMask {
public:
    // Until recorded, the values themselves say what is clipped.
    bool Recorded() const { return FRecorded; }

    // Recorded, with nothing clipped yet, for a picture of `pixels` pixels.
    void Start(std::size_t pixels)
    {
        FRecorded = true;
        FPixels = pixels;
        FBits.clear();
    }
    // Channel 0 to 7 of the pixel was clipped. The mask, a byte a pixel, is
    // held only once a clipped sample is met: most pictures need none.
    void Mark(std::size_t pixel, int channel)
    {
        if (FBits.empty())
            FBits.assign(FPixels, 0);
        FBits[pixel] = static_cast<std::uint8_t>(FBits[pixel] | (1u << channel));
    }
    // Whether any sample was marked.
    bool Any() const { return !FBits.empty(); }
    // One bit per clipped channel of the pixel.
    std::uint8_t Bits(std::size_t pixel) const { return FBits.empty() ? 0 : FBits[pixel]; }
    bool Clipped(std::size_t pixel, int channel) const { return ((Bits(pixel) >> channel) & 1u) != 0; }

    void Clear()
    {
        FRecorded = false;
        FPixels = 0;
        std::vector<std::uint8_t>().swap(FBits);
    }
    void Swap(TClipMask& o) noexcept
    {
        std::swap(FRecorded, o.FRecorded);
        std::swap(FPixels, o.FPixels);
        FBits.swap(o.FBits);
    }

private:
    bool FRecorded = false;
    std::size_t FPixels = 0;
    std::vector<std::uint8_t> FBits;
};

} // namespace vinsk
