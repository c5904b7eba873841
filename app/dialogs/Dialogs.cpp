#include "app/dialogs/Dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QScreen>
#include <QStorageInfo>
#include <QTreeView>

#include <exception>

#include "image/formats/Picture.h"

namespace vinsk {

QString TFileDialog::ExtensionFor(int filterIndex) const
{
    if (filterIndex >= 1 && filterIndex <= EntryExts.size() && !EntryExts[filterIndex - 1].isEmpty())
        return EntryExts[filterIndex - 1];
    return DefaultExt;
}

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

// --- Names only ---------------------------------------------------------------

namespace {

// A stat is harmless everywhere; only reading the file is not.
QMimeType MimeOfName(const QFileInfo& info)
{
    return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
}

} // namespace

QIcon TNameIconProvider::icon(const QFileInfo& info) const
{
    if (info.isDir())
        return icon(info.isRoot() ? Drive : Folder);
    const QMimeType mime = MimeOfName(info);
    if (!mime.isDefault()) {
        for (const QString& name : {mime.iconName(), mime.genericIconName()}) {
            const QIcon themed = QIcon::fromTheme(name);
            if (!themed.isNull())
                return themed;
        }
    }
    return icon(File);
}

QString TNameIconProvider::type(const QFileInfo& info) const
{
    if (info.isDir())
        return info.isRoot() ? QStringLiteral("Drive") : QStringLiteral("Folder");
    const QMimeType mime = MimeOfName(info);
    if (!mime.isDefault() && !mime.comment().isEmpty())
        return mime.comment();
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? QStringLiteral("File") : suffix.toUpper() + QStringLiteral(" File");
}

bool InPseudoFileSystem(const QString& path)
{
    const QFileInfo info(path);
    QString real = info.canonicalFilePath(); // through links
    if (real.isEmpty())
        real = QDir::cleanPath(info.absoluteFilePath());
    for (const char* root : {"/proc", "/sys", "/dev"}) {
        const QString r = QLatin1String(root);
        if (real == r || real.startsWith(r + QLatin1Char('/')))
            return true;
    }
    static const QByteArrayList kernel = {"proc",   "sysfs",   "devtmpfs", "devpts",   "debugfs",
                                          "tracefs", "securityfs", "cgroup", "cgroup2", "pstore",
                                          "bpf",    "configfs", "efivarfs", "fusectl", "mqueue"};
    const QStorageInfo storage(real);
    return storage.isValid() && kernel.contains(storage.fileSystemType());
}

QString StartFolder(const QString& lastFile)
{
    if (!lastFile.isEmpty()) {
        const QString folder = QFileInfo(lastFile).absolutePath();
        if (QFileInfo(folder).isDir() && !InPseudoFileSystem(folder))
            return folder;
    }
    return QDir::homePath();
}

// --- The real dialogs ----------------------------------------------------------

namespace {

// Qt breaks a line at the carriage return of "\n\r" once more: the two
// lines of such a message would stand a blank line apart.
QString DisplayText(QString text)
{
    text.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

// Gives a name typed without an extension the one of the entry the user
// leaves selected, as it is accepted.
class TQtFileDialog final : public QFileDialog {
public:
    TQtFileDialog(QWidget* parent, const QString& title, const TFileDialog& settings)
        : QFileDialog(parent, title), FSettings(settings), FFilters(QtFilterList(settings.Filter))
    {
    }

    const QStringList& Filters() const { return FFilters; }

    void accept() override
    {
        setDefaultSuffix(FSettings.ExtensionFor(static_cast<int>(FFilters.indexOf(selectedNameFilter())) + 1));
        QFileDialog::accept();
    }

private:
    TFileDialog FSettings;
    QStringList FFilters;
};

// Size the dialog opens at the first time, within the screen.
QSize FirstSize(QWidget* parent, bool preview)
{
    QSize size(preview ? 1000 : 800, 540);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    return size;
}

QImage PreviewImage(const QString& path, QSize box)
{
    const QFileInfo info(path);
    // Pseudo files may block when read; a preview is not worth that.
    if (!info.isFile() || InPseudoFileSystem(path))
        return {};
    QImageReader reader(path);
    if (reader.canRead()) {
        const QSize size = reader.size();
        if (size.isValid())
            reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
        return reader.read();
    }
    try {
        TBitmap32 bmp;
        LoadPicture(path.toStdString(), bmp);
        return QImage(reinterpret_cast<const uchar*>(bmp.Bits()), bmp.Width(), bmp.Height(),
                      static_cast<qsizetype>(bmp.Width()) * 4, QImage::Format_RGB32)
            .scaled(box, Qt::KeepAspectRatio);
    } catch (const std::exception&) {
        return {};
    }
}

// Shows a reduced copy of the file under the cursor beside the file list,
// from the start for the file the dialog offers.
void AddPreview(QFileDialog& fd, const QString& offered)
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
    auto show = [preview](const QString& path) {
        const QImage img = PreviewImage(path, preview->size());
        if (img.isNull())
            preview->clear();
        else
            preview->setPixmap(QPixmap::fromImage(img.scaled(preview->size(), Qt::KeepAspectRatio)));
    };
    QObject::connect(&fd, &QFileDialog::currentChanged, preview, show);
    if (!offered.isEmpty())
        show(offered);
}

} // namespace

std::unique_ptr<QMessageBox> NewMessageBox(TMessageKind kind, const QString& caption, const QString& text,
                                           QWidget* parent)
{
    return std::make_unique<QMessageBox>(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning,
                                         caption, DisplayText(text), QMessageBox::Ok, parent);
}

std::unique_ptr<QFileDialog> NewFileDialog(const TFileDialog& dialog, TFileDialogKind kind, const QString& lastFile,
                                           QSize lastSize, QWidget* parent)
{
    const bool save = kind == TFileDialogKind::Save;
    const QString title = !dialog.Title.isEmpty() ? dialog.Title
                          : save                  ? QStringLiteral("Save As")
                                                  : QStringLiteral("Open");
    auto fd = std::make_unique<TQtFileDialog>(parent, title, dialog);
    // The picture dialog carries a preview; Qt's own dialog is the one that
    // can hold it, and the same dialog everywhere looks consistent.
    fd->setOption(QFileDialog::DontUseNativeDialog, true);
    // The dialog does not own its provider, and its file model may still
    // ask it while the dialog goes: one provider serves every dialog.
    static TNameIconProvider* const names = new TNameIconProvider;
    fd->setIconProvider(names);
    fd->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    fd->setFileMode(kind == TFileDialogKind::Picture ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    fd->setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
    const QStringList& filters = fd->Filters();
    fd->setNameFilters(filters);
    if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size())
        fd->selectNameFilter(filters[dialog.FilterIndex - 1]);
    const QString suffix = dialog.ExtensionFor(dialog.FilterIndex);
    if (!suffix.isEmpty())
        fd->setDefaultSuffix(suffix);
    // Without a folder of its own the dialog would open in whichever folder
    // another dialog used last.
    const QString folder = StartFolder(lastFile);
    fd->setDirectory(folder);
    QString offered;
    const QString name = dialog.FileName.isEmpty() ? QFileInfo(lastFile).fileName() : dialog.FileName;
    if (!name.isEmpty()) {
        fd->selectFile(name);
        offered = QDir(folder).filePath(name);
    }
    // The names take the room the other columns leave, which show whole.
    if (auto* tree = fd->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    fd->resize(lastSize.isValid() ? lastSize : FirstSize(parent, kind == TFileDialogKind::Picture));
    if (kind == TFileDialogKind::Picture)
        AddPreview(*fd, offered);
    return fd;
}

void TQtDialogs::MessageBox(TMessageKind kind, const QString& caption, const QString& text)
{
    NewMessageBox(kind, caption, text, FParent)->exec();
}

bool TQtDialogs::Question(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, FParent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<int> TQtDialogs::Choose(const QString& caption, const QString& text, const QStringList& items,
                                      int current)
{
    bool ok = false;
    const QString item = QInputDialog::getItem(FParent, caption, text, items, current, false, &ok);
    const qsizetype index = items.indexOf(item);
    if (!ok || index < 0)
        return std::nullopt;
    return static_cast<int>(index);
}

std::optional<TFileChoice> TQtDialogs::OpenFile(const TFileDialog& dialog)
{
    return Run(dialog, TFileDialogKind::Open);
}

std::optional<TFileChoice> TQtDialogs::SaveFile(const TFileDialog& dialog)
{
    return Run(dialog, TFileDialogKind::Save);
}

std::optional<TFileChoice> TQtDialogs::OpenPicture(const TFileDialog& dialog)
{
    return Run(dialog, TFileDialogKind::Picture);
}

std::optional<TFileChoice> TQtDialogs::Run(const TFileDialog& dialog, TFileDialogKind kind)
{
    const auto fd =
        NewFileDialog(dialog, kind, FLastFile.value(dialog.Name), FLastSize.value(dialog.Name, QSize()), FParent);
    const int result = fd->exec();
    FLastSize.insert(dialog.Name, fd->size());
    if (result != QDialog::Accepted || fd->selectedFiles().isEmpty())
        return std::nullopt;
    TFileChoice choice;
    choice.FileName = fd->selectedFiles().constFirst();
    const qsizetype index = QtFilterList(dialog.Filter).indexOf(fd->selectedNameFilter());
    choice.FilterIndex = index >= 0 ? static_cast<int>(index) + 1 : 1;
    FLastFile.insert(dialog.Name, choice.FileName);
    return choice;
}

} // namespace vinsk
