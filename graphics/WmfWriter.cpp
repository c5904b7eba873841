// Windows metafile encoding, with the placeable header that gives readers
// the picture's size.
#include <algorithm>

#include "graphics/GdiWriter.h"

namespace vinsk::metafile {
namespace {

enum : unsigned {
    META_EOF = 0x0000,
    META_SAVEDC = 0x001E,
    META_SETBKMODE = 0x0102,
    META_SETPOLYFILLMODE = 0x0106,
    META_RESTOREDC = 0x0127,
    META_SELECTOBJECT = 0x012D,
    META_SETTEXTALIGN = 0x012E,
    META_DELETEOBJECT = 0x01F0,
    META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C,
    META_SETTEXTCOLOR = 0x0209,
    META_CREATEPENINDIRECT = 0x02FA,
    META_CREATEFONTINDIRECT = 0x02FB,
    META_CREATEBRUSHINDIRECT = 0x02FC,
    META_POLYGON = 0x0324,
    META_POLYLINE = 0x0325,
    META_INTERSECTCLIPRECT = 0x0416,
    META_ELLIPSE = 0x0418,
    META_RECTANGLE = 0x041B,
    META_POLYPOLYGON = 0x0538,
    META_EXTTEXTOUT = 0x0A32,
    META_STRETCHDIB = 0x0F43,
};

constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr unsigned UnitsPerInch = 96;
constexpr std::int32_t MaxCount = 32767; // counts are 16-bit signed

std::int32_t Clamp16(std::int32_t v)
{
    return std::clamp(v, -32768, 32767);
}

// Windows-1252, the code page of ANSI_CHARSET fonts.
unsigned char Ansi(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<unsigned char>(c);
    static constexpr char16_t High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (unsigned i = 0; i < 32; ++i)
        if (High[i] != 0 && High[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    return '?';
}

// Polygons longer than a 16-bit count keep every n-th point.
std::vector<TPoint> Thinned(const std::vector<TPoint>& p)
{
    if (static_cast<std::int32_t>(p.size()) <= MaxCount)
        return p;
    const std::size_t step = (p.size() + MaxCount - 1) / MaxCount;
    std::vector<TPoint> out;
    for (std::size_t i = 0; i < p.size(); i += step)
        out.push_back(p[i]);
    return out;
}

class TWmfWriter final : public TRecordWriter {
public:
    TWmfWriter()
        : TRecordWriter(0, {META_SETBKMODE, META_SETTEXTALIGN, META_SETPOLYFILLMODE, META_SELECTOBJECT,
                            META_DELETEOBJECT, META_SAVEDC, META_RESTOREDC})
    {
    }

protected:
    void EmitBegin(const TMetafile& mf) override
    {
        const std::int32_t w = Clamp16(std::max(mf.Width, 1));
        const std::int32_t h = Clamp16(std::max(mf.Height, 1));
        FOut.U32(PlaceableKey);
        FOut.U16(0);
        FOut.I16(0);
        FOut.I16(0);
        FOut.I16(w);
        FOut.I16(h);
        FOut.U16(UnitsPerInch);
        FOut.U32(0);
        unsigned sum = 0;
        for (std::size_t i = 0; i < 20; i += 2)
            sum ^= FOut.Data[i] | FOut.Data[i + 1] << 8;
        FOut.U16(sum);

        FHeaderAt = FOut.Size();
        FOut.U16(1);      // memory metafile
        FOut.U16(9);      // header words
        FOut.U16(0x0300); // version
        FOut.U32(0);      // size in words
        FOut.U16(0);      // objects
        FOut.U32(0);      // largest record in words
        FOut.U16(0);

        const std::size_t org = Begin(META_SETWINDOWORG);
        FOut.I16(0);
        FOut.I16(0);
        End(org);
        const std::size_t ext = Begin(META_SETWINDOWEXT);
        FOut.I16(h);
        FOut.I16(w);
        End(ext);
        EmitModes();
    }

    void EmitEnd() override
    {
        End(Begin(META_EOF));
        FOut.PatchU32(FHeaderAt + 6, static_cast<std::uint32_t>((FOut.Size() - FHeaderAt) / 2));
        FOut.PatchU16(FHeaderAt + 10, static_cast<unsigned>(SlotCount()));
        FOut.PatchU32(FHeaderAt + 12, FMaxRecord);
    }

    void EmitCreatePen(int, const TPenSpec& pen) override
    {
        const std::size_t at = Begin(META_CREATEPENINDIRECT);
        FOut.U16(static_cast<unsigned>(pen.Style));
        FOut.I16(Clamp16(pen.Width));
        FOut.I16(0);
        FOut.U32(pen.Color);
        End(at);
    }

    void EmitCreateBrush(int, const TBrushSpec& brush) override
    {
        const std::size_t at = Begin(META_CREATEBRUSHINDIRECT);
        FOut.U16(brush.Hollow ? 1 : 0); // BS_NULL : BS_SOLID
        FOut.U32(brush.Color);
        FOut.U16(0);
        End(at);
    }

    void EmitCreateFont(int, const TFontSpec& font) override
    {
        const std::size_t at = Begin(META_CREATEFONTINDIRECT);
        FontHead({-Clamp16(std::max(font.Height, 1)), 0, Clamp16(font.Escapement), Clamp16(font.Escapement), font.Weight},
                 false, font.Italic, 0); // ANSI_CHARSET
        for (std::size_t i = 0; i < 32; ++i)
            FOut.U8(i < 31 && i < font.Face.size() ? Ansi(font.Face[i]) : 0);
        End(at);
    }

    void EmitIntersectClip(const TRect& r) override { RectRecord(META_INTERSECTCLIPRECT, r); }

    void EmitTextColor(TColorRef c) override
    {
        const std::size_t at = Begin(META_SETTEXTCOLOR);
        FOut.U32(c);
        End(at);
    }

    void EmitPolyline(const std::vector<TPoint>& points) override
    {
        // Long lines go in pieces that share their end points.
        for (std::size_t start = 0; start + 1 < points.size(); start += MaxCount - 1) {
            const std::size_t n = std::min<std::size_t>(MaxCount, points.size() - start);
            const std::size_t at = Begin(META_POLYLINE);
            FOut.I16(static_cast<std::int32_t>(n));
            for (std::size_t i = start; i < start + n; ++i)
                Point(points[i]);
            End(at);
        }
    }

    void EmitPolyPolygon(const std::vector<std::vector<TPoint>>& polygons) override
    {
        std::vector<std::vector<TPoint>> polys;
        for (const auto& p : polygons)
            polys.push_back(Thinned(p));
        if (polys.size() > static_cast<std::size_t>(MaxCount))
            polys.resize(MaxCount);
        if (polys.size() == 1) {
            const std::size_t at = Begin(META_POLYGON);
            FOut.I16(static_cast<std::int32_t>(polys[0].size()));
            for (const TPoint& p : polys[0])
                Point(p);
            End(at);
            return;
        }
        const std::size_t at = Begin(META_POLYPOLYGON);
        FOut.U16(static_cast<unsigned>(polys.size()));
        for (const auto& p : polys)
            FOut.U16(static_cast<unsigned>(p.size()));
        for (const auto& p : polys)
            for (const TPoint& q : p)
                Point(q);
        End(at);
    }

    void EmitRectangle(const TRect& r) override { RectRecord(META_RECTANGLE, r); }
    void EmitEllipse(const TRect& r) override { RectRecord(META_ELLIPSE, r); }

    void EmitText(const TText& t) override
    {
        // One byte per character; a surrogate pair becomes one '?' with the
        // advance of the pair.
        std::vector<unsigned char> bytes;
        std::vector<std::int32_t> dx;
        for (std::size_t i = 0; i < t.Text.size() && bytes.size() < static_cast<std::size_t>(MaxCount); ++i) {
            const char16_t c = t.Text[i];
            std::int32_t adv = i < t.Advances.size() ? t.Advances[i] : 0;
            const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < t.Text.size() && t.Text[i + 1] >= 0xDC00 &&
                              t.Text[i + 1] <= 0xDFFF;
            if (pair) {
                adv += i + 1 < t.Advances.size() ? t.Advances[i + 1] : 0;
                ++i;
            }
            bytes.push_back(pair ? '?' : Ansi(c));
            dx.push_back(adv);
        }
        const std::size_t at = Begin(META_EXTTEXTOUT);
        FOut.I16(Clamp16(t.Origin.Y));
        FOut.I16(Clamp16(t.Origin.X));
        FOut.I16(static_cast<std::int32_t>(bytes.size()));
        FOut.U16(0); // no options, so no rectangle
        for (unsigned char b : bytes)
            FOut.U8(b);
        FOut.PadTo(2);
        for (std::int32_t d : dx)
            FOut.I16(Clamp16(d));
        End(at);
    }

    void EmitImage(const TImage& image) override
    {
        if (image.Width > MaxCount || image.Height > MaxCount)
            return; // a 16-bit record cannot name the source size
        const TDib dib = MakeDib(image);
        const std::size_t at = Begin(META_STRETCHDIB);
        FOut.U32(SRCCOPY);
        FOut.U16(0); // DIB_RGB_COLORS
        FOut.I16(image.Height);
        FOut.I16(image.Width);
        FOut.I16(0);
        FOut.I16(0);
        FOut.I16(Clamp16(image.Dest.Bottom - image.Dest.Top));
        FOut.I16(Clamp16(image.Dest.Right - image.Dest.Left));
        FOut.I16(Clamp16(image.Dest.Top));
        FOut.I16(Clamp16(image.Dest.Left));
        Dib(dib);
        End(at);
    }

    std::size_t Begin(unsigned function) override
    {
        const std::size_t at = FOut.Size();
        FOut.U32(0);
        FOut.U16(function);
        return at;
    }

    void End(std::size_t at) override
    {
        FOut.PadTo(2);
        const auto words = static_cast<std::uint32_t>((FOut.Size() - at) / 2);
        FOut.PatchU32(at, words);
        FMaxRecord = std::max(FMaxRecord, words);
    }

    void Parameter(std::uint32_t value) override { FOut.U16(value); }

private:
    std::size_t FHeaderAt = 0;
    std::uint32_t FMaxRecord = 0;

    // Rectangles go bottom, right, top, left.
    void RectRecord(unsigned function, const TRect& r)
    {
        const std::size_t at = Begin(function);
        FOut.I16(Clamp16(r.Bottom));
        FOut.I16(Clamp16(r.Right));
        FOut.I16(Clamp16(r.Top));
        FOut.I16(Clamp16(r.Left));
        End(at);
    }

    void Point(const TPoint& p)
    {
        FOut.I16(Clamp16(p.X));
        FOut.I16(Clamp16(p.Y));
    }
};

} // namespace

std::vector<std::uint8_t> WmfBytes(const TMetafile& mf)
{
    return Encode<TWmfWriter>(mf);
}

} // namespace vinsk::metafile
