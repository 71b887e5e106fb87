// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TfColorPreview.h"
#include "widgets/Controls.h"

#include "ui_TfColorPreview.h"

#include "core/Settings.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

TfColorPreview::TfColorPreview(Settings& settings, QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                         | Qt::WindowCloseButtonHint),
      settings_(settings),
      ui_(std::make_unique<Ui::TfColorPreview>())
{
    ui_->setupUi(this);
    setFixedSize(210, 210);
    setFont(FormFont(12));
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (settings_.ColorPreviewX < 0 || settings_.ColorPreviewY < 0) {
        CentreOnScreen(this);
    } else {
        move(settings_.ColorPreviewX, settings_.ColorPreviewY);
    }
}

TfColorPreview::~TfColorPreview() = default;

TImage* TfColorPreview::Image1() const
{
    return ui_->Image1;
}

void TfColorPreview::FormClose()
{
    settings_.ColorPreviewX = x();
    settings_.ColorPreviewY = y();
}

void TfColorPreview::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    FormClose();
    emit Closed();
}
