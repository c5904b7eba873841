// Enhanced metafile encoding.
#include <algorithm>
#include <cmath>
#include <limits>

#include "graphics/GdiWriter.h"

namespace vinsk::metafile {
namespace {

enum : std::uint32_t {
    EMR_HEADER = 1,
    EMR_POLYLINE = 4,
    EMR_POLYPOLYGON = 8,
    EMR_EOF = 14,
    EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19,
    EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24,
    EMR_INTERSECTCLIPRECT = 30,
    EMR_SAVEDC = 33,
    EMR_RESTOREDC = 34,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_ELLIPSE = 42,
    EMR_RECTANGLE = 43,
    EMR_STRETCHDIBITS = 81,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTW = 84,
    EMR_POLYLINE16 = 87,
    EMR_POLYPOLYGON16 = 91,
};

constexpr std::uint32_t EmfSignature = 0x464D4520; // " EMF"
constexpr std::int32_t RefPixels = 9600;            // reference device: 9600 px on 2540 mm
constexpr std::int32_t RefMillimetres = 2540;

bool Fits16(const std::vector<TPoint>& points)
{
    constexpr std::int32_t lo = std::numeric_limits<std::int16_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int16_t>::max();
    return std::all_of(points.begin(), points.end(),
                       [](const TPoint& p) { return p.X >= lo && p.X <= hi && p.Y >= lo && p.Y <= hi; });
}

// Inclusive bounds, as EMF records give them.
struct TBounds {
    TRect R{std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};
    void Add(const std::vector<TPoint>& points)
    {
        for (const TPoint& p : points) {
            R.Left = std::min(R.Left, p.X);
            R.Top = std::min(R.Top, p.Y);
            R.Right = std::max(R.Right, p.X);
            R.Bottom = std::max(R.Bottom, p.Y);
        }
    }
};

class TEmfWriter final : public TRecordWriter {
public:
    TEmfWriter()
        : TRecordWriter(1, {EMR_SETBKMODE, EMR_SETTEXTALIGN, EMR_SETPOLYFILLMODE, EMR_SELECTOBJECT, EMR_DELETEOBJECT,
                            EMR_SAVEDC, EMR_RESTOREDC})
    {
    }

protected:
    void EmitBegin(const TMetafile& mf) override
    {
        const std::int32_t w = std::max(mf.Width, 1);
        const std::int32_t h = std::max(mf.Height, 1);
        const std::size_t at = Begin(EMR_HEADER);
        Rect({0, 0, w - 1, h - 1});
        // The frame in hundredths of a millimetre at 96 dpi.
        Rect({0, 0, static_cast<std::int32_t>(std::lround(w * 2540.0 / 96.0)),
              static_cast<std::int32_t>(std::lround(h * 2540.0 / 96.0))});
        FOut.U32(EmfSignature);
        FOut.U32(0x00010000);
        FBytesAt = FOut.Size();
        FOut.U32(0); // nBytes
        FOut.U32(0); // nRecords
        FHandlesAt = FOut.Size();
        FOut.U16(0); // nHandles
        FOut.U16(0);
        FOut.U32(0); // no description
        FOut.U32(0);
        FOut.U32(0); // nPalEntries
        FOut.I32(RefPixels);
        FOut.I32(RefPixels);
        FOut.I32(RefMillimetres);
        FOut.I32(RefMillimetres);
        FOut.U32(0); // no pixel format
        FOut.U32(0);
        FOut.U32(0); // not OpenGL
        FOut.I32(RefMillimetres * 1000);
        FOut.I32(RefMillimetres * 1000);
        End(at);
        EmitModes();
    }

    void EmitEnd() override
    {
        const std::size_t at = Begin(EMR_EOF);
        FOut.U32(0);  // nPalEntries
        FOut.U32(16); // offPalEntries
        FOut.U32(20); // nSizeLast: this record's size
        End(at);
        FOut.PatchU32(FBytesAt, static_cast<std::uint32_t>(FOut.Size()));
        FOut.PatchU32(FBytesAt + 4, FRecords);
        FOut.PatchU16(FHandlesAt, static_cast<unsigned>(std::max(SlotCount(), 1)));
    }

    void EmitCreatePen(int slot, const TPenSpec& pen) override
    {
        const std::size_t at = Begin(EMR_CREATEPEN);
        FOut.U32(static_cast<std::uint32_t>(slot));
        FOut.U32(static_cast<std::uint32_t>(pen.Style));
        FOut.I32(pen.Width);
        FOut.I32(0);
        FOut.U32(pen.Color);
        End(at);
    }

    void EmitCreateBrush(int slot, const TBrushSpec& brush) override
    {
        const std::size_t at = Begin(EMR_CREATEBRUSHINDIRECT);
        FOut.U32(static_cast<std::uint32_t>(slot));
        FOut.U32(brush.Hollow ? 1 : 0); // BS_NULL : BS_SOLID
        FOut.U32(brush.Color);
        FOut.U32(0);
        End(at);
    }

    // LOGFONTW followed by the rest of a LOGFONT_PANOSE, left empty: the
    // size Windows itself writes, which every reader accepts.
    void EmitCreateFont(int slot, const TFontSpec& font) override
    {
        const std::size_t at = Begin(EMR_EXTCREATEFONTINDIRECTW);
        FOut.U32(static_cast<std::uint32_t>(slot));
        FontHead({-std::max(font.Height, 1), 0, font.Escapement, font.Escapement, font.Weight}, true, font.Italic,
                 1); // DEFAULT_CHARSET
        for (std::size_t i = 0; i < 32; ++i)
            FOut.U16(i < 31 && i < font.Face.size() ? font.Face[i] : 0);
        FOut.Zeros(320 - 92);
        End(at);
    }

    void EmitIntersectClip(const TRect& r) override
    {
        const std::size_t at = Begin(EMR_INTERSECTCLIPRECT);
        Rect(r);
        End(at);
    }

    void EmitTextColor(TColorRef c) override { Simple(EMR_SETTEXTCOLOR, c); }

    void EmitPolyline(const std::vector<TPoint>& points) override
    {
        const bool small = Fits16(points);
        const std::size_t at = Begin(small ? EMR_POLYLINE16 : EMR_POLYLINE);
        TBounds b;
        b.Add(points);
        Rect(b.R);
        FOut.U32(static_cast<std::uint32_t>(points.size()));
        Points(points, small);
        End(at);
    }

    void EmitPolyPolygon(const std::vector<std::vector<TPoint>>& polygons) override
    {
        bool small = true;
        std::uint32_t total = 0;
        for (const auto& p : polygons) {
            small = small && Fits16(p);
            total += static_cast<std::uint32_t>(p.size());
        }
        const std::size_t at = Begin(small ? EMR_POLYPOLYGON16 : EMR_POLYPOLYGON);
        TBounds b;
        for (const auto& p : polygons)
            b.Add(p);
        Rect(b.R);
        FOut.U32(static_cast<std::uint32_t>(polygons.size()));
        FOut.U32(total);
        for (const auto& p : polygons)
            FOut.U32(static_cast<std::uint32_t>(p.size()));
        for (const auto& p : polygons)
            Points(p, small);
        End(at);
    }

    void EmitRectangle(const TRect& r) override
    {
        const std::size_t at = Begin(EMR_RECTANGLE);
        Rect(r);
        End(at);
    }

    void EmitEllipse(const TRect& r) override
    {
        const std::size_t at = Begin(EMR_ELLIPSE);
        Rect(r);
        End(at);
    }

    void EmitText(const TText& t) override
    {
        const auto n = static_cast<std::uint32_t>(t.Text.size());
        const std::uint32_t offString = 76;
        const std::uint32_t offDx = offString + (n * 2 + 3) / 4 * 4;
        const std::size_t at = Begin(EMR_EXTTEXTOUTW);
        Rect(t.Bounds);
        FOut.U32(1);                          // GM_COMPATIBLE
        FOut.F32(static_cast<float>(2540.0 / 96.0)); // 0.01 mm per pixel
        FOut.F32(static_cast<float>(2540.0 / 96.0));
        FOut.I32(t.Origin.X);
        FOut.I32(t.Origin.Y);
        FOut.U32(n);
        FOut.U32(offString);
        FOut.U32(0); // no options
        Rect({0, 0, -1, -1});
        FOut.U32(offDx);
        for (char16_t c : t.Text)
            FOut.U16(c);
        FOut.PadTo(4);
        for (std::uint32_t i = 0; i < n; ++i)
            FOut.I32(i < t.Advances.size() ? t.Advances[i] : 0);
        End(at);
    }

    void EmitImage(const TImage& image) override
    {
        const TDib dib = MakeDib(image);
        const std::uint32_t offBmi = 80;
        const auto cbBmi = static_cast<std::uint32_t>(dib.Header.size());
        const std::size_t at = Begin(EMR_STRETCHDIBITS);
        Rect({image.Dest.Left, image.Dest.Top, image.Dest.Right - 1, image.Dest.Bottom - 1});
        FOut.I32(image.Dest.Left);
        FOut.I32(image.Dest.Top);
        FOut.I32(0);
        FOut.I32(0);
        FOut.I32(image.Width);
        FOut.I32(image.Height);
        FOut.U32(offBmi);
        FOut.U32(cbBmi);
        FOut.U32(offBmi + cbBmi);
        FOut.U32(static_cast<std::uint32_t>(dib.Bits.size()));
        FOut.U32(0); // DIB_RGB_COLORS
        FOut.U32(SRCCOPY);
        FOut.I32(image.Dest.Right - image.Dest.Left);
        FOut.I32(image.Dest.Bottom - image.Dest.Top);
        Dib(dib);
        End(at);
    }

    std::size_t Begin(unsigned type) override
    {
        const std::size_t at = FOut.Size();
        FOut.U32(type);
        FOut.U32(0);
        return at;
    }

    void End(std::size_t at) override
    {
        FOut.PadTo(4);
        FOut.PatchU32(at + 4, static_cast<std::uint32_t>(FOut.Size() - at));
        ++FRecords;
    }

    void Parameter(std::uint32_t value) override { FOut.U32(value); }

private:
    std::uint32_t FRecords = 0;
    std::size_t FBytesAt = 0;
    std::size_t FHandlesAt = 0;

    void Rect(const TRect& r)
    {
        FOut.I32(r.Left);
        FOut.I32(r.Top);
        FOut.I32(r.Right);
        FOut.I32(r.Bottom);
    }

    void Points(const std::vector<TPoint>& points, bool small)
    {
        for (const TPoint& p : points) {
            if (small) {
                FOut.I16(p.X);
                FOut.I16(p.Y);
            } else {
                FOut.I32(p.X);
                FOut.I32(p.Y);
            }
        }
    }
};

} // namespace

std::vector<std::uint8_t> EmfBytes(const TMetafile& mf)
{
    return Encode<TEmfWriter>(mf);
}

} // namespace vinsk::metafile
