// The picture view of the Image tab: shows a TBitmap32 without copying it,
// magnified or reduced with nearest-neighbour sampling, with scroll bars
// when the scaled picture does not fit, and positioned bitmap layers over it.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <QRectF>

#include <memory>
#include <vector>

#include "image/Bitmap32.h"

namespace vinsk {

class TImageView;

// A bitmap drawn over the picture. Its location is in image pixels when
// Scaled (it then follows the zoom and the scrolling), else in view pixels.
// White pixels of its bitmap are transparent.
class TImageLayer : public QObject {
    Q_OBJECT
public:
    explicit TImageLayer(TImageView* view);

    QRectF Location() const { return FLocation; }
    // Repaints the view unless an update of the view is open.
    void SetLocation(const QRectF& r);
    bool Scaled() const { return FScaled; }
    void SetScaled(bool scaled);
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    const QImage& Bitmap() const { return FBitmap; }
    void SetBitmap(const QImage& bitmap);
    int BitmapWidth() const { return FBitmap.width(); }
    int BitmapHeight() const { return FBitmap.height(); }

signals:
    // Positions in view pixels. The view sends a layer's event before its own.
    void MouseDown(TImageLayer* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(TImageLayer* sender, Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(TImageLayer* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

private:
    friend class TImageView;
    TImageView* FView;
    QRectF FLocation;
    bool FScaled = true;
    int FTag = 0;
    QImage FBitmap; // premultiplied, white made transparent
};

class TImageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);
    ~TImageView() override;

    // The raster shown; not owned. Call Changed() after its size or pixels change.
    void SetBitmap(const TBitmap32* bitmap);

    float Scale() const { return FScale; }
    // Keeps the image point at the centre of the view where it was.
    void SetScale(float scale);
    // View pixels of the raster's top-left corner.
    float OffsetHorz() const { return FOffsetHorz; }
    float OffsetVert() const { return FOffsetVert; }

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // The raster's size or pixels changed: recomputes the scroll ranges and
    // repaints, unless an update is open.
    void Changed();
    // Only layers moved or changed: repaints unless an update is open.
    void LayersChanged();

    int LayerCount() const { return static_cast<int>(FLayers.size()); }
    TImageLayer* Layer(int index) const { return FLayers.at(static_cast<std::size_t>(index)).get(); }
    // The new layer is the topmost.
    TImageLayer* AddLayer();
    void ClearLayers();
    QRectF LayerViewRect(const TImageLayer& layer) const;
    // The topmost layer whose view rectangle holds the point, or nothing.
    TImageLayer* LayerAt(QPointF p) const;

    // The raster's rectangle in view pixels.
    QRectF PictureViewRect() const;

signals:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // Changed() was called: the raster's size or pixels may be new.
    void PictureChanged();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    friend class TImageLayer;
    void UpdateGeometry();
    void UpdateOffsets();
    void RenderFrame();
    struct TReduced {
        int Factor = 0;
        int Width = 0;
        int Height = 0;
        std::vector<std::uint32_t> Bits;
    };
    // The picture reduced by a power of two, made when first needed.
    const TReduced& Reduced(int factor);
    int BitmapWidth() const;
    int BitmapHeight() const;

    const TBitmap32* FBitmap = nullptr;
    float FScale = 1.0f;
    float FOffsetHorz = 0;
    float FOffsetVert = 0;
    int FUpdateCount = 0;
    std::vector<std::unique_ptr<TImageLayer>> FLayers;
    QPointer<TImageLayer> FMouseLayer; // the layer that holds the mouse until release
    // The picture as the view shows it, rebuilt when the zoom, the scrolling,
    // the view's size or the pixels change; layers are drawn over it.
    QImage FFrame;
    bool FFrameValid = false;
    std::vector<int> FColumns;
    std::vector<TReduced> FReduced; // dropped when the pixels change
};

// An update of the view for one scope: it ends also when the scope is left
// by an exception, so the view never stays frozen.
class TViewUpdate {
public:
    explicit TViewUpdate(TImageView* view) : FView(view) { FView->BeginUpdate(); }
    ~TViewUpdate() { FView->EndUpdate(); }
    TViewUpdate(const TViewUpdate&) = delete;
    TViewUpdate& operator=(const TViewUpdate&) = delete;

private:
    TImageView* FView;
};

} // namespace vinsk
