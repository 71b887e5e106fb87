// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The classic radio group: a titled frame holding one radio button per item,
// laid out in a number of columns that are filled top to bottom, the first
// column first. Exactly one item or none (ItemIndex −1) is selected.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ Items WRITE SetItems)
    Q_PROPERTY(int columns READ Columns WRITE SetColumns)
    Q_PROPERTY(int itemIndex READ ItemIndex WRITE SetItemIndex NOTIFY ItemIndexChanged)
public:
    explicit TRadioGroup(QWidget* parent = nullptr);
    explicit TRadioGroup(const QString& caption, QWidget* parent = nullptr);

    // The selected item, −1 for none.
    int ItemIndex() const;
    // Selects the item; any value outside 0 … count−1 clears the selection.
    void SetItemIndex(int index);

    QStringList Items() const { return items_; }
    // Replaces the radio buttons by one per text. The selection is kept when
    // its index still names an item, else cleared.
    void SetItems(const QStringList& items);

    int Columns() const { return columns_; }
    // At least one column.
    void SetColumns(int columns);

    // The radio button of an item (objectName "<group name>_Item<index>"),
    // nullptr when there is no such item.
    QRadioButton* Button(int index) const;

signals:
    // The selection changed, by the user or by SetItemIndex.
    void ItemIndexChanged(int index);
    // The user clicked an item.
    void Click();

private:
    void Rebuild();
    void Arrange();
    void NameButtons();

    QStringList items_;
    int columns_ = 1;
    QButtonGroup* group_;
    QGridLayout* grid_;
};
