// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/ScanEasy.h"

#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanThread.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <optional>

namespace scan {
namespace {

int32_t ErrorForSet(SANE_Status s)
{
    switch (s) {
    case SANE_STATUS_GOOD: return kImgKitScanOk;
    case SANE_STATUS_INVAL: return kImgKitScanErrorSettings;
    case SANE_STATUS_NO_MEM: return kImgKitScanErrorNoMemory;
    case SANE_STATUS_CANCELLED: return kImgKitScanErrorCancelled;
    default: return kImgKitScanErrorOther;
    }
}

bool Offers(const ScanOption& o, double v)
{
    if (o.constraint == SANE_CONSTRAINT_WORD_LIST) {
        for (double w : o.words)
            if (std::abs(w - v) < 1e-6)
                return true;
        return false;
    }
    if (o.constraint == SANE_CONSTRAINT_RANGE)
        return v >= o.min - 1e-9 && v <= o.max + 1e-9;
    return true;
}

// Sets a number option when the device has it active and settable; absent
// or read-only options are left alone (0).
int32_t SetNumber(SaneDevice& d, const char* name, double v)
{
    const ScanOption* o = d.Find(QLatin1String(name));
    if (!o || !o->Settable() || !o->IsNumber())
        return kImgKitScanOk;
    return ErrorForSet(d.Set(QLatin1String(name), v).status);
}

}  // namespace

int32_t EasyErrorForStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_GOOD: return kImgKitScanOk;
    case SANE_STATUS_NO_MEM: return kImgKitScanErrorNoMemory;
    case SANE_STATUS_CANCELLED: return kImgKitScanErrorCancelled;
    default: return kImgKitScanErrorOther;
    }
}

QString ModeNameFor(const SaneDevice& device, int mode, bool* depthOne)
{
    if (depthOne)
        *depthOne = false;
    const ScanOption* o = device.Find(QLatin1String(SANE_NAME_SCAN_MODE));
    if (!o || o->type != SANE_TYPE_STRING || mode < 0 || mode > 2)
        return {};
    // SANE has no palette frames: palette colour is never offered.
    static const char* const kNames[3][6] = {
        {SANE_VALUE_SCAN_MODE_LINEART, "Binary", "Black & White", "Line Art", "Lineart Mode", nullptr},
        {SANE_VALUE_SCAN_MODE_GRAY, "Grayscale", "Grey", "Greyscale", "Gray Scale", "True Gray"},
        {SANE_VALUE_SCAN_MODE_COLOR, "Colour", "24bit Color", "Color24", "True Color", nullptr},
    };
    for (const char* name : kNames[mode])
        if (name)
            for (const QString& s : o->strings)
                if (s.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                    return s;
    if (mode == kImgKitScanBilevel) {
        const ScanOption* depth = device.Find(QStringLiteral("depth"));
        const QString grey = ModeNameFor(device, kImgKitScanGray, nullptr);
        if (!grey.isEmpty() && depth && depth->Settable() && depth->IsNumber() && Offers(*depth, 1)) {
            if (depthOne)
                *depthOne = true;
            return grey;
        }
    }
    return {};
}

void DeviceResolution(const SaneDevice& device, double* dpiX, double* dpiY)
{
    auto value = [&](const char* name) {
        const ScanOption* o = device.Find(QLatin1String(name));
        return o && o->value.isValid() && o->count == 1 ? o->value.toDouble() : 0.0;
    };
    double x = value(SANE_NAME_SCAN_RESOLUTION);
    double y = x;
    if (x <= 0) {
        x = value(SANE_NAME_SCAN_X_RESOLUTION);
        y = value(SANE_NAME_SCAN_Y_RESOLUTION);
        if (y <= 0)
            y = x;
    }
    *dpiX = x;
    *dpiY = y;
}

int32_t ApplyEasyBlock(SaneDevice& device, const ImgKitScanEasyBlock& block, double* dpiX, double* dpiY)
{
    if (block.mode == kImgKitScanPalette)
        return kImgKitScanErrorUnsupported;
    if (block.mode < 0 || block.mode > kImgKitScanPalette)
        return kImgKitScanErrorSettings;
    const double area[4] = {block.left, block.top, block.right, block.bottom};
    for (double v : area)
        if (!std::isfinite(v) || v < 0)
            return kImgKitScanErrorSettings;
    if (!(block.right > block.left) || !(block.bottom > block.top) || !std::isfinite(block.resolution)
        || !(block.resolution > 0))
        return kImgKitScanErrorSettings;

    // Mode, then depth: both change what the other options may take.
    if (const ScanOption* m = device.Find(QLatin1String(SANE_NAME_SCAN_MODE)); m && m->Settable()) {
        bool depthOne = false;
        const QString name = ModeNameFor(device, block.mode, &depthOne);
        if (name.isEmpty())
            return kImgKitScanErrorUnsupported;
        if (int32_t e = ErrorForSet(device.Set(QLatin1String(SANE_NAME_SCAN_MODE), name).status))
            return e;
        const ScanOption* depth = device.Find(QStringLiteral("depth"));
        if (depth && depth->Settable() && depth->IsNumber()) {
            const double want = depthOne ? 1 : 8;
            if (depthOne || (block.mode != kImgKitScanBilevel && Offers(*depth, want)))
                if (int32_t e = ErrorForSet(device.Set(QStringLiteral("depth"), want).status))
                    return e;
        }
    }

    // Resolution: the nearest the device offers (Set puts it there).
    const double dpi = block.resolution;
    if (device.Find(QLatin1String(SANE_NAME_SCAN_RESOLUTION))) {
        if (int32_t e = SetNumber(device, SANE_NAME_SCAN_RESOLUTION, dpi))
            return e;
    } else {
        if (int32_t e = SetNumber(device, SANE_NAME_SCAN_X_RESOLUTION, dpi))
            return e;
        if (int32_t e = SetNumber(device, SANE_NAME_SCAN_Y_RESOLUTION, dpi))
            return e;
    }
    double rx = 0, ry = 0;
    DeviceResolution(device, &rx, &ry);
    if (rx <= 0)
        rx = ry = dpi;

    // The area in the unit of each option; outside its range → 3.
    auto inUnit = [&](const ScanOption& o, double inches, bool vertical, double* out) {
        if (o.unit == SANE_UNIT_MM)
            *out = inches * 25.4;
        else if (o.unit == SANE_UNIT_PIXEL)
            *out = inches * (vertical ? ry : rx);
        else
            return false;
        if (o.constraint == SANE_CONSTRAINT_RANGE) {
            // Floats of the block: allow what single precision rounds away.
            const double slack = std::max(1e-3, std::abs(*out) * 1e-6);
            if (*out < o.min - slack || *out > o.max + slack)
                return false;
            *out = std::clamp(*out, o.min, o.max);
        }
        return true;
    };
    struct Corner {
        const char* name;
        double inches;
        bool vertical;
    };
    auto setCorner = [&](const Corner& c) -> int32_t {
        const ScanOption* o = device.Find(QLatin1String(c.name));
        if (!o || !o->Settable() || !o->IsNumber())
            return kImgKitScanOk;
        double v = 0;
        if (!inUnit(*o, c.inches, c.vertical, &v))
            return kImgKitScanErrorSettings;
        return ErrorForSet(device.Set(QLatin1String(c.name), v).status);
    };
    // page-height bounds br-y on feeder scanners: it goes first.
    if (const ScanOption* ph = device.Find(QLatin1String(SANE_NAME_PAGE_HEIGHT)); ph && ph->Settable()) {
        double v = 0;
        if (!inUnit(*ph, block.bottom, true, &v))
            return kImgKitScanErrorSettings;
        const double now = ph->value.isValid() ? ph->value.toDouble() : 0;
        if (v > now)
            if (int32_t e = ErrorForSet(device.Set(QLatin1String(SANE_NAME_PAGE_HEIGHT), v).status))
                return e;
    }
    // A corner is set before the one opposite when it moves towards it, so
    // that the area never turns inside out in between.
    for (const auto& [tl, br] : {std::pair{Corner{SANE_NAME_SCAN_TL_X, block.left, false},
                                           Corner{SANE_NAME_SCAN_BR_X, block.right, false}},
                                 std::pair{Corner{SANE_NAME_SCAN_TL_Y, block.top, true},
                                           Corner{SANE_NAME_SCAN_BR_Y, block.bottom, true}}}) {
        const ScanOption* b = device.Find(QLatin1String(br.name));
        double brNow = b && b->value.isValid() ? b->value.toDouble() : 0;
        double tlNew = 0;
        const ScanOption* t = device.Find(QLatin1String(tl.name));
        const bool tlFirst = !(t && b && inUnit(*t, tl.inches, tl.vertical, &tlNew) && tlNew >= brNow);
        const Corner order[2] = {tlFirst ? tl : br, tlFirst ? br : tl};
        for (const Corner& c : order)
            if (int32_t e = setCorner(c))
                return e;
    }
    DeviceResolution(device, dpiX, dpiY);
    if (*dpiX <= 0)
        *dpiX = *dpiY = dpi;
    return kImgKitScanOk;
}

namespace {

// Tells a start that found no document from any other failure.
class StartWatch : public FrameSource {
public:
    explicit StartWatch(SANE_Handle h) : inner_(h) {}
    SANE_Status Start() override
    {
        const SANE_Status s = inner_.Start();
        if (starts_++ == 0 && s == SANE_STATUS_NO_DOCS)
            noDocument_ = true;
        return s;
    }
    SANE_Status Parameters(SANE_Parameters& p) override { return inner_.Parameters(p); }
    SANE_Status Read(uint8_t* b, int n, int* len) override { return inner_.Read(b, n, len); }
    void Cancel() override { inner_.Cancel(); }
    bool NoDocument() const { return noDocument_; }

private:
    SaneFrameSource inner_;
    int starts_ = 0;
    bool noDocument_ = false;
};

}  // namespace

EasyOutcome RunScanEasyOn(SaneDevice& device, const ImgKitScanEasyBlock& block, const std::atomic<bool>* cancel,
                          const ScanProgress& progress, bool* feederEmpty)
{
    assert(OnScanThread());
    if (feederEmpty)
        *feederEmpty = false;
    EasyOutcome out;
    double dpiX = 0, dpiY = 0;
    out.error = ApplyEasyBlock(device, block, &dpiX, &dpiY);
    if (out.error != kImgKitScanOk) {
        out.detail = QStringLiteral("the scanner does not take these settings");
        return out;
    }
    StartWatch source(device.Handle());
    ScanOutcome scan = ReadScan(source, dpiX, dpiY, cancel, progress);
    out.error = EasyErrorForStatus(scan.status);
    out.detail = scan.detail;
    out.image = std::move(scan.image);
    if (feederEmpty)
        *feederEmpty = source.NoDocument() && !out.image;
    return out;
}

std::unique_ptr<SaneDevice> OpenEasyDevice(const QString& name, EasyOutcome& failure)
{
    assert(OnScanThread());
    const std::vector<ScanDevice> devices = ListScanDevices();
    std::optional<ScanDevice> device;
    if (name.isEmpty()) {
        device = DeviceToUse(devices);
    } else {
        // A name SANE does not list may still open (a network address).
        device = ScanDevice{name, {}, {}, {}};
        for (const ScanDevice& d : devices)
            if (d.name == name)
                device = d;
    }
    if (!device) {
        failure.error = kImgKitScanErrorOther;
        failure.detail = QStringLiteral("no scanner");
        return nullptr;
    }
    SANE_Status status = SANE_STATUS_GOOD;
    auto open = SaneDevice::Open(device->name, device->vendor, device->model, &status);
    if (!open) {
        failure.error = status == SANE_STATUS_NO_MEM ? kImgKitScanErrorNoMemory : kImgKitScanErrorOther;
        failure.detail = QStringLiteral("the scanner does not open: ") + QString::fromUtf8(sane_strstatus(status));
    }
    return open;
}

EasyOutcome RunScanEasy(const ImgKitScanEasyBlock& block, const std::atomic<bool>* cancel,
                        const ScanProgress& progress)
{
    assert(OnScanThread());
    EasyOutcome out;
    const auto open = OpenEasyDevice(QString(), out);
    if (!open)
        return out;
    return RunScanEasyOn(*open, block, cancel, progress);
}

int32_t SelectFeeder(SaneDevice& device)
{
    assert(OnScanThread());
    const ScanOption* source = device.Find(QLatin1String(SANE_NAME_SCAN_SOURCE));
    if (!source || !source->Settable() || source->type != SANE_TYPE_STRING)
        return kImgKitScanErrorUnsupported;
    auto isFeeder = [](const QString& s) {
        return s.contains(QLatin1String("ADF"), Qt::CaseInsensitive)
               || s.contains(QLatin1String("Feeder"), Qt::CaseInsensitive)
               || s.contains(QLatin1String("Automatic Document"), Qt::CaseInsensitive);
    };
    auto twoSided = [](const QString& s) {
        return s.contains(QLatin1String("Duplex"), Qt::CaseInsensitive)
               || s.contains(QLatin1String("Back"), Qt::CaseInsensitive);
    };
    QString chosen;
    for (const QString& s : source->strings)
        if (isFeeder(s) && (chosen.isEmpty() || (twoSided(chosen) && !twoSided(s))))
            chosen = s;
    if (chosen.isEmpty())
        return kImgKitScanErrorUnsupported;
    return ErrorForSet(device.Set(QLatin1String(SANE_NAME_SCAN_SOURCE), chosen).status);
}

}  // namespace scan
