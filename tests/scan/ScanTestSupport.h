// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared pieces of the scan tests: running work on the scan thread, reading
// the pixels of a block, and scanimage as the reference for what the test
// backend sends.

#include "imaging/ImageHandle.h"
#include "imaging/scan/SaneDevice.h"
#include "imaging/scan/ScanThread.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// Runs `f` on the scan thread and waits for it.
template <class F>
auto OnScan(F f)
{
    return scan::SubmitScanJob(std::move(f)).get();
}

// An open device that closes on the scan thread.
using DevicePtr = std::shared_ptr<scan::SaneDevice>;
DevicePtr OpenDevice(const QString& name = QStringLiteral("test:0"));

// Sets options in order on the scan thread; fails the test on a refusal.
void SetOptions(const DevicePtr& device, const QList<std::pair<QString, QVariant>>& values);

// One scan of an open device at its current options.
struct ScanResult {
    ImageHandle image;
    SANE_Status status;
};
ScanResult ScanNow(const DevicePtr& device);

// Pixel access, row 0 being the top of the picture: the colour-table index
// (1 and 8 bits) or 0xRRGGBB (24 bits).
uint32_t PixelAt(const ImageHandle& image, int x, int y);

// A picture read from scanimage's PNM output: P4 (1 = black), P5 and P6 at
// 8 or 16 bits (16-bit samples big-endian, only the high byte kept here).
struct Pnm {
    int kind = 0;  // 4, 5 or 6
    int width = 0;
    int height = 0;
    std::vector<uint8_t> samples;  // P5/P6: one byte per sample; P4: one byte (0/1) per pixel
};
// Runs scanimage on the device with the given options (SANE_CONFIG_DIR as
// for this process); false when it fails.
bool Scanimage(const QString& device, const QStringList& options, Pnm& out);

// Compares every pixel of a block with scanimage's picture; a message
// naming the first difference, or empty when they agree. With `cropped`,
// the block may be narrower than scanimage's picture and is compared with
// its left part.
QString CompareWithPnm(const ImageHandle& image, const Pnm& pnm, bool cropped = false);
