// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TMessage1Form.h"
#include "widgets/Controls.h"

#include "ui_TMessage1Form.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

TMessage1Form::TMessage1Form(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TMessage1Form>())
{
    ui_->setupUi(this);
    const QFont f = FormFont(12);
    setFont(f);
    QFont bold = f;
    bold.setPixelSize(15);
    bold.setBold(true);
    ui_->Label1->setFont(bold);
    setFixedSize(410, 209);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

TMessage1Form::~TMessage1Form() = default;

void TMessage1Form::ShowNow()
{
    CentreOnScreen(this);
    show();
    raise();
    if (QWidget* owner = parentWidget())
        owner->repaint();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
