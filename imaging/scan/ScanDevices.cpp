// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/ScanDevices.h"

#include "imaging/scan/ScanThread.h"

#include <QSettings>
#include <sane/sane.h>

#include <cassert>
#include <memory>

namespace scan {

std::vector<ScanDevice> ListScanDevices()
{
    assert(OnScanThread());
    std::vector<ScanDevice> out;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return out;
    for (int i = 0; list[i]; ++i) {
        const SANE_Device* d = list[i];
        auto text = [](const char* s) { return s ? QString::fromUtf8(s) : QString(); };
        out.push_back({text(d->name), text(d->vendor), text(d->model), text(d->type)});
    }
    return out;
}

std::unique_ptr<QSettings> ImgKitSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("Osk"), QStringLiteral("ImgKit"));
}

void StoreScanChoice(const ScanDevice& device)
{
    auto s = ImgKitSettings();
    s->beginGroup(QStringLiteral("Scanner"));
    s->setValue(QStringLiteral("Name"), device.name);
    s->setValue(QStringLiteral("Vendor"), device.vendor);
    s->setValue(QStringLiteral("Model"), device.model);
    s->setValue(QStringLiteral("Type"), device.type);
    s->endGroup();
    s->sync();
}

std::optional<ScanDevice> StoredScanChoice()
{
    auto s = ImgKitSettings();
    s->beginGroup(QStringLiteral("Scanner"));
    ScanDevice d{s->value(QStringLiteral("Name")).toString(), s->value(QStringLiteral("Vendor")).toString(),
                 s->value(QStringLiteral("Model")).toString(), s->value(QStringLiteral("Type")).toString()};
    if (d.name.isEmpty() && d.vendor.isEmpty() && d.model.isEmpty())
        return std::nullopt;
    return d;
}

std::optional<ScanDevice> FindStoredChoice(const std::vector<ScanDevice>& devices)
{
    const auto stored = StoredScanChoice();
    if (!stored)
        return std::nullopt;
    for (const auto& d : devices)
        if (!stored->name.isEmpty() && d.name == stored->name)
            return d;
    if (stored->vendor.isEmpty() && stored->model.isEmpty())
        return std::nullopt;
    for (const auto& d : devices)
        if (d.vendor == stored->vendor && d.model == stored->model)
            return d;
    return std::nullopt;
}

std::optional<ScanDevice> DeviceToUse(const std::vector<ScanDevice>& devices)
{
    if (auto chosen = FindStoredChoice(devices))
        return chosen;
    if (devices.empty())
        return std::nullopt;
    return devices.front();
}

}  // namespace scan
