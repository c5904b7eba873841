#include "app/widgets/RadioGroup.h"

#include <QGridLayout>
#include <QSignalBlocker>

namespace vinsk {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), FButtons(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    const int cols = columns > 0 ? columns : 1;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        FButtons->addButton(b, i);
        grid->addWidget(b, i / cols, i % cols);
    }
    // Only a click that selects another item counts: clicking the item
    // already selected does nothing.
    connect(FButtons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit Click();
    });
}

int TRadioGroup::ItemIndex() const
{
    return FButtons->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    const QSignalBlocker block(FButtons);
    if (auto* b = FButtons->button(index))
        b->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const
{
    return qobject_cast<QRadioButton*>(FButtons->button(index));
}

int TRadioGroup::Count() const
{
    return static_cast<int>(FButtons->buttons().size());
}

void TRadioGroup::NameItems()
{
    for (int i = 0; i < Count(); ++i)
        Item(i)->setObjectName(objectName() + QLatin1Char('_') + QString::number(i));
}

} // namespace vinsk
