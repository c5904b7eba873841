// Alt with a letter belongs to the menu bar first, as users of a menu bar
// expect. A control whose underlined letter is also a menu title's keeps its
// caption, but Alt with that letter opens the menu; the control answers the
// plain letter instead, while the focus is inside its page (an edit field
// with the focus still takes the letter as typing).
#pragma once

class QMenuBar;
class QWidget;

namespace vinsk {

// Applies the rule to the controls of one page: buttons, check boxes, group
// boxes and labels with a buddy. Run it once the page and the menus exist.
void GiveAltLettersToMenuBar(QMenuBar* bar, QWidget* page);

} // namespace vinsk
