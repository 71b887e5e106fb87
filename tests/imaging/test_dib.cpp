// SPDX-License-Identifier: GPL-3.0-or-later
// TMDIB (fields, colour count, palette, drawing, contrast, gamma, levels),
// CreateDib and BitmapToDib.

#include "imaging/Dib.h"
#include "imaging/DibQImage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kPad = 0xA5;  // marks row padding that no operation may touch

struct RecordingTarget : PictureTarget {
    void SetPicture(const QImage& picture) override
    {
        ++calls;
        last = picture;
    }
    int calls = 0;
    QImage last;
};

BitmapInfoHeader& HeaderOf(ImageHandle& h)
{
    return *h.Header();
}

uint8_t* Row(ImageHandle& h, int y)  // picture row, 0 = top
{
    const DibLayout l = DibLayoutOf(h);
    return h.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * l.stride;
}

void SetEntry(ImageHandle& h, int i, uint8_t red, uint8_t green, uint8_t blue, uint8_t reserved = 0)
{
    uint8_t* e = h.Data() + 40 + 4 * i;
    e[0] = blue;
    e[1] = green;
    e[2] = red;
    e[3] = reserved;
}

// Fills the padding bytes of every row with kPad.
void MarkPadding(ImageHandle& h)
{
    const DibLayout l = DibLayoutOf(h);
    const std::size_t used = (std::size_t(l.width) * l.bitCount + 7) / 8;
    for (int y = 0; y < l.height; ++y)
        std::memset(Row(h, y) + used, kPad, std::size_t(l.stride) - used);
}

// A 24-bit image of width x height whose colour bytes are all `value`.
ImageHandle Uniform24(int width, int height, uint8_t value)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    for (int y = 0; y < height; ++y)
        std::memset(Row(h, y), value, std::size_t(width) * 3);
    MarkPadding(h);
    return h;
}

std::vector<uint8_t> Bytes(const ImageHandle& h)
{
    return h.IsNull() ? std::vector<uint8_t>{} : std::vector<uint8_t>(h.Data(), h.Data() + h.Size());
}

// ---------------------------------------------------------------- fields

struct FieldCase {
    const char* name;
    int width, height, bitCount, entries;
    int64_t sizeField;  // header image-size field to write; -1 keeps NewDib's
    int32_t pixelCount, paletteBytes, pixelFormat, stride, imageBytes;
    int64_t paletteAt, bitsAt, topRowAt;  // offsets from Header; -1: null
};

class DibFields : public testing::TestWithParam<FieldCase> {};

TEST_P(DibFields, AreComputedFromTheHeader)
{
    const FieldCase& c = GetParam();
    ImageHandle h = ImageHandle::NewDib(c.width, c.height, c.bitCount, c.entries);
    ASSERT_TRUE(h);
    if (c.sizeField >= 0)
        HeaderOf(h).biSizeImage = uint32_t(c.sizeField);
    TMDIB dib(h);
    EXPECT_EQ(dib.CoreHeader, 0);
    EXPECT_EQ(dib.Header, h.Data());
    EXPECT_EQ(dib.Width, c.width);
    EXPECT_EQ(dib.Height, c.height);
    EXPECT_EQ(dib.PixelCount, c.pixelCount);
    EXPECT_EQ(dib.PaletteBytes, c.paletteBytes);
    EXPECT_EQ(dib.PixelFormat, c.pixelFormat);
    EXPECT_EQ(dib.Stride, c.stride);
    EXPECT_EQ(dib.ImageBytes, c.imageBytes);
    auto at = [&](int64_t off) { return off < 0 ? nullptr : h.Data() + off; };
    EXPECT_EQ(dib.Palette, at(c.paletteAt));
    EXPECT_EQ(dib.Bits, at(c.bitsAt));
    EXPECT_EQ(dib.TopRow, at(c.topRowAt));
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibFields,
    testing::Values(
        // 5 x 3 bytes = 15 → rows padded to 16
        FieldCase{"Rgb5x3Padded", 5, 3, 24, 0, -1, 15, 0, pf24bit, 16, 48, 40, 40, 40 + 48 - 16},
        FieldCase{"Rgb4x2Unpadded", 4, 2, 24, 0, -1, 8, 0, pf24bit, 12, 24, 40, 40, 40 + 24 - 12},
        FieldCase{"Rgb20x20", 20, 20, 24, 0, -1, 400, 0, pf24bit, 60, 1200, 40, 40, 40 + 1200 - 60},
        // an image-size field of 0 means Stride x Height
        FieldCase{"SizeFieldZero", 5, 3, 24, 0, 0, 15, 0, pf24bit, 16, 48, 40, 40, 40 + 48 - 16},
        // the size field is taken as it stands; a top row it puts past the
        // block is null
        FieldCase{"SizeFieldPastBlock", 5, 3, 24, 0, 1000, 15, 0, pf24bit, 16, 1000, 40, 40, -1},
        FieldCase{"Indexed8Full", 5, 2, 8, 256, -1, 10, 1024, pf8bit, 8, 16, 40, 1064, 1064 + 8},
        FieldCase{"Indexed8ThreeColours", 5, 2, 8, 3, -1, 10, 12, pf8bit, 8, 16, 40, 52, 52 + 8},
        FieldCase{"Nibbles3x2", 3, 2, 4, 16, -1, 6, 64, pf4bit, 4, 8, 40, 104, 104 + 4},
        // 33 bits → 5 bytes → 8
        FieldCase{"Mono33x2", 33, 2, 1, 2, -1, 66, 8, pf1bit, 8, 16, 40, 48, 48 + 8},
        // colours used on a 24-bit image: the table sits before the pixels
        FieldCase{"RgbWithTable", 2, 1, 24, 2, -1, 2, 8, pf24bit, 8, 8, 40, 48, 48}),
    [](const testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- colour count

struct CountCase {
    const char* name;
    uint32_t headerSize;
    uint16_t bitCount;
    uint32_t coloursUsed;
    uint16_t expected;
    uint8_t core;
};

class DibColorCount : public testing::TestWithParam<CountCase> {};

TEST_P(DibColorCount, FollowsColoursUsedThenBitCount)
{
    const CountCase& c = GetParam();
    ImageHandle h = ImageHandle::NewDib(4, 4, 24);
    uint8_t header[40] = {};
    std::memcpy(header, &c.headerSize, 4);
    if (c.headerSize == 12) {
        std::memcpy(header + 10, &c.bitCount, 2);
    } else {
        std::memcpy(header + 14, &c.bitCount, 2);
        std::memcpy(header + 32, &c.coloursUsed, 4);
    }
    TMDIB dib(h);
    EXPECT_EQ(dib.ColorCount(header), c.expected);
    EXPECT_EQ(dib.CoreHeader, c.core);
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibColorCount,
    testing::Values(CountCase{"Mono", 40, 1, 0, 2, 0}, CountCase{"Nibbles", 40, 4, 0, 16, 0},
                    CountCase{"Bytes", 40, 8, 0, 256, 0}, CountCase{"Rgb", 40, 24, 0, 0, 0},
                    CountCase{"Sixteen", 40, 16, 0, 0, 0}, CountCase{"ThirtyTwo", 40, 32, 0, 0, 0},
                    CountCase{"ColoursUsed", 40, 8, 3, 3, 0},
                    // only the low 16 bits of the field count
                    CountCase{"ColoursUsedLow16", 40, 8, 0x10005, 5, 0},
                    CountCase{"ColoursUsedOnRgb", 40, 24, 7, 7, 0},
                    CountCase{"CoreHeader", 12, 4, 0, 16, 1}, CountCase{"CoreHeaderRgb", 12, 24, 0, 0, 1}),
    [](const testing::TestParamInfo<CountCase>& info) { return std::string(info.param.name); });

TEST(DibColorCount, OfNoHeaderIsZero)
{
    ImageHandle h = ImageHandle::NewDib(4, 4, 24);
    TMDIB dib(h);
    EXPECT_EQ(dib.ColorCount(nullptr), 0);
}

TEST(DibColorCount, ReadsNothingPastItsBlock)
{
    // A block too short for the header it starts: nothing is counted, no
    // field is derived from bytes that are not there.
    for (const std::size_t size : {std::size_t(3), std::size_t(8), std::size_t(39)}) {
        ImageHandle h = ImageHandle::Allocate(size);
        const uint32_t headerSize = size == 8 ? 12 : 40;
        if (size >= 4)
            std::memcpy(h.Data(), &headerSize, 4);
        TMDIB dib(h);
        EXPECT_EQ(dib.ColorCount(dib.Header), 0) << size << " bytes";
        EXPECT_EQ(dib.Width, 0) << size << " bytes";
        EXPECT_EQ(dib.PaletteBytes, 0) << size << " bytes";
        EXPECT_FALSE(dib.MakePalette(dib.Header).has_value()) << size << " bytes";
    }
}

// ---------------------------------------------------------------- core header

// The old 12-byte header: 16-bit width, height, planes and bit count.
ImageHandle CoreBlock(uint16_t width, uint16_t height, uint16_t bitCount, std::size_t size)
{
    ImageHandle h = ImageHandle::Allocate(size);
    const uint32_t twelve = 12;
    const uint16_t planes = 1;
    std::memcpy(h.Data(), &twelve, 4);
    std::memcpy(h.Data() + 4, &width, 2);
    std::memcpy(h.Data() + 6, &height, 2);
    std::memcpy(h.Data() + 8, &planes, 2);
    std::memcpy(h.Data() + 10, &bitCount, 2);
    return h;
}

TEST(DibCoreHeader, IsRecognisedButNotAdjusted)
{
    ImageHandle h = CoreBlock(3, 2, 24, 12 + 24);
    const std::vector<uint8_t> before = Bytes(h);
    TMDIB dib(h);
    EXPECT_EQ(dib.CoreHeader, 1);
    EXPECT_EQ(dib.Width, 3);
    EXPECT_EQ(dib.Height, 2);
    EXPECT_EQ(dib.PixelFormat, pf24bit);
    EXPECT_EQ(dib.Stride, 12);
    EXPECT_EQ(dib.ImageBytes, 24);
    EXPECT_EQ(dib.Palette, h.Data() + 12);
    EXPECT_EQ(dib.Bits, h.Data() + 12);
    EXPECT_EQ(dib.TopRow, h.Data() + 24);
    EXPECT_FALSE(dib.MakePalette(dib.Header).has_value());
    EXPECT_FALSE(dib.Contrast(50));
    EXPECT_EQ(Bytes(h), before);
}

// ---------------------------------------------------------------- malformed blocks

struct MalformedCase {
    const char* name;
    std::function<ImageHandle()> make;
};

class DibMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(DibMalformed, IsLeftAloneByEveryOperation)
{
    ImageHandle h = GetParam().make();
    std::mt19937 rng(7);
    for (std::size_t i = 40; i < h.Size(); ++i)
        h.Data()[i] = uint8_t(rng());
    const std::vector<uint8_t> before = Bytes(h);

    TMDIB dib(h);
    for (uint8_t* p : {dib.Palette, dib.Bits, dib.TopRow}) {
        if (p) {
            EXPECT_GE(p, h.Data());
            EXPECT_LE(p, h.Data() + h.Size());
        }
    }
    RecordingTarget target;
    EXPECT_FALSE(dib.DrawToImage(target));
    EXPECT_EQ(target.calls, 0);
    EXPECT_FALSE(dib.Contrast(-100));
    EXPECT_FALSE(dib.Gamma(50));
    EXPECT_FALSE(dib.Levels(10, 20, 0));
    (void)dib.MakePalette(dib.Header);
    EXPECT_EQ(Bytes(h), before);
}

ImageHandle WithHeader(int width, int height, int bitCount, std::size_t size,
                       const std::function<void(BitmapInfoHeader&)>& edit = {})
{
    ImageHandle h = ImageHandle::Allocate(size);
    BitmapInfoHeader hdr;
    hdr.biWidth = width;
    hdr.biHeight = height;
    hdr.biBitCount = uint16_t(bitCount);
    if (edit)
        edit(hdr);
    std::memcpy(h.Data(), &hdr, std::min(size, sizeof hdr));
    return h;
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibMalformed,
    testing::Values(
        MalformedCase{"Null", [] { return ImageHandle(); }},
        MalformedCase{"ShorterThanHeader", [] { return WithHeader(4, 4, 24, 20); }},
        // the header promises 100 x 100 pixels; the block holds 16 bytes of them
        MalformedCase{"RowsPastBlock", [] { return WithHeader(100, 100, 24, 40 + 16); }},
        MalformedCase{"TopDown", [] { return WithHeader(4, -4, 24, 40 + 48); }},
        MalformedCase{"Compressed",
                      [] { return WithHeader(4, 4, 24, 40 + 48, [](BitmapInfoHeader& b) { b.biCompression = 1; }); }},
        MalformedCase{"SixteenBits", [] { return WithHeader(4, 4, 16, 40 + 32); }},
        MalformedCase{"TooManyColours",
                      [] { return WithHeader(4, 4, 8, 40 + 1200 + 16, [](BitmapInfoHeader& b) { b.biClrUsed = 300; }); }},
        MalformedCase{"HeaderSizeWrong",
                      [] { return WithHeader(4, 4, 24, 40 + 48, [](BitmapInfoHeader& b) { b.biSize = 64; }); }},
        // a 1-bit block without its colour table: its rows would start 8
        // bytes on and end past the block
        MalformedCase{"MonoWithoutTable", [] { return WithHeader(16, 4, 1, 40 + 16); }},
        MalformedCase{"CoreHeaderShort", [] { return CoreBlock(100, 100, 8, 16); }},
        // sizes whose products overflow 32 and 64 bits
        MalformedCase{"HugeHeader", [] { return WithHeader(INT32_MAX, INT32_MAX, 65535, 40 + 16); }},
        MalformedCase{"MostNegativeHeader",
                      [] {
                          return WithHeader(INT32_MIN, INT32_MIN, 24, 40 + 16,
                                            [](BitmapInfoHeader& b) { b.biSize = 0xFFFFFFFF; });
                      }}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- palettes

TEST(DibMakePalette, OfRgbWithoutTableIsTheFixedCube)
{
    ImageHandle h = CreateDib(2, 2, 3);
    TMDIB dib(h);
    const std::optional<LogicalPalette> p = dib.MakePalette(dib.Header);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->version, 0x300);
    ASSERT_EQ(p->entries.size(), 256);
    const struct {
        int index;
        QRgb colour;
    } spots[] = {{0, qRgb(0, 0, 0)},       {1, qRgb(32, 0, 0)},     {7, qRgb(224, 0, 0)},
                 {8, qRgb(0, 32, 0)},      {9, qRgb(32, 32, 0)},    {63, qRgb(224, 224, 0)},
                 {64, qRgb(0, 0, 64)},     {130, qRgb(64, 0, 128)}, {255, qRgb(224, 224, 192)}};
    for (const auto& s : spots)
        EXPECT_EQ(p->entries[s.index], s.colour) << "entry " << s.index;
}

TEST(DibMakePalette, TakesTheColourTableEntryForEntry)
{
    ImageHandle indexed = ImageHandle::NewDib(2, 2, 8, 3);
    SetEntry(indexed, 0, 1, 2, 3, 9);
    SetEntry(indexed, 1, 200, 100, 50);
    SetEntry(indexed, 2, 255, 0, 128);
    TMDIB a(indexed);
    const auto p = a.MakePalette(a.Header);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->entries, (QList<QRgb>{qRgb(1, 2, 3), qRgb(200, 100, 50), qRgb(255, 0, 128)}));

    // a 24-bit image that carries a table shows it, not the cube
    ImageHandle rgb = ImageHandle::NewDib(2, 2, 24, 2);
    SetEntry(rgb, 0, 10, 20, 30);
    SetEntry(rgb, 1, 40, 50, 60);
    TMDIB b(rgb);
    const auto q = b.MakePalette(b.Header);
    ASSERT_TRUE(q.has_value());
    EXPECT_EQ(q->entries, (QList<QRgb>{qRgb(10, 20, 30), qRgb(40, 50, 60)}));
}

TEST(DibMakePalette, IsNoneWhenTheTableRunsPastTheBlock)
{
    // 200 colours claimed, room for 25
    ImageHandle h = WithHeader(2, 2, 8, 40 + 100, [](BitmapInfoHeader& b) { b.biClrUsed = 200; });
    TMDIB dib(h);
    EXPECT_FALSE(dib.MakePalette(dib.Header).has_value());
}

TEST(DibMakePalette, IsNoneWithoutAnInfoHeaderOrTable)
{
    ImageHandle core = CoreBlock(2, 2, 8, 12 + 1024 + 8);
    TMDIB a(core);
    EXPECT_FALSE(a.MakePalette(a.Header).has_value());
    EXPECT_FALSE(a.MakePalette(nullptr).has_value());

    ImageHandle sixteen = WithHeader(2, 2, 16, 40 + 8);
    TMDIB b(sixteen);
    EXPECT_FALSE(b.MakePalette(b.Header).has_value());
}

// ---------------------------------------------------------------- drawing

struct DrawCase {
    const char* name;
    std::function<ImageHandle()> make;
    QImage::Format format;
    std::vector<std::vector<QRgb>> rows;  // expected colours, top row first
};

class DibDraw : public testing::TestWithParam<DrawCase> {};

TEST_P(DibDraw, HandsOverThePictureTopRowFirst)
{
    const DrawCase& c = GetParam();
    ImageHandle h = c.make();
    TMDIB dib(h);
    RecordingTarget target;
    ASSERT_TRUE(dib.DrawToImage(target));
    ASSERT_EQ(target.calls, 1);
    const QImage& pic = target.last;
    EXPECT_EQ(pic.format(), c.format);
    ASSERT_EQ(pic.height(), int(c.rows.size()));
    ASSERT_EQ(pic.width(), int(c.rows[0].size()));
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x)
            EXPECT_EQ(pic.pixel(x, y), c.rows[y][x]) << "pixel " << x << "," << y;

    // the fields stay, so the same view draws the same picture again
    RecordingTarget again;
    ASSERT_TRUE(dib.DrawToImage(again));
    EXPECT_EQ(again.last, pic);
}

ImageHandle DrawRgb()
{
    // 3 x 2; row 0 of memory is the bottom row of the picture
    ImageHandle h = ImageHandle::NewDib(3, 2, 24);
    const uint8_t top[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // blue, green, red
    const uint8_t bottom[9] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    std::memcpy(Row(h, 0), top, 9);
    std::memcpy(Row(h, 1), bottom, 9);
    MarkPadding(h);
    return h;
}

ImageHandle DrawIndexed()
{
    ImageHandle h = ImageHandle::NewDib(3, 2, 8, 3);
    SetEntry(h, 0, 255, 0, 0);
    SetEntry(h, 1, 0, 255, 0);
    SetEntry(h, 2, 10, 20, 30);
    const uint8_t top[3] = {0, 1, 2};
    const uint8_t bottom[3] = {2, 2, 1};
    std::memcpy(Row(h, 0), top, 3);
    std::memcpy(Row(h, 1), bottom, 3);
    MarkPadding(h);
    return h;
}

ImageHandle DrawNibbles()
{
    ImageHandle h = ImageHandle::NewDib(3, 2, 4, 16);
    for (int i = 0; i < 16; ++i)
        SetEntry(h, i, uint8_t(i * 16), uint8_t(255 - i), uint8_t(i));
    // the high nibble is the left pixel
    Row(h, 0)[0] = 0x1F;
    Row(h, 0)[1] = 0x30;
    Row(h, 1)[0] = 0xE2;
    Row(h, 1)[1] = 0x70;
    return h;
}

ImageHandle DrawMono()
{
    ImageHandle h = ImageHandle::NewDib(10, 2, 1, 2);
    SetEntry(h, 0, 10, 20, 30);
    SetEntry(h, 1, 200, 150, 100);
    // bit 7 of the first byte is the left pixel
    Row(h, 0)[0] = 0b10110000;
    Row(h, 0)[1] = 0b01000000;
    Row(h, 1)[0] = 0b00000001;
    Row(h, 1)[1] = 0b10000000;
    return h;
}

const QRgb kM0 = qRgb(10, 20, 30);
const QRgb kM1 = qRgb(200, 150, 100);
QRgb Nib(int i)
{
    return qRgb(i * 16, 255 - i, i);
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibDraw,
    testing::Values(
        DrawCase{"Rgb",
                 DrawRgb,
                 QImage::Format_BGR888,
                 {{qRgb(3, 2, 1), qRgb(6, 5, 4), qRgb(9, 8, 7)}, {qRgb(30, 20, 10), qRgb(60, 50, 40), qRgb(90, 80, 70)}}},
        DrawCase{"Indexed",
                 DrawIndexed,
                 QImage::Format_Indexed8,
                 {{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(10, 20, 30)},
                  {qRgb(10, 20, 30), qRgb(10, 20, 30), qRgb(0, 255, 0)}}},
        DrawCase{"Nibbles",
                 DrawNibbles,
                 QImage::Format_Indexed8,
                 {{Nib(1), Nib(15), Nib(3)}, {Nib(14), Nib(2), Nib(7)}}},
        DrawCase{"Mono",
                 DrawMono,
                 QImage::Format_Mono,
                 {{kM1, kM0, kM1, kM1, kM0, kM0, kM0, kM0, kM0, kM1}, {kM0, kM0, kM0, kM0, kM0, kM0, kM0, kM1, kM1, kM0}}}),
    [](const testing::TestParamInfo<DrawCase>& info) { return std::string(info.param.name); });

TEST(DibDraw, ReadsRowsFromBitsWhateverTheImageSizeField)
{
    // Files in the wild carry image-size fields larger than the rows (a few
    // trailing bytes); the picture comes from the rows all the same.
    ImageHandle h = DrawRgb();
    HeaderOf(h).biSizeImage = 1000;
    TMDIB dib(h);
    RecordingTarget target;
    ASSERT_TRUE(dib.DrawToImage(target));
    EXPECT_EQ(target.last.pixel(0, 0), qRgb(3, 2, 1));
    EXPECT_EQ(target.last.pixel(2, 1), qRgb(90, 80, 70));
}

// ---------------------------------------------------------------- adjustments

using Adjust = std::function<bool(TMDIB&)>;

struct AdjustCase {
    const char* name;
    Adjust op;
    int value;     // every colour byte before
    int expected;  // every colour byte after
};

class DibAdjust : public testing::TestWithParam<AdjustCase> {};

TEST_P(DibAdjust, MapsEveryColourByteAndNoPadding)
{
    const AdjustCase& c = GetParam();
    // 5 pixels = 15 bytes: one padding byte per row
    ImageHandle h = Uniform24(5, 3, uint8_t(c.value));
    TMDIB dib(h);
    EXPECT_TRUE(c.op(dib));
    for (int y = 0; y < 3; ++y) {
        const uint8_t* row = Row(h, y);
        for (int j = 0; j < 15; ++j)
            ASSERT_EQ(row[j], c.expected) << "row " << y << " byte " << j;
        EXPECT_EQ(row[15], kPad) << "padding of row " << y;
    }
}

Adjust ContrastBy(int c)
{
    return [c](TMDIB& d) { return d.Contrast(c); };
}
Adjust GammaBy(int g)
{
    return [g](TMDIB& d) { return d.Gamma(g); };
}
Adjust LevelsOf(int low, int high, int channel = 0)
{
    return [=](TMDIB& d) { return d.Levels(low, high, channel); };
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibAdjust,
    testing::Values(
        AdjustCase{"ContrastMinus100Dark", ContrastBy(-100), 0, 128},
        AdjustCase{"ContrastMinus100Mid", ContrastBy(-100), 77, 128},
        AdjustCase{"ContrastMinus100Bright", ContrastBy(-100), 255, 128},
        // 110 x -28 / 100 = -30.8 → -30 (toward zero), not -31
        AdjustCase{"ContrastPlus10TruncatesTowardZero", ContrastBy(10), 100, 98},
        AdjustCase{"ContrastPlus10Bright", ContrastBy(10), 200, 207},
        AdjustCase{"ContrastPlus10ClampsBelow", ContrastBy(10), 0, 0},
        AdjustCase{"ContrastMinus10Dark", ContrastBy(-10), 0, 13},
        AdjustCase{"ContrastMinus10Mid", ContrastBy(-10), 100, 103},
        AdjustCase{"ContrastMinus10Bright", ContrastBy(-10), 255, 242},
        AdjustCase{"ContrastPlus100ClampsAbove", ContrastBy(100), 255, 255},
        // 256 is out of range too
        AdjustCase{"ContrastMinus200Inverts", ContrastBy(-200), 0, 255},
        AdjustCase{"ContrastMinus200InvertsBright", ContrastBy(-200), 255, 1},
        AdjustCase{"GammaKeepsBlackAt1", GammaBy(1), 0, 0},
        AdjustCase{"GammaKeepsBlackAt90", GammaBy(90), 0, 0},
        AdjustCase{"GammaKeepsBlackAt120", GammaBy(120), 0, 0},
        AdjustCase{"GammaKeepsBlackAt300", GammaBy(300), 0, 0},
        AdjustCase{"Gamma90Mid", GammaBy(90), 128, 118},
        AdjustCase{"Gamma90Low", GammaBy(90), 1, 0},
        // 254.99999999999997 truncates
        AdjustCase{"Gamma90White", GammaBy(90), 255, 254},
        AdjustCase{"Gamma120Low", GammaBy(120), 1, 2},
        AdjustCase{"Gamma120Mid", GammaBy(120), 128, 143},
        AdjustCase{"Gamma120White", GammaBy(120), 255, 255},
        AdjustCase{"Gamma50", GammaBy(50), 16, 1},
        AdjustCase{"GammaZeroLeavesImage", GammaBy(0), 128, 128},
        AdjustCase{"GammaNegativeLeavesImage", GammaBy(-50), 128, 128},
        AdjustCase{"LevelsBelowLow", LevelsOf(50, 100), 40, 0},
        AdjustCase{"LevelsAtLow", LevelsOf(50, 100), 50, 0},
        AdjustCase{"LevelsMid", LevelsOf(50, 100), 75, 127},
        AdjustCase{"LevelsNearHigh", LevelsOf(50, 100), 99, 249},
        // -255 + 5.1 x 100 = 254.99999999999997 truncates
        AdjustCase{"LevelsAtHigh", LevelsOf(50, 100), 100, 254},
        AdjustCase{"LevelsAboveHigh", LevelsOf(50, 100), 120, 255},
        AdjustCase{"LevelsWide", LevelsOf(10, 200), 100, 120},
        AdjustCase{"LevelsWideTop", LevelsOf(10, 200), 200, 255},
        AdjustCase{"LevelsEqualBoundsLeaveImage", LevelsOf(80, 80), 100, 100},
        AdjustCase{"LevelsReversedBoundsLeaveImage", LevelsOf(100, 50), 75, 75},
        AdjustCase{"LevelsUnknownChannelLeavesImage", LevelsOf(50, 100, 4), 75, 75}),
    [](const testing::TestParamInfo<AdjustCase>& info) { return std::string(info.param.name); });

struct IdentityCase {
    const char* name;
    Adjust op;
};

class DibIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(DibIdentity, LeavesEveryValue)
{
    // 86 pixels = 258 colour bytes per row, so each row holds all 256 values
    ImageHandle h = ImageHandle::NewDib(86, 2, 24);
    for (int j = 0; j < 258; ++j) {
        Row(h, 0)[j] = uint8_t(j);
        Row(h, 1)[j] = uint8_t(255 - j % 256);
    }
    MarkPadding(h);
    const std::vector<uint8_t> before = Bytes(h);
    TMDIB dib(h);
    EXPECT_TRUE(GetParam().op(dib));
    EXPECT_EQ(Bytes(h), before);
}

INSTANTIATE_TEST_SUITE_P(Dib, DibIdentity,
                         testing::Values(IdentityCase{"ContrastZero", ContrastBy(0)},
                                         IdentityCase{"Gamma100", GammaBy(100)},
                                         IdentityCase{"LevelsFullRange", LevelsOf(0, 255)}),
                         [](const testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.name); });

struct ChannelCase {
    const char* name;
    int channel;
    uint8_t blue, green, red;  // after stretching 50..100 on (75, 75, 75)
};

class DibLevelsChannel : public testing::TestWithParam<ChannelCase> {};

TEST_P(DibLevelsChannel, SelectsItsBytes)
{
    const ChannelCase& c = GetParam();
    // rgb: one pixel, bytes blue, green, red
    ImageHandle rgb = Uniform24(1, 1, 75);
    TMDIB a(rgb);
    EXPECT_TRUE(a.Levels(50, 100, c.channel));
    EXPECT_EQ(Row(rgb, 0)[0], c.blue);
    EXPECT_EQ(Row(rgb, 0)[1], c.green);
    EXPECT_EQ(Row(rgb, 0)[2], c.red);
    EXPECT_EQ(Row(rgb, 0)[3], kPad);

    // palette image: the same bytes of each colour-table entry
    ImageHandle indexed = ImageHandle::NewDib(1, 1, 8, 2);
    SetEntry(indexed, 0, 75, 75, 75, 75);
    SetEntry(indexed, 1, 75, 75, 75, 75);
    TMDIB b(indexed);
    EXPECT_TRUE(b.Levels(50, 100, c.channel));
    for (int i = 0; i < 2; ++i) {
        const uint8_t* e = indexed.Data() + 40 + 4 * i;
        EXPECT_EQ(e[0], c.blue);
        EXPECT_EQ(e[1], c.green);
        EXPECT_EQ(e[2], c.red);
        EXPECT_EQ(e[3], 75) << "reserved byte";
    }
}

INSTANTIATE_TEST_SUITE_P(Dib, DibLevelsChannel,
                         testing::Values(ChannelCase{"All", 0, 127, 127, 127}, ChannelCase{"Red", 1, 75, 75, 127},
                                         ChannelCase{"Green", 2, 75, 127, 75}, ChannelCase{"Blue", 3, 127, 75, 75}),
                         [](const testing::TestParamInfo<ChannelCase>& info) { return std::string(info.param.name); });

struct PaletteAdjustCase {
    const char* name;
    int width, bitCount, entries;
    int adjusted;  // entries the depth can address
};

class DibPaletteAdjust : public testing::TestWithParam<PaletteAdjustCase> {};

TEST_P(DibPaletteAdjust, ChangesOnlyTheAddressableColourEntries)
{
    const PaletteAdjustCase& c = GetParam();
    ImageHandle h = ImageHandle::NewDib(c.width, 3, c.bitCount, c.entries);
    for (int i = 0; i < c.entries; ++i)
        SetEntry(h, i, 100, 100, 100, 0x77);
    const DibLayout l = DibLayoutOf(h);
    std::mt19937 rng(3);
    for (std::size_t i = l.bitsOffset; i < h.Size(); ++i)
        h.Data()[i] = uint8_t(rng());
    const std::vector<uint8_t> before = Bytes(h);

    TMDIB dib(h);
    ASSERT_TRUE(dib.Contrast(-100));
    const std::vector<uint8_t> after = Bytes(h);
    for (int i = 0; i < c.entries; ++i) {
        const uint8_t* e = after.data() + 40 + 4 * i;
        const int want = i < c.adjusted ? 128 : 100;
        EXPECT_EQ(e[0], want) << "entry " << i;
        EXPECT_EQ(e[1], want) << "entry " << i;
        EXPECT_EQ(e[2], want) << "entry " << i;
        EXPECT_EQ(e[3], 0x77) << "entry " << i;
    }
    EXPECT_TRUE(std::equal(before.begin() + std::ptrdiff_t(l.bitsOffset), before.end(),
                           after.begin() + std::ptrdiff_t(l.bitsOffset)))
        << "pixel bytes changed";
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibPaletteAdjust,
    testing::Values(PaletteAdjustCase{"Mono", 13, 1, 2, 2}, PaletteAdjustCase{"Nibbles", 5, 4, 16, 16},
                    PaletteAdjustCase{"Bytes", 5, 8, 256, 256}, PaletteAdjustCase{"BytesThreeColours", 5, 8, 3, 3},
                    // four entries, but one bit addresses two of them
                    PaletteAdjustCase{"MonoWithSpareEntries", 13, 1, 4, 2}),
    [](const testing::TestParamInfo<PaletteAdjustCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- CreateDib

struct CreateCase {
    const char* name;
    int width, height, type;
    int bitCount, stride;
    std::size_t blockBytes;
    uint32_t colours;  // colour-table entries: a grey ramp from black
};

class DibCreate : public testing::TestWithParam<CreateCase> {};

TEST_P(DibCreate, MakesABlackBlock)
{
    const CreateCase& c = GetParam();
    ImageHandle h = CreateDib(c.width, c.height, c.type);
    ASSERT_TRUE(h);
    EXPECT_EQ(h.Size(), c.blockBytes);
    const BitmapInfoHeader& hdr = *h.Header();
    EXPECT_EQ(hdr.biSize, 40u);
    EXPECT_EQ(hdr.biWidth, c.width);
    EXPECT_EQ(hdr.biHeight, c.height);
    EXPECT_EQ(hdr.biPlanes, 1);
    EXPECT_EQ(hdr.biBitCount, c.bitCount);
    EXPECT_EQ(hdr.biCompression, 0u);
    EXPECT_EQ(hdr.biSizeImage, uint32_t(c.stride * c.height));
    EXPECT_EQ(hdr.biXPelsPerMeter, 0);
    EXPECT_EQ(hdr.biYPelsPerMeter, 0);
    EXPECT_EQ(hdr.biClrUsed, c.colours);
    EXPECT_EQ(hdr.biClrImportant, 0u);
    for (uint32_t i = 0; i < c.colours; ++i) {
        const uint8_t* e = h.Data() + 40 + 4 * i;
        const int v = int(i * 255 / (c.colours - 1));
        EXPECT_EQ(e[0], v);
        EXPECT_EQ(e[1], v);
        EXPECT_EQ(e[2], v);
        EXPECT_EQ(e[3], 0);
    }
    for (std::size_t i = 40 + 4 * c.colours; i < h.Size(); ++i)
        ASSERT_EQ(h.Data()[i], 0) << "byte " << i;
    TMDIB dib(h);
    EXPECT_EQ(dib.Stride, c.stride);
    EXPECT_TRUE(DibLayoutOf(h).valid);
}

INSTANTIATE_TEST_SUITE_P(Dib, DibCreate,
                         testing::Values(CreateCase{"Rgb20x20", 20, 20, 3, 24, 60, 1240, 0},
                                         CreateCase{"Rgb5x3", 5, 3, 3, 24, 16, 88, 0},
                                         CreateCase{"Mono20x20", 20, 20, 0, 1, 4, 128, 2},
                                         CreateCase{"Nibbles3x1", 3, 1, 1, 4, 4, 108, 16},
                                         CreateCase{"Bytes5x2", 5, 2, 2, 8, 8, 1080, 256}),
                         [](const testing::TestParamInfo<CreateCase>& info) { return std::string(info.param.name); });

TEST(DibCreate, RefusesBadTypesAndSizes)
{
    EXPECT_FALSE(CreateDib(20, 20, 4));
    EXPECT_FALSE(CreateDib(20, 20, -1));
    EXPECT_FALSE(CreateDib(0, 20, 3));
    EXPECT_FALSE(CreateDib(20, 0, 3));
    EXPECT_FALSE(CreateDib(-5, 20, 3));
    EXPECT_FALSE(CreateDib(20, -5, 3));
    EXPECT_FALSE(CreateDib(kMaxDibSide + 1, 1, 3));
}

// ---------------------------------------------------------------- BitmapToDib

struct UnsupportedCase {
    const char* name;
    QImage::Format format;
};

class DibFromBitmapUnsupported : public testing::TestWithParam<UnsupportedCase> {};

TEST_P(DibFromBitmapUnsupported, GivesNone)
{
    QImage bitmap(4, 3, GetParam().format);
    ASSERT_FALSE(bitmap.isNull());
    bitmap.fill(Qt::red);
    EXPECT_FALSE(BitmapToDib(bitmap));
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibFromBitmapUnsupported,
    testing::Values(UnsupportedCase{"Rgb555", QImage::Format_RGB555}, UnsupportedCase{"Rgb444", QImage::Format_RGB444},
                    UnsupportedCase{"Rgb16", QImage::Format_RGB16}, UnsupportedCase{"Rgb32", QImage::Format_RGB32},
                    UnsupportedCase{"Argb32", QImage::Format_ARGB32},
                    UnsupportedCase{"Argb32Premultiplied", QImage::Format_ARGB32_Premultiplied},
                    UnsupportedCase{"Rgba8888", QImage::Format_RGBA8888},
                    UnsupportedCase{"Rgbx8888", QImage::Format_RGBX8888},
                    UnsupportedCase{"Grayscale16", QImage::Format_Grayscale16},
                    UnsupportedCase{"Alpha8", QImage::Format_Alpha8}),
    [](const testing::TestParamInfo<UnsupportedCase>& info) { return std::string(info.param.name); });

TEST(DibFromBitmap, GivesNoneForANullBitmap)
{
    EXPECT_FALSE(BitmapToDib(QImage()));
}

struct SupportedCase {
    const char* name;
    std::function<QImage()> make;
    int bitCount;
};

class DibFromBitmap : public testing::TestWithParam<SupportedCase> {};

TEST_P(DibFromBitmap, KeepsDepthAndPixels)
{
    const QImage bitmap = GetParam().make();
    ImageHandle h = BitmapToDib(bitmap);
    ASSERT_TRUE(h);
    const DibLayout l = DibLayoutOf(h);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.bitCount, GetParam().bitCount);
    EXPECT_EQ(l.width, bitmap.width());
    EXPECT_EQ(l.height, bitmap.height());
    if (l.bitCount != 24) {
        EXPECT_GT(l.colorCount, 0) << "a palette image needs its colour table";
    }
    TMDIB dib(h);
    RecordingTarget target;
    ASSERT_TRUE(dib.DrawToImage(target));
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            EXPECT_EQ(target.last.pixel(x, y), bitmap.pixel(x, y)) << "pixel " << x << "," << y;
}

QImage Pattern(QImage::Format format)
{
    QImage img(11, 5, format);
    if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB) {
        img.setColorTable({qRgb(12, 34, 56), qRgb(250, 240, 230)});
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x)
                img.setPixel(x, y, (x * 3 + y) % 4 == 0 ? 1 : 0);
    } else if (format == QImage::Format_Indexed8) {
        img.setColorTable({qRgb(1, 2, 3), qRgb(90, 80, 70), qRgb(255, 0, 255)});
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x)
                img.setPixel(x, y, uint(x + y) % 3);
    } else if (format == QImage::Format_Grayscale8) {
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x)
                img.scanLine(y)[x] = uchar(x * 23 + y * 7);
    } else {
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x)
                img.setPixel(x, y, qRgb(x * 20, y * 50, (x * y * 13) % 256));
    }
    return img;
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibFromBitmap,
    testing::Values(SupportedCase{"Mono", [] { return Pattern(QImage::Format_Mono); }, 1},
                    SupportedCase{"MonoLsb", [] { return Pattern(QImage::Format_MonoLSB); }, 1},
                    SupportedCase{"Indexed8", [] { return Pattern(QImage::Format_Indexed8); }, 8},
                    SupportedCase{"Grayscale8", [] { return Pattern(QImage::Format_Grayscale8); }, 8},
                    SupportedCase{"Rgb888", [] { return Pattern(QImage::Format_RGB888); }, 24},
                    SupportedCase{"Bgr888", [] { return Pattern(QImage::Format_BGR888); }, 24}),
    [](const testing::TestParamInfo<SupportedCase>& info) { return std::string(info.param.name); });

TEST(DibFromBitmap, ReadsAnIndexedBitmapWithoutTableAsGrey)
{
    QImage bitmap(3, 1, QImage::Format_Indexed8);
    bitmap.setColorTable({});
    bitmap.scanLine(0)[0] = 0;
    bitmap.scanLine(0)[1] = 77;
    bitmap.scanLine(0)[2] = 255;
    ImageHandle h = BitmapToDib(bitmap);
    ASSERT_TRUE(h);
    EXPECT_EQ(DibLayoutOf(h).bitCount, 8);
    const QImage back = DibToQImage(h);
    EXPECT_EQ(back.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(back.pixel(1, 0), qRgb(77, 77, 77));
    EXPECT_EQ(back.pixel(2, 0), qRgb(255, 255, 255));
}

}  // namespace
