// The pieces under the window: the marker bitmaps, the error report text,
// dialog filters and the version record.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/ErrorReport.h"
#include "app/VersionInfo.h"
#include "app/dialogs/Dialogs.h"
#include "app/widgets/Markers.h"
#include "graphics/ViewMath.h"

namespace vinsk {
namespace {

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
