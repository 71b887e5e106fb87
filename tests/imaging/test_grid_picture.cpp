// SPDX-License-Identifier: GPL-3.0-or-later
// The grid's picture on screens of one and two device pixels per point, and
// the reduced JPEG decoding it rests on.

#include "imaging/Dib.h"
#include "imaging/GridPicture.h"
#include "imaging/ImgKit.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// A picture with detail in it: diagonal stripes of colour.
ImageHandle Stripes(int width, int height)
{
    ImageHandle dib = CreateDib(width, height, 3);
    TMDIB m(dib);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < width; ++x) {
            const int v = ((x + y) / 16) % 2 ? 230 : 30;
            row[3 * x] = uint8_t(v);
            row[3 * x + 1] = uint8_t(255 - v);
            row[3 * x + 2] = uint8_t((x * 255) / std::max(1, width - 1));
        }
    }
    return dib;
}

QSize SizeOf(const ImageHandle& image)
{
    const DibLayout l = DibLayoutOf(image);
    return l.valid ? QSize(l.width, l.height) : QSize();
}

}  // namespace

TEST(JpegReduction, TheLargestFactorThatStillCoversTheFittedSize)
{
    struct Case {
        int width, height, boxWidth, boxHeight;
        JpegReduction want;
    } cases[] = {
        {1024, 1448, 320, 400, {3, 384, 543}},    // fitted 283 x 400; 2/8 would give 256 x 362
        {1024, 1448, 160, 200, {2, 256, 362}},    // fitted 141 x 200
        {2480, 3508, 320, 400, {1, 310, 439}},    // fitted 283 x 400
        {100, 100, 320, 400, {8, 100, 100}},      // smaller than the box: whole
        {1023, 1, 320, 400, {3, 384, 1}},         // fitted 320 x 1 (rounded up to a pixel)
        {1024, 1448, 0, 0, {8, 1024, 1448}},      // no box: whole
    };
    for (const Case& c : cases) {
        const JpegReduction r = JpegReductionFor(c.width, c.height, c.boxWidth, c.boxHeight);
        const double t = std::min({double(c.boxWidth) / c.width, double(c.boxHeight) / c.height, 1.0});
        if (c.boxWidth > 0) {
            // Whatever the factor, the decoded picture covers the fitted one.
            EXPECT_GE(r.width, std::lround(c.width * t)) << c.width << "x" << c.height;
            EXPECT_GE(r.height, std::lround(c.height * t)) << c.width << "x" << c.height;
        }
        EXPECT_EQ(r.eighths, c.want.eighths) << c.width << "x" << c.height;
        EXPECT_EQ(r.width, c.want.width) << c.width << "x" << c.height;
        EXPECT_EQ(r.height, c.want.height) << c.width << "x" << c.height;
    }
}

TEST(JpegReduction, AReducedDecodeLooksLikeTheWholeOneScaledDown)
{
    QByteArray bytes;
    ASSERT_TRUE(ImgKitJpegEncode(Stripes(1024, 1448), 90, bytes));
    QSize full;
    const ImageHandle reduced = ImgKitJpegDecodeFitting(bytes, 320, 400, &full);
    EXPECT_EQ(full, QSize(1024, 1448));
    ASSERT_EQ(SizeOf(reduced), QSize(384, 543));
    const ImageHandle whole = ImgKitJpegDecode(bytes);
    ASSERT_EQ(SizeOf(whole), QSize(1024, 1448));
    const ImageHandle a = ImgKitImageSize(reduced, 283, 400), b = ImgKitImageSize(whole, 283, 400);
    const DibLayout la = DibLayoutOf(a), lb = DibLayoutOf(b);
    const uint8_t* pa = a.Data() + la.bitsOffset;
    const uint8_t* pb = b.Data() + lb.bitsOffset;
    double difference = 0;
    for (int y = 0; y < la.height; ++y)
        for (int x = 0; x < la.width * 3; ++x)
            difference += std::abs(pa[y * la.stride + x] - pb[y * lb.stride + x]);
    EXPECT_LT(difference / (la.width * 3.0 * la.height), 6.0);
    // Not JPEG: nothing (the caller reads such files whole).
    QByteArray bmp;
    ASSERT_TRUE(ImgKitBmpEncode(Stripes(40, 30), bmp));
    EXPECT_FALSE(ImgKitJpegDecodeFitting(bmp, 20, 20));
}

TEST(GridPicture, TheThumbnailUnlessTheScreenWantsMoreThanItHas)
{
    QTemporaryDir dir;
    const QString thumb = dir.filePath(QStringLiteral("thumb.jpg"));
    ASSERT_TRUE(ImgKitJpegFileSave(thumb, Stripes(141, 200), 80));
    auto page = [&](const char* name, int w, int h) {
        const QString path = dir.filePath(QLatin1String(name));
        const ImageHandle picture = Stripes(w, h);
        EXPECT_TRUE(QLatin1String(name).endsWith(QLatin1String(".tif")) ? ImgKitTiffFileSave(path, picture)
                                                                         : ImgKitJpegFileSave(path, picture, 85));
        return path;
    };
    const QString a4 = page("a4.jpg", 1024, 1448), tiff = page("a4.tif", 1024, 1448), small = page("small.jpg", 120, 90);
    const QString broken = dir.filePath(QStringLiteral("broken.jpg"));
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xff\xd8 nothing after");
    f.close();

    struct Case {
        QString image;
        double ratio;
        QSize size;
        double drawnAt;
    } cases[] = {
        {a4, 1, {141, 200}, 1},        // the thumbnail has what the screen shows
        {a4, 2, {282, 400}, 2},        // twice the pixels, from the page (sides cut as the thumbnail's)
        {tiff, 2, {282, 400}, 2},      // a page read whole
        {a4, 1.5, {212, 299}, 1.5},
        {small, 2, {141, 200}, 1},     // a page no larger than its thumbnail box
        {broken, 2, {141, 200}, 1},    // unreadable page: the thumbnail
        {dir.filePath(QStringLiteral("gone.jpg")), 2, {141, 200}, 1},
    };
    for (const Case& c : cases) {
        const GridPicture p = LoadGridPicture(thumb, c.image, c.ratio);
        EXPECT_EQ(SizeOf(p.image), c.size) << qPrintable(c.image) << " at " << c.ratio;
        EXPECT_EQ(p.pixelRatio, c.drawnAt) << qPrintable(c.image) << " at " << c.ratio;
    }
    // Neither file: nothing to draw.
    EXPECT_FALSE(LoadGridPicture(dir.filePath(QStringLiteral("none.jpg")), broken, 2).image);
}

TEST(GridPictures, KeptByFileSizeAndTimeAndReadAhead)
{
    QTemporaryDir dir;
    const QString thumb = dir.filePath(QStringLiteral("t.jpg")), page = dir.filePath(QStringLiteral("p.jpg"));
    ASSERT_TRUE(ImgKitJpegFileSave(thumb, Stripes(141, 200), 80));
    ASSERT_TRUE(ImgKitJpegFileSave(page, Stripes(1024, 1448), 85));
    const std::vector<GridPictures::Files> one{{thumb, page}}, none{{}};
    // Garbage of the same size and time in the page's place: a kept picture
    // is what is shown, a picture made now would be the thumbnail.
    auto spoil = [&](bool keepTime) {
        QFile f(page);
        const QDateTime changed = QFileInfo(page).lastModified();
        const qint64 size = f.size();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(int(size), 'x'));
        ASSERT_TRUE(f.setFileTime(keepTime ? changed : changed.addSecs(5), QFileDevice::FileModificationTime));
    };

    GridPictures pictures;
    EXPECT_TRUE(pictures.Load(none, 2)[0].isNull());
    pictures.ReadAhead(one, 2);
    pictures.WaitForReadAhead();
    spoil(true);
    const QImage kept = pictures.Load(one, 2)[0];
    EXPECT_EQ(kept.devicePixelRatio(), 2.0);
    EXPECT_EQ(kept.size(), QSize(282, 400));
    // Changed on disk: read again (and now unreadable: the thumbnail).
    spoil(false);
    const QImage again = pictures.Load(one, 2)[0];
    EXPECT_EQ(again.devicePixelRatio(), 1.0);
    EXPECT_EQ(again.size(), QSize(141, 200));
    // On a plain screen the thumbnail, read as it is shown.
    EXPECT_EQ(pictures.Load(one, 1)[0].size(), QSize(141, 200));
}
