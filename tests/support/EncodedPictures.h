// A rendered trail's light stored as cameras and photo software store it:
// through a tone curve, in 8-bit pictures or 16-bit TIFFs, with the ICC
// profile, gAMA or sRGB chunk that declares the curve.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <lcms2.h>

#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/writers/RgbImage.h"

namespace vinsk::test {

// Stored values of light l in 0 .. 1 through each curve.
double LinearStored(double l);
double SrgbStored(double l);
double Gamma22Stored(double l);
double AdobeStored(double l); // Adobe RGB (1998): gamma 563/256

// The 8-bit trail's noise and background in 16 bits, the crest at 94 % of
// full scale: what a camera's tone curve bends most.
void ToneLevels(tools::TPhysicalOptions& o);

// A path in the temporary folder, one per process.
std::string TempPicture(const std::string& name);

// The trail's light in 8 bits through `stored`.
tools::TRgbImage Stored8(const tools::TPhysicalTrail& t, double (*stored)(double));

// A 16-bit RGB TIFF of the trail's light through `stored`, the profile
// embedded. Throws when the file cannot be written.
void WriteTiff16(const std::string& path, const tools::TPhysicalTrail& t, double (*stored)(double),
                 const std::vector<std::uint8_t>& profile);

// ICC profiles' bytes, made with LittleCMS: sRGB's, or an RGB one of the
// given primaries and gamma (1 for linear) with a D65 white.
std::vector<std::uint8_t> SrgbProfile();
std::vector<std::uint8_t> GammaProfile(const cmsCIExyYTRIPLE& primaries, double gamma);
inline constexpr cmsCIExyYTRIPLE AdobeRgb{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
inline constexpr cmsCIExyYTRIPLE SrgbPrimaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};

// A chunk put into a PNG file right after its header chunk.
void InsertPngChunk(const std::string& path, const char type[4], const std::vector<std::uint8_t>& data);
// The iCCP chunk's data: a name, compression method 0, the zlib stream.
std::vector<std::uint8_t> IccpData(const std::vector<std::uint8_t>& profile);

} // namespace vinsk::test
