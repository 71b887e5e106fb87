// SPDX-License-Identifier: GPL-3.0-or-later
// The one-shot scan: the block turned into the device's options, and every
// error code it gives back.

#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanEasy.h"
#include "tests/scan/ScanTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <cstring>

namespace {

scan::EasyOutcome Easy(const ImgKitScanEasyBlock& b)
{
    return OnScan([b] { return scan::RunScanEasy(b); });
}

ImgKitScanEasyBlock Block(int16_t mode, float left, float top, float right, float bottom, float dpi)
{
    ImgKitScanEasyBlock b;
    b.mode = mode;
    b.left = left;
    b.top = top;
    b.right = right;
    b.bottom = bottom;
    b.resolution = dpi;
    return b;
}

}  // namespace

TEST(Easy, ModesAreaAndResolutionReachTheDevice)
{
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, {{QStringLiteral("test-picture"), QStringLiteral("Solid white")}, {QStringLiteral("depth"), 16}});
    d.reset();

    auto colour = Easy(Block(kImgKitScanColor, 0.5f, 1, 2.5f, 4, 100));
    ASSERT_EQ(colour.error, 0) << qPrintable(colour.detail);
    DibLayout l = DibLayoutOf(colour.image);
    EXPECT_EQ(l.bitCount, 24);
    // 2 x 3 inches at 100 dpi; the test device puts the area on whole mm.
    EXPECT_NEAR(l.width, 200, 4);
    EXPECT_NEAR(l.height, 300, 4);
    EXPECT_EQ(colour.image.Header()->biXPelsPerMeter, 3937);
    EXPECT_EQ(PixelAt(colour.image, 10, 10), 0xFFFFFFu);

    // Depth 16 set on the device beforehand: the block's grey is 8 bits.
    auto grey = Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 75.6f));
    ASSERT_EQ(grey.error, 0);
    l = DibLayoutOf(grey.image);
    EXPECT_EQ(l.bitCount, 8);
    EXPECT_EQ(l.colorCount, 256);
    EXPECT_EQ(grey.image.Header()->biXPelsPerMeter, 2992);  // the nearest the device offers: 76 dpi
    EXPECT_NEAR(l.width, 76, 3);

    // No line-art mode on the test device: grey at depth 1.
    auto bw = Easy(Block(kImgKitScanBilevel, 0, 0, 2, 1, 50));
    ASSERT_EQ(bw.error, 0);
    l = DibLayoutOf(bw.image);
    EXPECT_EQ(l.bitCount, 1);
    EXPECT_EQ(l.colorCount, 2);
    EXPECT_EQ(PixelAt(bw.image, 3, 3), 1u);  // white
}

TEST(Easy, ErrorCodes)
{
    auto palette = Easy(Block(kImgKitScanPalette, 0, 0, 1, 1, 50));
    EXPECT_EQ(palette.error, kImgKitScanErrorUnsupported);
    EXPECT_TRUE(palette.image.IsNull());
    // 12.5 inches is past the 300 mm bed.
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 12.5f, 1, 50)).error, kImgKitScanErrorSettings);
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 1, 12.5f, 50)).error, kImgKitScanErrorSettings);
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 2, 0, 1, 1, 50)).error, kImgKitScanErrorSettings);
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 0)).error, kImgKitScanErrorSettings);
    EXPECT_EQ(Easy(Block(7, 0, 0, 1, 1, 50)).error, kImgKitScanErrorSettings);
    // The whole bed, to the last float.
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, float(300 / 25.4), 1, 10)).error, 0);

    std::atomic<bool> cancel{true};
    auto cancelled = OnScan([&] { return scan::RunScanEasy(Block(kImgKitScanGray, 0, 0, 1, 1, 50), &cancel); });
    EXPECT_EQ(cancelled.error, kImgKitScanErrorCancelled);

    EXPECT_EQ(scan::EasyErrorForStatus(SANE_STATUS_NO_MEM), kImgKitScanErrorNoMemory);
    EXPECT_EQ(scan::EasyErrorForStatus(SANE_STATUS_CANCELLED), kImgKitScanErrorCancelled);
    EXPECT_EQ(scan::EasyErrorForStatus(SANE_STATUS_JAMMED), kImgKitScanErrorOther);
}

// One process per read-return-value of the test backend (status_* folders):
// the expected code follows from the folder's name.
TEST(ReadStatus, TheOneShotScanGivesTheCodeOfTheStatus)
{
    const QString dir = QFileInfo(QString::fromLocal8Bit(qgetenv("SANE_CONFIG_DIR"))).fileName();
    ASSERT_TRUE(dir.startsWith(QStringLiteral("status_"))) << qPrintable(dir);
    const QString status = dir.mid(7);
    const int32_t want = status == QLatin1String("no_mem")      ? kImgKitScanErrorNoMemory
                         : status == QLatin1String("cancelled") ? kImgKitScanErrorCancelled
                                                                : kImgKitScanErrorOther;
    auto out = Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 50));
    EXPECT_EQ(out.error, want) << qPrintable(status) << ": " << qPrintable(out.detail);
    EXPECT_TRUE(out.image.IsNull());
    // A read that fails, NO_DOCS included, is no empty feeder: that is
    // only told by the start of a scan.
    const bool empty = OnScan([] {
        scan::EasyOutcome failure;
        auto device = scan::OpenEasyDevice(QString(), failure);
        bool feederEmpty = true;
        if (device)
            scan::RunScanEasyOn(*device, Block(kImgKitScanGray, 0, 0, 1, 1, 50), nullptr, {}, &feederEmpty);
        return feederEmpty;
    });
    EXPECT_FALSE(empty) << qPrintable(status);
    // The device is not left hanging: it opens and scans again, and the
    // read loop gives the status itself (a first read at the end of the data
    // is a frame without data).
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    ScanResult again = ScanNow(d);
    EXPECT_TRUE(again.image.IsNull());
    static const std::map<QString, SANE_Status> kStatus{
        {QStringLiteral("no_mem"), SANE_STATUS_NO_MEM},
        {QStringLiteral("cancelled"), SANE_STATUS_CANCELLED},
        {QStringLiteral("no_docs"), SANE_STATUS_NO_DOCS},
        {QStringLiteral("io_error"), SANE_STATUS_IO_ERROR},
        {QStringLiteral("jammed"), SANE_STATUS_JAMMED},
        {QStringLiteral("inval"), SANE_STATUS_INVAL},
        {QStringLiteral("eof"), SANE_STATUS_IO_ERROR},
        {QStringLiteral("device_busy"), SANE_STATUS_DEVICE_BUSY},
        {QStringLiteral("cover_open"), SANE_STATUS_COVER_OPEN},
        {QStringLiteral("access_denied"), SANE_STATUS_ACCESS_DENIED},
        {QStringLiteral("unsupported"), SANE_STATUS_UNSUPPORTED}};
    ASSERT_TRUE(kStatus.count(status)) << qPrintable(status);
    EXPECT_EQ(again.status, kStatus.at(status)) << qPrintable(status);

}

TEST(NoDevice, NothingListedAndTheOneShotScanFails)
{
    EXPECT_TRUE(OnScan([] { return scan::ListScanDevices(); }).empty());
    auto out = Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 50));
    EXPECT_EQ(out.error, kImgKitScanErrorOther);
    EXPECT_TRUE(out.image.IsNull());
}

TEST(Vanish, TheChosenScannerGoesAway)
{
    // A copy of the configuration this process may change; SANE reads
    // SANE_CONFIG_DIR at its first start, which is still to come.
    ASSERT_EQ(scan::SaneVersionCode(), 0);
    QTemporaryDir copy;
    const QString from = QString::fromLocal8Bit(qgetenv("SANE_CONFIG_DIR"));
    for (const char* f : {"dll.conf", "test.conf"})
        ASSERT_TRUE(QFile::copy(from + QLatin1Char('/') + QLatin1String(f), copy.filePath(QLatin1String(f))));
    QFile(copy.filePath(QStringLiteral("test.conf"))).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    qputenv("SANE_CONFIG_DIR", copy.path().toLocal8Bit());

    const auto devices = OnScan([] { return scan::ListScanDevices(); });
    ASSERT_EQ(devices.size(), 2u);
    scan::StoreScanChoice(devices[1]);
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 50)).error, 0);

    // test:1 goes away: SANE starts again with one device. (The test
    // backend itself crashes listing after a restart with none at all; the
    // nodevice configuration has none from the start.)
    QFile conf(copy.filePath(QStringLiteral("test.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write("number_of_devices 1\n");
    conf.close();
    scan::ShutdownScanning();
    EXPECT_EQ(scan::SaneVersionCode(), 0);
    const auto after = OnScan([] { return scan::ListScanDevices(); });
    ASSERT_EQ(after.size(), 1u);
    // The name no longer opens.
    SANE_Status status = SANE_STATUS_GOOD;
    EXPECT_FALSE(OnScan([&] { return scan::SaneDevice::Open(devices[1].name, {}, {}, &status) != nullptr; }));
    EXPECT_NE(status, SANE_STATUS_GOOD);
    // The choice is found again as the same vendor and model.
    EXPECT_EQ(scan::FindStoredChoice(after), after[0]);
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 50)).error, 0);
    // Another kind stored: the one-shot scan falls back to the first device.
    scan::StoreScanChoice({QStringLiteral("gone:0"), QStringLiteral("Gone"), QStringLiteral("Away"), {}});
    EXPECT_FALSE(scan::FindStoredChoice(after));
    EXPECT_EQ(Easy(Block(kImgKitScanGray, 0, 0, 1, 1, 50)).error, 0);
    scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
}

// The document feeder of the test backend: its "Automatic Document Feeder"
// source gives ten pages, then sane_start answers that it is empty.
TEST(Feeder, PageAfterPageUntilTheFeederIsEmpty)
{
    struct Run {
        int32_t select = -1;
        QString source;
        std::vector<std::pair<int32_t, bool>> pages;  // error, feeder empty
        int images = 0;
    };
    const Run run = OnScan([] {
        Run r;
        scan::EasyOutcome failure;
        auto device = scan::OpenEasyDevice(QStringLiteral("test:1"), failure);
        if (!device)
            return r;
        r.select = scan::SelectFeeder(*device);
        r.source = device->Find(QStringLiteral("source"))->value.toString();
        for (int i = 0; i < 12; ++i) {
            bool empty = true;
            scan::EasyOutcome o = scan::RunScanEasyOn(*device, Block(kImgKitScanGray, 0, 0, 1, 1, 20), nullptr, {},
                                                      &empty);
            r.images += o.image.IsNull() ? 0 : 1;
            r.pages.emplace_back(o.error, empty);
            if (empty)
                break;
        }
        return r;
    });
    ASSERT_EQ(run.select, 0);
    EXPECT_EQ(run.source, QStringLiteral("Automatic Document Feeder"));
    EXPECT_EQ(run.images, 10);
    ASSERT_EQ(run.pages.size(), 11u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(run.pages[i], std::make_pair(int32_t(0), false)) << "page " << i + 1;
    EXPECT_EQ(run.pages[10], std::make_pair(int32_t(kImgKitScanErrorOther), true));
}

TEST(Feeder, TheFlatbedNeverSaysItIsEmpty)
{
    const auto got = OnScan([] {
        scan::EasyOutcome failure;
        auto device = scan::OpenEasyDevice(QStringLiteral("test:0"), failure);
        bool empty = true;
        int images = 0;
        for (int i = 0; i < 12 && device; ++i)
            images += scan::RunScanEasyOn(*device, Block(kImgKitScanGray, 0, 0, 1, 1, 20), nullptr, {}, &empty)
                          .image.IsNull() ? 0 : 1;
        return std::make_pair(images, empty);
    });
    EXPECT_EQ(got, std::make_pair(12, false));
}

TEST(Choice, OpenEasyDeviceByNameOrAsTheOneShotScanChoosesIt)
{
    scan::StoreScanChoice({QStringLiteral("test:1"), {}, {}, {}});
    const auto names = OnScan([] {
        QStringList out;
        for (const QString& name : {QString(), QStringLiteral("test:0"), QStringLiteral("nothere:7")}) {
            scan::EasyOutcome failure;
            auto device = scan::OpenEasyDevice(name, failure);
            out << (device ? device->Name() : QStringLiteral("error %1: %2").arg(failure.error).arg(failure.detail));
        }
        return out;
    });
    scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(names[0], QStringLiteral("test:1"));
    EXPECT_EQ(names[1], QStringLiteral("test:0"));
    EXPECT_TRUE(names[2].startsWith(QStringLiteral("error 4: the scanner does not open: "))) << qPrintable(names[2]);
}
