#include "app/metafile/MetafileDevice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPixmap>

namespace vinsk::metafile {
namespace {

constexpr int Dpi = 96;
// GDI keeps coordinates within 27 bits.
constexpr double CoordLimit = 134217727.0;

std::int32_t Coord(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<std::int32_t>(std::clamp(std::round(v), -CoordLimit, CoordLimit));
}

TPoint ToPoint(const QPointF& p)
{
    return {Coord(p.x()), Coord(p.y())};
}

TRect ToRect(const QRectF& r)
{
    return {Coord(r.left()), Coord(r.top()), Coord(r.right()), Coord(r.bottom())};
}

QColor BrushColor(const QBrush& brush)
{
    if (const QGradient* g = brush.gradient(); g && !g->stops().isEmpty())
        return g->stops().first().second;
    return brush.color();
}

TColorRef ToColorRef(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return ColorRef(static_cast<unsigned>(rgb.red()), static_cast<unsigned>(rgb.green()),
                    static_cast<unsigned>(rgb.blue()));
}

TPenStyle ToPenStyle(Qt::PenStyle s)
{
    switch (s) {
    case Qt::NoPen:
        return TPenStyle::Null;
    case Qt::DashLine:
    case Qt::CustomDashLine:
        return TPenStyle::Dash;
    case Qt::DotLine:
        return TPenStyle::Dot;
    case Qt::DashDotLine:
        return TPenStyle::DashDot;
    case Qt::DashDotDotLine:
        return TPenStyle::DashDotDot;
    default:
        return TPenStyle::Solid;
    }
}

// How much the transform stretches lengths, for pen widths and fonts.
double LengthScale(const QTransform& t)
{
    return std::sqrt(std::abs(t.determinant()));
}

std::u16string ToU16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

} // namespace

class TMetafileEngine final : public QPaintEngine {
public:
    explicit TMetafileEngine(TMetafileDevice& device) : QPaintEngine(AllFeatures), FDevice(device) {}

    bool begin(QPaintDevice*) override
    {
        FPen = QPen();
        FBrush = QBrush();
        FTransform = QTransform();
        FClipSet = false;
        FClipEnabled = false;
        FLastPen.reset();
        FLastBrush.reset();
        FLastFont.reset();
        FLastTextColor.reset();
        return true;
    }

    bool end() override
    {
        if (FLastClip.On)
            Add(TSetClip{});
        FLastClip = TSetClip{};
        return true;
    }

    Type type() const override { return User; }

    void updateState(const QPaintEngineState& state) override
    {
        const DirtyFlags f = state.state();
        if (f & DirtyPen)
            FPen = state.pen();
        if (f & DirtyBrush)
            FBrush = state.brush();
        // The clip arrives in the coordinates of the transform that comes
        // with it, so the transform goes first.
        if (f & DirtyTransform)
            FTransform = state.transform();
        if (f & DirtyClipRegion)
            ApplyClip(state.clipOperation(), FTransform.map(state.clipRegion()).boundingRect());
        if (f & DirtyClipPath)
            ApplyClip(state.clipOperation(), FTransform.map(state.clipPath()).boundingRect());
        if (f & DirtyClipEnabled)
            FClipEnabled = state.isClipEnabled();
    }

    void drawLines(const QLineF* lines, int count) override
    {
        if (!BeginStroke())
            return;
        // Lines that join end to start go into one polyline.
        std::vector<TPoint> run;
        for (int i = 0; i < count; ++i) {
            const TPoint a = ToPoint(FTransform.map(lines[i].p1()));
            const TPoint b = ToPoint(FTransform.map(lines[i].p2()));
            if (run.empty() || !(run.back() == a)) {
                if (run.size() >= 2)
                    Add(TPolyline{std::move(run)});
                run = {a};
            }
            run.push_back(b);
        }
        if (run.size() >= 2)
            Add(TPolyline{std::move(run)});
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        std::vector<TPoint> poly;
        poly.reserve(static_cast<std::size_t>(std::max(count, 0)));
        for (int i = 0; i < count; ++i)
            poly.push_back(ToPoint(FTransform.map(points[i])));
        if (mode == PolylineMode) {
            if (BeginStroke())
                Add(TPolyline{std::move(poly)});
            return;
        }
        if (BeginFill())
            Add(TPolyPolygon{{std::move(poly)}, mode == WindingMode});
    }

    void drawRects(const QRectF* rects, int count) override
    {
        for (int i = 0; i < count; ++i) {
            if (FTransform.type() <= QTransform::TxScale) {
                if (BeginFill())
                    Add(TRectangle{ToRect(FTransform.mapRect(rects[i]))});
            } else {
                const QRectF& r = rects[i];
                const QPointF corners[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
                drawPolygon(corners, 4, OddEvenMode);
            }
        }
    }

    void drawEllipse(const QRectF& r) override
    {
        if (FTransform.type() <= QTransform::TxScale) {
            if (BeginFill())
                Add(TEllipse{ToRect(FTransform.mapRect(r))});
            return;
        }
        QPainterPath path;
        path.addEllipse(r);
        drawPath(path);
    }

    // A path becomes a filled polygon set without outline, then its outline
    // as polylines, so open subpaths are not closed by the stroke.
    void drawPath(const QPainterPath& path) override
    {
        const QList<QPolygonF> polys = path.toSubpathPolygons(FTransform);
        if (FBrush.style() != Qt::NoBrush) {
            const QPen pen = FPen;
            FPen = Qt::NoPen;
            if (BeginFill()) {
                TPolyPolygon fill{{}, path.fillRule() == Qt::WindingFill};
                for (const QPolygonF& p : polys) {
                    std::vector<TPoint> poly;
                    for (const QPointF& q : p)
                        poly.push_back(ToPoint(q));
                    fill.Polygons.push_back(std::move(poly));
                }
                Add(std::move(fill));
            }
            FPen = pen;
        }
        if (!BeginStroke())
            return;
        for (const QPolygonF& p : polys) {
            std::vector<TPoint> line;
            for (const QPointF& q : p)
                line.push_back(ToPoint(q));
            Add(TPolyline{std::move(line)});
        }
    }

    // GDI leaves out a line's last pixel, so a one-pixel line is one dot.
    void drawPoints(const QPointF* points, int count) override
    {
        if (!BeginStroke())
            return;
        for (int i = 0; i < count; ++i) {
            const TPoint p = ToPoint(FTransform.map(points[i]));
            Add(TPolyline{{p, {p.X + 1, p.Y}}});
        }
    }

    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const QString text = item.text();
        if (text.isEmpty() || FPen.style() == Qt::NoPen || !Visible())
            return;
        const QFont font = item.font();
        const double scale = LengthScale(FTransform);

        TFontSpec spec;
        const double px = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * Dpi / 72.0;
        spec.Height = std::max(1, Coord(px * scale));
        const double degrees = std::atan2(FTransform.m12(), FTransform.m11()) * 180.0 / std::numbers::pi;
        spec.Escapement = (Coord(-degrees * 10.0) % 3600 + 3600) % 3600;
        spec.Weight = std::clamp(static_cast<int>(font.weight()), 100, 900);
        spec.Italic = font.italic();
        spec.Face = ToU16(font.family().isEmpty() ? QFontInfo(font).family() : font.family());
        SetFont(spec);
        SetTextColor(ToColorRef(BrushColor(FPen.brush())));

        TText t;
        t.Origin = ToPoint(FTransform.map(p));
        t.Text = ToU16(text);
        t.Advances = Advances(font, text, item.width(), scale);
        const QRectF box(p.x(), p.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        t.Bounds = ToRect(FTransform.mapRect(box));
        Add(std::move(t));
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override
    {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override
    {
        const QImage part = image.copy(sr.toAlignedRect()).convertToFormat(QImage::Format_ARGB32);
        if (part.isNull() || !Visible())
            return;
        TImage rec;
        rec.Dest = ToRect(FTransform.mapRect(r));
        rec.Width = part.width();
        rec.Height = part.height();
        rec.Pixels.reserve(static_cast<std::size_t>(rec.Width) * static_cast<std::size_t>(rec.Height));
        for (int y = 0; y < part.height(); ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(part.constScanLine(y));
            rec.Pixels.insert(rec.Pixels.end(), row, row + part.width());
        }
        Add(std::move(rec));
    }

private:
    void Add(TRecord r) { FDevice.Metafile().Records.push_back(std::move(r)); }

    void ApplyClip(Qt::ClipOperation op, const QRectF& r)
    {
        switch (op) {
        case Qt::NoClip:
            FClipSet = false;
            break;
        case Qt::ReplaceClip:
            FClipRect = r;
            FClipSet = true;
            break;
        case Qt::IntersectClip:
            FClipRect = FClipSet ? FClipRect.intersected(r) : r;
            FClipSet = true;
            break;
        }
    }

    // Brings the recorded clip up to date; false when nothing can show.
    bool Visible()
    {
        TSetClip clip;
        if (FClipSet && FClipEnabled) {
            const QRect r = FClipRect.toAlignedRect();
            if (r.isEmpty())
                return false;
            clip = {true, {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}};
        }
        if (!(clip.On == FLastClip.On && clip.Rect == FLastClip.Rect)) {
            Add(clip);
            FLastClip = clip;
        }
        return true;
    }

    TPenSpec PenSpec() const
    {
        if (FPen.style() == Qt::NoPen || FPen.brush().style() == Qt::NoBrush || BrushColor(FPen.brush()).alpha() == 0)
            return {TPenStyle::Null, 1, 0};
        const double w = FPen.isCosmetic() ? FPen.widthF() : FPen.widthF() * LengthScale(FTransform);
        return {ToPenStyle(FPen.style()), std::max(1, Coord(w)), ToColorRef(BrushColor(FPen.brush()))};
    }

    TBrushSpec BrushSpec() const
    {
        if (FBrush.style() == Qt::NoBrush || BrushColor(FBrush).alpha() == 0)
            return {true, 0};
        return {false, ToColorRef(BrushColor(FBrush))};
    }

    bool BeginStroke()
    {
        const TPenSpec pen = PenSpec();
        if (pen.Style == TPenStyle::Null || !Visible())
            return false;
        SetPen(pen);
        return true;
    }

    bool BeginFill()
    {
        const TPenSpec pen = PenSpec();
        const TBrushSpec brush = BrushSpec();
        if ((pen.Style == TPenStyle::Null && brush.Hollow) || !Visible())
            return false;
        SetPen(pen);
        if (FLastBrush != brush) {
            Add(TSetBrush{brush});
            FLastBrush = brush;
        }
        return true;
    }

    void SetPen(const TPenSpec& pen)
    {
        if (FLastPen != pen) {
            Add(TSetPen{pen});
            FLastPen = pen;
        }
    }

    void SetFont(const TFontSpec& font)
    {
        if (FLastFont != font) {
            Add(TSetFont{font});
            FLastFont = font;
        }
    }

    void SetTextColor(TColorRef c)
    {
        if (FLastTextColor != c) {
            Add(TSetTextColor{c});
            FLastTextColor = c;
        }
    }

    // One advance per UTF-16 unit, measured per character and stretched to
    // the width Qt laid the text out with; rounding is carried along so the
    // sum stays true.
    std::vector<std::int32_t> Advances(const QFont& font, const QString& text, double width, double scale) const
    {
        const QFontMetricsF fm(font, &FDevice);
        std::vector<double> widths(static_cast<std::size_t>(text.size()), 0.0);
        double total = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
            widths[static_cast<std::size_t>(i)] = fm.horizontalAdvance(text.mid(i, n));
            total += widths[static_cast<std::size_t>(i)];
            i += n - 1;
        }
        const double stretch = total > 0 && width > 0 ? width / total : 1.0;
        std::vector<std::int32_t> out;
        out.reserve(widths.size());
        double at = 0;
        for (double w : widths) {
            const double next = at + w * stretch * scale;
            out.push_back(Coord(next) - Coord(at));
            at = next;
        }
        return out;
    }

    TMetafileDevice& FDevice;
    QPen FPen;
    QBrush FBrush;
    QTransform FTransform;
    QRectF FClipRect;
    bool FClipSet = false;
    bool FClipEnabled = false;

    // What the records already hold.
    std::optional<TPenSpec> FLastPen;
    std::optional<TBrushSpec> FLastBrush;
    std::optional<TFontSpec> FLastFont;
    std::optional<TColorRef> FLastTextColor;
    TSetClip FLastClip;
};

TMetafileDevice::TMetafileDevice(int width, int height) : FEngine(std::make_unique<TMetafileEngine>(*this))
{
    FMetafile.Width = std::max(width, 1);
    FMetafile.Height = std::max(height, 1);
}

TMetafileDevice::~TMetafileDevice() = default;

QPaintEngine* TMetafileDevice::paintEngine() const
{
    return FEngine.get();
}

int TMetafileDevice::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return FMetafile.Width;
    case PdmHeight:
        return FMetafile.Height;
    case PdmWidthMM:
        return static_cast<int>(std::lround(FMetafile.Width * 25.4 / Dpi));
    case PdmHeightMM:
        return static_cast<int>(std::lround(FMetafile.Height * 25.4 / Dpi));
    case PdmNumColors:
        return std::numeric_limits<int>::max();
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return Dpi;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(metric);
    }
}

} // namespace vinsk::metafile
