#include "linear/LinearPlane.h"

#include <limits>
#include <utility>

namespace vinsk {

void TLinearPlane::Allocate16(std::int32_t width, std::int32_t height, int channels, int sourceBits)
{
    std::vector<std::uint16_t> v(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                 static_cast<std::size_t>(channels));
    Release();
    FU16.swap(v);
    SetShape(width, height, channels, sourceBits, 65535.0f);
}

void TLinearPlane::AllocateFloat(std::int32_t width, std::int32_t height, int channels, int sourceBits)
{
    std::vector<float> v(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                         static_cast<std::size_t>(channels));
    Release();
    FFloat.swap(v);
    SetShape(width, height, channels, sourceBits, std::numeric_limits<float>::infinity());
}

void TLinearPlane::SetShape(std::int32_t width, std::int32_t height, int channels, int sourceBits, float saturation)
{
    FWidth = width;
    FHeight = height;
    FChannels = channels;
    FSourceBits = sourceBits;
    FSaturation = saturation;
    FNoiseFloor = -1;
}

void TLinearPlane::Release()
{
    std::vector<std::uint16_t>().swap(FU16);
    std::vector<float>().swap(FFloat);
    FWidth = FHeight = 0;
    FChannels = 0;
    FSourceBits = 0;
    FSaturation = 0;
    FNoiseFloor = -1;
    FClipped.Clear();
}

void TLinearPlane::RecordClipping()
{
    if (FClipped.Recorded())
        return;
    FClipped.Start(static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight));
    const std::size_t n = SampleCount(), channels = static_cast<std::size_t>(FChannels);
    const float level = FSaturation;
    auto scan = [&](const auto* v) {
        for (std::size_t i = 0; i < n; ++i)
            if (static_cast<float>(v[i]) >= level)
                FClipped.Mark(i / channels, static_cast<int>(i % channels));
    };
    if (FFloat.empty())
        scan(FU16.data());
    else
        scan(FFloat.data());
}

void TLinearPlane::ToFloat()
{
    if (IsFloat() || FU16.empty())
        return;
    std::vector<float> f(FU16.size());
    for (std::size_t i = 0; i < FU16.size(); ++i)
        f[i] = static_cast<float>(FU16[i]);
    std::vector<std::uint16_t>().swap(FU16);
    FFloat.swap(f);
}

void TLinearPlane::Swap(TLinearPlane& o) noexcept
{
    std::swap(FWidth, o.FWidth);
    std::swap(FHeight, o.FHeight);
    std::swap(FChannels, o.FChannels);
    std::swap(FSourceBits, o.FSourceBits);
    std::swap(FSaturation, o.FSaturation);
    std::swap(FNoiseFloor, o.FNoiseFloor);
    FU16.swap(o.FU16);
    FFloat.swap(o.FFloat);
    FClipped.Swap(o.FClipped);
}

} // namespace vinsk
