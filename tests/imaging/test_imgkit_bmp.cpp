// SPDX-License-Identifier: GPL-3.0-or-later
// The BMP reader on files of every flavour other writers produce: 16- and
// 32-bit (plain and with bit fields, with and without alpha), RLE8 and RLE4,
// OS/2 core headers, top-down rows; and the damage each flavour can carry.
// Every file is put together here field by field, so each case says exactly
// which bytes it holds.

#include "imaging/ImgKit.h"
#include "test_imgkit_images.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdio>
#include <string>
#include <vector>

#ifdef __linux__
#include <unistd.h>
#endif

using namespace imgtest;

namespace {

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6 };

// Little-endian field writer.
struct Bytes {
    QByteArray b;
    Bytes& u8(uint32_t v)
    {
        b.append(char(v & 255));
        return *this;
    }
    Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    Bytes& raw(const QByteArray& x)
    {
        b.append(x);
        return *this;
    }
};

QByteArray Stream(const std::vector<int>& bytes)
{
    QByteArray s;
    for (int v : bytes)
        s.append(char(v & 255));
    return s;
}

// A file with a BITMAPINFOHEADER or one of its longer successors. With a
// 40-byte header the masks follow the header; a longer header carries them
// in its own mask fields (as many as fit, the rest of the header is zero).
struct InfoBmp {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint32_t bitCount = 24;
    uint32_t compression = kRgb;
    std::vector<uint32_t> masks;
    std::vector<Rgb> table;
    uint32_t clrUsed = 0;
    int32_t xPels = 3780;  // 96 dpi
    int32_t yPels = 2835;  // 72 dpi
    QByteArray pixels;

    QByteArray File() const
    {
        Bytes h;
        h.u32(headerSize).u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(bitCount).u32(compression);
        h.u32(uint32_t(pixels.size())).u32(uint32_t(xPels)).u32(uint32_t(yPels)).u32(clrUsed).u32(0);
        std::size_t m = 0;
        while (headerSize > 40 && uint32_t(h.b.size()) + 4 <= headerSize && m < masks.size())
            h.u32(masks[m++]);
        while (uint32_t(h.b.size()) < headerSize)
            h.u8(0);
        if (headerSize == 40)
            for (uint32_t mask : masks)
                h.u32(mask);
        for (Rgb c : table)
            h.u8(c).u8(c >> 8).u8(c >> 16).u8(0);
        Bytes f;
        const uint32_t offBits = 14 + uint32_t(h.b.size());
        f.u8('B').u8('M').u32(offBits + uint32_t(pixels.size())).u32(0).u32(offBits);
        return f.raw(h.b).raw(pixels).b;
    }
};

// A file with the 12-byte OS/2 core header: 16-bit sizes, 3-byte table entries.
QByteArray CoreBmp(int width, int height, int bitCount, const std::vector<Rgb>& table, const QByteArray& pixels)
{
    Bytes f;
    const uint32_t offBits = 14 + 12 + 3 * uint32_t(table.size());
    f.u8('B').u8('M').u32(offBits + uint32_t(pixels.size())).u32(0).u32(offBits);
    f.u32(12).u16(uint32_t(width)).u16(uint32_t(height)).u16(1).u16(uint32_t(bitCount));
    for (Rgb c : table)
        f.u8(c).u8(c >> 8).u8(c >> 16);
    return f.raw(pixels).b;
}

using Rows = std::vector<std::vector<uint32_t>>;  // picture rows, top row first

// Rows of bytesPerPixel-byte little-endian values, each padded to 4 bytes
// with `pad`, in the order the file stores them.
QByteArray PackWide(const Rows& rows, int bytesPerPixel, bool topDown = false, char pad = char(0xA5))
{
    QByteArray out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[topDown ? i : rows.size() - 1 - i];
        Bytes r;
        for (uint32_t v : row)
            for (int k = 0; k < bytesPerPixel; ++k)
                r.u8(v >> (8 * k));
        while (r.b.size() % 4)
            r.b.append(pad);
        out.append(r.b);
    }
    return out;
}

// Rows of 1-, 4- or 8-bit indices, packed high bits first, padded with zero.
QByteArray PackIndexed(const Rows& rows, int bits)
{
    QByteArray out;
    for (std::size_t i = rows.size(); i-- > 0;) {
        QByteArray r((int(rows[i].size()) * bits + 7) / 8, '\0');
        for (std::size_t x = 0; x < rows[i].size(); ++x) {
            const std::size_t bit = x * std::size_t(bits);
            r[qsizetype(bit / 8)] = char(uint8_t(r[qsizetype(bit / 8)]) | (rows[i][x] << (8 - bits - bit % 8)));
        }
        while (r.size() % 4)
            r.append('\0');
        out.append(r);
    }
    return out;
}

std::vector<Rgb> DistinctTable(int n)
{
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i)
        t.push_back(MakeRgb((i * 67 + 13) & 255, (i * 29 + 200) & 255, (255 - i * 11) & 255));
    return t;
}

// The picture has exactly this depth and these colours (0xRRGGBB, top row
// first), and clean row padding.
::testing::AssertionResult HasColours(const ImageHandle& img, int bitCount, const Rows& expected)
{
    const DibLayout l = DibLayoutOf(img);
    if (!l.valid)
        return ::testing::AssertionFailure() << (img ? "malformed block" : "no image");
    if (l.bitCount != bitCount)
        return ::testing::AssertionFailure() << "depth " << l.bitCount << ", expected " << bitCount;
    if (l.height != int(expected.size()) || l.width != int(expected[0].size()))
        return ::testing::AssertionFailure() << "size " << l.width << "x" << l.height;
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            if (ColorAt(img, x, y) != expected[std::size_t(y)][std::size_t(x)]) {
                char msg[96];
                std::snprintf(msg, sizeof msg, "pixel (%d,%d) is %06X, expected %06X", x, y, ColorAt(img, x, y),
                              expected[std::size_t(y)][std::size_t(x)]);
                return ::testing::AssertionFailure() << msg;
            }
    if (!PaddingIsZero(img))
        return ::testing::AssertionFailure() << "dirty padding";
    return ::testing::AssertionSuccess();
}

// The same for palette indices of a 4- or 8-bit picture.
::testing::AssertionResult HasIndices(const ImageHandle& img, int bitCount, const Rows& expected)
{
    const DibLayout l = DibLayoutOf(img);
    if (!l.valid)
        return ::testing::AssertionFailure() << (img ? "malformed block" : "no image");
    if (l.bitCount != bitCount)
        return ::testing::AssertionFailure() << "depth " << l.bitCount << ", expected " << bitCount;
    if (l.height != int(expected.size()) || l.width != int(expected[0].size()))
        return ::testing::AssertionFailure() << "size " << l.width << "x" << l.height;
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            if (RawAt(img, x, y) != expected[std::size_t(y)][std::size_t(x)])
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << RawAt(img, x, y)
                                                     << ", expected " << expected[std::size_t(y)][std::size_t(x)];
    if (!PaddingIsZero(img))
        return ::testing::AssertionFailure() << "dirty padding";
    return ::testing::AssertionSuccess();
}

const uint32_t kHeaderSizes[] = {40, 52, 56, 108, 124};

// --- 16 bits -----------------------------------------------------------------

TEST(ImgKitBmp, SixteenBitFiveFiveFiveAndFiveSixFive)
{
    // Plain 16-bit is 5-5-5 with the top bit unused; a 5-bit 16 is 16/31 of
    // full scale, 131.6, so 132.
    const Rows px555 = {{0x7FFF, 0x7C00, 0x0010}, {0x0000, 0x83E0, 0x4210}};
    const Rows rgb555 = {{0xFFFFFF, 0xFF0000, 0x000084}, {0x000000, 0x00FF00, 0x848484}};
    InfoBmp f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 16;
    f.pixels = PackWide(px555, 2);  // 6 bytes of pixels and 2 of junk per row
    ImageHandle img = ImgKitBmpDecode(f.File());
    EXPECT_TRUE(HasColours(img, 24, rgb555));
    ASSERT_TRUE(img);
    EXPECT_EQ(img.Header()->biXPelsPerMeter, 3780);
    EXPECT_EQ(img.Header()->biYPelsPerMeter, 2835);
    // The mask fields of a long header do not count without BI_BITFIELDS.
    f.headerSize = 124;
    f.masks = {0xF800, 0x07E0, 0x001F};
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, rgb555));

    // The same picture with explicit 5-5-5 masks.
    f.compression = kBitFields;
    f.masks = {0x7C00, 0x03E0, 0x001F};
    for (uint32_t hs : kHeaderSizes) {
        f.headerSize = hs;
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, rgb555)) << "header " << hs;
    }

    // 5-6-5: a 6-bit 32 is 129.5 → 130, a 6-bit 1 is 4.05 → 4, a 5-bit 1 is 8.2 → 8.
    f.masks = {0xF800, 0x07E0, 0x001F};
    f.pixels = PackWide({{0xF800, 0x07E0, 0x001F, 0x0400}, {0x8000, 0x0021, 0xFFFF, 0x0000}}, 2);
    f.width = 4;
    const Rows rgb565 = {{0xFF0000, 0x00FF00, 0x0000FF, 0x008200}, {0x840000, 0x000408, 0xFFFFFF, 0x000000}};
    for (uint32_t hs : kHeaderSizes) {
        f.headerSize = hs;
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, rgb565)) << "header " << hs;
    }

    // Masks in another order (B high, R low) and a 4-4-4 file with alpha in
    // the top nibble that is zero everywhere, so opaque.
    f.headerSize = 40;
    f.masks = {0x001F, 0x07E0, 0xF800};
    f.width = 2;
    f.height = 1;
    f.pixels = PackWide({{0xF800, 0x0010}}, 2);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0x0000FF, 0x840000}}));
    f.headerSize = 56;
    f.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    f.pixels = PackWide({{0x0F80, 0x0123}}, 2);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFF8800, 0x112233}}));
}

// --- 32 bits -----------------------------------------------------------------

TEST(ImgKitBmp, ThirtyTwoBitPlainAndBitFields)
{
    // B, G, R, unused: the fourth byte means nothing in a plain file.
    const Rows px = {{0x7F112233, 0xFF0000FF, 0x00ABCDEF}, {0x01FFFFFF, 0x00000000, 0x80808080}};
    const Rows rgb = {{0x112233, 0x0000FF, 0xABCDEF}, {0xFFFFFF, 0x000000, 0x808080}};
    InfoBmp f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 32;
    f.pixels = PackWide(px, 4);
    for (uint32_t hs : kHeaderSizes) {
        f.headerSize = hs;
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, rgb)) << "plain, header " << hs;
    }
    // Bit fields without an alpha mask (a 40- or 52-byte header, or an alpha
    // mask of zero): the top byte is still ignored.
    f.compression = kBitFields;
    for (uint32_t hs : kHeaderSizes) {
        f.headerSize = hs;
        f.masks = {0xFF0000, 0xFF00, 0xFF};
        if (hs >= 56)
            f.masks.push_back(0);
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, rgb)) << "bit fields, header " << hs;
    }
    // R, G, B, A byte order with the masks after a 40-byte header.
    f.headerSize = 40;
    f.compression = kAlphaBitFields;
    f.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0};
    f.width = 2;
    f.height = 1;
    f.pixels = PackWide({{0x00332211, 0x00FF0000}}, 4);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0x112233, 0x0000FF}}));

    // 10-10-10 colour: a 10-bit 512 is 127.6 → 128.
    f.compression = kBitFields;
    f.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    f.width = 3;
    f.pixels = PackWide({{(1023u << 20) | (512u << 10), 1023u, (1u << 20) | (1u << 10) | 2u}}, 4);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFF8000, 0x0000FF, 0x000000}}));

    // A 20-bit red channel: 0x80000 of 0xFFFFF is 127.5001 → 128; 1 → 0.
    f.masks = {0xFFFFF000, 0x00000FC0, 0x0000003F};
    f.pixels = PackWide({{(0x80000u << 12) | (63u << 6) | 32u, (0xFFFFFu << 12), (1u << 12) | 1u}}, 4);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0x80FF82, 0xFF0000, 0x000004}}));
}

TEST(ImgKitBmp, AlphaIsLaidOverWhiteUnlessItIsZeroEverywhere)
{
    InfoBmp f;
    f.width = 4;
    f.height = 1;
    f.bitCount = 32;
    f.compression = kBitFields;
    f.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    // An alpha channel of zeros (what many writers leave there) is opaque.
    f.pixels = PackWide({{0x00102030, 0x00FF0000, 0x00000000, 0x00ABCDEF}}, 4);
    for (uint32_t hs : {56u, 108u, 124u}) {
        f.headerSize = hs;
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0x102030, 0xFF0000, 0x000000, 0xABCDEF}}))
            << "header " << hs;
    }
    // Opaque, half transparent, transparent, a quarter opaque. Half of
    // (0, 100, 200) over white: c * 128 / 255 + 255 * 127 / 255 → 127, 177.2,
    // 227.4; a quarter (64) of black → 191.
    f.pixels = PackWide({{0xFF102030, 0x800064C8, 0x00123456, 0x40000000}}, 4);
    const Rows over = {{0x102030, 0x7FB1E3, 0xFFFFFF, 0xBFBFBF}};
    for (uint32_t hs : {56u, 108u, 124u}) {
        f.headerSize = hs;
        EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, over)) << "header " << hs;
    }
    f.headerSize = 40;
    f.compression = kAlphaBitFields;
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, over)) << "four masks after the header";

    // One pixel with alpha is enough to make the zeros transparent.
    f.pixels = PackWide({{0x00102030, 0x00FF0000, 0x01000000, 0x00ABCDEF}}, 4);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFFFFFF, 0xFFFFFF, 0xFEFEFE, 0xFFFFFF}}));

    // A 2-bit alpha scales to 0, 85, 170, 255: blue at 170 over white → 85, 85, 255.
    f.compression = kBitFields;
    f.headerSize = 56;
    f.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
    f.pixels = PackWide({{(3u << 30) | (1023u << 20), (2u << 30) | 1023u, (1u << 30), 0x3FFFFFFFu}}, 4);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFF0000, 0x5555FF, 0xAAAAAA, 0xFFFFFF}}));

    // 1-5-5-5 with its top bit as alpha: only the marked pixel stays.
    f.bitCount = 16;
    f.masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
    f.width = 2;
    f.pixels = PackWide({{0x8000 | 0x7C00, 0x001F}}, 2);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFF0000, 0xFFFFFF}}));
}

// --- Run-length files ---------------------------------------------------------

TEST(ImgKitBmp, Rle8RunsAbsoluteRunsDeltaAndEndOfLine)
{
    InfoBmp f;
    f.width = 6;
    f.height = 4;
    f.bitCount = 8;
    f.compression = kRle8;
    f.table = DistinctTable(8);
    f.clrUsed = 8;
    f.pixels = Stream({
        3, 5, 0, 3, 1, 2, 3, 0,  // bottom row: a run of three 5s, an odd absolute run with its pad byte
        0, 0,                    // end of line
        2, 7, 0, 2, 3, 1,        // two 7s, then 3 right and 1 up: (5, 2)
        1, 4, 0, 0,              // one 4, end of line
        0, 4, 1, 2, 3, 4,        // an even absolute run: no pad
        0, 1,                    // end of bitmap
    });
    const ImageHandle img = ImgKitBmpDecode(f.File());
    EXPECT_TRUE(HasIndices(img, 8,
                           {{1, 2, 3, 4, 0, 0},  // top row
                            {0, 0, 0, 0, 0, 4},
                            {7, 7, 0, 0, 0, 0},
                            {5, 5, 5, 1, 2, 3}}));
    ASSERT_TRUE(img);
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(img, info));
    EXPECT_EQ(info.colorCount, 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(TableEntry(img, i), f.table[std::size_t(i)]) << "entry " << i;
    EXPECT_EQ(img.Header()->biXPelsPerMeter, 3780);
    EXPECT_EQ(img.Header()->biCompression, 0u);

    // The end of line after the last row and a run that ends right at the
    // edge are fine; bytes after the end of bitmap do not matter.
    f.height = 1;
    f.pixels = Stream({6, 2, 0, 0, 0, 1, 9, 9, 9});
    EXPECT_TRUE(HasIndices(ImgKitBmpDecode(f.File()), 8, {{2, 2, 2, 2, 2, 2}}));
    // Nothing but the end: every pixel is index 0.
    f.pixels = Stream({0, 1});
    EXPECT_TRUE(HasIndices(ImgKitBmpDecode(f.File()), 8, {{0, 0, 0, 0, 0, 0}}));
}

TEST(ImgKitBmp, Rle4RunsAlternateNibblesAndAbsoluteRunsPadToWords)
{
    InfoBmp f;
    f.width = 7;
    f.height = 3;
    f.bitCount = 4;
    f.compression = kRle4;
    f.table = DistinctTable(16);
    f.pixels = Stream({
        5, 0x12, 2, 0x34, 0, 0,       // 1 2 1 2 1, then 3 4 up to the edge; end of line
        0, 5, 0x56, 0x78, 0x90, 0,    // five pixels in three bytes, padded to four
        0, 0,                         //
        0, 3, 0xBC, 0xD0,             // three pixels in two bytes: no pad
        0, 2, 3, 0, 1, 0xA0,          // 3 to the right, one A
        0, 1,
    });
    const ImageHandle img = ImgKitBmpDecode(f.File());
    EXPECT_TRUE(HasIndices(img, 4,
                           {{0xB, 0xC, 0xD, 0, 0, 0, 0xA},
                            {5, 6, 7, 8, 9, 0, 0},
                            {1, 2, 1, 2, 1, 3, 4}}));
    ASSERT_TRUE(img);
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(img, info));
    EXPECT_EQ(info.bitCount, 4);
    EXPECT_EQ(info.colorCount, 16);
    EXPECT_EQ(TableEntry(img, 10), f.table[10]);
    // The nibble beyond the seventh pixel is row padding too.
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(RowOf(img, y)[3] & 0x0F, 0) << "row " << y;
}

// --- OS/2 and top-down --------------------------------------------------------

TEST(ImgKitBmp, Os2CoreHeaderAtEveryDepth)
{
    const std::vector<Rgb> two = {0x203080, 0xF0E010};
    const Rows bits1 = {{1, 0, 1, 1, 0, 0, 0, 1, 1, 0}, {0, 1, 0, 0, 1, 1, 1, 0, 0, 1}};
    ImageHandle img = ImgKitBmpDecode(CoreBmp(10, 2, 1, two, PackIndexed(bits1, 1)));
    EXPECT_TRUE(HasIndices(img, 1, bits1));
    ASSERT_TRUE(img);
    EXPECT_EQ(TableEntry(img, 0), two[0]);
    EXPECT_EQ(TableEntry(img, 1), two[1]);

    const std::vector<Rgb> t16 = DistinctTable(16), t256 = DistinctTable(256);
    const Rows idx4 = {{15, 0, 7}, {3, 9, 12}};
    img = ImgKitBmpDecode(CoreBmp(3, 2, 4, t16, PackIndexed(idx4, 4)));
    EXPECT_TRUE(HasIndices(img, 4, idx4));
    ASSERT_TRUE(img);
    EXPECT_EQ(TableEntry(img, 15), t16[15]);

    const Rows idx8 = {{200, 1, 255, 0, 77}, {13, 14, 15, 16, 17}};
    img = ImgKitBmpDecode(CoreBmp(5, 2, 8, t256, PackIndexed(idx8, 8)));
    EXPECT_TRUE(HasIndices(img, 8, idx8));
    ASSERT_TRUE(img);
    EXPECT_EQ(TableEntry(img, 200), t256[200]);
    EXPECT_EQ(TableEntry(img, 255), t256[255]);

    const Rows rgb = {{0x112233, 0x445566, 0x778899}, {0xAABBCC, 0xDDEEFF, 0x010203}};
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(CoreBmp(3, 2, 24, {}, PackWide(rgb, 3))), 24, rgb));

    // OS/2 1.x has no 16- or 32-bit files and no partial colour tables.
    EXPECT_FALSE(ImgKitBmpDecode(CoreBmp(2, 1, 16, {}, PackWide({{1, 2}}, 2))));
    EXPECT_FALSE(ImgKitBmpDecode(CoreBmp(2, 1, 32, {}, PackWide({{1, 2}}, 4))));
    EXPECT_FALSE(ImgKitBmpDecode(CoreBmp(5, 2, 8, DistinctTable(16), PackIndexed(idx8, 8))));
    EXPECT_FALSE(ImgKitBmpDecode(CoreBmp(0, 2, 8, t256, PackIndexed(idx8, 8))));
}

TEST(ImgKitBmp, TopDownRowsAtSixteenAndThirtyTwoBits)
{
    InfoBmp f;
    f.width = 3;
    f.height = -2;
    f.bitCount = 16;
    f.pixels = PackWide({{0x7C00, 0x03E0, 0x001F}, {0x0000, 0x7FFF, 0x0010}}, 2, true);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24, {{0xFF0000, 0x00FF00, 0x0000FF}, {0, 0xFFFFFF, 0x84}}));

    f.bitCount = 32;
    f.compression = kBitFields;
    f.headerSize = 124;
    f.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    f.pixels = PackWide({{0xFF112233, 0x00445566, 0xFF778899}, {0xFFAABBCC, 0xFFDDEEFF, 0xFF010203}}, 4, true);
    EXPECT_TRUE(HasColours(ImgKitBmpDecode(f.File()), 24,
                           {{0x112233, 0xFFFFFF, 0x778899}, {0xAABBCC, 0xDDEEFF, 0x010203}}));
}

// --- Damage --------------------------------------------------------------------

struct Sample {
    std::string name;
    QByteArray bytes;
};

// One valid file of each flavour, small enough to cut at every byte.
std::vector<Sample> Flavours()
{
    std::vector<Sample> s;
    InfoBmp f;
    f.width = 3;
    f.height = 3;
    f.bitCount = 16;
    f.pixels = PackWide({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 2);
    s.push_back({"16 plain", f.File()});
    f.compression = kBitFields;
    f.masks = {0xF800, 0x07E0, 0x001F};
    s.push_back({"16 565 after the header", f.File()});
    f.headerSize = 108;
    s.push_back({"16 565 in a v4 header", f.File()});

    f = InfoBmp{};
    f.width = 3;
    f.height = 2;
    f.bitCount = 32;
    f.pixels = PackWide({{1, 2, 3}, {4, 5, 6}}, 4);
    s.push_back({"32 plain", f.File()});
    f.compression = kBitFields;
    f.headerSize = 124;
    f.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    f.pixels = PackWide({{0xFF000001, 0x80000002, 3}, {4, 5, 6}}, 4);
    s.push_back({"32 alpha in a v5 header", f.File()});
    f.headerSize = 40;
    f.compression = kAlphaBitFields;
    s.push_back({"32 alpha after the header", f.File()});

    f = InfoBmp{};
    f.width = 5;
    f.height = 3;
    f.bitCount = 8;
    f.compression = kRle8;
    f.table = DistinctTable(4);
    f.clrUsed = 4;
    f.pixels = Stream({2, 1, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 1, 3, 0, 1});
    s.push_back({"rle8", f.File()});
    f.bitCount = 4;
    f.compression = kRle4;
    f.pixels = Stream({5, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 2, 1, 1, 1, 0x33, 0, 1});
    s.push_back({"rle4", f.File()});

    s.push_back({"os/2 1", CoreBmp(9, 2, 1, {0, 0xFFFFFF}, PackIndexed({{1, 0, 1, 0, 1, 0, 1, 0, 1}, {0, 1, 0, 1, 0, 1, 0, 1, 0}}, 1))});
    s.push_back({"os/2 4", CoreBmp(3, 2, 4, DistinctTable(16), PackIndexed({{1, 2, 3}, {4, 5, 6}}, 4))});
    s.push_back({"os/2 24", CoreBmp(3, 2, 24, {}, PackWide({{1, 2, 3}, {4, 5, 6}}, 3))});

    f = InfoBmp{};
    f.width = 3;
    f.height = -2;
    f.bitCount = 16;
    f.pixels = PackWide({{1, 2, 3}, {4, 5, 6}}, 2, true);
    s.push_back({"16 top-down", f.File()});
    return s;
}

TEST(ImgKitBmp, EveryCutOfEveryFlavourIsNoImage)
{
    for (const Sample& s : Flavours()) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(ImgKitBmpDecode(s.bytes)) << "loads whole";
        for (qsizetype cut = 0; cut < s.bytes.size(); ++cut)
            EXPECT_FALSE(ImgKitBmpDecode(s.bytes.left(cut))) << "cut at " << cut << " of " << s.bytes.size();
    }
}

// A scan cut short in its pixel data, at each depth, through the loader.
TEST(ImgKitBmp, FileCutShortInItsPixelsDoesNotLoadAtAnyDepth)
{
    struct Depth {
        const char* name;
        InfoBmp file;
    };
    std::vector<Depth> depths;
    auto add = [&depths](const char* name, uint32_t bits, uint32_t compression, std::vector<uint32_t> masks,
                         int tableSize, QByteArray pixels) {
        InfoBmp f;
        f.width = 64;
        f.height = 48;
        f.bitCount = bits;
        f.compression = compression;
        f.masks = std::move(masks);
        f.table = DistinctTable(tableSize);
        f.pixels = std::move(pixels);
        depths.push_back({name, f});
    };
    auto rows = [](uint32_t seed) {
        Rows r(48, std::vector<uint32_t>(64));
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                r[std::size_t(y)][std::size_t(x)] = uint32_t(x * 2654435761u + y * seed);
        return r;
    };
    auto masked = [&rows](uint32_t mask) {
        Rows r = rows(40503);
        for (auto& row : r)
            for (uint32_t& v : row)
                v &= mask;
        return r;
    };
    QByteArray rle8, rle4;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; x += 8) {
            rle8.append(char(8)).append(char(x + y));
            rle4.append(char(8)).append(char(x * 7 + y));
        }
        rle8.append(2, '\0');
        rle4.append(2, '\0');
    }
    rle8.append('\0').append('\1');
    rle4.append('\0').append('\1');
    add("1 bit", 1, kRgb, {}, 2, PackIndexed(masked(1), 1));
    add("4 bits", 4, kRgb, {}, 16, PackIndexed(masked(15), 4));
    add("8 bits", 8, kRgb, {}, 256, PackIndexed(masked(255), 8));
    add("rle4", 4, kRle4, {}, 16, rle4);
    add("rle8", 8, kRle8, {}, 256, rle8);
    add("16 bits", 16, kRgb, {}, 0, PackWide(masked(0x7FFF), 2));
    add("16 bits 565", 16, kBitFields, {0xF800, 0x07E0, 0x001F}, 0, PackWide(masked(0xFFFF), 2));
    add("24 bits", 24, kRgb, {}, 0, PackWide(masked(0xFFFFFF), 3));
    add("32 bits", 32, kRgb, {}, 0, PackWide(masked(0xFFFFFFFF), 4));
    add("32 bits with alpha", 32, kAlphaBitFields, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 0,
        PackWide(masked(0xFFFFFFFF), 4));
    for (Depth& d : depths) {
        SCOPED_TRACE(d.name);
        const QByteArray whole = d.file.File();
        ASSERT_TRUE(ImgKitMemoryLoad(whole));
        const qsizetype pixelsAt = whole.size() - d.file.pixels.size();
        for (qsizetype cut : {pixelsAt, pixelsAt + 1, pixelsAt + d.file.pixels.size() / 3,
                              pixelsAt + d.file.pixels.size() / 2, whole.size() - 2})
            EXPECT_FALSE(ImgKitMemoryLoad(whole.left(cut))) << "cut at " << cut << " of " << whole.size();
    }
}

TEST(ImgKitBmp, RleStreamsThatLeaveThePictureOrEndEarlyAreNoImage)
{
    // 4 x 2 pictures; each damaged stream is next to a good one.
    auto decode = [](uint32_t bits, uint32_t compression, int height, const std::vector<int>& stream) {
        InfoBmp f;
        f.width = 4;
        f.height = height;
        f.bitCount = bits;
        f.compression = compression;
        f.table = DistinctTable(1 << bits);
        f.pixels = Stream(stream);
        return ImgKitBmpDecode(f.File());
    };
    struct Case {
        const char* what;
        std::vector<int> good, bad;
    };
    const Case rle8[] = {
        {"no end of bitmap", {4, 1, 0, 0, 4, 2, 0, 1}, {4, 1, 0, 0, 4, 2}},
        {"ends on an end of line", {4, 1, 0, 0, 4, 2, 0, 0, 0, 1}, {4, 1, 0, 0, 4, 2, 0, 0}},
        {"ends inside an escape", {4, 1, 0, 1}, {4, 1, 0}},
        {"ends inside a delta", {0, 2, 1, 1, 0, 1}, {0, 2, 1}},
        {"ends inside an absolute run", {0, 3, 1, 2, 3, 0, 0, 1}, {0, 3, 1, 2}},
        {"run past the right edge", {2, 1, 2, 2, 0, 1}, {2, 1, 3, 2, 0, 1}},
        {"absolute run past the right edge", {1, 1, 0, 3, 1, 2, 3, 0, 0, 1}, {2, 1, 0, 3, 1, 2, 3, 0, 0, 1}},
        {"delta past the right edge", {0, 2, 4, 0, 0, 1}, {0, 2, 5, 0, 0, 1}},
        {"delta past the right edge from inside the row", {3, 1, 0, 2, 1, 1, 0, 1}, {3, 1, 0, 2, 2, 1, 0, 1}},
        {"delta past the top row", {0, 2, 0, 1, 4, 1, 0, 1}, {0, 2, 0, 3, 0, 1}},
        {"run after the last row", {0, 0, 4, 1, 0, 0, 0, 1}, {0, 0, 0, 0, 4, 1, 0, 1}},
        {"end of line past the top row", {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const Case& c : rle8) {
        EXPECT_TRUE(decode(8, kRle8, 2, c.good)) << "rle8 good: " << c.what;
        EXPECT_FALSE(decode(8, kRle8, 2, c.bad)) << "rle8: " << c.what;
    }
    const Case rle4[] = {
        {"no end of bitmap", {4, 0x12, 0, 0, 4, 0x34, 0, 1}, {4, 0x12, 0, 0, 4, 0x34}},
        {"ends inside an absolute run", {0, 3, 0x12, 0x30, 0, 1}, {0, 3, 0x12}},
        {"run past the right edge", {4, 0x12, 0, 1}, {5, 0x12, 0, 1}},
        {"absolute run past the right edge", {1, 0x11, 0, 3, 0x12, 0x30, 0, 1}, {2, 0x11, 0, 3, 0x12, 0x30, 0, 1}},
        {"delta past the right edge", {0, 2, 4, 1, 0, 1}, {0, 2, 5, 1, 0, 1}},
        {"delta past the top row", {0, 2, 0, 1, 4, 0x12, 0, 1}, {0, 2, 0, 3, 0, 1}},
        {"run after the last row", {0, 0, 4, 1, 0, 1}, {0, 0, 0, 0, 4, 1, 0, 1}},
    };
    for (const Case& c : rle4) {
        EXPECT_TRUE(decode(4, kRle4, 2, c.good)) << "rle4 good: " << c.what;
        EXPECT_FALSE(decode(4, kRle4, 2, c.bad)) << "rle4: " << c.what;
    }
    // Run-length files are always stored bottom-up.
    EXPECT_TRUE(decode(8, kRle8, 2, {4, 1, 0, 1}));
    EXPECT_FALSE(decode(8, kRle8, -2, {4, 1, 0, 1}));
    EXPECT_FALSE(decode(4, kRle4, -2, {4, 1, 0, 1}));
}

TEST(ImgKitBmp, BadMasksAreNoImage)
{
    auto decode = [](uint32_t bits, uint32_t compression, uint32_t headerSize, std::vector<uint32_t> masks) {
        InfoBmp f;
        f.width = 2;
        f.height = 2;
        f.bitCount = bits;
        f.compression = compression;
        f.headerSize = headerSize;
        f.masks = std::move(masks);
        f.pixels = PackWide({{1, 2}, {3, 4}}, int(bits / 8));
        return ImgKitBmpDecode(f.File());
    };
    // The good ones first, so that each refusal is the mask's fault.
    EXPECT_TRUE(decode(16, kBitFields, 40, {0xF800, 0x07E0, 0x001F}));
    EXPECT_TRUE(decode(32, kBitFields, 40, {0xFF0000, 0xFF00, 0xFF}));
    EXPECT_TRUE(decode(32, kAlphaBitFields, 40, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}));
    EXPECT_TRUE(decode(32, kBitFields, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}));

    const struct {
        const char* what;
        uint32_t bits, compression, headerSize;
        std::vector<uint32_t> masks;
    } bad[] = {
        {"red and green overlap", 16, kBitFields, 40, {0xFC00, 0x07E0, 0x001F}},
        {"green and blue overlap", 32, kBitFields, 124, {0xFF0000, 0xFF80, 0xFF, 0}},
        {"alpha overlaps red", 32, kBitFields, 108, {0xFF0000, 0xFF00, 0xFF, 0xFF800000}},
        {"red is not one run of bits", 16, kBitFields, 40, {0xF0F0, 0x0700, 0x000F}},
        {"blue is not one run of bits", 32, kBitFields, 56, {0xFF0000, 0xFF00, 0x81, 0}},
        {"alpha is not one run of bits", 32, kAlphaBitFields, 40, {0xFF0000, 0xFF00, 0xFF, 0x81000000}},
        {"no red", 16, kBitFields, 40, {0, 0x07E0, 0x001F}},
        {"no green", 32, kBitFields, 52, {0xFF0000, 0, 0xFF}},
        {"no blue", 32, kBitFields, 124, {0xFF0000, 0xFF00, 0, 0xFF000000}},
        {"a 16-bit mask beyond 16 bits", 16, kBitFields, 40, {0x1F0000, 0x07E0, 0x001F}},
    };
    for (const auto& c : bad)
        EXPECT_FALSE(decode(c.bits, c.compression, c.headerSize, c.masks)) << c.what;
}

TEST(ImgKitBmp, BitCountThatDoesNotFitTheCompressionIsNoImage)
{
    const struct {
        uint32_t bits, compression;
    } bad[] = {
        {4, kRle8},  {16, kRle8},      {24, kRle8},         {8, kRle4},  {1, kRle4},
        {1, kBitFields}, {8, kBitFields}, {24, kBitFields}, {24, kAlphaBitFields}, {32, kJpeg},
        {24, kPng},  {0, kJpeg},       {32, 11},            {16, 7},     {2, kRgb},
        {0, kRgb},   {64, kRgb},       {48, kRgb},
    };
    for (const auto& c : bad) {
        InfoBmp f;
        f.width = 2;
        f.height = 2;
        f.bitCount = c.bits;
        f.compression = c.compression;
        if (c.compression == kBitFields || c.compression == kAlphaBitFields)
            f.masks = {0xFF0000, 0xFF00, 0xFF, 0};
        if (c.bits > 0 && c.bits <= 8)
            f.table = DistinctTable(1 << c.bits);
        // Data that would be a whole picture if the pair were read as it says:
        // an empty run-length stream, or rows of up to 16 bytes.
        const bool rle = c.compression == kRle8 || c.compression == kRle4;
        f.pixels = rle ? Stream({0, 1}) : QByteArray(64, '\0');
        EXPECT_FALSE(ImgKitBmpDecode(f.File())) << c.bits << " bits, compression " << c.compression;
    }
}

TEST(ImgKitBmp, OtherHeaderSizesAndShortTablesAreNoImage)
{
    InfoBmp f;
    f.width = 2;
    f.height = 2;
    f.bitCount = 8;
    f.table = DistinctTable(256);
    f.pixels = PackIndexed({{1, 2}, {3, 4}}, 8);
    ASSERT_TRUE(ImgKitBmpDecode(f.File()));
    for (uint32_t hs : {0u, 16u, 41u, 64u, 100u, 128u}) {
        f.headerSize = hs < 40 ? 40 : hs;
        QByteArray bytes = f.File();
        bytes[14] = char(hs);  // the header still has room for every field
        EXPECT_FALSE(ImgKitBmpDecode(bytes)) << "header " << hs;
    }
    // A table shorter than 256 entries with no count of its own: the pixel
    // rows would have to be read as colours.
    f.headerSize = 40;
    f.table = DistinctTable(16);
    EXPECT_FALSE(ImgKitBmpDecode(f.File()));
    f.compression = kRle8;
    f.pixels = Stream({2, 1, 0, 1});
    EXPECT_FALSE(ImgKitBmpDecode(f.File()));
    f.clrUsed = 16;
    EXPECT_TRUE(ImgKitBmpDecode(f.File()));
}

#ifdef __linux__
long ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}
#endif

TEST(ImgKitBmp, RleFileClaimingAHugePictureCostsOnlyWhatItWrites)
{
    // 65535 x 16000 at 8 bits is a 1000 MiB block; the file is some 32 KB of
    // end-of-line escapes and one run at the top.
    InfoBmp f;
    f.width = 65535;
    f.height = 16000;
    f.bitCount = 8;
    f.compression = kRle8;
    f.table = DistinctTable(256);
    for (int y = 0; y < 15999; ++y)
        f.pixels.append(2, '\0');
    f.pixels += Stream({200, 9, 0, 1});
#ifdef __linux__
    const long before = ResidentBytes();
#endif
    const ImageHandle img = ImgKitBmpDecode(f.File());
    ASSERT_TRUE(img);
#ifdef __linux__
    const long after = ResidentBytes();
    if (before > 0 && after > 0) {
        EXPECT_LT(after - before, 64L << 20) << "the untouched part of the block was written";
    }
#endif
    EXPECT_EQ(RawAt(img, 0, 0), 9u);
    EXPECT_EQ(RawAt(img, 199, 0), 9u);
    EXPECT_EQ(RawAt(img, 200, 0), 0u);
    EXPECT_EQ(RawAt(img, 0, 1), 0u);
    EXPECT_EQ(RawAt(img, 65534, 15999), 0u);

    // Beyond the largest block or side: refused before anything is allocated.
    f.height = 20000;
    EXPECT_FALSE(ImgKitBmpDecode(f.File()));
    f.height = 1;
    f.width = 70000;
    f.pixels = Stream({200, 9, 0, 1});
    EXPECT_FALSE(ImgKitBmpDecode(f.File()));
    f.width = 65535;
    EXPECT_TRUE(ImgKitBmpDecode(f.File()));
}

}  // namespace
