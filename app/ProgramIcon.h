// The program's identity on the desktop: the id its menu entry, metainfo and
// icons are installed under, and the icon its windows show.
#pragma once

#include <QIcon>

namespace vinsk {

// Matches dist/<id>.desktop, so the desktop shell ties the running window to
// its menu entry.
inline constexpr const char* DesktopId = "org.vinsk.Vinsk";

// The installed icon's 48, 128 and 256 pixel renderings, from the program's
// resources: no icon theme or SVG plugin needed at run time.
QIcon ProgramWindowIcon();

} // namespace vinsk
