#include "app/widgets/Mnemonics.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QGroupBox>
#include <QHash>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QShortcut>

#include <utility>

namespace vinsk {

namespace {

// Turns the Alt+letter that reaches a control into the opening of the menu
// with that letter. Qt offers a letter taken twice to each owner in turn,
// so without this every other press would only move the focus.
class TMenuFirst final : public QObject {
public:
    TMenuFirst(QMenuBar* bar, QHash<QKeySequence, QAction*> menus) : QObject(bar), FBar(bar), FMenus(std::move(menus)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Shortcut) {
            if (QAction* menu = FMenus.value(static_cast<QShortcutEvent*>(event)->key())) {
                FBar->setActiveAction(menu);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QMenuBar* FBar;
    QHash<QKeySequence, QAction*> FMenus;
};

QString Caption(const QWidget* w)
{
    if (const auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (const auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    if (const auto* l = qobject_cast<const QLabel*>(w); l && l->buddy())
        return l->text();
    return {};
}

// What the control's own mnemonic does: a button is clicked, a group gives
// the focus to its chosen item, a label to its buddy.
void Activate(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setFocus(Qt::ShortcutFocusReason);
        b->click();
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        QWidget* target = nullptr;
        for (QRadioButton* r : g->findChildren<QRadioButton*>())
            if (!target || r->isChecked())
                target = r;
        if (target)
            target->setFocus(Qt::ShortcutFocusReason);
    } else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) {
        l->buddy()->setFocus(Qt::ShortcutFocusReason);
    }
}

} // namespace

void GiveAltLettersToMenuBar(QMenuBar* bar, QWidget* page)
{
    QHash<QKeySequence, QAction*> menus;
    for (QAction* a : bar->actions()) {
        const QKeySequence key = QKeySequence::mnemonic(a->text());
        if (!key.isEmpty())
            menus.insert(key, a);
    }
    auto* filter = new TMenuFirst(bar, menus);
    for (QWidget* w : page->findChildren<QWidget*>()) {
        const QKeySequence key = QKeySequence::mnemonic(Caption(w));
        if (key.isEmpty() || !menus.contains(key))
            continue;
        w->installEventFilter(filter);
        auto* plain = new QShortcut(QKeySequence(QKeyCombination(key[0].key())), page);
        plain->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(plain, &QShortcut::activated, w, [w] {
            if (w->isEnabled())
                Activate(w);
        });
    }
}

} // namespace vinsk
