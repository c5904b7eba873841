#include "image/formats/ColourDeclarations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <lcms2.h>

namespace vinsk::formats {

namespace {

// LittleCMS says nothing on stderr: a damaged profile is simply not used.
void SilentLcms(cmsContext, cmsUInt32Number, const char*) {}

struct TProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

constexpr std::size_t TableSize = 65536;

// Light in 0 .. 1 of each stored level 0 .. 65535, clamped: a curve that
// leaves the range says nothing usable outside it.
std::vector<float> Sampled(const cmsToneCurve* curve)
{
    std::vector<float> t(TableSize);
    for (std::size_t i = 0; i < TableSize; ++i) {
        const float v = cmsEvalToneCurveFloat(curve, static_cast<float>(i) / 65535.0f);
        t[i] = std::isfinite(v) ? std::fmin(std::fmax(v, 0.0f), 1.0f) : 0.0f;
    }
    return t;
}

// A profile with lookup tables only: each channel's ramp through a
// transform to a gamma-1 profile of the same colorants (D50 primaries from
// its colorant tags when it has them, else sRGB's).
std::shared_ptr<TCurveTables> ThroughTransform(cmsHPROFILE profile, bool grey)
{
    cmsToneCurve* one = cmsBuildGamma(nullptr, 1.0);
    if (one == nullptr)
        return nullptr;
    cmsHPROFILE linear = nullptr;
    if (grey) {
        linear = cmsCreateGrayProfile(cmsD50_xyY(), one);
    } else {
        cmsCIExyYTRIPLE primaries{{0.6400, 0.3300, 1}, {0.3000, 0.6000, 1}, {0.1500, 0.0600, 1}};
        const auto* r = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigRedColorantTag));
        const auto* g = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigGreenColorantTag));
        const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigBlueColorantTag));
        if (r != nullptr && g != nullptr && b != nullptr) {
            cmsXYZ2xyY(&primaries.Red, r);
            cmsXYZ2xyY(&primaries.Green, g);
            cmsXYZ2xyY(&primaries.Blue, b);
        }
        cmsToneCurve* curves[3] = {one, one, one};
        linear = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
    }
    cmsFreeToneCurve(one);
    if (linear == nullptr)
        return nullptr;
    const TProfile keep(linear);
    const cmsUInt32Number in = grey ? TYPE_GRAY_16 : TYPE_RGB_16, out = grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT;
    cmsHTRANSFORM x = cmsCreateTransform(profile, in, linear, out, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if (x == nullptr)
        return nullptr;
    auto tables = std::make_shared<TCurveTables>();
    const int channels = grey ? 1 : 3;
    std::vector<std::uint16_t> ramp(TableSize * static_cast<std::size_t>(channels));
    std::vector<float> light(ramp.size());
    for (int c = 0; c < channels; ++c) {
        // One channel's ramp with the others at 0: its own curve.
        std::fill(ramp.begin(), ramp.end(), 0);
        for (std::size_t i = 0; i < TableSize; ++i)
            ramp[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(i);
        cmsDoTransform(x, ramp.data(), light.data(), static_cast<cmsUInt32Number>(TableSize));
        std::vector<float>& t = tables->Channel[c];
        t.resize(TableSize);
        for (std::size_t i = 0; i < TableSize; ++i) {
            const float v = light[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
            t[i] = std::isfinite(v) ? std::fmin(std::fmax(v, 0.0f), 1.0f) : 0.0f;
        }
    }
    cmsDeleteTransform(x);
    if (grey)
        tables->Channel[1] = tables->Channel[2] = tables->Channel[0];
    return tables;
}

} // namespace

std::optional<TTransfer> TransferOfIccProfile(std::span<const std::uint8_t> bytes)
{
    static const bool silenced = (cmsSetLogErrorHandler(SilentLcms), true);
    (void)silenced;
    if (bytes.size() < 132 || bytes.size() > (64u << 20))
        return std::nullopt;
    const TProfile profile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (!profile)
        return std::nullopt;
    cmsHPROFILE p = profile.get();
    // As a number: a file may name a colour space the enumeration lacks.
    const std::uint32_t space = cmsGetColorSpace(p);
    const bool grey = space == static_cast<std::uint32_t>(cmsSigGrayData);
    if (!grey && space != static_cast<std::uint32_t>(cmsSigRgbData))
        return std::nullopt;
    std::shared_ptr<TCurveTables> tables;
    const cmsTagSignature trc[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    const auto* greyTrc = grey ? static_cast<const cmsToneCurve*>(cmsReadTag(p, cmsSigGrayTRCTag)) : nullptr;
    const cmsToneCurve* curves[3] = {greyTrc, greyTrc, greyTrc};
    if (!grey)
        for (int c = 0; c < 3; ++c)
            curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(p, trc[c]));
    double gamma = 0;
    if (curves[0] != nullptr && curves[1] != nullptr && curves[2] != nullptr) {
        tables = std::make_shared<TCurveTables>();
        for (int c = 0; c < 3; ++c)
            tables->Channel[c] = Sampled(curves[c]);
        gamma = cmsEstimateGamma(curves[1], 0.01);
    } else {
        tables = ThroughTransform(p, grey);
        if (!tables)
            return std::nullopt;
    }
    TTransfer t;
    // A gamma-1 profile (linear samples that say so) needs no light plane.
    bool identity = true;
    for (int c = 0; c < 3 && identity; ++c)
        for (std::size_t i = 0; i < TableSize && identity; i += 257)
            identity = std::fabs(tables->Channel[c][i] - static_cast<float>(i) / 65535.0f) < 1e-4f;
    if (identity) {
        t.Source = "icc";
        return t;
    }
    t.Curve = TToneCurve::Icc;
    t.Gamma = gamma > 0 && std::isfinite(gamma) ? std::round(gamma * 1e4) / 1e4 : 0;
    t.Source = "icc";
    t.Tables = tables;
    return t;
}

namespace {

// A TIFF-structured block read with its byte order; every read is bounded.
class TIfdReader {
public:
    explicit TIfdReader(std::span<const std::uint8_t> b) : FBytes(b) {}

    bool Header(std::uint32_t& first)
    {
        if (FBytes.size() < 8)
            return false;
        if (FBytes[0] == 'I' && FBytes[1] == 'I')
            FLittle = true;
        else if (FBytes[0] == 'M' && FBytes[1] == 'M')
            FLittle = false;
        else
            return false;
        std::uint16_t magic = 0;
        return U16(2, magic) && magic == 42 && U32(4, first);
    }
    bool U16(std::size_t at, std::uint16_t& v) const
    {
        if (at > FBytes.size() || FBytes.size() - at < 2)
            return false;
        v = FLittle ? static_cast<std::uint16_t>(FBytes[at] | FBytes[at + 1] << 8)
                    : static_cast<std::uint16_t>(FBytes[at] << 8 | FBytes[at + 1]);
        return true;
    }
    bool U32(std::size_t at, std::uint32_t& v) const
    {
        std::uint16_t a = 0, b = 0;
        if (!U16(at, a) || !U16(at + 2, b))
            return false;
        v = FLittle ? (std::uint32_t{b} << 16 | a) : (std::uint32_t{a} << 16 | b);
        return true;
    }
    // The entry of `tag` in the IFD at `ifd`: its type, count and the
    // offset of its value field (the value itself when it fits in 4 bytes).
    bool Find(std::uint32_t ifd, std::uint16_t tag, std::uint16_t& type, std::uint32_t& count, std::size_t& value) const
    {
        std::uint16_t n = 0;
        if (!U16(ifd, n))
            return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::size_t e = std::size_t{ifd} + 2 + 12 * std::size_t{i};
            std::uint16_t t = 0;
            if (!U16(e, t) || !U16(e + 2, type) || !U32(e + 4, count))
                return false;
            if (t == tag) {
                value = e + 8;
                return true;
            }
        }
        return false;
    }
    std::span<const std::uint8_t> Bytes() const { return FBytes; }

private:
    std::span<const std::uint8_t> FBytes;
    bool FLittle = true;
};

} // namespace

std::optional<TTransfer> TransferOfExif(std::span<const std::uint8_t> exif)
{
    constexpr std::string_view Prefix("Exif\0\0", 6);
    if (exif.size() >= 6 && std::string_view(reinterpret_cast<const char*>(exif.data()), 6) == Prefix)
        exif = exif.subspan(6);
    TIfdReader r(exif);
    std::uint32_t ifd0 = 0, exifIfd = 0, colourSpace = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::size_t at = 0;
    if (!r.Header(ifd0) || !r.Find(ifd0, 0x8769, type, count, at) || !r.U32(at, exifIfd))
        return std::nullopt;
    std::uint16_t space = 0;
    if (!r.Find(exifIfd, 0xA001, type, count, at) || !r.U16(at, space))
        return std::nullopt;
    colourSpace = space;
    if (colourSpace == 1)
        return TTransfer{TToneCurve::Srgb, 1, "exif", nullptr};
    // Uncalibrated: the interoperability index says which.
    std::uint32_t interop = 0;
    if (!r.Find(exifIfd, 0xA005, type, count, at) || !r.U32(at, interop) ||
        !r.Find(interop, 0x0001, type, count, at) || type != 2 || count < 3)
        return std::nullopt;
    const std::span<const std::uint8_t> b = r.Bytes();
    std::size_t text = at;
    if (count > 4) {
        std::uint32_t offset = 0;
        if (!r.U32(at, offset))
            return std::nullopt;
        text = offset;
    }
    if (text > b.size() || b.size() - text < 3)
        return std::nullopt;
    if (b[text] == 'R' && b[text + 1] == '0' && b[text + 2] == '3')
        return TTransfer{TToneCurve::Gamma, 563.0 / 256.0, "exif", nullptr};
    if (b[text] == 'R' && b[text + 1] == '9' && b[text + 2] == '8')
        return TTransfer{TToneCurve::Srgb, 1, "exif", nullptr};
    return std::nullopt;
}

} // namespace vinsk::formats
