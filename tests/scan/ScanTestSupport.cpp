// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/scan/ScanTestSupport.h"

#include "imaging/scan/ScanReader.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <cstring>

DevicePtr OpenDevice(const QString& name)
{
    SANE_Status status = SANE_STATUS_GOOD;
    scan::SaneDevice* raw = OnScan([name, &status] { return scan::SaneDevice::Open(name, {}, {}, &status).release(); });
    if (!raw)
        ADD_FAILURE() << "sane_open " << qPrintable(name) << ": " << sane_strstatus(status);
    if (!raw)
        return nullptr;
    return DevicePtr(raw, [](scan::SaneDevice* d) { scan::PostScanJob([d] { delete d; }); });
}

void SetOptions(const DevicePtr& device, const QList<std::pair<QString, QVariant>>& values)
{
    for (const auto& [name, value] : values) {
        const SANE_Status s = OnScan([&] { return device->Set(name, value).status; });
        ASSERT_EQ(s, SANE_STATUS_GOOD) << qPrintable(name) << " = " << qPrintable(value.toString());
    }
}

ScanResult ScanNow(const DevicePtr& device)
{
    return OnScan([device] {
        scan::SaneFrameSource source(device->Handle());
        double x = 0, y = 0;
        if (const auto* r = device->Find(QStringLiteral("resolution")))
            x = y = r->value.toDouble();
        auto out = scan::ReadScan(source, x, y);
        return ScanResult{std::move(out.image), out.status};
    });
}

uint32_t PixelAt(const ImageHandle& image, int x, int y)
{
    const DibLayout l = DibLayoutOf(image);
    const uint8_t* row = image.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * std::size_t(l.stride);
    switch (l.bitCount) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
    case 8: return row[x];
    case 24: return uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
    default: return 0xFFFFFFFF;
    }
}

namespace {

// The next header field of a PNM (comments skipped).
bool PnmField(const QByteArray& d, int& pos, int& value)
{
    for (;;) {
        while (pos < d.size() && std::isspace(uchar(d[pos])))
            ++pos;
        if (pos < d.size() && d[pos] == '#') {
            while (pos < d.size() && d[pos] != '\n')
                ++pos;
            continue;
        }
        break;
    }
    int start = pos;
    while (pos < d.size() && std::isdigit(uchar(d[pos])))
        ++pos;
    if (pos == start)
        return false;
    value = d.mid(start, pos - start).toInt();
    return true;
}

}  // namespace

bool Scanimage(const QString& device, const QStringList& options, Pnm& out)
{
    QProcess p;
    p.start(QStringLiteral("scanimage"), QStringList{QStringLiteral("-d"), device, QStringLiteral("--format=pnm")} + options);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        ADD_FAILURE() << "scanimage: " << p.readAllStandardError().constData();
        return false;
    }
    const QByteArray d = p.readAllStandardOutput();
    if (d.size() < 3 || d[0] != 'P')
        return false;
    out.kind = d[1] - '0';
    int pos = 2, maxval = 1;
    if (!PnmField(d, pos, out.width) || !PnmField(d, pos, out.height))
        return false;
    if (out.kind != 4 && !PnmField(d, pos, maxval))
        return false;
    ++pos;  // the one whitespace byte before the data
    const int channels = out.kind == 6 ? 3 : 1;
    const std::size_t n = std::size_t(out.width) * std::size_t(out.height) * std::size_t(channels);
    out.samples.resize(n);
    if (out.kind == 4) {
        const int rowBytes = (out.width + 7) / 8;
        if (d.size() - pos < qsizetype(rowBytes) * out.height)
            return false;
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                out.samples[std::size_t(y) * std::size_t(out.width) + std::size_t(x)]
                    = (uchar(d[pos + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
        return true;
    }
    const int bytes = maxval > 255 ? 2 : 1;
    if (std::size_t(d.size() - pos) < n * std::size_t(bytes))
        return false;
    for (std::size_t i = 0; i < n; ++i)
        out.samples[i] = uchar(d[pos + qsizetype(i * std::size_t(bytes))]);  // big-endian: high byte first
    return true;
}

QString CompareWithPnm(const ImageHandle& image, const Pnm& pnm, bool cropped)
{
    const DibLayout l = DibLayoutOf(image);
    if (!l.valid)
        return QStringLiteral("not a valid block");
    if ((cropped ? l.width > pnm.width : l.width != pnm.width) || l.height != pnm.height)
        return QStringLiteral("size %1x%2, scanimage %3x%4").arg(l.width).arg(l.height).arg(pnm.width).arg(pnm.height);
    const int wantBits = pnm.kind == 4 ? 1 : pnm.kind == 5 ? 8 : 24;
    if (l.bitCount != wantBits)
        return QStringLiteral("%1 bits, scanimage %2").arg(l.bitCount).arg(wantBits);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(pnm.width) + std::size_t(x);
            uint32_t want = 0;
            if (pnm.kind == 4)
                want = pnm.samples[i] ? 0 : 1;  // PNM 1 = black = our index 0
            else if (pnm.kind == 5)
                want = pnm.samples[i];
            else
                want = uint32_t(pnm.samples[3 * i]) << 16 | uint32_t(pnm.samples[3 * i + 1]) << 8 | pnm.samples[3 * i + 2];
            const uint32_t got = PixelAt(image, x, y);
            if (got != want)
                return QStringLiteral("pixel (%1, %2) is %3, scanimage %4")
                    .arg(x).arg(y).arg(got, 0, 16).arg(want, 0, 16);
        }
    return {};
}
