// SPDX-License-Identifier: GPL-3.0-or-later
// Image operations: information, conversion, rotation, clipping, copying,
// scaling, brightness, colour offsets, clipboard and the replace rule.

#include "imaging/ImgKit.h"
#include "imaging/DibQImage.h"
#include "test_imgkit_images.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include <cmath>
#include <limits>
#include <map>
#include <string>

using namespace imgtest;

namespace {

// Blocks that must be refused everywhere.
std::vector<ImageHandle> BadBlocks()
{
    std::vector<ImageHandle> v;
    v.emplace_back();  // null
    auto withHeader = [](std::size_t size, int w, int h, int bits, uint32_t headerSize = 40, uint32_t compression = 0) {
        ImageHandle b = ImageHandle::Allocate(size);
        b.Header()->biSize = headerSize;
        b.Header()->biWidth = w;
        b.Header()->biHeight = h;
        b.Header()->biPlanes = 1;
        b.Header()->biBitCount = uint16_t(bits);
        b.Header()->biCompression = compression;
        return b;
    };
    v.push_back(withHeader(40, 100, 100, 24));               // rows missing
    v.push_back(withHeader(40 + 16 * 4, 4, 4, 16));          // unsupported depth
    v.push_back(withHeader(40 + 1024 + 16, 4, 4, 8, 12));    // old core header
    v.push_back(withHeader(40 + 64, 4, 4, 24, 40, 1));       // compressed
    v.push_back(withHeader(40 + 64, 0, 4, 24));              // no width
    v.push_back(withHeader(40 + 64, 4, -4, 24));             // top-down block
    v.push_back(withHeader(40 + 8 + 3, 1, 1, 1));            // table fits, row does not
    return v;
}

TEST(ImgKitOps, EveryCallRefusesNullAndMalformedBlocks)
{
    for (ImageHandle& bad : BadBlocks()) {
        const std::vector<uint8_t> before(bad.Data(), bad.Data() + bad.Size());
        ImgKitInfo info{7, 7, 7, 7, 7};
        EXPECT_FALSE(ImgKitImageInfo(bad, info));
        EXPECT_EQ(info.width, 7);
        EXPECT_FALSE(ImgKitConvertColor(bad, 24));
        for (int code = 0; code <= 4; ++code)
            EXPECT_FALSE(ImgKitRotation(bad, code));
        EXPECT_FALSE(ImgKitImageSize(bad, 10, 10));
        EXPECT_FALSE(ImgKitCopy(bad));
        EXPECT_FALSE(ImgKitBright(bad, 0.25));
        EXPECT_FALSE(ImgKitRGB(bad, 10, 10, 10));
        EXPECT_FALSE(ImgKitRectCut(bad, 0, 0, 2, 2));
        EXPECT_FALSE(ImgKitSetToClipBrd(bad));
        QByteArray out;
        EXPECT_FALSE(ImgKitJpegEncode(bad, 80, out));
        EXPECT_FALSE(ImgKitTiffEncode(bad, out));
        EXPECT_FALSE(ImgKitBmpEncode(bad, out));
        EXPECT_EQ(std::vector<uint8_t>(bad.Data(), bad.Data() + bad.Size()), before);  // untouched
    }
}

TEST(ImgKitOps, InfoDescribesEveryDepth)
{
    struct Case {
        Kind kind;
        int32_t type, bits, colors;
    } cases[] = {
        {Kind::Bilevel, kImgKitColorBilevel, 1, 2},     {Kind::Palette4, kImgKitColorPalette4, 4, 16},
        {Kind::Palette8, kImgKitColorPalette8, 8, 256}, {Kind::Grey8, kImgKitColorGray8, 8, 256},
        {Kind::Full24, kImgKitColorFull, 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NameOf(c.kind));
        ImgKitInfo info{};
        ASSERT_TRUE(ImgKitImageInfo(MakeImage(c.kind, 13, 4), info));
        EXPECT_EQ(info.width, 13);
        EXPECT_EQ(info.height, 4);
        EXPECT_EQ(info.colorType, c.type);
        EXPECT_EQ(info.bitCount, c.bits);
        EXPECT_EQ(info.colorCount, c.colors);
    }
    // A grey ramp with one entry off is a palette.
    ImageHandle almost = MakeImage(Kind::Grey8, 2, 2);
    SetTableEntry(almost, 200, MakeRgb(200, 200, 201));
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(almost, info));
    EXPECT_EQ(info.colorType, kImgKitColorPalette8);
}

// --- Conversion ------------------------------------------------------------

TEST(ImgKitOps, ConvertColorGivesTheSameColoursAt24Bits)
{
    for (Kind kind : {Kind::Bilevel, Kind::BilevelColoured, Kind::Palette4, Kind::Palette8, Kind::Grey8, Kind::Full24})
        for (int w : {1, 3, 5, 13}) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " width " + std::to_string(w));
            const ImageHandle src = MakeImage(kind, w, 3);
            const ImageHandle out = ImgKitConvertColor(src, 24);
            ASSERT_TRUE(out);
            EXPECT_NE(out.Data(), src.Data());
            EXPECT_EQ(DibLayoutOf(out).bitCount, 24);
            EXPECT_TRUE(SameColours(src, out));
            EXPECT_TRUE(PaddingIsZero(out));
        }
    EXPECT_FALSE(ImgKitConvertColor(MakeImage(Kind::Full24, 3, 3), 8));
    EXPECT_FALSE(ImgKitConvertColor(MakeImage(Kind::Palette8, 3, 3), 1));
}

TEST(ImgKitOps, ConvertColorShowsIndicesBeyondTheTableAsBlack)
{
    ImageHandle img = ImageHandle::NewDib(3, 1, 8, 2);
    SetTableEntry(img, 0, 0x102030);
    SetTableEntry(img, 1, 0x405060);
    SetRaw(img, 0, 0, 0);
    SetRaw(img, 1, 0, 1);
    SetRaw(img, 2, 0, 200);
    const ImageHandle out = ImgKitConvertColor(img, 24);
    ASSERT_TRUE(out);
    EXPECT_EQ(ColorAt(out, 0, 0), 0x102030u);
    EXPECT_EQ(ColorAt(out, 1, 0), 0x405060u);
    EXPECT_EQ(ColorAt(out, 2, 0), 0x000000u);
}

// --- Rotation --------------------------------------------------------------

// The picture "abc / def" (3 x 2) and what each code makes of it.
const std::map<int, std::vector<std::string>> kTurned = {
    {kImgKitRotateLeft, {"cf", "be", "ad"}},   // 90 degrees anticlockwise
    {kImgKitRotateRight, {"da", "eb", "fc"}},  // 90 degrees clockwise
    {kImgKitRotate180, {"fed", "cba"}},
    {kImgKitMirror, {"cba", "fed"}},
    {kImgKitFlipVertical, {"def", "abc"}},
};

TEST(ImgKitOps, RotationCodesTurnAndFlipAsNamed)
{
    // Letters are stored as their own values: palette indices or grey levels.
    for (int bits : {4, 8, 24}) {
        SCOPED_TRACE("bits " + std::to_string(bits));
        ImageHandle img = ImageHandle::NewDib(3, 2, bits, bits == 24 ? 0 : 1 << bits);
        const char* rows[] = {"abc", "def"};
        auto value = [bits](char ch) { return bits == 24 ? MakeRgb(ch, ch * 2 & 255, 255 - ch) : uint32_t(ch - 'a' + 1); };
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                SetRaw(img, x, y, value(rows[y][x]));
        for (const auto& [code, expected] : kTurned) {
            SCOPED_TRACE("code " + std::to_string(code));
            const ImageHandle out = ImgKitRotation(img, code);
            ASSERT_TRUE(out);
            ASSERT_EQ(DibLayoutOf(out).height, int(expected.size()));
            ASSERT_EQ(DibLayoutOf(out).width, int(expected[0].size()));
            for (int y = 0; y < int(expected.size()); ++y)
                for (int x = 0; x < int(expected[0].size()); ++x)
                    EXPECT_EQ(RawAt(out, x, y), value(expected[std::size_t(y)][std::size_t(x)])) << x << "," << y;
            EXPECT_TRUE(PaddingIsZero(out));
        }
    }
}

TEST(ImgKitOps, RotationAgreesAcrossDepthsOnWiderPictures)
{
    // A 24-bit picture whose pixels hold their own position (red = x,
    // green = y) shows, once turned, where each pixel of a turn must come
    // from; the 24-bit turn itself is checked letter by letter above.
    // Widths split pixels across bytes (1 and 4 bits) and need padding.
    for (int w : {1, 5, 7, 13, 17})
        for (int h : {1, 3, 9}) {
            ImageHandle where = ImageHandle::NewDib(w, h, 24);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    SetRaw(where, x, y, MakeRgb(x, y, 0));
            for (Kind kind : {Kind::Bilevel, Kind::Palette4, Kind::Palette8}) {
                const ImageHandle img = MakeImage(kind, w, h);
                for (int code = 0; code <= 4; ++code) {
                    SCOPED_TRACE(std::string(NameOf(kind)) + " " + std::to_string(w) + "x" + std::to_string(h)
                                 + " code " + std::to_string(code));
                    const ImageHandle out = ImgKitRotation(img, code);
                    const ImageHandle from = ImgKitRotation(where, code);
                    ASSERT_TRUE(out);
                    ASSERT_TRUE(from);
                    EXPECT_TRUE(PaddingIsZero(out));
                    const DibLayout lo = DibLayoutOf(out);
                    ASSERT_EQ(lo.colorCount, DibLayoutOf(img).colorCount);
                    ASSERT_EQ(lo.width, DibLayoutOf(from).width);
                    ASSERT_EQ(lo.height, DibLayoutOf(from).height);
                    for (int y = 0; y < lo.height; ++y)
                        for (int x = 0; x < lo.width; ++x) {
                            const Rgb src = ColorAt(from, x, y);
                            ASSERT_EQ(RawAt(out, x, y), RawAt(img, R(src), G(src))) << x << "," << y;
                        }
                    // Bits past the last pixel are clear, as in a fresh block.
                    const ImageHandle copy = ImgKitCopy(out);
                    EXPECT_EQ(std::memcmp(copy.Data(), out.Data(), out.Size()), 0);
                }
            }
        }
}

TEST(ImgKitOps, RotationKeepsTableAndSwapsResolutionOnQuarterTurns)
{
    ImageHandle img = MakeImage(Kind::Palette8, 6, 2);
    img.Header()->biXPelsPerMeter = 100;
    img.Header()->biYPelsPerMeter = 200;
    const ImageHandle left = ImgKitRotation(img, kImgKitRotateLeft);
    ASSERT_TRUE(left);
    EXPECT_EQ(left.Header()->biXPelsPerMeter, 200);
    EXPECT_EQ(left.Header()->biYPelsPerMeter, 100);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(TableEntry(left, i), TableEntry(img, i));
    // Four quarter turns and two half turns give the picture back.
    ImageHandle turned = ImgKitCopy(img);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(ReplaceImage(turned, ImgKitRotation(turned, kImgKitRotateRight)));
    EXPECT_TRUE(SamePixels(turned, img));
}

TEST(ImgKitOps, UnknownRotationCodesGiveNothing)
{
    const ImageHandle img = MakeImage(Kind::Full24, 3, 2);
    for (int code : {-1, 5, 6, 90, 180})
        EXPECT_FALSE(ImgKitRotation(img, code)) << code;
}

// --- Clipping --------------------------------------------------------------

TEST(ImgKitOps, RectCutTakesColumnsLeftToRightMinusOneFromTheTop)
{
    for (Kind kind : {Kind::Bilevel, Kind::Palette4, Kind::Palette8, Kind::Full24}) {
        SCOPED_TRACE(NameOf(kind));
        const ImageHandle img = MakeImage(kind, 19, 7);
        // Starts on and off byte boundaries of 1- and 4-bit rows.
        for (int left : {0, 1, 3, 8, 9}) {
            const ImageHandle cut = ImgKitRectCut(img, left, 2, left + 9, 6);
            ASSERT_TRUE(cut);
            const DibLayout l = DibLayoutOf(cut);
            ASSERT_EQ(l.width, 9);
            ASSERT_EQ(l.height, 4);
            EXPECT_EQ(l.colorCount, DibLayoutOf(img).colorCount);
            EXPECT_TRUE(PaddingIsZero(cut));
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x)
                    ASSERT_EQ(ColorAt(cut, x, y), ColorAt(img, left + x, 2 + y)) << left << ": " << x << "," << y;
            // Bits past the last pixel are clear, as in a freshly made block.
            const ImageHandle again = ImgKitCopy(cut);
            EXPECT_EQ(std::memcmp(again.Data(), cut.Data(), cut.Size()), 0);
        }
    }
}

TEST(ImgKitOps, RectCutClipsToThePictureAndRefusesEmptyRectangles)
{
    const ImageHandle img = MakeImage(Kind::Full24, 7, 5);
    const ImageHandle corner = ImgKitRectCut(img, -5, -5, 2, 2);
    ASSERT_TRUE(corner);
    EXPECT_EQ(DibLayoutOf(corner).width, 2);
    EXPECT_EQ(DibLayoutOf(corner).height, 2);
    EXPECT_EQ(ColorAt(corner, 0, 0), ColorAt(img, 0, 0));
    const ImageHandle far = ImgKitRectCut(img, 5, 3, 100, 100);
    ASSERT_TRUE(far);
    EXPECT_EQ(DibLayoutOf(far).width, 2);
    EXPECT_EQ(DibLayoutOf(far).height, 2);
    EXPECT_EQ(ColorAt(far, 1, 1), ColorAt(img, 6, 4));
    const ImageHandle all = ImgKitRectCut(img, -1, -1, 1000, 1000);
    EXPECT_TRUE(SamePixels(all, img));

    EXPECT_FALSE(ImgKitRectCut(img, 3, 1, 3, 4));    // no width
    EXPECT_FALSE(ImgKitRectCut(img, 1, 2, 4, 2));    // no height
    EXPECT_FALSE(ImgKitRectCut(img, 4, 1, 2, 3));    // right before left
    EXPECT_FALSE(ImgKitRectCut(img, 7, 0, 9, 5));    // beside the picture
    EXPECT_FALSE(ImgKitRectCut(img, 0, 5, 7, 8));    // below it
    EXPECT_FALSE(ImgKitRectCut(img, -9, -9, -1, -1));
    EXPECT_FALSE(ImgKitRectCut(img, std::numeric_limits<int>::min(), 0, std::numeric_limits<int>::min() + 1, 1));
}

// --- Copy ------------------------------------------------------------------

TEST(ImgKitOps, CopyIsANewIdenticalBlockWithCleanPadding)
{
    for (Kind kind : {Kind::Bilevel, Kind::Palette4, Kind::Palette8, Kind::Grey8, Kind::Full24}) {
        SCOPED_TRACE(NameOf(kind));
        ImageHandle img = MakeImage(kind, 5, 3);
        img.Header()->biXPelsPerMeter = 3937;
        const ImageHandle copy = ImgKitCopy(img);
        ASSERT_TRUE(copy);
        EXPECT_NE(copy.Data(), img.Data());
        EXPECT_TRUE(SamePixels(copy, img));
        EXPECT_EQ(copy.Header()->biXPelsPerMeter, 3937);
    }
    // A block from elsewhere with junk in its row padding: the copy's is zero.
    ImageHandle dirty = MakeImage(Kind::Full24, 1, 2);
    RowOf(dirty, 0)[3] = 0xEE;
    RowOf(dirty, 1)[3] = 0xEE;
    const ImageHandle clean = ImgKitCopy(dirty);
    EXPECT_TRUE(PaddingIsZero(clean));
    EXPECT_TRUE(SamePixels(clean, dirty));
}

// --- Scaling ---------------------------------------------------------------

TEST(ImgKitOps, ImageSizeAveragesWhenShrinkingAndInterpolatesWhenGrowing)
{
    ImageHandle row = ImageHandle::NewDib(4, 1, 24);
    const int v[4] = {0, 100, 200, 50};
    for (int x = 0; x < 4; ++x)
        SetRaw(row, x, 0, MakeRgb(v[x], v[x], 255 - v[x]));
    const ImageHandle half = ImgKitImageSize(row, 2, 1);
    ASSERT_TRUE(half);
    EXPECT_EQ(R(ColorAt(half, 0, 0)), 50);
    EXPECT_EQ(R(ColorAt(half, 1, 0)), 125);
    EXPECT_EQ(B(ColorAt(half, 1, 0)), 130);

    ImageHandle two = ImageHandle::NewDib(2, 1, 24);
    SetRaw(two, 0, 0, MakeRgb(0, 0, 0));
    SetRaw(two, 1, 0, MakeRgb(100, 100, 100));
    const ImageHandle four = ImgKitImageSize(two, 4, 1);
    ASSERT_TRUE(four);
    const int expected[4] = {0, 25, 75, 100};  // pixel centres aligned
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(R(ColorAt(four, x, 0)), expected[x]) << x;

    // Shrinking a 3 x 3 block pattern by three averages each block exactly.
    ImageHandle blocks = ImageHandle::NewDib(9, 6, 24);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            SetRaw(blocks, x, y, MakeRgb((x / 3) * 60 + (x % 3), (y / 3) * 90, 33));
    const ImageHandle small = ImgKitImageSize(blocks, 3, 2);
    ASSERT_TRUE(small);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(ColorAt(small, x, y), MakeRgb(x * 60 + 1, y * 90, 33)) << x << "," << y;
}

TEST(ImgKitOps, ImageSizeKeepsFlatColourFlatAndSameSizeExact)
{
    ImageHandle flat = ImageHandle::NewDib(37, 23, 24);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            SetRaw(flat, x, y, MakeRgb(201, 7, 128));
    for (auto [w, h] : {std::pair{10, 7}, {1, 1}, {100, 61}, {37, 5}, {3, 50}, {36, 22}, {38, 24}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const ImageHandle out = ImgKitImageSize(flat, w, h);
        ASSERT_TRUE(out);
        EXPECT_EQ(DibLayoutOf(out).width, w);
        EXPECT_EQ(DibLayoutOf(out).height, h);
        EXPECT_TRUE(PaddingIsZero(out));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(ColorAt(out, x, y), MakeRgb(201, 7, 128)) << x << "," << y;
    }
    const ImageHandle busy = MakeImage(Kind::Full24, 13, 5);
    const ImageHandle same = ImgKitImageSize(busy, 13, 5);
    ASSERT_TRUE(same);
    EXPECT_NE(same.Data(), busy.Data());
    EXPECT_TRUE(SamePixels(same, busy));
}

TEST(ImgKitOps, ImageSizeTakesAnyDepthAndRefusesSillySizes)
{
    const ImageHandle mono = MakeImage(Kind::BilevelColoured, 8, 8);
    const ImageHandle out = ImgKitImageSize(mono, 8, 8);
    ASSERT_TRUE(out);
    EXPECT_EQ(DibLayoutOf(out).bitCount, 24);
    EXPECT_TRUE(SameColours(out, mono));

    const ImageHandle img = MakeImage(Kind::Full24, 4, 4);
    EXPECT_FALSE(ImgKitImageSize(img, 0, 4));
    EXPECT_FALSE(ImgKitImageSize(img, 4, -1));
    EXPECT_FALSE(ImgKitImageSize(img, kMaxDibSide + 1, 4));
    EXPECT_FALSE(ImgKitImageSize(img, 60000, 60000));  // over the block limit
}

// --- Brightness and colour offsets --------------------------------------------

// A 24-bit block of one-pixel rows whose padding bytes hold a marker, so that
// a write into the padding shows.
ImageHandle MarkedColumn(const std::vector<Rgb>& colours)
{
    ImageHandle img = ImageHandle::NewDib(1, int(colours.size()), 24);
    for (int y = 0; y < int(colours.size()); ++y) {
        SetRaw(img, 0, y, colours[std::size_t(y)]);
        RowOf(img, y)[3] = 0xA5;
    }
    return img;
}

bool MarkersIntact(const ImageHandle& img)
{
    for (int y = 0; y < DibLayoutOf(img).height; ++y)
        if (RowOf(img, y)[3] != 0xA5)
            return false;
    return true;
}

TEST(ImgKitOps, BrightMovesTowardWhiteOrBlackAndTruncates)
{
    ImageHandle img = MarkedColumn({MakeRgb(0, 100, 255), MakeRgb(1, 254, 128)});
    ASSERT_TRUE(ImgKitBright(img, 0.25));
    // v + (255 - v) / 4, truncated
    EXPECT_EQ(ColorAt(img, 0, 0), MakeRgb(63, 138, 255));
    EXPECT_EQ(ColorAt(img, 0, 1), MakeRgb(64, 254, 159));
    ASSERT_TRUE(ImgKitBright(img, -0.25));
    // v * 3 / 4, truncated
    EXPECT_EQ(ColorAt(img, 0, 0), MakeRgb(47, 103, 191));
    EXPECT_EQ(ColorAt(img, 0, 1), MakeRgb(48, 190, 119));
    EXPECT_TRUE(MarkersIntact(img));

    ImageHandle extreme = MarkedColumn({MakeRgb(10, 128, 250)});
    ASSERT_TRUE(ImgKitBright(extreme, 3.0));
    EXPECT_EQ(ColorAt(extreme, 0, 0), 0xFFFFFFu);
    ASSERT_TRUE(ImgKitBright(extreme, -2.0));
    EXPECT_EQ(ColorAt(extreme, 0, 0), 0x000000u);
    EXPECT_TRUE(MarkersIntact(extreme));

    ImageHandle same = MarkedColumn({MakeRgb(10, 128, 250)});
    ASSERT_TRUE(ImgKitBright(same, 0.0));
    EXPECT_EQ(ColorAt(same, 0, 0), MakeRgb(10, 128, 250));
    EXPECT_FALSE(ImgKitBright(same, std::nan("")));
    EXPECT_FALSE(ImgKitBright(same, std::numeric_limits<double>::infinity()));
    EXPECT_EQ(ColorAt(same, 0, 0), MakeRgb(10, 128, 250));
}

TEST(ImgKitOps, RgbAddsOffsetsPerChannelAndClamps)
{
    ImageHandle img = MarkedColumn({MakeRgb(230, 20, 100), MakeRgb(0, 255, 128)});
    ASSERT_TRUE(ImgKitRGB(img, 50, -50, 37));
    EXPECT_EQ(ColorAt(img, 0, 0), MakeRgb(255, 0, 137));
    EXPECT_EQ(ColorAt(img, 0, 1), MakeRgb(50, 205, 165));
    EXPECT_TRUE(MarkersIntact(img));
    ASSERT_TRUE(ImgKitRGB(img, -1000, 1000, 0));
    EXPECT_EQ(ColorAt(img, 0, 0), MakeRgb(0, 255, 137));
}

TEST(ImgKitOps, PaletteImagesAreAdjustedThroughTheirTable)
{
    for (Kind kind : {Kind::BilevelColoured, Kind::Palette4, Kind::Palette8}) {
        SCOPED_TRACE(NameOf(kind));
        const ImageHandle original = MakeImage(kind, 7, 3);
        ImageHandle img = ImgKitCopy(original);
        ASSERT_TRUE(ImgKitBright(img, 0.25));
        ASSERT_TRUE(ImgKitRGB(img, 20, 0, -20));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) {
                ASSERT_EQ(RawAt(img, x, y), RawAt(original, x, y));  // indices stay
                const Rgb before = ColorAt(original, x, y);
                auto up = [](int v) { return v + (255 - v) / 4; };
                const int bright[3] = {up(R(before)), up(G(before)), up(B(before))};
                // (255 - v) * 0.25 truncated equals (255 - v) / 4 for integers
                EXPECT_EQ(ColorAt(img, x, y), MakeRgb(std::min(255, bright[0] + 20), bright[1],
                                                      std::max(0, bright[2] - 20)));
            }
    }
}

// --- Replace rule, release, clipboard -------------------------------------

TEST(ImgKitOps, ReplaceImageKeepsThePictureWhenAStepFails)
{
    ImageHandle current = MakeImage(Kind::Full24, 4, 3);
    const uint8_t* before = current.Data();
    EXPECT_FALSE(ReplaceImage(current, ImgKitRotation(current, 99)));
    EXPECT_EQ(current.Data(), before);
    EXPECT_FALSE(ReplaceImage(current, ImgKitRectCut(current, 9, 9, 10, 10)));
    EXPECT_EQ(current.Data(), before);

    EXPECT_TRUE(ReplaceImage(current, ImgKitRotation(current, kImgKitRotateLeft)));
    ASSERT_TRUE(current);
    EXPECT_EQ(DibLayoutOf(current).width, 3);
    EXPECT_EQ(DibLayoutOf(current).height, 4);

    ImgKitMemFree(current);
    EXPECT_FALSE(current);
    ImgKitMemFree(current);  // a second release of a null handle is harmless
}

QGuiApplication* GuiApp()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return app;
    if (QCoreApplication::instance())
        return nullptr;
    static int argc = 1;
    static char name[] = "tolvane_imaging_tests";
    static char* argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);  // lives to the end of the test program
}

TEST(ImgKitOps, SetToClipBrdPutsThePictureOnTheClipboard)
{
    if (!GuiApp())
        GTEST_SKIP() << "another test made a non-GUI application object";
    for (Kind kind : {Kind::Full24, Kind::Palette8, Kind::Bilevel}) {
        SCOPED_TRACE(NameOf(kind));
        const ImageHandle img = MakeImage(kind, 7, 5);
        QGuiApplication::clipboard()->clear();
        ASSERT_TRUE(ImgKitSetToClipBrd(img));
        const QImage pasted = QGuiApplication::clipboard()->image();
        ASSERT_FALSE(pasted.isNull());
        EXPECT_TRUE(SameColours(img, QImageToDib(pasted)));
    }
}

}  // namespace
