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
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <fitsio.h>

#include "image/formats/FitsDefences.h"
#include "image/formats/ReaderUtil.h"
#include "setup/DriveSettings.h"

namespace vinsk::formats {

using namespace fits;

namespace {

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
// anything is read, with `working` bytes of the reader's own beside them.
void CheckImage(const THeader& h, const TImageInfo& info, const TDecodeLimits& limits, std::uint64_t working = 0)
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
                     static_cast<std::uint64_t>(channels) * 4u, limits, working);
}

// What cfitsio and the strips hold while a compressed picture is read beside
// the raster and the plane: for the largest tile, its values in the type
// read (floats) and as decoded (integers of at least 4 bytes); the rows of
// tiles that are spread into colour planes or superpixels; and the largest
// tile's stream, copied before it is decoded.
std::uint64_t CompressedWorking(const THeader& h, const TImageInfo& info, const long long* tile,
                                std::uint64_t largestStream)
{
    std::uint64_t tilePixels = 1;
    for (int d = 0; d < std::min(info.Naxis, 3); ++d)
        tilePixels *= static_cast<std::uint64_t>(std::min(tile[d], info.Naxes[d]));
    // HCOMPRESS decodes 32-bit values (and floats) as 64-bit integers.
    const bool wide = std::abs(info.Bitpix) >= 32 && h.Text("ZCMPTYPE") == "HCOMPRESS_1";
    const std::uint64_t decoded =
        wide ? 8u : std::max<std::uint64_t>(4, static_cast<std::uint64_t>(std::abs(info.Bitpix) / 8));
    std::uint64_t working = tilePixels * (4 + decoded) + largestStream;
    // Superpixels take whole pairs of rows: up to twice the tiles' height.
    if ((info.Naxis == 3 && info.Naxes[2] != 1) || !BayerPattern(h).empty())
        working += static_cast<std::uint64_t>(info.Naxes[0]) *
                   static_cast<std::uint64_t>(std::min(2 * tile[1], info.Naxes[1])) * 4u;
    return working;
}

} // namespace

bool FitsReentrant() { return fits_is_reentrant() != 0; }

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
    const bool compressed = fits_is_compressed_image(f, &status) != 0;
    long long tile[3] = {info.Naxes[0], 1, 1};
    for (int d = 0; d < 3 && compressed; ++d)
        if (const std::optional<double> t = h.Number("ZTILE" + std::to_string(d + 1)))
            tile[d] = static_cast<long long>(std::min<double>(*t, static_cast<double>(info.Naxes[d])));
    CheckImage(h, info, limits, compressed ? CompressedWorking(h, info, tile, 0) : 0);
    if (!compressed) {
        // cfitsio found a plain image that the walk above did not (a header
        // it reads more leniently): its data must all be there.
        const long long need = dataStart + std::abs(info.Bitpix) / 8 * info.Naxes[0] * info.Naxes[1] * info.Naxes[2];
        if (need > static_cast<long long>(data.size()))
            Fail("the file is truncated");
    } else {
        // Again with the largest stream, known once the tiles are checked.
        const std::uint64_t largestStream = CheckCompressedDataUnit(f, h, info, data.size(), file.Bytes());
        CheckImage(h, info, limits, CompressedWorking(h, info, tile, largestStream));
    }
    CheckScaling(h, scale, zero);
    DecodeImage(h, info, CfitsioRows(f, info, tile, compressed), tile[1], out, extras, limits);
}

} // namespace vinsk::formats
