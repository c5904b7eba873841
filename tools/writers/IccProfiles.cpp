#include "tools/writers/RgbImage.h"

#include <lcms2.h>

namespace vinsk::tools {

std::vector<std::uint8_t> LinearIccProfile(int channels)
{
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = nullptr;
    if (channels == 1) {
        profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    } else {
        // sRGB's primaries and white: only the curves differ from sRGB's.
        const cmsCIExyY d65{0.3127, 0.3290, 1};
        const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
        cmsToneCurve* curves[3] = {linear, linear, linear};
        profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    }
    cmsFreeToneCurve(linear);
    std::vector<std::uint8_t> bytes;
    cmsUInt32Number n = 0;
    if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &n) && n > 0) {
        bytes.resize(n);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &n))
            bytes.clear();
    }
    if (profile != nullptr)
        cmsCloseProfile(profile);
    if (bytes.empty())
        throw EWriteError("Cannot make a linear ICC profile");
    return bytes;
}

} // namespace vinsk::tools
