// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TfNewFolder.h"
#include "widgets/Controls.h"

#include "ui_TfNewFolder.h"

#include <QKeyEvent>

TfNewFolder::TfNewFolder(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TfNewFolder>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(340, 131);
    setFont(FormFont(12));
    QPalette red = ui_->Label2->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ui_->Label2->setPalette(red);
    // Every key reaches the dialog first.
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    ui_->Edit1->setFocus();
}

TfNewFolder::~TfNewFolder() = default;

void TfNewFolder::SetForRename()
{
    ui_->Label1->setText(QStringLiteral("変更後の分類の名称"));
}

QString TfNewFolder::Name() const
{
    return ui_->Edit1->text();
}

void TfNewFolder::SetName(const QString& name)
{
    ui_->Edit1->setText(name);
}

bool TfNewFolder::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            reject();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfNewFolder::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape rejects
}
