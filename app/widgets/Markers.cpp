#include "app/widgets/Markers.h"

#include "graphics/ViewMath.h"

namespace vinsk {

QImage MarkerImage(int kind)
{
    QImage img(MarkerSize, MarkerSize, QImage::Format_ARGB32);
    img.fill(0xFFFFFFFFu);
    const QRgb colour = MarkerColors.at(static_cast<std::size_t>(kind));
    for (int row = 0; row < MarkerSize; ++row)
        for (int col = 0; col < MarkerSize; ++col)
            if (IsMarkerPixel(col, row))
                img.setPixel(col, row, colour);
    return img;
}

} // namespace vinsk
