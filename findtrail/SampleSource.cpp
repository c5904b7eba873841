#include "findtrail/SampleSource.h"

#include <algorithm>
#include <vector>

namespace vinsk {

double TSampleSource::Interpolated(double x, double y, int channel) const
{
    const auto x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    const std::int32_t x1 = std::min(x0 + 1, Width() - 1), y1 = std::min(y0 + 1, Height() - 1);
    const double fx = x - x0, fy = y - y0;
    const double top = Value(x0, y0, channel) * (1 - fx) + Value(x1, y0, channel) * fx;
    const double bottom = Value(x0, y1, channel) * (1 - fx) + Value(x1, y1, channel) * fx;
    return top * (1 - fy) + bottom * fy;
}

void TSampleSource::AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, int channel, float* acc) const
{
    const std::int32_t w = Width();
    for (std::int32_t y = y0; y < y1; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            acc[x / bin] += static_cast<float>(Value(x, y, channel));
}

namespace {

// The three channels' sum: the mean without a division per pixel.
inline std::uint32_t ChannelSum(std::uint32_t c) { return ColorR(c) + ColorG(c) + ColorB(c); }

inline std::uint32_t Channel(std::uint32_t c, int channel)
{
    return (c >> (8 * (2 - channel))) & 0xFFu;
}

} // namespace

double TRasterSampleSource::Value(std::int32_t x, std::int32_t y, int channel) const
{
    const std::uint32_t c = FBitmap.ScanLine(y)[x];
    if (channel == ChannelAvg)
        return ChannelSum(c) / 3.0;
    return Channel(c, channel);
}

double TRasterSampleSource::Interpolated(double x, double y, int channel) const
{
    const auto x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    const std::int32_t dx = x0 + 1 < FBitmap.Width() ? 1 : 0;
    const std::int32_t y1 = std::min(y0 + 1, FBitmap.Height() - 1);
    const std::uint32_t* top = FBitmap.ScanLine(y0) + x0;
    const std::uint32_t* bottom = FBitmap.ScanLine(y1) + x0;
    auto v = [channel](std::uint32_t c) {
        return channel == ChannelAvg ? ChannelSum(c) / 3.0 : static_cast<double>(Channel(c, channel));
    };
    const double fx = x - x0, fy = y - y0;
    const double t = v(top[0]) * (1 - fx) + v(top[dx]) * fx;
    const double b = v(bottom[0]) * (1 - fx) + v(bottom[dx]) * fx;
    return t * (1 - fy) + b * fy;
}

void TRasterSampleSource::AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, int channel,
                             float* __restrict acc) const
{
    // Whole levels are summed as integers, first down the columns in plain
    // loops the compiler turns into vector code, then across each bin; the
    // floats come once per bin. 32 bits hold 255 x 3 levels of 5 million
    // pixels.
    const std::int32_t w = FBitmap.Width();
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(w), 0);
    std::uint32_t* __restrict sum = sums.data();
    const int shift = channel == ChannelAvg ? 0 : 8 * (2 - channel);
    // Four rows at a time; a missing row reads as a row of zeros.
    const std::vector<std::uint32_t> zeros(static_cast<std::size_t>(w), 0);
    for (std::int32_t y = y0; y < y1; y += 4) {
        auto rowAt = [&](std::int32_t k) { return y + k < y1 ? FBitmap.ScanLine(y + k) : zeros.data(); };
        const std::uint32_t* __restrict r0 = rowAt(0);
        const std::uint32_t* __restrict r1 = rowAt(1);
        const std::uint32_t* __restrict r2 = rowAt(2);
        const std::uint32_t* __restrict r3 = rowAt(3);
        if (channel == ChannelAvg)
            for (std::int32_t x = 0; x < w; ++x)
                sum[x] += ChannelSum(r0[x]) + ChannelSum(r1[x]) + ChannelSum(r2[x]) + ChannelSum(r3[x]);
        else
            for (std::int32_t x = 0; x < w; ++x)
                sum[x] += ((r0[x] >> shift) & 0xFFu) + ((r1[x] >> shift) & 0xFFu) + ((r2[x] >> shift) & 0xFFu) +
                          ((r3[x] >> shift) & 0xFFu);
    }
    const float scale = channel == ChannelAvg ? 1.0f / 3.0f : 1.0f;
    for (std::int32_t x0 = 0, b = 0; x0 < w; x0 += bin, ++b) {
        std::uint32_t s = 0;
        for (std::int32_t x = x0; x < std::min(w, x0 + bin); ++x)
            s += sum[x];
        acc[b] += static_cast<float>(static_cast<std::int32_t>(s)) * scale;
    }
}

} // namespace vinsk
