#include "image/SampleSource.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vinsk {

double TSampleSource::Interpolated(double x, double y, TChannel channel) const
{
    const auto x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    const std::int32_t x1 = std::min(x0 + 1, Width() - 1), y1 = std::min(y0 + 1, Height() - 1);
    const double fx = x - x0, fy = y - y0;
    const double top = Value(x0, y0, channel) * (1 - fx) + Value(x1, y0, channel) * fx;
    const double bottom = Value(x0, y1, channel) * (1 - fx) + Value(x1, y1, channel) * fx;
    return top * (1 - fy) + bottom * fy;
}

void TSampleSource::Block(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, TChannel channel,
                          float* values, std::uint8_t* saturated, std::size_t stride) const
{
    for (std::int32_t r = 0; r < h; ++r)
        for (std::int32_t k = 0; k < w; ++k) {
            bool sat = false;
            values[r * stride + k] = static_cast<float>(Value(x + k, y + r, channel, sat));
            saturated[r * stride + k] = sat ? 1 : 0;
        }
}

void TSampleSource::AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, TChannel channel, float* acc) const
{
    const std::int32_t w = Width();
    for (std::int32_t y = y0; y < y1; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            acc[x / bin] += static_cast<float>(Value(x, y, channel));
}

namespace {

// The three channels' sum: the mean without a division per pixel.
inline std::uint32_t ChannelSum(std::uint32_t c) { return ColorR(c) + ColorG(c) + ColorB(c); }

// A colour word's level in the channel.
inline double Level(std::uint32_t c, TChannel channel)
{
    switch (channel) {
    case ChannelR:
        return ColorR(c);
    case ChannelG:
        return ColorG(c);
    case ChannelB:
        return ColorB(c);
    default:
        return ChannelSum(c) / 3.0;
    }
}

// Whether a level that enters the channel's value is clipped at 255.
inline bool Clipped(std::uint32_t c, TChannel channel)
{
    switch (channel) {
    case ChannelR:
        return ColorR(c) >= 255;
    case ChannelG:
        return ColorG(c) >= 255;
    case ChannelB:
        return ColorB(c) >= 255;
    default:
        return ColorR(c) >= 255 || ColorG(c) >= 255 || ColorB(c) >= 255;
    }
}

// The bits of a clip mask's pixel that enter the channel's value.
constexpr std::uint8_t MaskBits(TChannel channel)
{
    switch (channel) {
    case ChannelR:
        return 4;
    case ChannelG:
        return 2;
    case ChannelB:
        return 1;
    default:
        return 7;
    }
}

// Whether the pixel's level in the channel is clipped: at 255 now (a flat
// that lifts a level over it clips it), or at 255 as loaded, before a dark
// lowered it.
inline bool Clipped(const TBitmap32& bitmap, std::int32_t x, std::int32_t y, TChannel channel)
{
    const std::size_t pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.Width()) +
                              static_cast<std::size_t>(x);
    return Clipped(bitmap.ScanLine(y)[x], channel) || (bitmap.Clipped().Bits(pixel) & MaskBits(channel)) != 0;
}

// The mean of three channels at every sum of their levels, as Level gives
// it: a table read instead of a division per pixel.
const std::array<float, 3 * 255 + 1>& MeanLevels()
{
    static const std::array<float, 3 * 255 + 1> table = [] {
        std::array<float, 3 * 255 + 1> t{};
        for (std::uint32_t sum = 0; sum < t.size(); ++sum)
            t[sum] = static_cast<float>(sum / 3.0);
        return t;
    }();
    return table;
}

// A block of one channel, the channel fixed so each row is one plain loop.
template <TChannel Channel>
void RasterBlock(const TBitmap32& bitmap, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                 float* values, std::uint8_t* saturated, std::size_t stride)
{
    const TClipMask& mask = bitmap.Clipped();
    const std::array<float, 3 * 255 + 1>& mean = MeanLevels();
    for (std::int32_t r = 0; r < h; ++r) {
        const std::uint32_t* row = bitmap.ScanLine(y + r) + x;
        float* v = values + r * stride;
        std::uint8_t* s = saturated + r * stride;
        for (std::int32_t k = 0; k < w; ++k) {
            if constexpr (Channel == ChannelR || Channel == ChannelG || Channel == ChannelB)
                v[k] = static_cast<float>(Level(row[k], Channel));
            else
                v[k] = mean[ChannelSum(row[k])];
            s[k] = Clipped(row[k], Channel);
        }
        if (mask.Any()) {
            const std::size_t first = static_cast<std::size_t>(y + r) * static_cast<std::size_t>(bitmap.Width()) +
                                      static_cast<std::size_t>(x);
            for (std::int32_t k = 0; k < w; ++k)
                s[k] = s[k] || (mask.Bits(first + static_cast<std::size_t>(k)) & MaskBits(Channel)) != 0;
        }
    }
}

} // namespace

double TRasterSamples::Value(std::int32_t x, std::int32_t y, TChannel channel, bool& saturated) const
{
    saturated = saturated || Clipped(FBitmap, x, y, channel);
    return Level(FBitmap.ScanLine(y)[x], channel);
}

double TRasterSamples::Interpolated(double x, double y, TChannel channel) const
{
    const auto x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    const std::int32_t dx = x0 + 1 < FBitmap.Width() ? 1 : 0;
    const std::int32_t y1 = std::min(y0 + 1, FBitmap.Height() - 1);
    const std::uint32_t* top = FBitmap.ScanLine(y0) + x0;
    const std::uint32_t* bottom = FBitmap.ScanLine(y1) + x0;
    const double fx = x - x0, fy = y - y0;
    const double t = Level(top[0], channel) * (1 - fx) + Level(top[dx], channel) * fx;
    const double b = Level(bottom[0], channel) * (1 - fx) + Level(bottom[dx], channel) * fx;
    return t * (1 - fy) + b * fy;
}

void TRasterSamples::Block(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, TChannel channel,
                           float* values, std::uint8_t* saturated, std::size_t stride) const
{
    switch (channel) {
    case ChannelR:
        RasterBlock<ChannelR>(FBitmap, x, y, w, h, values, saturated, stride);
        break;
    case ChannelG:
        RasterBlock<ChannelG>(FBitmap, x, y, w, h, values, saturated, stride);
        break;
    case ChannelB:
        RasterBlock<ChannelB>(FBitmap, x, y, w, h, values, saturated, stride);
        break;
    default:
        RasterBlock<ChannelAvg>(FBitmap, x, y, w, h, values, saturated, stride);
        break;
    }
}

void TRasterSamples::AddBins(std::int32_t y0, std::int32_t y1, std::int32_t bin, TChannel channel,
                             float* __restrict acc) const
{
    // Whole levels are summed as integers, first down the columns in plain
    // loops the compiler turns into vector code, then across each bin; the
    // floats come once per bin. 32 bits hold 255 x 3 levels of 5 million
    // pixels.
    const bool mean = ChannelOf(channel) == ChannelAvg;
    const std::int32_t w = FBitmap.Width();
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(w), 0);
    std::uint32_t* __restrict sum = sums.data();
    const int shift = mean ? 0 : 8 * (2 - channel);
    // Four rows at a time; a missing row reads as a row of zeros.
    const std::vector<std::uint32_t> zeros(static_cast<std::size_t>(w), 0);
    for (std::int32_t y = y0; y < y1; y += 4) {
        auto rowAt = [&](std::int32_t k) { return y + k < y1 ? FBitmap.ScanLine(y + k) : zeros.data(); };
        const std::uint32_t* __restrict r0 = rowAt(0);
        const std::uint32_t* __restrict r1 = rowAt(1);
        const std::uint32_t* __restrict r2 = rowAt(2);
        const std::uint32_t* __restrict r3 = rowAt(3);
        if (mean)
            for (std::int32_t x = 0; x < w; ++x)
                sum[x] += ChannelSum(r0[x]) + ChannelSum(r1[x]) + ChannelSum(r2[x]) + ChannelSum(r3[x]);
        else
            for (std::int32_t x = 0; x < w; ++x)
                sum[x] += ((r0[x] >> shift) & 0xFFu) + ((r1[x] >> shift) & 0xFFu) + ((r2[x] >> shift) & 0xFFu) +
                          ((r3[x] >> shift) & 0xFFu);
    }
    const float scale = mean ? 1.0f / 3.0f : 1.0f;
    for (std::int32_t x0 = 0, b = 0; x0 < w; x0 += bin, ++b) {
        std::uint32_t s = 0;
        for (std::int32_t x = x0; x < std::min(w, x0 + bin); ++x)
            s += sum[x];
        acc[b] += static_cast<float>(static_cast<std::int32_t>(s)) * scale;
    }
}

double TLinearSamples::Value(std::int32_t x, std::int32_t y, TChannel channel, bool& saturated) const
{
    const float level = FPlane.SaturationLevel();
    const TClipMask& mask = FPlane.Clipped();
    const std::size_t pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(FPlane.Width()) +
                              static_cast<std::size_t>(x);
    // As recorded before a dark or flat changed the sample, else as it stands.
    auto read = [&](int c) {
        const float v = FPlane.Sample(x, y, c);
        saturated = saturated || (mask.Recorded() ? mask.Clipped(pixel, c) : v >= level);
        return static_cast<double>(v);
    };
    if (FPlane.Channels() == 1)
        return read(0);
    switch (channel) {
    case ChannelR:
        return read(0);
    case ChannelG:
        return read(1);
    case ChannelB:
        return read(2);
    default:
        break;
    }
    const double r = read(0), g = read(1), b = read(2);
    return (r + g + b) / 3.0;
}

const TSampleSource& PictureSamples(const TBitmap32& bitmap, const TLinearPlane& plane,
                                    std::optional<TRasterSamples>& raster, std::optional<TLinearSamples>& linear)
{
    if (!plane.Empty() && plane.Width() == bitmap.Width() && plane.Height() == bitmap.Height())
        return linear.emplace(plane);
    return raster.emplace(bitmap);
}

} // namespace vinsk
