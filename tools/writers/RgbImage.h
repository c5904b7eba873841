// Plain 8-bit pictures for the tools, and their PNG, JPEG and TIFF writers.
// The program itself only reads pictures; these writers serve the sample
// generator and the benchmarks.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vinsk::tools {

// Width x Height pixels of Channels bytes (1: grey, 3: red, green, blue),
// row-major, top row first.
struct TRgbImage {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Channels = 3;
    std::vector<std::uint8_t> Pixels;

    TRgbImage() = default;
    TRgbImage(std::int32_t w, std::int32_t h, std::int32_t channels = 3)
        : Width(w), Height(h), Channels(channels),
          Pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(channels))
    {
    }

    std::uint8_t* Row(std::int32_t y)
    {
        return Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) * Channels;
    }
    const std::uint8_t* Row(std::int32_t y) const
    {
        return Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) * Channels;
    }
};

// The same with 16 bits per channel, for writers of deep pictures.
struct TRgb16Image {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Channels = 3;
    std::vector<std::uint16_t> Pixels;

    TRgb16Image() = default;
    TRgb16Image(std::int32_t w, std::int32_t h, std::int32_t channels = 3)
        : Width(w), Height(h), Channels(channels),
          Pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(channels))
    {
    }
};

// After a failed write: removes what was written at path, when it is a file.
// A path may name a device or a pipe (a write to /dev/full), which is not
// ours to remove.
void RemoveFailedWrite(const std::string& path);

class EWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Each writer creates or replaces the file; on failure it throws EWriteError
// naming the file and removes what it had begun to write.
void WritePng(const std::string& path, const TRgbImage& img, int zlibLevel = 6);
void WritePng16(const std::string& path, const TRgb16Image& img, int zlibLevel = 6);
void WriteJpeg(const std::string& path, const TRgbImage& img, int quality = 92);
// The same with an ICC profile embedded (APP2 markers).
void WriteJpeg(const std::string& path, const TRgbImage& img, int quality, const std::vector<std::uint8_t>& icc);
void WriteTiff(const std::string& path, const TRgbImage& img, bool deflate);

// By the file name's extension (.png, .jpg/.jpeg, .tif/.tiff, any case).
// A JPEG without a profile is read as sRGB, so with declareLinear it embeds
// a linear one; PNG and TIFF are read as linear without one.
void WritePicture(const std::string& path, const TRgbImage& img, bool declareLinear = false);

// A gamma-1 ICC profile, made with LittleCMS: grey for 1 channel, else RGB
// of sRGB's primaries. Its stored values are light.
std::vector<std::uint8_t> LinearIccProfile(int channels);

} // namespace vinsk::tools
