// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TForm1.h"

#include "core/ArchiveFiles.h"
#include "core/Categories.h"
#include "core/CommandState.h"
#include "core/NetLock.h"
#include "core/Prompt.h"
#include "core/PageText.h"
#include "core/Settings.h"
#include "editor/TEditForm.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/GridPicture.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/PageRecognition.h"
#include "text/ocr/Recogniser.h"
#include "imaging/SpiLoad.h"
#include "imaging/scan/ScanEasySettings.h"
#include "core/Failure.h"
#include "widgets/Controls.h"
#include "widgets/Handlers.h"
#include "widgets/QtScanner.h"
#include "widgets/TApplication.h"
#include "ui/CommandKeys.h"
#include "ui/TMessage1Form.h"
#include "ui/PrintPage.h"
#include "ui/TOptionForm.h"
#include "ui/TSearchForm.h"
#include "ui/TSelectForm.h"
#include "ui/TVersionForm.h"
#include "ui/TfNewFolder.h"
#include "viewer/TDummy.h"
#include "viewer/TViewerForm.h"
#include "ui_TForm1.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QPrinter>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QWheelEvent>
#include <utility>

namespace {

const QColor kButtonFace(0xD4, 0xD0, 0xC8);
const QColor kButtonShadow(0x80, 0x80, 0x80);
const QColor kDarkShadow(0x40, 0x40, 0x40);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kBlue(0x00, 0x00, 0xFF);

const QString kEmptyCategoryText = QStringLiteral("この分類には画像ページがありません");
const QString kNone = QStringLiteral("なし");

}  // namespace

TForm1::TForm1(Prompt& prompt, const QString& archiveRoot, QWidget* parent)
    : QWidget(parent), Desk(archiveRoot, AppSettings()), ProgramFolder(Desk.ArchiveRoot), prompt_(prompt),
      qtScanner_(std::make_unique<QtScanner>(this)), ui_(std::make_unique<Ui::TForm1>())
{
    ScanSeam = qtScanner_.get();
    ui_->setupUi(this);
    setWindowTitle(TApplication::Title());
    // Fixed-size dialog border: system menu and minimise only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(694, 478);
    setFont(FormFont(12));
    ui_->Panel003->setFont(FormFont(19));

    ui_->Panel5->SetColor(kDarkShadow);
    for (QLabel* l : {ui_->StaticText1, ui_->StaticText3, ui_->StaticText5}) {
        l->setAutoFillBackground(true);
        QPalette pal = l->palette();
        pal.setColor(QPalette::Window, kButtonFace);
        l->setPalette(pal);
    }
    ui_->StaticText7->SetColor(kSilver);
    {
        // The category list sits on the colour of an inactive window border.
        QPalette pal = ui_->ListBox->palette();
        pal.setColor(QPalette::Base, QColor(0xD4, 0xD0, 0xC8));
        ui_->ListBox->setPalette(pal);
    }

    slots_ = {Slot{ui_->Panel0, ui_->CheckBox0, ui_->Label0, ui_->Image0, ui_->Memo0},
              Slot{ui_->Panel1, ui_->CheckBox1, ui_->Label1, ui_->Image1, ui_->Memo1},
              Slot{ui_->Panel2, ui_->CheckBox2, ui_->Label2, ui_->Image2, ui_->Memo2},
              Slot{ui_->Panel3, ui_->CheckBox3, ui_->Label3, ui_->Image3, ui_->Memo3}};
    for (const Slot& s : slots_) {
        s.panel->setFont(FormFont(12));
        s.memo->setFont(FormFont(12, true));
        s.image->SetCenter(true);
        s.panel->SetColor(kButtonFace);
        ConnectHandler(&prompt_, s.image, &TImage::Clicked, this, &TForm1::Image0Click);
        ConnectHandler(&prompt_, s.image, &TImage::DoubleClicked, this, &TForm1::Image0DblClick);
        ConnectHandler(&prompt_, s.image, &TImage::MouseDown, this,
                [this](Qt::MouseButton b, QPoint global, QPoint) { Image0MouseDown(b, global); });
        ConnectHandler(&prompt_, s.check, &QCheckBox::clicked, this, &TForm1::CheckBox0Click);
    }
    connect(&Desk, &MainController::changed, this, &TForm1::DeskChanged);

    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(QStringLiteral("PopupMenu"));
    popupMenu_->addAction(ui_->N1);
    popupMenu_->addAction(ui_->Print1);
    popupMenu_->addAction(ui_->Delete1);
    popupMenu_->addAction(ui_->N5);
    popupMenu_->addAction(ui_->N6);
    popupMenu_->addAction(ui_->N7);
    QMenu* order = new QMenu(ui_->N2->text(), popupMenu_);
    order->setObjectName(QStringLiteral("N2Menu"));
    order->addAction(ui_->N3);
    order->addAction(ui_->N4);
    ui_->N2->setMenu(order);
    popupMenu_->addAction(ui_->N2);

    ConnectHandler(&prompt_, ui_->MenuSelect1, &QToolButton::clicked, this, &TForm1::MenuSelect1Click);
    ConnectHandler(&prompt_, ui_->MenuSelect2, &QToolButton::clicked, this, &TForm1::MenuSelect2Click);
    ConnectHandler(&prompt_, ui_->MenuSelect3, &QToolButton::clicked, this, &TForm1::MenuSelect3Click);
    ConnectHandler(&prompt_, ui_->MenuSelect4, &QToolButton::clicked, this, &TForm1::MenuSelect4Click);
    ConnectHandler(&prompt_, ui_->SpeedButton4, &QToolButton::clicked, this, &TForm1::SpeedButton4Click);
    ConnectHandler(&prompt_, ui_->ListBox, &QListWidget::itemSelectionChanged, this, [this] {
        if (!suppressListClick_)
            ListBoxClick();
    });
    ConnectHandler(&prompt_, ui_->SpeedButton11, &QToolButton::clicked, this, &TForm1::SpeedButton11Click);
    ConnectHandler(&prompt_, ui_->SpeedButton12, &QToolButton::clicked, this, &TForm1::SpeedButton12Click);
    ConnectHandler(&prompt_, ui_->SpeedButton13, &QToolButton::clicked, this, &TForm1::SpeedButton13Click);
    ConnectHandler(&prompt_, ui_->Menu01, &QToolButton::clicked, this, &TForm1::Menu01Click);
    ConnectHandler(&prompt_, ui_->Menu02, &QToolButton::clicked, this, &TForm1::Menu02Click);
    ConnectHandler(&prompt_, ui_->Menu03, &QToolButton::clicked, this, &TForm1::Menu03Click);
    ConnectHandler(&prompt_, ui_->Menu04, &QToolButton::clicked, this, &TForm1::Menu04Click);
    ConnectHandler(&prompt_, ui_->Menu05, &QToolButton::clicked, this, &TForm1::Menu05Click);
    ConnectHandler(&prompt_, ui_->Menu06, &QToolButton::clicked, this, &TForm1::Menu06Click);
    ConnectHandler(&prompt_, ui_->Menu07, &QToolButton::clicked, this, &TForm1::Menu07Click);
    ConnectHandler(&prompt_, ui_->Menu08, &QToolButton::clicked, this, &TForm1::Menu08Click);
    ConnectHandler(&prompt_, ui_->Menu09, &QToolButton::clicked, this, &TForm1::Menu09Click);
    ConnectHandler(&prompt_, ui_->ManAutoSW, &TStaticText::Clicked, this, &TForm1::Menu10Click);
    ConnectHandler(&prompt_, ui_->SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    ConnectHandler(&prompt_, ui_->SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    ConnectHandler(&prompt_, ui_->SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);
    ConnectHandler(&prompt_, ui_->SpeedButton18, &QToolButton::clicked, this, &TForm1::SpeedButton18Click);
    ConnectHandler(&prompt_, ui_->SpeedButton19, &QToolButton::clicked, this, &TForm1::SpeedButton19Click);
    ConnectHandler(&prompt_, ui_->SpeedButton20, &QToolButton::clicked, this, &TForm1::SpeedButton20Click);
    ConnectHandler(&prompt_, ui_->SpeedButton21, &QToolButton::clicked, this, &TForm1::SpeedButton21Click);
    ConnectHandler(&prompt_, ui_->SpeedButton22, &QToolButton::clicked, this, &TForm1::SpeedButton22Click);
    ConnectHandler(&prompt_, ui_->SpeedButton23, &QToolButton::clicked, this, &TForm1::SpeedButton23Click);
    // Keys a memo edits with (Delete, Home, Enter, paging) are the memo's
    // while it has the focus: those shortcuts rest meanwhile.
    std::vector<QShortcut*> plainKeys;
    for (const CommandKey& key : MainWindowKeys()) {
        QWidget* control = findChild<QWidget*>(key.control);
        auto* shortcut = new QShortcut(key.key, this);
        if (!(key.key[0].keyboardModifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            plainKeys.push_back(shortcut);
        ConnectHandler(&prompt_, shortcut, &QShortcut::activated, this, [this, control, key] {
            if (!control || !control->isEnabled() || !control->isVisible())
                return;
            if (key.step == CommandKey::FirstPages) {
                SaveVisibleMemos();
                Desk.PageTo(0);
            } else if (key.step == CommandKey::LastPages) {
                SaveVisibleMemos();
                Desk.PageTo(LastFourStart(Grid.P));
            } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                button->click();
            } else {
                Menu10Click();  // the mode switch, a static text that takes clicks
            }
        });
    }
    connect(qApp, &QApplication::focusChanged, this, [plainKeys](QWidget*, QWidget* now) {
        const bool inMemo = qobject_cast<QPlainTextEdit*>(now) != nullptr;
        for (QShortcut* shortcut : plainKeys)
            shortcut->setEnabled(!inMemo);
    });
    ConnectHandler(&prompt_, ui_->N1, &QAction::triggered, this, &TForm1::Menu01Click);
    ConnectHandler(&prompt_, ui_->Print1, &QAction::triggered, this, &TForm1::Menu02Click);
    ConnectHandler(&prompt_, ui_->Delete1, &QAction::triggered, this, &TForm1::Menu03Click);
    ConnectHandler(&prompt_, ui_->N5, &QAction::triggered, this, &TForm1::Menu09Click);
    ConnectHandler(&prompt_, ui_->N6, &QAction::triggered, this, &TForm1::SpeedButton1Click);
    ConnectHandler(&prompt_, ui_->N7, &QAction::triggered, this, &TForm1::SpeedButton3Click);
    ConnectHandler(&prompt_, ui_->N3, &QAction::triggered, this, &TForm1::Menu04Click);
    ConnectHandler(&prompt_, ui_->N4, &QAction::triggered, this, &TForm1::Menu05Click);

    ApplyHints(this);
    recognition_ = std::make_unique<PageRecognition>(Session, [] { return ReadRecognitionSetting(AppSettingsStore()); });
    connect(recognition_.get(), &PageRecognition::TextStored, this, [this] {
        if (search_)
            search_->ArchiveChanged();
    });
    viewer_ = std::make_unique<TViewerForm>(prompt_, AppSettings(), AppSettingsStore(), this);
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

void TForm1::FormCreate()
{
    // The Susie plug-ins of the archive root (the program's folder), once;
    // never those of the folder it happened to be started from.
    AppSpiLoader().LoadPlugins(ArchiveRoot);
    PluginLoad = [](const QString& path) { return AppSpiLoader().LoadImage(path); };
    ViewerLoad = [](const QString& path) { return ImgKitFileLoad(path); };
    ui_->SpeedButton4->setEnabled(ArchiveShared);
    ShowLockIndicator();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.center() - rect().center());
    }
    RunHandler(&prompt_, [this] { FormShow(); });
}

void TForm1::FormShow()
{
    LoadSettings(AppSettings(), AppSettingsStore());
    viewer_->SetToolPanelPos(AppSettings().ViewerToolBarX, AppSettings().ViewerToolBarY);
    ShowModeSwitch();
    ListCategories();
    SelectCategoryRow(0);
}

void TForm1::SelectCategoryRow(int row)
{
    suppressListClick_ = true;
    if (row >= 0 && row < ui_->ListBox->count())
        ui_->ListBox->setCurrentRow(row);
    else
        ui_->ListBox->setCurrentRow(-1);
    suppressListClick_ = false;
    ListBoxClick();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A memo that cannot be saved keeps the window open (the error box has
    // said why).
    if (!RunHandler(&prompt_, [this] { FormClose(); })) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::FormClose()
{
    SaveVisibleMemos();
}

void TForm1::FormDestroy()
{
    Desk.GiveBackLock();
}

void TForm1::wheelEvent(QWheelEvent* event)
{
    const int dy = event->angleDelta().y();
    RunHandler(&prompt_, [this, dy] {
        if (dy < 0)
            FormMouseWheelDown();
        else if (dy > 0)
            FormMouseWheelUp();
    });
    event->accept();
}

void TForm1::FormMouseWheelDown()
{
    SpeedButton20Click();
}

void TForm1::FormMouseWheelUp()
{
    SpeedButton19Click();
}

void TForm1::ListCategories()
{
    suppressListClick_ = true;
    ui_->ListBox->clear();
    ui_->ListBox->addItems(Desk.Categories());
    suppressListClick_ = false;
}

void TForm1::ShowModeSwitch()
{
    const bool automatic = AppSettings().CaptureMode == 0;
    ui_->ManAutoSW->setText(automatic ? QStringLiteral("自動") : QStringLiteral("手動"));
    ui_->ManAutoSW->SetColor(automatic ? QColor(Qt::yellow) : QColor(Qt::cyan));
}

void TForm1::ShowLockIndicator()
{
    ui_->StaticText7->SetColor(LockHeld ? kBlue : kSilver);
    // Who writes, when another workstation does.
    const QString holder = Desk.LockHolderNote();
    QToolButton* button = ui_->SpeedButton4;
    if (!button->property("formHint").isValid())
        button->setProperty("formHint", button->toolTip());
    const QString hint = button->property("formHint").toString();
    button->setToolTip(holder.isEmpty() ? hint : hint + u'\n' + holder);
    ui_->StaticText7->setToolTip(holder);
}

void TForm1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow() || !shown_)
        return;
    // Back from another program: it may have written the list meanwhile.
    RunHandler(&prompt_, [this] { ReloadCategory(false); });
}

void TForm1::ReloadCategory(bool force)
{
    if (!force && !Desk.ListChangedOnDisk())
        return;
    SaveVisibleMemos();  // by the list they were shown from
    if (Desk.Reload(force))
        prompt_.MessageDlg(kListNotWritableMessage.arg(QFileInfo(CurrentFolder).fileName()), DlgIcon::Error);
}

bool TForm1::WritingAllowed() const
{
    return Session.WritingAllowed();
}

void TForm1::SetCommandStates(bool readOnly)
{
    const bool on = !readOnly;
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui_->SpeedButton11, ui_->SpeedButton12, ui_->SpeedButton13, ui_->Menu03, ui_->Menu04, ui_->Menu05,
             ui_->Menu07, ui_->Menu08, ui_->Menu09, ui_->SpeedButton1, ui_->SpeedButton2, ui_->SpeedButton3})
        w->setEnabled(on);
    for (QAction* a : {ui_->N2, ui_->N5, ui_->N6, ui_->N7, ui_->Delete1})
        a->setEnabled(on);
    commandsReadOnly_ = readOnly;
    for (int s = 0; s < kGridSlots; ++s)
        slots_[s].memo->setReadOnly(readOnly || (Desk.Slot(s).shown && !Desk.Slot(s).memoEditable));
}

// ---- category selection and the grid ----

void TForm1::ListBoxClick()
{
    SaveVisibleMemos();
    QListWidgetItem* item = ui_->ListBox->currentItem();
    Desk.SelectCategory(item && item->isSelected() ? item->text() : QString());
}

void TForm1::SelectNamedCategory(const QString& name)
{
    for (int i = 0; i < ui_->ListBox->count(); ++i) {
        if (ui_->ListBox->item(i)->text() == name) {
            SelectCategoryRow(i);
            return;
        }
    }
}

void TForm1::DeskChanged(MainController::What what)
{
    ShowLockIndicator();
    SetCommandStates(!Desk.WritingAllowed());
    if (what == MainController::What::Pages) {
        DrawSlots();
        if (search_)
            search_->ArchiveChanged();
        if (recognition_)
            recognition_->CatchUp();
    } else if (what == MainController::What::Selection)
        PaintSelection();
    UpdateStatus();
}

void TForm1::DrawGrid()
{
    Desk.LoadSlots();
    DrawSlots();
}

void TForm1::DrawSlots()
{
    ui_->Panel003->SetCaption(Grid.P < 1 ? kEmptyCategoryText : QString());
    // An entry that is no plain file name is listed, but nothing is read
    // through it: no picture, and its memo stays empty and read-only.
    std::vector<GridPictures::Files> files(kGridSlots);
    for (int s = 0; s < kGridSlots; ++s) {
        const MainController::SlotView& view = Desk.Slot(s);
        if (view.shown && view.namesFiles)
            files[s] = {view.thumbPath, view.imagePath};
    }
    const double ratio = devicePixelRatioF();
    const std::vector<QImage> pictures = gridPictures_->Load(files, ratio);
    std::vector<GridPictures::Files> next;
    for (int d = Grid.T + kGridSlots; ratio > 1 && d < std::min(Grid.P, Grid.T + 2 * kGridSlots); ++d)
        if (PageNamesFiles(CurrentFolder, Pages, d))
            next.push_back({ThumbPath(CurrentFolder, Pages, d), ImagePath(CurrentFolder, Pages, d)});
    gridPictures_->ReadAhead(next, ratio);
    for (int s = 0; s < kGridSlots; ++s) {
        const Slot& slot = slots_[s];
        const MainController::SlotView& view = Desk.Slot(s);
        const int d = Grid.T + s;
        slot.check->setChecked(Grid.Marked(d));
        slot.label->setText(QStringLiteral("Page %1").arg(d + 1));
        if (!view.shown) {
            slot.panel->hide();
            continue;
        }
        slot.panel->show();
        if (!pictures[s].isNull())
            slot.image->SetPicture(pictures[s]);
        else if (ImageHandle none = CreateDib(20, 20, 3); view.namesFiles)
            TMDIB(none).DrawToImage(*slot.image);  // a page whose pictures cannot be read
        else
            slot.image->ClearPicture();
        // A memo read cut says so below its text (never written back).
        slot.memo->setPlainText(view.note.isEmpty() ? view.memo : view.memo + QStringLiteral("\n\n") + view.note);
        slot.memo->setToolTip(view.note);
        slot.memo->setReadOnly(!view.memoEditable || commandsReadOnly_);
    }
    PaintSelection();
}

void TForm1::PaintSelection()
{
    for (int s = 0; s < kGridSlots; ++s) {
        slots_[s].check->setChecked(Grid.Marked(Grid.T + s));
        slots_[s].panel->SetColor(Grid.T + s == Grid.K ? kButtonShadow : kButtonFace);
    }
}

namespace {

// A count always shown whole: in the form's font when it fits, else in a
// smaller one (a list past the page limit may hold a million pages).
void ShowWhole(QLabel* field, const QString& text)
{
    QFont font = field->font();
    if (!field->property("formPixels").isValid())
        field->setProperty("formPixels", font.pixelSize());
    int pixels = field->property("formPixels").toInt();
    const int room = field->contentsRect().width() - 2;
    font.setPixelSize(pixels);
    while (pixels > 6 && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPixelSize(--pixels);
    field->setFont(font);
    field->setText(text);
    field->setToolTip(font.pixelSize() == field->property("formPixels").toInt() ? QString() : text);
}

}  // namespace

void TForm1::UpdateStatus()
{
    ShowWhole(ui_->StaticText2, QString::number(Grid.P));
    ShowWhole(ui_->StaticText4, QString::number(Grid.MarkedCount()));
    ShowWhole(ui_->StaticText6, Grid.K < 0 ? kNone : QString::number(Grid.K + 1));
}

void TForm1::SaveVisibleMemos()
{
    std::array<QString, 4> typed;
    for (int s = 0; s < kGridSlots; ++s)
        typed[s] = slots_[s].memo->toPlainText();
    const MainController::MemoSaving saving = Desk.SaveMemos(typed);
    if (!saving.ok)
        throw ReportedFailure(saving.message, saving.detail);
}

int TForm1::SlotOfSender(QObject* sender) const
{
    for (int s = 0; s < kGridSlots; ++s)
        if (sender == slots_[s].image || sender == slots_[s].check)
            return s;
    return -1;
}

void TForm1::ClickSlot(int s)
{
    Desk.Click(s);
}

void TForm1::Image0Click()
{
    ClickSlot(SlotOfSender(sender()));
}

void TForm1::Image0MouseDown(Qt::MouseButton button, QPoint globalPos)
{
    if (button != Qt::RightButton)
        return;
    ClickSlot(SlotOfSender(sender()));
    popupMenu_->popup(globalPos);
}

void TForm1::Image0DblClick()
{
    Menu01Click();
}

void TForm1::CheckBox0Click()
{
    const int s = SlotOfSender(sender());
    if (s >= 0)
        Desk.Mark(s, slots_[s].check->isChecked());
}

void TForm1::SpeedButton18Click()
{
    SaveVisibleMemos();
    Desk.PageTo(PageBackFour(Grid.T, Grid.P));
}

void TForm1::SpeedButton19Click()
{
    SaveVisibleMemos();
    Desk.PageTo(PageBackOne(Grid.T, Grid.P));
}

void TForm1::SpeedButton20Click()
{
    SaveVisibleMemos();
    Desk.PageTo(PageForwardOne(Grid.T, Grid.P));
}

void TForm1::SpeedButton21Click()
{
    SaveVisibleMemos();
    Desk.PageTo(PageForwardFour(Grid.T, Grid.P));
}

// ---- categories ----

void TForm1::SpeedButton11Click()
{
    TfNewFolder dialog(this);
    if (prompt_.ExecModal(dialog) != QDialog::Accepted)
        return;
    const QString name = dialog.Name();
    IoError error;
    if (!Desk.CreateCategory(name, &error))
        prompt_.MessageBox(QStringLiteral("指定された分類名のフォルダを作成できません"), QStringLiteral("Error"),
                           BoxButtons::Ok, error.reason);
    ListCategories();
    SelectNamedCategory(name);
}

void TForm1::SpeedButton12Click()
{
    if (!HasCategory())
        return;
    TfNewFolder dialog(this);
    dialog.SetForRename();
    if (prompt_.ExecModal(dialog) != QDialog::Accepted)
        return;
    const QString name = dialog.Name();
    IoError error;
    if (!Desk.RenameCategory(name, &error))
        prompt_.MessageBox(QStringLiteral("フォルダの名前が変更できません"), QStringLiteral("Error"), BoxButtons::Ok,
                           error.reason);
    ListCategories();
    SelectNamedCategory(name);
}

void TForm1::SpeedButton13Click()
{
    if (!HasCategory())
        return;
    if (prompt_.MessageBox(QStringLiteral("現在選択している分類を削除します\nよろしいですか？"), QString(),
                           BoxButtons::OkCancel)
        != BoxAnswer::Ok)
        return;
    if (!Desk.DeleteCategory()) {
        prompt_.MessageBox(QStringLiteral("分類の中にデータが残っています。\n"
                                          "全部のページを削除または移動してから分類を削除してください。"),
                           QStringLiteral("Error"), BoxButtons::Ok);
        return;
    }
    ListCategories();
    SelectCategoryRow(0);
}

// ---- shared-write lock and options ----

void TForm1::SpeedButton4Click()
{
    if (!ArchiveShared)
        return;
    if (LockHeld) {
        SaveVisibleMemos();
        Desk.GiveBackLock();
        return;
    }
    Desk.TakeLock([this] {
        return prompt_.MessageBox(
                   QStringLiteral("既に他の人が書込モードで使用中です。\n強制的に書込モードにしますか？\n"
                                  "書込使用中のPCが異常終了した場合など、強制的に書込モードにする場合は「はい」を、\n"
                                  "書込モードをキャンセルする場合は「いいえ」をクリックしてください"),
                   QStringLiteral("共有スペースへの書込権限取得"), BoxButtons::YesNo,
                   QStringLiteral("書込使用中: ") + LockHolderText(ArchiveRoot))
               == BoxAnswer::Yes;
    });
}

void TForm1::MenuSelect2Click()
{
    TOptionForm form(AppSettings(), AppSettingsStore(), ArchiveShared, this, AvailableLanguages().message);
    if (prompt_.ExecModal(form) == QDialog::Accepted)
        ApplySharingChoice(form.ShareChosen());
}

void TForm1::ApplySharingChoice(bool share)
{
    Desk.SetSharing(share);
    ui_->SpeedButton4->setEnabled(ArchiveShared);
}

// ---- the rest of the window ----

void TForm1::MenuSelect1Click()
{
    TVersionForm form(this);
    prompt_.ExecModal(form);
}

void TForm1::MenuSelect3Click()
{
    prompt_.OpenDocument(QDir(ProgramFolder).filePath(TApplication::HelpFileName()));
}

void TForm1::MenuSelect4Click()
{
    close();
}

void TForm1::Menu10Click()
{
    Settings& s = AppSettings();
    s.CaptureMode = s.CaptureMode == 0 ? 1 : 0;
    ShowModeSwitch();
    SaveSettings(s, AppSettingsStore());
}

void TForm1::Menu01Click()
{
    ShowPageInViewer();
}

void TForm1::ShowPageInViewer(const std::vector<QRect>& outlines)
{
    if (!HasCategory() || Grid.K < 0 || Grid.K >= Grid.P)
        return;
    int page = Grid.K;  // turning pages leaves the clicked page as it is
    const TDummy backdrop(this);
    for (;;) {
        // One page block at a time: the shown page's goes before the next loads.
        ImageHandle block = ViewerLoad(ResolveExistingPath(ImagePath(CurrentFolder, Pages, page)));
        if (!block) {
            prompt_.MessageDlg(QStringLiteral("画像ファイルを読み込めません"), DlgIcon::Error);
            return;
        }
        if (!viewer_->DrawPage(block)) {
            prompt_.MessageBox(Zoom::TooLargeMessage(), QString(), BoxButtons::Ok);
            return;
        }
        if (page == Grid.K)
            viewer_->OutlineOnPage(outlines);
        viewer_->PlaceOnScreen();
        viewer_->PageTurn = TViewerForm::kNoTurn;
        prompt_.ExecModal(*viewer_);
        const int next = TurnedPage(page, viewer_->PageTurn, Grid.P);
        if (next < 0)
            return;
        page = next;
    }
}
void TForm1::SpeedButton22Click()
{
    if (!search_) {
        search_ = std::make_unique<TSearchForm>(ArchiveRoot, this);
        ConnectHandler(&prompt_, search_.get(), &TSearchForm::HitChosen, this,
                       [this](const SearchHit& hit) { ShowSearchHit(hit, false); });
        ConnectHandler(&prompt_, search_.get(), &TSearchForm::HitOpened, this,
                       [this](const SearchHit& hit) { ShowSearchHit(hit, true); });
    }
    search_->show();
    search_->raise();
    search_->activateWindow();
}

void TForm1::ShowSearchHit(const SearchHit& hit, bool fullScreen)
{
    SaveVisibleMemos();
    const QListWidgetItem* current = ui_->ListBox->currentItem();
    if (!HasCategory() || !current || current->text() != hit.category)
        SelectNamedCategory(hit.category);
    else
        ReloadCategory(false);  // the hit may be older than what the list shows
    const QListWidgetItem* now = ui_->ListBox->currentItem();
    const int index = HasCategory() && now && now->text() == hit.category ? Desk.ShowEntry(hit.entry, hit.pageIndex) : -1;
    if (index < 0) {
        // Deleted or moved since the search read it.
        if (search_)
            search_->ArchiveChanged();
        prompt_.MessageDlg(QStringLiteral("このページは移動または削除されています"), DlgIcon::Error);
        return;
    }
    if (!fullScreen)
        return;
    std::vector<QRect> outlines;
    if (hit.source == SearchHit::Words) {
        const std::optional<PageText> text = ReadPageText(WordsPathOfEntry(CurrentFolder, hit.entry));
        for (int w : hit.words)
            if (text && w >= 0 && w < int(text->words.size()))
                outlines.push_back(text->words[w].box);
    }
    ShowPageInViewer(outlines);
}

void TForm1::Menu02Click()
{
    if (!HasClickedPage())
        return;
    PrintPageImage(prompt_, Printer(), ResolveExistingPath(ImagePath(CurrentFolder, Pages, Grid.K)));
}

QPrinter& TForm1::Printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}
void TForm1::Menu03Click()
{
    // What was typed into the memos is kept before the grid is drawn again.
    SaveVisibleMemos();
    if (!HasClickedPage())
        return;
    if (prompt_.MessageBox(QStringLiteral("現在選択されている画像ページを完全に削除します。\nよろしいですか？"), QString(),
                           BoxButtons::OkCancel) != BoxAnswer::Ok)
        return;
    ShowPageResult(Desk.DeleteClicked());
}

void TForm1::Menu04Click()
{
    SaveVisibleMemos();
    ShowPageResult(Desk.MoveClickedBefore());
}

void TForm1::Menu05Click()
{
    SaveVisibleMemos();
    ShowPageResult(Desk.MoveClickedAfter());
}
void TForm1::Menu06Click()
{
    (void)ScanSeam->ScanSelect();
}

void TForm1::Menu07Click()
{
    if (!BeginAddingPage())
        return;
    ImageHandle image = ScanSeam->Scan();
    if (!image)
        return;  // closed, cancelled or failed: the library's windows have said what there was to say
    AddAcquiredPage(std::move(image));
}

void TForm1::Menu08Click()
{
    if (!BeginAddingPage())
        return;
    // Both cases of each extension: archives and cameras write either.
    OpenFileRequest request;
    request.filters = {{QStringLiteral("All Files(*.*)"), QStringLiteral("*")},
                       {QStringLiteral("Bitmap(*.bmp)"), QStringLiteral("*.bmp;*.BMP")},
                       {QStringLiteral("JPEG(*.jpg)"), QStringLiteral("*.jpg;*.JPG")},
                       {QStringLiteral("TIFF(*,tif)"), QStringLiteral("*.tif;*.TIF")},
                       {QStringLiteral("PDF(*.pdf)"), QStringLiteral("*.pdf;*.PDF")}};
    const QString current = QDir::currentPath();
    const QString path = prompt_.GetOpenFileName(request);
    QDir::setCurrent(current);
    if (path.isEmpty())
        return;
    ImportFile(path);
}

void TForm1::ImportFile(const QString& path)
{
    if (IsPdfFile(path)) {
        AddPdfFile(path);
        return;
    }
    ImageHandle image = LoadImportedFile(path, [this](const QString& file) {
        repaint();  // the window is drawn again before a plug-in takes its time
        return PluginLoad ? PluginLoad(file) : ImageHandle();
    });
    if (!image) {
        prompt_.MessageBox(QStringLiteral("読込めないデータ形式です"), QString(), BoxButtons::Ok);
        return;
    }
    AddAcquiredPage(std::move(image));
}

void TForm1::OpenFiles(const QStringList& files)
{
    openedFiles_ += files;
    if (!openedFilesWait_) {
        openedFilesWait_ = new QTimer(this);
        openedFilesWait_->setInterval(100);
        connect(openedFilesWait_, &QTimer::timeout, this, &TForm1::TakeOpenedFiles);
    }
    QTimer::singleShot(0, this, &TForm1::TakeOpenedFiles);
}

void TForm1::TakeOpenedFiles()
{
    if (openedFiles_.isEmpty()) {
        openedFilesWait_->stop();
        return;
    }
    // A dialog, a menu or a page in the editor first: they are the user's
    // now, and the files are not going anywhere.
    if (!shown_ || QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        openedFilesWait_->start();
        return;
    }
    openedFilesWait_->stop();
    const QStringList files = std::exchange(openedFiles_, {});
    RunHandler(&prompt_, [this, files] { ImportOpenedFiles(files); });
    if (!openedFiles_.isEmpty())
        openedFilesWait_->start();  // more came while these were filed
}

void TForm1::ImportOpenedFiles(const QStringList& files)
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    SaveVisibleMemos();
    // Files given to be filed ask for the right to write, as the lock button does.
    if (!WritingAllowed() && ArchiveShared && !LockHeld)
        SpeedButton4Click();
    if (!WritingAllowed())
        return;

    QStringList names;
    for (int i = 0; i < ui_->ListBox->count(); ++i)
        names << ui_->ListBox->item(i)->text();
    TSelectForm dialog(prompt_, this);
    dialog.SetList(names);
    if (QListWidgetItem* current = ui_->ListBox->currentItem(); current && current->isSelected())
        dialog.Preselect(current->text());
    if (prompt_.ExecModal(dialog) != QDialog::Accepted || dialog.SelectedName().isEmpty())
        return;
    const QString destination = dialog.SelectedName();
    SelectNamedCategory(destination);
    if (!HasCategory() || QFileInfo(CurrentFolder).fileName() != destination)
        return;  // gone meanwhile
    for (const QString& path : files) {
        if (!WritingAllowed() || !BeginAddingPage())
            return;  // the lock went, or the category is full: the rest wait for the user
        ImportFile(path);
    }
}

void TForm1::AddPdfFile(const QString& path)
{
    // Each page processed automatically: a PDF of many pages is not put
    // through the editor page by page.
    TMessage1Form processing(this);
    processing.ShowNow();
    emit ProcessingWindowShown(&processing);
    const PdfIntakeResult result = Desk.AddPdfPages(path, [&](int, int) {
        processing.repaint();
        return true;
    });
    processing.close();
    ShowPageResult(result.outcome);
}

void TForm1::SpeedButton23Click()
{
    SaveVisibleMemos();
    if (!HasCategory() || Grid.P < 1)
        return;
    SaveFileRequest request;
    request.filters = {{QStringLiteral("PDF(*.pdf)"), QStringLiteral("*.pdf")}};
    request.fileName = QFileInfo(CurrentFolder).fileName();
    const QString current = QDir::currentPath();
    SaveFileAnswer answer = prompt_.GetSaveFileName(request);
    QDir::setCurrent(current);
    if (answer.path.isEmpty())
        return;
    if (QFileInfo(answer.path).suffix().isEmpty())
        answer.path += QStringLiteral(".pdf");
    const PdfExportResult result = Desk.SavePagesAsPdf(answer.path);
    if (!result.ok) {
        if (result.message == kPdfInsideCategoryMessage)
            prompt_.MessageDlg(kPdfInsideCategoryMessage, DlgIcon::Error);
        else
            prompt_.MessageDlg(QStringLiteral("PDFファイルを保存できません"), DlgIcon::Error,
                               result.error.reason.isEmpty() ? result.message : result.error.reason);
        return;
    }
    if (!result.skipped.empty()) {
        QStringList why;
        const std::vector<int> pages = Desk.PagesForPdf();
        for (const PdfSkippedPage& skipped : result.skipped)
            why << QStringLiteral("Page %1: %2").arg(pages[std::size_t(skipped.index)] + 1).arg(skipped.reason);
        prompt_.MessageDlg(QStringLiteral("画像を読み込めないページを除いて保存しました（%1ページ）").arg(result.skipped.size()),
                           DlgIcon::Information, why.join(u'\n'));
    }
}

bool TForm1::BeginAddingPage()
{
    SaveVisibleMemos();
    if (!HasCategory())
        return false;
    if (Session.PageLimitReached()) {
        prompt_.MessageDlg(kPageLimitMessage, DlgIcon::Error);
        return false;
    }
    return true;
}

void TForm1::AddAcquiredPage(ImageHandle image)
{
    if (!ImgKitMakeFullColour(image)) {
        prompt_.MessageBox(QStringLiteral("読込めないデータ形式です"), QString(), BoxButtons::Ok);
        return;
    }
    const Settings& settings = AppSettings();
    PageImages made;
    std::unique_ptr<TMessage1Form> processing;
    if (settings.CaptureMode == 1) {
        TEditForm editor(prompt_, AppSettings(), AppSettingsStore(), this);
        editor.EditImage = std::move(image);
        prompt_.ExecModal(editor);
        if (editor.Accepted == 0)
            return;  // nothing taken, nothing written; the editor's picture goes with it
        made = FinishEditedImage(editor.EditImage, AppSettings());
    } else {
        processing = std::make_unique<TMessage1Form>(this);
        processing->ShowNow();
        emit ProcessingWindowShown(processing.get());
        made = AutoProcessImage(image, settings);
        image.Reset();
    }
    const PageResult stored = Desk.AddPage(made);
    processing.reset();  // closed before any message
    ShowPageResult(stored);
}

void TForm1::ShowPageResult(const PageResult& result)
{
    if (result)
        return;
    if (result.asBox)
        prompt_.MessageBox(result.message, QString(), BoxButtons::Ok, result.error.reason);
    else
        prompt_.MessageDlg(result.message, DlgIcon::Error, result.error.reason);
}

ImageHandle TForm1::LoadClickedPage()
{
    ImageHandle image = Desk.LoadClickedPage();
    if (!image)
        prompt_.MessageDlg(QStringLiteral("画像ファイルを読み込めません"), DlgIcon::Error);
    return image;
}
void TForm1::Menu09Click()
{
    SaveVisibleMemos();
    if (!HasClickedPage())
        return;
    // The names travel to the dialog through a file of the category, as the
    // archive has always done it; it goes as soon as the dialog has read it.
    QStringList names;
    for (int i = 0; i < ui_->ListBox->count(); ++i)
        names << ui_->ListBox->item(i)->text();
    const QString temp = Desk.WriteDestinationList(names);
    if (temp.isEmpty())
        return;
    TSelectForm dialog(prompt_, this);
    if (!dialog.LoadList(temp))
        return;
    MainController::DropDestinationList(temp);
    if (prompt_.ExecModal(dialog) != QDialog::Accepted || dialog.SelectedName().isEmpty())
        return;
    ShowPageResult(Desk.MoveClickedTo(dialog.SelectedName()));
}

void TForm1::SpeedButton1Click()
{
    SaveVisibleMemos();
    if (!HasClickedPage())
        return;
    if (Session.PageLimitReached()) {
        prompt_.MessageDlg(kPageLimitMessage, DlgIcon::Error);
        return;
    }
    ShowPageResult(Desk.CopyClicked());
}
void TForm1::SpeedButton2Click()
{
    if (!BeginAddingPage())
        return;
    ImgKitScanEasyBlock block = ScanEasyBlockFromSettings(AppSettings());
    ImageHandle image = ScanSeam->ScanEasy(block);
    if (!image) {
        const QString message = ScanEasyErrorMessage(block.error);
        if (!message.isEmpty())
            prompt_.MessageBox(message, QStringLiteral("Tolvane"), BoxButtons::Ok);
        return;
    }
    AddAcquiredPage(std::move(image));
}
void TForm1::SpeedButton3Click()
{
    ReEditPage();
}

void TForm1::ReEditPage()
{
    SaveVisibleMemos();
    if (!HasClickedPage())
        return;
    ImageHandle image = LoadClickedPage();
    if (!image)
        return;

    PageImages edited;
    {
        TEditForm editor(prompt_, AppSettings(), AppSettingsStore(), this);
        editor.EditImage = std::move(image);
        prompt_.ExecModal(editor);
        if (editor.Accepted == 0)
            return;  // the editor's picture goes with it
        edited = FinishEditedImage(editor.EditImage, AppSettings());
    }
    ShowPageResult(Desk.ReplaceClicked(edited));
}
