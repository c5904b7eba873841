#include "app/widgets/ImageView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vinsk {

TImageLayer::TImageLayer(TImageView* view) : QObject(nullptr), FView(view) {}

void TImageLayer::SetLocation(const QRectF& r)
{
    if (r == FLocation)
        return;
    FLocation = r;
    FView->LayersChanged();
}

void TImageLayer::SetScaled(bool scaled)
{
    if (scaled == FScaled)
        return;
    FScaled = scaled;
    FView->LayersChanged();
}

void TImageLayer::SetBitmap(const QImage& bitmap)
{
    QImage img = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (line[x] == 0xFFFFFFFFu)
                line[x] = 0;
    }
    FBitmap = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    FView->LayersChanged();
}

TImageView::TImageView(QWidget* parent) : QAbstractScrollArea(parent)
{
    // The picture and the background are painted over the whole exposed
    // area, so Qt need not clear it first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::CrossCursor);
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setSingleStep(16);
}

TImageView::~TImageView() = default;

void TImageView::SetBitmap(const TBitmap32* bitmap)
{
    FBitmap = bitmap;
    Changed();
}

int TImageView::BitmapWidth() const
{
    return FBitmap && !FBitmap->Empty() ? FBitmap->Width() : 0;
}

int TImageView::BitmapHeight() const
{
    return FBitmap && !FBitmap->Empty() ? FBitmap->Height() : 0;
}

void TImageView::SetScale(float scale)
{
    if (scale == FScale || !(scale > 0))
        return;
    const QSize vs = viewport()->size();
    const double cx = (vs.width() / 2.0 - FOffsetHorz) / FScale;
    const double cy = (vs.height() / 2.0 - FOffsetVert) / FScale;
    FScale = scale;
    FFrameValid = false;
    UpdateGeometry();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(cx * FScale - vs.width() / 2.0)));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(cy * FScale - vs.height() / 2.0)));
    UpdateOffsets();
    if (FUpdateCount == 0)
        viewport()->update();
}

void TImageView::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
}

void TImageView::Changed()
{
    emit PictureChanged();
    FFrameValid = false;
    FReduced.clear();
    if (FUpdateCount > 0)
        return;
    UpdateGeometry();
    viewport()->update();
}

void TImageView::LayersChanged()
{
    if (FUpdateCount == 0)
        viewport()->update();
}

TImageLayer* TImageView::AddLayer()
{
    FLayers.push_back(std::make_unique<TImageLayer>(this));
    LayersChanged();
    return FLayers.back().get();
}

void TImageView::ClearLayers()
{
    FMouseLayer = nullptr;
    FLayers.clear();
    LayersChanged();
}

QRectF TImageView::PictureViewRect() const
{
    return QRectF(FOffsetHorz, FOffsetVert, BitmapWidth() * static_cast<double>(FScale),
                  BitmapHeight() * static_cast<double>(FScale));
}

QRectF TImageView::LayerViewRect(const TImageLayer& layer) const
{
    const QRectF& l = layer.Location();
    if (!layer.Scaled())
        return l;
    const double s = FScale;
    return QRectF(l.left() * s + FOffsetHorz, l.top() * s + FOffsetVert, l.width() * s, l.height() * s);
}

TImageLayer* TImageView::LayerAt(QPointF p) const
{
    for (auto it = FLayers.rbegin(); it != FLayers.rend(); ++it) {
        const QRectF r = LayerViewRect(**it);
        if (p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom())
            return it->get();
    }
    return nullptr;
}

void TImageView::UpdateGeometry()
{
    const QSize vs = viewport()->size();
    const double sw = BitmapWidth() * static_cast<double>(FScale);
    const double sh = BitmapHeight() * static_cast<double>(FScale);
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setPageStep(vs.width());
    v->setPageStep(vs.height());
    h->setRange(0, std::max(0, static_cast<int>(std::ceil(sw - vs.width()))));
    v->setRange(0, std::max(0, static_cast<int>(std::ceil(sh - vs.height()))));
    UpdateOffsets();
}

void TImageView::UpdateOffsets()
{
    const QSize vs = viewport()->size();
    const double sw = BitmapWidth() * static_cast<double>(FScale);
    const double sh = BitmapHeight() * static_cast<double>(FScale);
    // A picture smaller than the view stands in its middle.
    FOffsetHorz = sw > vs.width() ? -static_cast<float>(horizontalScrollBar()->value())
                                  : static_cast<float>(std::floor((vs.width() - sw) / 2));
    FOffsetVert = sh > vs.height() ? -static_cast<float>(verticalScrollBar()->value())
                                   : static_cast<float>(std::floor((vs.height() - sh) / 2));
    if (BitmapWidth() == 0) {
        FOffsetHorz = 0;
        FOffsetVert = 0;
    }
}

void TImageView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    FFrameValid = false;
    UpdateGeometry();
}

void TImageView::scrollContentsBy(int, int)
{
    FFrameValid = false;
    UpdateOffsets();
    viewport()->update();
}

const TImageView::TReduced& TImageView::Reduced(int factor)
{
    for (const TReduced& r : FReduced)
        if (r.Factor == factor)
            return r;
    // Every factor-th row and column, taken at the middle of each
    // factor x factor block.
    const int w = BitmapWidth();
    const int h = BitmapHeight();
    TReduced r;
    r.Factor = factor;
    r.Width = (w + factor - 1) / factor;
    r.Height = (h + factor - 1) / factor;
    r.Bits.resize(static_cast<std::size_t>(r.Width) * static_cast<std::size_t>(r.Height));
    const int half = factor / 2;
    for (int ly = 0; ly < r.Height; ++ly) {
        const std::uint32_t* src = FBitmap->ScanLine(std::min(ly * factor + half, h - 1));
        std::uint32_t* dst = r.Bits.data() + static_cast<std::size_t>(ly) * static_cast<std::size_t>(r.Width);
        for (int lx = 0; lx < r.Width; ++lx)
            dst[lx] = src[std::min(lx * factor + half, w - 1)];
    }
    FReduced.push_back(std::move(r));
    return FReduced.back();
}

void TImageView::RenderFrame()
{
    const QSize vs = viewport()->size();
    if (FFrame.size() != vs)
        FFrame = QImage(vs, QImage::Format_RGB32);
    FFrameValid = true;
    if (FFrame.isNull())
        return;
    const QRgb background = palette().color(QPalette::Dark).rgb();
    const int vw = vs.width();
    const int vh = vs.height();
    const int w = BitmapWidth();
    const int h = BitmapHeight();
    if (w == 0) {
        FFrame.fill(background);
        return;
    }
    // Nearest neighbour: the view pixel shows the picture pixel under its
    // centre. Reduced by half or more, it shows a pixel near its centre
    // taken from a smaller copy of the picture, which saves reading whole
    // rows of a large picture for a few pixels each.
    const double s = FScale;
    int factor = 1;
    while (factor < 64 && factor * 2 * s <= 1.0)
        factor *= 2;
    const std::uint32_t* source = FBitmap->Bits();
    std::size_t stride = static_cast<std::size_t>(w);
    if (factor > 1) {
        const TReduced& r = Reduced(factor);
        source = r.Bits.data();
        stride = static_cast<std::size_t>(r.Width);
    }
    // The source column of every view column is looked up once.
    FColumns.resize(static_cast<std::size_t>(vw));
    int x0 = vw;
    int x1 = 0;
    for (int vx = 0; vx < vw; ++vx) {
        const int sx = static_cast<int>(std::floor((vx + 0.5 - FOffsetHorz) / s));
        const bool inside = sx >= 0 && sx < w;
        FColumns[static_cast<std::size_t>(vx)] = inside ? sx / factor : -1;
        if (inside) {
            x0 = std::min(x0, vx);
            x1 = std::max(x1, vx + 1);
        }
    }
    // At 1:1 the columns run on without gaps: a plain sequential copy.
    const bool unitScale = FScale == 1.0f;
    int previousRow = -1;
    const QRgb* previousLine = nullptr;
    for (int vy = 0; vy < vh; ++vy) {
        auto* line = reinterpret_cast<QRgb*>(FFrame.scanLine(vy));
        const int sy = static_cast<int>(std::floor((vy + 0.5 - FOffsetVert) / s));
        if (sy < 0 || sy >= h || x0 >= x1) {
            std::fill(line, line + vw, background);
            previousRow = -1;
            continue;
        }
        const int row = sy / factor;
        if (row == previousRow) {
            // A magnified row repeats the one above.
            std::memcpy(line, previousLine, static_cast<std::size_t>(vw) * sizeof(QRgb));
            continue;
        }
        std::fill(line, line + x0, background);
        std::fill(line + x1, line + vw, background);
        // The raster's words are $AARRGGBB like Format_RGB32; alpha is not
        // shown, and Format_RGB32 wants it opaque.
        const std::uint32_t* src = source + static_cast<std::size_t>(row) * stride;
        if (unitScale) {
            const std::uint32_t* run = src + FColumns[static_cast<std::size_t>(x0)];
            for (int vx = x0; vx < x1; ++vx)
                line[vx] = *run++ | 0xFF000000u;
        } else {
            const int* col = FColumns.data();
            for (int vx = x0; vx < x1; ++vx)
                line[vx] = src[col[vx]] | 0xFF000000u;
        }
        previousRow = row;
        previousLine = line;
    }
}

void TImageView::paintEvent(QPaintEvent* e)
{
    if (!FFrameValid)
        RenderFrame();
    QPainter p(viewport());
    const QRect clip = e->rect();
    p.drawImage(clip.topLeft(), FFrame, clip);
    for (const auto& layer : FLayers) {
        if (layer->Bitmap().isNull())
            continue;
        const QRectF r = LayerViewRect(*layer);
        if (r.intersects(QRectF(clip)))
            p.drawImage(r, layer->Bitmap());
    }
}

void TImageView::mousePressEvent(QMouseEvent* e)
{
    const QPointF pos = e->position();
    const int x = static_cast<int>(std::floor(pos.x()));
    const int y = static_cast<int>(std::floor(pos.y()));
    if (!FMouseLayer)
        FMouseLayer = LayerAt(pos);
    if (QPointer<TImageLayer> layer = FMouseLayer)
        emit layer->MouseDown(layer, e->button(), e->modifiers(), x, y);
    emit MouseDown(e->button(), e->modifiers(), x, y);
    e->accept();
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* e)
{
    mousePressEvent(e);
}

void TImageView::mouseMoveEvent(QMouseEvent* e)
{
    const QPointF pos = e->position();
    const int x = static_cast<int>(std::floor(pos.x()));
    const int y = static_cast<int>(std::floor(pos.y()));
    QPointer<TImageLayer> layer = FMouseLayer ? FMouseLayer.data() : LayerAt(pos);
    if (layer)
        emit layer->MouseMove(layer, e->modifiers(), x, y);
    emit MouseMove(e->buttons(), e->modifiers(), x, y);
    e->accept();
}

void TImageView::mouseReleaseEvent(QMouseEvent* e)
{
    const QPointF pos = e->position();
    const int x = static_cast<int>(std::floor(pos.x()));
    const int y = static_cast<int>(std::floor(pos.y()));
    QPointer<TImageLayer> layer = FMouseLayer;
    if (e->buttons() == Qt::NoButton)
        FMouseLayer = nullptr;
    if (layer)
        emit layer->MouseUp(layer, e->button(), e->modifiers(), x, y);
    emit MouseUp(e->button(), e->modifiers(), x, y);
    e->accept();
}

} // namespace vinsk
