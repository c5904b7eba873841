#include "app/dialogs/Dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>

#include <exception>

#include "image/formats/Picture.h"

namespace vinsk {

QStringList QtFilterList(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i].trimmed();
        if (text.endsWith(QLatin1Char(')'))) {
            const qsizetype open = text.lastIndexOf(QLatin1Char('('));
            if (open >= 0)
                text = text.left(open).trimmed();
        }
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        result << text + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

void TQtDialogs::MessageBox(TMessageKind kind, const QString& caption, const QString& text)
{
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning, caption, text,
                    QMessageBox::Ok, FParent);
    box.exec();
}

bool TQtDialogs::Question(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, FParent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<TFileChoice> TQtDialogs::OpenFile(const TFileDialog& dialog)
{
    return Run(dialog, false, false);
}

std::optional<TFileChoice> TQtDialogs::SaveFile(const TFileDialog& dialog)
{
    return Run(dialog, true, false);
}

std::optional<TFileChoice> TQtDialogs::OpenPicture(const TFileDialog& dialog)
{
    return Run(dialog, false, true);
}

namespace {

// Shows a reduced copy of the file under the cursor beside the file list.
void AddPreview(QFileDialog& fd)
{
    auto* grid = qobject_cast<QGridLayout*>(fd.layout());
    if (!grid)
        return;
    auto* preview = new QLabel(&fd);
    preview->setObjectName(QStringLiteral("Preview"));
    preview->setFixedSize(200, 200);
    preview->setAlignment(Qt::AlignCenter);
    preview->setFrameShape(QFrame::StyledPanel);
    grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
    QObject::connect(&fd, &QFileDialog::currentChanged, preview, [preview](const QString& path) {
        QImage img;
        QImageReader reader(path);
        if (QFileInfo(path).isFile() && reader.canRead()) {
            const QSize size = reader.size();
            if (size.isValid())
                reader.setScaledSize(size.scaled(preview->size(), Qt::KeepAspectRatio));
            img = reader.read();
        } else if (QFileInfo(path).isFile()) {
            try {
                TBitmap32 bmp;
                LoadPicture(path.toStdString(), bmp);
                img = QImage(reinterpret_cast<const uchar*>(bmp.Bits()), bmp.Width(), bmp.Height(),
                             static_cast<qsizetype>(bmp.Width()) * 4, QImage::Format_RGB32)
                          .scaled(preview->size(), Qt::KeepAspectRatio);
            } catch (const std::exception&) {
                img = QImage();
            }
        }
        if (img.isNull())
            preview->clear();
        else
            preview->setPixmap(QPixmap::fromImage(img.scaled(preview->size(), Qt::KeepAspectRatio)));
    });
}

} // namespace

std::optional<TFileChoice> TQtDialogs::Run(const TFileDialog& dialog, bool save, bool preview)
{
    const QString title = !dialog.Title.isEmpty() ? dialog.Title
                          : save                  ? QStringLiteral("Save As")
                                                  : QStringLiteral("Open");
    QFileDialog fd(FParent, title);
    // The picture dialog carries a preview; Qt's own dialog is the one that
    // can hold it, and the same dialog everywhere looks consistent.
    fd.setOption(QFileDialog::DontUseNativeDialog, true);
    fd.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    fd.setFileMode(save ? QFileDialog::AnyFile : (preview ? QFileDialog::ExistingFile : QFileDialog::AnyFile));
    fd.setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
    const QStringList filters = QtFilterList(dialog.Filter);
    fd.setNameFilters(filters);
    if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size())
        fd.selectNameFilter(filters[dialog.FilterIndex - 1]);
    if (!dialog.DefaultExt.isEmpty())
        fd.setDefaultSuffix(dialog.DefaultExt);
    const QString last = FLastFile.value(dialog.Name);
    if (!last.isEmpty()) {
        fd.setDirectory(QFileInfo(last).absolutePath());
        fd.selectFile(QFileInfo(last).fileName());
    }
    if (preview)
        AddPreview(fd);
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty())
        return std::nullopt;
    TFileChoice choice;
    choice.FileName = fd.selectedFiles().constFirst();
    const qsizetype index = filters.indexOf(fd.selectedNameFilter());
    choice.FilterIndex = index >= 0 ? static_cast<int>(index) + 1 : 1;
    FLastFile.insert(dialog.Name, choice.FileName);
    return choice;
}

} // namespace vinsk
