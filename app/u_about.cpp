#include "app/u_about.h"

#include <algorithm>
#include <memory>

#include <QDesktopServices>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace vinsk {
namespace {

const QColor Navy(0, 0, 128);
const QColor Blue(0, 0, 255);

// A star trail arcing over a mount on its tripod, drawn into the left part
// of the picture's box.
class TProgramIcon final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = height() / 84.0;
        p.scale(s, s);

        QLinearGradient sky(0, 0, 0, 60);
        sky.setColorAt(0, QColor(10, 20, 60));
        sky.setColorAt(1, QColor(40, 60, 120));
        p.setPen(Qt::NoPen);
        p.setBrush(sky);
        p.drawRoundedRect(QRectF(2, 2, 92, 58), 6, 6);

        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 240, 170), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(12, 12, 72, 72), 35 * 16, 110 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(77.5, 27), 2.5, 2.5);

        p.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(48, 62), QPointF(32, 82));
        p.drawLine(QPointF(48, 62), QPointF(64, 82));
        p.drawLine(QPointF(48, 62), QPointF(48, 82));
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(110, 110, 120));
        p.drawRect(QRectF(42, 52, 12, 11));
        p.translate(48, 52);
        p.rotate(-35);
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(QRectF(-4, -22, 8, 22));
    }
};

// Navy text that turns blue and underlined under the mouse and asks the
// desktop to open its address when clicked.
class TLinkLabel final : public QLabel {
public:
    TLinkLabel(const QString& text, const QString& address, const QString& tip, QWidget* parent)
        : QLabel(text, parent), FAddress(address)
    {
        setCursor(Qt::PointingHandCursor);
        setToolTip(tip);
        SetHot(false);
    }

protected:
    void enterEvent(QEnterEvent* e) override
    {
        SetHot(true);
        QLabel::enterEvent(e);
    }

    void leaveEvent(QEvent* e) override
    {
        SetHot(false);
        QLabel::leaveEvent(e);
    }

    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
            QDesktopServices::openUrl(QUrl(FAddress));
        QLabel::mouseReleaseEvent(e);
    }

private:
    void SetHot(bool hot)
    {
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, hot ? Blue : Navy);
        setPalette(pal);
        QFont f = font();
        f.setUnderline(hot);
        setFont(f);
    }

    QString FAddress;
};

} // namespace

TAboutBox::TAboutBox(const QString& fileVersionText, const QString& productVersionText, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FFileVersionText(fileVersionText), FProductVersionText(productVersionText)
{
    setObjectName(QStringLiteral("AboutBox"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(305, 191);
    setSizeGripEnabled(false);

    // Etched: a lowered outer and a raised inner bevel.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 291, 153);

    ProgramIcon = new TProgramIcon(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 196, 84);
    ProgramIcon->setAttribute(Qt::WA_TransparentForMouseEvents);

    ProductName = new QLabel(QStringLiteral("Vinsk"), Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setFont(QFont(QStringLiteral("Arial"), 12, QFont::Bold));
    ProductName->move(112, 32);
    ProductName->adjustSize();

    Version = new QLabel(Panel1);
    Version->setObjectName(QStringLiteral("Version"));
    Version->move(144, 48);

    Comments = new QLabel(QStringLiteral("Program for the periodic error measurement with the artificial star"), Panel1);
    Comments->setObjectName(QStringLiteral("Comments"));
    QFont narrow(QStringLiteral("Arial Narrow"), 8);
    narrow.setItalic(true);
    Comments->setFont(narrow);
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Comments->setGeometry(120, 72, 147, 30);

    const QString mail = QString::fromUtf8(MailAddress);
    WebLink = new TLinkLabel(QString::fromUtf8(WebAddress), QString::fromUtf8(WebAddress),
                             QString::fromUtf8(WebAddress), Panel1);
    WebLink->setObjectName(QStringLiteral("WebLink"));
    MailLink = new TLinkLabel(mail, QStringLiteral("mailto:") + mail + QStringLiteral("?Subject=") + MailSubject,
                              mail, Panel1);
    MailLink->setObjectName(QStringLiteral("MailLink"));
    for (QLabel* link : {WebLink, MailLink})
        link->setFont(QFont(QStringLiteral("Tahoma"), 8));
    WebLink->move(120, 104);
    MailLink->move(120, 120);
    WebLink->adjustSize();
    MailLink->adjustSize();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(111, 164, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TAboutBox::FormCreate()
{
    setWindowTitle(QStringLiteral("Vinsk, ver. ") + FProductVersionText);
    Version->setText(QStringLiteral("Version: ") + FFileVersionText);
    Version->adjustSize();
    KeepLinesApart();
}

void TAboutBox::KeepLinesApart()
{
    // The face that stands in for Arial may sit lower in its line than Arial
    // does ("Vinsk" then runs into the version): the version moves down until
    // its letters clear the name's, and each line below clears the one above.
    const QFontMetrics name(ProductName->font());
    const int nameInkBottom = ProductName->y() + name.ascent() + name.tightBoundingRect(ProductName->text()).bottom();
    const QFontMetrics version(Version->font());
    const int versionInkTop = version.ascent() + version.tightBoundingRect(QStringLiteral("V")).top();
    Version->move(Version->x(), std::max(Version->y(), nameInkBottom + 3 - versionInkTop));
    QWidget* above = Version;
    for (QWidget* line : {static_cast<QWidget*>(Comments), static_cast<QWidget*>(WebLink), static_cast<QWidget*>(MailLink)}) {
        line->move(line->x(), std::max(line->y(), above->geometry().bottom() + 1));
        above = line;
    }
}

void TAboutBox::Execute(const QString& fileVersionText, const QString& productVersionText)
{
    const auto box = std::make_unique<TAboutBox>(fileVersionText, productVersionText);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        box->move(screen->availableGeometry().center() - box->rect().center());
    box->exec();
}

} // namespace vinsk
