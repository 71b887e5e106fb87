// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TfSize.h"
#include "widgets/Controls.h"

#include "ui_TfSize.h"

#include "core/Decimal.h"
#include "editor/EditorGeometry.h"
#include "widgets/Handlers.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

TfSize::TfSize(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::TfSize>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    // Client area of a 266 x 200 window with a dialog frame.
    setFixedSize(258, 173);
    setFont(FormFont(12));
    CentreOnScreen(this);

    ConnectHandler(nullptr, ui_->Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(ui_->Edit1); });
    ConnectHandler(nullptr, ui_->Edit2, &QLineEdit::textChanged, this, [this] { Edit1Change(ui_->Edit2); });
    ConnectHandler(nullptr, ui_->Button1, &QPushButton::clicked, this, &TfSize::Button1Click);
    ConnectHandler(nullptr, ui_->Button2, &QPushButton::clicked, this, &TfSize::Button2Click);

    // Every key reaches the dialog first.
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
}

TfSize::~TfSize() = default;

TStaticText* TfSize::StaticText1() const { return ui_->StaticText1; }
TStaticText* TfSize::StaticText2() const { return ui_->StaticText2; }
QLineEdit* TfSize::Edit1() const { return ui_->Edit1; }
QLineEdit* TfSize::Edit2() const { return ui_->Edit2; }
TRadioGroup* TfSize::RadioGroup1() const { return ui_->RadioGroup1; }

void TfSize::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunHandler(nullptr, [this] { FormShow(); });
}

void TfSize::FormShow()
{
    Updating = true;
    ui_->Edit1->setText(ui_->StaticText1->text());
    ui_->Edit2->setText(ui_->StaticText2->text());
    Updating = false;
    const int height = ParseDecimal(ui_->StaticText1->text());
    const int width = ParseDecimal(ui_->StaticText2->text());
    AspectRatio = (height > 0 && width > 0) ? double(width) / double(height) : 0.0;
    ui_->Edit1->setFocus();
    ui_->Edit1->selectAll();
}

void TfSize::Edit1Change(QObject* sender)
{
    if (Updating || ui_->RadioGroup1->ItemIndex() == 1 || AspectRatio <= 0)
        return;
    Updating = true;
    if (sender == ui_->Edit1)
        ui_->Edit2->setText(QString::number(ScaleSide(ParseDecimal(ui_->Edit1->text()), AspectRatio)));
    else if (sender == ui_->Edit2)
        ui_->Edit1->setText(
            QString::number(EditorGeometry::DivideSide(ParseDecimal(ui_->Edit2->text()), AspectRatio)));
    Updating = false;
}

void TfSize::Button1Click()
{
    CloseWith(1);
}

void TfSize::Button2Click()
{
    CloseWith(0);
}

void TfSize::CloseWith(int confirmed)
{
    Confirmed = confirmed;
    done(confirmed ? QDialog::Accepted : QDialog::Rejected);
}

bool TfSize::FormKeyDown(int key)
{
    switch (key) {
    case Qt::Key_Escape:
        CloseWith(0);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        CloseWith(1);
        return true;
    default:
        return false;
    }
}

bool TfSize::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && FormKeyDown(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TfSize::keyPressEvent(QKeyEvent* event)
{
    bool handled = false;
    RunHandler(nullptr, [&] { handled = FormKeyDown(event->key()); });
    if (handled)
        return;
    QDialog::keyPressEvent(event);
}
