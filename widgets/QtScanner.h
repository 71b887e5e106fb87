// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Scanner the program uses: the image library's scanner windows, owned
// by the main window.

#include "imaging/scan/Scanner.h"

class QWidget;

class QtScanner : public Scanner {
public:
    explicit QtScanner(QWidget* window = nullptr) : window_(window) {}
    void SetWindow(QWidget* window) { window_ = window; }

    bool ScanSelect() override;
    ImageHandle Scan() override;
    ImageHandle ScanEasy(ImgKitScanEasyBlock& block) override;

private:
    QWidget* window_;
};
