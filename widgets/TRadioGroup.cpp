// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TRadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(QWidget* parent) : TRadioGroup(QString(), parent) {}

TRadioGroup::TRadioGroup(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)), grid_(nullptr)
{
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit ItemIndexChanged(id);
    });
    connect(group_, &QButtonGroup::idClicked, this, [this](int) { emit Click(); });
    connect(this, &QObject::objectNameChanged, this, [this] { NameButtons(); });
    Arrange();
}

int TRadioGroup::ItemIndex() const
{
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (QRadioButton* wanted = Button(index)) {
        wanted->setChecked(true);  // reported through idToggled
        return;
    }
    QAbstractButton* checked = group_->checkedButton();
    if (!checked)
        return;
    // An exclusive group never lets its last checked button go.
    group_->setExclusive(false);
    checked->setChecked(false);
    group_->setExclusive(true);
    emit ItemIndexChanged(-1);
}

void TRadioGroup::SetItems(const QStringList& items)
{
    const int kept = ItemIndex();
    items_ = items;
    Rebuild();
    if (kept >= 0)
        SetItemIndex(kept);
    if (kept >= 0 && ItemIndex() != kept)
        emit ItemIndexChanged(ItemIndex());
}

void TRadioGroup::SetColumns(int columns)
{
    columns = qMax(1, columns);
    if (columns == columns_)
        return;
    columns_ = columns;
    Arrange();
}

QRadioButton* TRadioGroup::Button(int index) const
{
    return qobject_cast<QRadioButton*>(group_->button(index));
}

void TRadioGroup::Rebuild()
{
    for (QAbstractButton* b : group_->buttons()) {
        group_->removeButton(b);
        delete b;
    }
    for (int i = 0; i < items_.size(); ++i) {
        auto* b = new QRadioButton(items_[i], this);
        group_->addButton(b, i);
    }
    NameButtons();
    Arrange();
}

void TRadioGroup::Arrange()
{
    // A fresh grid each time, so no stretch of an earlier row count is left.
    delete grid_;
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(6, 0, 4, 2);
    grid_->setHorizontalSpacing(4);
    grid_->setVerticalSpacing(0);
    const int count = int(items_.size());
    const int rows = qMax(1, (count + columns_ - 1) / columns_);
    for (int i = 0; i < count; ++i)
        grid_->addWidget(group_->button(i), i % rows, i / rows, Qt::AlignLeft | Qt::AlignVCenter);
    for (int r = 0; r < rows; ++r)
        grid_->setRowStretch(r, 1);
    // Columns share the width equally as long as every text fits; a column
    // whose text needs more keeps what it needs.
    for (int c = 0; c < columns_; ++c)
        grid_->setColumnStretch(c, 1);
}

void TRadioGroup::NameButtons()
{
    for (int i = 0; i < items_.size(); ++i)
        group_->button(i)->setObjectName(objectName() + QStringLiteral("_Item") + QString::number(i));
}
