// Writers of deep (more than 8 bits) pictures for the sample generator and
// the tests, beside the 16-bit PNG of RgbImage.h: FITS through cfitsio, and a
// DNG camera RAW with a colour filter pattern through libtiff.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/writers/RgbImage.h"

namespace vinsk::tools {

// Sample c of pixel (x, y).
inline std::uint16_t& At(TRgb16Image& img, std::int32_t x, std::int32_t y, std::int32_t c)
{
    return img.Pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.Width) + static_cast<std::size_t>(x)) *
                          static_cast<std::size_t>(img.Channels) + static_cast<std::size_t>(c)];
}

// A FITS image as stored: Width x Height x Planes physical values, plane by
// plane, each plane's rows in stored order (FITS row 1, the bottom row by the
// format's convention, first).
struct TFitsPicture {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    int Planes = 1; // 1, or 3 for NAXIS3 RGB
    int Bitpix = 16;
    double Bzero = 0;  // stored = (physical - Bzero) / Bscale
    double Bscale = 1;
    std::vector<double> Values;
    std::vector<std::pair<std::string, double>> NumberKeys;
    std::vector<std::pair<std::string, std::string>> TextKeys;
    bool TileCompressed = false; // Rice tiles in an image extension (.fz)
};

// Creates or replaces the file; EWriteError with cfitsio's message otherwise.
void WriteFits(const std::string& path, const TFitsPicture& pic);

// A picture as stored by WriteFits: 16-bit values with BZERO 32768 (the
// unsigned convention), three planes, bottom row first.
TFitsPicture FitsFromImage16(const TRgb16Image& img);

// A DNG whose sensor has twice the picture's size each way, each picture
// pixel one 2x2 cell of the RGGB pattern (the green value in both greens),
// 16 bits, uncompressed, with the exposure and focal length in IFD0's EXIF
// tags, and the camera's clock reading ("YYYY:MM:DD hh:mm:ss") in DateTime
// when one is given.
void WriteDng(const std::string& path, const TRgb16Image& img, double exposureSeconds, double focalMm,
              const std::string& dateTime = {});

} // namespace vinsk::tools
