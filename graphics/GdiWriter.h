// What the WMF and EMF encoders share: the byte sink, the object table and
// the selection, clipping through SaveDC/RestoreDC, and the lazy selection
// of pens, brushes, fonts, text colour and fill mode before each drawing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "graphics/MetafileRecords.h"

namespace vinsk::metafile {

// Little-endian output with patching of sizes written later.
class TByteSink {
public:
    std::vector<std::uint8_t> Data;

    std::size_t Size() const { return Data.size(); }
    void U8(unsigned v) { Data.push_back(static_cast<std::uint8_t>(v)); }
    void U16(unsigned v)
    {
        U8(v & 0xFFu);
        U8((v >> 8) & 0xFFu);
    }
    void U32(std::uint32_t v)
    {
        U16(v & 0xFFFFu);
        U16(v >> 16);
    }
    void I16(std::int32_t v) { U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F32(float f);
    void Zeros(std::size_t n) { Data.insert(Data.end(), n, 0); }
    void PadTo(std::size_t align)
    {
        while (Data.size() % align != 0)
            U8(0);
    }
    void PatchU16(std::size_t at, unsigned v);
    void PatchU32(std::size_t at, std::uint32_t v);
};

// A 24-bit bottom-up DIB (BITMAPINFOHEADER and rows) of an image record,
// transparency laid over white.
struct TDib {
    std::vector<std::uint8_t> Header; // 40 bytes
    std::vector<std::uint8_t> Bits;
};
TDib MakeDib(const TImage& image);

class TGdiWriter {
public:
    virtual ~TGdiWriter() = default;
    void Play(const TMetafile& mf);

protected:
    // EMF object indexes start at 1 (0 is reserved), WMF ones at 0.
    explicit TGdiWriter(int firstSlot) : FFirstSlot(firstSlot) {}

    // The highest object index used + 1.
    int SlotCount() const { return FSlotCount; }

    virtual void EmitBegin(const TMetafile& mf) = 0;
    virtual void EmitEnd() = 0;
    virtual void EmitCreatePen(int slot, const TPenSpec& pen) = 0;
    virtual void EmitCreateBrush(int slot, const TBrushSpec& brush) = 0;
    virtual void EmitCreateFont(int slot, const TFontSpec& font) = 0;
    virtual void EmitSelect(int slot) = 0;
    virtual void EmitDelete(int slot) = 0;
    // Transparent text background, text placed by its baseline.
    virtual void EmitModes() = 0;
    virtual void EmitSaveDC() = 0;
    virtual void EmitRestoreDC() = 0;
    virtual void EmitIntersectClip(const TRect& r) = 0;
    virtual void EmitTextColor(TColorRef c) = 0;
    virtual void EmitFillMode(bool winding) = 0;
    virtual void EmitPolyline(const std::vector<TPoint>& points) = 0;
    virtual void EmitPolyPolygon(const std::vector<std::vector<TPoint>>& polygons) = 0;
    virtual void EmitRectangle(const TRect& r) = 0;
    virtual void EmitEllipse(const TRect& r) = 0;
    virtual void EmitText(const TText& t) = 0;
    virtual void EmitImage(const TImage& image) = 0;

private:
    enum TKind { KPen, KBrush, KFont, KindCount };
    using TObject = std::variant<TPenSpec, TBrushSpec, TFontSpec>;
    using TSelection = std::array<int, KindCount>;

    struct TDcState {
        TSelection Selected{-1, -1, -1};
        std::optional<TColorRef> TextColor;
        std::optional<bool> Winding;
    };

    void Draw(const TRecord& r);
    void RealizeClip();
    void Realize(TKind kind, const TObject& want);
    void RealizeTextColor();
    void RealizeFillMode(bool winding);
    int Allocate(const TObject& obj);
    void Free(int slot);

    int FFirstSlot;
    int FSlotCount = 0;
    std::vector<std::optional<TObject>> FSlots;

    // Wanted state, from the state records.
    TPenSpec FPen;
    TBrushSpec FBrush;
    TFontSpec FFont;
    TColorRef FTextColor = 0;
    TSetClip FClip;

    // State of the playing device context, and the one SaveDC kept.
    TDcState FDc;
    TSetClip FDcClip;
    std::optional<TDcState> FSaved;
};

// The record skeleton both encodings share. Begin writes a record's header
// and returns where the record starts; End pads the record and writes its
// size there. The records of one parameter differ between the formats only
// in their type codes and the parameter's width, so they are written here.
class TRecordWriter : public TGdiWriter {
public:
    std::vector<std::uint8_t> Take() { return std::move(FOut.Data); }

protected:
    struct TRecordTypes {
        unsigned SetBkMode, SetTextAlign, SetPolyFillMode, SelectObject, DeleteObject, SaveDC, RestoreDC;
    };
    static constexpr std::uint32_t SRCCOPY = 0x00CC0020;

    TRecordWriter(int firstSlot, const TRecordTypes& types) : TGdiWriter(firstSlot), FTypes(types) {}

    virtual std::size_t Begin(unsigned type) = 0;
    virtual void End(std::size_t at) = 0;
    // A record's one parameter: 32 bits in EMF, 16 in WMF.
    virtual void Parameter(std::uint32_t value) = 0;

    void Simple(unsigned type, std::uint32_t value)
    {
        const std::size_t at = Begin(type);
        Parameter(value);
        End(at);
    }

    // A LOGFONT up to its face: height, width, escapement, orientation and
    // weight (32 bits each in EMF, 16 in WMF), then the style bytes.
    void FontHead(std::initializer_list<std::int32_t> numbers, bool wide, bool italic, unsigned charset)
    {
        for (std::int32_t n : numbers) {
            if (wide)
                FOut.I32(n);
            else
                FOut.I16(n);
        }
        FOut.U8(italic ? 1 : 0);
        FOut.U8(0); // underline and strike-out come as lines
        FOut.U8(0);
        FOut.U8(charset);
        FOut.Zeros(4); // precisions, quality, pitch and family: the defaults
    }

    void Dib(const TDib& dib)
    {
        FOut.Data.insert(FOut.Data.end(), dib.Header.begin(), dib.Header.end());
        FOut.Data.insert(FOut.Data.end(), dib.Bits.begin(), dib.Bits.end());
    }

    void EmitModes() override
    {
        Simple(FTypes.SetBkMode, 1);     // TRANSPARENT
        Simple(FTypes.SetTextAlign, 24); // TA_BASELINE
    }
    void EmitSelect(int slot) override { Simple(FTypes.SelectObject, static_cast<std::uint32_t>(slot)); }
    void EmitDelete(int slot) override { Simple(FTypes.DeleteObject, static_cast<std::uint32_t>(slot)); }
    void EmitSaveDC() override { End(Begin(FTypes.SaveDC)); }
    // -1: the state saved last.
    void EmitRestoreDC() override { Simple(FTypes.RestoreDC, 0xFFFFFFFFu); }
    void EmitFillMode(bool winding) override { Simple(FTypes.SetPolyFillMode, winding ? 2 : 1); }

    TByteSink FOut;

private:
    TRecordTypes FTypes;
};

// A drawing in the encoding that Writer writes.
template <class Writer>
std::vector<std::uint8_t> Encode(const TMetafile& mf)
{
    Writer w;
    w.Play(mf);
    return w.Take();
}

} // namespace vinsk::metafile
