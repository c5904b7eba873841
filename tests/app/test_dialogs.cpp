// The real file dialog as the dialogs layer sets it up: title, preselected
// filter, default extension, no overwrite question, and the entry the user
// leaves selected.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QTest>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTreeView>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "Harness.h"
#include "app/dialogs/Dialogs.h"
#include "setup/SettingsFile.h"

namespace vinsk {
namespace {

using test::WriteFile;

// Runs SaveFile; once the dialog is up, hands it to answer.
std::optional<TFileChoice> SaveWith(const TFileDialog& settings, const std::function<void(QFileDialog&)>& answer)
{
    TQtDialogs dialogs;
    QTimer::singleShot(0, [&] {
        auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!fd) {
            ADD_FAILURE() << "no file dialog up";
            return;
        }
        answer(*fd);
    });
    return dialogs.SaveFile(settings);
}

TFileDialog GraphDialog(int filterIndex, const QString& defaultExt)
{
    TFileDialog d;
    d.Name = QStringLiteral("SavePictureDialog1");
    d.Title = QStringLiteral("Save graph of the Periodic Error");
    d.Filter = QStringLiteral("Bitmap picture (*.BMP)|*.bmp|Metafile picture (*.WMF)|*.wmf|"
                              "Enhaced metafile picture (*.EMF)|*.emf|Excel CSV file (*.csv)|*.csv|All files (*.*)|*.*");
    d.DefaultExt = defaultExt;
    d.FilterIndex = filterIndex;
    return d;
}

TFileDialog SettingsDialog()
{
    TFileDialog d;
    d.Name = QStringLiteral("SaveDialog1");
    d.Filter = QString::fromLatin1(SettingsFilter);
    d.DefaultExt = QStringLiteral("ini");
    return d;
}


TEST(QtDialogs, SaveDialogOpensAsSetAndReportsTheEntryLeftSelected)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto choice = SaveWith(GraphDialog(4, QStringLiteral("CSV")), [&](QFileDialog& fd) {
        EXPECT_EQ(fd.windowTitle(), QStringLiteral("Save graph of the Periodic Error"));
        EXPECT_EQ(fd.selectedNameFilter(), QStringLiteral("Excel CSV file (*.csv)"));
        EXPECT_EQ(fd.defaultSuffix(), QStringLiteral("CSV"));
        EXPECT_TRUE(fd.testOption(QFileDialog::DontConfirmOverwrite));
        fd.setDirectory(dir.path());
        fd.selectFile(QStringLiteral("graph"));
        static_cast<QDialog&>(fd).accept(); // the dialog's own accept, as its Save button
    });
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->FileName, dir.filePath(QStringLiteral("graph.CSV"))); // a bare name gets the extension
    EXPECT_EQ(choice->FilterIndex, 4);

    const auto other = SaveWith(GraphDialog(1, QStringLiteral("BMP")), [&](QFileDialog& fd) {
        fd.selectNameFilter(QStringLiteral("Metafile picture (*.wmf)"));
        fd.setDirectory(dir.path());
        fd.selectFile(QStringLiteral("graph.emf"));
        static_cast<QDialog&>(fd).accept(); // the dialog's own accept, as its Save button
    });
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->FileName, dir.filePath(QStringLiteral("graph.emf")));
    EXPECT_EQ(other->FilterIndex, 2);

    EXPECT_FALSE(SaveWith(GraphDialog(1, QStringLiteral("BMP")), [](QFileDialog& fd) { fd.reject(); }).has_value());
}

TEST(QtDialogs, ANameTypedWithoutExtensionGetsTheOneOfTheEntryLeftSelected)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct TRow {
        int Start;           // the entry preselected, with its default extension
        const char* Default;
        const char* Chosen;  // the entry the user leaves selected
        const char* Typed;
        const char* Expected;
    };
    const TRow rows[] = {
        {1, "BMP", "Excel CSV file (*.csv)", "graph", "graph.CSV"},
        {3, "EMF", "All files (*)", "graph", "graph.BMP"},
        {4, "CSV", "Excel CSV file (*.csv)", "graph.txt", "graph.txt"},
        {2, "WMF", "Metafile picture (*.wmf)", "graph", "graph.WMF"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Typed);
        TFileDialog settings = GraphDialog(row.Start, QLatin1String(row.Default));
        settings.EntryExts = {QStringLiteral("BMP"), QStringLiteral("WMF"), QStringLiteral("EMF"), QStringLiteral("CSV"),
                              QStringLiteral("BMP")};
        const auto fd = NewFileDialog(settings, TFileDialogKind::Save, QString(), QSize(), nullptr);
        fd->setDirectory(dir.path());
        fd->selectNameFilter(QLatin1String(row.Chosen));
        fd->selectFile(QLatin1String(row.Typed));
        static_cast<QDialog&>(*fd).accept(); // the dialog's own accept, as its Save button
        ASSERT_EQ(fd->result(), QDialog::Accepted);
        EXPECT_EQ(fd->selectedFiles().value(0), dir.filePath(QLatin1String(row.Expected)));
    }
}

TEST(QtDialogs, EveryDialogKnowsFilesByTheirNamesAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A picture's bytes under a name without an extension, and nothing under
    // another such name: by the name alone they are the same kind of file.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(&buffer, "PNG"));
    }
    WriteFile(dir.filePath(QStringLiteral("notes")), png);
    WriteFile(dir.filePath(QStringLiteral("empty")), QByteArray());
    WriteFile(dir.filePath(QStringLiteral("named.png")), "not a picture");
    const QFileInfo notes(dir.filePath(QStringLiteral("notes")));
    const QFileInfo empty(dir.filePath(QStringLiteral("empty")));
    // Qt's own provider reads the bytes: this is what the dialogs must not do.
    const QFileIconProvider sniffing;
    ASSERT_NE(sniffing.type(notes), sniffing.type(empty));

    for (TFileDialogKind kind : {TFileDialogKind::Open, TFileDialogKind::Save, TFileDialogKind::Picture}) {
        const auto fd = NewFileDialog(SettingsDialog(), kind, QString(), QSize(), nullptr);
        const QAbstractFileIconProvider* names = fd->iconProvider();
        ASSERT_NE(dynamic_cast<const TNameIconProvider*>(names), nullptr);
        EXPECT_EQ(names->type(notes), names->type(empty));
        EXPECT_EQ(names->icon(notes).name(), names->icon(empty).name());
        EXPECT_EQ(names->type(QFileInfo(dir.filePath(QStringLiteral("named.png")))),
                  QMimeDatabase().mimeTypeForName(QStringLiteral("image/png")).comment());
        EXPECT_EQ(names->type(QFileInfo(dir.path())), QStringLiteral("Folder"));
    }
}

TEST(QtDialogs, DialogsStartInTheirLastFolderOrAtHome)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self"), dir.filePath(QStringLiteral("link"))));
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    const QString home = QDir::homePath();
    struct TRow {
        QString Last;
        QString Start;
    };
    const TRow rows[] = {
        {QString(), home}, // never used: not another dialog's folder
        {QStringLiteral("/proc/vinsk_test.ini"), home},
        {QStringLiteral("/sys/kernel/x.ini"), home},
        {QStringLiteral("/dev/shm/x.ini"), home},
        {dir.filePath(QStringLiteral("link/x.ini")), home},
        {dir.filePath(QStringLiteral("gone/x.ini")), home},
        {dir.filePath(QStringLiteral("sub/x.ini")), dir.filePath(QStringLiteral("sub"))},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Last.toStdString());
        const auto fd = NewFileDialog(SettingsDialog(), TFileDialogKind::Save, row.Last, QSize(), nullptr);
        EXPECT_EQ(fd->directory().absolutePath(), QDir(row.Start).absolutePath());
    }
    // A name of the owner's choosing is offered in the last file's folder.
    TFileDialog named = SettingsDialog();
    named.FileName = QStringLiteral("drive");
    const auto fd = NewFileDialog(named, TFileDialogKind::Save, dir.filePath(QStringLiteral("sub/x.ini")), QSize(), nullptr);
    EXPECT_EQ(fd->directory().absolutePath(), QDir(dir.filePath(QStringLiteral("sub"))).absolutePath());
    auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text(), QStringLiteral("drive"));
    EXPECT_FALSE(InPseudoFileSystem(QStringLiteral("/procfs-like/x")));
    EXPECT_FALSE(InPseudoFileSystem(dir.path()));
}

TEST(QtDialogs, PictureDialogPreviewsTheFileItOffers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString picture = dir.filePath(QStringLiteral("offered.png"));
    ASSERT_TRUE(QImage(40, 20, QImage::Format_RGB32).save(picture));
    TFileDialog opd;
    opd.Name = QStringLiteral("OPD");
    opd.Filter = QStringLiteral("Portable network graphic images (*.png)|*.png");
    const auto fd = NewFileDialog(opd, TFileDialogKind::Picture, picture, QSize(), nullptr);
    auto* preview = fd->findChild<QLabel*>(QStringLiteral("Preview"));
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->pixmap().isNull());
    // Files in pseudo file systems are not read for a preview.
    const auto none = NewFileDialog(opd, TFileDialogKind::Picture, QStringLiteral("/proc/self/status"), QSize(), nullptr);
    EXPECT_TRUE(none->findChild<QLabel*>(QStringLiteral("Preview"))->pixmap().isNull());
}

TEST(QtDialogs, FirstSizeShowsTheColumnsWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFile(dir.filePath(QStringLiteral("experiment.ini")), QByteArray(194, 'x'));
    WriteFile(dir.filePath(QStringLiteral("notes.txt")), QByteArray(194, 'x'));
    // Qt restores the column widths of the last file dialog: start as a
    // user who has never seen one.
    QSettings(QSettings::UserScope, QStringLiteral("QtProject")).remove(QStringLiteral("FileDialog"));
    const auto fd = NewFileDialog(SettingsDialog(), TFileDialogKind::Save, dir.filePath(QStringLiteral("x.ini")),
                                  QSize(), nullptr);
    fd->setNameFilter(QStringLiteral("All (*)"));
    fd->show();
    auto* tree = fd->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->model()->rowCount(tree->rootIndex()) == 2; }, 5000));
    QApplication::processEvents();
    // Roomier than Qt's own first size, as far as the screen allows.
    const QSize screen = fd->screen()->availableGeometry().size() * 9 / 10;
    EXPECT_GE(fd->width(), std::min(760, screen.width()));
    EXPECT_GE(fd->height(), std::min(500, screen.height()));
    // Every cell's text fits its column whole, with the margins the view
    // draws it within ("194 bytes", not "194...tes"). The file model fills
    // in sizes and types as it learns them, and the columns follow.
    const int margins = 2 * (tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree) + 1);
    std::string cut;
    auto allFit = [&] {
        cut.clear();
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 4; ++column) {
                const QString text = tree->model()->index(row, column, tree->rootIndex()).data().toString();
                int need = tree->fontMetrics().horizontalAdvance(text) + margins;
                if (column == 0)
                    need += tree->iconSize().width() + tree->indentation();
                if (text.isEmpty() || tree->columnWidth(column) < need)
                    cut += "'" + text.toStdString() + "' in " + std::to_string(tree->columnWidth(column)) + " px; ";
            }
        }
        return cut.empty();
    };
    EXPECT_TRUE(QTest::qWaitFor(allFit, 5000)) << cut;
    fd->hide();
}

TEST(QtDialogs, TheVersionWarningShowsTwoLines)
{
    const auto box = NewMessageBox(TMessageKind::Warning, QStringLiteral("Warning"),
                                   QString::fromLatin1(SettingsVersionWarning), nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    // The line feed and carriage return are one break between the lines.
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    QLabel twoLines(QStringLiteral("This is not VURiva or version of the VinskFile is not 1.1.\nCheck pleas input data."));
    twoLines.setFont(label->font());
    EXPECT_EQ(label->sizeHint().height(), twoLines.sizeHint().height()) << label->text().toStdString();
}

} // namespace
} // namespace vinsk
