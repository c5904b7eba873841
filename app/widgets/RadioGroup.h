// A captioned group of radio buttons addressed by item index.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

namespace vinsk {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    // Items are laid out in `columns` columns, filled row by row; each item
    // is named <objectName>_<index> once the group has its name.
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

    int ItemIndex() const;
    // Selects an item from code; notifies nobody.
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;
    int Count() const;

    void NameItems();

signals:
    // The user chose another item.
    void Click();

private:
    QButtonGroup* FButtons;
};

} // namespace vinsk
