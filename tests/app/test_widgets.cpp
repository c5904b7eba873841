// The spin edits and the image view on their own.
#include <QFocusEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Harness.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/Markers.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

// The text as a user leaves it in the field.
QLineEdit* Edit(TSpinEditBase& e)
{
    return e.findChild<QLineEdit*>();
}

TEST(FloatSpinEdit, ProgramSetsOneDecimalAndNotifiesOnlyNewText)
{
    TFloatSpinEdit e('.');
    QSignalSpy changes(&e, &TFloatSpinEdit::Change);
    e.SetValue(400.25L);
    EXPECT_EQ(e.Text(), QStringLiteral("400.3"));
    e.SetValue(0.15);
    EXPECT_EQ(e.Text(), QStringLiteral("0.1"));
    EXPECT_EQ(changes.count(), 2);
    e.SetValue(0.1);
    e.SetValue(0.12);
    EXPECT_EQ(changes.count(), 2);
    e.SetValue(120);
    EXPECT_EQ(e.Text(), QStringLiteral("120.0"));
    EXPECT_EQ(changes.count(), 3);
}

TEST(FloatSpinEdit, TypedTextIsTheValueAndGarbageReadsZero)
{
    TFloatSpinEdit e('.');
    e.show();
    QSignalSpy changes(&e, &TFloatSpinEdit::Change);
    QTest::keyClicks(&e, QStringLiteral("5.74"));
    EXPECT_EQ(changes.count(), 4); // every keystroke
    EXPECT_EQ(e.Value(), 5.74L);
    e.SetValue(5.74L); // shows 5.7, a new text
    EXPECT_EQ(e.Text(), QStringLiteral("5.7"));
    Edit(e)->setText(QStringLiteral("abc"));
    EXPECT_EQ(e.Value(), 0.0L);
    Edit(e)->clear();
    EXPECT_EQ(e.Value(), 0.0L);
    EXPECT_EQ(e.Text(), QString());
}

TEST(FloatSpinEdit, ArrowsStepByOneWithoutLimits)
{
    TFloatSpinEdit e('.');
    e.show();
    e.SetValue(5.74L);
    QTest::keyClick(&e, Qt::Key_Up);
    EXPECT_EQ(e.Text(), QStringLiteral("6.7"));
    e.SetValue(0.5);
    QTest::keyClick(&e, Qt::Key_Down);
    EXPECT_EQ(e.Text(), QStringLiteral("-0.5"));
    QTest::keyClick(&e, Qt::Key_Down);
    EXPECT_EQ(e.Text(), QStringLiteral("-1.5"));
    e.stepBy(3);
    EXPECT_EQ(e.Text(), QStringLiteral("1.5"));
}

TEST(FloatSpinEdit, LocaleDecimalSeparator)
{
    TFloatSpinEdit e(',');
    e.SetValue(400.25L);
    EXPECT_EQ(e.Text(), QStringLiteral("400,3"));
    Edit(e)->setText(QStringLiteral("1,5"));
    EXPECT_EQ(e.Value(), 1.5L);
    Edit(e)->setText(QStringLiteral("1.5"));
    EXPECT_EQ(e.Value(), 0.0L);
}

TEST(RadioGroup, OnlyAClickThatChangesTheItemNotifies)
{
    TRadioGroup g(QStringLiteral(" &Figure "), {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, 1);
    g.SetItemIndex(0);
    QSignalSpy clicks(&g, &TRadioGroup::Click);
    g.Item(0)->click();
    EXPECT_EQ(clicks.count(), 0);
    g.Item(2)->click();
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(g.ItemIndex(), 2);
    g.Item(2)->click();
    EXPECT_EQ(clicks.count(), 1);
    g.SetItemIndex(1);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(IntSpinEdit, TextToInteger)
{
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral(" 12 ")), 12);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("-7")), -7);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("+7")), 7);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("1.5")), 0);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("abc")), 0);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("")), 0);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("-")), 0);
    EXPECT_EQ(TIntSpinEdit::TextToInt(QStringLiteral("99999999999")), 0);
}

TEST(IntSpinEdit, StartsAtZeroStepsAndNotifiesOnlyNewText)
{
    TIntSpinEdit e;
    e.show();
    EXPECT_EQ(e.Text(), QStringLiteral("0"));
    QSignalSpy changes(&e, &TIntSpinEdit::Change);
    e.SetValue(0);
    EXPECT_EQ(changes.count(), 0);
    QTest::keyClick(&e, Qt::Key_Down);
    EXPECT_EQ(e.Value(), -1);
    e.SetValue(41);
    QTest::keyClick(&e, Qt::Key_Up);
    EXPECT_EQ(e.Text(), QStringLiteral("42"));
    EXPECT_EQ(changes.count(), 3);
}

TEST(IntSpinEdit, LimitsHoldForTheProgramAndOnLeavingTheField)
{
    TIntSpinEdit e;
    e.SetLimits(2, 100);
    e.SetValue(500);
    EXPECT_EQ(e.Value(), 100);
    e.SetValue(-3);
    EXPECT_EQ(e.Value(), 2);
    // Typed out of range: used as typed until the field loses the focus.
    Edit(e)->setText(QStringLiteral("1"));
    EXPECT_EQ(e.Value(), 1);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&e, &out);
    EXPECT_EQ(e.Value(), 2);
}

// A view with a 4 x 3 picture of distinct colours.
class ImageViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bitmap.SetSize(4, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                Bitmap.SetPixelS(x, y, 0xFF000000u | static_cast<std::uint32_t>((x * 60) << 16 | (y * 80) << 8 | 7));
        View.resize(200, 150);
        View.SetBitmap(&Bitmap);
        View.show();
    }

    QRgb Shown(const QImage& shot, double x, double y) const { return shot.pixel(static_cast<int>(x), static_cast<int>(y)) | 0xFF000000u; }

    TBitmap32 Bitmap;
    TImageView View;
};

TEST_F(ImageViewTest, NearestNeighbourAtAnyZoom)
{
    for (float scale : {1.0f, 2.0f, 3.0f, 10.0f}) {
        View.SetScale(scale);
        const QImage shot = View.viewport()->grab().toImage();
        const double ox = View.OffsetHorz();
        const double oy = View.OffsetVert();
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                // the first and the last view pixel of each magnified pixel
                EXPECT_EQ(Shown(shot, ox + x * scale, oy + y * scale), Bitmap.PixelS(x, y)) << scale;
                EXPECT_EQ(Shown(shot, ox + (x + 1) * scale - 1, oy + (y + 1) * scale - 1), Bitmap.PixelS(x, y)) << scale;
            }
        // just outside the picture: background
        EXPECT_NE(Shown(shot, ox + 4 * scale, oy), Bitmap.PixelS(3, 0));
    }
}

TEST(ImageViewReduced, EveryViewPixelShowsAPixelUnderIt)
{
    // Each pixel's colour encodes its position.
    TBitmap32 bitmap;
    bitmap.SetSize(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            bitmap.SetPixelS(x, y, 0xFF000000u | static_cast<std::uint32_t>(x) << 12 | static_cast<std::uint32_t>(y));
    TImageView view;
    view.resize(400, 300);
    view.SetBitmap(&bitmap);
    view.show();
    for (float scale : {0.5f, 0.33f, 0.25f, 0.18f, 0.1f}) {
        view.SetScale(scale);
        const QImage shot = view.viewport()->grab().toImage();
        const QRectF picture = view.PictureViewRect();
        int checked = 0;
        for (int vy = static_cast<int>(picture.top()) + 1; vy < static_cast<int>(picture.bottom()) - 1; vy += 3)
            for (int vx = static_cast<int>(picture.left()) + 1; vx < static_cast<int>(picture.right()) - 1; vx += 3) {
                const QRgb c = shot.pixel(vx, vy) & 0xFFFFFFu;
                const double x = (c >> 12) + 0.5;
                const double y = (c & 0xFFFu) + 0.5;
                // The pixel shown lies under the view pixel: its centre is
                // within half a view pixel (and half its own size) of the
                // view pixel's centre.
                const double reach = 0.5 / scale + 0.5;
                ASSERT_LE(std::abs(x - (vx + 0.5 - view.OffsetHorz()) / scale), reach) << scale << " at " << vx;
                ASSERT_LE(std::abs(y - (vy + 0.5 - view.OffsetVert()) / scale), reach) << scale << " at " << vy;
                ++checked;
            }
        EXPECT_GT(checked, 100) << scale;
    }
}

TEST_F(ImageViewTest, PictureChangesShowAfterChanged)
{
    View.SetScale(10.0f);
    Bitmap.SetPixelS(1, 1, 0xFF123456u);
    View.Changed();
    const QImage shot = View.viewport()->grab().toImage();
    EXPECT_EQ(Shown(shot, View.OffsetHorz() + 15, View.OffsetVert() + 15), 0xFF123456u);
}

TEST_F(ImageViewTest, ScrollingMovesTheOffsets)
{
    View.SetScale(100.0f); // 400 x 300 in a smaller view
    View.horizontalScrollBar()->setValue(0);
    View.verticalScrollBar()->setValue(0);
    EXPECT_EQ(View.OffsetHorz(), 0.0f);
    EXPECT_EQ(View.OffsetVert(), 0.0f);
    View.horizontalScrollBar()->setValue(37);
    EXPECT_EQ(View.OffsetHorz(), -37.0f);
    const QImage shot = View.viewport()->grab().toImage();
    EXPECT_EQ(Shown(shot, 0, 0), Bitmap.PixelS(0, 0));
    EXPECT_EQ(Shown(shot, 63, 0), Bitmap.PixelS(1, 0)); // view 63 is picture 100
}

TEST_F(ImageViewTest, LayersWhiteTransparentAndScaledWithTheZoom)
{
    View.SetScale(10.0f);
    TImageLayer* layer = View.AddLayer();
    layer->SetBitmap(MarkerImage(1));
    layer->SetLocation(QRectF(-16 + 2, -16 + 1, 33, 33)); // centre on pixel (2, 1)
    const QImage shot = View.viewport()->grab().toImage();
    const double ox = View.OffsetHorz();
    const double oy = View.OffsetVert();
    // the open centre shows the picture, the arm beside it the marker colour
    EXPECT_EQ(Shown(shot, ox + 25, oy + 15), Bitmap.PixelS(2, 1));
    EXPECT_EQ(Shown(shot, ox + 25, oy + 5), 0xFFFF0000u);
    EXPECT_EQ(View.LayerViewRect(*layer), QRectF(ox - 140, oy - 150, 330, 330));
}

TEST_F(ImageViewTest, TopmostLayerTakesThePressAndHoldsTheMouseUntilRelease)
{
    View.SetScale(1.0f);
    View.horizontalScrollBar()->setValue(0);
    std::vector<std::string> events;
    TImageLayer* lower = View.AddLayer();
    TImageLayer* upper = View.AddLayer();
    for (TImageLayer* l : {lower, upper}) {
        l->SetBitmap(MarkerImage(0));
        const std::string name = l == lower ? "lower" : "upper";
        QObject::connect(l, &TImageLayer::MouseDown, [&events, name](TImageLayer*, Qt::MouseButton, Qt::KeyboardModifiers,
                                                                     int, int) { events.push_back(name + " down"); });
        QObject::connect(l, &TImageLayer::MouseMove, [&events, name](TImageLayer*, Qt::KeyboardModifiers, int, int) {
            events.push_back(name + " move");
        });
        QObject::connect(l, &TImageLayer::MouseUp, [&events, name](TImageLayer*, Qt::MouseButton, Qt::KeyboardModifiers,
                                                                   int, int) { events.push_back(name + " up"); });
    }
    QObject::connect(&View, &TImageView::MouseDown,
                     [&events](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { events.push_back("view down"); });
    QObject::connect(&View, &TImageView::MouseMove,
                     [&events](Qt::MouseButtons, Qt::KeyboardModifiers, int, int) { events.push_back("view move"); });
    QObject::connect(&View, &TImageView::MouseUp,
                     [&events](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { events.push_back("view up"); });
    // Layers stand in view pixels relative to the picture's corner.
    const double ox = View.OffsetHorz();
    const double oy = View.OffsetVert();
    lower->SetLocation(QRectF(0, 0, 33, 33));
    upper->SetLocation(QRectF(20, 20, 33, 33));
    QWidget* vp = View.viewport();
    const QPoint overlap(static_cast<int>(ox) + 25, static_cast<int>(oy) + 25);
    const QPoint outside(static_cast<int>(ox) + 120, static_cast<int>(oy) + 80);
    Press(vp, overlap);
    Drag(vp, outside);
    Release(vp, outside);
    Press(vp, outside); // the release ended the hold: no layer here
    Release(vp, outside);
    EXPECT_EQ(events, (std::vector<std::string>{"upper down", "view down", "upper move", "view move", "upper up",
                                                "view up", "view down", "view up"}));
    events.clear();
    Press(vp, QPoint(static_cast<int>(ox) + 5, static_cast<int>(oy) + 5));
    EXPECT_EQ(events, (std::vector<std::string>{"lower down", "view down"}));
    EXPECT_EQ(View.LayerAt(QPointF(ox + 52.5, oy + 52.5)), upper);
    EXPECT_EQ(View.LayerAt(QPointF(ox + 53, oy + 53)), nullptr);
}

} // namespace
} // namespace vinsk
