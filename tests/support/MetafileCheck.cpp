#include "tests/support/MetafileCheck.h"

#include <fstream>
#include <iterator>
#include <optional>

namespace vinsk::test {
namespace {

class TReader {
public:
    explicit TReader(const std::vector<std::uint8_t>& b) : FB(b) {}
    bool Has(std::size_t at, std::size_t n) const { return at + n <= FB.size(); }
    std::uint32_t U8(std::size_t at) const { return Has(at, 1) ? FB[at] : 0; }
    std::uint32_t U16(std::size_t at) const { return U8(at) | U8(at + 1) << 8; }
    std::uint32_t U32(std::size_t at) const { return U16(at) | U16(at + 2) << 16; }
    std::int32_t I16(std::size_t at) const { return static_cast<std::int16_t>(U16(at)); }
    std::int32_t I32(std::size_t at) const { return static_cast<std::int32_t>(U32(at)); }
    std::size_t Size() const { return FB.size(); }

private:
    const std::vector<std::uint8_t>& FB;
};

enum TKind { KPen, KBrush, KFont };

struct TObject {
    TKind Kind = KPen;
    std::uint32_t Color = 0; // pen or brush colour
    bool Hollow = false;     // null pen or brush
    std::int32_t Escapement = 0;
};

struct TDc {
    std::optional<int> Selected[3];
    std::uint32_t TextColor = 0;
    std::uint32_t Align = 0;
    bool Transparent = false;
    bool Clipped = false;
};

// The object table and device context of a player.
class TPlayer {
public:
    explicit TPlayer(TPlayed& out) : FOut(out) {}

    void Create(int slot, const TObject& obj)
    {
        if (FLive.count(slot))
            Fault("object " + std::to_string(slot) + " created over a live one");
        if (slot >= FOut.Handles)
            Fault("object index " + std::to_string(slot) + " beyond the header's handle count");
        FLive[slot] = obj;
        FOut.MaxHandle = std::max(FOut.MaxHandle, slot);
    }

    // WMF players put a new object into the lowest free index.
    int LowestFree(int first) const
    {
        int slot = first;
        while (FLive.count(slot))
            ++slot;
        return slot;
    }

    void Select(int slot)
    {
        const auto it = FLive.find(slot);
        if (it == FLive.end())
            return Fault("select of missing object " + std::to_string(slot));
        FDc.Selected[it->second.Kind] = slot;
    }

    void Delete(int slot)
    {
        if (!FLive.count(slot))
            return Fault("delete of missing object " + std::to_string(slot));
        for (const auto& s : FDc.Selected)
            if (s == slot)
                Fault("delete of selected object " + std::to_string(slot));
        for (const TDc& saved : FStack)
            for (const auto& s : saved.Selected)
                if (s == slot)
                    Fault("delete of object " + std::to_string(slot) + " a saved context holds");
        FLive.erase(slot);
    }

    void Save()
    {
        FStack.push_back(FDc);
        FDc.TextColor = 0;
        FDc.Align = 0;
        FDc.Transparent = false;
    }

    void Restore()
    {
        if (FStack.empty())
            return Fault("RestoreDC without SaveDC");
        FDc = FStack.back();
        FStack.pop_back();
        for (const auto& s : FDc.Selected)
            if (s && !FLive.count(*s))
                Fault("RestoreDC brings back deleted object " + std::to_string(*s));
    }

    void Clip() { FDc.Clipped = true; }
    void TextColor(std::uint32_t c) { FDc.TextColor = c; }
    void Align(std::uint32_t a) { FDc.Align = a; }
    void BkMode(std::uint32_t m) { FDc.Transparent = m == 1; }

    void Line()
    {
        const TObject* pen = Selected(KPen);
        FOut.LinePens.push_back(pen ? pen->Color : 0);
        FOut.LineClipped.push_back(FDc.Clipped);
    }

    void Fill()
    {
        const TObject* brush = Selected(KBrush);
        FOut.FillBrushes.push_back(!brush ? 0xFFFFFFFFu : brush->Hollow ? 0xFFFFFFFFu : brush->Color);
    }

    void Text(TPlayedText t)
    {
        const TObject* font = Selected(KFont);
        if (!font)
            Fault("text without a font");
        t.Escapement = font ? font->Escapement : 0;
        t.Color = FDc.TextColor;
        t.Align = FDc.Align;
        t.Transparent = FDc.Transparent;
        FOut.Texts.push_back(std::move(t));
    }

    void Fault(const std::string& f) { FOut.Faults.push_back(f); }

    void Finish()
    {
        if (!FStack.empty())
            Fault("SaveDC left open at the end");
    }

private:
    const TObject* Selected(TKind k) const
    {
        if (!FDc.Selected[k])
            return nullptr;
        const auto it = FLive.find(*FDc.Selected[k]);
        return it == FLive.end() ? nullptr : &it->second;
    }

    TPlayed& FOut;
    std::map<int, TObject> FLive;
    TDc FDc;
    std::vector<TDc> FStack;
};

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TPlayed PlayEmf(const std::vector<std::uint8_t>& bytes)
{
    TPlayed out;
    TPlayer player(out);
    const TReader r(bytes);
    if (r.Size() < 108 || r.U32(0) != 1) {
        player.Fault("no EMF header");
        return out;
    }
    if (r.U32(40) != 0x464D4520)
        player.Fault("no \" EMF\" signature");
    if (r.U32(48) != r.Size())
        player.Fault("nBytes differs from the file size");
    out.Handles = static_cast<int>(r.U16(56));
    out.Width = r.U32(16) - r.U32(8) + 1;
    out.Height = r.U32(20) - r.U32(12) + 1;
    if (r.I32(72) != 9600 || r.I32(80) != 2540)
        player.Fault("reference device is not 9600 px on 2540 mm");

    std::size_t at = 0;
    std::uint32_t records = 0;
    bool eof = false;
    while (at < r.Size()) {
        const std::uint32_t type = r.U32(at);
        const std::uint32_t size = r.U32(at + 4);
        if (size < 8 || size % 4 != 0 || !r.Has(at, size)) {
            player.Fault("bad size of record " + std::to_string(type) + " at " + std::to_string(at));
            break;
        }
        if (eof)
            player.Fault("records after EOF");
        ++records;
        ++out.Counts[type];
        const auto expect = [&](std::size_t want) {
            if ((want + 3) / 4 * 4 != size)
                player.Fault("record " + std::to_string(type) + " has size " + std::to_string(size) + ", wants " +
                             std::to_string(want));
        };
        switch (type) {
        case 14:
            eof = true;
            break;
        case 38: // pen
            expect(28);
            player.Create(static_cast<int>(r.U32(at + 8)), {KPen, r.U32(at + 24), r.U32(at + 12) == 5, 0});
            break;
        case 39: // brush
            expect(24);
            player.Create(static_cast<int>(r.U32(at + 8)), {KBrush, r.U32(at + 16), r.U32(at + 12) == 1, 0});
            break;
        case 82: // font
            if (size < 12 + 92)
                player.Fault("font record too small");
            player.Create(static_cast<int>(r.U32(at + 8)), {KFont, 0, false, r.I32(at + 20)});
            break;
        case 37:
            if (!(r.U32(at + 8) & 0x80000000u)) // not a stock object
                player.Select(static_cast<int>(r.U32(at + 8)));
            break;
        case 40:
            player.Delete(static_cast<int>(r.U32(at + 8)));
            break;
        case 33:
            player.Save();
            break;
        case 34:
            if (r.I32(at + 8) != -1)
                player.Fault("RestoreDC other than -1");
            player.Restore();
            break;
        case 30:
            player.Clip();
            break;
        case 24:
            player.TextColor(r.U32(at + 8));
            break;
        case 22:
            player.Align(r.U32(at + 8));
            break;
        case 18:
            player.BkMode(r.U32(at + 8));
            break;
        case 87:
        case 4: {
            const std::size_t point = type == 87 ? 4 : 8;
            expect(28 + point * r.U32(at + 24));
            player.Line();
            break;
        }
        case 91:
        case 8: {
            const std::size_t point = type == 91 ? 4 : 8;
            const std::uint32_t polys = r.U32(at + 24);
            const std::uint32_t total = r.U32(at + 28);
            std::uint32_t sum = 0;
            for (std::uint32_t i = 0; i < polys; ++i)
                sum += r.U32(at + 32 + 4 * i);
            if (sum != total)
                player.Fault("polygon counts do not add up");
            expect(32 + 4 * polys + point * total);
            player.Fill();
            break;
        }
        case 42:
        case 43:
            expect(24);
            player.Fill();
            break;
        case 84: { // EXTTEXTOUTW
            const std::uint32_t n = r.U32(at + 44);
            const std::uint32_t offString = r.U32(at + 48);
            const std::uint32_t offDx = r.U32(at + 72);
            if (offString % 4 != 0 || offDx % 4 != 0 || offString + 2 * n > offDx || offDx + 4 * n > size)
                player.Fault("text record offsets out of place");
            TPlayedText t;
            t.X = r.I32(at + 36);
            t.Y = r.I32(at + 40);
            for (std::uint32_t i = 0; i < n; ++i) {
                t.Text.push_back(static_cast<char16_t>(r.U16(at + offString + 2 * i)));
                t.Advances.push_back(r.I32(at + offDx + 4 * i));
            }
            player.Text(std::move(t));
            break;
        }
        case 81: { // STRETCHDIBITS
            const std::uint32_t offBmi = r.U32(at + 48), cbBmi = r.U32(at + 52);
            const std::uint32_t offBits = r.U32(at + 56), cbBits = r.U32(at + 60);
            if (offBmi + cbBmi > size || offBits + cbBits > size || r.U32(at + offBmi) != 40)
                player.Fault("bitmap record out of place");
            break;
        }
        default:
            break;
        }
        at += size;
    }
    if (!eof)
        player.Fault("no EOF record");
    if (records != r.U32(52))
        player.Fault("nRecords differs from the records found");
    player.Finish();
    return out;
}

TPlayed PlayWmf(const std::vector<std::uint8_t>& bytes)
{
    TPlayed out;
    TPlayer player(out);
    const TReader r(bytes);
    if (r.Size() < 40 || r.U32(0) != 0x9AC6CDD7) {
        player.Fault("no placeable header");
        return out;
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2)
        sum ^= r.U16(i);
    if (sum != r.U16(20))
        player.Fault("placeable checksum wrong");
    out.Width = static_cast<std::uint32_t>(r.I16(10) - r.I16(6));
    out.Height = static_cast<std::uint32_t>(r.I16(12) - r.I16(8));
    const std::size_t head = 22;
    if (r.U16(head) != 1 || r.U16(head + 2) != 9 || r.U16(head + 4) != 0x0300)
        player.Fault("bad metafile header");
    if (r.U32(head + 6) * 2 != r.Size() - head)
        player.Fault("header size differs from the file size");
    out.Handles = static_cast<int>(r.U16(head + 10));

    std::size_t at = head + 18;
    std::uint32_t maxRecord = 0;
    bool eof = false;
    while (at < r.Size()) {
        const std::uint32_t words = r.U32(at);
        const unsigned fn = r.U16(at + 4);
        if (words < 3 || !r.Has(at, words * 2)) {
            player.Fault("bad size of record " + std::to_string(fn));
            break;
        }
        if (eof)
            player.Fault("records after EOF");
        maxRecord = std::max(maxRecord, words);
        ++out.Counts[fn];
        const std::size_t p = at + 6;
        const auto expect = [&](std::size_t bytes) {
            if (words * 2 != 6 + (bytes + 1) / 2 * 2)
                player.Fault("record " + std::to_string(fn) + " has wrong size");
        };
        switch (fn) {
        case 0x0000:
            eof = true;
            break;
        case 0x02FA:
            expect(10);
            player.Create(player.LowestFree(0), {KPen, r.U32(p + 6), r.U16(p) == 5, 0});
            break;
        case 0x02FC:
            expect(8);
            player.Create(player.LowestFree(0), {KBrush, r.U32(p + 2), r.U16(p) == 1, 0});
            break;
        case 0x02FB:
            player.Create(player.LowestFree(0), {KFont, 0, false, r.I16(p + 4)});
            break;
        case 0x012D:
            player.Select(static_cast<int>(r.U16(p)));
            break;
        case 0x01F0:
            player.Delete(static_cast<int>(r.U16(p)));
            break;
        case 0x001E:
            player.Save();
            break;
        case 0x0127:
            player.Restore();
            break;
        case 0x0416:
            expect(8);
            player.Clip();
            break;
        case 0x0209:
            player.TextColor(r.U32(p));
            break;
        case 0x012E:
            player.Align(r.U16(p));
            break;
        case 0x0102:
            player.BkMode(r.U16(p));
            break;
        case 0x0325:
            expect(2 + 4 * static_cast<std::size_t>(r.I16(p)));
            player.Line();
            break;
        case 0x0324:
            expect(2 + 4 * static_cast<std::size_t>(r.I16(p)));
            player.Fill();
            break;
        case 0x0538: {
            const std::uint32_t polys = r.U16(p);
            std::size_t total = 0;
            for (std::uint32_t i = 0; i < polys; ++i)
                total += r.U16(p + 2 + 2 * i);
            expect(2 + 2 * polys + 4 * total);
            player.Fill();
            break;
        }
        case 0x041B:
        case 0x0418:
            expect(8);
            player.Fill();
            break;
        case 0x0A32: {
            const auto n = static_cast<std::size_t>(r.I16(p + 4));
            const unsigned opts = r.U16(p + 6);
            const std::size_t text = p + 8 + ((opts & 6) ? 8 : 0);
            const std::size_t fixed = text - p + (n + 1) / 2 * 2;
            if (words * 2 != 6 + fixed && words * 2 != 6 + fixed + 2 * n)
                player.Fault("text record has wrong size");
            TPlayedText t;
            t.Y = r.I16(p);
            t.X = r.I16(p + 2);
            for (std::size_t i = 0; i < n; ++i)
                t.Text.push_back(static_cast<char16_t>(r.U8(text + i)));
            if (words * 2 == 6 + fixed + 2 * n)
                for (std::size_t i = 0; i < n; ++i)
                    t.Advances.push_back(r.I16(text + (n + 1) / 2 * 2 + 2 * i));
            player.Text(std::move(t));
            break;
        }
        case 0x0F43:
            if (r.U32(p + 22) != 40)
                player.Fault("bitmap header out of place");
            break;
        default:
            break;
        }
        at += words * 2;
    }
    if (!eof)
        player.Fault("no EOF record");
    if (maxRecord != r.U32(head + 12))
        player.Fault("largest record differs from the header");
    player.Finish();
    return out;
}

} // namespace vinsk::test
