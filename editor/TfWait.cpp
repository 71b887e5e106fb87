// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TfWait.h"
#include "widgets/Controls.h"

#include "ui_TfWait.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

TfWait::TfWait(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TfWait>())
{
    ui_->setupUi(this);
    setFont(FormFont(12));
    setFixedSize(232, 59);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

TfWait::~TfWait() = default;

void TfWait::ShowNow()
{
    CentreOnScreen(this);
    show();
    raise();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
