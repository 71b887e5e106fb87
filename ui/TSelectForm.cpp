// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TSelectForm.h"
#include "widgets/Controls.h"

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
    setFont(FormFont(12));
    CentreOnScreen(this);
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
    SetList(names);
    return true;
}

void TSelectForm::SetList(const QStringList& names)
{
    ui_->ListBox->clear();
    ui_->ListBox->addItems(names);
    ui_->ListBox->setCurrentRow(-1);
    ui_->ListBox->clearSelection();
}

void TSelectForm::Preselect(const QString& name)
{
    const QList<QListWidgetItem*> found = ui_->ListBox->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty())
        ui_->ListBox->setCurrentItem(found.first());
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
