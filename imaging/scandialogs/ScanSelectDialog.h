// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scanner selection dialog: the devices SANE finds (found on the scan
// thread, so the window answers while network discovery runs), vendor,
// model and type with the SANE device name in small print. OK stores the
// choice; with no device the dialog says so and OK stays off.

#include "imaging/scan/ScanDevices.h"

#include <QDialog>

#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

// The message shown in a scanner window when SANE finds no scanner.
extern const char* const kNoScannerText;

class ScanSelectDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanSelectDialog(QWidget* parent = nullptr);

    bool Searching() const { return searching_; }
    const std::vector<scan::ScanDevice>& Devices() const { return devices_; }
    void accept() override;

private:
    void ShowDevices(std::vector<scan::ScanDevice> devices);

    std::vector<scan::ScanDevice> devices_;
    bool searching_ = true;
    QLabel* status_;
    QListWidget* list_;
    QPushButton* ok_;
};
