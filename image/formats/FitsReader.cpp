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
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <fitsio.h>

#include "image/formats/ReaderUtil.h"

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
    for (const char* card : cards)
        if (card[8] == '=' && CardKey(card) == "ZCMPTYPE") {
            const std::string type = CardValue(card);
            rice = type == "RICE_1" || type == "RICE_ONE";
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
        if (name != "BLOCKSIZE" && name != "BYTEPIX")
            continue;
        const std::string valueKey = "ZVAL" + key.substr(5);
        for (const char* other : cards)
            if (other[8] == '=' && CardKey(other) == valueKey && !positive(CardValue(other)))
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

struct TImageInfo {
    int Bitpix = 0;
    int Naxis = 0;
    long long Naxes[3] = {1, 1, 1};
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

// Read from the card's text: cfitsio's own conversion keeps the decimal
// point of the locale it first met.
std::optional<double> KeyNumber(fitsfile* f, const char* key)
{
    int status = 0;
    char raw[FLEN_VALUE] = {};
    if (ffgkey(f, key, raw, nullptr, &status) != 0) {
        ffcmsg();
        return std::nullopt;
    }
    std::string v = raw;
    const std::size_t a = v.find_first_not_of(" '"), b = v.find_last_not_of(" '");
    v = a == std::string::npos ? std::string() : v.substr(a, b + 1 - a);
    const std::optional<double> n = NumberOf(v);
    if (!n || !std::isfinite(*n))
        return std::nullopt;
    return n;
}

std::string KeyText(fitsfile* f, const char* key)
{
    int status = 0;
    char v[FLEN_VALUE] = {};
    if (ffgkys(f, key, v, nullptr, &status) != 0) {
        ffcmsg();
        return {};
    }
    std::string s = v;
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// A value that only makes sense above 0.
std::optional<double> Positive(std::optional<double> v)
{
    if (v && *v > 0)
        return v;
    return std::nullopt;
}

TFileSetupValues SetupValues(fitsfile* f, bool superpixels)
{
    TFileSetupValues v;
    v.ExposureSeconds = Positive(KeyNumber(f, "EXPTIME"));
    if (!v.ExposureSeconds)
        v.ExposureSeconds = Positive(KeyNumber(f, "EXPOSURE"));
    // XPIXSZ/YPIXSZ already include the binning; PIXSIZE1/2 do not.
    v.PixelWidthUm = Positive(KeyNumber(f, "XPIXSZ"));
    v.PixelHeightUm = Positive(KeyNumber(f, "YPIXSZ"));
    if (!v.PixelWidthUm && !v.PixelHeightUm) {
        const std::optional<double> p1 = Positive(KeyNumber(f, "PIXSIZE1"));
        const std::optional<double> p2 = Positive(KeyNumber(f, "PIXSIZE2"));
        const double bx = Positive(KeyNumber(f, "XBINNING")).value_or(1.0);
        const double by = Positive(KeyNumber(f, "YBINNING")).value_or(1.0);
        if (p1)
            v.PixelWidthUm = *p1 * bx;
        if (p2)
            v.PixelHeightUm = *p2 * by;
    }
    // A superpixel spans two sensor pixels each way.
    if (superpixels) {
        if (v.PixelWidthUm)
            *v.PixelWidthUm *= 2;
        if (v.PixelHeightUm)
            *v.PixelHeightUm *= 2;
    }
    v.FocalMm = Positive(KeyNumber(f, "FOCALLEN"));
    v.ApertureMm = Positive(KeyNumber(f, "APTDIA"));
    return v;
}

// The colour (0 red, 1 green, 2 blue) of each cell position, index
// (y & 1) * 2 + (x & 1) in stored coordinates with the offsets applied;
// empty when the header names no usable 2x2 pattern.
std::vector<int> BayerPattern(fitsfile* f)
{
    const std::string pat = KeyText(f, "BAYERPAT");
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
        return static_cast<int>(std::fmod(std::fabs(std::trunc(KeyNumber(f, key).value_or(0))), 2.0));
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

void CheckTileHeap(fitsfile* f, TBytes data, long long dataStart, const TImageInfo& info)
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
    int compressedColumn = 0;
    bool rice = false;
    int nblock = 32, bytepix = 4;
    if (ffgkys(f, "ZCMPTYPE", type, nullptr, &status) == 0) {
        rice = std::strcmp(type, "RICE_1") == 0 || std::strcmp(type, "RICE_ONE") == 0;
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
    }
    status = 0;
    ffcmsg();
    long long tile[3] = {info.Naxes[0], 1, 1};
    for (int d = 0; d < info.Naxis && d < 3; ++d) {
        const std::string key = "ZTILE" + std::to_string(d + 1);
        if (const std::optional<double> t = KeyNumber(f, key.c_str()))
            tile[d] = static_cast<long long>(*t);
    }
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
            if (!rice || c != compressedColumn || length == 0 || nblock < 1)
                continue;
            const long long at = dataStart + heapStart + offset, bytes = length * elementBytes;
            if (heapStart < 0 || at < 0 || at > static_cast<long long>(data.size()) ||
                bytes > static_cast<long long>(data.size()) - at)
                Fail("a compressed tile lies outside the file's data");
            const long long pixels = TilePixels(row - 1, info.Naxes, tile, std::min(info.Naxis, 3));
            if (!RiceStreamInBounds(data.data() + at, static_cast<std::size_t>(bytes), pixels, nblock, bytepix))
                Fail("a compressed tile is damaged");
        }
    }
}

// cfitsio reads a memory file's missing tail as zeros, so a data unit cut
// short is caught here: a plain image needs all its bytes (its padding may be
// missing), a compressed one at least reaches its last 2880-byte block.
void CheckDataUnit(fitsfile* f, const TImageInfo& info, std::size_t fileSize, TBytes buffer)
{
    ffcmsg();
    long long headStart = 0, dataStart = 0, dataEnd = 0;
    int status = 0;
    if (ffghadll(f, &headStart, &dataStart, &dataEnd, &status) != 0)
        FailFits(status);
    long long need = dataEnd - 2879;
    if (fits_is_compressed_image(f, &status) != 0) {
        // Tiles larger than the picture would only make cfitsio allocate
        // what the header claims.
        for (int i = 0; i < info.Naxis; ++i) {
            const std::string key = "ZTILE" + std::to_string(i + 1);
            const std::optional<double> tile = KeyNumber(f, key.c_str());
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
        CheckTileHeap(f, buffer, dataStart, info);
    } else {
        // The sizes passed the limits, so the product fits.
        need = dataStart + std::abs(info.Bitpix) / 8 * info.Naxes[0] * info.Naxes[1] * info.Naxes[2];
    }
    ffcmsg();
    if (need > static_cast<long long>(fileSize))
        Fail("the file is truncated");
}

void ReadRow(fitsfile* f, long long row, long long plane, long long width, float* dst)
{
    long long first[3] = {1, row, plane};
    int status = 0;
    int anyNull = 0;
    if (ffgpxvll(f, TFLOAT, first, width, nullptr, dst, &anyNull, &status) != 0)
        FailFits(status);
}

} // namespace

void DecodeFits(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TFitsFile file(data);
    fitsfile* f = file.Get();
    const TImageInfo info = FindImage(f);
    if (info.Naxis > 3 || (info.Naxis == 3 && info.Naxes[2] != 1 && info.Naxes[2] != 3))
        Fail("only FITS pictures of 2 dimensions, or 3 with 3 colour planes, can be read (NAXIS = " +
             std::to_string(info.Naxis) + ")");
    if (info.Naxis < 2)
        Fail("the FITS image has only " + std::to_string(info.Naxis) + " dimension");
    const long long width = info.Naxes[0];
    const long long height = info.Naxes[1];
    const int planes = info.Naxis == 3 ? static_cast<int>(info.Naxes[2]) : 1;
    const std::vector<int> bayer = planes == 1 ? BayerPattern(f) : std::vector<int>{};
    const bool superpixels = !bayer.empty();
    const int channels = superpixels ? 3 : planes;
    const long long outW = superpixels ? width / 2 : width;
    const long long outH = superpixels ? height / 2 : height;
    // The stored size is checked too: it is what the header claims.
    CheckRasterSize(width, height, limits);
    CheckPictureSize(outW, outH, static_cast<std::uint64_t>(channels) * 4u, limits,
                     file.Bytes().data() != data.data() ? file.Bytes().size() : 0); // the padded copy
    CheckDataUnit(f, info, data.size(), file.Bytes());
    const bool topDown = KeyText(f, "ROWORDER") == "TOP-DOWN";

    TLinearPlane plane;
    AllocatePlaneFloat(plane, outW, outH, channels, info.Bitpix);
    float* samples = plane.Float();
    auto outRow = [&](long long storedRow) { return topDown ? storedRow : outH - 1 - storedRow; };
    std::vector<float> row(static_cast<std::size_t>(width) * (superpixels ? 2u : 1u));
    if (superpixels) {
        for (long long j = 0; j < outH; ++j) {
            ReadRow(f, 2 * j + 1, 1, width, row.data());
            ReadRow(f, 2 * j + 2, 1, width, row.data() + width);
            float* dst = samples + static_cast<std::size_t>(outRow(j)) * static_cast<std::size_t>(outW) * 3u;
            for (long long i = 0; i < outW; ++i, dst += 3) {
                float sum[3] = {};
                int count[3] = {};
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const int c = bayer[static_cast<std::size_t>(dy * 2 + dx)];
                        sum[c] += row[static_cast<std::size_t>(dy * width + 2 * i + dx)];
                        ++count[c];
                    }
                for (int c = 0; c < 3; ++c)
                    dst[c] = sum[c] / static_cast<float>(count[c]);
            }
        }
    } else {
        for (int p = 0; p < planes; ++p)
            for (long long y = 0; y < height; ++y) {
                ReadRow(f, y + 1, p + 1, width, row.data());
                float* dst = samples + static_cast<std::size_t>(outRow(y)) * static_cast<std::size_t>(width) *
                                           static_cast<std::size_t>(planes) + static_cast<std::size_t>(p);
                for (long long x = 0; x < width; ++x, dst += planes)
                    *dst = row[static_cast<std::size_t>(x)];
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
        lo = hi = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(samples[i]))
            samples[i] = static_cast<float>(lo);
    const std::optional<double> dataMin = KeyNumber(f, "DATAMIN");
    const std::optional<double> dataMax = KeyNumber(f, "DATAMAX");
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
        const double bscale = KeyNumber(f, "BSCALE").value_or(1.0);
        if (bscale > 0)
            plane.SetSaturationLevel(static_cast<float>(KeyNumber(f, "BZERO").value_or(0.0) + bscale * top));
    }
    if (extras != nullptr) {
        extras->Setup = SetupValues(f, superpixels);
        extras->Linear.Swap(plane);
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
