// Every message box and file dialog of the window goes through TDialogs, so
// the commands run the same with a person (TQtDialogs) and in tests (a
// scripted implementation).
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace vinsk {

enum class TMessageKind { Error, Warning };

// The settings of one file dialog, kept by its owner between uses.
struct TFileDialog {
    QString Name;          // identifies the dialog ("OpenDialog1", "OPD", ...)
    QString Title;         // empty: the default title
    QString Filter;        // "Text|*.ext|Text|*.a;*.b"
    QString DefaultExt;    // added to a name typed without an extension
    int FilterIndex = 1;   // 1-based, preselected
    bool OverwritePrompt = false;
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

    // A refusal: "Error" caption, error icon, one OK button.
    void ErrorBox(const QString& text) { MessageBox(TMessageKind::Error, QStringLiteral("Error"), text); }
    void WarningBox(const QString& text) { MessageBox(TMessageKind::Warning, QStringLiteral("Warning"), text); }
};

// "Text (*.a)|*.a|All|*.b;*.c" -> ["Text (*.a)", "All (*.b *.c)"]: a
// description's own bracketed pattern list is replaced by the entry's
// patterns, which are what the dialog matches; "*.*" becomes "*".
QStringList QtFilterList(const QString& filter);

class TQtDialogs : public TDialogs {
public:
    explicit TQtDialogs(QWidget* parent = nullptr) : FParent(parent) {}
    void SetParent(QWidget* parent) { FParent = parent; }

    void MessageBox(TMessageKind kind, const QString& caption, const QString& text) override;
    std::optional<TFileChoice> OpenFile(const TFileDialog& dialog) override;
    std::optional<TFileChoice> SaveFile(const TFileDialog& dialog) override;
    std::optional<TFileChoice> OpenPicture(const TFileDialog& dialog) override;
    bool Question(const QString& caption, const QString& text) override;

private:
    std::optional<TFileChoice> Run(const TFileDialog& dialog, bool save, bool preview);

    QWidget* FParent;
    // The last file chosen in each dialog: its folder and name are offered
    // again the next time, for the whole run.
    QMap<QString, QString> FLastFile;
};

} // namespace vinsk
