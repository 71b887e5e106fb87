// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scandialogs/ScanSelectDialog.h"
#include "imaging/scandialogs/SaneText.h"

#include "imaging/scan/ScanThread.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

const char* const kNoScannerText =
    "スキャナが見つかりません。\nスキャナの電源と接続（USB・ネットワーク）を確かめてから、もう一度お試しください。";

ScanSelectDialog::ScanSelectDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("scanSelectDialog"));
    setWindowTitle(QStringLiteral("スキャナの選択"));
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(QStringLiteral("スキャナを探しています…"), this);
    status_->setObjectName(QStringLiteral("scanSelectStatus"));
    status_->setWordWrap(true);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("scanDeviceList"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName(QStringLiteral("scanSelectOk"));
    ok_->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("scanSelectCancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    layout->addWidget(status_);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ScanSelectDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ScanSelectDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &ScanSelectDialog::accept);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { ok_->setEnabled(row >= 0); });
    resize(420, 300);
    scan::RunScanJob(this, [] { return scan::ListScanDevices(); },
                     [this](std::vector<scan::ScanDevice> d) { ShowDevices(std::move(d)); });
}

void ScanSelectDialog::ShowDevices(std::vector<scan::ScanDevice> devices)
{
    searching_ = false;
    devices_ = std::move(devices);
    list_->clear();
    if (devices_.empty()) {
        status_->setText(QString::fromUtf8(kNoScannerText));
        list_->hide();
        return;
    }
    status_->setText(QStringLiteral("使うスキャナを選んでください。"));
    const auto chosen = scan::FindStoredChoice(devices_);
    int current = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const auto& d = devices_[i];
        auto* item = new QListWidgetItem(list_);
        auto* label = new QLabel(QStringLiteral("%1 %2（%3）<br><small>%4</small>")
                                     .arg(d.vendor.toHtmlEscaped(), d.model.toHtmlEscaped(), SaneText(d.type).toHtmlEscaped(),
                                          d.name.toHtmlEscaped()));
        label->setObjectName(QStringLiteral("scanDevice_%1").arg(i));
        item->setData(Qt::UserRole, d.name);
        item->setSizeHint(label->sizeHint() + QSize(0, 6));
        list_->setItemWidget(item, label);
        if (chosen && chosen->name == d.name)
            current = int(i);
    }
    list_->setCurrentRow(current);
}

void ScanSelectDialog::accept()
{
    const int row = list_->currentRow();
    if (searching_ || row < 0 || std::size_t(row) >= devices_.size())
        return;
    scan::StoreScanChoice(devices_[std::size_t(row)]);
    QDialog::accept();
}
