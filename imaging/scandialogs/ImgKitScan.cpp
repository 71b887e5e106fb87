// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scandialogs/ImgKitScan.h"

#include "imaging/scan/ScanThread.h"
#include "imaging/scandialogs/ScanDialog.h"
#include "imaging/scandialogs/ScanProgress.h"
#include "imaging/scandialogs/ScanSelectDialog.h"

bool ImgKitScanSelect(QWidget* window)
{
    ScanSelectDialog dialog(window);
    return dialog.exec() == QDialog::Accepted;
}

ImageHandle ImgKitScan(QWidget* window)
{
    ScanDialog dialog(window);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.TakeImage();
}

ImageHandle ImgKitScanEasy(QWidget* window, ImgKitScanEasyBlock& block)
{
    const ImgKitScanEasyBlock values = block;
    scan::EasyOutcome out = RunWithProgress<scan::EasyOutcome>(
        window, [values](const std::atomic<bool>* cancel, const scan::ScanProgress& progress) {
            return scan::RunScanEasy(values, cancel, progress);
        });
    block.error = out.image ? kImgKitScanOk : (out.error != kImgKitScanOk ? out.error : kImgKitScanErrorOther);
    return std::move(out.image);
}

void ImgKitScanShutdown()
{
    scan::ShutdownScanning();
}
