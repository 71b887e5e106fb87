// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TOptionForm.h"
#include "widgets/Controls.h"

#include "ui_TOptionForm.h"

#include "core/Decimal.h"
#include "core/Settings.h"
#include "widgets/Handlers.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

namespace {

const QColor kNavy(0x00, 0x00, 0x80);

// A radio group's selection into its setting. A group that shows no
// selection (its setting was outside the choices and the user picked none)
// leaves the setting as it was.
void TakeIndex(const TRadioGroup* group, int32_t& setting)
{
    const int index = group->ItemIndex();
    if (index >= 0)
        setting = index;
}

}  // namespace

TOptionForm::TOptionForm(Settings& settings, QSettings& store, bool archiveShared, QWidget* parent,
                         const QString& recognitionMissing)
    : QDialog(parent), ui_(std::make_unique<Ui::TOptionForm>()), settings_(settings), store_(store),
      shareChosen_(archiveShared)
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(528, 349);
    setFont(FormFont(12));
    for (QLabel* l : {ui_->Label3, ui_->Label8, ui_->Label9, ui_->Label10}) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::Active, QPalette::WindowText, kNavy);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, kNavy);
        l->setPalette(pal);
    }

    // Centred on the desktop, whatever the parent; placed again with its
    // frame once shown.
    CentreOnScreen(this);

    ConnectHandler(nullptr, ui_->Button1, &QPushButton::clicked, this, &TOptionForm::Button1Click);
    ConnectHandler(nullptr, ui_->Button2, &QPushButton::clicked, this, &QDialog::reject);
    ConnectHandler(nullptr, ui_->SpeedButton1, &QToolButton::clicked, this, &TOptionForm::SpeedButton1Click);
    ConnectHandler(nullptr, ui_->SpeedButton2, &QToolButton::clicked, this, &TOptionForm::SpeedButton2Click);
    ConnectHandler(nullptr, ui_->SpeedButton3, &QToolButton::clicked, this, &TOptionForm::SpeedButton3Click);
    ConnectHandler(nullptr, ui_->SpeedButton4, &QToolButton::clicked, this, &TOptionForm::SpeedButton4Click);
    ConnectHandler(nullptr, ui_->SpeedButton5, &QToolButton::clicked, this, &TOptionForm::SpeedButton5Click);
    ConnectHandler(nullptr, ui_->SpeedButton6, &QToolButton::clicked, this, &TOptionForm::SpeedButton6Click);

    ui_->RadioGroup1->SetItemIndex(settings_.KMode);
    ui_->RadioGroup2->SetItemIndex(settings_.JpegMode);
    ui_->RadioGroup3->SetItemIndex(settings_.ResizeModeA);
    ui_->RadioGroup4->SetItemIndex(settings_.ResizeModeT);
    ui_->RadioGroup5->SetItemIndex(settings_.AutoMode);
    ui_->RadioGroup6->SetItemIndex(settings_.WhiteMode);
    ui_->RadioGroup7->SetItemIndex(settings_.SaveFormat);
    ui_->RadioGroup8->SetItemIndex(settings_.CaptureMode);
    ui_->RadioGroup10->SetItemIndex(settings_.ScanMode);

    ui_->Edit1->setText(QString::number(settings_.KFX));
    ui_->Edit2->setText(QString::number(settings_.KFY));
    ui_->Edit3->setText(QString::number(settings_.ScanTop));
    ui_->Edit4->setText(QString::number(settings_.ScanBottom));
    ui_->Edit5->setText(QString::number(settings_.ScanLeft));
    ui_->Edit6->setText(QString::number(settings_.ScanRight));
    ui_->Edit7->setText(QString::number(settings_.ScanReso));

    ui_->RadioGroup9->SetItemIndex(archiveShared ? 1 : 0);

    const bool canRecognise = recognitionMissing.isEmpty();
    ui_->CheckBox1->setChecked(canRecognise && ReadRecognitionSetting(store_));
    ui_->CheckBox1->setEnabled(canRecognise);
    ui_->Label20->setText(recognitionMissing);
    ui_->PageControl1->setCurrentIndex(0);
}

TOptionForm::~TOptionForm() = default;

void TOptionForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TOptionForm::Button1Click()
{
    TakeIndex(ui_->RadioGroup1, settings_.KMode);
    TakeIndex(ui_->RadioGroup2, settings_.JpegMode);
    TakeIndex(ui_->RadioGroup3, settings_.ResizeModeA);
    TakeIndex(ui_->RadioGroup4, settings_.ResizeModeT);
    TakeIndex(ui_->RadioGroup5, settings_.AutoMode);
    TakeIndex(ui_->RadioGroup6, settings_.WhiteMode);
    TakeIndex(ui_->RadioGroup7, settings_.SaveFormat);
    TakeIndex(ui_->RadioGroup8, settings_.CaptureMode);
    TakeIndex(ui_->RadioGroup10, settings_.ScanMode);

    // Typed as the user likes: leading digits count, no range check.
    settings_.ScanTop = ParseDecimal(ui_->Edit3->text());
    settings_.ScanBottom = ParseDecimal(ui_->Edit4->text());
    settings_.ScanLeft = ParseDecimal(ui_->Edit5->text());
    settings_.ScanRight = ParseDecimal(ui_->Edit6->text());
    settings_.ScanReso = ParseDecimal(ui_->Edit7->text());
    settings_.KFX = ParseDecimal(ui_->Edit1->text());
    settings_.KFY = ParseDecimal(ui_->Edit2->text());

    SaveSettings(settings_, store_);
    if (ui_->CheckBox1->isEnabled())  // a machine without the data keeps the choice as it was
        WriteRecognitionSetting(store_, ui_->CheckBox1->isChecked());

    shareChosen_ = ui_->RadioGroup9->ItemIndex() == 1;
    accept();
}

void TOptionForm::SetScanArea(int top, int bottom, int left, int right)
{
    ui_->Edit3->setText(QString::number(top));
    ui_->Edit4->setText(QString::number(bottom));
    ui_->Edit5->setText(QString::number(left));
    ui_->Edit6->setText(QString::number(right));
}

// Paper sides in millimetres, top and left at 0; several are a millimetre
// short of the nominal side and are kept so.
void TOptionForm::SpeedButton1Click() { SetScanArea(0, 296, 0, 210); }
void TOptionForm::SpeedButton2Click() { SetScanArea(0, 256, 0, 181); }
void TOptionForm::SpeedButton3Click() { SetScanArea(0, 420, 0, 296); }
void TOptionForm::SpeedButton4Click() { SetScanArea(0, 362, 0, 256); }
void TOptionForm::SpeedButton5Click() { SetScanArea(0, 210, 0, 148); }
void TOptionForm::SpeedButton6Click() { SetScanArea(0, 181, 0, 128); }
