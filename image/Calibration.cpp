#include "Calibration.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/MathFaults.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vinsk {

namespace {

constexpr const char* NotLoaded = "Image is not loaded. You must image load first!";
constexpr const char* DarkAlready = "Dark image is already applied. Load new image first!";
constexpr const char* DarkMissing = "Dark image is not applied. Load dark image first!";
constexpr const char* FlatAlready = "Flat image is  applied. Load new image first!";
constexpr const char* DarkSize = "Dark image must have equal size!";
constexpr const char* FlatSize = "Flat image must have equal size!";

// Colour channels by their byte in a colour word: 0 blue, 1 green, 2 red.
constexpr int Channels = 3;

bool SameSize(const TBitmap32& a, const TBitmap32& b)
{
    return a.Width() == b.Width() && a.Height() == b.Height();
}

// Per-byte saturating a - b for the red, green and blue bytes of two colour
// words, alpha taken from a.
inline std::uint32_t SubtractRgb(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t r = a & 0xFF000000u;
    for (int c = 0; c < Channels; ++c) {
        const std::uint32_t pa = (a >> (8 * c)) & 0xFFu, pb = (b >> (8 * c)) & 0xFFu;
        r |= (pa > pb ? pa - pb : 0u) << (8 * c);
    }
    return r;
}

// Marks the channels of n pixels that stand at 255.
void MarkClipped(const std::uint32_t* p, std::int32_t n, TClipMask& mask, std::size_t first)
{
    for (std::int32_t k = 0; k < n; ++k)
        for (int c = 0; c < Channels; ++c)
            if (((p[k] >> (8 * c)) & 0xFFu) == 255)
                mask.Mark(first + static_cast<std::size_t>(k), c);
}

// One row of the dark subtraction, four pixels at a time where the
// processor has 16-byte integer vectors; the levels of 255 it lowers are
// marked in the mask first.
void SubtractRow(std::uint32_t* p, const std::uint32_t* d, std::int32_t w, TClipMask& mask, std::size_t first)
{
    std::int32_t x = 0;
#if defined(__SSE2__)
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF), ones = _mm_set1_epi32(-1);
    for (; x + 4 <= w; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
        if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, ones), rgb)) != 0)
            MarkClipped(p + x, 4, mask, first + static_cast<std::size_t>(x));
        const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x)), rgb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + x), _mm_subs_epu8(a, b));
    }
#endif
    for (; x < w; ++x) {
        MarkClipped(p + x, 1, mask, first + static_cast<std::size_t>(x));
        p[x] = SubtractRgb(p[x], d[x]);
    }
}

// What the correction needs of the flat: each channel's mean and the range
// of its bytes.
struct TFlatStats {
    std::array<double, Channels> Mean{};
    std::array<std::uint32_t, Channels> Lo{255, 255, 255}, Hi{};
};

TFlatStats FlatStats(const TBitmap32& flat)
{
    // Whole-number sums are exact in 64 bits, and every such sum below 2^53
    // is the same double a running double sum would reach.
    std::array<std::uint64_t, Channels> sum{};
    TFlatStats st;
    const std::int32_t w = flat.Width();
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i mb = _mm_set1_epi32(0x000000FF), mg = _mm_set1_epi32(0x0000FF00),
                  mr = _mm_set1_epi32(0x00FF0000);
    __m128i lo = _mm_set1_epi8(-1), hi = zero;
#endif
    for (std::int32_t y = 0; y < flat.Height(); ++y) {
        const std::uint32_t* row = flat.ScanLine(y);
        std::int32_t x = 0;
#if defined(__SSE2__)
        // Each channel masked out of four pixels and its bytes added by the
        // sum of absolute differences against zero.
        __m128i ab = zero, ag = zero, ar = zero;
        for (; x + 4 <= w; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            ab = _mm_add_epi64(ab, _mm_sad_epu8(_mm_and_si128(v, mb), zero));
            ag = _mm_add_epi64(ag, _mm_sad_epu8(_mm_and_si128(v, mg), zero));
            ar = _mm_add_epi64(ar, _mm_sad_epu8(_mm_and_si128(v, mr), zero));
            lo = _mm_min_epu8(lo, v);
            hi = _mm_max_epu8(hi, v);
        }
        const __m128i acc[Channels] = {ab, ag, ar};
        for (std::size_t c = 0; c < Channels; ++c) {
            alignas(16) std::uint64_t lanes[2];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc[c]);
            sum[c] += lanes[0] + lanes[1];
        }
#endif
        for (; x < w; ++x)
            for (std::size_t c = 0; c < Channels; ++c) {
                const std::uint32_t v = (row[x] >> (8 * c)) & 0xFFu;
                sum[c] += v;
                st.Lo[c] = v < st.Lo[c] ? v : st.Lo[c];
                st.Hi[c] = v > st.Hi[c] ? v : st.Hi[c];
            }
    }
#if defined(__SSE2__)
    alignas(16) std::uint8_t l[16], h[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    for (std::size_t i = 0; i < 16; ++i) {
        const std::size_t c = i % 4;
        if (c < Channels && w >= 4) {
            st.Lo[c] = l[i] < st.Lo[c] ? l[i] : st.Lo[c];
            st.Hi[c] = h[i] > st.Hi[c] ? h[i] : st.Hi[c];
        }
    }
#endif
    const long double n = static_cast<long double>(static_cast<std::int64_t>(w) * flat.Height());
    for (std::size_t c = 0; c < Channels; ++c)
        st.Mean[c] = StoreD(static_cast<long double>(static_cast<double>(sum[c])) / n);
    return st;
}

// The corrected byte of one channel for every (flat byte f, image byte p)
// pair, at index f * 256 + p: Round(p * mean / f), capped at 255. Every
// result depends only on that pair and the channel's mean, so the extended
// arithmetic runs once per pair instead of once per pixel. A flat byte of 0
// leaves the image byte as it is, rather than dividing by zero.
constexpr std::size_t TableSize = 256 * 256;

void BuildFlatTable(std::uint8_t* t, double mean, std::uint32_t fLo, std::uint32_t fHi)
{
    const long double m = mean;
    for (std::uint32_t f = fLo; f <= fHi; ++f) {
        std::uint8_t* row = t + f * 256;
        for (std::uint32_t p = 0; p < 256; ++p) {
            if (f == 0) {
                row[p] = static_cast<std::uint8_t>(p);
                continue;
            }
            const long double q = static_cast<long double>(p) * m / static_cast<long double>(f);
            // q is finite and at most 255 * 255: the conversion in the
            // default rounding mode (halves to even; the program never
            // changes it) gives what Round gives, at a fraction of its cost.
            const long long c = std::llrint(q);
            row[p] = static_cast<std::uint8_t>(c > 255 ? 255 : c);
        }
    }
}

inline std::uint32_t FlatPixel(std::uint32_t p, std::uint32_t f, const std::uint8_t* const* t)
{
    std::uint32_t r = p & 0xFF000000u;
    for (int c = 0; c < Channels; ++c)
        r |= static_cast<std::uint32_t>(t[c][((f >> (8 * c)) & 0xFFu) << 8 | ((p >> (8 * c)) & 0xFFu)]) << (8 * c);
    return r;
}

void FlatRow(std::uint32_t* p, const std::uint32_t* f, std::int32_t w, const std::uint8_t* const* t)
{
    std::int32_t x = 0;
#if defined(__SSE2__)
    // Interleaving the image bytes with the flat bytes gives, in each 16-bit
    // lane, the table index f * 256 + p of that channel.
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint8_t *tb = t[0], *tg = t[1], *tr = t[2];
    alignas(16) std::uint16_t idx[16];
    for (; x + 4 <= w; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + x));
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), _mm_unpacklo_epi8(a, b));
        _mm_store_si128(reinterpret_cast<__m128i*>(idx + 8), _mm_unpackhi_epi8(a, b));
        const std::uint64_t lo = std::uint64_t{tb[idx[0]]} | std::uint64_t{tg[idx[1]]} << 8 |
                                 std::uint64_t{tr[idx[2]]} << 16 | std::uint64_t{tb[idx[4]]} << 32 |
                                 std::uint64_t{tg[idx[5]]} << 40 | std::uint64_t{tr[idx[6]]} << 48;
        const std::uint64_t hi = std::uint64_t{tb[idx[8]]} | std::uint64_t{tg[idx[9]]} << 8 |
                                 std::uint64_t{tr[idx[10]]} << 16 | std::uint64_t{tb[idx[12]]} << 32 |
                                 std::uint64_t{tg[idx[13]]} << 40 | std::uint64_t{tr[idx[14]]} << 48;
        const __m128i rgb = _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + x), _mm_or_si128(rgb, _mm_and_si128(a, alphaMask)));
    }
#endif
    for (; x < w; ++x)
        p[x] = FlatPixel(p[x], f[x], t);
}

} // namespace

std::optional<std::string> DarkRefusal(const TImageState& s)
{
    if (s.Bitmap.Empty())
        return NotLoaded;
    if (s.DarkApplied)
        return DarkAlready;
    return std::nullopt;
}

std::optional<std::string> FlatRefusal(const TImageState& s)
{
    if (s.Bitmap.Empty())
        return NotLoaded;
    if (!s.DarkApplied)
        return DarkMissing;
    if (s.FlatApplied)
        return FlatAlready;
    return std::nullopt;
}

void ApplyDark(TImageState& s, const TBitmap32& dark, TStatusPanels& status)
{
    // A caller that skipped the refusal still gets it rather than a
    // correction applied twice or to nothing.
    if (auto refusal = DarkRefusal(s))
        throw ECalibrationError(*refusal);
    if (!SameSize(s.Bitmap, dark))
        throw ECalibrationError(DarkSize);

    const std::int32_t w = s.Bitmap.Width();
    TClipMask& clipped = s.Bitmap.Clipped();
    clipped.Start(static_cast<std::size_t>(w) * static_cast<std::size_t>(s.Bitmap.Height()));
    for (std::int32_t y = 0; y < s.Bitmap.Height(); ++y)
        SubtractRow(s.Bitmap.ScanLine(y), dark.ScanLine(y), w, clipped,
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(w));
    s.DarkApplied = true;
    s.FlatApplied = false;
    status.Panels[PanelPrompt] = "Dark image  has been applied.";
}

void ApplyFlat(TImageState& s, const TBitmap32& flat, TStatusPanels& status)
{
    if (auto refusal = FlatRefusal(s))
        throw ECalibrationError(*refusal);
    if (!SameSize(s.Bitmap, flat))
        throw ECalibrationError(FlatSize);

    const TFlatStats st = FlatStats(flat);
    // Only the rows of flat bytes that occur are filled; no other row is read.
    const auto tables = std::make_unique<std::uint8_t[]>(Channels * TableSize);
    std::array<const std::uint8_t*, Channels> t{};
    for (std::size_t c = 0; c < Channels; ++c) {
        std::uint8_t* table = tables.get() + c * TableSize;
        BuildFlatTable(table, st.Mean[c], st.Lo[c], st.Hi[c]);
        t[c] = table;
    }

    const std::int32_t w = s.Bitmap.Width();
    for (std::int32_t y = 0; y < s.Bitmap.Height(); ++y)
        FlatRow(s.Bitmap.ScanLine(y), flat.ScanLine(y), w, t.data());
    s.FlatApplied = true;
    status.Panels[PanelPrompt] = "Flat image  has been applied.";
}

} // namespace vinsk
