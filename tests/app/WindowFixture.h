// The main window shown offscreen with scripted dialogs, and the ways a
// test reaches its controls.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "Harness.h"
#include "app/ErrorReport.h"
#include "app/Unit1.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        W = std::make_unique<TVinsk_main>(Dialogs);
        W->show();
        QApplication::processEvents();
    }
    void TearDown() override { EXPECT_TRUE(Dialogs.AllAnswered()) << "a scripted answer was not used"; }

    template <typename T = QWidget>
    T* Get(const QString& name)
    {
        T* w = W->findChild<T*>(name);
        if (!w)
            ADD_FAILURE() << "no control " << name.toStdString();
        return w;
    }
    QString Label(const QString& name) { return Get<QLabel>(name)->text(); }
    QString Panel(int i) { return Label(QStringLiteral("StatusPanel%1").arg(i)); }
    QString EditText(const QString& name) { return Get<TSpinEditBase>(name)->Text(); }
    QAction* Action(const char* name) { return Get<QAction>(QLatin1String(name)); }
    QTabWidget* Pages() { return Get<QTabWidget>(QStringLiteral("PageControl1")); }
    TImageView* View() { return Get<TImageView>(QStringLiteral("Image1")); }
    QWidget* Viewport() { return View()->viewport(); }
    int Zoom() { return Get<QScrollBar>(QStringLiteral("sbScale"))->value(); }

    // Clicks a button the way a user does: on its tab.
    void ClickButton(const char* name)
    {
        auto* b = Get<QAbstractButton>(QLatin1String(name));
        for (QWidget* p = b; p; p = p->parentWidget())
            if (p->objectName().startsWith(QLatin1String("TabSheet")))
                Pages()->setCurrentWidget(p);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // Replaces a field's text by typing.
    void Type(const char* name, const QString& text)
    {
        auto* e = Get<TSpinEditBase>(QLatin1String(name));
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }

    QString Save(const QString& name, const QImage& img) { return SaveImage(Dir, name, img); }
    void OpenPicture(const QString& path)
    {
        Dialogs.Answer(path);
        ClickButton("BitBtn3");
    }
    // A zoom with the picture's corner at the view's corner.
    void SetZoom(int z)
    {
        Get<QScrollBar>(QStringLiteral("sbScale"))->setValue(z);
        View()->horizontalScrollBar()->setValue(0);
        View()->verticalScrollBar()->setValue(0);
        ASSERT_EQ(View()->OffsetHorz(), 0.0f);
        ASSERT_EQ(View()->OffsetVert(), 0.0f);
    }
    QRectF LayerLocation(int i) { return View()->Layer(i)->Location(); }
    const TShownMessage& LastMessage()
    {
        static const TShownMessage none{TMessageKind::Warning, QString(), QString()};
        if (Dialogs.Messages.empty()) {
            ADD_FAILURE() << "no message shown";
            return none;
        }
        return Dialogs.Messages.back();
    }
    void ExpectRefusal(const QString& text)
    {
        const TShownMessage& m = LastMessage();
        EXPECT_EQ(m.Kind, TMessageKind::Error);
        EXPECT_EQ(m.Caption, QStringLiteral("Error"));
        EXPECT_EQ(m.Text, text);
    }
    void ExpectErrorReport(const QString& text)
    {
        const TShownMessage& m = LastMessage();
        EXPECT_EQ(m.Kind, TMessageKind::Error);
        EXPECT_EQ(m.Caption, ApplicationTitle());
        EXPECT_EQ(m.Text, text);
    }

    QTemporaryDir Dir;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TVinsk_main> W;
};

} // namespace vinsk::test
