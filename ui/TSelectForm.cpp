// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TSelectForm.h"

#include "core/ArchiveFiles.h"
#include "core/Prompt.h"
#include "widgets/Handlers.h"

#include "ui_TSelectForm.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

TSelectForm::TSelectForm(Prompt& prompt, QWidget* parent)
    : QDialog(parent), prompt_(prompt), ui_(std::make_unique<Ui::TSelectForm>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(223, 264);
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    setFont(f);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    ConnectHandler(&prompt_, ui_->Button1, &QPushButton::clicked, this, &TSelectForm::Button1Click);
}

TSelectForm::~TSelectForm() = default;

bool TSelectForm::LoadList(const QString& path)
{
    const std::optional<QByteArray> bytes = ReadWholeFile(path);
    if (!bytes)
        return false;
    QStringList names = QString::fromUtf8(*bytes).split(QStringLiteral("\r\n"));
    if (!names.isEmpty() && names.last().isEmpty())
        names.removeLast();
    ui_->ListBox->clear();
    ui_->ListBox->addItems(names);
    ui_->ListBox->setCurrentRow(-1);
    ui_->ListBox->clearSelection();
    return true;
}

QString TSelectForm::SelectedName() const
{
    const QList<QListWidgetItem*> selected = ui_->ListBox->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TSelectForm::Button1Click()
{
    if (ui_->ListBox->selectedItems().isEmpty()) {
        prompt_.MessageBox(QStringLiteral("移動先の分類が選択されていません"), QStringLiteral("Error"), BoxButtons::Ok);
        return;  // stays open
    }
    accept();
}

void TSelectForm::keyPressEvent(QKeyEvent* event)
{
    // Enter does not press a default button: OK checks the selection.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        RunHandler(&prompt_, [this] { Button1Click(); });
        return;
    }
    QDialog::keyPressEvent(event);
}
