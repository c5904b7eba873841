// QPainter drawing recorded by the metafile paint device.
#include <gtest/gtest.h>

#include <numeric>

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "app/metafile/MetafileDevice.h"

namespace vinsk::metafile {
namespace {

template <typename T>
std::vector<T> All(const TMetafile& mf)
{
    std::vector<T> out;
    for (const TRecord& r : mf.Records)
        if (const T* t = std::get_if<T>(&r))
            out.push_back(*t);
    return out;
}

// The state record of type T in force just before the first record of type D.
template <typename T, typename D>
std::optional<T> Before(const TMetafile& mf)
{
    std::optional<T> last;
    for (const TRecord& r : mf.Records) {
        if (const T* t = std::get_if<T>(&r))
            last = *t;
        if (std::holds_alternative<D>(r))
            return last;
    }
    return std::nullopt;
}

TEST(MetafileDevice, ReportsA96DpiPageOfItsSize)
{
    TMetafileDevice dev(640, 480);
    EXPECT_EQ(dev.width(), 640);
    EXPECT_EQ(dev.height(), 480);
    EXPECT_EQ(dev.logicalDpiX(), 96);
    EXPECT_EQ(dev.physicalDpiY(), 96);
    EXPECT_EQ(dev.widthMM(), 169);
}

TEST(MetafileDevice, LinesFollowTheTransformAndJoinIntoPolylines)
{
    TMetafileDevice dev(200, 200);
    {
        QPainter p(&dev);
        p.setPen(QPen(QColor(255, 0, 0), 3, Qt::DashLine));
        p.translate(10, 20);
        p.scale(2, 2);
        const QLineF lines[] = {{0, 0, 10, 0}, {10, 0, 10, 5}, {30, 30, 40, 40}};
        p.drawLines(lines, 3);
        p.setPen(Qt::NoPen);
        p.drawLine(0, 0, 50, 50); // invisible: no record
    }
    const auto lines = All<TPolyline>(dev.Metafile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Points, (std::vector<TPoint>{{10, 20}, {30, 20}, {30, 30}}));
    EXPECT_EQ(lines[1].Points, (std::vector<TPoint>{{70, 80}, {90, 100}}));
    const auto pen = Before<TSetPen, TPolyline>(dev.Metafile());
    ASSERT_TRUE(pen);
    EXPECT_EQ(pen->Pen.Color, 0x000000FFu);
    EXPECT_EQ(pen->Pen.Style, TPenStyle::Dash);
    EXPECT_EQ(pen->Pen.Width, 6); // a non-cosmetic width scales
}

TEST(MetafileDevice, ShapesKeepTheirFillAndOutline)
{
    TMetafileDevice dev(200, 200);
    {
        QPainter p(&dev);
        p.fillRect(QRectF(0, 0, 200, 100), QColor(0, 0, 255));
        p.setPen(QPen(Qt::black, 0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(10, 10, 40, 20));
        p.rotate(45);
        p.drawEllipse(QRectF(10, 10, 40, 20)); // no longer axis-aligned
        p.resetTransform();
        QPainterPath open;
        open.moveTo(0, 0);
        open.lineTo(50, 0);
        open.lineTo(50, 50);
        p.setBrush(QColor(0, 255, 0));
        p.drawPath(open);
    }
    const TMetafile& mf = dev.Metafile();
    const auto rects = All<TRectangle>(mf);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].Rect, (TRect{0, 0, 200, 100}));
    const auto fill = Before<TSetPen, TRectangle>(mf);
    ASSERT_TRUE(fill);
    EXPECT_EQ(fill->Pen.Style, TPenStyle::Null); // fillRect has no outline
    EXPECT_EQ(All<TEllipse>(mf).size(), 1u);
    const auto polys = All<TPolyPolygon>(mf);
    ASSERT_EQ(polys.size(), 1u);              // the green path's fill
    const auto lines = All<TPolyline>(mf);
    ASSERT_EQ(lines.size(), 2u);              // rotated ellipse outline, then the open path
    EXPECT_EQ(lines[1].Points.front(), (TPoint{0, 0}));
    EXPECT_EQ(lines[1].Points.back(), (TPoint{50, 50})); // not closed by the stroke
}

TEST(MetafileDevice, TextCarriesFontColourAngleAndAdvances)
{
    TMetafileDevice dev(300, 300);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(20);
    font.setBold(true);
    const QString caption = QStringLiteral("PE [\"]");
    {
        QPainter p(&dev);
        p.setFont(font);
        p.setPen(QColor(0, 128, 255));
        p.drawText(QPointF(10, 50), caption);
        p.translate(100, 200);
        p.rotate(-90);
        p.drawText(QPointF(0, 0), caption);
    }
    const TMetafile& mf = dev.Metafile();
    const auto texts = All<TText>(mf);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Text, u"PE [\"]");
    EXPECT_EQ(texts[0].Origin, (TPoint{10, 50}));
    EXPECT_EQ(texts[1].Origin, (TPoint{100, 200}));
    ASSERT_EQ(texts[0].Advances.size(), 6u);
    const double width = QFontMetricsF(font, &dev).horizontalAdvance(caption);
    const int sum = std::accumulate(texts[0].Advances.begin(), texts[0].Advances.end(), 0);
    EXPECT_NEAR(sum, width, 1.0);
    const auto fonts = All<TSetFont>(mf);
    ASSERT_EQ(fonts.size(), 2u);
    EXPECT_EQ(fonts[0].Font.Height, 20);
    EXPECT_EQ(fonts[0].Font.Weight, 700);
    EXPECT_EQ(fonts[0].Font.Face, u"Arial");
    EXPECT_EQ(fonts[0].Font.Escapement, 0);
    EXPECT_EQ(fonts[1].Font.Escapement, 900); // reads upwards
    const auto color = Before<TSetTextColor, TText>(mf);
    ASSERT_TRUE(color);
    EXPECT_EQ(color->Color, ColorRef(0, 128, 255));
}

TEST(MetafileDevice, ClippingFollowsSaveAndRestore)
{
    TMetafileDevice dev(200, 200);
    {
        QPainter p(&dev);
        p.setPen(Qt::black);
        p.save();
        p.translate(5, 5);
        p.setClipRect(QRect(10, 10, 50, 40));
        p.setClipRect(QRect(30, 0, 100, 100), Qt::IntersectClip);
        p.drawLine(0, 0, 100, 100);
        p.restore();
        p.drawLine(0, 0, 100, 100);
        p.setClipRect(QRect(500, 500, 10, 10)); // outside the page: nothing to draw
        p.setClipRect(QRect(0, 0, 10, 10), Qt::IntersectClip);
        p.drawLine(0, 0, 100, 100);
    }
    std::vector<TSetClip> clips;
    int lines = 0;
    for (const TRecord& r : dev.Metafile().Records) {
        if (const auto* c = std::get_if<TSetClip>(&r))
            clips.push_back(*c);
        lines += std::holds_alternative<TPolyline>(r);
    }
    EXPECT_EQ(lines, 2);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_TRUE(clips[0].On);
    EXPECT_EQ(clips[0].Rect, (TRect{35, 15, 65, 55}));
    EXPECT_FALSE(clips[1].On);
}

TEST(MetafileDevice, ImagesAreRecordedWithTheirPixels)
{
    QImage image(4, 2, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0));
    image.setPixelColor(3, 1, QColor(0, 0, 255));
    TMetafileDevice dev(100, 100);
    {
        QPainter p(&dev);
        p.drawImage(QRectF(10, 10, 8, 4), image);
    }
    const auto images = All<TImage>(dev.Metafile());
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Dest, (TRect{10, 10, 18, 14}));
    ASSERT_EQ(images[0].Pixels.size(), 8u);
    EXPECT_EQ(images[0].Pixels[0], 0xFFFF0000u);
    EXPECT_EQ(images[0].Pixels[7], 0xFF0000FFu);
}

} // namespace
} // namespace vinsk::metafile
