#include "image/formats/FitsDefences.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zlib.h>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats::fits {

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

// The tile's number as the reader counts it (the table row, from 1).
[[noreturn]] void FailTile(long long row)
{
    Fail("the compressed tile " + std::to_string(row) + " is damaged");
}

namespace {

// cfitsio 4.2 aborts the process (a fortified strncat overflowing its
// message buffer) when a keyword it reads as an integer holds a value of 29
// or more characters that is no number. No valid header has such a value, so
// the header blocks are checked before cfitsio sees them: every value must be
// a quoted string, a logical, a number or a bracketed complex pair, and a
// quoted string that long may not stand where an integer is due.
bool IntegerKeyword(std::string_view key)
{
    static const char* const exact[] = {"BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP", "BLANK", "EXTEND"};
    for (const char* k : exact)
        if (key == k)
            return true;
    return key.starts_with("NAXIS") || key.starts_with("TNULL") || key.starts_with("TBCOL") || key[0] == 'Z';
}

void CheckCard(const char* card)
{
    const TFitsCard c = ReadCard(card);
    // A keyword name has no blank inside (only the HIERARCH convention puts
    // one after it): cfitsio takes the name up to the first blank, so
    // "ZTILE1 S" would give ZTILE1 whatever follows, and a tile size it
    // cannot read is a division by zero inside it.
    if (c.Key.find(' ') != std::string_view::npos && std::memcmp(card, "HIERARCH", 8) != 0)
        Fail("the header holds a keyword with a blank inside its name");
    // A keyword's value is printable ASCII text; cfitsio copies other bytes
    // of a table's column names into fixed buffers past their end.
    if (c.Indicator)
        for (std::size_t i = 0; i < CardBytes; ++i)
            if (card[i] < 0x20 || card[i] > 0x7E)
                Fail("the header holds a byte that is not text");
    if (c.Key.empty() || c.Kind == EValueKind::None)
        return;
    const std::string_view value = c.Token;
    if (value.size() < 29)
        return;
    switch (c.Kind) {
    case EValueKind::String:
        if (!IntegerKeyword(c.Key))
            return;
        break;
    case EValueKind::Complex:
        if (c.Closed) {
            const std::size_t comma = value.find(',');
            if (comma != std::string_view::npos && NumberOf(TrimBlanks(value.substr(1, comma - 1))) &&
                NumberOf(TrimBlanks(value.substr(comma + 1, value.size() - comma - 2))))
                return;
        }
        break;
    default:
        // A number too large for cfitsio's integers makes it write the value
        // into a fixed-size message past its end, as any text does.
        if (NumberOf(value) && !IntegerKeyword(c.Key))
            return;
        break;
    }
    Fail("the header's " + std::string(c.Key) + " holds a malformed value");
}

// cfitsio divides by the tile sizes and by some compression parameters while
// it opens a compressed image; a 0 there is a division by zero in the library.
// One pass over the cards and one over what it gathered: a header of a
// million cards costs no more than reading it.
void CheckCompressionKeys(const std::vector<const char*>& cards)
{
    auto positive = [](const TFitsCard& c) {
        const std::optional<double> n = NumberOf(c.Text());
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
        const TFitsCard c = ReadCard(card);
        if (!c.Indicator)
            continue;
        if (c.Key == "ZCMPTYPE") {
            const std::string type = c.Text();
            rice = type == "RICE_1" || type == "RICE_ONE";
        } else if (c.Key.starts_with("ZVAL")) {
            auto [it, added] = valuesPositive.try_emplace(std::string(c.Key), true);
            it->second = it->second && positive(c);
        }
    }
    for (const char* card : cards) {
        const TFitsCard c = ReadCard(card);
        const std::string key = UpperKey(card); // cfitsio finds keywords whatever their case
        const bool size = key.starts_with("ZTILE") || key.starts_with("ZNAXIS");
        const bool riceKey = rice && (key == "ZVAL1" || key == "ZVAL2");
        // cfitsio finds these by name also on a card without "= ", and then
        // keeps a tile size of 0 that it divides by.
        if ((size || riceKey) && !c.Indicator)
            Fail("the header's " + key + " has no value");
        if (!c.Indicator)
            continue;
        if (size && !positive(c))
            Fail("the header's " + key + " must be a whole number from 1 up");
        if (riceKey && !positive(c))
            Fail("the header's " + key + " (" + (key == "ZVAL1" ? "BLOCKSIZE" : "BYTEPIX") +
                 ") must be a whole number from 1 up");
        if (!key.starts_with("ZNAME"))
            continue;
        const std::string name = c.Text();
        if (name == "BLOCKSIZE" || name == "BYTEPIX")
            divisorNames.emplace_back("ZVAL" + key.substr(5), name);
    }
    for (const auto& [valueKey, name] : divisorNames) {
        const auto it = valuesPositive.find(valueKey);
        if (it != valuesPositive.end() && !it->second)
            Fail("the header's " + valueKey + " (" + name + ") must be a whole number from 1 up");
    }
}

// ---------------------------------------------------------------------------
// Tile checks: what cfitsio would do with each tile of a compressed image,
// bounded here first. cfitsio sizes each tile's buffer from the header and
// then trusts the stream: a GZIP stream grows that buffer without limit (a
// bomb, or a stream that never ends, takes gigabytes before it gives up), an
// HCOMPRESS stream names its own size and is written out whole, and read
// without a bound, a PLIO line list names its own length. Each stream is
// therefore held to the tile's declared size, and to its own bytes, before
// cfitsio sees it.

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

// An HCOMPRESS stream as cfitsio's decoder reads it, walked without
// decoding: the header (magic number, the sizes, the scale, the sum of all
// pixels, the bit planes of the three kinds of quadrant), then each
// quadrant's bit planes, each written directly or quadtree-coded, an end
// code, and a sign bit for every pixel that is not zero. The decoder reads
// its input without a bound, so every byte it would read must lie in the
// tile's stream; the walk keeps only which pixels are not zero and the
// quadtree's 4-bit codes, far less than the decoder's own arrays.
class THcompressWalk {
public:
    THcompressWalk(const std::uint8_t* c, std::size_t clen) : FC(c), FLen(clen) {}

    bool Walk(long long pixels)
    {
        if (FLen < 25 || FC[0] != 0xDD || FC[1] != 0x99)
            return false;
        const long long nx = Int32At(2), ny = Int32At(6), scale = Int32At(10);
        // A side below 2 leaves a quadrant empty, where a quadtree code
        // makes the decoder write past its work area; writers make tiles
        // of at least 4 pixels a side.
        if (nx < 2 || ny < 2 || scale < 0 || nx * ny != pixels)
            return false;
        const int planes[3] = {FC[22], FC[23], FC[24]};
        // The decoder's values have at most 64 bits.
        for (int p : planes)
            if (p > 64)
                return false;
        FNext = 25;
        FNonZero.assign((static_cast<std::size_t>(pixels) + 63) / 64, 0);
        const long long nx2 = (nx + 1) / 2, ny2 = (ny + 1) / 2;
        FBitsToGo = 0;
        if (!Quadrant(0, ny, nx2, ny2, planes[0]) || !Quadrant(ny2, ny, nx2, ny / 2, planes[1]) ||
            !Quadrant(ny * nx2, ny, nx / 2, ny2, planes[1]) || !Quadrant(ny * nx2 + ny2, ny, nx / 2, ny / 2, planes[2]))
            return false;
        if (Nybble() != 0 || FOver)
            return false; // the decoder refuses a stream without its end code
        // One bit for each pixel that is not zero, from a fresh byte.
        std::size_t signs = 0;
        for (const std::uint64_t word : FNonZero)
            signs += static_cast<std::size_t>(std::popcount(word));
        return (signs + 7) / 8 <= FLen - FNext;
    }

private:
    std::int32_t Int32At(std::size_t at) const
    {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(FC[at]) << 24) | (static_cast<std::uint32_t>(FC[at + 1]) << 16) |
                                         (static_cast<std::uint32_t>(FC[at + 2]) << 8) | FC[at + 3]);
    }

    // The next byte; past the stream's end, a mark and a 0.
    std::uint32_t Byte()
    {
        if (FNext >= FLen) {
            FOver = true;
            return 0;
        }
        return FC[FNext++];
    }
    int Bit()
    {
        if (FBitsToGo == 0) {
            FBuffer = Byte();
            FBitsToGo = 8;
        }
        --FBitsToGo;
        return static_cast<int>((FBuffer >> FBitsToGo) & 1u);
    }
    int Bits(int n)
    {
        if (FBitsToGo < n) {
            FBuffer = (FBuffer << 8) | Byte();
            FBitsToGo += 8;
        }
        FBitsToGo -= n;
        return static_cast<int>((FBuffer >> FBitsToGo) & ((1u << n) - 1u));
    }
    int Nybble() { return Bits(4); }
    // n 4-bit codes at once, as the decoder takes them: whole bytes, the
    // last of an odd count alone.
    void Nybbles(std::size_t n, std::vector<std::uint8_t>& out)
    {
        if (n == 1) {
            out[0] = static_cast<std::uint8_t>(Nybble());
            return;
        }
        if (FBitsToGo == 8) {
            --FNext; // the decoder takes the byte it holds again
            FBitsToGo = 0;
        }
        if (n / 2 > FLen - FNext) {
            FOver = true;
            return;
        }
        const int high = FBitsToGo + 4, low = FBitsToGo;
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            FBuffer = (FBuffer << 8) | FC[FNext++];
            out[i] = static_cast<std::uint8_t>((FBuffer >> high) & 15u);
            out[i + 1] = static_cast<std::uint8_t>((FBuffer >> low) & 15u);
        }
        if (n % 2 != 0)
            out[n - 1] = static_cast<std::uint8_t>(Nybble());
    }
    // The fixed Huffman code of a 4-bit value: 3 to 6 bits.
    int Huffman()
    {
        int c = Bits(3);
        if (c < 4)
            return 1 << c;
        c = Bit() | (c << 1);
        switch (c) {
        case 8: return 3;
        case 9: return 5;
        case 10: return 10;
        case 11: return 12;
        case 12: return 15;
        default: break;
        }
        c = Bit() | (c << 1);
        switch (c) {
        case 26: return 6;
        case 27: return 7;
        case 28: return 9;
        case 29: return 11;
        case 30: return 13;
        default: break;
        }
        c = Bit() | (c << 1);
        return c == 62 ? 0 : 14;
    }

    // Calls set(i, j) for each set bit of an nx x ny array whose 2x2 cells
    // hold the 4-bit `codes` (rows of (ny + 1) / 2): a cell's top left is its
    // code's highest bit, its bottom right the lowest. Cells of 0 cost nothing.
    template <typename TSet>
    static void Spread(const std::vector<std::uint8_t>& codes, long long nx, long long ny, TSet set)
    {
        const long long cx = (nx + 1) / 2, cy = (ny + 1) / 2;
        for (long long a = 0; a < cx; ++a)
            for (long long b = 0; b < cy; ++b) {
                const unsigned code = codes[static_cast<std::size_t>(a * cy + b)];
                if (code == 0)
                    continue;
                const long long i = 2 * a, j = 2 * b;
                if ((code & 8u) != 0)
                    set(i, j);
                if ((code & 4u) != 0 && j + 1 < ny)
                    set(i, j + 1);
                if ((code & 2u) != 0 && i + 1 < nx)
                    set(i + 1, j);
                if ((code & 1u) != 0 && i + 1 < nx && j + 1 < ny)
                    set(i + 1, j + 1);
            }
    }

    // One quadrant of nqx x nqy pixels at `offset`, rows of `n`.
    bool Quadrant(long long offset, long long n, long long nqx, long long nqy, int planes)
    {
        const long long nqmax = std::max(nqx, nqy);
        // As the decoder computes it (the quadrants here are never empty).
        int log2n = static_cast<int>(std::log(static_cast<double>(static_cast<float>(nqmax))) / std::log(2.0) + 0.5);
        if (nqmax > (1LL << log2n))
            ++log2n;
        const auto cells = static_cast<std::size_t>(((nqx + 1) / 2) * ((nqy + 1) / 2));
        std::vector<std::uint8_t> codes(cells), next(cells);
        for (int bit = planes - 1; bit >= 0 && !FOver; --bit) {
            const int kind = Nybble();
            if (kind == 0) {
                Nybbles(cells, codes);
            } else if (kind == 0xF) {
                codes[0] = static_cast<std::uint8_t>(Huffman());
                if (codes[0] == 0)
                    continue; // an empty plane: the expansions read nothing
                long long nx = 1, ny = 1, nfx = nqx, nfy = nqy, c = 1LL << log2n;
                for (int k = 1; k < log2n && !FOver; ++k) {
                    c >>= 1;
                    nx <<= 1;
                    ny <<= 1;
                    if (nfx <= c)
                        --nx;
                    else
                        nfx -= c;
                    if (nfy <= c)
                        --ny;
                    else
                        nfy -= c;
                    // Each set bit of the coarser codes becomes a cell that
                    // is read anew, last cell first.
                    std::fill(next.begin(), next.begin() + nx * ny, std::uint8_t{0});
                    Spread(codes, nx, ny, [&](long long i, long long j) { next[static_cast<std::size_t>(i * ny + j)] = 1; });
                    for (long long i = nx * ny - 1; i >= 0; --i)
                        if (next[static_cast<std::size_t>(i)] != 0)
                            next[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(Huffman());
                    codes.swap(next);
                }
            } else {
                return false; // the decoder refuses any other plane code
            }
            Spread(codes, nqx, nqy, [&](long long i, long long j) {
                const auto at = static_cast<std::size_t>(offset + i * n + j);
                FNonZero[at / 64] |= std::uint64_t{1} << (at % 64);
            });
        }
        return !FOver;
    }

    const std::uint8_t* FC;
    std::size_t FLen;
    std::size_t FNext = 0;
    std::uint32_t FBuffer = 0;
    int FBitsToGo = 0;
    bool FOver = false;
    std::vector<std::uint64_t> FNonZero; // a bit for each pixel
};

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

// Each tile's compressed bytes are a variable-length array in the table's
// heap; cfitsio allocates what its descriptor claims, so every descriptor
// must point inside the heap that PCOUNT declares. Returns the bytes of the
// largest array, which cfitsio copies before it decodes it.
std::uint64_t CheckTileHeap(fitsfile* f, const THeader& h, TBytes data, long long dataStart, const TImageInfo& info)
{
    std::uint64_t largest = 0;
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
            largest = std::max(largest, static_cast<std::uint64_t>(length) * static_cast<std::uint64_t>(elementBytes));
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
            if (hcompress && !THcompressWalk(stream, streamBytes).Walk(pixels))
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
    return largest;
}

} // namespace

void CheckHeaders(TBytes data)
{
    bool inHeader = true;
    std::vector<const char*> cards;
    for (std::size_t block = 0; block + BlockBytes <= data.size(); block += BlockBytes) {
        const char* b = reinterpret_cast<const char*>(data.data() + block);
        if (!inHeader && std::memcmp(b, "XTENSION= ", 10) == 0)
            inHeader = true;
        if (!inHeader)
            continue;
        for (std::size_t c = 0; c < BlockBytes; c += CardBytes) {
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

// cfitsio reads a memory file's missing tail as zeros, so a data unit cut
// short is caught here: a compressed one at least reaches its last
// 2880-byte block.
std::uint64_t CheckCompressedDataUnit(fitsfile* f, const THeader& h, const TImageInfo& info, std::size_t fileSize,
                                      TBytes buffer)
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
    const std::uint64_t largest = CheckTileHeap(f, h, buffer, dataStart, info);
    // cfitsio reads a compressed image's parameters when it opens the table
    // and stops at the first it misses (a Rice image without ZVAL1, say)
    // without telling the reads that follow: they then take column 0 for
    // the tiles' column and read before the table's column array.
    if (f->Fptr->cn_compressed < 1)
        Fail("the compressed image's header is incomplete");
    ffcmsg();
    return largest;
}

} // namespace vinsk::formats::fits
