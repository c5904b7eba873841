// The window's icon is the installed one, carried in the program's resources.
#include <QFile>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include "app/ProgramIcon.h"

namespace vinsk {
namespace {

TEST(ProgramIcon, IsTheInstalledIconAtEachSize)
{
    const QString dist = QStringLiteral(VINSK_SOURCE_DIR "/dist/");
    const QString id = QLatin1String(DesktopId);
    // The menu entry carries the same id, so the desktop ties the window to it.
    EXPECT_TRUE(QFile::exists(dist + id + QStringLiteral(".desktop"))) << id.toStdString();

    const QIcon icon = ProgramWindowIcon();
    for (int size : {48, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QImage shown = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage installed =
            QImage(dist + QStringLiteral("icons/%1-%2.png").arg(id).arg(size)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_FALSE(installed.isNull()) << size;
        EXPECT_TRUE(shown == installed) << size; // a pixmap holds premultiplied alpha
    }
}

} // namespace
} // namespace vinsk
