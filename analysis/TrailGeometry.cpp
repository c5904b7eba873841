#include "analysis/TrailGeometry.h"

#include "common/MathFaults.h"

namespace vinsk {

namespace {

int Sign(std::int64_t v) { return (v > 0) - (v < 0); }

std::int64_t Abs64(std::int64_t v) { return v < 0 ? -v : v; }

} // namespace

void ReadCheckPoints(TTrailState& trail, const TCheckPointEdits& edits)
{
    trail.StartPoint = {Low32(Round(edits[0])), Low32(Round(edits[1]))};
    trail.StopPoint = {Low32(Round(edits[2])), Low32(Round(edits[3]))};
    trail.InLinePoint = {Low32(Round(edits[4])), Low32(Round(edits[5]))};
}

std::int64_t WalkPositions(const TCheckPointEdits& edits)
{
    TTrailState t;
    ReadCheckPoints(t, edits);
    const std::int64_t dx = Abs64(std::int64_t{t.StopPoint.X} - t.StartPoint.X);
    const std::int64_t dy = Abs64(std::int64_t{t.StopPoint.Y} - t.StartPoint.Y);
    return (dx > dy ? dx : dy) + 1;
}

std::int64_t MaxWalkPositions(std::int32_t width, std::int32_t height)
{
    return 4 * (std::int64_t{width > 0 ? width : 0} + (height > 0 ? height : 0));
}

std::optional<std::string> WalkLengthRefusal(const TCheckPointEdits& edits, std::int32_t width,
                                             std::int32_t height)
{
    const std::int64_t n = WalkPositions(edits);
    const std::int64_t max = MaxWalkPositions(width, height);
    if (n <= max)
        return std::nullopt;
    return "The check points are too far apart: the trail from START to STOP would have " + std::to_string(n) +
           " positions, and a picture of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels allows at most " + std::to_string(max) + ".";
}

TCircle CircleThrough3Points(TIntPoint A, TIntPoint B, TIntPoint C)
{
    // Exact integer sums: the squares of picture coordinates reach far beyond
    // 32 bits (a trail across a 6000-pixel picture already does), and
    // 128 bits hold every sum for any pair of 32-bit coordinates. Wherever
    // 32-bit sums were exact the circle is the same.
    using Wide = __int128;
    const Wide x1 = A.X, y1 = A.Y;
    const Wide x2 = B.X, y2 = B.Y;
    const Wide x3 = C.X, y3 = C.Y;
    const Wide s1 = x1 * x1 + y1 * y1;
    const Wide s2 = x2 * x2 + y2 * y2;
    const Wide s3 = x3 * x3 + y3 * y3;
    const Wide g = x1 * (y3 - y2) + x2 * (y1 - y3) + x3 * (y2 - y1);
    const Wide nx = s1 * (y2 - y3) + s2 * (y3 - y1) + s3 * (y1 - y2);
    const Wide ny = s1 * (x3 - x2) + s2 * (x1 - x3) + s3 * (x2 - x1);

    TCircle circle;
    if (g == 0) {
        circle.Radius = CollinearRadius;
        circle.Collinear = true;
        return circle;
    }
    const auto gl = static_cast<long double>(g);
    circle.Center.X = Low32(-Round(FDiv(static_cast<long double>(nx) * 0.5L, gl)));
    circle.Center.Y = Low32(-Round(FDiv(static_cast<long double>(ny) * 0.5L, gl)));
    const long double dx = static_cast<long double>(circle.Center.X) - A.X;
    const long double dy = static_cast<long double>(circle.Center.Y) - A.Y;
    circle.Radius = StoreD(FSqrt(dx * dx + dy * dy));
    return circle;
}

void FitTrailCircle(TTrailState& trail, const TCheckPointEdits& edits)
{
    ReadCheckPoints(trail, edits);
    const TCircle circle = CircleThrough3Points(trail.StartPoint, trail.StopPoint, trail.InLinePoint);
    trail.ArcCenter = circle.Center;
    trail.ArcRadius = circle.Radius;
    trail.ArcIsLine = circle.Collinear;
}

TTrailWalk::TTrailWalk(const TTrailState& trail)
    : FStart(trail.StartPoint),
      FStop(trail.StopPoint),
      FCx(trail.ArcCenter.X),
      FCy(trail.ArcCenter.Y),
      FRadius(trail.ArcRadius),
      FLine(trail.ArcIsLine)
{
    // 64-bit differences: two 32-bit coordinates never overflow them.
    const std::int64_t dx = static_cast<std::int64_t>(FStop.X) - FStart.X;
    const std::int64_t dy = static_cast<std::int64_t>(FStop.Y) - FStart.Y;
    FXMajor = Abs64(dx) > Abs64(dy);
    FD = FXMajor ? dx : dy;
    FSign = FXMajor ? Sign(static_cast<std::int64_t>(trail.InLinePoint.Y) - trail.ArcCenter.Y)
                    : Sign(static_cast<std::int64_t>(trail.InLinePoint.X) - trail.ArcCenter.X);
}

std::int32_t TTrailWalk::Minor(std::int32_t major) const
{
    // Major and minor axes as (a, b): (x, y) on an x-major walk, (y, x) otherwise.
    const std::int64_t sa = FXMajor ? FStart.X : FStart.Y;
    const std::int64_t sb = FXMajor ? FStart.Y : FStart.X;
    if (FLine) {
        const std::int64_t ea = FXMajor ? FStop.X : FStop.Y;
        const std::int64_t eb = FXMajor ? FStop.Y : FStop.X;
        const long double along = static_cast<long double>(major - sa) * static_cast<long double>(eb - sb);
        return Low32(Round(static_cast<long double>(sb) + FDiv(along, static_cast<long double>(ea - sa))));
    }
    const long double ca = FXMajor ? FCx : FCy;
    const long double cb = FXMajor ? FCy : FCx;
    const long double off = major - ca;
    const double v = StoreD(cb + FSign * FSqrt(FRadius * FRadius - off * off));
    return Low32(Round(v));
}

TWalkPosition TTrailWalk::At(std::int64_t k) const
{
    const std::int64_t start = FXMajor ? FStart.X : FStart.Y;
    const auto major = static_cast<std::int32_t>(start + (FD < 0 ? -k : k));
    const std::int32_t minor = Minor(major);
    TWalkPosition p;
    p.C = major;
    p.X = FXMajor ? major : minor;
    p.Y = FXMajor ? minor : major;
    return p;
}

void LinePoints(TTrailState& trail, const TCheckPointEdits& edits, TBitmap32& bitmap)
{
    FitTrailCircle(trail, edits);
    TTrailWalk(trail).ForEach(
        [&](std::int64_t, const TWalkPosition& p) { bitmap.SetPixelS(p.X, p.Y, LinePointColor); });
}

} // namespace vinsk
