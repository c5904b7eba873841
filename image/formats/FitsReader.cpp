// FITS pictures (fits, fit, fts, and tile-compressed fz) through cfitsio,
// read from memory. cfitsio reports through its status codes and its error
// stack, which we empty into our message; it prints nothing on these paths.
//
// The physical values (BZERO + BSCALE x stored) become the linear plane as
// floats; the raster maps them linearly from DATAMIN..DATAMAX when the header
// gives a usable range, otherwise from the data's own range. FITS counts rows
// from the bottom, so the last stored row is the picture's top row, unless
// ROWORDER says TOP-DOWN. A BAYERPAT header makes each 2x2 cell one RGB pixel.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fitsio.h>
#include <zlib.h>

#include "image/formats/ReaderUtil.h"
#include "setup/DriveSettings.h"

namespace vinsk::formats {

namespace {

// The status text and the messages that cfitsio stacked, oldest first.
[[noreturn]] void FailFits(int status)
{
    char text[FLEN_STATUS] = {};
    ffgerr(status, text);
    std::string message = std::string("FITS error: ") + text;
    char stacked[FLEN_ERRMSG] = {};
    // The oldest message says what went wrong; the rest say where.
    if (ffgmsg(stacked) > 0 && std::strcmp(stacked, text) != 0)
        message += std::string(" (") + stacked + ")";
    ffcmsg();
    Fail(message);
}

// cfitsio 4.2 aborts the process (a fortified strncat overflowing its
// message buffer) when a keyword it reads as an integer holds a value of 29
// or more characters that is no number. No valid header has such a value, so
// the header blocks are checked before cfitsio sees them: every value must be
// a quoted string, a logical, a number or a bracketed complex pair, and a
// quoted string that long may not stand where an integer is due.
// A FITS number, whatever the process's locale.
std::optional<double> NumberOf(std::string t)
{
    for (char& c : t)
        if (c == 'D' || c == 'd')
            c = 'E'; // FITS allows D exponents
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+')
        ++first;
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (first == last || ec != std::errc() || end != last)
        return std::nullopt;
    return v;
}

bool IsNumber(const std::string& t) { return NumberOf(t).has_value(); }

bool IntegerKeyword(const std::string& key)
{
    static const char* const exact[] = {"BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP", "BLANK", "EXTEND"};
    for (const char* k : exact)
        if (key == k)
            return true;
    return key.rfind("NAXIS", 0) == 0 || key.rfind("TNULL", 0) == 0 || key.rfind("TBCOL", 0) == 0 || key[0] == 'Z';
}

std::string CardKey(const char* card)
{
    std::string key(card, 8);
    while (!key.empty() && key.back() == ' ')
        key.pop_back();
    return key;
}

void CheckCard(const char* card)
{
    // A keyword name has no blank inside (only the HIERARCH convention puts
    // one after it): cfitsio takes the name up to the first blank, so
    // "ZTILE1 S" would give ZTILE1 whatever follows, and a tile size it
    // cannot read is a division by zero inside it.
    if (std::memcmp(card, "HIERARCH", 8) != 0) {
        const std::string field(card, 8);
        const std::size_t blank = field.find(' ');
        if (blank != std::string::npos && field.find_first_not_of(' ', blank) != std::string::npos)
            Fail("the header holds a keyword with a blank inside its name");
    }
    // A keyword's value is printable ASCII text; cfitsio copies other bytes
    // of a table's column names into fixed buffers past their end.
    if (card[8] == '=')
        for (int i = 0; i < 80; ++i)
            if (card[i] < 0x20 || card[i] > 0x7E)
                Fail("the header holds a byte that is not text");
    // cfitsio takes a value also when the blank after '=' is missing.
    if (card[8] != '=')
        return;
    const std::string key = CardKey(card);
    if (key.empty())
        return;
    const std::string field(card + 9, 71);
    const std::size_t start = field.find_first_not_of(' ');
    if (start == std::string::npos)
        return; // an undefined value
    std::string value;
    if (field[start] == '\'') {
        // The string runs to its closing quote; doubled quotes stand for one.
        std::size_t i = start + 1;
        for (; i < field.size(); ++i)
            if (field[i] == '\'') {
                if (i + 1 < field.size() && field[i + 1] == '\'')
                    ++i;
                else
                    break;
            }
        value = field.substr(start, i + 1 - start);
        if (value.size() < 29 || !IntegerKeyword(key))
            return;
    } else if (field[start] == '(') {
        const std::size_t close = field.find(')', start);
        value = field.substr(start, close == std::string::npos ? std::string::npos : close + 1 - start);
        if (close != std::string::npos) {
            const std::size_t comma = value.find(',');
            auto trim = [](std::string t) {
                const std::size_t a = t.find_first_not_of(' '), b = t.find_last_not_of(' ');
                return a == std::string::npos ? std::string() : t.substr(a, b + 1 - a);
            };
            if (comma != std::string::npos && IsNumber(trim(value.substr(1, comma - 1))) &&
                IsNumber(trim(value.substr(comma + 1, value.size() - comma - 2))))
                return;
        }
    } else {
        const std::size_t slash = field.find('/', start);
        value = field.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
        // A number too large for cfitsio's integers makes it write the value
        // into a fixed-size message past its end, as any text does.
        if (value.size() < 29 || (IsNumber(value) && !IntegerKeyword(key)))
            return;
    }
    if (value.size() >= 29)
        Fail("the header's " + key + " holds a malformed value");
}

// The value of a card as cfitsio takes a number from it, quotes removed.
std::string CardValue(const char* card)
{
    std::string v(card + 9, 71); // cfitsio takes a value that follows the = directly
    const std::size_t slash = v.find('/');
    if (v.find('\'') < slash) {
        const std::size_t open = v.find('\''), close = v.find('\'', open + 1);
        v = v.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    } else if (slash != std::string::npos) {
        v = v.substr(0, slash);
    }
    const std::size_t a = v.find_first_not_of(' '), b = v.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : v.substr(a, b + 1 - a);
}

// cfitsio divides by the tile sizes and by some compression parameters while
// it opens a compressed image; a 0 there is a division by zero in the library.
// One pass over the cards and one over what it gathered: a header of a
// million cards costs no more than reading it.
void CheckCompressionKeys(const std::vector<const char*>& cards)
{
    auto positive = [](const std::string& v) {
        const std::optional<double> n = NumberOf(v);
        return n && *n >= 1;
    };
    // For Rice compression cfitsio takes ZVAL1 as the block size and ZVAL2
    // as the bytes per pixel whatever ZNAME1 and ZNAME2 say, and divides by
    // the block size.
    bool rice = false;
    // Whether every card of a ZVALn keyword holds a number from 1 up, and
    // the ZNAMEn cards that name a divisor, in order.
    std::unordered_map<std::string, bool> valuesPositive;
    std::vector<std::pair<std::string, std::string>> divisorNames; // ZVALn, its name
    for (const char* card : cards) {
        if (card[8] != '=')
            continue;
        const std::string key = CardKey(card);
        if (key == "ZCMPTYPE") {
            const std::string type = CardValue(card);
            rice = type == "RICE_1" || type == "RICE_ONE";
        } else if (key.rfind("ZVAL", 0) == 0) {
            auto [it, added] = valuesPositive.try_emplace(key, true);
            it->second = it->second && positive(CardValue(card));
        }
    }
    for (const char* card : cards) {
        std::string key = CardKey(card); // cfitsio finds keywords whatever their case
        for (char& ch : key)
            ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        const bool size = key.rfind("ZTILE", 0) == 0 || key.rfind("ZNAXIS", 0) == 0;
        const bool riceKey = rice && (key == "ZVAL1" || key == "ZVAL2");
        // cfitsio finds these by name also on a card without "= ", and then
        // keeps a tile size of 0 that it divides by.
        if ((size || riceKey) && card[8] != '=')
            Fail("the header's " + key + " has no value");
        if (card[8] != '=')
            continue;
        if (size && !positive(CardValue(card)))
            Fail("the header's " + key + " must be a whole number from 1 up");
        if (riceKey && !positive(CardValue(card)))
            Fail("the header's " + key + " (" + (key == "ZVAL1" ? "BLOCKSIZE" : "BYTEPIX") +
                 ") must be a whole number from 1 up");
        if (key.rfind("ZNAME", 0) != 0)
            continue;
        const std::string name = CardValue(card);
        if (name == "BLOCKSIZE" || name == "BYTEPIX")
            divisorNames.emplace_back("ZVAL" + key.substr(5), name);
    }
    for (const auto& [valueKey, name] : divisorNames) {
        const auto it = valuesPositive.find(valueKey);
        if (it != valuesPositive.end() && !it->second)
            Fail("the header's " + valueKey + " (" + name + ") must be a whole number from 1 up");
    }
}

void CheckHeaders(TBytes data)
{
    bool inHeader = true;
    std::vector<const char*> cards;
    for (std::size_t block = 0; block + 2880 <= data.size(); block += 2880) {
        const char* b = reinterpret_cast<const char*>(data.data() + block);
        if (!inHeader && std::memcmp(b, "XTENSION= ", 10) == 0)
            inHeader = true;
        if (!inHeader)
            continue;
        for (std::size_t c = 0; c < 2880; c += 80) {
            if (std::memcmp(b + c, "END     ", 8) == 0) {
                inHeader = false;
                break;
            }
            CheckCard(b + c);
            cards.push_back(b + c);
        }
        if (!inHeader) {
            CheckCompressionKeys(cards);
            cards.clear();
        }
    }
    CheckCompressionKeys(cards);
}

// One header's cards, with the first card of each keyword at hand, so that a
// look-up costs one step however long the header is. Values are read from
// the card text as cfitsio would find them: by name whatever its case, the
// first card of that name, a value only after "=" in column 9.
class THeader {
public:
    void Add(const char* card)
    {
        std::string key = CardKey(card);
        for (char& ch : key)
            ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        FFirst.try_emplace(std::move(key), card);
    }

    bool Has(const std::string& key) const { return FFirst.count(key) != 0; }

    // The value's text, quotes and comment removed; "" when the card is
    // missing or holds no value.
    std::string Value(const std::string& key) const
    {
        const auto it = FFirst.find(key);
        if (it == FFirst.end() || it->second[8] != '=')
            return {};
        return CardValue(it->second);
    }

    std::optional<double> Number(const std::string& key) const
    {
        const std::optional<double> n = NumberOf(Value(key));
        if (!n || !std::isfinite(*n))
            return std::nullopt;
        return n;
    }

    // A whole number, as the structural keywords hold.
    std::optional<long long> Integer(const std::string& key) const
    {
        const std::optional<double> n = Number(key);
        if (!n || *n != std::trunc(*n) || std::fabs(*n) > 9.0e15)
            return std::nullopt;
        return static_cast<long long>(*n);
    }

    // Upper case, trailing blanks removed.
    std::string Text(const std::string& key) const
    {
        std::string s = Value(key);
        for (char& c : s)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return s;
    }

private:
    std::unordered_map<std::string, const char*> FFirst;
};

// Reads the header that starts at `at`: its cards into `header`, and where
// its data unit starts. False when the file ends before END.
bool ReadHeader(TBytes data, std::size_t at, THeader& header, std::size_t& dataStart)
{
    for (std::size_t block = at; block + 2880 <= data.size(); block += 2880) {
        const char* b = reinterpret_cast<const char*>(data.data() + block);
        for (std::size_t c = 0; c < 2880; c += 80) {
            if (std::memcmp(b + c, "END     ", 8) == 0) {
                dataStart = block + 2880;
                return true;
            }
            header.Add(b + c);
        }
    }
    return false;
}

struct TImageInfo {
    int Bitpix = 0;
    int Naxis = 0;
    long long Naxes[3] = {1, 1, 1};
};

// A plain (not tile-compressed) image, read here without cfitsio.
struct TPlainImage {
    THeader Header;
    TImageInfo Info;
    std::size_t DataStart = 0;
};

// The first image of the file when it is a plain one with a well-formed
// header, as cfitsio would find it: the primary array, or the first image
// extension with pixels. Nothing when the first picture is tile-compressed
// or anything on the way is unusual: cfitsio then reads the file and names
// what is wrong.
std::optional<TPlainImage> FindPlainImage(TBytes data)
{
    std::size_t at = 0;
    for (int hdu = 0; at < data.size(); ++hdu) {
        TPlainImage image;
        if (!ReadHeader(data, at, image.Header, image.DataStart))
            return std::nullopt;
        const THeader& h = image.Header;
        const char* first = reinterpret_cast<const char*>(data.data() + at);
        std::string type = "IMAGE";
        if (hdu == 0) {
            if (std::memcmp(first, "SIMPLE  =", 9) != 0 || h.Text("SIMPLE") != "T" || h.Has("GROUPS"))
                return std::nullopt;
        } else {
            if (std::memcmp(first, "XTENSION=", 9) != 0)
                return std::nullopt;
            type = h.Text("XTENSION");
        }
        const std::optional<long long> bitpix = h.Integer("BITPIX");
        const std::optional<long long> naxis = h.Integer("NAXIS");
        if (!bitpix || !naxis || *naxis < 0 || *naxis > 999)
            return std::nullopt;
        if (*bitpix != 8 && *bitpix != 16 && *bitpix != 32 && *bitpix != 64 && *bitpix != -32 && *bitpix != -64)
            return std::nullopt;
        // The data unit's size, in elements, without overflow.
        unsigned long long elements = *naxis > 0 ? 1 : 0;
        for (long long d = 1; d <= *naxis; ++d) {
            const std::optional<long long> n = h.Integer("NAXIS" + std::to_string(d));
            if (!n || *n < 0)
                return std::nullopt;
            if (d <= 3)
                image.Info.Naxes[d - 1] = *n;
            if (*n != 0 && elements > (1ull << 50) / static_cast<unsigned long long>(*n))
                return std::nullopt;
            elements *= static_cast<unsigned long long>(*n);
        }
        if (type == "IMAGE" && *naxis > 0) {
            image.Info.Bitpix = static_cast<int>(*bitpix);
            image.Info.Naxis = static_cast<int>(*naxis);
            return image;
        }
        if (type == "BINTABLE" && h.Text("ZIMAGE") == "T")
            return std::nullopt;
        const long long pcount = h.Has("PCOUNT") ? h.Integer("PCOUNT").value_or(-1) : 0;
        const long long gcount = h.Has("GCOUNT") ? h.Integer("GCOUNT").value_or(-1) : 1;
        if (pcount < 0 || gcount < 0 || pcount > (1ll << 50) || gcount > 1000000)
            return std::nullopt;
        const unsigned long long bytes =
            static_cast<unsigned long long>(std::llabs(*bitpix) / 8) * static_cast<unsigned long long>(gcount) *
            (static_cast<unsigned long long>(pcount) + elements);
        if (bytes > data.size())
            return std::nullopt;
        at = image.DataStart + static_cast<std::size_t>((bytes + 2879) / 2880 * 2880);
    }
    return std::nullopt;
}

class TFitsFile {
public:
    explicit TFitsFile(TBytes data)
    {
        ffcmsg();
        // cfitsio reads a memory file in whole 2880-byte records, also past
        // the end of a shorter last one: such a file is read from a padded
        // copy (the data unit's length is checked against the real size).
        if (data.size() % 2880 != 0) {
            FPadded.assign(data.begin(), data.end());
            FPadded.resize((data.size() / 2880 + 1) * 2880, 0);
            data = TBytes(FPadded.data(), FPadded.size());
        }
        CheckHeaders(data);
        FBuffer = const_cast<std::uint8_t*>(data.data());
        FSize = data.size();
        int status = 0;
        // Read-only: cfitsio works on our buffer and never reallocates it.
        if (ffomem(&FFile, "picture", READONLY, &FBuffer, &FSize, 0, nullptr, &status) != 0) {
            FFile = nullptr;
            FailFits(status);
        }
    }
    ~TFitsFile()
    {
        int status = 0;
        if (FFile != nullptr)
            ffclos(FFile, &status);
        ffcmsg();
    }
    TFitsFile(const TFitsFile&) = delete;
    TFitsFile& operator=(const TFitsFile&) = delete;

    fitsfile* Get() const { return FFile; }
    // The bytes cfitsio reads (the padded copy when the file was short).
    TBytes Bytes() const { return TBytes(static_cast<const std::uint8_t*>(FBuffer), FSize); }

private:
    fitsfile* FFile = nullptr;
    std::vector<std::uint8_t> FPadded;
    void* FBuffer = nullptr;
    std::size_t FSize = 0;
};

// Moves to the primary HDU's image or, when the primary holds none (as in a
// tile-compressed file), to the first image extension.
TImageInfo FindImage(fitsfile* f)
{
    for (;;) {
        int status = 0;
        int type = -1;
        if (ffghdt(f, &type, &status) != 0)
            FailFits(status);
        if (type == IMAGE_HDU) {
            TImageInfo info;
            if (ffgiprll(f, 3, &info.Bitpix, &info.Naxis, info.Naxes, &status) != 0)
                FailFits(status);
            if (info.Naxis > 0)
                return info;
        }
        if (ffmrhd(f, 1, &type, &status) != 0) {
            if (status == END_OF_FILE) {
                ffcmsg();
                Fail("the FITS file holds no picture");
            }
            FailFits(status);
        }
    }
}

// A value that only makes sense above 0.
std::optional<double> Positive(std::optional<double> v)
{
    if (v && *v > 0)
        return v;
    return std::nullopt;
}

TFileSetupValues SetupValues(const THeader& h, bool superpixels)
{
    TFileSetupValues v;
    // A Setup value the fields can hold: one decimal of it is above 0 (a
    // smaller one would set a parameter of 0), and it is of a sensible size.
    std::vector<std::string> unusable;
    auto take = [&](const char* key) -> std::optional<double> {
        if (!h.Has(key))
            return std::nullopt;
        const std::optional<double> n = h.Number(key);
        if (n && *n >= 0.05 && *n < 1e9)
            return n;
        unusable.emplace_back(key);
        return std::nullopt;
    };
    // Names the unusable keys among `keys` when their field got no value.
    auto note = [&](std::initializer_list<std::pair<const char*, const char*>> keys) {
        for (const auto& [key, field] : keys)
            if (std::find(unusable.begin(), unusable.end(), key) != unusable.end())
                v.Unusable.push_back({key, field});
    };
    v.ExposureSeconds = take("EXPTIME");
    if (!v.ExposureSeconds)
        v.ExposureSeconds = take("EXPOSURE");
    if (!v.ExposureSeconds)
        note({{"EXPTIME", "RxSpinEdit8"}, {"EXPOSURE", "RxSpinEdit8"}});
    // XPIXSZ/YPIXSZ already include the binning; PIXSIZE1/2 do not.
    v.PixelWidthUm = take("XPIXSZ");
    v.PixelHeightUm = take("YPIXSZ");
    if (!v.PixelWidthUm && !v.PixelHeightUm) {
        const std::optional<double> p1 = take("PIXSIZE1");
        const std::optional<double> p2 = take("PIXSIZE2");
        const double bx = Positive(h.Number("XBINNING")).value_or(1.0);
        const double by = Positive(h.Number("YBINNING")).value_or(1.0);
        if (p1)
            v.PixelWidthUm = *p1 * bx;
        if (p2)
            v.PixelHeightUm = *p2 * by;
    }
    // One side stands for both (square pixels).
    if (!v.PixelWidthUm && !v.PixelHeightUm)
        note({{"XPIXSZ", "RxSpinEdit2"}, {"YPIXSZ", "RxSpinEdit3"}, {"PIXSIZE1", "RxSpinEdit2"}, {"PIXSIZE2", "RxSpinEdit3"}});
    // A superpixel spans two sensor pixels each way.
    if (superpixels) {
        if (v.PixelWidthUm)
            *v.PixelWidthUm *= 2;
        if (v.PixelHeightUm)
            *v.PixelHeightUm *= 2;
    }
    v.FocalMm = take("FOCALLEN");
    if (!v.FocalMm)
        note({{"FOCALLEN", "RxSpinEdit6"}});
    v.ApertureMm = take("APTDIA");
    if (!v.ApertureMm)
        note({{"APTDIA", "RxSpinEdit7"}});
    // The worm's phase from a capture through INDI. A key that holds no
    // usable value is left out: the user then types the phase.
    if (const std::optional<long long> m = h.Integer("VNSKMOT0")) {
        v.MotorStart = m;
        const std::optional<double> e = h.Number("VNSKMERR");
        if (e && *e >= 0)
            v.MotorStartSigma = e;
    }
    if (const std::optional<double> spw = h.Number("VNSKSPW"); spw && ValidStepsPerWorm(*spw))
        v.StepsPerWorm = static_cast<long long>(*spw);
    std::string hemisphere = h.Text("VNSKHEMI");
    for (char& c : hemisphere)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (int hemi = 0; ParseHemisphere(hemisphere, hemi))
        v.Hemisphere = hemi;
    // Kept only when it reads as a date: the text goes into reports.
    const std::string date = h.Value("DATE-OBS");
    if (date.size() >= 10 && date.size() <= 32 &&
        std::all_of(date.begin(), date.end(), [](char c) { return (c >= '0' && c <= '9') || (c != '\0' && std::strchr("-:.TZ", c)); }))
        v.ExposureStart = date;
    return v;
}

// The colour (0 red, 1 green, 2 blue) of each cell position, index
// (y & 1) * 2 + (x & 1) in stored coordinates with the offsets applied;
// empty when the header names no usable 2x2 pattern.
std::vector<int> BayerPattern(const THeader& h)
{
    const std::string pat = h.Text("BAYERPAT");
    if (pat.size() != 4)
        return {};
    std::vector<int> colour(4);
    int counts[3] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = pat[i];
        colour[i] = c == 'R' ? 0 : c == 'G' ? 1 : c == 'B' ? 2 : -1;
        if (colour[i] < 0)
            return {};
        ++counts[colour[i]];
    }
    if (counts[0] != 1 || counts[1] != 2 || counts[2] != 1)
        return {};
    // Only an offset's parity moves the pattern; any number has one.
    auto parity = [&](const char* key) {
        return static_cast<int>(std::fmod(std::fabs(std::trunc(h.Number(key).value_or(0))), 2.0));
    };
    const int xoff = parity("XBAYROFF");
    const int yoff = parity("YBAYROFF");
    std::vector<int> shifted(4);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            shifted[static_cast<std::size_t>(y * 2 + x)] =
                colour[static_cast<std::size_t>(((y + yoff) & 1) * 2 + ((x + xoff) & 1))];
    return shifted;
}

// Each tile's compressed bytes are a variable-length array in the table's
// heap; cfitsio allocates what its descriptor claims, so every descriptor
// must point inside the heap that PCOUNT declares.
// Rice-coded tiles are decoded by cfitsio without a bound on the input: a
// damaged stream (a run of zero bytes where a code should end) sends it
// reading far past the tile. The same walk through the codes, bounded, tells
// a stream cfitsio can decode from one it would overrun. The codes: after
// the first pixel, stored whole, each block of nblock pixels starts with an
// fsbits-wide code; 0 means all differences are zero, fsmax + 1 means every
// difference is stored in full, and any other value k means each difference
// is a run of zero bits ended by a one (its high part), then k - 1 low bits.
bool RiceStreamInBounds(const std::uint8_t* c, std::size_t clen, long long pixels, int nblock, int bytepix)
{
    const int fsbits = bytepix == 1 ? 3 : bytepix == 2 ? 4 : 5;
    const int fsmax = bytepix == 1 ? 6 : bytepix == 2 ? 14 : 25;
    const int bbits = 1 << fsbits;
    std::size_t pos = bytepix == 1 ? 1 : bytepix == 2 ? 2 : 4;
    auto next = [&](std::uint32_t& byte) {
        if (pos >= clen)
            return false;
        byte = c[pos++];
        return true;
    };
    auto bitLength = [](std::uint32_t v) {
        int n = 0;
        for (; v != 0; v >>= 1)
            ++n;
        return n;
    };
    std::uint32_t b = 0, byte = 0;
    if (!next(b))
        return false;
    int nbits = 8; // bits of b not yet used; below 8 at the top of each block
    // Takes whole bytes into b until nbits is no longer negative.
    auto refill = [&] {
        while (nbits < 0) {
            if (!next(byte))
                return false;
            b = (b << 8) | byte;
            nbits += 8;
        }
        return true;
    };
    for (long long i = 0; i < pixels;) {
        nbits -= fsbits;
        if (!refill())
            return false;
        const int fs = static_cast<int>(b >> nbits) - 1;
        b &= (1u << nbits) - 1;
        const long long end = std::min<long long>(i + nblock, pixels);
        if (fs < 0) {
            i = end;
        } else if (fs == fsmax) {
            for (; i < end; ++i) {
                for (int k = bbits - nbits - 8; k >= 0; k -= 8)
                    if (!next(byte))
                        return false;
                if (nbits > 0) {
                    if (!next(byte))
                        return false;
                    b = byte & ((1u << nbits) - 1);
                } else {
                    b = 0;
                }
            }
        } else {
            for (; i < end; ++i) {
                while (b == 0) {
                    nbits += 8;
                    if (!next(b))
                        return false;
                }
                nbits = bitLength(b) - 1; // past the run of zeros and its closing one
                b ^= 1u << nbits;
                nbits -= fs;
                if (!refill())
                    return false;
                b &= (1u << nbits) - 1;
            }
        }
    }
    return true;
}

// The pixels of tile `row` (0-based): tiles run along the first axis first,
// and the last ones along an axis are cut at the picture's edge.
long long TilePixels(long long row, const long long* naxes, const long long* tile, int naxis)
{
    long long pixels = 1;
    for (int d = 0; d < naxis; ++d) {
        const long long count = (naxes[d] + tile[d] - 1) / tile[d];
        const long long index = row % count;
        row /= count;
        pixels *= std::min(tile[d], naxes[d] - index * tile[d]);
    }
    return pixels;
}

// ---------------------------------------------------------------------------
// Tile checks: what cfitsio would do with each tile of a compressed image,
// bounded here first. cfitsio sizes each tile's buffer from the header and
// then trusts the stream: a GZIP stream grows that buffer without limit (a
// bomb, or a stream that never ends, takes gigabytes before it gives up), an
// HCOMPRESS stream names its own size and is written out whole, a PLIO line
// list names its own length. Each stream is therefore held to the tile's
// declared size before cfitsio sees it.

// The tile's number as the reader counts it (the table row, from 1).
[[noreturn]] void FailTile(long long row)
{
    Fail("the compressed tile " + std::to_string(row) + " is damaged");
}

// Whether the GZIP stream ends within `cap` bytes of output, at a size that
// cfitsio takes for the tile's `pixels` (1, 2, 4 or 8 bytes each; it leaks
// the stream's buffer when it refuses another size): inflated into a small
// window that is written over, so the check itself costs no memory.
bool GzipFitsTile(const std::uint8_t* c, std::size_t clen, unsigned long long pixels, unsigned long long cap)
{
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) // the gzip wrapper, as cfitsio reads it
        return false;
    std::uint8_t window[1 << 16];
    bool ended = false;
    z.next_in = const_cast<std::uint8_t*>(c);
    std::size_t left = clen;
    for (;;) {
        if (z.avail_in == 0 && left > 0) {
            const std::size_t take = std::min<std::size_t>(left, 1u << 30);
            z.next_in = const_cast<std::uint8_t*>(c + (clen - left));
            z.avail_in = static_cast<uInt>(take);
            left -= take;
        }
        z.next_out = window;
        z.avail_out = sizeof window;
        const int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            const unsigned long long size = z.total_out;
            ended = size <= cap && (size == pixels || size == 2 * pixels || size == 4 * pixels || size == 8 * pixels);
            break;
        }
        if ((r != Z_OK && r != Z_BUF_ERROR) || z.total_out > cap || (r == Z_BUF_ERROR && z.avail_in == 0 && left == 0))
            break;
    }
    inflateEnd(&z);
    return ended;
}

// An HCOMPRESS stream starts with its magic number and the sizes that the
// decoder writes out whole: they must be the tile's.
bool HcompressHeaderFits(const std::uint8_t* c, std::size_t clen, long long pixels)
{
    if (clen < 14 || c[0] != 0xDD || c[1] != 0x99)
        return false;
    auto int32At = [&](std::size_t at) {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(c[at]) << 24) | (static_cast<std::uint32_t>(c[at + 1]) << 16) |
                                         (static_cast<std::uint32_t>(c[at + 2]) << 8) | c[at + 3]);
    };
    const long long nx = int32At(2), ny = int32At(6), scale = int32At(10);
    return nx >= 1 && ny >= 1 && scale >= 0 && nx * ny == pixels;
}

// A PLIO line list as cfitsio's decoder walks it (1-based words: the list's
// length in word 3, or in words 4 and 5 after a header of word 2's length;
// an opcode 1 takes the word after it): every word it reads must lie in the
// tile's `n` words. Its writes stop at the tile's pixels by themselves.
bool PlioListInBounds(const std::vector<int>& w, long long pixels)
{
    const long long n = static_cast<long long>(w.size());
    auto at = [&](long long i) { return w[static_cast<std::size_t>(i - 1)]; };
    if (n < 3)
        return false;
    long long length = 0, first = 0;
    if (at(3) > 0) {
        length = at(3);
        first = 4;
    } else {
        if (n < 5)
            return false;
        length = static_cast<long long>(at(5)) * 32768 + at(4);
        first = static_cast<long long>(at(2)) + 1;
    }
    if (pixels <= 0 || length <= 0)
        return true; // the decoder stops before the list
    if (first < 1 || length > n)
        return false;
    for (long long ip = first; ip <= length; ++ip)
        if (at(ip) / 4096 == 1 && ip++ >= n) // the opcode's second word
            return false;
    return true;
}

void CheckTileHeap(fitsfile* f, const THeader& h, TBytes data, long long dataStart, const TImageInfo& info)
{
    int status = 0;
    long long rows = 0, heap = 0, rowBytes = 0;
    int columns = 0;
    if (ffgkyjj(f, "NAXIS2", &rows, nullptr, &status) != 0 || ffgkyjj(f, "PCOUNT", &heap, nullptr, &status) != 0 ||
        ffgkyjj(f, "NAXIS1", &rowBytes, nullptr, &status) != 0 || ffgncl(f, &columns, &status) != 0)
        FailFits(status);
    long long heapStart = rowBytes * rows;
    if (ffgkyjj(f, "THEAP", &heapStart, nullptr, &status) != 0) {
        status = 0;
        ffcmsg();
        heapStart = rowBytes * rows;
    }
    // How cfitsio decodes Rice tiles: ZVAL1 the block size and ZVAL2 the
    // bytes per pixel, 32 and 4 when missing, swapped when they are the
    // wrong way round.
    char type[FLEN_VALUE] = "";
    int compressedColumn = 0, uncompressedColumn = 0;
    bool rice = false, gzip = false, plio = false, hcompress = false;
    int nblock = 32, bytepix = 4;
    if (ffgkys(f, "ZCMPTYPE", type, nullptr, &status) == 0) {
        rice = std::strcmp(type, "RICE_1") == 0 || std::strcmp(type, "RICE_ONE") == 0;
        gzip = std::strcmp(type, "GZIP_1") == 0 || std::strcmp(type, "GZIP_2") == 0;
        plio = std::strcmp(type, "PLIO_1") == 0;
        hcompress = std::strcmp(type, "HCOMPRESS_1") == 0;
        if (!rice && !gzip && !plio && !hcompress)
            Fail(std::string("the compressed tiles use ") + type + ", which is not read");
        if (ffgky(f, TINT, "ZVAL1", &nblock, nullptr, &status) != 0) {
            status = 0;
            nblock = 32;
        }
        if (ffgky(f, TINT, "ZVAL2", &bytepix, nullptr, &status) != 0) {
            status = 0;
            bytepix = 4;
        }
        if (nblock < 16 && bytepix > 8)
            std::swap(nblock, bytepix);
        char name[] = "COMPRESSED_DATA";
        if (ffgcno(f, CASEINSEN, name, &compressedColumn, &status) != 0) {
            status = 0;
            compressedColumn = 0;
        }
        // cfitsio reads a tile stored whole into the tile's buffer, as many
        // values as the descriptor says.
        char whole[] = "UNCOMPRESSED_DATA";
        if (ffgcno(f, CASEINSEN, whole, &uncompressedColumn, &status) != 0) {
            status = 0;
            uncompressedColumn = 0;
        }
    }
    status = 0;
    ffcmsg();
    long long tile[3] = {info.Naxes[0], 1, 1};
    for (int d = 0; d < info.Naxis && d < 3; ++d)
        if (const std::optional<double> t = h.Number("ZTILE" + std::to_string(d + 1)))
            tile[d] = static_cast<long long>(*t);
    // cfitsio reads tile n's descriptor from table row n: the table holds
    // one row for each tile.
    long long tiles = 1;
    for (int d = 0; d < std::min(info.Naxis, 3); ++d)
        tiles *= (info.Naxes[d] + tile[d] - 1) / tile[d];
    if (rows != tiles)
        Fail("the compressed image holds " + std::to_string(rows) + " of its " + std::to_string(tiles) + " tiles");
    const unsigned long long sampleBytes = static_cast<unsigned long long>(std::abs(info.Bitpix) / 8);
    for (int c = 1; c <= columns; ++c) {
        int code = 0;
        long long repeat = 0, width = 0;
        if (ffgtclll(f, c, &code, &repeat, &width, &status) != 0)
            FailFits(status);
        if (code >= 0)
            continue; // a fixed-size column holds no descriptors
        for (long long row = 1; row <= rows; ++row) {
            long long length = 0, offset = 0;
            if (ffgdesll(f, c, row, &length, &offset, &status) != 0)
                FailFits(status);
            const long long elementBytes = std::max(1LL, width);
            if (length < 0 || offset < 0 || offset > heap || length > (heap - offset) / elementBytes)
                Fail("a compressed tile lies outside the file's data");
            const long long pixels = TilePixels(row - 1, info.Naxes, tile, std::min(info.Naxis, 3));
            if (c == uncompressedColumn && length > pixels)
                FailTile(row);
            if (c != compressedColumn || length == 0)
                continue;
            const long long at = dataStart + heapStart + offset, bytes = length * elementBytes;
            if (heapStart < 0 || at < 0 || at > static_cast<long long>(data.size()) ||
                bytes > static_cast<long long>(data.size()) - at)
                Fail("a compressed tile lies outside the file's data");
            const std::uint8_t* stream = data.data() + at;
            const auto streamBytes = static_cast<std::size_t>(bytes);
            if (rice && nblock >= 1 && !RiceStreamInBounds(stream, streamBytes, pixels, nblock, bytepix))
                Fail("a compressed tile is damaged");
            if (gzip && !GzipFitsTile(stream, streamBytes, static_cast<unsigned long long>(pixels),
                                      static_cast<unsigned long long>(pixels) * sampleBytes))
                FailTile(row);
            if (hcompress && !HcompressHeaderFits(stream, streamBytes, pixels))
                FailTile(row);
            if (plio) {
                // cfitsio takes the list as 16-bit words, whatever the column holds.
                if (width != 1 && width != 2)
                    FailTile(row);
                std::vector<int> words(static_cast<std::size_t>(length));
                for (std::size_t i = 0; i < words.size(); ++i)
                    words[i] = width == 1 ? stream[i]
                                          : static_cast<std::int16_t>((stream[2 * i] << 8) | stream[2 * i + 1]);
                if (!PlioListInBounds(words, pixels))
                    FailTile(row);
            }
        }
    }
}

// cfitsio reads a memory file's missing tail as zeros, so a data unit cut
// short is caught here: a compressed one at least reaches its last
// 2880-byte block.
void CheckCompressedDataUnit(fitsfile* f, const THeader& h, const TImageInfo& info, std::size_t fileSize, TBytes buffer)
{
    ffcmsg();
    long long headStart = 0, dataStart = 0, dataEnd = 0;
    int status = 0;
    if (ffghadll(f, &headStart, &dataStart, &dataEnd, &status) != 0)
        FailFits(status);
    const long long need = dataEnd - 2879;
    // Tiles larger than the picture would only make cfitsio allocate
    // what the header claims.
    for (int i = 0; i < info.Naxis; ++i) {
        const std::optional<double> tile = h.Number("ZTILE" + std::to_string(i + 1));
        if (tile && (*tile < 1 || *tile > static_cast<double>(info.Naxes[i])))
            Fail("the compressed tiles are larger than the picture");
    }
    // cfitsio reads a memory file's descriptors past its end unchecked:
    // the table holding them must lie inside the file first.
    long long rowBytes = 0, rows = 0;
    if (ffgkyjj(f, "NAXIS1", &rowBytes, nullptr, &status) != 0 || ffgkyjj(f, "NAXIS2", &rows, nullptr, &status) != 0)
        FailFits(status);
    const long long room = static_cast<long long>(fileSize) - dataStart;
    if (need > static_cast<long long>(fileSize) || rowBytes < 0 || rows < 0 || room < 0 ||
        (rowBytes > 0 && rows > room / rowBytes))
        Fail("the file is truncated");
    CheckTileHeap(f, h, buffer, dataStart, info);
    // cfitsio reads a compressed image's parameters when it opens the table
    // and stops at the first it misses (a Rice image without ZVAL1, say)
    // without telling the reads that follow: they then take column 0 for
    // the tiles' column and read before the table's column array.
    if (f->Fptr->cn_compressed < 1)
        Fail("the compressed image's header is incomplete");
    ffcmsg();
}

// ---------------------------------------------------------------------------
// Reading the samples: rows of one plane, as physical values.

// Reads `rows` stored rows of plane `plane` from `first` (both from 0) into
// dst, width values a row.
using TRowReader = std::function<void(int plane, long long first, long long rows, float* dst)>;

// A double as the float cfitsio stores it, out-of-range values going to
// infinity as the processor's conversion takes them (without the undefined
// behaviour of a plain cast).
inline float ToFloat(double v)
{
    if (v > std::numeric_limits<float>::max())
        return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max())
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

// Big-endian stored values to physical ones, as cfitsio converts them: no
// blank values are looked for, and no arithmetic when the scale is the
// identity.
template <typename T>
void ConvertStored(const std::uint8_t* src, std::size_t n, double scale, double zero, float* dst)
{
    constexpr std::size_t size = sizeof(T);
    for (std::size_t i = 0; i < n; ++i, src += size) {
        std::uint64_t bits = 0;
        for (std::size_t b = 0; b < size; ++b)
            bits = (bits << 8) | src[b];
        T v;
        if constexpr (size == 1) {
            v = static_cast<T>(bits);
        } else {
            using TUnsigned = std::conditional_t<size == 2, std::uint16_t, std::conditional_t<size == 4, std::uint32_t, std::uint64_t>>;
            const auto u = static_cast<TUnsigned>(bits);
            std::memcpy(&v, &u, size);
        }
        if (scale == 1.0 && zero == 0.0)
            dst[i] = ToFloat(static_cast<double>(v));
        else
            dst[i] = ToFloat(static_cast<double>(v) * scale + zero);
    }
}

// The plain image's rows straight from the file's bytes (the data unit was
// checked to hold them all).
TRowReader PlainRows(TBytes data, const TPlainImage& image, double scale, double zero)
{
    const int bitpix = image.Info.Bitpix;
    const std::size_t sampleBytes = static_cast<std::size_t>(std::abs(bitpix) / 8);
    const std::size_t width = static_cast<std::size_t>(image.Info.Naxes[0]);
    const std::size_t height = static_cast<std::size_t>(image.Info.Naxes[1]);
    const std::uint8_t* start = data.data() + image.DataStart;
    return [=](int plane, long long first, long long rows, float* dst) {
        const std::size_t row = static_cast<std::size_t>(plane) * height + static_cast<std::size_t>(first);
        const std::uint8_t* src = start + row * width * sampleBytes;
        const std::size_t n = static_cast<std::size_t>(rows) * width;
        switch (bitpix) {
        case 8: ConvertStored<std::uint8_t>(src, n, scale, zero, dst); break;
        case 16: ConvertStored<std::int16_t>(src, n, scale, zero, dst); break;
        case 32: ConvertStored<std::int32_t>(src, n, scale, zero, dst); break;
        case 64: ConvertStored<std::int64_t>(src, n, scale, zero, dst); break;
        case -32: ConvertStored<float>(src, n, scale, zero, dst); break;
        default: ConvertStored<double>(src, n, scale, zero, dst); break;
        }
    };
}

// An image's rows through cfitsio (a compressed one, or a plain one whose
// header only cfitsio takes). Whole rows of tiles are read
// at once, so that each tile is decompressed once; when a read fails, the
// tiles of those rows are read one by one to name the damaged one.
TRowReader CfitsioRows(fitsfile* f, const TImageInfo& info, const long long* tile, bool compressed)
{
    return [=](int plane, long long first, long long rows, float* dst) {
        long long start[3] = {1, first + 1, plane + 1};
        int status = 0, anyNull = 0;
        if (ffgpxvll(f, TFLOAT, start, rows * info.Naxes[0], nullptr, dst, &anyNull, &status) == 0)
            return;
        if (status == MEMORY_ALLOCATION || !compressed)
            FailFits(status);
        ffcmsg();
        const long long across = (info.Naxes[0] + tile[0] - 1) / tile[0];
        const long long down = (info.Naxes[1] + tile[1] - 1) / tile[1];
        for (long long y = first / tile[1] * tile[1]; y < first + rows; y += tile[1])
            for (long long t = 0; t < across; ++t) {
                long lower[3] = {static_cast<long>(t * tile[0] + 1), static_cast<long>(y + 1), plane + 1};
                long upper[3] = {static_cast<long>(std::min((t + 1) * tile[0], info.Naxes[0])),
                                 static_cast<long>(std::min(y + tile[1], info.Naxes[1])), plane + 1};
                long step[3] = {1, 1, 1};
                std::vector<float> probe(static_cast<std::size_t>((upper[0] - lower[0] + 1) * (upper[1] - lower[1] + 1)));
                status = 0;
                if (ffgsv(f, TFLOAT, lower, upper, step, nullptr, probe.data(), &anyNull, &status) != 0) {
                    ffcmsg();
                    FailTile(1 + t + across * (y / tile[1] + down * plane));
                }
            }
        FailTile(1 + across * (first / tile[1] + down * plane));
    };
}

// The physical values' scale and offset: BSCALE 0 (or one without a value)
// is no FITS and leaves a picture of one value, and a scale or offset beyond
// the float range leaves nothing finite.
void CheckScaling(const THeader& h, double& scale, double& zero)
{
    scale = 1.0;
    zero = 0.0;
    auto usable = [&](const char* key, double& v, bool nonZero) {
        if (!h.Has(key))
            return;
        const std::optional<double> n = h.Number(key);
        if (!n || std::fabs(*n) >= 1e38 || (nonZero && *n == 0))
            Fail(std::string("the header's ") + key + " must be a number" + (nonZero ? " other than 0" : "") +
                 " below 1e38 in size");
        v = *n;
    };
    usable("BSCALE", scale, true);
    usable("BZERO", zero, false);
}

// ---------------------------------------------------------------------------

// The picture, whatever read its rows: `strip` rows are read at a time
// (whole rows of tiles for a compressed image).
void DecodeImage(const THeader& h, const TImageInfo& info, const TRowReader& readRows, long long strip,
                 TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    const long long width = info.Naxes[0];
    const long long height = info.Naxes[1];
    const int planes = info.Naxis == 3 ? static_cast<int>(info.Naxes[2]) : 1;
    const std::vector<int> bayer = planes == 1 ? BayerPattern(h) : std::vector<int>{};
    const bool superpixels = !bayer.empty();
    const int channels = superpixels ? 3 : planes;
    const long long outW = superpixels ? width / 2 : width;
    const long long outH = superpixels ? height / 2 : height;
    const bool topDown = h.Text("ROWORDER") == "TOP-DOWN";
    strip = std::clamp<long long>(strip, 1, height);

    TLinearPlane plane;
    AllocatePlaneFloat(plane, outW, outH, channels, info.Bitpix);
    float* samples = plane.Float();
    auto outRow = [&](long long storedRow) { return topDown ? storedRow : outH - 1 - storedRow; };
    const auto w = static_cast<std::size_t>(width);
    if (!superpixels && planes == 1) {
        // Straight into the plane, each strip's rows then put in the plane's order.
        std::vector<float> swap(w);
        for (long long y = 0; y < height; y += strip) {
            const long long rows = std::min(strip, height - y);
            const long long top = topDown ? y : height - y - rows;
            float* block = samples + static_cast<std::size_t>(top) * w;
            readRows(0, y, rows, block);
            if (!topDown)
                for (long long a = 0, b = rows - 1; a < b; ++a, --b) {
                    float* ra = block + static_cast<std::size_t>(a) * w;
                    float* rb = block + static_cast<std::size_t>(b) * w;
                    std::copy(ra, ra + w, swap.data());
                    std::copy(rb, rb + w, ra);
                    std::copy(swap.data(), swap.data() + w, rb);
                }
        }
    } else if (superpixels) {
        // Whole 2x2 cells: a strip of an even number of rows.
        if (strip % 2 != 0 && strip < height)
            strip *= 2;
        std::vector<float> rows(w * static_cast<std::size_t>(strip));
        for (long long y0 = 0; y0 + 1 < height; y0 += strip) {
            const long long n = std::min(strip, height - y0);
            readRows(0, y0, n, rows.data());
            for (long long k = 0; k + 1 < n; k += 2) {
                const long long j = (y0 + k) / 2;
                const float* pair = rows.data() + static_cast<std::size_t>(k) * w;
                float* dst = samples + static_cast<std::size_t>(outRow(j)) * static_cast<std::size_t>(outW) * 3u;
                for (long long i = 0; i < outW; ++i, dst += 3) {
                    float sum[3] = {};
                    int count[3] = {};
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx) {
                            const int c = bayer[static_cast<std::size_t>(dy * 2 + dx)];
                            sum[c] += pair[static_cast<std::size_t>(dy * width + 2 * i + dx)];
                            ++count[c];
                        }
                    for (int c = 0; c < 3; ++c)
                        dst[c] = sum[c] / static_cast<float>(count[c]);
                }
            }
        }
    } else {
        std::vector<float> rows(w * static_cast<std::size_t>(strip));
        for (int p = 0; p < planes; ++p)
            for (long long y0 = 0; y0 < height; y0 += strip) {
                const long long n = std::min(strip, height - y0);
                readRows(p, y0, n, rows.data());
                for (long long k = 0; k < n; ++k) {
                    const float* src = rows.data() + static_cast<std::size_t>(k) * w;
                    float* dst = samples + static_cast<std::size_t>(outRow(y0 + k)) * w * static_cast<std::size_t>(planes) +
                                 static_cast<std::size_t>(p);
                    for (long long x = 0; x < width; ++x, dst += planes)
                        *dst = src[x];
                }
            }
    }

    // The range that maps to 0..255; blank (not-a-number) samples take its
    // low end, so they read as background rather than poisoning sums.
    const std::size_t n = plane.SampleCount();
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t i = 0; i < n; ++i)
        if (std::isfinite(samples[i])) {
            lo = std::min<double>(lo, samples[i]);
            hi = std::max<double>(hi, samples[i]);
        }
    if (!(lo <= hi))
        Fail("the FITS picture holds no finite values");
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(samples[i]))
            samples[i] = static_cast<float>(lo);
    const std::optional<double> dataMin = h.Number("DATAMIN");
    const std::optional<double> dataMax = h.Number("DATAMAX");
    if (dataMin && dataMax && *dataMax > *dataMin) {
        lo = *dataMin;
        hi = *dataMax;
    }
    const double scale = hi > lo ? 255.0 / (hi - lo) : 0.0;
    auto toByte = [&](float v) -> std::uint32_t {
        const double b = std::floor((static_cast<double>(v) - lo) * scale + 0.5);
        return b <= 0 ? 0u : b >= 255 ? 255u : static_cast<std::uint32_t>(b);
    };

    TBitmap32 bmp;
    AllocateRaster(bmp, outW, outH, limits);
    std::uint32_t* bits = bmp.Bits();
    const std::size_t pixels = static_cast<std::size_t>(outW) * static_cast<std::size_t>(outH);
    for (std::size_t i = 0; i < pixels; ++i) {
        if (channels == 1) {
            const std::uint32_t g = toByte(samples[i]);
            bits[i] = Opaque(g, g, g);
        } else {
            bits[i] = Opaque(toByte(samples[3 * i]), toByte(samples[3 * i + 1]), toByte(samples[3 * i + 2]));
        }
    }

    // Integer samples clip at their type's largest physical value.
    if (info.Bitpix > 0) {
        const double top = info.Bitpix == 8 ? 255.0 : info.Bitpix == 16 ? 32767.0 : 2147483647.0;
        const double bscale = h.Number("BSCALE").value_or(1.0);
        if (bscale > 0)
            plane.SetSaturationLevel(static_cast<float>(h.Number("BZERO").value_or(0.0) + bscale * top));
    }
    if (extras != nullptr) {
        extras->Setup = SetupValues(h, superpixels);
        extras->Linear.Swap(plane);
    }
    out.Swap(bmp);
}

// The picture's dimensions, and the sizes checked against the limits before
// anything is read.
void CheckImage(const THeader& h, const TImageInfo& info, const TDecodeLimits& limits)
{
    if (info.Naxis > 3 || (info.Naxis == 3 && info.Naxes[2] != 1 && info.Naxes[2] != 3))
        Fail("only FITS pictures of 2 dimensions, or 3 with 3 colour planes, can be read (NAXIS = " +
             std::to_string(info.Naxis) + ")");
    if (info.Naxis < 2)
        Fail("the FITS image has only " + std::to_string(info.Naxis) + " dimension");
    const int planes = info.Naxis == 3 ? static_cast<int>(info.Naxes[2]) : 1;
    const bool superpixels = planes == 1 && !BayerPattern(h).empty();
    const int channels = superpixels ? 3 : planes;
    // The stored size is checked too: it is what the header claims.
    CheckRasterSize(info.Naxes[0], info.Naxes[1], limits);
    CheckPictureSize(superpixels ? info.Naxes[0] / 2 : info.Naxes[0], superpixels ? info.Naxes[1] / 2 : info.Naxes[1],
                     static_cast<std::uint64_t>(channels) * 4u, limits);
}

} // namespace

void DecodeFits(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    ffcmsg();
    CheckHeaders(data);
    double scale = 1.0, zero = 0.0;
    // A plain image is read straight from the file's bytes: no copy of the
    // file, and cfitsio only for tile-compressed pictures.
    if (const std::optional<TPlainImage> plain = FindPlainImage(data)) {
        CheckImage(plain->Header, plain->Info, limits);
        const TImageInfo& info = plain->Info;
        // The sizes passed the limits, so the product fits. The padding of
        // the last block may be missing.
        const unsigned long long need = plain->DataStart + static_cast<unsigned long long>(std::abs(info.Bitpix) / 8) *
                                                               static_cast<unsigned long long>(info.Naxes[0] * info.Naxes[1] * info.Naxes[2]);
        if (need > data.size())
            Fail("the file is truncated");
        CheckScaling(plain->Header, scale, zero);
        // Large strips cost memory for colour planes and superpixels only.
        const long long strip = std::max<long long>(1, (1 << 20) / std::max<long long>(1, info.Naxes[0]));
        const bool mono = info.Naxis == 2 || info.Naxes[2] == 1;
        DecodeImage(plain->Header, info, PlainRows(data, *plain, scale, zero), mono ? info.Naxes[1] : strip, out,
                    extras, limits);
        return;
    }
    TFitsFile file(data);
    fitsfile* f = file.Get();
    const TImageInfo info = FindImage(f);
    long long headStart = 0, dataStart = 0, dataEnd = 0;
    int status = 0;
    if (ffghadll(f, &headStart, &dataStart, &dataEnd, &status) != 0)
        FailFits(status);
    THeader h;
    std::size_t unused = 0;
    if (!ReadHeader(file.Bytes(), static_cast<std::size_t>(headStart), h, unused))
        Fail("the file is truncated");
    CheckImage(h, info, limits);
    const bool compressed = fits_is_compressed_image(f, &status) != 0;
    if (!compressed) {
        // cfitsio found a plain image that the walk above did not (a header
        // it reads more leniently): its data must all be there.
        const long long need = dataStart + std::abs(info.Bitpix) / 8 * info.Naxes[0] * info.Naxes[1] * info.Naxes[2];
        if (need > static_cast<long long>(data.size()))
            Fail("the file is truncated");
    } else {
        CheckCompressedDataUnit(f, h, info, data.size(), file.Bytes());
    }
    CheckScaling(h, scale, zero);
    long long tile[3] = {info.Naxes[0], 1, 1};
    for (int d = 0; d < 2 && compressed; ++d)
        if (const std::optional<double> t = h.Number("ZTILE" + std::to_string(d + 1)))
            tile[d] = static_cast<long long>(*t);
    DecodeImage(h, info, CfitsioRows(f, info, tile, compressed), tile[1], out, extras, limits);
}

} // namespace vinsk::formats
