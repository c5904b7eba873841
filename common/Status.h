// The three status-bar panels as plain texts. The core writes them; the
// window copies them to its status bar after every command.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace vinsk {

// The panels, left to right.
enum TStatusPanel : std::size_t {
    PanelImageSize = 0, // picture size
    PanelPrompt = 1,    // prompts, calibration confirmations, measurement error
    PanelReadout = 2,   // pixel read-out and the value of a clicked chart point
    StatusPanelCount = 3,
};

struct TStatusPanels {
    std::array<std::string, StatusPanelCount> Panels;
    // Beside the three: what became of the picture's linear samples.
    std::string Linear;
};

} // namespace vinsk
