#include "findtrail/SampleSource.h"

namespace vinsk {

void TSampleSource::ReadRow(std::int32_t y, int channel, float* out) const
{
    const std::int32_t w = Width();
    for (std::int32_t x = 0; x < w; ++x)
        out[x] = static_cast<float>(Value(x, y, channel));
}

namespace {

// The three channels' sum: the mean without a division per pixel.
inline std::uint32_t ChannelSum(std::uint32_t c) { return ColorR(c) + ColorG(c) + ColorB(c); }

inline std::uint32_t Channel(std::uint32_t c, int channel)
{
    return (c >> (8 * (2 - channel))) & 0xFFu;
}

} // namespace

double TRasterSamples::Value(std::int32_t x, std::int32_t y, int channel) const
{
    const std::uint32_t c = FBitmap.ScanLine(y)[x];
    if (channel == ChannelAverage)
        return ChannelSum(c) / 3.0;
    return Channel(c, channel);
}

void TRasterSamples::ReadRow(std::int32_t y, int channel, float* out) const
{
    const std::uint32_t* row = FBitmap.ScanLine(y);
    const std::int32_t w = FBitmap.Width();
    if (channel == ChannelAverage) {
        for (std::int32_t x = 0; x < w; ++x)
            out[x] = static_cast<float>(ChannelSum(row[x])) * (1.0f / 3.0f);
        return;
    }
    const int shift = 8 * (2 - channel);
    for (std::int32_t x = 0; x < w; ++x)
        out[x] = static_cast<float>((row[x] >> shift) & 0xFFu);
}

} // namespace vinsk
