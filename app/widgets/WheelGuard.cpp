#include "app/widgets/WheelGuard.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

namespace vinsk {

namespace {

class TWheelGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
            // Ignored and filtered out: Qt hands the wheel on to the parents,
            // the scroll area among them.
            e->ignore();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }
};

} // namespace

void WheelOnlyWithFocus(QWidget* root)
{
    auto* guard = new TWheelGuard(root);
    auto take = [guard](QWidget* w) {
        // The wheel alone must not give the focus either.
        w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
    };
    for (QAbstractSpinBox* box : root->findChildren<QAbstractSpinBox*>())
        take(box);
    for (QComboBox* box : root->findChildren<QComboBox*>())
        take(box);
}

} // namespace vinsk
