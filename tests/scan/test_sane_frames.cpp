// SPDX-License-Identifier: GPL-3.0-or-later
// Scans of the SANE test backend, one suite per configuration of
// tests/scan/sane (see CMakeLists.txt): every frame type, checked pixel by
// pixel against scanimage's picture of the same scan and, where the test
// picture is known, against its pattern.

#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanEasy.h"
#include "imaging/scan/ScanReader.h"
#include "tests/scan/ScanTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <csignal>
#include <cstring>
#include <set>
#include <thread>

namespace {

// Options of the test device that every scan here sets (the backend keeps
// values between sessions in one process).
QList<std::pair<QString, QVariant>> Base(const QString& mode, int depth, const QString& picture)
{
    return {{QStringLiteral("mode"), mode},
            {QStringLiteral("depth"), depth},
            {QStringLiteral("resolution"), 50.0},
            {QStringLiteral("test-picture"), picture},
            {QStringLiteral("tl-x"), 0.0},
            {QStringLiteral("tl-y"), 0.0},
            {QStringLiteral("br-x"), 80.0},
            {QStringLiteral("br-y"), 60.0}};
}

QStringList ScanimageArgs(const QString& mode, int depth, const QString& picture)
{
    return {QStringLiteral("--mode=") + mode, QStringLiteral("--depth=%1").arg(depth), QStringLiteral("--resolution=50"),
            QStringLiteral("--test-picture=") + picture, QStringLiteral("-l0"), QStringLiteral("-t0"),
            QStringLiteral("-x80"), QStringLiteral("-y60")};
}

// Scans with our loop and with scanimage and compares the pictures.
ImageHandle ScanAndCompare(const QString& mode, int depth, const QString& picture,
                           const QList<std::pair<QString, QVariant>>& extra = {}, const QStringList& extraArgs = {},
                           bool cropped = false)
{
    DevicePtr d = OpenDevice();
    EXPECT_TRUE(d);
    if (!d)
        return {};
    SetOptions(d, Base(mode, depth, picture) + extra);
    ScanResult r = ScanNow(d);
    EXPECT_EQ(r.status, SANE_STATUS_GOOD);
    Pnm pnm;
    EXPECT_TRUE(Scanimage(QStringLiteral("test:0"), ScanimageArgs(mode, depth, picture) + extraArgs, pnm));
    EXPECT_EQ(CompareWithPnm(r.image, pnm, cropped).toStdString(), "") << qPrintable(mode) << " " << depth << " " << qPrintable(picture);
    return std::move(r.image);
}

std::set<uint32_t> Colours(const ImageHandle& image)
{
    std::set<uint32_t> c;
    const DibLayout l = DibLayoutOf(image);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            c.insert(PixelAt(image, x, y));
    return c;
}

}  // namespace

TEST(Basic, ListsTheTestDevices)
{
    const auto devices = OnScan([] { return scan::ListScanDevices(); });
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, QStringLiteral("test:0"));
    EXPECT_EQ(devices[1].name, QStringLiteral("test:1"));
    EXPECT_EQ(devices[0].vendor, QStringLiteral("Noname"));
    EXPECT_EQ(devices[0].model, QStringLiteral("frontend-tester"));
    EXPECT_EQ(devices[0].type, QStringLiteral("virtual device"));
    EXPECT_NE(scan::SaneVersionCode(), 0);
}

// Whatever handler the process had for a broken pipe (a test harness, a
// crash reporter), a reader writing into a pipe closed by a cancel gets an
// error back once scanning has started.
TEST(Basic, ABrokenPipeIsAnErrorNotASignal)
{
    scan::ShutdownScanning();
    struct sigaction mine = {};
    mine.sa_handler = [](int) { std::abort(); };
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &mine, nullptr), 0);
    ASSERT_EQ(OnScan([] { return scan::ListScanDevices(); }).size(), 2u);
    struct sigaction now = {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
}

TEST(Basic, GreySolidPicturesAndTheBlockHeader)
{
    ImageHandle black = ScanAndCompare(QStringLiteral("Gray"), 8, QStringLiteral("Solid black"));
    ASSERT_TRUE(black);
    const DibLayout l = DibLayoutOf(black);
    // 80 x 60 mm at 50 dpi.
    EXPECT_EQ(l.width, 157);
    EXPECT_EQ(l.height, 118);
    EXPECT_EQ(l.bitCount, 8);
    EXPECT_EQ(l.colorCount, 256);
    EXPECT_EQ(black.Header()->biXPelsPerMeter, 1969);
    EXPECT_EQ(black.Header()->biYPelsPerMeter, 1969);
    EXPECT_EQ(Colours(black), std::set<uint32_t>{0});
    // Row padding is zero.
    EXPECT_EQ(l.stride, 160);
    const uint8_t* bits = black.Data() + l.bitsOffset;
    for (int y = 0; y < l.height; ++y)
        for (int x = 157; x < 160; ++x)
            ASSERT_EQ(bits[y * 160 + x], 0);

    ImageHandle white = ScanAndCompare(QStringLiteral("Gray"), 8, QStringLiteral("Solid white"));
    EXPECT_EQ(Colours(white), std::set<uint32_t>{255});
    ImageHandle grid = ScanAndCompare(QStringLiteral("Gray"), 8, QStringLiteral("Grid"));
    EXPECT_EQ(Colours(grid), (std::set<uint32_t>{0, 255}));
    ScanAndCompare(QStringLiteral("Gray"), 8, QStringLiteral("Color pattern"));
}

TEST(Basic, ColourPictures)
{
    ImageHandle white = ScanAndCompare(QStringLiteral("Color"), 8, QStringLiteral("Solid white"));
    ASSERT_TRUE(white);
    EXPECT_EQ(DibLayoutOf(white).bitCount, 24);
    EXPECT_EQ(DibLayoutOf(white).colorCount, 0);
    EXPECT_EQ(Colours(white), std::set<uint32_t>{0xFFFFFF});
    ImageHandle pattern = ScanAndCompare(QStringLiteral("Color"), 8, QStringLiteral("Color pattern"));
    // The pattern's bars hold the pure primaries.
    const auto c = Colours(pattern);
    for (uint32_t primary : {0xFF0000u, 0x00FF00u, 0x0000FFu})
        EXPECT_TRUE(c.count(primary)) << std::hex << primary;
}

TEST(Basic, LineArtIsGreyAtDepthOne)
{
    ImageHandle black = ScanAndCompare(QStringLiteral("Gray"), 1, QStringLiteral("Solid black"));
    ASSERT_TRUE(black);
    const DibLayout l = DibLayoutOf(black);
    EXPECT_EQ(l.bitCount, 1);
    ASSERT_EQ(l.colorCount, 2);
    const uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(std::memcmp(black.Data() + sizeof(BitmapInfoHeader), bw, 8), 0);
    EXPECT_EQ(Colours(black), std::set<uint32_t>{0});
    ImageHandle white = ScanAndCompare(QStringLiteral("Gray"), 1, QStringLiteral("Solid white"));
    EXPECT_EQ(Colours(white), std::set<uint32_t>{1});
    // 157 pixels: the last byte of each row holds 5 pixels and 3 zero bits.
    const uint8_t* bits = white.Data() + DibLayoutOf(white).bitsOffset;
    EXPECT_EQ(bits[19], 0xF8);
    ImageHandle grid = ScanAndCompare(QStringLiteral("Gray"), 1, QStringLiteral("Grid"));
    EXPECT_EQ(Colours(grid), (std::set<uint32_t>{0, 1}));
}

TEST(Basic, SixteenBitGreyKeepsTheHighByte)
{
    ScanAndCompare(QStringLiteral("Gray"), 16, QStringLiteral("Color pattern"));
    ImageHandle white = ScanAndCompare(QStringLiteral("Gray"), 16, QStringLiteral("Solid white"));
    EXPECT_EQ(Colours(white), std::set<uint32_t>{255});
}

TEST(Basic, ADeviceThatNoLongerOpens)
{
    SANE_Status status = SANE_STATUS_GOOD;
    bool opened = OnScan([&] { return scan::SaneDevice::Open(QStringLiteral("test:7"), {}, {}, &status) != nullptr; });
    EXPECT_FALSE(opened);
    EXPECT_NE(status, SANE_STATUS_GOOD);
}

TEST(ThreePass, FramesInAnyOrderMakeOneColourPicture)
{
    ImageHandle image = ScanAndCompare(QStringLiteral("Color"), 8, QStringLiteral("Color pattern"),
                                       {{QStringLiteral("three-pass"), true},
                                        {QStringLiteral("three-pass-order"), QStringLiteral("GBR")}},
                                       {QStringLiteral("--three-pass=yes"), QStringLiteral("--three-pass-order=GBR")});
    ASSERT_TRUE(image);
    EXPECT_EQ(DibLayoutOf(image).bitCount, 24);
    EXPECT_TRUE(Colours(image).count(0xFF0000u));
    // At 16 bits (scanimage does not take three-pass 16-bit frames).
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, Base(QStringLiteral("Color"), 16, QStringLiteral("Solid white")) + QList<std::pair<QString, QVariant>>{{QStringLiteral("three-pass"), true}});
    ScanResult white = ScanNow(d);
    ASSERT_EQ(white.status, SANE_STATUS_GOOD);
    EXPECT_EQ(DibLayoutOf(white.image).width, 157);
    EXPECT_EQ(Colours(white.image), std::set<uint32_t>{0xFFFFFF});
}

TEST(HandScanner, RowsOfAnUnknownCountMakeThePicture)
{
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, {{QStringLiteral("hand-scanner"), true}});
    SetOptions(d, Base(QStringLiteral("Gray"), 8, QStringLiteral("Grid")));
    SANE_Parameters p{};
    OnScan([&] {
        sane_start(d->Handle());
        sane_get_parameters(d->Handle(), &p);
        sane_cancel(d->Handle());
        return 0;
    });
    ASSERT_EQ(p.lines, -1);  // the case this suite is about
    d.reset();
    ImageHandle grey = ScanAndCompare(QStringLiteral("Gray"), 8, QStringLiteral("Grid"),
                                      {{QStringLiteral("hand-scanner"), true}}, {QStringLiteral("--hand-scanner=yes")});
    ASSERT_TRUE(grey);
    EXPECT_EQ(DibLayoutOf(grey).width, 216);  // 11 cm at 50 dpi
    EXPECT_GT(DibLayoutOf(grey).height, 1);
    ScanAndCompare(QStringLiteral("Color"), 8, QStringLiteral("Color pattern"),
                   {{QStringLiteral("hand-scanner"), true}}, {QStringLiteral("--hand-scanner=yes")});
    ScanAndCompare(QStringLiteral("Gray"), 1, QStringLiteral("Grid"), {{QStringLiteral("hand-scanner"), true}},
                   {QStringLiteral("--hand-scanner=yes")});
}

TEST(Depth16, ColourAtSixteenBits)
{
    ImageHandle image = ScanAndCompare(QStringLiteral("Color"), 16, QStringLiteral("Color pattern"));
    ASSERT_TRUE(image);
    EXPECT_GT(Colours(image).size(), 8u);
    ScanAndCompare(QStringLiteral("Gray"), 16, QStringLiteral("Grid"));
}

TEST(ReadLimit, SmallPiecesFuzzyParametersAndLostPixels)
{
    // Data in pieces of 7 bytes, across rows and pixels.
    const QList<std::pair<QString, QVariant>> noLoss{{QStringLiteral("ppl-loss"), 0}};
    const QStringList noLossArg{QStringLiteral("--ppl-loss=0")};
    ScanAndCompare(QStringLiteral("Color"), 8, QStringLiteral("Color pattern"), noLoss, noLossArg);
    ScanAndCompare(QStringLiteral("Gray"), 1, QStringLiteral("Grid"), noLoss, noLossArg);
    ScanAndCompare(QStringLiteral("Gray"), 16, QStringLiteral("Color pattern"), noLoss, noLossArg);
    // ppl-loss 3: three pixels fewer per line than its bytes hold. scanimage
    // writes the lost bytes too, so the reference is the same scan without
    // the loss, of which the block is the left part.
    for (int depth : {1, 8, 16}) {
        ImageHandle image = ScanAndCompare(depth == 1 ? QStringLiteral("Gray") : QStringLiteral("Color"), depth,
                                           QStringLiteral("Color pattern"), {{QStringLiteral("ppl-loss"), 3}},
                                           {QStringLiteral("--ppl-loss=0")}, true);
        ASSERT_TRUE(image);
        EXPECT_EQ(DibLayoutOf(image).width, 154) << depth;
    }
}

TEST(Slow, CancelInTheMiddleGivesNoImageAndTheDeviceScansAgain)
{
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, Base(QStringLiteral("Gray"), 8, QStringLiteral("Grid")));
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto bytes = std::make_shared<std::atomic<int64_t>>(0);
    auto future = scan::SubmitScanJob([d, cancel, bytes] {
        scan::SaneFrameSource source(d->Handle());
        return scan::ReadScan(source, 50, 50, cancel.get(),
                              [bytes](int, int64_t done, int64_t) { bytes->store(done); });
    });
    // Cancel once some rows are in, well before the end (18 KiB at 256
    // bytes per 20 ms would take about 1.5 s).
    QElapsedTimer t;
    t.start();
    while (bytes->load() < 1024 && t.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cancel->store(true);
    auto out = future.get();
    EXPECT_EQ(out.status, SANE_STATUS_CANCELLED);
    EXPECT_TRUE(out.image.IsNull());
    EXPECT_LT(bytes->load(), 157 * 118);

    // sane_cancel left the device ready: the next scan completes.
    SetOptions(d, {{QStringLiteral("read-delay"), false}});
    ScanResult again = ScanNow(d);
    EXPECT_EQ(again.status, SANE_STATUS_GOOD);
    EXPECT_TRUE(again.image);

    // The one-shot scan reports a cancel as 5 (asked for once data flows).
    cancel->store(false);
    auto easy = scan::SubmitScanJob([d, cancel] {
        ImgKitScanEasyBlock b;
        b.mode = kImgKitScanGray;
        b.resolution = 50;
        b.right = 3;
        b.bottom = 3;
        return scan::RunScanEasyOn(*d, b, cancel.get(), [cancel](int, int64_t done, int64_t) {
            if (done > 0)
                cancel->store(true);
        });
    });
    auto e = easy.get();
    EXPECT_EQ(e.error, kImgKitScanErrorCancelled);
    EXPECT_TRUE(e.image.IsNull());
}
