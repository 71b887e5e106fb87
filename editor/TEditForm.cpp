// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TEditForm.h"
#include "widgets/Controls.h"

#include "ui_TEditForm.h"

#include "core/Decimal.h"
#include "core/Prompt.h"
#include "core/Settings.h"
#include "editor/EditorGeometry.h"
#include "editor/TfColorPreview.h"
#include "editor/TfSize.h"
#include "editor/TfWait.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/Handlers.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <utility>

using namespace EditorGeometry;

namespace {

constexpr int kScrollStep = 80;

// Shows the wait window for the length of a step and closes it on every
// path out of the step.
class WaitScope {
public:
    explicit WaitScope(TEditForm& form) : form_(form) { form_.ShowWaitWindow(); }
    ~WaitScope() { form_.CloseWaitWindow(); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    TEditForm& form_;
};

}  // namespace

QString TEditForm::TooLargeMessage()
{
    return Zoom::TooLargeMessage();
}

QString TEditForm::NoCutAreaMessage()
{
    return QStringLiteral("本コマンドに先立って、切取領域を指定してください");
}

QString TEditForm::ProcessFailedMessage()
{
    return QStringLiteral("画像を処理できませんでした");
}

QString TEditForm::SizeRefusedMessage()
{
    return QStringLiteral("指定された大きさには変更できません");
}

TEditForm::TEditForm(Prompt& prompt, Settings& settings, QSettings& store, QWidget* owner)
    : QDialog(owner), prompt_(prompt), settings_(settings), store_(store), ui_(std::make_unique<Ui::TEditForm>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFont(FormFont(12));
    for (int i = 1; i <= 22; ++i)
        findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(i))->setFont(FormFont(11));

    // The whole screen, whatever the owner's size.
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());

    ui_->ScrollBox->setGeometry(rect());
    ui_->CutShape->SetPen(QPen(QColor(Qt::yellow), 2));
    ui_->CutShape->hide();
    ui_->ToolBar->raise();
    ui_->ToolBarHandle->setCursor(Qt::SizeAllCursor);
    ApplyHints(this);

    const std::pair<QToolButton*, void (TEditForm::*)()> buttons[] = {
        {ui_->SpeedButton1, &TEditForm::SpeedButton1Click},   {ui_->SpeedButton2, &TEditForm::SpeedButton2Click},
        {ui_->SpeedButton3, &TEditForm::SpeedButton3Click},   {ui_->SpeedButton4, &TEditForm::SpeedButton4Click},
        {ui_->SpeedButton5, &TEditForm::SpeedButton5Click},   {ui_->SpeedButton6, &TEditForm::SpeedButton6Click},
        {ui_->SpeedButton7, &TEditForm::SpeedButton7Click},   {ui_->SpeedButton8, &TEditForm::SpeedButton8Click},
        {ui_->SpeedButton9, &TEditForm::SpeedButton9Click},   {ui_->SpeedButton10, &TEditForm::SpeedButton10Click},
        {ui_->SpeedButton11, &TEditForm::SpeedButton11Click}, {ui_->SpeedButton12, &TEditForm::SpeedButton12Click},
        {ui_->SpeedButton13, &TEditForm::SpeedButton13Click}, {ui_->SpeedButton14, &TEditForm::SpeedButton14Click},
        {ui_->SpeedButton15, &TEditForm::SpeedButton15Click}, {ui_->SpeedButton16, &TEditForm::SpeedButton16Click},
        {ui_->SpeedButton17, &TEditForm::SpeedButton17Click}, {ui_->SpeedButton18, &TEditForm::SpeedButton18Click},
        {ui_->SpeedButton19, &TEditForm::SpeedButton19Click}, {ui_->SpeedButton20, &TEditForm::SpeedButton20Click},
        {ui_->SpeedButton21, &TEditForm::SpeedButton21Click}, {ui_->SpeedButton22, &TEditForm::SpeedButton22Click},
    };
    for (const auto& [button, handler] : buttons)
        ConnectHandler(&prompt_, button, &QToolButton::clicked, this, handler);
    ConnectHandler(&prompt_, ui_->SpeedButton23, &QPushButton::clicked, this, &TEditForm::SpeedButton23Click);
    for (QSlider* bar : {ui_->tbR, ui_->tbG, ui_->tbB})
        ConnectHandler(&prompt_, bar, &QSlider::valueChanged, this, &TEditForm::tbRChange);

    ConnectHandler(&prompt_, ui_->Image, &TImage::MouseDown, this,
            [this](Qt::MouseButton, QPoint, QPoint local) { ImageMouseDown(local.x(), local.y()); });
    ConnectHandler(&prompt_, ui_->Image, &TImage::MouseMoved, this,
            [this](Qt::MouseButtons, QPoint local) { ImageMouseMove(local.x(), local.y()); });
    ConnectHandler(&prompt_, ui_->Image, &TImage::MouseUp, this,
            [this](Qt::MouseButton, QPoint local) { ImageMouseUp(local.x(), local.y()); });

    // Key preview, and the pointer on the toolbar's title strip.
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
}

TEditForm::~TEditForm()
{
    CloseWaitWindow();
    delete preview_.data();
}

TfColorPreview* TEditForm::ColorPreview() const
{
    return preview_.data();
}

// --- Showing and display -----------------------------------------------------

void TEditForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunHandler(&prompt_, [this] { FormShow(); });
}

void TEditForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ui_->ScrollBox->setGeometry(rect());
    UpdateScrollRange();
}

void TEditForm::FormShow()
{
    ui_->ToolBar->move(settings_.EditToolBarX, settings_.EditToolBarY);
    ShowEditImage();
    // The recorded size is the picture's own size (the control takes it by
    // auto-size when drawing works).
    ImgKitInfo info{};
    if (ImgKitImageInfo(EditImage, info)) {
        ImageWidth = info.width;
        ImageHeight = info.height;
    } else {
        ImageWidth = ui_->Image->width();
        ImageHeight = ui_->Image->height();
    }
    StartWidth = ImageWidth;
    StartHeight = ImageHeight;
    ui_->Image->SetAutoSize(true);
    ZoomLevel = 1;
    CenterImage();
    OriginalImage = ImgKitCopy(EditImage);

    SuppressTrackChange = true;
    ZeroTrackBars();
    ui_->SpeedButton23->setEnabled(false);
    SuppressTrackChange = false;
}

void TEditForm::ShowEditImage()
{
    if (!EditImage)
        return;
    ui_->ScrollBox->horizontalScrollBar()->setValue(0);
    ui_->ScrollBox->verticalScrollBar()->setValue(0);
    TMDIB dib(EditImage);
    if (!dib.DrawToImage(*ui_->Image))
        prompt_.MessageBox(TooLargeMessage(), QString(), BoxButtons::Ok);
}

Zoom::ZoomedPicture TEditForm::Picture() const
{
    return Zoom::ZoomedPicture(const_cast<TEditForm*>(this), ui_->ScrollBox, ui_->ScrollBoxContents, ui_->Image);
}

void TEditForm::ApplyZoom()
{
    Picture().Apply(ImageWidth, ImageHeight, ZoomLevel);
}

void TEditForm::CenterImage()
{
    Picture().CenterImage();
}

void TEditForm::UpdateScrollRange()
{
    Picture().UpdateScrollRange();
}

void TEditForm::Redraw()
{
    ShowEditImage();
    ApplyZoom();
}

void TEditForm::ReportFailure()
{
    prompt_.MessageBox(ProcessFailedMessage(), QString(), BoxButtons::Ok);
}

bool TEditForm::IsWellFormed24() const
{
    ImgKitInfo info{};
    return ImgKitImageInfo(EditImage, info) && info.bitCount == 24;
}

// --- Zoom ----------------------------------------------------------------------

void TEditForm::SpeedButton1Click()
{
    if (ZoomLevel > INT_MIN + 2)
        --ZoomLevel;
    ApplyZoom();
    if (!ui_->CutShape->isHidden())
        RedrawCutShape();
}

void TEditForm::SpeedButton2Click()
{
    if (ZoomLevel < INT_MAX)
        ++ZoomLevel;
    ApplyZoom();
    if (!ui_->CutShape->isHidden())
        RedrawCutShape();
}

void TEditForm::RedrawCutShape()
{
    const QPoint at = ui_->Image->pos();
    const auto place = [](int value, int offset) {
        return int(std::clamp<qint64>(qint64(value) + offset, INT_MIN, INT_MAX));
    };
    ui_->CutShape->SetBounds(place(ToControl(CutLeft, ZoomLevel), at.x()), place(ToControl(CutTop, ZoomLevel), at.y()),
                             ToControl(CutWidth, ZoomLevel), ToControl(CutHeight, ZoomLevel));
}

// --- Toolbar drag --------------------------------------------------------------

void TEditForm::ToolBarHandleMouseDown(int x, int y)
{
    Dragging = true;
    GrabX = x;
    GrabY = y;
}

void TEditForm::ToolBarHandleMouseMove(int x, int y)
{
    if (!Dragging)
        return;
    ui_->ToolBar->move(ui_->ToolBar->x() + (x - GrabX), ui_->ToolBar->y() + (y - GrabY));
}

void TEditForm::ToolBarHandleMouseUp()
{
    Dragging = false;
}

// --- Cut rectangle and trim ----------------------------------------------------

void TEditForm::ImageMouseDown(int x, int y)
{
    Selecting = true;
    SelStartX = x;
    SelStartY = y;
    ui_->CutShape->SetBounds(ui_->Image->x() + x, ui_->Image->y() + y, 0, 0);
    ui_->CutShape->show();
    ui_->CutShape->raise();
}

void TEditForm::ImageMouseMove(int x, int y)
{
    if (!Selecting)
        return;
    TShape* shape = ui_->CutShape;
    shape->SetBounds(shape->Left(), shape->Top(), DragExtent(x, SelStartX, ui_->Image->width()),
                     DragExtent(y, SelStartY, ui_->Image->height()));
}

void TEditForm::ImageMouseUp(int x, int y)
{
    if (!Selecting)
        return;
    Selecting = false;
    // A rectangle dragged up or to the left gets its corners in order.
    TShape* shape = ui_->CutShape;
    const QRect r = Normalised(shape->Left(), shape->Top(), shape->ShapeWidth(), shape->ShapeHeight());
    shape->SetBounds(r.x(), r.y(), r.width(), r.height());
    CutLeft = ToPicture(r.x() - ui_->Image->x(), ZoomLevel);
    CutTop = ToPicture(r.y() - ui_->Image->y(), ZoomLevel);
    CutWidth = ToPicture(r.width(), ZoomLevel);
    CutHeight = ToPicture(r.height(), ZoomLevel);
}

void TEditForm::SpeedButton6Click()
{
    // No rectangle since the last trim, or one without area (a click), or
    // one that no longer lies on the picture: nothing to cut.
    const QRect cut = CutInPicture(QRect(CutLeft, CutTop, CutWidth, CutHeight), ImageWidth, ImageHeight);
    if (ui_->CutShape->isHidden() || cut.isEmpty()) {
        prompt_.MessageBox(NoCutAreaMessage(), QString(), BoxButtons::Ok);
        return;
    }
    ui_->CutShape->hide();
    if (!ReplaceImage(EditImage, ImgKitRectCut(EditImage, cut.x(), cut.y(), cut.x() + cut.width(),
                                                cut.y() + cut.height()))) {
        ReportFailure();
        return;
    }
    ImageWidth = cut.width();
    ImageHeight = cut.height();
    Redraw();
}

// --- Rotations, reset ------------------------------------------------------------

void TEditForm::Rotate(int code, bool swapsSides)
{
    if (!ReplaceImage(EditImage, ImgKitRotation(EditImage, code))) {
        ReportFailure();
        return;
    }
    if (swapsSides)
        std::swap(ImageWidth, ImageHeight);
    Redraw();
}

void TEditForm::SpeedButton12Click() { Rotate(kImgKitRotateLeft, true); }
void TEditForm::SpeedButton13Click() { Rotate(kImgKitRotateRight, true); }
void TEditForm::SpeedButton14Click() { Rotate(kImgKitRotate180, false); }
void TEditForm::SpeedButton15Click() { Rotate(kImgKitMirror, false); }
void TEditForm::SpeedButton16Click() { Rotate(kImgKitFlipVertical, false); }

void TEditForm::SpeedButton3Click()
{
    if (!ReplaceImage(EditImage, ImgKitCopy(OriginalImage))) {
        ReportFailure();
        return;
    }
    ImageWidth = StartWidth;
    ImageHeight = StartHeight;
    ui_->Image->resize(StartWidth, StartHeight);
    ZoomLevel = 1;
    ui_->Image->SetAutoSize(true);
    ShowEditImage();
    CenterImage();
    SuppressTrackChange = true;
    ZeroTrackBars();
    SuppressTrackChange = false;
}

// --- Closing ----------------------------------------------------------------------

bool TEditForm::FormKeyDown(int key)
{
    if (ColorPreviewActive)
        return false;
    QScrollBar* h = ui_->ScrollBox->horizontalScrollBar();
    QScrollBar* v = ui_->ScrollBox->verticalScrollBar();
    switch (key) {
    case Qt::Key_Up: v->setValue(std::max(v->value() - kScrollStep, 0)); return true;
    case Qt::Key_Down: v->setValue(std::min(v->value() + kScrollStep, v->maximum())); return true;
    case Qt::Key_Left: h->setValue(std::max(h->value() - kScrollStep, 0)); return true;
    case Qt::Key_Right: h->setValue(std::min(h->value() + kScrollStep, h->maximum())); return true;
    case Qt::Key_Home: h->setValue(0); return true;
    case Qt::Key_End: h->setValue(h->maximum()); return true;  // the right edge
    case Qt::Key_Escape: CloseWindow(0); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: CloseWindow(1); return true;
    default: return false;
    }
}

void TEditForm::CloseWindow(int accepted)
{
    Accepted = accepted;
    done(accepted ? QDialog::Accepted : QDialog::Rejected);
}

void TEditForm::SpeedButton10Click() { FormKeyDown(Qt::Key_Escape); }
void TEditForm::SpeedButton11Click() { FormKeyDown(Qt::Key_Return); }

void TEditForm::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TEditForm::FormClose()
{
    // A preview still open is cancelled: its window stores its position.
    if (ColorPreviewActive && preview_)
        preview_->close();
    CloseWaitWindow();
    settings_.EditToolBarX = ui_->ToolBar->x();
    settings_.EditToolBarY = ui_->ToolBar->y();
    SaveSettings(settings_, store_);
    OriginalImage.Reset();
}

void TEditForm::keyPressEvent(QKeyEvent* event)
{
    bool handled = false;
    RunHandler(&prompt_, [&] { handled = FormKeyDown(event->key()); });
    if (handled)
        return;
    // Escape and Enter never close the window by the dialog's own rules.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: event->accept(); return;
    default: QDialog::keyPressEvent(event);
    }
}

bool TEditForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        bool handled = false;
        RunHandler(&prompt_, [&] { handled = FormKeyDown(static_cast<QKeyEvent*>(event)->key()); });
        if (handled)
            return true;
    } else if (watched == ui_->ToolBarHandle) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            ToolBarHandleMouseDown(p.x(), p.y());
            return true;
        }
        case QEvent::MouseMove: {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            ToolBarHandleMouseMove(p.x(), p.y());
            return true;
        }
        case QEvent::MouseButtonRelease: ToolBarHandleMouseUp(); return true;
        default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- Wait window -----------------------------------------------------------------

void TEditForm::ShowWaitWindow()
{
    if (wait_)
        return;
    wait_ = std::make_unique<TfWait>(this);
    wait_->ShowNow();
}

void TEditForm::CloseWaitWindow()
{
    if (!wait_)
        return;
    wait_->close();
    wait_.reset();
}

// --- Fixed-step adjustments ------------------------------------------------------------

void TEditForm::Brightness(double step)
{
    if (!ImgKitBright(EditImage, step)) {
        ReportFailure();
        return;
    }
    Redraw();
}

void TEditForm::Contrast(int c)
{
    TMDIB dib(EditImage);
    if (!dib.Contrast(c)) {
        ReportFailure();
        return;
    }
    Redraw();
}

void TEditForm::Gamma(int g)
{
    WaitScope wait(*this);
    TMDIB dib(EditImage);
    if (!dib.Gamma(g)) {
        CloseWaitWindow();
        ReportFailure();
        return;
    }
    Redraw();
}

void TEditForm::AutoCorrect(bool colorBalance)
{
    if (!IsWellFormed24()) {
        ReportFailure();
        return;
    }
    WaitScope wait(*this);
    if (colorBalance)
        AutoColorBalance(EditImage);
    else
        AutoContrast(EditImage);
    Redraw();
}

void TEditForm::SpeedButton4Click() { AutoCorrect(true); }
void TEditForm::SpeedButton5Click() { AutoCorrect(false); }
void TEditForm::SpeedButton17Click() { Brightness(-0.25); }
void TEditForm::SpeedButton18Click() { Brightness(0.25); }
void TEditForm::SpeedButton19Click() { Contrast(-10); }
void TEditForm::SpeedButton20Click() { Contrast(10); }
void TEditForm::SpeedButton21Click() { Gamma(90); }
void TEditForm::SpeedButton22Click() { Gamma(120); }

// --- Resizing ----------------------------------------------------------------------------

void TEditForm::ResizeTo(bool average)
{
    int newWidth = 0;
    int newHeight = 0;
    {
        TfSize dialog(this);
        dialog.StaticText1()->setText(QString::number(ImageHeight));
        dialog.StaticText2()->setText(QString::number(ImageWidth));
        prompt_.ExecModal(dialog);
        if (dialog.Confirmed != 1)
            return;
        newWidth = ParseDecimal(dialog.Edit2()->text());
        newHeight = ParseDecimal(dialog.Edit1()->text());
    }
    // A size no image can have (0, negative, beyond the block limits)
    // changes nothing.
    if (!DibSizeFits(newWidth, newHeight)) {
        prompt_.MessageBox(SizeRefusedMessage(), QString(), BoxButtons::Ok);
        return;
    }
    if (!IsWellFormed24()) {
        ReportFailure();
        return;
    }
    WaitScope wait(*this);
    ImageHandle resized = CreateDib(newWidth, newHeight, 3);
    if (!resized) {
        CloseWaitWindow();
        ReportFailure();
        return;
    }
    if (average)
        ResampleAverage(resized, EditImage);
    else
        ResampleBilinear(resized, EditImage);
    EditImage = std::move(resized);
    ImageWidth = newWidth;
    ImageHeight = newHeight;
    Redraw();
}

void TEditForm::SpeedButton7Click() { ResizeTo(true); }
void TEditForm::SpeedButton8Click() { ResizeTo(false); }

void TEditForm::SpeedButton9Click()
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(EditImage, info) || info.bitCount != 24) {
        ReportFailure();
        return;
    }
    const TargetBox box = TargetBoxFor(settings_);
    const double byWidth = double(box.width) / double(info.width);
    const double s = box.wholeBox ? std::min(byWidth, double(box.height) / double(info.height)) : byWidth;
    if (s > 1)
        return;  // never enlarged
    const int newWidth = std::max(ScaleSide(info.width, s), 1);
    const int newHeight = std::max(ScaleSide(info.height, s), 1);

    WaitScope wait(*this);
    bool ok = false;
    if (settings_.ResizeModeA == 0) {
        ImageHandle resized = CreateDib(newWidth, newHeight, 3);
        if (resized) {
            ResampleAverage(resized, EditImage);
            EditImage = std::move(resized);
            ok = true;
        }
    } else {
        ok = ReplaceImage(EditImage, ImgKitImageSize(EditImage, newWidth, newHeight));
    }
    if (!ok) {
        CloseWaitWindow();
        ReportFailure();
        return;
    }
    ImageWidth = newWidth;
    ImageHeight = newHeight;
    Redraw();
}

// --- Colour balance ------------------------------------------------------------------------

void TEditForm::SetToolButtonsEnabled(bool enabled)
{
    for (int i = 1; i <= 22; ++i)
        findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(i))->setEnabled(enabled);
}

void TEditForm::ZeroTrackBars()
{
    ui_->tbR->setValue(0);
    ui_->tbG->setValue(0);
    ui_->tbB->setValue(0);
}

void TEditForm::tbRChange()
{
    if (SuppressTrackChange)
        return;
    if (!ColorPreviewActive) {
        auto* window = new TfColorPreview(settings_, this);
        ConnectHandler(&prompt_, window, &TfColorPreview::Closed, this, &TEditForm::CancelColorPreview);
        PreviewImage = ImgKitCopy(EditImage);
        const QSize size = PreviewSize(ImageWidth, ImageHeight);
        // The preview must be the reduced copy: without it, no preview.
        if (!PreviewImage || !ReplaceImage(PreviewImage, ImgKitImageSize(PreviewImage, size.width(), size.height()))) {
            delete window;
            PreviewImage.Reset();
            SuppressTrackChange = true;
            ZeroTrackBars();
            SuppressTrackChange = false;
            ReportFailure();
            return;
        }
        preview_ = window;
        window->show();  // above the editor: a tool window that stays on top
        ColorPreviewActive = true;
        SetToolButtonsEnabled(false);
        ui_->SpeedButton23->setEnabled(true);
    }
    const ColorOffsets o = OffsetsFor(ui_->tbR->value(), ui_->tbG->value(), ui_->tbB->value());
    ImageHandle shown = ImgKitCopy(PreviewImage);
    if (!shown || !ImgKitRGB(shown, o.red, o.green, o.blue))
        return;
    TMDIB dib(shown);
    if (preview_)
        dib.DrawToImage(*preview_->Image1());
}

void TEditForm::SpeedButton23Click()
{
    if (!ColorPreviewActive)
        return;
    SuppressTrackChange = true;
    const ColorOffsets o = OffsetsFor(ui_->tbR->value(), ui_->tbG->value(), ui_->tbB->value());
    const bool applied = ImgKitRGB(EditImage, o.red, o.green, o.blue);
    if (applied)
        Redraw();
    LeavePreviewState();
    if (TfColorPreview* window = preview_.data()) {
        preview_ = nullptr;
        window->close();  // stores its position; the cancel does nothing now
        delete window;
    }
    SuppressTrackChange = false;
    if (!applied)
        ReportFailure();
}

void TEditForm::LeavePreviewState()
{
    PreviewImage.Reset();
    ColorPreviewActive = false;
    SetToolButtonsEnabled(true);
    ui_->SpeedButton23->setEnabled(false);
    ZeroTrackBars();
}

void TEditForm::CancelColorPreview()
{
    if (SuppressTrackChange || !ColorPreviewActive)
        return;
    SuppressTrackChange = true;
    LeavePreviewState();
    // The window is in the middle of closing: it goes once that is done.
    if (TfColorPreview* window = preview_.data()) {
        preview_ = nullptr;
        window->deleteLater();
    }
    SuppressTrackChange = false;
}
