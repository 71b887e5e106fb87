// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TfWait.h"

#include "ui_TfWait.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

TfWait::TfWait(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TfWait>())
{
    ui_->setupUi(this);
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    setFont(f);
    setFixedSize(232, 59);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

TfWait::~TfWait() = default;

void TfWait::ShowNow()
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
