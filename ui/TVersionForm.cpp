// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TVersionForm.h"
#include "widgets/Controls.h"

#include "ui_TVersionForm.h"

#include <QFont>

TVersionForm::TVersionForm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TVersionForm>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    const QFont f = FormFont(12);
    setFont(f);
    QFont big = f;
    big.setPixelSize(20);
    big.setBold(true);
    ui_->ProductName->setFont(big);
}

TVersionForm::~TVersionForm() = default;
