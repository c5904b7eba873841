// Scripted dialogs and helpers for driving the window in tests.
#pragma once

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "app/dialogs/Dialogs.h"

namespace vinsk::test {

struct TShownMessage {
    TMessageKind Kind;
    QString Caption;
    QString Text;
};

// Answers file dialogs from a queue and records every message box. A dialog
// that the test did not expect fails the test and is cancelled.
class TScriptedDialogs : public TDialogs {
public:
    void Answer(const QString& fileName, int filterIndex = 1) { FAnswers.push_back({TFileChoice{fileName, filterIndex}}); }
    // A name as the user types it: like the real dialog, a name without an
    // extension gets the one of the entry left selected.
    void AnswerTyped(const QString& fileName, int filterIndex)
    {
        FAnswers.push_back({TFileChoice{fileName, filterIndex}, true});
    }
    void Cancel() { FAnswers.push_back({std::nullopt}); }
    void AnswerQuestion(bool yes) { FQuestionAnswers.push_back(yes); }
    void AnswerChoice(std::optional<int> index) { FChoiceAnswers.push_back(index); }
    bool AllAnswered() const { return FAnswers.empty() && FQuestionAnswers.empty() && FChoiceAnswers.empty(); }

    std::vector<TShownMessage> Messages;
    std::vector<QString> DialogsRun; // names of the file dialogs shown, in order
    std::vector<TFileDialog> Shown;  // their settings as they opened
    std::vector<TShownMessage> Questions;
    std::vector<QStringList> Choices; // the lines of each choice offered
    std::vector<int> ChoicesCurrent;  // ... and the line each preselected

    void MessageBox(TMessageKind kind, const QString& caption, const QString& text) override
    {
        Messages.push_back({kind, caption, text});
    }
    std::optional<TFileChoice> OpenFile(const TFileDialog& d) override { return Next(d); }
    std::optional<TFileChoice> SaveFile(const TFileDialog& d) override { return Next(d); }
    std::optional<TFileChoice> OpenPicture(const TFileDialog& d) override { return Next(d); }
    bool Question(const QString& caption, const QString& text) override
    {
        Questions.push_back({TMessageKind::Warning, caption, text});
        if (FQuestionAnswers.empty()) {
            ADD_FAILURE() << "unexpected question " << text.toStdString();
            return false;
        }
        const bool yes = FQuestionAnswers.front();
        FQuestionAnswers.pop_front();
        return yes;
    }
    std::optional<int> Choose(const QString&, const QString& text, const QStringList& items, int current) override
    {
        Choices.push_back(items);
        ChoicesCurrent.push_back(current);
        if (FChoiceAnswers.empty()) {
            ADD_FAILURE() << "unexpected choice " << text.toStdString();
            return std::nullopt;
        }
        const std::optional<int> index = FChoiceAnswers.front();
        FChoiceAnswers.pop_front();
        return index;
    }

private:
    std::optional<TFileChoice> Next(const TFileDialog& d)
    {
        DialogsRun.push_back(d.Name);
        Shown.push_back(d);
        if (FAnswers.empty()) {
            ADD_FAILURE() << "unexpected file dialog " << d.Name.toStdString();
            return std::nullopt;
        }
        auto [a, typed] = FAnswers.front();
        FAnswers.pop_front();
        if (a && typed && QFileInfo(a->FileName).suffix().isEmpty() && !d.ExtensionFor(a->FilterIndex).isEmpty())
            a->FileName += QLatin1Char('.') + d.ExtensionFor(a->FilterIndex);
        return a;
    }

    struct TAnswer {
        std::optional<TFileChoice> Choice;
        bool Typed = false;
    };
    std::deque<TAnswer> FAnswers;
    std::deque<bool> FQuestionAnswers;
    std::deque<std::optional<int>> FChoiceAnswers;
};

// Mouse events sent straight to a widget, with the buttons held during a drag.
inline void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
inline void Press(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton)
{
    SendMouse(w, QEvent::MouseButtonPress, pos, b, b);
}
inline void Drag(QWidget* w, QPoint pos, Qt::MouseButtons held = Qt::LeftButton)
{
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, held);
}
inline void Release(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton)
{
    SendMouse(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton);
}
inline void Click(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton)
{
    Press(w, pos, b);
    Release(w, pos, b);
}

// A picture of one colour ($AARRGGBB) with optional single pixels set.
inline QImage Picture(int w, int h, QRgb fill)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(fill);
    return img;
}

inline QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
    return path;
}

inline QString SaveImage(const QTemporaryDir& dir, const QString& name, const QImage& img)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(img.save(path)) << path.toStdString();
    return path;
}

} // namespace vinsk::test
