// The About box: product name, version, a one-line description and two
// links. Created for each showing and destroyed when it closes.
#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

namespace vinsk {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* WebAddress = "https://vinsk.example.org/";
    static constexpr const char* MailAddress = "vinsk@example.org";
    static constexpr const char* MailSubject = "Vinsk";

    TAboutBox(const QString& fileVersionText, const QString& productVersionText, QWidget* parent = nullptr);

    // Creates the box, shows it modally and destroys it when it closes,
    // also when showing it fails.
    static void Execute(const QString& fileVersionText, const QString& productVersionText);

private:
    void FormCreate();
    void KeepLinesApart();

    QString FFileVersionText;
    QString FProductVersionText;
    QFrame* Panel1 = nullptr;
    QWidget* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Comments = nullptr;
    QLabel* WebLink = nullptr;
    QLabel* MailLink = nullptr;
    QPushButton* OKButton = nullptr;
};

} // namespace vinsk
