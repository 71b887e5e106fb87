// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scandialogs/ScanProgress.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ScanProgressWindow::ScanProgressWindow(QWidget* parent)
    : QDialog(parent), cancel_(std::make_shared<std::atomic<bool>>(false))
{
    setObjectName(QStringLiteral("scanProgressWindow"));
    setWindowTitle(QStringLiteral("スキャン中"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    label_ = new QLabel(QStringLiteral("スキャンしています…"), this);
    label_->setObjectName(QStringLiteral("scanProgressLabel"));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("scanProgressBar"));
    bar_->setRange(0, 0);  // busy until the first bytes tell the size
    cancelButton_ = new QPushButton(QStringLiteral("キャンセル"), this);
    cancelButton_->setObjectName(QStringLiteral("scanCancelButton"));
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    connect(cancelButton_, &QPushButton::clicked, this, &ScanProgressWindow::reject);
    setMinimumWidth(320);
}

void ScanProgressWindow::reject()
{
    // The window stays until the job answers (RunWithProgress closes it).
    cancel_->store(true);
    cancelButton_->setEnabled(false);
    label_->setText(QStringLiteral("キャンセルしています…"));
}

scan::ScanProgress ScanProgressWindow::Progress()
{
    QPointer<QProgressBar> bar(bar_);
    auto last = std::make_shared<int>(-2);
    return [bar, last](int frame, int64_t done, int64_t total) {
        const int percent = total > 0 ? int(done * 100 / total) : -1;
        if (percent == *last)
            return;
        *last = percent;
        QMetaObject::invokeMethod(
            bar.data(),
            [bar, percent, frame] {
                if (!bar)
                    return;
                if (percent < 0) {
                    bar->setRange(0, 0);
                } else {
                    bar->setRange(0, 100);
                    bar->setValue(percent);
                }
                bar->setFormat(frame > 0 ? QStringLiteral("%p% (%1/3)").arg(frame + 1) : QStringLiteral("%p%"));
            },
            Qt::QueuedConnection);
    };
}
