// SPDX-License-Identifier: GPL-3.0-or-later
// The windows on a screen of two device pixels per point (this class runs
// with QT_SCALE_FACTOR=2): the layout at twice the size, pictures scaled
// smoothly, and the grid drawn from the page image where the thumbnail has
// too few pixels.

#include "tests/ui/MainWindowFixture.h"

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/Controls.h"

#include <QPixmap>
#include <QTest>

#include <set>

namespace {

// Black and white pixels side by side: scaled in blocks it keeps its two
// greys, scaled smoothly it gains the ones between.
QImage Checker(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

int Greys(const QImage& image)
{
    std::set<int> greys;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            greys.insert(grey.constScanLine(y)[x]);
    return int(greys.size());
}

}  // namespace

class HighDensityAtScale2 : public QObject, protected MainWindowFixture {
    Q_OBJECT
private slots:
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void theGridShowsThePageAtTheScreensPixels()
    {
        QVERIFY(MakeCategory(Root(), QStringLiteral("Cat")));
        ImageHandle page = CreateDib(1024, 1448, 3);
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Image/00000001.jpg")), page, 85));
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Thumb/00000001.jpg")), CreateDib(141, 200, 3), 80));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Image/00000002.jpg")), "not a picture"));
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Thumb/00000002.jpg")), CreateDib(141, 200, 3), 80));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
        Open();
        QCOMPARE(form_->devicePixelRatioF(), 2.0);
        // Every window at twice the size: the main window's grab has twice
        // its points.
        QCOMPARE(form_->grab().size(), form_->size() * 2);

        TImage* first = form_->SlotAt(0).image;
        QCOMPARE(first->Picture().devicePixelRatio(), 2.0);
        QCOMPARE(first->Picture().size(), QSize(282, 400));
        QCOMPARE(first->PictureSize(), QSize(141, 200));  // the room of the thumbnail
        // A page image that cannot be read: its thumbnail, as before.
        TImage* second = form_->SlotAt(1).image;
        QCOMPARE(second->Picture().devicePixelRatio(), 1.0);
        QCOMPARE(second->PictureSize(), QSize(141, 200));
    }

    void picturesAreScaledSmoothlyNeverInBlocks()
    {
        for (bool stretch : {false, true}) {
            TImage image;
            image.SetStretch(stretch);
            image.resize(stretch ? QSize(50, 50) : QSize(16, 16));
            image.SetPicture(Checker(16));
            const QPixmap shot = image.grab();
            QCOMPARE(shot.devicePixelRatio(), 2.0);
            QVERIFY2(Greys(shot.toImage()) > 2, stretch ? "stretched" : "at its own size");
        }
    }
};

TOLVANE_UI_TEST(HighDensityAtScale2);

#include "tst_HighDensity.moc"
