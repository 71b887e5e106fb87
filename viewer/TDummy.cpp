// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/TDummy.h"

#include "widgets/Controls.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

TDummy::TDummy(QWidget* owner) : QWidget(owner, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Dummy"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel = new TPanel(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    layout->addWidget(panel);
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());
    showMaximized();
}

TDummy::~TDummy()
{
    close();
}
