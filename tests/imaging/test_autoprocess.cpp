// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic processing: the target boxes, the sizes of page image and
// thumbnail (turning included) on both scaling paths, what the page image and
// thumbnail are made from, the fate of the acquired handle, the edited-image
// and copy paths, and failures.

#include "test_autoprocess_util.h"

#include <string>
#include <tuple>

namespace {

using namespace autotest;

// A quick fill for big pictures whose content does not matter: a pattern
// that differs by position, written row by row.
ImageHandle Patterned(int width, int height)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = h.Data() + l.bitsOffset + std::size_t(y) * l.stride;
        for (int i = 0; i < width * 3; ++i)
            row[i] = uint8_t(120 + (i * 7 + y * 13) % 120);
    }
    return h;
}

// --- The target box ----------------------------------------------------------

TEST(TargetBox, TableOfKMode)
{
    Settings s = DefaultSettings();
    s.KFX = 333;
    s.KFY = 222;
    struct Row {
        int kMode, width, height;
        bool whole;
    };
    const Row rows[] = {
        {0, 1024, 768, false}, {1, 1024, 768, true}, {2, 800, 600, false},  {3, 800, 600, true},
        {4, 1240, 1024, false}, {5, 1240, 1024, true}, {6, 333, 222, false}, {7, 333, 222, true},
    };
    for (const Row& r : rows) {
        s.KMode = r.kMode;
        const TargetBox box = TargetBoxFor(s);
        EXPECT_EQ(box.width, r.width) << "KMode " << r.kMode;
        EXPECT_EQ(box.height, r.height) << "KMode " << r.kMode;
        EXPECT_EQ(box.wholeBox, r.whole) << "KMode " << r.kMode;
    }
}

TEST(TargetBox, UnknownKModeActsAsZero)
{
    Settings s = DefaultSettings();
    for (int kMode : {-1, 8, 9, 100, -2147483647 - 1, 2147483647}) {
        s.KMode = kMode;
        const TargetBox box = TargetBoxFor(s);
        EXPECT_EQ(box.width, 1024) << kMode;
        EXPECT_EQ(box.height, 768) << kMode;
        EXPECT_FALSE(box.wholeBox) << kMode;
    }
}

TEST(TargetBox, NonPositiveOwnSidesBecomeOne)
{
    Settings s = DefaultSettings();
    for (int kMode : {6, 7}) {
        s.KMode = kMode;
        for (int bad : {0, -5, -2147483647 - 1}) {
            s.KFX = bad;
            s.KFY = 480;
            EXPECT_EQ(TargetBoxFor(s).width, 1) << kMode << " KFX " << bad;
            EXPECT_EQ(TargetBoxFor(s).height, 480);
            s.KFX = 640;
            s.KFY = bad;
            EXPECT_EQ(TargetBoxFor(s).width, 640);
            EXPECT_EQ(TargetBoxFor(s).height, 1) << kMode << " KFY " << bad;
        }
    }
}

// --- Sizes -------------------------------------------------------------------

struct SizeCase {
    const char* name;
    int width, height;
    int kMode, kfx, kfy;
    bool turned;
    int pageW, pageH, thumbW, thumbH;
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.name;
}

// Expected sizes worked out by hand: s = Wt / W or min(Wt / W, Ht / H), at
// most 1, side = W x s formed exactly and truncated (the double quotient
// often lies just below the exact one, hence 1023 for 2480 at 1024).
const SizeCase kSizeCases[] = {
    {"A4_KMode0", 2480, 3508, 0, 640, 480, false, 1023, 1448, 141, 200},
    {"A4_KMode1_turned", 2480, 3508, 1, 640, 480, true, 1024, 723, 160, 113},
    {"Letter_KMode3_turned", 1700, 2200, 3, 640, 480, true, 776, 600, 159, 123},
    {"Small_KMode1_kept", 640, 480, 1, 640, 480, false, 640, 480, 160, 120},
    {"Tiny_KMode1_kept_thumb_too", 120, 90, 1, 640, 480, false, 120, 90, 120, 90},
    {"A4_KMode2_tall_not_turned", 2480, 3508, 2, 640, 480, false, 799, 1131, 141, 200},
    {"Tall_KMode2_width_only", 1000, 3000, 2, 640, 480, false, 800, 2400, 66, 199},
    {"A4_KMode3_turned", 2480, 3508, 3, 640, 480, true, 800, 565, 160, 113},
    {"A4_KMode4_width_only", 2480, 3508, 4, 640, 480, false, 1240, 1754, 141, 200},
    {"A4_KMode5_turned", 2480, 3508, 5, 640, 480, true, 1240, 876, 160, 113},
    {"Tall_KMode6_own_width", 1000, 3000, 6, 500, 480, false, 500, 1500, 66, 199},
    {"A4_KMode7_own_box_turned", 2480, 3508, 7, 640, 480, true, 640, 452, 160, 113},
    {"Tall_below_Ht_KMode5_not_turned", 600, 1000, 5, 640, 480, false, 600, 1000, 120, 200},
    {"Tall_equal_Ht_KMode5_not_turned", 700, 1024, 5, 640, 480, false, 700, 1024, 136, 200},
    {"Tall_above_Ht_KMode5_turned", 700, 1025, 5, 640, 480, true, 1025, 700, 159, 109},
    {"Square_KMode1_not_turned", 2000, 2000, 1, 640, 480, false, 768, 768, 160, 160},
    {"Landscape_KMode0", 3508, 2480, 0, 640, 480, false, 1024, 723, 160, 113},
    {"Landscape_KMode3", 4000, 3000, 3, 640, 480, false, 800, 600, 160, 120},
    {"Box_exact_KMode1", 1024, 768, 1, 640, 480, false, 1024, 768, 160, 120},
    {"Box_plus_one_KMode1", 1025, 769, 1, 640, 480, false, 1023, 768, 159, 120},
    {"KMode8_as_0", 2480, 3508, 8, 640, 480, false, 1023, 1448, 141, 200},
    {"KModeMinus1_as_0", 2480, 3508, -1, 640, 480, false, 1023, 1448, 141, 200},
    // Thin images and degenerate boxes: no side below 1.
    {"Thin_wide_KMode0", 5000, 1, 0, 640, 480, false, 1024, 1, 160, 1},
    {"Thin_tall_KMode0", 1, 5000, 0, 640, 480, false, 1, 5000, 1, 200},
    {"Thin_tall_KMode1_turned", 1, 5000, 1, 640, 480, true, 1024, 1, 160, 1},
    {"Thin_wide_KMode1", 5000, 1, 1, 640, 480, false, 1024, 1, 160, 1},
    {"One_pixel", 1, 1, 0, 640, 480, false, 1, 1, 1, 1},
    {"KFX0_KMode7", 2480, 3508, 7, 0, 480, true, 1, 1, 160, 113},
    {"KFXneg_KMode6", 2480, 3508, 6, -5, 480, false, 1, 1, 141, 200},
    {"KFY0_KMode7", 640, 480, 7, 640, 0, false, 1, 1, 160, 120},
    {"KFYneg_KMode7_turned", 2480, 3508, 7, 640, -3, true, 1, 1, 160, 113},
    {"KFX1_KFY1_KMode7_small", 3, 3, 7, 1, 1, false, 1, 1, 3, 3},
};

class AutoSizes : public ::testing::TestWithParam<std::tuple<SizeCase, int>> {};

TEST_P(AutoSizes, PageAndThumbnail)
{
    const auto& [c, path] = GetParam();
    Settings s = With(c.kMode, path, path);
    s.KFX = c.kfx;
    s.KFY = c.kfy;

    ImageHandle acquired = Patterned(c.width, c.height);
    const uint8_t* const before = acquired.Data();
    const PageImages out = AutoProcessImage(acquired, s);
    ASSERT_TRUE(out.page);
    ASSERT_TRUE(out.thumbnail);

    EXPECT_EQ(WidthOf(out.page), c.pageW);
    EXPECT_EQ(HeightOf(out.page), c.pageH);
    EXPECT_EQ(WidthOf(out.thumbnail), c.thumbW);
    EXPECT_EQ(HeightOf(out.thumbnail), c.thumbH);
    EXPECT_EQ(DibLayoutOf(out.page).bitCount, 24);
    EXPECT_EQ(DibLayoutOf(out.thumbnail).bitCount, 24);
    EXPECT_TRUE(imgtest::PaddingIsZero(out.page));
    EXPECT_TRUE(imgtest::PaddingIsZero(out.thumbnail));

    // The caller's handle holds the turned image afterwards, or the very
    // block it handed in.
    ASSERT_TRUE(acquired);
    if (c.turned) {
        EXPECT_NE(acquired.Data(), before);
        EXPECT_EQ(WidthOf(acquired), c.height);
        EXPECT_EQ(HeightOf(acquired), c.width);
    } else {
        EXPECT_EQ(acquired.Data(), before);
        EXPECT_EQ(WidthOf(acquired), c.width);
        EXPECT_EQ(HeightOf(acquired), c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoSizes, ::testing::Combine(::testing::ValuesIn(kSizeCases), ::testing::Values(0, 1)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name)
                                    + (std::get<1>(info.param) == 0 ? "_HighQuality" : "_Library");
                         });

// Over many small sizes, boxes and settings: no side below 1, the page fits
// its box, nothing is enlarged, the thumbnail fits 160 x 200.
TEST(AutoSizes, EverySideAtLeastOneAndWithinBox)
{
    const int sides[] = {1, 2, 3, 7, 40, 61};
    const int own[] = {-5, 0, 1, 3, 50};
    for (int kMode = 0; kMode < 8; ++kMode) {
        for (int kfx : own) {
            for (int kfy : own) {
                if (kMode < 6 && (kfx != own[0] || kfy != own[0]))
                    continue;  // KFX, KFY only matter for 6 and 7
                Settings s = With(kMode, 0, 0, 2, 1);
                s.KFX = kfx;
                s.KFY = kfy;
                const TargetBox box = TargetBoxFor(s);
                for (int w : sides) {
                    for (int h : sides) {
                        ImageHandle acquired = Patterned(w, h);
                        const PageImages out = AutoProcessImage(acquired, s);
                        const std::string where = "KMode " + std::to_string(kMode) + " KFX " + std::to_string(kfx)
                                                  + " KFY " + std::to_string(kfy) + " image " + std::to_string(w)
                                                  + "x" + std::to_string(h);
                        ASSERT_TRUE(out.page) << where;
                        ASSERT_TRUE(out.thumbnail) << where;
                        const int pw = WidthOf(out.page), ph = HeightOf(out.page);
                        const int tw = WidthOf(out.thumbnail), th = HeightOf(out.thumbnail);
                        const int aw = WidthOf(acquired), ah = HeightOf(acquired);
                        EXPECT_GE(pw, 1) << where;
                        EXPECT_GE(ph, 1) << where;
                        EXPECT_GE(tw, 1) << where;
                        EXPECT_GE(th, 1) << where;
                        EXPECT_LE(pw, aw) << where;
                        EXPECT_LE(ph, ah) << where;
                        EXPECT_LE(pw, box.width) << where;
                        if (box.wholeBox) {
                            EXPECT_LE(ph, box.height) << where;
                        }
                        EXPECT_LE(tw, std::min(aw, 160)) << where;
                        EXPECT_LE(th, std::min(ah, 200)) << where;
                    }
                }
            }
        }
    }
}

// --- What the images are made of -------------------------------------------

// Turned anticlockwise (code 1): the acquired handle ends up holding exactly
// the library's left turn of the original.
TEST(AutoProcess, TurnsAnticlockwiseIntoTheCallersHandle)
{
    ImageHandle acquired = MakePage(90, 130);
    const ImageHandle original = Clone(acquired);
    Settings s = With(7, 0, 0, 2, 1);
    s.KFX = 200;
    s.KFY = 100;
    const PageImages out = AutoProcessImage(acquired, s);
    ASSERT_TRUE(out.page);
    EXPECT_TRUE(imgtest::SamePixels(acquired, ImgKitRotation(original, kImgKitRotateLeft)));
    // The picture's top-right corner is now its top-left.
    EXPECT_EQ(RawAt(acquired, 0, 0), RawAt(original, 89, 0));
}

// Without corrections and whitening the page image is only the scaled
// (turned) acquired image, on either path.
TEST(AutoProcess, NoCorrectionNoWhiteningGivesOnlyScaling)
{
    for (bool turn : {false, true}) {
        ImageHandle acquired = MakePage(300, 420);
        const ImageHandle original = Clone(acquired);
        const ImageHandle upright = turn ? ImgKitRotation(original, kImgKitRotateLeft) : Clone(original);
        Settings s = With(turn ? 7 : 6, 0, 0, 2, 1);
        s.KFX = 210;
        s.KFY = 150;
        const PageImages high = AutoProcessImage(acquired, s);
        ASSERT_TRUE(high.page);
        const int w = WidthOf(high.page), h = HeightOf(high.page);
        // 300 x 0.7 with 0.7 just below 7/10 gives 209.
        EXPECT_EQ(w, turn ? 210 : 209) << turn;
        EXPECT_EQ(h, turn ? 150 : 293) << turn;
        EXPECT_EQ(Bytes(high.page), Bytes(Averaged(upright, w, h))) << "turn " << turn;

        ImageHandle again = Clone(original);
        s.ResizeModeA = 1;
        const PageImages normal = AutoProcessImage(again, s);
        ASSERT_TRUE(normal.page);
        EXPECT_EQ(Bytes(normal.page), Bytes(ImgKitImageSize(upright, w, h))) << "turn " << turn;
    }
}

// The default chain: scale, balance colours, whiten; the thumbnail is made
// from that finished page image, on either thumbnail path.
TEST(AutoProcess, PageIsCorrectedThenWhitenedAndThumbnailComesFromIt)
{
    struct Mode {
        int autoMode, whiteMode;
    };
    const ImageHandle picture = MakePage(1240, 1754, 11);
    for (Mode m : {Mode{0, 0}, Mode{1, 0}, Mode{0, 1}, Mode{1, 1}, Mode{3, 0}, Mode{2, 7}}) {
        for (int resizeT : {0, 1}) {
            ImageHandle acquired = Clone(picture);
            ImageHandle expected = Averaged(acquired, 1023, 1448);
            const std::string where = "AutoMode " + std::to_string(m.autoMode) + " WhiteMode "
                                      + std::to_string(m.whiteMode) + " ResizeModeT " + std::to_string(resizeT);
            if (m.autoMode == 0)
                AutoColorBalance(expected);
            else if (m.autoMode == 1)
                AutoContrast(expected);
            if (m.whiteMode == 0)
                WhiteningFilter(expected);

            const PageImages out = AutoProcessImage(acquired, With(0, 0, resizeT, m.autoMode, m.whiteMode));
            ASSERT_TRUE(out.page) << where;
            ASSERT_EQ(HeightOf(out.page), 1448) << where;
            EXPECT_EQ(Bytes(out.page), Bytes(expected)) << where;

            ASSERT_EQ(WidthOf(out.thumbnail), 141) << where;
            ASSERT_EQ(HeightOf(out.thumbnail), 200) << where;
            const ImageHandle fromPage =
                resizeT == 0 ? Averaged(expected, 141, 200) : ImgKitImageSize(expected, 141, 200);
            EXPECT_EQ(Bytes(out.thumbnail), Bytes(fromPage)) << where;
        }
    }
}

// Correction before whitening: the other order gives another page, so the
// test above pins the order only if the two differ on this picture.
TEST(AutoProcess, OrderOfCorrectionAndWhiteningMatters)
{
    ImageHandle a = Averaged(MakePage(400, 300, 3), 400, 300);
    ImageHandle b = Clone(a);
    AutoColorBalance(a);
    WhiteningFilter(a);
    WhiteningFilter(b);
    AutoColorBalance(b);
    EXPECT_NE(Bytes(a), Bytes(b));
    // And the corrected picture differs from the acquired one.
    ImageHandle c = MakePage(400, 300, 3);
    const ImageHandle untouched = Clone(c);
    AutoColorBalance(c);
    EXPECT_NE(Bytes(c), Bytes(untouched));
}

// --- Failures ----------------------------------------------------------------

TEST(AutoProcess, RefusesNullAndOtherDepths)
{
    ImageHandle none;
    PageImages out = AutoProcessImage(none, Defaults());
    EXPECT_FALSE(out.page);
    EXPECT_FALSE(out.thumbnail);
    EXPECT_FALSE(none);

    for (imgtest::Kind kind : {imgtest::Kind::Bilevel, imgtest::Kind::Palette4, imgtest::Kind::Grey8}) {
        ImageHandle acquired = imgtest::MakeImage(kind, 40, 3000);
        const std::vector<uint8_t> before = Bytes(acquired);
        out = AutoProcessImage(acquired, With(1));
        EXPECT_FALSE(out.page) << imgtest::NameOf(kind);
        EXPECT_FALSE(out.thumbnail) << imgtest::NameOf(kind);
        EXPECT_EQ(Bytes(acquired), before) << "not turned: " << imgtest::NameOf(kind);
        EXPECT_FALSE(FinishEditedImage(acquired, Defaults()).page);
        EXPECT_FALSE(FinishEditedImage(acquired, Defaults()).thumbnail);
        EXPECT_FALSE(MakeThumbnail(acquired, Defaults()));
    }

    // A damaged header: a block too short for its rows.
    ImageHandle broken = Patterned(50, 50);
    broken.Header()->biHeight = 5000;
    out = AutoProcessImage(broken, With(1));
    EXPECT_FALSE(out.page);
    EXPECT_FALSE(out.thumbnail);
    EXPECT_FALSE(FinishEditedImage(ImageHandle(), Defaults()).page);
    EXPECT_FALSE(MakeThumbnail(ImageHandle(), Defaults()));
}

// --- After editing, and for copies --------------------------------------------

TEST(FinishEdited, PageIsAnUnscaledCopyAndThumbnailComesFromIt)
{
    for (int resizeT : {0, 1}) {
        // KMode 1 and corrections on: none of them touches an edited image.
        const Settings s = With(1, 0, resizeT, 0, 0);
        const ImageHandle edited = MakePage(2480, 3508, 5);
        const std::vector<uint8_t> before = Bytes(edited);
        const PageImages out = FinishEditedImage(edited, s);
        ASSERT_TRUE(out.page);
        ASSERT_TRUE(out.thumbnail);
        EXPECT_NE(out.page.Data(), edited.Data());
        EXPECT_EQ(Bytes(out.page), before);
        EXPECT_EQ(Bytes(edited), before);
        ASSERT_EQ(WidthOf(out.thumbnail), 141);
        ASSERT_EQ(HeightOf(out.thumbnail), 200);
        const ImageHandle expected = resizeT == 0 ? Averaged(edited, 141, 200) : ImgKitImageSize(edited, 141, 200);
        EXPECT_EQ(Bytes(out.thumbnail), Bytes(expected)) << "ResizeModeT " << resizeT;
    }
}

TEST(FinishEdited, WideAndSmallImagesKeepTheirSize)
{
    const ImageHandle wide = Patterned(3508, 2480);
    PageImages out = FinishEditedImage(wide, With(0));
    EXPECT_EQ(WidthOf(out.page), 3508);
    EXPECT_EQ(HeightOf(out.page), 2480);
    EXPECT_EQ(WidthOf(out.thumbnail), 160);
    EXPECT_EQ(HeightOf(out.thumbnail), 113);

    const ImageHandle small = Patterned(120, 90);
    out = FinishEditedImage(small, With(0));
    EXPECT_EQ(Bytes(out.page), Bytes(small));
    EXPECT_EQ(Bytes(out.thumbnail), Bytes(small));  // kept size: an exact copy
}

struct ThumbCase {
    int width, height, thumbW, thumbH;
};

TEST(MakeThumbnail, SizesOnBothPaths)
{
    const ThumbCase cases[] = {
        {2480, 3508, 141, 200}, {3508, 2480, 160, 113}, {1700, 2200, 154, 200}, {640, 480, 160, 120},
        {120, 90, 120, 90},     {160, 200, 160, 200},   {1000, 3000, 66, 199},  {5000, 1, 160, 1},
        {1, 5000, 1, 200},      {1, 1, 1, 1},
    };
    for (int path : {0, 1}) {
        for (const ThumbCase& c : cases) {
            const ImageHandle image = Patterned(c.width, c.height);
            const ImageHandle thumb = MakeThumbnail(image, With(0, 0, path));
            ASSERT_TRUE(thumb) << c.width << "x" << c.height;
            EXPECT_EQ(WidthOf(thumb), c.thumbW) << c.width << "x" << c.height << " path " << path;
            EXPECT_EQ(HeightOf(thumb), c.thumbH) << c.width << "x" << c.height << " path " << path;
        }
    }
}

TEST(MakeThumbnail, PicksThePathByResizeModeT)
{
    const ImageHandle image = MakePage(800, 600);
    const ImageHandle averaged = Averaged(image, 160, 120);
    const ImageHandle library = ImgKitImageSize(image, 160, 120);
    ASSERT_NE(Bytes(averaged), Bytes(library));  // the paths are told apart

    EXPECT_EQ(Bytes(MakeThumbnail(image, With(0, 0, 0))), Bytes(averaged));
    EXPECT_EQ(Bytes(MakeThumbnail(image, With(0, 0, 1))), Bytes(library));
    EXPECT_EQ(Bytes(MakeThumbnail(image, With(0, 0, 2))), Bytes(averaged));   // other values: high quality
    EXPECT_EQ(Bytes(MakeThumbnail(image, With(0, 0, -1))), Bytes(averaged));
    // Only ResizeModeT counts.
    EXPECT_EQ(Bytes(MakeThumbnail(image, With(5, 1, 0, 1, 1))), Bytes(averaged));
}

TEST(AutoProcess, PicksThePageScalerByResizeModeA)
{
    const ImageHandle image = MakePage(2000, 1500);
    ASSERT_NE(Bytes(Averaged(image, 1024, 768)), Bytes(ImgKitImageSize(image, 1024, 768)));
    for (int mode : {0, 1, 2, -3}) {
        ImageHandle acquired = Clone(image);
        const PageImages out = AutoProcessImage(acquired, With(0, mode, 0, 2, 1));
        const ImageHandle expected = mode == 1 ? ImgKitImageSize(image, 1024, 768) : Averaged(image, 1024, 768);
        EXPECT_EQ(Bytes(out.page), Bytes(expected)) << "ResizeModeA " << mode;
    }
}

}  // namespace
