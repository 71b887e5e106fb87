// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scanners SANE knows of, and the one the user chose.
//
// The choice is kept in the image library's own settings,
// QSettings("Osk", "ImgKit") (never among the program's settings), as the
// SANE device name and the vendor and model. The name alone does not last:
// a USB scanner comes back as "…:libusb:003:012" under another bus number,
// and sane-airscan numbers its devices afresh in each process ("e0:…"). So a
// stored choice is found again by its exact name first, else by the same
// vendor and model.

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace scan {

struct ScanDevice {
    QString name;  // the SANE device name, for sane_open
    QString vendor;
    QString model;
    QString type;
    friend bool operator==(const ScanDevice&, const ScanDevice&) = default;
};

// sane_get_devices (network devices included). Scan thread only.
std::vector<ScanDevice> ListScanDevices();

// The library's own settings store.
std::unique_ptr<QSettings> ImgKitSettings();

// Stores `device` as the chosen scanner.
void StoreScanChoice(const ScanDevice& device);
// The stored choice as it was stored, if any.
std::optional<ScanDevice> StoredScanChoice();
// The stored choice among `devices`: exact name first, else the first device
// with the same vendor and model; none when nothing is stored or nothing
// matches.
std::optional<ScanDevice> FindStoredChoice(const std::vector<ScanDevice>& devices);
// The device to scan with: the stored choice among `devices`, else the first
// device; none when `devices` is empty.
std::optional<ScanDevice> DeviceToUse(const std::vector<ScanDevice>& devices);

}  // namespace scan
