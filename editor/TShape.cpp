// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TShape.h"

#include "editor/EditorGeometry.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent), pen_(Qt::yellow, 2)
{
    // The image under the shape keeps receiving the pointer.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void TShape::SetBounds(int left, int top, int width, int height)
{
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    // The widget spans the rectangle plus the pen, so a rectangle of width
    // or height 0 still shows as a line.
    const int margin = (pen_.width() + 1) / 2;
    const QRect r = EditorGeometry::Normalised(left, top, width, height);
    setGeometry(r.adjusted(-margin, -margin, margin, margin));
    update();
}

void TShape::SetPen(const QPen& pen)
{
    pen_ = pen;
    SetBounds(left_, top_, width_, height_);
}

void TShape::paintEvent(QPaintEvent*)
{
    const int margin = (pen_.width() + 1) / 2;
    const QRectF r = QRectF(rect()).adjusted(margin, margin, -margin, -margin);
    QPainter p(this);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen_);
    p.drawRect(r);
    QPen dash(QColor(0, 0, 0), 1, Qt::DashLine);
    p.setPen(dash);
    p.drawRect(r);
}
