// Spin and combo boxes in a scrolling panel take the mouse wheel only once
// they have the focus (a click or Tab); otherwise the wheel scrolls the
// panel, and a turn over the panel does not change a value by accident.
#pragma once

class QWidget;

namespace vinsk {

// For every spin box and combo box below root, now.
void WheelOnlyWithFocus(QWidget* root);

} // namespace vinsk
