// Every message box and file dialog of the window goes through TDialogs, so
// the commands run the same with a person (TQtDialogs) and in tests (a
// scripted implementation).
#pragma once

#include <QFileDialog>
#include <QFileIconProvider>
#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QMessageBox;
class QWidget;

namespace vinsk {

enum class TMessageKind { Error, Warning };

// The settings of one file dialog, kept by its owner between uses.
struct TFileDialog {
    QString Name;          // identifies the dialog ("OpenDialog1", "OPD", ...)
    QString Title;         // empty: the default title
    QString Filter;        // "Text|*.ext|Text|*.a;*.b"
    QString DefaultExt;    // added to a name typed without an extension
    // Per filter entry, in order: the extension a name typed without one
    // gets when the user leaves that entry selected, so that the name
    // matches what is written. An entry without one takes DefaultExt.
    QStringList EntryExts;
    int FilterIndex = 1;   // 1-based, preselected
    // The name offered in the folder of the file chosen last; empty: that
    // file's own name.
    QString FileName;
    bool OverwritePrompt = false;

    QString ExtensionFor(int filterIndex) const;
};

struct TFileChoice {
    QString FileName;
    int FilterIndex = 1; // 1-based, the entry the user left selected
};

class TDialogs {
public:
    virtual ~TDialogs() = default;

    virtual void MessageBox(TMessageKind kind, const QString& caption, const QString& text) = 0;
    // Nothing when the user cancels.
    virtual std::optional<TFileChoice> OpenFile(const TFileDialog& dialog) = 0;
    virtual std::optional<TFileChoice> SaveFile(const TFileDialog& dialog) = 0;
    // The picture dialog, with a preview of the chosen file.
    virtual std::optional<TFileChoice> OpenPicture(const TFileDialog& dialog) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool Question(const QString& caption, const QString& text) = 0;
    // One of the lines, offered in a list; its index, or nothing when the
    // user cancels.
    virtual std::optional<int> Choose(const QString& caption, const QString& text, const QStringList& items,
                                      int current) = 0;

    // A refusal: "Error" caption, error icon, one OK button.
    void ErrorBox(const QString& text) { MessageBox(TMessageKind::Error, QStringLiteral("Error"), text); }
    void WarningBox(const QString& text) { MessageBox(TMessageKind::Warning, QStringLiteral("Warning"), text); }
};

// "Text (*.a)|*.a|All|*.b;*.c" -> ["Text (*.a)", "All (*.b *.c)"]: a
// description's own bracketed pattern list is replaced by the entry's
// patterns, which are what the dialog matches; "*.*" becomes "*".
QStringList QtFilterList(const QString& filter);

// Icons and type names from the file's name alone. Qt's own provider reads
// a file's first bytes to guess its type, which in /proc (kmsg) blocks the
// window for good.
class TNameIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;
};

// Below /proc, /sys or /dev, or on a kernel file system mounted elsewhere:
// no place to open or save a file in.
bool InPseudoFileSystem(const QString& path);

// Where a file dialog opens: the folder of the file it chose last, or the
// home folder the first time, for a folder that is gone and for a pseudo
// file system.
QString StartFolder(const QString& lastFile);

enum class TFileDialogKind { Open, Save, Picture };

// The real dialogs, built as TQtDialogs shows them; tests look at them
// without running them. lastFile is the file the dialog chose before (its
// folder and name are offered again), lastSize its size then, if any.
std::unique_ptr<QMessageBox> NewMessageBox(TMessageKind kind, const QString& caption, const QString& text,
                                           QWidget* parent);
std::unique_ptr<QFileDialog> NewFileDialog(const TFileDialog& dialog, TFileDialogKind kind, const QString& lastFile,
                                           QSize lastSize, QWidget* parent);

class TQtDialogs : public TDialogs {
public:
    explicit TQtDialogs(QWidget* parent = nullptr) : FParent(parent) {}
    void SetParent(QWidget* parent) { FParent = parent; }

    void MessageBox(TMessageKind kind, const QString& caption, const QString& text) override;
    std::optional<TFileChoice> OpenFile(const TFileDialog& dialog) override;
    std::optional<TFileChoice> SaveFile(const TFileDialog& dialog) override;
    std::optional<TFileChoice> OpenPicture(const TFileDialog& dialog) override;
    bool Question(const QString& caption, const QString& text) override;
    std::optional<int> Choose(const QString& caption, const QString& text, const QStringList& items,
                              int current) override;

private:
    std::optional<TFileChoice> Run(const TFileDialog& dialog, TFileDialogKind kind);

    QWidget* FParent;
    // Per dialog, for the whole run: the last file chosen (its folder and
    // name are offered again) and the size the user left the dialog at.
    QMap<QString, QString> FLastFile;
    QMap<QString, QSize> FLastSize;
};

} // namespace vinsk
