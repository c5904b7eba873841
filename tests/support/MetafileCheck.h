// An independent reader of the WMF and EMF files the exporter writes: walks
// the records, plays the object table and the SaveDC stack, and reports
// every structural fault it meets together with what a player would draw.
// Like libwmf, it starts the context after a SaveDC from the defaults (black
// text, opaque background, top-left alignment) apart from the objects.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vinsk::test {

struct TPlayedText {
    std::u16string Text;
    std::vector<std::int32_t> Advances;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Escapement = 0; // of the selected font
    std::uint32_t Color = 0;
    std::uint32_t Align = 0;  // text alignment in force
    bool Transparent = false; // background mode in force
};

struct TPlayed {
    std::vector<std::string> Faults;
    std::map<unsigned, int> Counts;         // records by type or function
    std::vector<std::uint32_t> LinePens;    // colour of the selected pen at each line drawn
    std::vector<std::uint32_t> FillBrushes; // brush colour at each filled shape (0xFFFFFFFF hollow)
    std::vector<bool> LineClipped;          // whether a clip rectangle held at each line
    std::vector<TPlayedText> Texts;
    int Handles = 0;    // nHandles / number of objects in the header
    int MaxHandle = -1; // highest index a create record used
    std::uint32_t Width = 0, Height = 0;
};

TPlayed PlayEmf(const std::vector<std::uint8_t>& bytes);
TPlayed PlayWmf(const std::vector<std::uint8_t>& bytes);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

} // namespace vinsk::test
