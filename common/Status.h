// The three status-bar panels as plain texts. The core writes them; the
// window copies them to its status bar after every command.
#pragma once

#include <array>
#include <string>

namespace vinsk {

struct TStatusPanels {
    // 0: picture size; 1: prompts, calibration confirmations, measurement
    // error; 2: pixel read-out and the value of a clicked chart point.
    std::array<std::string, 3> Panels;
    // Beside the three: what became of the picture's linear samples.
    std::string Linear;
};

} // namespace vinsk
