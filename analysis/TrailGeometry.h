// The circle through the three check points and the walk along it, one
// pixel at a time on the trail's dominant image axis.
#pragma once

#include <optional>
#include <string>

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "analysis/TrailState.h"
#include "image/Bitmap32.h"

namespace vinsk {

// The six coordinate spin edits as the window reads them: START x, y, STOP
// x, y, IN-LINE x, y.
using TCheckPointEdits = std::array<long double, 6>;

// Stores Round of each edit value (its low 32 bits) in the three points.
void ReadCheckPoints(TTrailState& trail, const TCheckPointEdits& edits);

// START, STOP and IN-LINE as they stand in the edits, for a part with points
// of its own (an aggregate of a double X and Y).
template <class Point>
std::tuple<Point, Point, Point> CheckPointsAs(const TCheckPointEdits& edits)
{
    auto point = [&](std::size_t i) { return Point{static_cast<double>(edits[i]), static_cast<double>(edits[i + 1])}; };
    return {point(0), point(2), point(4)};
}

struct TCircle {
    TIntPoint Center;
    double Radius = 0;
    bool Collinear = false;
};

// Radius reported when the three points do not span a triangle.
inline constexpr double CollinearRadius = 1e32;

// Circumcentre of A, B, C rounded to whole pixels, and the distance from
// that rounded centre to A. The determinants are formed exactly, also where
// they exceed 32 bits (long trails on large pictures). Three
// collinear points (or two equal ones) give centre (0, 0), radius 1e32.
TCircle CircleThrough3Points(TIntPoint A, TIntPoint B, TIntPoint C);

// ReadCheckPoints, then the circle through START, STOP, IN-LINE into
// ArcCenter, ArcRadius and ArcIsLine.
void FitTrailCircle(TTrailState& trail, const TCheckPointEdits& edits);

struct TWalkPosition {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t C = 0; // X on an x-major walk, Y on a y-major one
};

// The walk from START towards STOP over the fitted circle (or, for
// collinear points, the straight line START-STOP). Positions are computed
// on demand, so a fault at position k leaves the caller's work on 0..k-1.
class TTrailWalk {
public:
    explicit TTrailWalk(const TTrailState& trail);

    // A zero radius has no walk at all.
    bool Empty() const { return FRadius == 0; }
    bool XMajor() const { return FXMajor; }
    // Signed delta along the major axis, and the number of positions |D| + 1.
    std::int64_t D() const { return FD; }
    std::int64_t N() const { return (FD < 0 ? -FD : FD) + 1; }

    // Position k of 0 .. N-1. Throws EInvalidOp where the circle does not
    // reach the major coordinate or the minor one cannot be rounded.
    TWalkPosition At(std::int64_t k) const;

    template <class F> void ForEach(F&& visit) const
    {
        if (Empty())
            return;
        const std::int64_t n = N();
        for (std::int64_t k = 0; k < n; ++k)
            visit(k, At(k));
    }

private:
    std::int32_t Minor(std::int32_t major) const;

    TIntPoint FStart;
    TIntPoint FStop;
    long double FCx = 0;
    long double FCy = 0;
    long double FRadius = 0;
    bool FLine = false;
    bool FXMajor = false;
    std::int64_t FD = 0;
    int FSign = 0; // side of the circle the IN-LINE point is on, across the major axis
};

// The number of walk positions |D| + 1 the check points of the edits ask
// for, without fitting the circle.
std::int64_t WalkPositions(const TCheckPointEdits& edits);

// The longest walk a plotting run takes on a picture: four times its width
// plus height, more than any trail inside it or near it can have. Far beyond
// that the sample arrays alone would take gigabytes.
std::int64_t MaxWalkPositions(std::int32_t width, std::int32_t height);

// The refusal of a walk longer than MaxWalkPositions, or nothing.
std::optional<std::string> WalkLengthRefusal(const TCheckPointEdits& edits, std::int32_t width,
                                             std::int32_t height);

// The colour word LinePoints writes: alpha 0, red 0, green 255, blue 255.
inline constexpr std::uint32_t LinePointColor = 0x0000FFFFu;

// Fits the circle and marks every walk position inside the raster with
// LinePointColor, unblended. The caller repaints the view afterwards.
void LinePoints(TTrailState& trail, const TCheckPointEdits& edits, TBitmap32& bitmap);

} // namespace vinsk
