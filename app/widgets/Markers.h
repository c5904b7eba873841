// The bitmaps of the check-point markers.
#pragma once

#include <QImage>

namespace vinsk {

// The 33 x 33 marker of a check-point kind (TCheckPointKind) in its colour on
// white; the view draws white transparent.
QImage MarkerImage(int kind);

} // namespace vinsk
