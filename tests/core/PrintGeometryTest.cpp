// SPDX-License-Identifier: GPL-3.0-or-later
// Where the printed picture lands on the printable area: 80 % of the side
// that limits it, proportions kept, centred, in device pixels.

#include "tests/core/CoreTestUtil.h"

#include "core/PrintGeometry.h"

#include <climits>

namespace {

struct Placement {
    const char* what;
    int pageWidth, pageHeight, bitmapWidth, bitmapHeight;
    int left, top, width, height;
};

// Page sizes are paper sizes in device pixels as Qt gives them: A4 at 300 dpi
// 2480 x 3508, at 600 dpi 4961 x 7016; Letter 2550 x 3300 and 5100 x 6600.
const Placement kPlacements[] = {
    // rx = 0.81 > ry = 0.29: the width limits; 1984 = 80 % of 2480, and the
    // height follows the picture's 2 : 1.
    {"landscape picture on a portrait page", 2480, 3508, 2000, 1000, 248, 1258, 1984, 992},
    // Letter turned: a portrait picture is limited by the page's height.
    {"portrait picture on a landscape page", 3300, 2550, 1024, 1448, 929, 255, 1442, 2040},
    // rx = ry = 0.5: 80 % of both sides (2806.4 truncated).
    {"same proportions as the page", 2480, 3508, 1240, 1754, 248, 351, 1984, 2806},
    {"same size as the page", 2480, 3508, 2480, 3508, 248, 351, 1984, 2806},
    {"square picture on a square page", 1000, 1000, 500, 500, 100, 100, 800, 800},
    // Small pictures are enlarged to the same 80 %.
    {"tiny picture enlarged", 2480, 3508, 10, 20, 538, 351, 1403, 2806},
    {"one pixel enlarged", 100, 100, 1, 1, 10, 10, 80, 80},

    {"A4 300 dpi, 1024 x 1448 page", 2480, 3508, 1024, 1448, 248, 351, 1984, 2805},
    {"A4 300 dpi, 2480 x 3508 page", 2480, 3508, 2480, 3508, 248, 351, 1984, 2806},
    {"A4 600 dpi, 1024 x 1448 page", 4961, 7016, 1024, 1448, 496, 702, 3968, 5612},
    {"A4 600 dpi, 2480 x 3508 page", 4961, 7016, 2480, 3508, 496, 702, 3968, 5612},
    // Letter is wider than A4: the height limits both pages.
    {"Letter 300 dpi, 1024 x 1448 page", 2550, 3300, 1024, 1448, 342, 330, 1866, 2640},
    {"Letter 300 dpi, 2480 x 3508 page", 2550, 3300, 2480, 3508, 342, 330, 1866, 2640},
    {"Letter 600 dpi, 1024 x 1448 page", 5100, 6600, 1024, 1448, 683, 660, 3733, 5280},
    {"Letter 600 dpi, 2480 x 3508 page", 5100, 6600, 2480, 3508, 684, 660, 3732, 5280},

    // Computed in double in the order w * 80 / r * 0.01: for 21 x 21 that is
    // 1983.99…, one below the exact 1984; for 45 x 45 it is 1984, where
    // w * 0.8 / r would give 1983.
    {"21 x 21 in double", 2480, 3508, 21, 21, 248, 762, 1983, 1983},
    {"45 x 45 in double", 2480, 3508, 45, 45, 248, 762, 1984, 1984},
};

TEST(PrintTargetRect, PlacesThePictureAt80PercentCentred)
{
    for (const Placement& p : kPlacements) {
        const QRect r = PrintTargetRect(p.pageWidth, p.pageHeight, p.bitmapWidth, p.bitmapHeight);
        EXPECT_EQ(r, QRect(p.left, p.top, p.width, p.height)) << p.what;
        // exactly width x height pixels, ending one before left + width
        EXPECT_EQ(r.right(), p.left + p.width - 1) << p.what;
        EXPECT_EQ(r.bottom(), p.top + p.height - 1) << p.what;
        // centred: the margins differ by at most the odd pixel
        const int rightMargin = p.pageWidth - (r.left() + r.width());
        const int bottomMargin = p.pageHeight - (r.top() + r.height());
        EXPECT_GE(rightMargin - r.left(), 0) << p.what;
        EXPECT_LE(rightMargin - r.left(), 1) << p.what;
        EXPECT_GE(bottomMargin - r.top(), 0) << p.what;
        EXPECT_LE(bottomMargin - r.top(), 1) << p.what;
    }
}

TEST(PrintTargetRect, DegenerateSizesGiveAnEmptyRectangle)
{
    const int sizes[] = {0, -1, INT_MIN};
    for (int bad : sizes) {
        EXPECT_TRUE(PrintTargetRect(bad, 3508, 1024, 1448).isEmpty()) << bad;
        EXPECT_TRUE(PrintTargetRect(2480, bad, 1024, 1448).isEmpty()) << bad;
        EXPECT_TRUE(PrintTargetRect(2480, 3508, bad, 1448).isEmpty()) << bad;
        EXPECT_TRUE(PrintTargetRect(2480, 3508, 1024, bad).isEmpty()) << bad;
    }
    EXPECT_TRUE(PrintTargetRect(0, 0, 0, 0).isEmpty());
}

TEST(PrintTargetRect, LargestSidesStayInsideThePage)
{
    // A kMaxDibSide square on a 1200 dpi A0 sheet; on a one-pixel page 80 %
    // of a pixel is nothing.
    EXPECT_EQ(PrintTargetRect(39732, 56173, 65535, 65535), QRect(3973, 12194, 31785, 31785));
    const QRect nothing = PrintTargetRect(1, 1, 65535, 1);
    EXPECT_TRUE(nothing.isEmpty());
    EXPECT_EQ(nothing, QRect(0, 0, 0, 0));
}

}  // namespace
