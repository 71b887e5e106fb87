// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Controls.h"

#include <QScreen>

#include <QGuiApplication>

#include "widgets/ZoomView.h"

#include <QAction>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

TPanel::TPanel(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void TPanel::SetCaption(const QString& caption)
{
    if (caption_ == caption)
        return;
    caption_ = caption;
    update();
}

void TPanel::SetLowered(bool lowered)
{
    lowered_ = lowered;
    setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
}

void TPanel::SetColor(const QColor& color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color.isValid() ? color : QPalette().color(QPalette::Button));
    setPalette(pal);
}

QColor TPanel::Color() const
{
    return palette().color(QPalette::Window);
}

void TPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::SetPicture(const QImage& picture)
{
    picture_ = picture;
    outlines_.clear();
    if (autoSize_ && !picture_.isNull())
        resize(PictureSize());
    update();
}

QSize TImage::PictureSize() const
{
    // A picture made for a denser screen takes the room of its points.
    return picture_.deviceIndependentSize().toSize();
}

void TImage::ClearPicture()
{
    picture_ = QImage();
    outlines_.clear();
    update();
}

void TImage::SetAutoSize(bool on)
{
    autoSize_ = on;
    if (autoSize_ && !picture_.isNull())
        resize(PictureSize());
}

void TImage::SetStretch(bool on)
{
    stretch_ = on;
    update();
}

void TImage::SetCenter(bool on)
{
    center_ = on;
    update();
}

QRect TImage::PictureRect() const
{
    if (picture_.isNull())
        return {};
    if (stretch_)
        return rect();
    const QSize size = PictureSize();
    if (center_)
        return QRect((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    return QRect(QPoint(0, 0), size);
}

void TImage::paintEvent(QPaintEvent* event)
{
    if (picture_.isNull())
        return;
    QPainter p(this);
    // Scaled smoothly, on a dense screen too: never in blocks.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect target = PictureRect();
    const QRect visible = target.intersected(event->rect());
    if (visible.isEmpty())
        return;
    if (target.size() == PictureSize()) {
        // At its own size (in points): pixel for pixel, whatever the ratio.
        const qreal r = picture_.devicePixelRatio();
        const QRectF part = visible.translated(-target.topLeft());
        p.drawImage(QPointF(visible.topLeft()), picture_,
                    QRectF(part.left() * r, part.top() * r, part.width() * r, part.height() * r));
    } else {
        // Scaled: map the visible part back to the picture and draw only that.
        const double sx = double(picture_.width()) / target.width();
        const double sy = double(picture_.height()) / target.height();
        const QRectF source((visible.left() - target.left()) * sx, (visible.top() - target.top()) * sy,
                            visible.width() * sx, visible.height() * sy);
        p.drawImage(QRectF(visible), picture_, source);
    }
    if (outlines_.empty())
        return;
    p.setPen(QPen(QColor(255, 96, 0), 2));
    p.setBrush(QColor(255, 160, 0, 48));
    for (const QRect& box : outlines_) {
        const QRect on = Zoom::BoxOnTarget(box, picture_.size(), target).adjusted(-2, -2, 2, 2);
        if (on.intersects(event->rect()))
            p.drawRect(on);
    }
}

void TImage::SetOutlines(std::vector<QRect> boxes)
{
    outlines_ = std::move(boxes);
    update();
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    emit MouseDown(event->button(), event->globalPosition().toPoint(), event->position().toPoint());
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = pressed_;
    pressed_ = false;
    emit MouseUp(event->button(), event->position().toPoint());
    if (event->button() == Qt::LeftButton && wasPressed && rect().contains(event->position().toPoint()))
        emit Clicked();
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    emit MouseMoved(event->buttons(), event->position().toPoint());
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked();
}

TStaticText::TStaticText(QWidget* parent) : QLabel(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
}

void TStaticText::SetColor(const QColor& color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
}

QColor TStaticText::Color() const
{
    return palette().color(QPalette::Window);
}

void TStaticText::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
}

QFont FormFont(int pixels, bool fixedPitch)
{
    QFont font(fixedPitch ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(pixels);
    return font;
}

void CentreOnScreen(QWidget* window)
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

QString ShortHint(const QString& hint)
{
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.left(bar);
}

void ApplyHints(QObject* root)
{
    auto apply = [](QObject* o) {
        const QVariant hint = o->property("hint");
        if (!hint.isValid())
            return;
        const QString text = ShortHint(hint.toString());
        if (auto* w = qobject_cast<QWidget*>(o))
            w->setToolTip(text);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setToolTip(text);
    };
    apply(root);
    for (QObject* o : root->findChildren<QObject*>())
        apply(o);
}
