// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's arithmetic from tables: zoomed control sizes, the cut
// rectangle between control and picture pixels, drag clamping, the colour
// preview's size, the colour-balance offsets and the resize dialog's
// quotient.

#include "tests/ui/UiTestMain.h"

#include "editor/EditorGeometry.h"
#include "imaging/ImageHandle.h"
#include "widgets/ZoomView.h"

#include <QTest>
#include <QWidget>

using namespace EditorGeometry;

class EditorGeometryTest : public QObject {
    Q_OBJECT
private slots:
    void zoomedSize_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("control");
        QTest::newRow("level 3 triples") << 3 << QSize(601, 451) << QSize(1803, 1353);
        QTest::newRow("level 2 doubles") << 2 << QSize(601, 451) << QSize(1202, 902);
        QTest::newRow("level 1 natural") << 1 << QSize(601, 451) << QSize(601, 451);
        QTest::newRow("level 0 half, truncated") << 0 << QSize(601, 451) << QSize(300, 225);
        QTest::newRow("level -1 third") << -1 << QSize(601, 451) << QSize(200, 150);
        QTest::newRow("level -2 quarter") << -2 << QSize(601, 451) << QSize(150, 112);
        QTest::newRow("far out reaches 0") << -1000 << QSize(601, 451) << QSize(0, 0);
        QTest::newRow("far in stops at the widget limit")
            << 100000 << QSize(601, 451) << QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QTest::newRow("int limits") << INT_MAX << QSize(65535, 1) << QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QTest::newRow("lowest level") << INT_MIN + 3 << QSize(65535, 65535) << QSize(0, 0);
    }
    void zoomedSize()
    {
        QFETCH(int, level);
        QFETCH(QSize, picture);
        QFETCH(QSize, control);
        QCOMPARE(ZoomedSize(picture.width(), picture.height(), level), control);
    }

    // The words a search found, outlined on the viewer's picture at any zoom.
    void boxOnTarget_data()
    {
        QTest::addColumn<QRect>("box");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("target");
        QTest::addColumn<QRect>("drawn");
        QTest::newRow("natural size, moved") << QRect(10, 20, 30, 40) << QSize(100, 100) << QRect(5, 7, 100, 100)
                                             << QRect(15, 27, 30, 40);
        QTest::newRow("doubled") << QRect(10, 20, 30, 40) << QSize(100, 100) << QRect(0, 0, 200, 200)
                                 << QRect(20, 40, 60, 80);
        QTest::newRow("a third, rounded outward") << QRect(10, 20, 31, 41) << QSize(600, 600)
                                                  << QRect(0, 0, 200, 200) << QRect(3, 6, 11, 15);
        QTest::newRow("tiny: still a pixel") << QRect(1, 1, 1, 1) << QSize(1000, 1000) << QRect(0, 0, 10, 10)
                                             << QRect(0, 0, 1, 1);
        QTest::newRow("no picture") << QRect(1, 1, 1, 1) << QSize(0, 0) << QRect(0, 0, 10, 10) << QRect();
    }
    void boxOnTarget()
    {
        QFETCH(QRect, box);
        QFETCH(QSize, picture);
        QFETCH(QRect, target);
        QFETCH(QRect, drawn);
        QCOMPARE(Zoom::BoxOnTarget(box, picture, target), drawn);
    }

    void centerOffset()
    {
        QCOMPARE(CenterOffset(800, 600), 100);
        QCOMPARE(CenterOffset(800, 601), 99);
        QCOMPARE(CenterOffset(800, 800), 0);
        QCOMPARE(CenterOffset(800, 1600), 0);  // wider than the window: at the left edge
        QCOMPARE(CenterOffset(600, 0), 300);
    }

    void shapeAndPicture_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("picture");   // ToPicture(control)
        QTest::addColumn<int>("redrawn");   // ToControl(picture)
        QTest::newRow("level 1 as it is") << 1 << 57 << 57 << 57;
        QTest::newRow("level 0 twice") << 0 << 57 << 114 << 57;
        QTest::newRow("level -1 three times") << -1 << 10 << 30 << 10;
        QTest::newRow("level -2 four times") << -2 << 10 << 40 << 10;
        QTest::newRow("level 2 half, truncated") << 2 << 57 << 28 << 56;
        QTest::newRow("level 3 third, truncated") << 3 << 10 << 3 << 9;
        QTest::newRow("negative extent level 0") << 0 << -7 << -14 << -7;
        QTest::newRow("negative extent level 3 truncates toward zero") << 3 << -10 << -3 << -9;
        QTest::newRow("huge level clamps") << INT_MIN + 3 << 1000 << INT_MAX << 1;
    }
    void shapeAndPicture()
    {
        QFETCH(int, level);
        QFETCH(int, control);
        QFETCH(int, picture);
        QFETCH(int, redrawn);
        QCOMPARE(ToPicture(control, level), picture);
        QCOMPARE(ToControl(picture, level), redrawn);
    }

    void dragExtent_data()
    {
        QTest::addColumn<int>("pointer");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("extent");
        QTest::newRow("inside") << 80 << 30 << 200 << 50;
        QTest::newRow("back toward the origin") << 10 << 30 << 200 << -20;
        QTest::newRow("on the far edge") << 200 << 30 << 200 << 170;
        QTest::newRow("past the far edge stops there") << 450 << 30 << 200 << 170;
        QTest::newRow("past the near edge stops at 0") << -40 << 30 << 200 << -30;
        QTest::newRow("no movement") << 30 << 30 << 200 << 0;
    }
    void dragExtent()
    {
        QFETCH(int, pointer);
        QFETCH(int, start);
        QFETCH(int, side);
        QFETCH(int, extent);
        QCOMPARE(DragExtent(pointer, start, side), extent);
    }

    void cutRectangle()
    {
        // Corners put in order, whichever way the drag went.
        QCOMPARE(Normalised(100, 80, -60, -50), QRect(40, 30, 60, 50));
        QCOMPARE(Normalised(100, 80, 60, -50), QRect(100, 30, 60, 50));
        QCOMPARE(Normalised(10, 20, 0, 0), QRect(10, 20, 0, 0));
        // Clipped to the picture; nothing of it on the picture → empty.
        QCOMPARE(CutInPicture(QRect(20, 40, 100, 100), 400, 300), QRect(20, 40, 100, 100));
        QCOMPARE(CutInPicture(QRect(350, 250, 100, 100), 400, 300), QRect(350, 250, 50, 50));
        QCOMPARE(CutInPicture(QRect(100, 80, -120, -90), 400, 300), QRect(0, 0, 100, 80));
        QVERIFY(CutInPicture(QRect(10, 20, 0, 5), 400, 300).isEmpty());
        QVERIFY(CutInPicture(QRect(500, 20, 50, 50), 400, 300).isEmpty());
        // Far out along the int range: clipped away without overflow. The
        // rectangle itself must be representable (its right edge fits an int).
        QVERIFY(CutInPicture(QRect(INT_MAX - 5, 0, 5, 5), 400, 300).isEmpty());
        QVERIFY(CutInPicture(QRect(0, INT_MAX - 5, 5, 5), 400, 300).isEmpty());
        // A right or bottom edge on the last int, and extents that would pass
        // it: kept within the int range.
        QVERIFY(CutInPicture(QRect(QPoint(INT_MAX - 5, 0), QPoint(INT_MAX, 4)), 400, 300).isEmpty());
        QCOMPARE(Normalised(10, 0, INT_MAX, 5), QRect(QPoint(10, 0), QPoint(INT_MAX, 4)));
        QCOMPARE(Normalised(INT_MIN + 10, 0, INT_MAX, 5).width(), INT_MAX);
        QCOMPARE(CutInPicture(Normalised(-10, -10, INT_MAX, INT_MAX), 400, 300), QRect(0, 0, 400, 300));
        // Widths that reach past the picture by nearly the whole int range.
        QCOMPARE(CutInPicture(QRect(0, 0, INT_MAX, INT_MAX), 400, 300), QRect(0, 0, 400, 300));
        QCOMPARE(CutInPicture(QRect(-100, -100, INT_MAX - 100, 200), 400, 300), QRect(0, 0, 400, 100));
    }

    void previewSize_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("preview");
        QTest::newRow("landscape") << QSize(1600, 1200) << QSize(200, 150);
        QTest::newRow("portrait") << QSize(1024, 1448) << QSize(141, 200);
        QTest::newRow("square") << QSize(640, 640) << QSize(200, 200);
        QTest::newRow("small pictures grow to the box") << QSize(50, 20) << QSize(200, 80);
        QTest::newRow("a thin strip keeps one row") << QSize(5000, 3) << QSize(200, 1);
        QTest::newRow("a thin column keeps one column") << QSize(2, 4000) << QSize(1, 200);
        QTest::newRow("largest picture") << QSize(65535, 65534) << QSize(200, 199);
    }
    void previewSize()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, preview);
        QCOMPARE(PreviewSize(picture.width(), picture.height()), preview);
    }

    void colorOffsets_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::addColumn<int>("blue");
        QTest::newRow("all equal cancel out") << 15 << 15 << 15 << 0 << 0 << 0;
        QTest::newRow("red +25, green -25") << 25 << -25 << 0 << 37 << -37 << 0;
        QTest::newRow("red -25, green +25") << -25 << 25 << 0 << -37 << 37 << 0;
        QTest::newRow("red alone +10") << 10 << 0 << 0 << 10 << -5 << -5;
        QTest::newRow("halving truncates toward zero (+)") << 5 << 0 << 0 << 5 << -2 << -2;
        QTest::newRow("halving truncates toward zero (-)") << -5 << 0 << 0 << -5 << 2 << 2;
        QTest::newRow("blue alone -25") << 0 << 0 << -25 << 12 << 12 << -25;
    }
    void colorOffsets()
    {
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        QFETCH(int, red);
        QFETCH(int, green);
        QFETCH(int, blue);
        QCOMPARE(OffsetsFor(r, g, b), (ColorOffsets{red, green, blue}));
    }

    void resizeDialogQuotient()
    {
        const double ratio = 1024.0 / 768.0;
        QCOMPARE(DivideSide(1000, ratio), 750);
        QCOMPARE(DivideSide(600, 2.0), 300);
        QCOMPARE(DivideSide(-9, 2.0), -4);  // toward zero
        QCOMPARE(DivideSide(500, 0.0), 0);
        QCOMPARE(DivideSide(500, std::numeric_limits<double>::infinity()), 0);
        QCOMPARE(DivideSide(INT_MAX, 0.5), INT_MAX);
        // 0.1 is held above its true value: 3 / 0.1 is 29.9999999999999983…,
        // which double precision would round to 30 before the truncation.
        QCOMPARE(DivideSide(3, 0.1), 29);
    }

    void dibSizeFits()
    {
        QVERIFY(DibSizeFits(1, 1));
        QVERIFY(DibSizeFits(kMaxDibSide, 1));
        QVERIFY(!DibSizeFits(0, 10));
        QVERIFY(!DibSizeFits(10, -1));
        QVERIFY(!DibSizeFits(kMaxDibSide + 1, 1));
        QVERIFY(!DibSizeFits(20000, 20000));  // 1.2 GB of pixels
        QVERIFY(DibSizeFits(18000, 19000));   // just under 1 GB
    }
};

TOLVANE_UI_TEST(EditorGeometryTest);
#include "tst_EditorGeometry.moc"
