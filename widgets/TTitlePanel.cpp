// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TTitlePanel.h"

#include <QPainter>

TTitlePanel::TTitlePanel(QWidget* parent) : TPanel(parent)
{
    setFrameShape(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::HighlightedText));
    setPalette(pal);
    setAutoFillBackground(true);
}

void TTitlePanel::paintEvent(QPaintEvent* event)
{
    // The frame only; the caption goes to the left, not to the middle.
    QFrame::paintEvent(event);
    if (Caption().isEmpty())
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Caption());
}
