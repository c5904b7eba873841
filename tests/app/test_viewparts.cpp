// The pieces under the window: mouse-to-pixel and fit arithmetic, markers,
// the error report text, dialog filters and the version record.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/ErrorReport.h"
#include "app/VersionInfo.h"
#include "app/dialogs/Dialogs.h"
#include "app/widgets/Markers.h"
#include "app/widgets/ViewMath.h"
#include "common/MathFaults.h"

namespace vinsk {
namespace {

struct TMapRow {
    long double ViewPos;
    float Offset;
    std::int32_t Zoom;
    std::int32_t Pixel;
};

class ViewToImageRows : public ::testing::TestWithParam<TMapRow> {};

TEST_P(ViewToImageRows, MapsViewPositionToImagePixel)
{
    const TMapRow& r = GetParam();
    EXPECT_EQ(ViewToImage(r.ViewPos, r.Offset, r.Zoom), r.Pixel);
}

INSTANTIATE_TEST_SUITE_P(Zooms, ViewToImageRows,
                         ::testing::Values(TMapRow{120, 0, 100, 120},   // 1:1
                                           TMapRow{101, 0, 200, 50},    // 50.5 -> even 50
                                           TMapRow{103, 0, 200, 52},    // 51.5 -> even 52
                                           TMapRow{102, 0, 200, 51},    // view 2k -> pixel k
                                           TMapRow{10, 20, 100, -10},   // left of the picture
                                           TMapRow{35, 5, 300, 10},     // 30 / 3
                                           TMapRow{1, 0, 33, 3},        // 3.03
                                           TMapRow{50, 0, 10, 500},     // reduced
                                           TMapRow{15, 0, 10, 150}));

TEST(FitZoom, WidthRatioLessOne)
{
    EXPECT_EQ(FitZoom(576, 3008), 18); // 18.15
    EXPECT_EQ(FitZoom(576, 100), 575);
    EXPECT_EQ(ClampZoom(FitZoom(576, 100)), 400);
    EXPECT_EQ(ClampZoom(FitZoom(576, 60000)), 10);
    EXPECT_EQ(FitZoom(400, 400), 99);
}

TEST(FitZoom, NoPictureIsADivisionByZero)
{
    EXPECT_THROW(FitZoom(576, 0), EZeroDivide);
    EXPECT_THROW(FitZoom(0, 0), EInvalidOp);
}

TEST(ZoomScale, IsTheStoredSingle)
{
    EXPECT_EQ(ZoomScale(33), 0.33f);
    EXPECT_EQ(ZoomScale(200), 2.0f);
}

TEST(Markers, ShapeColourAndOpenCentre)
{
    for (int kind = 0; kind < 3; ++kind) {
        const QImage m = MarkerImage(kind);
        ASSERT_EQ(m.size(), QSize(33, 33));
        int coloured = 0;
        for (int y = 0; y < 33; ++y)
            for (int x = 0; x < 33; ++x) {
                const QRgb c = m.pixel(x, y);
                if (c != 0xFFFFFFFFu) {
                    EXPECT_EQ(c, MarkerColors[static_cast<std::size_t>(kind)]);
                    ++coloured;
                }
            }
        // frame 360, vertical arm 48 + 10, horizontal arm 42 + 12
        EXPECT_EQ(coloured, 472);
        EXPECT_EQ(m.pixel(16, 16), 0xFFFFFFFFu);
        EXPECT_NE(m.pixel(16, 15), 0xFFFFFFFFu);
        EXPECT_NE(m.pixel(15, 16), 0xFFFFFFFFu);
        EXPECT_EQ(m.pixel(15, 12), 0xFFFFFFFFu); // thin stretch of the vertical arm
        EXPECT_NE(m.pixel(15, 10), 0xFFFFFFFFu); // thick stretch
        EXPECT_EQ(m.pixel(12, 15), 0xFFFFFFFFu);
        EXPECT_NE(m.pixel(9, 15), 0xFFFFFFFFu);
        EXPECT_EQ(m.pixel(3, 3), 0xFFFFFFFFu);
    }
    EXPECT_EQ(MarkerColors[0], 0xFF0000FFu);
    EXPECT_EQ(MarkerColors[1], 0xFFFF0000u);
    EXPECT_EQ(MarkerColors[2], 0xFF40FF40u);
}

TEST(ErrorReport, FullStopAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(ErrorReportText(QStringLiteral("Floating point division by zero")),
              QStringLiteral("Floating point division by zero."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Unable to write to /x/a.ini")), QStringLiteral("Unable to write to /x/a.ini."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Why?")), QStringLiteral("Why?."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Version 2")), QStringLiteral("Version 2."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("path/")), QStringLiteral("path/."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Dark image must have equal size!")),
              QStringLiteral("Dark image must have equal size!"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("(x)")), QStringLiteral("(x)"));
    EXPECT_EQ(ErrorReportText(QString()), QString());
}

TEST(DialogFilters, SystemFormToQtForm)
{
    EXPECT_EQ(QtFilterList(QStringLiteral("Experiment setings file (*.ini)|*.ini|Image profile file (*.dat)|*.dat|"
                                          "All files (*.*)|*.*")),
              (QStringList{QStringLiteral("Experiment setings file (*.ini)"), QStringLiteral("Image profile file (*.dat)"),
                           QStringLiteral("All files (*)")}));
    // The patterns matched are the entry's own, not the description's.
    EXPECT_EQ(QtFilterList(QStringLiteral("Bitmap picture (*.BMP)|*.bmp")),
              QStringList{QStringLiteral("Bitmap picture (*.bmp)")});
    EXPECT_EQ(QtFilterList(QStringLiteral("All (*.png;*.bmp)|*.png;*.bmp|Text|*.txt")),
              (QStringList{QStringLiteral("All (*.png *.bmp)"), QStringLiteral("Text (*.txt)")}));
    EXPECT_TRUE(QtFilterList(QString()).isEmpty());
}

TEST(VersionRecord, EmbeddedRecordGivesBothTexts)
{
    const TVersionTexts t = ReadVersionTexts();
    EXPECT_EQ(t.FileVersionText, QStringLiteral("1.1.7.15"));
    EXPECT_EQ(t.ProductVersionText, QStringLiteral("1.1"));
}

TEST(VersionRecord, MissingRecordOrValueGivesEmptyText)
{
    const TVersionTexts none = ReadVersionTexts(QStringLiteral(":/vinsk/NoSuchRecord"));
    EXPECT_TRUE(none.FileVersionText.isEmpty());
    EXPECT_TRUE(none.ProductVersionText.isEmpty());

    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("record")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FileVersion=2.0.0.1\n");
    f.close();
    const TVersionTexts partial = ReadVersionTexts(f.fileName());
    EXPECT_EQ(partial.FileVersionText, QStringLiteral("2.0.0.1"));
    EXPECT_TRUE(partial.ProductVersionText.isEmpty());
}

} // namespace
} // namespace vinsk
