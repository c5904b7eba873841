// Zoom and mouse-to-pixel arithmetic of the image view, and the shape of the
// check-point markers. Plain C++ so that it is tested without widgets.
#pragma once

#include <array>
#include <cstdint>

namespace vinsk {

inline constexpr std::int32_t MinZoom = 10;
inline constexpr std::int32_t MaxZoom = 400;

// The image pixel under a view position: Round((pos - offset) * 100 / zoom)
// in extended precision, halves to even, so a press on the right or lower
// half of a magnified pixel selects the next one. Results outside the
// picture are returned as they are.
std::int32_t ViewToImage(long double viewPos, float offset, std::int32_t zoom);

// The zoom that fits a picture's width into the view: Round(viewWidth /
// pictureWidth * 100 - 1). A picture of width 0 is a division by zero.
std::int64_t FitZoom(std::int32_t viewWidth, std::int32_t pictureWidth);

// The zoom scroll bar keeps its position within MinZoom..MaxZoom.
std::int32_t ClampZoom(std::int64_t zoom);

// The view's scale for a zoom percentage, as the view stores it (33 -> 0.33f).
float ZoomScale(std::int32_t zoom);

// The kinds of check point, in the order they are placed. A marker's layer
// carries its kind as the tag kind + 1 (tag 0 is no marker).
enum TCheckPointKind : std::int32_t {
    PointStart = 0,
    PointStop = 1,
    PointInLine = 2,
    CheckPointKindCount = 3,
};
inline constexpr int MarkerTag(std::int32_t kind) { return kind + 1; }
// The kind of a marker's tag, or -1 for a tag that is no marker.
inline constexpr std::int32_t KindOfMarkerTag(int tag)
{
    return tag >= MarkerTag(PointStart) && tag <= MarkerTag(PointInLine) ? tag - 1 : -1;
}

// Check-point marker: 33 x 33 pixels, a square frame with a cross whose
// centre pixel stays open so the picture under the point remains visible.
inline constexpr int MarkerSize = 33;
inline constexpr int MarkerCentre = 16;
bool IsMarkerPixel(int col, int row);

// Marker colours of START, STOP and IN-LINE ($AARRGGBB).
inline constexpr std::array<std::uint32_t, CheckPointKindCount> MarkerColors = {0xFF0000FFu, 0xFFFF0000u, 0xFF40FF40u};

} // namespace vinsk
