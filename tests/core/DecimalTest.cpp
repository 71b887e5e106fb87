// SPDX-License-Identifier: GPL-3.0-or-later
// Decimal text as settings, edits and page-list headers hold it, and sizes
// computed from a double scale.

#include "tests/core/CoreTestUtil.h"

#include "core/Decimal.h"

#include <algorithm>
#include <limits>

namespace {

TEST(ParseDecimal, LeadingDigitsOnly)
{
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"640", 640},        {"00000041", 41},  {"  41", 41},     {"\t-5", -5},      {"+7", 7},
        {"150dpi", 150},     {"3.9", 3},        {"abc", 0},       {"", 0},           {"-", 0},
        {"- 5", 0},          {"12 34", 12},     {"0297", 297},    {"-0", 0},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseDecimal(QString::fromUtf8(c.text)), c.value) << c.text;
        EXPECT_EQ(ParseDecimal(QByteArray(c.text)), c.value) << c.text;
    }
    // full-width digits are not digits
    EXPECT_EQ(ParseDecimal(QStringLiteral("１５０")), 0);
}

TEST(ScaleSide, ProductWithA64BitSignificandThenTruncated)
{
    // the double 1024/2480 lies a hair below the exact ratio
    EXPECT_EQ(ScaleSide(2480, 1024.0 / 2480), 1023);
    EXPECT_EQ(ScaleSide(3508, 1024.0 / 2480), 1448);
    // a fitted box: the smaller factor wins
    const double s = std::min(1024.0 / 3508, 768.0 / 2480);
    EXPECT_EQ(ScaleSide(3508, s), 1024);
    EXPECT_EQ(ScaleSide(2480, s), 723);
    const double t = std::min(800.0 / 2200, 600.0 / 1700);
    EXPECT_EQ(ScaleSide(2200, t), 776);
    EXPECT_EQ(ScaleSide(1700, t), 600);
    // the aspect ratio of 1024 x 768 held as a double, times 384
    EXPECT_EQ(ScaleSide(384, 1024.0 / 768), 511);
    EXPECT_EQ(ScaleSide(1000, 768.0 / 1024), 750);
    EXPECT_EQ(ScaleSide(640, 1.0), 640);
    EXPECT_EQ(ScaleSide(-3, 0.5), -1);  // toward zero
    EXPECT_EQ(ScaleSide(2000000000, 4.0), std::numeric_limits<int>::max());
}

}  // namespace
