// The About box: texts, layout, links, and its life from one showing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/u_about.h"

namespace vinsk {
namespace {

// Receives the addresses the box asks the desktop to open.
class TUrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> Urls;

public slots:
    void Open(const QUrl& url) { Urls.append(url); }
};

QString LabelText(const QWidget& box, const char* name)
{
    const auto* label = box.findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<missing>");
}

// Runs Execute and, once the box is up, hands it to inspect.
QPointer<TAboutBox> ExecuteAndInspect(const QString& file, const QString& product,
                                      const std::function<void(TAboutBox&)>& inspect)
{
    QPointer<TAboutBox> seen;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
        if (seen)
            inspect(*seen);
        else
            ADD_FAILURE() << "the box is not up";
        if (seen && seen->isVisible())
            seen->accept();
    });
    TAboutBox::Execute(file, product);
    return seen;
}

TEST(AboutBox, ShowsTheVersionTexts)
{
    TAboutBox box(QStringLiteral("1.1.7.15"), QStringLiteral("1.1"));
    EXPECT_EQ(box.objectName(), "AboutBox");
    EXPECT_EQ(box.windowTitle(), "Vinsk, ver. 1.1");
    EXPECT_EQ(LabelText(box, "Version"), "Version: 1.1.7.15");
    EXPECT_EQ(LabelText(box, "ProductName"), "Vinsk");
    EXPECT_EQ(LabelText(box, "Comments"), "Program for the periodic error measurement with the artificial star");
}

TEST(AboutBox, EmptyVersionTextsLeaveTheBareLabels)
{
    TAboutBox box{QString(), QString()};
    EXPECT_EQ(box.windowTitle(), "Vinsk, ver. ");
    EXPECT_EQ(LabelText(box, "Version"), "Version: ");
}

TEST(AboutBox, LayoutIsFixed)
{
    TAboutBox box(QStringLiteral("1"), QStringLiteral("1"));
    EXPECT_EQ(box.minimumSize(), QSize(305, 191));
    EXPECT_EQ(box.maximumSize(), QSize(305, 191));
    const auto* panel = box.findChild<QWidget*>("Panel1");
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->geometry(), QRect(8, 8, 291, 153));
    const auto* ok = box.findChild<QPushButton*>("OKButton");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(111, 164, 75, 25));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(box.findChild<QLabel*>("ProductName")->pos(), QPoint(112, 32));
    // At 144, 48, or lower when the name's face needs it (below).
    EXPECT_EQ(box.findChild<QLabel*>("Version")->x(), 144);
    EXPECT_GE(box.findChild<QLabel*>("Version")->y(), 48);
    const auto* comments = box.findChild<QLabel*>("Comments");
    EXPECT_EQ(comments->geometry(), QRect(120, 72, 147, 30));
    EXPECT_TRUE(comments->wordWrap());
    EXPECT_TRUE(comments->font().italic());
    EXPECT_TRUE(box.findChild<QLabel*>("ProductName")->font().bold());
}

// The letters a label draws, in its parent's coordinates.
QRect Ink(const QLabel& label)
{
    const QFontMetrics fm(label.font());
    const QRect ink = fm.tightBoundingRect(label.text());
    const QRect inside = label.contentsRect();
    const int baseline = inside.top() + (inside.height() - fm.height()) / 2 + fm.ascent();
    return ink.translated(label.x() + inside.left(), label.y() + baseline);
}

TEST(AboutBox, NameAndVersionDoNotTouch)
{
    TAboutBox box(QStringLiteral("1.1.7.15"), QStringLiteral("1.1"));
    const QLabel& name = *box.findChild<QLabel*>("ProductName");
    const QLabel& version = *box.findChild<QLabel*>("Version");
    const QRect nameInk = Ink(name);
    const QRect versionInk = Ink(version);
    ASSERT_GT(nameInk.right(), versionInk.left()) << "they share columns";
    EXPECT_GE(versionInk.top(), nameInk.bottom() + 2);
    // No further down than that needs.
    EXPECT_LE(version.y(), std::max(48, nameInk.bottom() + 4));
    // The lines below keep clear of each other, within the panel.
    const char* lines[] = {"Version", "Comments", "WebLink", "MailLink"};
    for (std::size_t i = 1; i < std::size(lines); ++i) {
        const QRect above = box.findChild<QLabel*>(lines[i - 1])->geometry();
        const QRect below = box.findChild<QLabel*>(lines[i])->geometry();
        EXPECT_GT(below.top(), above.bottom()) << lines[i];
        EXPECT_LE(below.bottom(), box.findChild<QWidget*>("Panel1")->height()) << lines[i];
    }
}

TEST(AboutBox, ProgramIconIsDrawn)
{
    TAboutBox box(QStringLiteral("1"), QStringLiteral("1"));
    auto* icon = box.findChild<QWidget*>("ProgramIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), QSize(196, 84));
    const QImage shot = icon->grab().toImage();
    int coloured = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            coloured += shot.pixelColor(x, y).blue() > shot.pixelColor(x, y).red() + 40;
    EXPECT_GT(coloured, 1000); // the night sky
}

TEST(AboutBox, LinksLightUpAndOpenTheirAddresses)
{
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "Open");
    TAboutBox box(QStringLiteral("1"), QStringLiteral("1"));
    auto* web = box.findChild<QLabel*>("WebLink");
    auto* mail = box.findChild<QLabel*>("MailLink");
    ASSERT_TRUE(web && mail);
    EXPECT_EQ(web->pos(), QPoint(120, 104));
    EXPECT_EQ(mail->pos(), QPoint(120, 120));
    EXPECT_EQ(web->toolTip(), TAboutBox::WebAddress);
    EXPECT_EQ(mail->toolTip(), TAboutBox::MailAddress);
    EXPECT_EQ(web->cursor().shape(), Qt::PointingHandCursor);

    EXPECT_EQ(web->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_FALSE(web->font().underline());
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(web, &enter);
    EXPECT_EQ(web->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(web->font().underline());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(web, &leave);
    EXPECT_EQ(web->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_FALSE(web->font().underline());

    QTest::mouseClick(web, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    ASSERT_EQ(catcher.Urls.size(), 2);
    EXPECT_EQ(catcher.Urls[0], QUrl(TAboutBox::WebAddress));
    EXPECT_EQ(catcher.Urls[1].scheme(), "mailto");
    EXPECT_EQ(catcher.Urls[1].path(), TAboutBox::MailAddress);
    EXPECT_EQ(catcher.Urls[1].query(), QStringLiteral("Subject=") + TAboutBox::MailSubject);
}

TEST(AboutBox, ExecuteShowsItModallyAndDestroysItAfterwards)
{
    for (int round = 0; round < 2; ++round) {
        QString caption;
        const QPointer<TAboutBox> box = ExecuteAndInspect("1.1.7.15", "1.1", [&](TAboutBox& b) {
            caption = b.windowTitle();
            EXPECT_TRUE(b.isModal());
            EXPECT_EQ(LabelText(b, "Version"), "Version: 1.1.7.15");
        });
        EXPECT_EQ(caption, "Vinsk, ver. 1.1");
        EXPECT_TRUE(box.isNull()) << "round " << round;
    }
}

TEST(AboutBox, EnterPressesOK)
{
    bool closed = false;
    ExecuteAndInspect("1", "1", [&](TAboutBox& b) {
        QTest::keyClick(&b, Qt::Key_Return);
        closed = !b.isVisible() && b.result() == QDialog::Accepted;
    });
    EXPECT_TRUE(closed);
}

} // namespace
} // namespace vinsk

#include "test_about.moc"
