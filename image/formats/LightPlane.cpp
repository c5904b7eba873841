#include "image/formats/LightPlane.h"

#include <vector>

#include "image/FrameCalibration.h"

namespace vinsk {

TTransfer ChooseTransfer(const TTransferChoice& choice, const std::optional<TTransfer>& declared, bool holdsLight)
{
    TTransfer t;
    if (holdsLight)
        return t;
    switch (choice.Kind) {
    case TTransferKind::Linear:
        t.Source = "setting";
        return t;
    case TTransferKind::Srgb:
        return {TToneCurve::Srgb, 1, "setting"};
    case TTransferKind::Gamma:
        return {TToneCurve::Gamma, choice.Gamma, "setting"};
    case TTransferKind::Auto:
        break;
    }
    return declared.value_or(t);
}

namespace {

// The light of each stored level 0 .. top in the channel, on the stored scale.
std::vector<float> LightTable(const TTransfer& t, int top, int channel)
{
    std::vector<float> light(static_cast<std::size_t>(top) + 1);
    for (int v = 0; v <= top; ++v)
        light[static_cast<std::size_t>(v)] =
            static_cast<float>(static_cast<long double>(LightOf(t, static_cast<double>(v) / top, channel)) * top);
    return light;
}

} // namespace

std::uint64_t LightPlaneBytes(const TBitmap32& raster, const TLinearPlane& plane)
{
    if (!plane.Empty())
        return plane.IsFloat() ? 0 : plane.SampleCount() * 4u;
    return static_cast<std::uint64_t>(raster.Width()) * static_cast<std::uint64_t>(raster.Height()) * 12u;
}

bool MakesLightPlane(const TBitmap32& raster, const TLinearPlane& plane, const TTransfer& t, bool evenLinear)
{
    if (plane.Empty())
        return raster.Width() > 0 && raster.Height() > 0 && (evenLinear || !t.IsLinear());
    return !t.IsLinear() && !plane.IsFloat(); // floats hold light already
}

void MakeLightPlane(const TBitmap32& raster, TLinearPlane& plane, const TTransfer& t, bool evenLinear)
{
    if (!MakesLightPlane(raster, plane, t, evenLinear))
        return;
    if (!plane.Empty()) {
        // A grey plane reads through the green curve, which a grey profile
        // gives all three.
        const int channels = plane.Channels();
        std::vector<float> light[3];
        for (int c = 0; c < channels; ++c)
            light[c] = LightTable(t, 65535, channels == 1 ? 1 : c);
        plane.RecordClipping();
        plane.ToFloat();
        float* p = plane.Float();
        for (std::size_t i = 0, n = plane.SampleCount(); i < n; ++i)
            p[i] = light[i % static_cast<std::size_t>(channels)][static_cast<std::size_t>(p[i])];
        plane.SetNoiseFloor(0.5f * (light[0][1] - light[0][0]));
        return;
    }
    // Clipping is a property of the stored values: recorded before they
    // become light.
    TLinearPlane made;
    RasterToPlane(raster, made);
    if (!t.IsLinear()) {
        const std::vector<float> light[3] = {LightTable(t, 255, 0), LightTable(t, 255, 1), LightTable(t, 255, 2)};
        float* p = made.Float();
        for (std::size_t i = 0, n = made.SampleCount(); i < n; ++i)
            p[i] = light[i % 3][static_cast<std::size_t>(p[i])];
        made.SetNoiseFloor(0.5f * (light[1][1] - light[1][0]));
    }
    plane.Swap(made);
}

} // namespace vinsk
