// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The progress window of a scan: a bar and a cancel button while the read
// loop runs on the scan thread. Cancel asks the loop to stop (it answers
// with no image); the window closes when the job has answered, never before,
// so nothing of the scan is left running behind a closed window.

#include "imaging/scan/ScanThread.h"
#include "imaging/scan/ScanReader.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

class ScanProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ScanProgressWindow(QWidget* parent);

    // The cancel flag the job reads.
    const std::atomic<bool>* CancelFlag() const { return cancel_.get(); }
    // A progress callback for the job (any thread); updates the bar.
    scan::ScanProgress Progress();
    void reject() override;  // Esc and the close box cancel too

private:
    std::shared_ptr<std::atomic<bool>> cancel_;
    QProgressBar* bar_;
    QLabel* label_;
    QPushButton* cancelButton_;
};

// Runs `work(cancel, progress)` on the scan thread with the progress window
// shown (modal) and returns its result; the event loop runs meanwhile.
template <class R>
R RunWithProgress(QWidget* parent, std::function<R(const std::atomic<bool>*, const scan::ScanProgress&)> work)
{
    ScanProgressWindow window(parent);
    auto result = std::make_shared<std::optional<R>>();
    const std::atomic<bool>* cancel = window.CancelFlag();
    scan::ScanProgress progress = window.Progress();
    // The flag lives as long as the window, and the window waits for the job.
    scan::RunScanJob(
        &window, [work, cancel, progress] { return work(cancel, progress); },
        [result, &window](R r) {
            *result = std::move(r);
            window.done(QDialog::Accepted);
        });
    window.exec();
    return std::move(**result);
}
