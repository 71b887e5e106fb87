// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one-shot scan: a scan with the values of an ImgKitScanEasyBlock and no
// window. The calls here run on the scan thread; ImgKitScanEasy
// (imaging/scandialogs) posts them there and shows the progress.

#include "imaging/scan/SaneDevice.h"
#include "imaging/scan/ScanReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// The one-shot block, laid out as the image library has it.
struct ImgKitScanEasyBlock {
    int16_t mode = 2;  // kImgKitScan… below
    // (2 bytes of padding)
    float left = 0;    // scan area, inches from the bed's top-left corner
    float top = 0;
    float right = 8.27f;
    float bottom = 11.69f;
    float resolution = 300;  // dpi
    int32_t error = 0;       // set when no image comes back (kImgKitScanError…)
};
static_assert(sizeof(ImgKitScanEasyBlock) == 28);
static_assert(offsetof(ImgKitScanEasyBlock, left) == 4);
static_assert(offsetof(ImgKitScanEasyBlock, error) == 24);

enum : int16_t {
    kImgKitScanBilevel = 0,  // black and white, 1 bit
    kImgKitScanGray = 1,
    kImgKitScanColor = 2,  // full colour, 24 bits
    kImgKitScanPalette = 3,
};

enum : int32_t {
    kImgKitScanOk = 0,
    kImgKitScanErrorNoMemory = 1,
    kImgKitScanErrorUnsupported = 2,  // this scanner cannot do it (a mode it lacks)
    kImgKitScanErrorSettings = 3,     // values the scanner does not take
    kImgKitScanErrorOther = 4,
    kImgKitScanErrorCancelled = 5,
};

namespace scan {

// The error code of the block for a SANE status of a scan: NO_MEM → 1,
// CANCELLED → 5, anything else → 4 (GOOD → 0).
int32_t EasyErrorForStatus(SANE_Status status);

// The device's name for a mode of the block among the values of its "mode"
// option; empty when it has none. Line art on a device without a line-art
// mode is its grey mode at depth 1 (`depthOne` set), when its depth option
// offers 1.
QString ModeNameFor(const SaneDevice& device, int mode, bool* depthOne);

// Turns the block into the device's options: mode (and depth), resolution,
// then the scan area (page-height ahead of br-y). 0 when every value was
// taken, else the block's error code: a mode the device lacks → 2; a value
// outside what the device takes or refused by it (SANE_STATUS_INVAL) → 3;
// SANE_STATUS_NO_MEM → 1; any other failure → 4. `dpiX`/`dpiY` get the
// resolution the device ended up with.
int32_t ApplyEasyBlock(SaneDevice& device, const ImgKitScanEasyBlock& block, double* dpiX, double* dpiY);

struct EasyOutcome {
    ImageHandle image;
    int32_t error = kImgKitScanOk;
    QString detail;
};

// The whole one-shot scan on the device to use (the stored choice, else the
// first device; none at all → 4): open, ApplyEasyBlock, ReadScan.
EasyOutcome RunScanEasy(const ImgKitScanEasyBlock& block, const std::atomic<bool>* cancel = nullptr,
                        const ScanProgress& progress = {});
// The same on an open device. With `feederEmpty`, it is set when the scan
// ended because the device had no document to start with (sane_start
// answered SANE_STATUS_NO_DOCS: the document feeder is empty); the outcome
// is then the error 4 as for any other failed start.
EasyOutcome RunScanEasyOn(SaneDevice& device, const ImgKitScanEasyBlock& block,
                          const std::atomic<bool>* cancel = nullptr, const ScanProgress& progress = {},
                          bool* feederEmpty = nullptr);

// Opens the device RunScanEasy scans with when `name` is empty (the stored
// choice, else the first device), else the device of that SANE name. Null
// when there is none or it does not open, with `failure` holding the error
// code (no memory → 1, anything else → 4) and what went wrong.
std::unique_ptr<SaneDevice> OpenEasyDevice(const QString& name, EasyOutcome& failure);

// Sets the scan source of an open device to its document feeder (a value of
// the "source" option naming an automatic document feeder, one-sided before
// two-sided). 0 when set; 2 when the device has no such source; else the
// code of the refused set, as ApplyEasyBlock gives them.
int32_t SelectFeeder(SaneDevice& device);

// The resolution an open device will scan at (resolution, else x- and
// y-resolution; 0 when it has none).
void DeviceResolution(const SaneDevice& device, double* dpiX, double* dpiY);

}  // namespace scan
