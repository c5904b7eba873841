// What the benchmarks that drive the window share: a dialogs layer that
// answers the picture dialog and refuses any message, the three markers
// placed at given image points, and milliseconds of a clock interval.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <chrono>
#include <stdexcept>

#include "app/Unit1.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Answers the picture dialog with Picture; nothing else may ask.
class TBenchDialogs : public TDialogs {
public:
    QString Picture;
    void MessageBox(TMessageKind, const QString&, const QString& text) override
    {
        throw std::runtime_error("unexpected message: " + text.toStdString());
    }
    std::optional<TFileChoice> OpenFile(const TFileDialog&) override { return std::nullopt; }
    std::optional<TFileChoice> SaveFile(const TFileDialog&) override { return std::nullopt; }
    std::optional<TFileChoice> OpenPicture(const TFileDialog&) override { return TFileChoice{Picture, 1}; }
    bool Question(const QString&, const QString& text) override
    {
        throw std::runtime_error("unexpected question: " + text.toStdString());
    }
    std::optional<int> Choose(const QString&, const QString& text, const QStringList&, int) override
    {
        throw std::runtime_error("unexpected choice: " + text.toStdString());
    }
};

// Places START, STOP and IN-LINE by the buttons and a press on the view,
// then moves them to the points through their coordinate fields.
inline void PlaceMarkers(TVinsk_main& window, const int (&points)[3][2])
{
    auto* view = window.findChild<TImageView*>(QStringLiteral("Image1"));
    const char* buttons[3] = {"BitBtn4", "BitBtn5", "BitBtn9"};
    for (int k = 0; k < 3; ++k) {
        window.findChild<QPushButton*>(QLatin1String(buttons[k]))->click();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5 + k, 5), QPointF(5 + k, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5 + k, 5), QPointF(5 + k, 5), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &release);
        for (int c = 0; c < 2; ++c)
            window.findChild<TIntSpinEdit*>(QStringLiteral("RxSpinEdit%1").arg(10 + 2 * k + c))
                ->SetText(QString::number(points[k][c]));
    }
    if (view->LayerCount() != 3)
        throw std::runtime_error("the markers are not placed");
}

} // namespace vinsk::bench
