// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/TViewerForm.h"

#include "core/Prompt.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/SavePictureAs.h"
#include "widgets/Controls.h"
#include "widgets/Handlers.h"
#include "widgets/TTitlePanel.h"

#include "ui_TViewerForm.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <climits>

namespace {

constexpr int kScrollStep = 80;

}  // namespace

TViewerForm::TViewerForm(Prompt& prompt, Settings& settings, QSettings& store, QWidget* owner)
    : QDialog(owner), prompt_(prompt), settings_(settings), store_(store), ui_(std::make_unique<Ui::TViewerForm>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFont(FormFont(12));
    ApplyHints(this);
    ui_->Panel1->raise();
    ui_->Panel2->setCursor(Qt::SizeAllCursor);

    const std::pair<QToolButton*, void (TViewerForm::*)()> buttons[] = {
        {ui_->SpeedButton1, &TViewerForm::SpeedButton1Click}, {ui_->SpeedButton2, &TViewerForm::SpeedButton2Click},
        {ui_->SpeedButton3, &TViewerForm::SpeedButton3Click}, {ui_->SpeedButton4, &TViewerForm::SpeedButton4Click},
        {ui_->SpeedButton5, &TViewerForm::SpeedButton5Click}, {ui_->SpeedButton6, &TViewerForm::SpeedButton6Click},
        {ui_->SpeedButton7, &TViewerForm::SpeedButton7Click}, {ui_->SpeedButton8, &TViewerForm::SpeedButton8Click},
        {ui_->SpeedButton9, &TViewerForm::SpeedButton9Click},
    };
    for (const auto& [button, handler] : buttons)
        ConnectHandler(&prompt_, button, &QToolButton::clicked, this, handler);
    ConnectHandler(&prompt_, ui_->Image, &TImage::Clicked, this, &TViewerForm::ImageClick);

    // Key preview, the wheel over the picture, and the pointer on the tool
    // panel's title bar.
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
}

TViewerForm::~TViewerForm()
{
    FormDestroy();
}

// --- Showing one page -----------------------------------------------------------

bool TViewerForm::DrawPage(ImageHandle& page)
{
    ui_->ScrollBox->verticalScrollBar()->setValue(0);
    ui_->ScrollBox->horizontalScrollBar()->setValue(0);
    ui_->Image->SetAutoSize(true);
    TMDIB dib(page);
    return dib.DrawToImage(*ui_->Image);
}

void TViewerForm::OutlineOnPage(std::vector<QRect> boxes)
{
    ui_->Image->SetOutlines(std::move(boxes));
}

void TViewerForm::PlaceOnScreen()
{
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());
    ui_->ScrollBox->setGeometry(rect());
    Zoomed().CenterImage();
}

void TViewerForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunHandler(&prompt_, [this] { FormShow(); });
}

void TViewerForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ui_->ScrollBox->setGeometry(rect());
    Zoomed().UpdateScrollRange();
}

void TViewerForm::FormShow()
{
    BaseWidth = ui_->Image->width();
    BaseHeight = ui_->Image->height();
    ZoomLevel = 1;
    KeepToolPanelOnScreen();
    ui_->Panel1->raise();
    setFocus();
}

void TViewerForm::FormClose()
{
    ZoomLevel = 1;
    ui_->Image->SetAutoSize(true);
}

void TViewerForm::done(int result)
{
    RunHandler(&prompt_, [this] { FormClose(); });
    QDialog::done(result);
}

void TViewerForm::Close(int pageTurn)
{
    PageTurn = pageTurn;
    done(QDialog::Accepted);
}

QImage TViewerForm::Picture() const
{
    return ui_->Image->Picture();
}

// --- Zoom and scrolling -----------------------------------------------------------

Zoom::ZoomedPicture TViewerForm::Zoomed() const
{
    return Zoom::ZoomedPicture(const_cast<TViewerForm*>(this), ui_->ScrollBox, ui_->ScrollBoxContents, ui_->Image);
}

void TViewerForm::ApplyZoom()
{
    Zoomed().Apply(BaseWidth, BaseHeight, ZoomLevel);
}

void TViewerForm::SpeedButton7Click()
{
    if (ZoomLevel < INT_MAX)
        ++ZoomLevel;
    ApplyZoom();
}

void TViewerForm::SpeedButton8Click()
{
    if (ZoomLevel > INT_MIN + 2)
        --ZoomLevel;
    ApplyZoom();
}

void TViewerForm::ScrollBy(int delta)
{
    QScrollBar* v = ui_->ScrollBox->verticalScrollBar();
    v->setValue(Zoom::ScrolledBy(v->value(), delta, v->maximum()));
}

bool TViewerForm::FormKeyDown(int key)
{
    QScrollBar* v = ui_->ScrollBox->verticalScrollBar();
    switch (key) {
    case Qt::Key_Up: ScrollBy(-kScrollStep); return true;
    case Qt::Key_Down: ScrollBy(kScrollStep); return true;
    case Qt::Key_Home: v->setValue(0); return true;
    case Qt::Key_End: v->setValue(v->maximum()); return true;
    case Qt::Key_Escape: Close(kNoTurn); return true;
    default: return false;
    }
}

void TViewerForm::FormMouseWheelDown() { FormKeyDown(Qt::Key_Down); }
void TViewerForm::FormMouseWheelUp() { FormKeyDown(Qt::Key_Up); }
void TViewerForm::SpeedButton5Click() { FormKeyDown(Qt::Key_Up); }
void TViewerForm::SpeedButton6Click() { FormKeyDown(Qt::Key_Down); }

void TViewerForm::keyPressEvent(QKeyEvent* event)
{
    bool handled = false;
    RunHandler(&prompt_, [&] { handled = FormKeyDown(event->key()); });
    if (handled)
        event->accept();
    else if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        QDialog::keyPressEvent(event);  // no default button to press
}

bool TViewerForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        bool handled = false;
        RunHandler(&prompt_, [&] { handled = FormKeyDown(static_cast<QKeyEvent*>(event)->key()); });
        if (handled)
            return true;
        break;
    }
    case QEvent::Wheel: {
        // The scroll box would scroll by its own step: the viewer's is 80.
        const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (dy < 0)
            RunHandler(&prompt_, [this] { FormMouseWheelDown(); });
        else if (dy > 0)
            RunHandler(&prompt_, [this] { FormMouseWheelUp(); });
        return true;
    }
    default:
        break;
    }
    if (watched == ui_->Panel2) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            RunHandler(&prompt_, [&] { Panel2MouseDown(p); });
            return true;
        }
        case QEvent::MouseMove: {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            RunHandler(&prompt_, [&] { Panel2MouseMove(p); });
            return true;
        }
        case QEvent::MouseButtonRelease: RunHandler(&prompt_, [this] { Panel2MouseUp(); }); return true;
        default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TViewerForm::ImageClick()
{
    Close(kNoTurn);
}

void TViewerForm::SpeedButton3Click() { Close(kPreviousPage); }
void TViewerForm::SpeedButton4Click() { Close(kNextPage); }
void TViewerForm::SpeedButton9Click() { Close(kNoTurn); }

// --- The tool panel -------------------------------------------------------------

void TViewerForm::Panel2MouseDown(QPoint local)
{
    // The point on the title bar, which moves with the panel: the grabbed
    // spot stays under the pointer.
    Dragging = true;
    const QPoint p = mapToGlobal(local);
    GrabX = p.x();
    GrabY = p.y();
}

void TViewerForm::Panel2MouseMove(QPoint local)
{
    const QPoint p = mapToGlobal(local);
    if (Dragging)
        ui_->Panel1->move(ui_->Panel1->x() + (p.x() - GrabX), ui_->Panel1->y() + (p.y() - GrabY));
}

void TViewerForm::Panel2MouseUp()
{
    Dragging = false;
    // The record follows the panel, so that the options dialog's save
    // writes where it is now.
    settings_.ViewerToolBarX = ui_->Panel1->x();
    settings_.ViewerToolBarY = ui_->Panel1->y();
}

void TViewerForm::SetToolPanelPos(int left, int top)
{
    ui_->Panel1->move(left, top);
}

QPoint TViewerForm::ToolPanelPos() const
{
    return ui_->Panel1->pos();
}

void TViewerForm::KeepToolPanelOnScreen()
{
    // A place stored on a larger screen: the panel comes back whole.
    QWidget* panel = ui_->Panel1;
    const int maxX = std::max(0, width() - panel->width());
    const int maxY = std::max(0, height() - panel->height());
    const QPoint at(std::clamp(panel->x(), 0, maxX), std::clamp(panel->y(), 0, maxY));
    if (at != panel->pos()) {
        panel->move(at);
        settings_.ViewerToolBarX = at.x();
        settings_.ViewerToolBarY = at.y();
    }
}

void TViewerForm::FormDestroy()
{
    settings_.ViewerToolBarX = ui_->Panel1->x();
    settings_.ViewerToolBarY = ui_->Panel1->y();
    if (!store_.isWritable())
        return;  // no place to keep it: no message
    store_.setValue(QStringLiteral("ViewerToolBarX"), QString::number(settings_.ViewerToolBarX));
    store_.setValue(QStringLiteral("ViewerToolBarY"), QString::number(settings_.ViewerToolBarY));
    store_.sync();
}

// --- Copy and save ------------------------------------------------------------------

void TViewerForm::SpeedButton2Click()
{
    // The picture at its natural size, whatever the zoom.
    const ImageHandle block = BitmapToDib(ui_->Image->Picture());
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->clear();
    ImgKitSetToClipBrd(block);
}

void TViewerForm::SpeedButton1Click()
{
    // The page at its natural size, whatever the zoom.
    const ImageHandle block = BitmapToDib(ui_->Image->Picture());
    SavePictureAs(prompt_, store_, block, settings_.JpegMode);
}
