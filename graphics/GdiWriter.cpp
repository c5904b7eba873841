#include "graphics/GdiWriter.h"

#include <cstring>
#include <type_traits>

namespace vinsk::metafile {

void TByteSink::F32(float f)
{
    std::uint32_t u = 0;
    static_assert(sizeof u == sizeof f);
    std::memcpy(&u, &f, sizeof u);
    U32(u);
}

void TByteSink::PatchU16(std::size_t at, unsigned v)
{
    Data.at(at) = static_cast<std::uint8_t>(v & 0xFFu);
    Data.at(at + 1) = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
}

void TByteSink::PatchU32(std::size_t at, std::uint32_t v)
{
    PatchU16(at, v & 0xFFFFu);
    PatchU16(at + 2, v >> 16);
}

TDib MakeDib(const TImage& image)
{
    const std::uint32_t w = static_cast<std::uint32_t>(image.Width);
    const std::uint32_t h = static_cast<std::uint32_t>(image.Height);
    const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
    TDib dib;
    TByteSink head;
    head.U32(40);
    head.I32(image.Width);
    head.I32(image.Height); // positive: bottom row first
    head.U16(1);
    head.U16(24);
    head.U32(0); // BI_RGB
    head.U32(stride * h);
    head.I32(3780); // 96 dpi in pixels per metre
    head.I32(3780);
    head.U32(0);
    head.U32(0);
    dib.Header = std::move(head.Data);
    dib.Bits.assign(static_cast<std::size_t>(stride) * h, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = dib.Bits.data() + static_cast<std::size_t>(h - 1 - y) * stride;
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t c = image.Pixels[static_cast<std::size_t>(y) * w + x];
            const std::uint32_t a = c >> 24;
            const auto over_white = [a](std::uint32_t v) {
                return static_cast<std::uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
            };
            row[x * 3 + 0] = over_white(c & 0xFFu);
            row[x * 3 + 1] = over_white((c >> 8) & 0xFFu);
            row[x * 3 + 2] = over_white((c >> 16) & 0xFFu);
        }
    }
    return dib;
}

void TGdiWriter::Play(const TMetafile& mf)
{
    EmitBegin(mf);
    for (const TRecord& r : mf.Records) {
        std::visit(
            [this, &r](const auto& rec) {
                using T = std::decay_t<decltype(rec)>;
                if constexpr (std::is_same_v<T, TSetPen>)
                    FPen = rec.Pen;
                else if constexpr (std::is_same_v<T, TSetBrush>)
                    FBrush = rec.Brush;
                else if constexpr (std::is_same_v<T, TSetFont>)
                    FFont = rec.Font;
                else if constexpr (std::is_same_v<T, TSetTextColor>)
                    FTextColor = rec.Color;
                else if constexpr (std::is_same_v<T, TSetClip>)
                    FClip = rec;
                else
                    Draw(r);
            },
            r);
    }
    // Leave the device context as it was found.
    FClip = TSetClip{};
    RealizeClip();
    EmitEnd();
}

void TGdiWriter::Draw(const TRecord& r)
{
    if (const auto* line = std::get_if<TPolyline>(&r)) {
        if (line->Points.size() < 2)
            return;
        RealizeClip();
        Realize(KPen, FPen);
        EmitPolyline(line->Points);
    } else if (const auto* poly = std::get_if<TPolyPolygon>(&r)) {
        std::vector<std::vector<TPoint>> polygons;
        for (const auto& p : poly->Polygons)
            if (p.size() >= 2)
                polygons.push_back(p);
        if (polygons.empty())
            return;
        RealizeClip();
        Realize(KPen, FPen);
        Realize(KBrush, FBrush);
        RealizeFillMode(poly->Winding);
        EmitPolyPolygon(polygons);
    } else if (const auto* rect = std::get_if<TRectangle>(&r)) {
        RealizeClip();
        Realize(KPen, FPen);
        Realize(KBrush, FBrush);
        EmitRectangle(rect->Rect);
    } else if (const auto* ellipse = std::get_if<TEllipse>(&r)) {
        RealizeClip();
        Realize(KPen, FPen);
        Realize(KBrush, FBrush);
        EmitEllipse(ellipse->Rect);
    } else if (const auto* text = std::get_if<TText>(&r)) {
        if (text->Text.empty())
            return;
        RealizeClip();
        Realize(KFont, FFont);
        RealizeTextColor();
        EmitText(*text);
    } else if (const auto* image = std::get_if<TImage>(&r)) {
        const auto count = static_cast<std::size_t>(image->Width) * static_cast<std::size_t>(image->Height);
        if (image->Width <= 0 || image->Height <= 0 || image->Pixels.size() != count)
            return;
        RealizeClip();
        EmitImage(*image);
    }
}

// One clip rectangle at a time: a SaveDC before intersecting, and a
// RestoreDC to drop it again. RestoreDC also brings back the objects, text
// colour and fill mode of the SaveDC, so the bookkeeping follows it.
void TGdiWriter::RealizeClip()
{
    const bool same = FClip.On == FDcClip.On && (!FClip.On || FClip.Rect == FDcClip.Rect);
    if (same)
        return;
    if (FSaved) {
        EmitRestoreDC();
        const TSelection restored = FSaved->Selected;
        for (int k = 0; k < KindCount; ++k)
            if (FDc.Selected[k] >= 0 && FDc.Selected[k] != restored[k])
                Free(FDc.Selected[k]); // no longer selected anywhere
        FDc = *FSaved;
        FSaved.reset();
    }
    if (FClip.On) {
        EmitSaveDC();
        FSaved = FDc;
        // Some players (libwmf) start the new context from defaults rather
        // than from a copy, so the modes and colours are set again.
        EmitModes();
        FDc.TextColor.reset();
        FDc.Winding.reset();
        EmitIntersectClip(FClip.Rect);
    }
    FDcClip = FClip;
}

void TGdiWriter::Realize(TKind kind, const TObject& want)
{
    const int current = FDc.Selected[kind];
    if (current >= 0 && FSlots[current] && *FSlots[current] == want)
        return;
    const int slot = Allocate(want);
    std::visit(
        [this, slot](const auto& spec) {
            using T = std::decay_t<decltype(spec)>;
            if constexpr (std::is_same_v<T, TPenSpec>)
                EmitCreatePen(slot, spec);
            else if constexpr (std::is_same_v<T, TBrushSpec>)
                EmitCreateBrush(slot, spec);
            else
                EmitCreateFont(slot, spec);
        },
        want);
    EmitSelect(slot);
    FDc.Selected[kind] = slot;
    // An object the saved context still holds must live until RestoreDC.
    if (current >= 0 && !(FSaved && FSaved->Selected[kind] == current))
        Free(current);
}

void TGdiWriter::RealizeTextColor()
{
    if (FDc.TextColor != FTextColor) {
        EmitTextColor(FTextColor);
        FDc.TextColor = FTextColor;
    }
}

void TGdiWriter::RealizeFillMode(bool winding)
{
    if (FDc.Winding != winding) {
        EmitFillMode(winding);
        FDc.Winding = winding;
    }
}

// Readers put a new object into the lowest free index, so the writer does too.
int TGdiWriter::Allocate(const TObject& obj)
{
    int slot = FFirstSlot;
    while (slot < static_cast<int>(FSlots.size()) && FSlots[slot])
        ++slot;
    if (slot >= static_cast<int>(FSlots.size()))
        FSlots.resize(slot + 1);
    FSlots[slot] = obj;
    if (slot + 1 > FSlotCount)
        FSlotCount = slot + 1;
    return slot;
}

void TGdiWriter::Free(int slot)
{
    EmitDelete(slot);
    FSlots[slot].reset();
}

} // namespace vinsk::metafile
