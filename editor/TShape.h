// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The rectangle shape of the editor's cut area: an outline without fill that
// shows on any picture. It keeps the rectangle as it was set, corner and
// signed extent (a drag up or to the left has a negative width or height),
// and draws the rectangle with its corners in order.

#include <QPen>
#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);

    // The rectangle in the parent's coordinates; width and height may be
    // negative or 0.
    void SetBounds(int left, int top, int width, int height);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int ShapeWidth() const { return width_; }
    int ShapeHeight() const { return height_; }

    // The outline's pen (its colour and width); a dark dashed line is drawn
    // over it so the outline stays visible on a light picture too.
    void SetPen(const QPen& pen);
    QPen Pen() const { return pen_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int left_ = 0;
    int top_ = 0;
    int width_ = 0;
    int height_ = 0;
    QPen pen_;
};
