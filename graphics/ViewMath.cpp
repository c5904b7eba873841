#include "graphics/ViewMath.h"

#include <algorithm>

#include "common/MathFaults.h"

namespace vinsk {

std::int32_t ViewToImage(long double viewPos, float offset, std::int32_t zoom)
{
    const long double v = (viewPos - static_cast<long double>(offset)) * 100.0L / static_cast<long double>(zoom);
    return Low32(Round(v));
}

std::int64_t FitZoom(std::int32_t viewWidth, std::int32_t pictureWidth)
{
    return Round(FDiv(viewWidth, pictureWidth) * 100.0L - 1.0L);
}

std::int32_t ClampZoom(std::int64_t zoom)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(zoom, MinZoom, MaxZoom));
}

float ZoomScale(std::int32_t zoom)
{
    return static_cast<float>(static_cast<long double>(zoom) / 100.0L);
}

bool IsMarkerPixel(int col, int row)
{
    if (col < 0 || row < 0 || col >= MarkerSize || row >= MarkerSize)
        return false;
    const bool frame = row <= 2 || row >= 30 || col <= 2 || col >= 30;
    const bool verticalThick = col >= 15 && col <= 17 && ((row >= 3 && row <= 10) || (row >= 22 && row <= 29));
    const bool verticalThin = col == 16 && ((row >= 11 && row <= 15) || (row >= 17 && row <= 21));
    const bool horizontalThick = row >= 15 && row <= 17 && ((col >= 3 && col <= 9) || (col >= 23 && col <= 29));
    const bool horizontalThin = row == 16 && ((col >= 10 && col <= 15) || (col >= 17 && col <= 22));
    return frame || verticalThick || verticalThin || horizontalThick || horizontalThin;
}

} // namespace vinsk
