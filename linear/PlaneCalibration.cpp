#include "linear/PlaneCalibration.h"

#include <array>
#include <cmath>
#include <type_traits>
#include <vector>

namespace vinsk {

std::string DepthText(int sourceBits)
{
    switch (sourceBits) {
    case 0:
        return "8 bits";
    case 32:
        return "32-bit integers";
    case -32:
        return "32-bit floats";
    case -64:
        return "64-bit floats";
    default:
        return std::to_string(sourceBits) + " bits";
    }
}

std::string PlaneMismatch(const TLinearPlane& picture, const TLinearPlane& frame, const char* frameName)
{
    const std::string name = std::string("the ") + frameName + " frame";
    if (frame.Empty() || frame.SourceBits() != picture.SourceBits())
        return name + " has " + DepthText(frame.Empty() ? 0 : frame.SourceBits()) + " per sample, the picture " +
               DepthText(picture.SourceBits());
    if (frame.Channels() != picture.Channels())
        return name + (frame.Channels() == 1 ? " is grey, the picture in colour" : " is in colour, the picture grey");
    if (frame.Width() != picture.Width() || frame.Height() != picture.Height())
        return name + " has another size";
    return {};
}

void SubtractDarkPlane(TLinearPlane& picture, const TLinearPlane& dark)
{
    picture.RecordClipping();
    picture.ToFloat();
    float* p = picture.Float();
    const std::size_t n = picture.SampleCount();
    if (dark.IsFloat()) {
        const float* d = dark.Float();
        for (std::size_t i = 0; i < n; ++i)
            p[i] -= d[i];
    } else {
        const std::uint16_t* d = dark.U16();
        for (std::size_t i = 0; i < n; ++i)
            p[i] -= static_cast<float>(d[i]);
    }
}

namespace {

// The flat's light (less the offset when O is not void) at sample i, with
// each plane's type fixed for the whole picture.
template <class F, class O>
double FlatLight(const F* flat, const O* offset, std::size_t i)
{
    if constexpr (std::is_void_v<O>)
        return static_cast<double>(flat[i]);
    else
        return static_cast<double>(flat[i]) - static_cast<double>(offset[i]);
}

// Each channel's mean over its finite samples, summed in long double so
// that millions of samples lose nothing. N channels, known when compiled so
// that the sums stay in registers.
template <std::size_t N, class F, class O>
std::vector<double> FlatMeans(const F* flat, const O* offset, std::size_t pixels)
{
    std::array<long double, N> sum{};
    std::array<std::size_t, N> count{};
    for (std::size_t px = 0, i = 0; px < pixels; ++px)
#pragma GCC unroll 4
        for (std::size_t c = 0; c < N; ++c, ++i)
            if (const double v = FlatLight(flat, offset, i); std::isfinite(v)) {
                sum[c] += v;
                ++count[c];
            }
    std::vector<double> mean(N, 0.0);
    for (std::size_t c = 0; c < N; ++c)
        mean[c] = count[c] > 0 ? static_cast<double>(sum[c] / static_cast<long double>(count[c])) : 0.0;
    return mean;
}

template <class F, class O>
std::vector<double> FlatMeans(const F* flat, const O* offset, std::size_t pixels, std::size_t channels)
{
    if (channels == 3)
        return FlatMeans<3>(flat, offset, pixels);
    if (channels == 1)
        return FlatMeans<1>(flat, offset, pixels);
    // Any other count, one channel at a time.
    std::vector<double> mean(channels, 0.0);
    for (std::size_t c = 0; c < channels; ++c) {
        long double sum = 0;
        std::size_t count = 0;
        for (std::size_t px = 0; px < pixels; ++px)
            if (const double v = FlatLight(flat, offset, px * channels + c); std::isfinite(v)) {
                sum += v;
                ++count;
            }
        mean[c] = count > 0 ? static_cast<double>(sum / static_cast<long double>(count)) : 0.0;
    }
    return mean;
}

template <class F, class O>
void DivideBy(TLinearPlane& picture, const F* flat, const O* offset, std::size_t pixels, std::size_t channels)
{
    const std::vector<double> mean = FlatMeans(flat, offset, pixels, channels);
    picture.ToFloat();
    float* p = picture.Float();
    for (std::size_t px = 0, i = 0; px < pixels; ++px)
        for (std::size_t c = 0; c < channels; ++c, ++i) {
            const double f = FlatLight(flat, offset, i);
            // Without an offset a flat at 0 leaves the sample; less one, so
            // does a flat at or below it.
            if ((std::is_void_v<O> ? f != 0 : f > 0) && std::isfinite(f))
                p[i] = static_cast<float>(static_cast<double>(p[i]) * mean[c] / f);
        }
}

template <class F>
void DivideByFlat(TLinearPlane& picture, const F* flat, const TLinearPlane* offset, std::size_t pixels,
                  std::size_t channels)
{
    if (offset == nullptr)
        DivideBy(picture, flat, static_cast<const void*>(nullptr), pixels, channels);
    else if (offset->IsFloat())
        DivideBy(picture, flat, offset->Float(), pixels, channels);
    else
        DivideBy(picture, flat, offset->U16(), pixels, channels);
}

} // namespace

void DivideFlatPlane(TLinearPlane& picture, const TLinearPlane& flat, const TLinearPlane* offset)
{
    picture.RecordClipping();
    const auto channels = static_cast<std::size_t>(flat.Channels());
    const std::size_t pixels = static_cast<std::size_t>(flat.Width()) * static_cast<std::size_t>(flat.Height());
    if (flat.IsFloat())
        DivideByFlat(picture, flat.Float(), offset, pixels, channels);
    else
        DivideByFlat(picture, flat.U16(), offset, pixels, channels);
}

} // namespace vinsk
