// SPDX-License-Identifier: GPL-3.0-or-later
// ResampleAverage and ResampleBilinear: hand-computed pixels, and equality
// with a direct per-pixel evaluation of the formulas over many sizes.

#include "imaging/Dib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

uint8_t* Pixel(ImageHandle& h, int x, int y)  // picture row y, 0 = top
{
    const DibLayout l = DibLayoutOf(h);
    return h.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * l.stride + std::size_t(x) * 3;
}

const uint8_t* Pixel(const ImageHandle& h, int x, int y)
{
    return Pixel(const_cast<ImageHandle&>(h), x, y);
}

// Every byte after the header random: pixels and row padding alike.
ImageHandle Random24(int width, int height, std::mt19937& rng)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    for (std::size_t i = 40; i < h.Size(); ++i)
        h.Data()[i] = uint8_t(rng());
    return h;
}

ImageHandle Copy(const ImageHandle& h)
{
    ImageHandle c = ImageHandle::Allocate(h.Size());
    std::memcpy(c.Data(), h.Data(), h.Size());
    return c;
}

std::vector<uint8_t> Bytes(const ImageHandle& h)
{
    return std::vector<uint8_t>(h.Data(), h.Data() + h.Size());
}

// The area average evaluated directly: every destination pixel walks its
// whole window and sums in 64 bits.
void ReferenceAverage(ImageHandle& dst, const ImageHandle& src)
{
    const DibLayout s = DibLayoutOf(src);
    const DibLayout d = DibLayoutOf(dst);
    const int64_t sw = s.width, sh = s.height, dw = d.width, dh = d.height;
    const int64_t rx = sw * 1000 / dw, ry = sh * 1000 / dh;
    const int64_t hx = rx / 2, hy = ry / 2;
    for (int64_t y = 0; y < dh; ++y) {
        for (int64_t x = 0; x < dw; ++x) {
            const int64_t cx = x * rx, cy = y * ry;
            const int64_t x0 = (cx - hx + 500) / 1000, y0 = (cy - hy + 500) / 1000;
            const int64_t x1 = (cx + hx - 500) / 1000 + ((cx + hx - 500) % 1000 != 0);
            const int64_t y1 = (cy + hy - 500) / 1000 + ((cy + hy - 500) % 1000 != 0);
            int64_t weightSum = 0, sum[3] = {0, 0, 0};
            for (int64_t yy = y0; yy <= y1; ++yy) {
                for (int64_t xx = x0; xx <= x1; ++xx) {
                    if (xx < 0 || xx >= sw || yy < 0 || yy >= sh)
                        continue;
                    const int64_t cw = xx == x0   ? 100 - ((cx - hx + 500) % 1000) / 10
                                       : xx == x1 ? ((cx + hx - 500) % 1000) / 10
                                                  : 100;
                    const int64_t rw = yy == y0   ? 100 - ((cy - hy + 500) % 1000) / 10
                                       : yy == y1 ? ((cy + hy - 500) % 1000) / 10
                                                  : 100;
                    const int64_t w = cw * rw;
                    weightSum += w;
                    const uint8_t* p = Pixel(src, int(xx), int(yy));
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * p[c];
                }
            }
            if (weightSum == 0)
                continue;
            uint8_t* out = Pixel(dst, int(x), int(y));
            for (int c = 0; c < 3; ++c)
                out[c] = uint8_t(std::clamp<int64_t>(sum[c] / weightSum, 0, 255));
        }
    }
}

// Bilinear interpolation evaluated case by case.
void ReferenceBilinear(ImageHandle& dst, const ImageHandle& src)
{
    const DibLayout s = DibLayoutOf(src);
    const DibLayout d = DibLayoutOf(dst);
    const int sw = s.width, sh = s.height;
    const int rx = sw * 1000 / d.width, ry = sh * 1000 / d.height;
    auto lerp = [](int a, int b, int u) { return a + (b - a) * u / 1000; };
    for (int y = 0; y < d.height; ++y) {
        for (int x = 0; x < d.width; ++x) {
            const int fx = x * rx, fy = y * ry;
            const int px = fx / 1000, ux = fx % 1000, py = fy / 1000, uy = fy % 1000;
            uint8_t* out = Pixel(dst, x, y);
            for (int c = 0; c < 3; ++c) {
                auto P = [&](int a, int b) { return int(Pixel(src, a, b)[c]); };
                int v;
                if (ux == 0 && uy == 0)
                    v = P(px, py);
                else if (ux == 0 || px + 1 >= sw)
                    v = py + 1 >= sh ? P(px, py) : lerp(P(px, py), P(px, py + 1), uy);
                else if (uy == 0 || py + 1 >= sh)
                    v = lerp(P(px, py), P(px + 1, py), ux);
                else
                    v = lerp(lerp(P(px, py), P(px + 1, py), ux), lerp(P(px, py + 1), P(px + 1, py + 1), ux), uy);
                out[c] = uint8_t(v);
            }
        }
    }
}

struct Sizes {
    int sw, sh, dw, dh;
};

std::string Describe(const Sizes& z)
{
    return std::to_string(z.sw) + "x" + std::to_string(z.sh) + " -> " + std::to_string(z.dw) + "x" +
           std::to_string(z.dh);
}

// Size pairs of every kind: enlarging, reducing, one axis each way, sides of
// one pixel, equal sizes, and strong reductions.
std::vector<Sizes> SizePairs()
{
    std::mt19937 rng(20240601);
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<Sizes> pairs = {
        {1, 1, 1, 1},   {1, 1, 20, 1},  {1, 1, 1, 20},  {1, 1, 7, 9},    {20, 1, 1, 1},  {1, 20, 1, 1},
        {10, 10, 20, 20}, {20, 20, 10, 10}, {3, 2, 2, 3}, {5, 5, 5, 5},  {2, 2, 3, 3},   {640, 2, 3, 2},
        {3, 1000, 1, 7}, {2, 1, 2000, 1}, {1, 3, 1, 3000},
        // 1000 x 2 / 10 = 200: the window of row 2 ends exactly on a row
        // boundary and so ends before that of rows 0 and 1
        {1, 2, 1, 10}, {3, 3, 15, 15}, {2, 4, 10, 20},
    };
    for (int i = 0; i < 60; ++i) {  // enlarging
        const int sw = in(1, 12), sh = in(1, 12);
        pairs.push_back({sw, sh, in(sw, 50), in(sh, 50)});
    }
    for (int i = 0; i < 60; ++i) {  // reducing
        const int sw = in(2, 90), sh = in(2, 90);
        pairs.push_back({sw, sh, in(1, sw), in(1, sh)});
    }
    for (int i = 0; i < 40; ++i) {  // one axis each way
        const int sw = in(1, 40), sh = in(1, 40);
        pairs.push_back({sw, sh, in(sw, 60), in(1, sh)});
        pairs.push_back({sw, sh, in(1, sw), in(sh, 60)});
    }
    for (int i = 0; i < 20; ++i) {  // one-pixel sides
        pairs.push_back({1, in(1, 40), in(1, 40), in(1, 40)});
        pairs.push_back({in(1, 40), in(1, 40), in(1, 40), 1});
    }
    for (int i = 0; i < 10; ++i) {  // equal sizes
        const int w = in(1, 30), h = in(1, 30);
        pairs.push_back({w, h, w, h});
    }
    for (int i = 0; i < 10; ++i)  // strong reductions
        pairs.push_back({in(100, 400), in(100, 400), in(1, 6), in(1, 6)});
    return pairs;
}

// The destination starts with random bytes (padding included): pixels whose
// window weighs nothing, and all padding, must keep them.
void ExpectSameAsReference(void (*resample)(ImageHandle&, const ImageHandle&),
                           void (*reference)(ImageHandle&, const ImageHandle&), const Sizes& z, std::mt19937& rng)
{
    const ImageHandle src = Random24(z.sw, z.sh, rng);
    ImageHandle got = Random24(z.dw, z.dh, rng);
    ImageHandle want = Copy(got);
    resample(got, src);
    reference(want, src);
    const std::vector<uint8_t> a = Bytes(got), b = Bytes(want);
    const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    EXPECT_TRUE(diff.first == a.end()) << Describe(z) << ": first difference at byte " << (diff.first - a.begin())
                                       << ", got " << int(*diff.first) << ", want " << int(*diff.second);
}

// ---------------------------------------------------------------- area average

TEST(DibResampleAverage, EqualsTheDirectSumForAllKindsOfSizes)
{
    std::mt19937 rng(11);
    for (const Sizes& z : SizePairs())
        ExpectSameAsReference(ResampleAverage, ReferenceAverage, z, rng);
}

TEST(DibResampleAverage, EqualsTheDirectSumWhereWindowsOutgrow32BitSums)
{
    // 700 / 3 ≈ 233 source pixels a side: up to 233 x 233 x 10000 x 255 in a
    // channel sum, far beyond 32 bits. 3000 x 10 → 10 x 10 reduces 300 times
    // across. Tall windows over narrow ones (4 x 9000 → 4 x 1, 30 x 6000 →
    // 12 x 2) outgrow 32 bits too; 280 x 280 → 10 x 10 stays just inside.
    std::mt19937 rng(12);
    for (const Sizes& z : {Sizes{700, 700, 3, 3}, Sizes{3000, 10, 10, 10}, Sizes{10, 3000, 10, 10},
                           Sizes{3, 3000, 1500, 2}, Sizes{900, 450, 4, 7}, Sizes{4, 9000, 4, 1},
                           Sizes{30, 6000, 12, 2}, Sizes{280, 280, 10, 10}})
        ExpectSameAsReference(ResampleAverage, ReferenceAverage, z, rng);
}

TEST(DibResampleAverage, KeepsAUniformImageExactWhateverTheReduction)
{
    // Any window of a uniform image averages to its value exactly. 1200 →
    // 10: windows of about 120 x 120 source pixels, whose sums reach 3.7e10.
    // 280 → 10: windows of 29 x 29 pixels weighing up to 2800 x 2800, sums
    // up to 2.0e9, just inside 32 bits.
    for (const int side : {1200, 280}) {
        for (const uint8_t value : {uint8_t(1), uint8_t(77), uint8_t(128), uint8_t(201), uint8_t(254), uint8_t(255)}) {
            ImageHandle src = ImageHandle::NewDib(side, side, 24);
            for (int y = 0; y < side; ++y)
                std::memset(Pixel(src, 0, y), value, std::size_t(side) * 3);
            ImageHandle dst = CreateDib(10, 10, 3);
            ResampleAverage(dst, src);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(Pixel(dst, x, y)[c], value) << side << ": pixel " << x << "," << y;
        }
    }
}

struct BorderCase {
    const char* name;
    int srcLen, dstLen;
    int dstIndex;
    uint8_t want[3];  // blue, green, red
};

class DibAverageBorder : public testing::TestWithParam<BorderCase> {};

// Source pixels along the axis: 0 = (100, 10, 250), 1 = (40, 200, 10),
// 2 = (60, 60, 60), 3 = (20, 20, 20), the rest black.
ImageHandle BorderSource(int length, bool across)
{
    ImageHandle h = ImageHandle::NewDib(across ? length : 1, across ? 1 : length, 24);
    const uint8_t values[4][3] = {{100, 10, 250}, {40, 200, 10}, {60, 60, 60}, {20, 20, 20}};
    for (int i = 0; i < 4 && i < length; ++i)
        std::memcpy(Pixel(h, across ? i : 0, across ? 0 : i), values[i], 3);
    return h;
}

TEST_P(DibAverageBorder, WeighsTheEdgeAsComputedByHand)
{
    const BorderCase& c = GetParam();
    for (const bool across : {true, false}) {
        const ImageHandle src = BorderSource(c.srcLen, across);
        ImageHandle dst = CreateDib(across ? c.dstLen : 1, across ? 1 : c.dstLen, 3);
        ResampleAverage(dst, src);
        const uint8_t* p = Pixel(dst, across ? c.dstIndex : 0, across ? 0 : c.dstIndex);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(p[ch], c.want[ch]) << (across ? "columns" : "rows") << ", channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dib, DibAverageBorder,
    testing::Values(
        // 10 → 20, index 0: weights 75 and -25, sum 50:
        // (75 x 100 - 25 x 40) / 50 = 130, (750 - 5000) / 50 < 0 → 0,
        // (18750 - 250) / 50 = 370 → 255
        BorderCase{"EnlargeFirst", 10, 20, 0, {130, 0, 255}},
        // index 1: 25 and 25
        BorderCase{"EnlargeSecond", 10, 20, 1, {70, 105, 130}},
        // 20 → 10, index 0: weights 150 and 50, sum 200:
        // (15000 + 2000) / 200 = 85, (1500 + 10000) / 200 = 57.5 → 57,
        // (37500 + 500) / 200 = 190
        BorderCase{"ReduceFirst", 20, 10, 0, {85, 57, 190}},
        // index 1: 50, 100, 50 on pixels 1, 2, 3:
        // (2000 + 6000 + 1000) / 200 = 45, (10000 + 6000 + 1000) / 200 = 85,
        // (500 + 6000 + 1000) / 200 = 37.5 → 37
        BorderCase{"ReduceSecond", 20, 10, 1, {45, 85, 37}}),
    [](const testing::TestParamInfo<BorderCase>& info) { return std::string(info.param.name); });

TEST(DibResampleAverage, CopiesAnImageOfEqualSize)
{
    std::mt19937 rng(5);
    const ImageHandle src = Random24(7, 5, rng);  // 21 bytes a row: 3 of padding
    ImageHandle dst = Random24(7, 5, rng);
    ImageHandle before = Copy(dst);
    ResampleAverage(dst, src);
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(0, std::memcmp(Pixel(dst, 0, y), Pixel(src, 0, y), 21)) << "row " << y;
        EXPECT_EQ(0, std::memcmp(Pixel(dst, 7, y), Pixel(before, 7, y), 3)) << "padding of row " << y;
    }
}

TEST(DibResampleAverage, LeavesPixelsWhoseWindowWeighsNothing)
{
    // One pixel to 20: the windows of columns 11..19 lie right of the image.
    ImageHandle src = ImageHandle::NewDib(1, 1, 24);
    const uint8_t colour[3] = {9, 99, 199};
    std::memcpy(Pixel(src, 0, 0), colour, 3);
    ImageHandle dst = ImageHandle::NewDib(20, 1, 24);
    for (int x = 0; x < 20; ++x)
        std::memset(Pixel(dst, x, 0), 0x33, 3);
    ResampleAverage(dst, src);
    for (int x = 0; x < 20; ++x) {
        const uint8_t* p = Pixel(dst, x, 0);
        if (x <= 10)
            EXPECT_EQ(0, std::memcmp(p, colour, 3)) << "column " << x;
        else
            EXPECT_TRUE(p[0] == 0x33 && p[1] == 0x33 && p[2] == 0x33) << "column " << x;
    }
}

// ---------------------------------------------------------------- bilinear

TEST(DibResampleBilinear, InterpolatesAndCopiesAtTheLastRowAndColumn)
{
    // 2 x 2 → 3 x 3: rx = ry = 666. Columns and rows 0, 1, 2 fall on source
    // 0 (+0), 0 (+666) and 1 (+332), and 1 has no right or lower neighbour.
    ImageHandle src = ImageHandle::NewDib(2, 2, 24);
    const int values[2][2] = {{10, 0}, {200, 100}};  // [row][column]
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            std::memset(Pixel(src, x, y), values[y][x], 3);
    ImageHandle dst = CreateDib(3, 3, 3);
    ResampleBilinear(dst, src);
    const int want[3][3] = {
        {10, 4, 0},       // 10 + (-10 x 666) / 1000 = 10 - 6 (toward zero); column 2 copies
        {136, 90, 66},    // 10 + 190 x 666 / 1000; top 4, bottom 134 → 4 + 130 x 666 / 1000
        {200, 134, 100},  // last row: copy, interpolate across, copy
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Pixel(dst, x, y)[c], want[y][x]) << "pixel " << x << "," << y;
}

TEST(DibResampleBilinear, EqualsTheCaseByCaseFormulaForAllKindsOfSizes)
{
    std::mt19937 rng(13);
    for (const Sizes& z : SizePairs())
        ExpectSameAsReference(ResampleBilinear, ReferenceBilinear, z, rng);
}

// ---------------------------------------------------------------- refused blocks

struct RefusedCase {
    const char* name;
    bool sourceBad;
    int bitCount;      // of the bad block
    std::size_t trim;  // bytes cut from the end of the bad block
};

class DibResampleRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(DibResampleRefused, LeavesTheDestination)
{
    const RefusedCase& c = GetParam();
    std::mt19937 rng(17);
    auto make = [&](bool bad) {
        ImageHandle h = ImageHandle::NewDib(6, 4, bad ? c.bitCount : 24, bad && c.bitCount == 8 ? 256 : 0);
        if (bad && c.trim) {
            ImageHandle shorter = ImageHandle::Allocate(h.Size() - c.trim);
            std::memcpy(shorter.Data(), h.Data(), shorter.Size());
            h = std::move(shorter);
        }
        for (std::size_t i = 40; i < h.Size(); ++i)
            h.Data()[i] = uint8_t(rng());
        return h;
    };
    const ImageHandle src = make(c.sourceBad);
    ImageHandle dst = make(!c.sourceBad);
    const std::vector<uint8_t> before = Bytes(dst);
    ResampleAverage(dst, src);
    EXPECT_EQ(Bytes(dst), before);
    ResampleBilinear(dst, src);
    EXPECT_EQ(Bytes(dst), before);
}

INSTANTIATE_TEST_SUITE_P(Dib, DibResampleRefused,
                         testing::Values(RefusedCase{"IndexedSource", true, 8, 0},
                                         RefusedCase{"IndexedDestination", false, 8, 0},
                                         RefusedCase{"TruncatedSource", true, 24, 5},
                                         RefusedCase{"TruncatedDestination", false, 24, 5}),
                         [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(DibResampleRefused, NullBlocksAreIgnored)
{
    ImageHandle none;
    std::mt19937 rng(19);
    ImageHandle dst = Random24(3, 3, rng);
    const std::vector<uint8_t> before = Bytes(dst);
    ResampleAverage(dst, none);
    ResampleBilinear(dst, none);
    EXPECT_EQ(Bytes(dst), before);
    ResampleAverage(none, dst);
    ResampleBilinear(none, dst);
    EXPECT_TRUE(none.IsNull());
}

}  // namespace
