#include "image/FrameCalibration.h"

#include <new>

#include "linear/PlaneCalibration.h"

namespace vinsk {

namespace {

constexpr const char* FlatDarkSize = "Flat dark image must have equal size!";

using TRasterStep = void (*)(TImageState&, const TBitmap32&, TStatusPanels&);
using TPlaneStep = void (*)(TImageState&, const TLinearPlane&);

std::uint64_t RasterPlaneBytes(const TBitmap32& b) { return RasterBytes(b) * 3u; }

// Whether the picture takes samples from its raster for this frame: it has
// none, no frame touched the raster yet, and the frame comes as light of an
// 8-bit picture.
bool PlaneFromRaster(const TImageState& s, const TLinearPlane& framePlane)
{
    return s.Linear.Empty() && !s.DarkApplied && !s.FlatApplied && !framePlane.Empty() && framePlane.SourceBits() == 8;
}

// What the picture's samples grow by when a frame makes them floating point
// (the samples taken from the raster when it has none).
std::uint64_t FloatBytes(const TImageState& s)
{
    return s.Linear.Empty() ? RasterPlaneBytes(s.Bitmap) : s.Linear.IsFloat() ? 0 : s.Linear.SampleCount() * 4u;
}

// keptBytes: what the plane step keeps of the frame (the dark as the
// flat's offset).
void ApplyFrame(TImageState& s, const TBitmap32& frame, const TLinearPlane& framePlane, TStatusPanels& status,
                const char* frameName, TRasterStep raster, TPlaneStep plane, std::uint64_t keptBytes)
{
    std::string drop;
    TLinearPlane made;
    const bool fromRaster = PlaneFromRaster(s, framePlane);
    if (!s.Linear.Empty() || fromRaster) {
        // The samples become floating point beside their 16-bit selves, the
        // raster and the frame: all within the one budget.
        const std::uint64_t floatBytes = FloatBytes(s);
        const std::uint64_t frameBytes = RasterBytes(frame) + framePlane.Bytes() + keptBytes;
        if (HeldForFrame(s, frameName).Bytes + floatBytes + frameBytes > MemoryBudget)
            drop = "in floating point they would need more than " + LimitText(MemoryBudget) +
                   " with the raster and the " + frameName + " frame";
        else if (fromRaster && s.Bitmap.Width() == frame.Width() && s.Bitmap.Height() == frame.Height()) {
            // Taken before the raster step changes the raster.
            try {
                RasterToPlane(s.Bitmap, made);
            } catch (const std::bad_alloc&) {
                drop = "not enough memory to hold them in floating point";
            }
        }
        if (const TLinearPlane& samples = fromRaster ? made : s.Linear; drop.empty() && !samples.Empty())
            drop = PlaneMismatch(samples, framePlane, frameName);
    }
    // The raster step refuses before changing anything; the plane is
    // touched only after it succeeded.
    raster(s, frame, status);
    if (!made.Empty())
        s.Linear.Swap(made);
    if (s.Linear.Empty()) {
        if (fromRaster && !drop.empty())
            status.Linear = "Linear samples not made: " + drop;
        return;
    }
    if (drop.empty()) {
        try {
            plane(s, framePlane);
            return;
        } catch (const std::bad_alloc&) {
            drop = "not enough memory to hold them in floating point";
        }
    }
    s.Linear.Release();
    s.FlatOffset.Release();
    s.FlatOffsetSource = TFlatOffsetSource::None;
    status.Linear = "Linear samples dropped: " + drop;
}

void SubtractDark(TImageState& s, const TLinearPlane& dark)
{
    SubtractDarkPlane(s.Linear, dark);
    if (s.FlatOffsetSource != TFlatOffsetSource::FlatDark) {
        s.FlatOffset = dark;
        s.FlatOffsetSource = TFlatOffsetSource::Dark;
    }
}

void DivideFlat(TImageState& s, const TLinearPlane& flat)
{
    const bool offset = !s.FlatOffset.Empty() && PlaneMismatch(s.Linear, s.FlatOffset, "flat dark").empty();
    DivideFlatPlane(s.Linear, flat, offset ? &s.FlatOffset : nullptr);
    if (!offset)
        s.FlatOffsetSource = TFlatOffsetSource::None;
    s.FlatOffset.Release();
}

} // namespace

std::uint64_t FrameApplyBytes(const TImageState& s, const TBitmap32& frame, const TLinearPlane& framePlane)
{
    return HeldForFrame(s, "").Bytes + FloatBytes(s) + RasterBytes(frame) + 2 * framePlane.Bytes();
}

std::uint64_t RasterBytes(const TBitmap32& b) { return static_cast<std::uint64_t>(b.Width()) * b.Height() * 4u; }

TMemoryHeld HeldForFrame(const TImageState& s, const char* frameName)
{
    return {RasterBytes(s.Bitmap) + s.Linear.Bytes() + s.FlatOffset.Bytes(),
            std::string("The picture and the ") + frameName + " frame together"};
}

TMemoryHeld HeldForNewPicture(const TImageState& s)
{
    return {RasterBytes(s.Bitmap) + s.Linear.Bytes() + s.FlatOffset.Bytes(), "The open picture and the new one together"};
}

bool PictureReleasable(const TImageState& s)
{
    return !s.DarkApplied && !s.FlatApplied && s.FlatOffset.Empty();
}

void ApplyDarkFrame(TImageState& s, const TBitmap32& dark, const TLinearPlane& darkPlane, TStatusPanels& status)
{
    const bool kept = s.FlatOffsetSource != TFlatOffsetSource::FlatDark;
    ApplyFrame(s, dark, darkPlane, status, "dark", ApplyDark, SubtractDark, kept ? darkPlane.Bytes() : 0);
}

void ApplyFlatFrame(TImageState& s, const TBitmap32& flat, const TLinearPlane& flatPlane, TStatusPanels& status)
{
    ApplyFrame(s, flat, flatPlane, status, "flat", ApplyFlat, DivideFlat, 0);
}

std::optional<std::string> FlatDarkRefusal(const TImageState& s)
{
    if (s.Bitmap.Empty())
        return DarkRefusal(s);
    if (s.FlatApplied)
        return FlatRefusal(s);
    return std::nullopt;
}

void ApplyFlatDarkFrame(TImageState& s, const TBitmap32& flatDark, const TLinearPlane& plane, TStatusPanels& status)
{
    if (auto refusal = FlatDarkRefusal(s))
        throw ECalibrationError(*refusal);
    if (flatDark.Width() != s.Bitmap.Width() || flatDark.Height() != s.Bitmap.Height())
        throw ECalibrationError(FlatDarkSize);
    // A picture's samples must take it as they would take the flat; a
    // picture without samples gets them from its raster at the dark.
    if (!s.Linear.Empty())
        if (const std::string mismatch = PlaneMismatch(s.Linear, plane, "flat dark"); !mismatch.empty())
            throw ECalibrationError("The flat dark frame cannot be used: " + mismatch);
    // The copy is held beside the frame the caller holds.
    const TMemoryHeld held = HeldForFrame(s, "flat dark");
    const std::uint64_t need = held.Bytes + RasterBytes(flatDark) + 2 * plane.Bytes();
    if (need > MemoryBudget)
        throw ECalibrationError(held.Together + " need " + NeedText(need) + "; the limit is " + LimitText(MemoryBudget));
    s.FlatOffset = plane;
    s.FlatOffsetSource = plane.Empty() ? TFlatOffsetSource::None : TFlatOffsetSource::FlatDark;
    status.Panels[PanelPrompt] = "Flat dark image has been loaded: the flat's offset is taken from it.";
}

bool FlatOffsetFromDark(const TImageState& s)
{
    return s.FlatApplied && !s.Linear.Empty() && s.FlatOffsetSource == TFlatOffsetSource::Dark;
}

void ForgetFrames(TImageState& s)
{
    s.DarkApplied = false;
    s.FlatApplied = false;
    s.FlatOffset.Release();
    s.FlatOffsetSource = TFlatOffsetSource::None;
}

void RasterToPlane(const TBitmap32& raster, TLinearPlane& plane)
{
    TLinearPlane made;
    // Always three channels: the raster does not say whether the picture is
    // grey, and a grey dark must apply to a colour picture as on the raster.
    made.AllocateFloat(raster.Width(), raster.Height(), 3, 8);
    float* p = made.Float();
    for (std::int32_t y = 0; y < raster.Height(); ++y) {
        const std::uint32_t* row = raster.ScanLine(y);
        for (std::int32_t x = 0; x < raster.Width(); ++x) {
            *p++ = static_cast<float>(ColorR(row[x]));
            *p++ = static_cast<float>(ColorG(row[x]));
            *p++ = static_cast<float>(ColorB(row[x]));
        }
    }
    // 255 is the top of the stored scale: what stands there was clipped.
    made.SetSaturationLevel(255);
    made.RecordClipping();
    made.SetNoiseFloor(0.5f);
    plane.Swap(made);
}

std::string LinearPlaneNote(const TLinearPlane& plane)
{
    if (plane.Empty())
        return {};
    return "Linear samples: " + DepthText(plane.SourceBits());
}

} // namespace vinsk
