// Small picture files of every family with the pixels they must give.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "PictureBytes.h"
#include "image/formats/Decoders.h"

namespace vinsk::test {

using TDecodeFn = void (*)(formats::TBytes, TBitmap32&, const formats::TDecodeLimits&);

struct TDecodeCase {
    std::string Name;
    std::string Extension;
    TDecodeFn Decode = nullptr;
    TFileBytes Bytes;
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels; // $AARRGGBB, top row first
    int Tolerance = 0;                 // per channel
    std::size_t Slack = 0;             // final bytes a reader need not see
};

inline void PrintTo(const TDecodeCase& c, std::ostream* os) { *os << c.Name << " (." << c.Extension << ")"; }

const std::vector<TDecodeCase>& DecodeCases();

// Builders shared with the damage tests.
TFileBytes Bmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height, std::uint16_t bits,
               std::uint32_t compression, const std::vector<std::uint32_t>& palette, const TFileBytes& pixels,
               const std::vector<std::uint32_t>& masks = {}, std::uint32_t colorsUsed = 0);
TFileBytes TgaHeader(std::uint8_t idLength, std::uint8_t mapType, std::uint8_t imageType, std::uint16_t mapFirst,
                     std::uint16_t mapLength, std::uint8_t mapBits, std::uint16_t width, std::uint16_t height,
                     std::uint8_t depth, std::uint8_t descriptor);
TFileBytes PcxHeader(std::uint8_t version, std::uint8_t encoding, std::uint8_t bits, std::uint16_t width,
                     std::uint16_t height, std::uint8_t planes, std::uint16_t bytesPerLine,
                     const std::vector<std::uint32_t>& palette16 = {});
TFileBytes SgiHeader(std::uint8_t storage, std::uint8_t bpc, std::uint16_t dimension, std::uint16_t xsize,
                     std::uint16_t ysize, std::uint16_t zsize);
TFileBytes PsdHeader(std::uint16_t channels, std::uint32_t height, std::uint32_t width, std::uint16_t depth,
                     std::uint16_t mode);
// `lines` hold each line's runs without the length and the closing 0.
TFileBytes Cut(std::uint16_t width, std::uint16_t height, std::uint16_t reserved, const std::vector<TFileBytes>& lines);
TFileBytes RlaHeader(std::int16_t width, std::int16_t height, std::uint16_t colourChannels, std::uint16_t matteChannels,
                     std::uint16_t storage = 0, const std::string& channelSpace = "rgb");
// Scanlines bottom first, each a list of coded channels.
TFileBytes Rla(const TFileBytes& header, const std::vector<std::vector<TFileBytes>>& scanlines);
TFileBytes RlaRun(int count, std::uint8_t value);
TFileBytes RlaLiteral(const TFileBytes& values);

} // namespace vinsk::test
