#include "Calibration.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/MathFaults.h"

namespace vinsk {

namespace {

constexpr const char* NotLoaded = "Image is not loaded. You must image load first!";
constexpr const char* DarkAlready = "Dark image is already applied. Load new image first!";
constexpr const char* DarkMissing = "Dark image is not applied. Load dark image first!";
constexpr const char* FlatAlready = "Flat image is  applied. Load new image first!";
constexpr const char* DarkSize = "Dark image must have equal size!";
constexpr const char* FlatSize = "Flat image must have equal size!";

bool SameSize(const TBitmap32& a, const TBitmap32& b)
{
    return a.Width() == b.Width() && a.Height() == b.Height();
}

// Per-byte saturating a - b for the red, green and blue bytes of two colour
// words, alpha taken from a. Works on all four bytes at once: the borrow of
// each byte is kept inside that byte by computing on 9-bit lanes.
inline std::uint32_t SubtractRgb(std::uint32_t a, std::uint32_t b)
{
    constexpr std::uint32_t rgb = 0x00FFFFFFu;
    b &= rgb;
    // Even bytes (blue, red) and odd bytes (green) in separate 16-bit lanes,
    // each lane biased by 0x100 so that its subtraction never borrows from
    // the lane above; the bias survives exactly when no underflow happened.
    const std::uint32_t aEven = (a & 0x00FF00FFu) | 0x01000100u;
    const std::uint32_t aOdd = ((a >> 8) & 0x000000FFu) | 0x00000100u;
    const std::uint32_t dEven = aEven - (b & 0x00FF00FFu);
    const std::uint32_t dOdd = aOdd - ((b >> 8) & 0x000000FFu);
    // A lane whose bias is gone went below zero: clear it.
    const std::uint32_t keepEven = ((dEven >> 8) & 0x00010001u) * 0xFFu;
    const std::uint32_t keepOdd = ((dOdd >> 8) & 0x00000001u) * 0xFFu;
    const std::uint32_t even = dEven & keepEven;
    const std::uint32_t odd = dOdd & keepOdd;
    return (a & 0xFF000000u) | even | (odd << 8);
}

// The flat's correction of one channel for every (flat byte, image byte)
// pair: Round(p * mean / f), capped at 255. A flat byte of 0 leaves the image
// byte as it is, rather than dividing by zero.
using TFlatTable = std::array<std::uint8_t, 256 * 256>;

void BuildFlatTable(TFlatTable& t, double mean)
{
    for (std::uint32_t p = 0; p < 256; ++p)
        t[p] = static_cast<std::uint8_t>(p);
    const long double m = mean;
    for (std::uint32_t f = 1; f < 256; ++f) {
        std::uint8_t* row = t.data() + f * 256;
        for (std::uint32_t p = 0; p < 256; ++p) {
            const long double q = static_cast<long double>(p) * m / static_cast<long double>(f);
            const std::int64_t c = Round(q);
            row[p] = static_cast<std::uint8_t>(c > 255 ? 255 : c);
        }
    }
}

struct TFlatMeans {
    double R = 0, G = 0, B = 0;
};

TFlatMeans FlatMeans(const TBitmap32& flat)
{
    // Whole-number sums are exact in 64 bits, and every such sum below 2^53
    // is the same double a running double sum would reach.
    std::uint64_t sr = 0, sg = 0, sb = 0;
    const std::int32_t w = flat.Width();
    for (std::int32_t y = 0; y < flat.Height(); ++y) {
        const std::uint32_t* row = flat.ScanLine(y);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t c = row[x];
            sr += (c >> 16) & 0xFFu;
            sg += (c >> 8) & 0xFFu;
            sb += c & 0xFFu;
        }
    }
    const long double n = static_cast<long double>(static_cast<std::int64_t>(w) * flat.Height());
    TFlatMeans m;
    m.R = StoreD(static_cast<long double>(static_cast<double>(sr)) / n);
    m.G = StoreD(static_cast<long double>(static_cast<double>(sg)) / n);
    m.B = StoreD(static_cast<long double>(static_cast<double>(sb)) / n);
    return m;
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
    for (std::int32_t y = 0; y < s.Bitmap.Height(); ++y) {
        std::uint32_t* p = s.Bitmap.ScanLine(y);
        const std::uint32_t* d = dark.ScanLine(y);
        for (std::int32_t x = 0; x < w; ++x)
            p[x] = SubtractRgb(p[x], d[x]);
    }
    s.DarkApplied = true;
    s.FlatApplied = false;
    status.Panels[1] = "Dark image  has been applied.";
}

void ApplyFlat(TImageState& s, const TBitmap32& flat, TStatusPanels& status)
{
    if (auto refusal = FlatRefusal(s))
        throw ECalibrationError(*refusal);
    if (!SameSize(s.Bitmap, flat))
        throw ECalibrationError(FlatSize);

    const TFlatMeans means = FlatMeans(flat);
    // Every result depends only on the image byte, the flat byte and the
    // channel's mean, so the per-pixel arithmetic is done once per pair.
    auto tables = std::make_unique<std::array<TFlatTable, 3>>();
    BuildFlatTable((*tables)[0], means.R);
    BuildFlatTable((*tables)[1], means.G);
    BuildFlatTable((*tables)[2], means.B);
    const std::uint8_t* tr = (*tables)[0].data();
    const std::uint8_t* tg = (*tables)[1].data();
    const std::uint8_t* tb = (*tables)[2].data();

    const std::int32_t w = s.Bitmap.Width();
    for (std::int32_t y = 0; y < s.Bitmap.Height(); ++y) {
        std::uint32_t* p = s.Bitmap.ScanLine(y);
        const std::uint32_t* f = flat.ScanLine(y);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t c = p[x];
            const std::uint32_t k = f[x];
            const std::uint32_t r = tr[((k >> 8) & 0xFF00u) | ((c >> 16) & 0xFFu)];
            const std::uint32_t g = tg[(k & 0xFF00u) | ((c >> 8) & 0xFFu)];
            const std::uint32_t b = tb[((k << 8) & 0xFF00u) | (c & 0xFFu)];
            p[x] = (c & 0xFF000000u) | (r << 16) | (g << 8) | b;
        }
    }
    s.FlatApplied = true;
    status.Panels[1] = "Flat image  has been applied.";
}

} // namespace vinsk
