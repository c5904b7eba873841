// A drawing kept as a list of metafile records, and its Windows metafile
// (WMF, placeable) and enhanced metafile (EMF) encodings.
//
// The records are in device pixels of a 96 dpi page and already carry the
// GDI view of the drawing: pens, brushes and fonts as object descriptions,
// one clip rectangle at a time, text with per-character advances. The
// writers turn them into the object, clipping and drawing records of each
// format. Plain C++ without Qt, so the encodings are testable on their own.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vinsk::metafile {

// COLORREF: 0x00BBGGRR.
using TColorRef = std::uint32_t;

constexpr TColorRef ColorRef(unsigned r, unsigned g, unsigned b)
{
    return (r & 0xFFu) | (g & 0xFFu) << 8 | (b & 0xFFu) << 16;
}

struct TPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    bool operator==(const TPoint&) const = default;
};

// GDI edges: Right and Bottom lie just outside the area.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    bool operator==(const TRect&) const = default;
};

// The values are the GDI pen styles.
enum class TPenStyle : std::uint32_t { Solid = 0, Dash = 1, Dot = 2, DashDot = 3, DashDotDot = 4, Null = 5 };

struct TPenSpec {
    TPenStyle Style = TPenStyle::Solid;
    std::int32_t Width = 1; // device pixels
    TColorRef Color = 0;
    bool operator==(const TPenSpec&) const = default;
};

struct TBrushSpec {
    bool Hollow = true;
    TColorRef Color = 0;
    bool operator==(const TBrushSpec&) const = default;
};

struct TFontSpec {
    std::int32_t Height = 12;     // em height in pixels, written as a negative lfHeight
    std::int32_t Escapement = 0;  // tenths of a degree, counter-clockwise on the page
    std::int32_t Weight = 400;    // 100 ... 900
    bool Italic = false;
    std::u16string Face;
    bool operator==(const TFontSpec&) const = default;
};

// State records: the drawing records that follow use them.
struct TSetPen { TPenSpec Pen; };
struct TSetBrush { TBrushSpec Brush; };
struct TSetFont { TFontSpec Font; };
struct TSetTextColor { TColorRef Color = 0; };
// On: drawing is clipped to Rect from here on; otherwise not clipped.
struct TSetClip {
    bool On = false;
    TRect Rect;
};

// Drawing records.
struct TPolyline { std::vector<TPoint> Points; };
// Filled with the brush and outlined with the pen; several polygons make
// holes by the fill rule.
struct TPolyPolygon {
    std::vector<std::vector<TPoint>> Polygons;
    bool Winding = false;
};
struct TRectangle { TRect Rect; };
struct TEllipse { TRect Rect; };
// Origin is the left end of the baseline. Advances holds one value per UTF-16
// unit (0 for the second unit of a pair).
struct TText {
    TPoint Origin;
    std::u16string Text;
    std::vector<std::int32_t> Advances;
    TRect Bounds;
};
// Pixels are 0xAARRGGBB words, top row first; transparency is laid over white.
struct TImage {
    TRect Dest;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::uint32_t> Pixels;
};

using TRecord = std::variant<TSetPen, TSetBrush, TSetFont, TSetTextColor, TSetClip, TPolyline, TPolyPolygon,
                             TRectangle, TEllipse, TText, TImage>;

struct TMetafile {
    std::int32_t Width = 0;  // pixels at 96 dpi
    std::int32_t Height = 0;
    std::vector<TRecord> Records;
};

// Enhanced metafile: " EMF" header for a reference device of 9600 pixels on
// 2540 mm (96 dpi), MM_TEXT pixels, 32-bit records where 16 bits do not reach.
std::vector<std::uint8_t> EmfBytes(const TMetafile& mf);

// Windows metafile with the placeable header, 96 logical units per inch.
// Coordinates beyond the 16-bit range are clamped to it; text is written in
// Windows-1252, characters outside it as '?'.
std::vector<std::uint8_t> WmfBytes(const TMetafile& mf);

} // namespace vinsk::metafile
