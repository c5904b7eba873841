#include "linear/PlaneCalibration.h"

#include <cmath>
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

void DivideFlatPlane(TLinearPlane& picture, const TLinearPlane& flat, const TLinearPlane* offset)
{
    picture.RecordClipping();
    const int channels = flat.Channels();
    const std::size_t pixels = static_cast<std::size_t>(flat.Width()) * static_cast<std::size_t>(flat.Height());
    auto sample = [](const TLinearPlane& plane, std::size_t i) -> double {
        return plane.IsFloat() ? static_cast<double>(plane.Float()[i]) : static_cast<double>(plane.U16()[i]);
    };
    auto flatSample = [&](std::size_t i) -> double {
        return offset == nullptr ? sample(flat, i) : sample(flat, i) - sample(*offset, i);
    };
    // Each channel's mean over its finite samples, summed in long double so
    // that millions of samples lose nothing.
    std::vector<double> mean(static_cast<std::size_t>(channels), 0.0);
    for (int c = 0; c < channels; ++c) {
        long double sum = 0;
        std::size_t count = 0;
        for (std::size_t px = 0; px < pixels; ++px) {
            const double v = flatSample(px * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c));
            if (std::isfinite(v)) {
                sum += v;
                ++count;
            }
        }
        mean[static_cast<std::size_t>(c)] = count > 0 ? static_cast<double>(sum / static_cast<long double>(count)) : 0.0;
    }

    picture.ToFloat();
    float* p = picture.Float();
    for (std::size_t px = 0; px < pixels; ++px)
        for (int c = 0; c < channels; ++c) {
            const std::size_t i = px * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c);
            const double f = flatSample(i);
            if ((offset == nullptr ? f != 0 : f > 0) && std::isfinite(f))
                p[i] = static_cast<float>(static_cast<double>(p[i]) * mean[static_cast<std::size_t>(c)] / f);
        }
}

} // namespace vinsk
