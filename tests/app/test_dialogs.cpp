// The real file dialog as the dialogs layer sets it up: title, preselected
// filter, default extension, no overwrite question, and the entry the user
// leaves selected.
#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "app/dialogs/Dialogs.h"

namespace vinsk {
namespace {

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

} // namespace
} // namespace vinsk
