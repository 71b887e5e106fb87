// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small widgets that behave like the classic form controls the windows are
// laid out with: a panel that shows a centred caption, an image control with
// auto-size, stretch and centre, and a static text that can be clicked.

#include "imaging/PictureTarget.h"

#include <QFont>
#include <QFrame>
#include <QImage>
#include <QLabel>

#include <vector>

// A raised (or lowered) panel with an optional caption drawn in its middle,
// behind any child controls.
class TPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool lowered READ Lowered WRITE SetLowered)
public:
    explicit TPanel(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    bool Lowered() const { return lowered_; }
    void SetLowered(bool lowered);
    // Background colour; an invalid colour means the button face.
    void SetColor(const QColor& color);
    QColor Color() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    bool lowered_ = false;
};

// Image control. AutoSize: the control takes the picture's size whenever a
// picture is set or AutoSize is switched on. Stretch: the picture is drawn
// scaled to the control. Center: an unstretched picture is centred.
// Painting draws only the exposed part, so a control made many times larger
// than the screen (zoom) never needs a picture of its own size.
class TImage : public QWidget, public PictureTarget {
    Q_OBJECT
    Q_PROPERTY(bool autoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool center READ Center WRITE SetCenter)
public:
    explicit TImage(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture) override;
    const QImage& Picture() const { return picture_; }
    void ClearPicture();

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool on);
    bool Center() const { return center_; }
    void SetCenter(bool on);

    // Where the picture lands inside the control, in control coordinates.
    QRect PictureRect() const;
    // The picture's size in the control's coordinates.
    QSize PictureSize() const;

    // Boxes drawn round parts of the picture (in its own pixels), such as
    // the words a search found; cleared with the picture.
    void SetOutlines(std::vector<QRect> boxes);
    const std::vector<QRect>& Outlines() const { return outlines_; }

signals:
    void Clicked();
    void DoubleClicked();
    // Any mouse button going down, with the position on the screen.
    void MouseDown(Qt::MouseButton button, QPoint globalPos, QPoint localPos);
    void MouseMoved(Qt::MouseButtons buttons, QPoint localPos);
    void MouseUp(Qt::MouseButton button, QPoint localPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    std::vector<QRect> outlines_;
    bool autoSize_ = false;
    bool stretch_ = false;
    bool center_ = false;
    bool pressed_ = false;
};

// A static text with a sunken border that reports clicks.
class TStaticText : public QLabel {
    Q_OBJECT
public:
    explicit TStaticText(QWidget* parent = nullptr);
    void SetColor(const QColor& color);
    QColor Color() const;

signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The short part of a stored hint "short|long".
QString ShortHint(const QString& hint);

// The forms' fonts, as they were drawn: "ＭＳ Ｐゴシック" (or "ＭＳ ゴシック",
// fixed pitch) at a pixel size; the application maps both to the installed
// Japanese fonts.
QFont FormFont(int pixels = 12, bool fixedPitch = false);
// Centres a window on the primary screen's free area.
void CentreOnScreen(QWidget* window);

// For every widget and action under root that carries a "hint" property
// (stored as short text + "|" + long text), shows the short text as its
// tool tip.
void ApplyHints(QObject* root);
