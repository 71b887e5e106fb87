// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic corrections and the whitening filter, on pictures whose
// histograms are built by hand, plus a comparison with a plain per-pixel
// evaluation on random pictures of odd widths.

#include "test_autoprocess_util.h"

#include <cmath>
#include <string>
#include <tuple>

namespace {

using namespace autotest;

// --- Plain evaluations of the rules -----------------------------------------

// The level stretch of one byte: -low x d + d x v with d = 255 / (high - low),
// truncated toward zero and clamped.
int Stretch(int v, int low, int high)
{
    const double d = 255.0 / double(high - low);
    const double x = -double(low) * d + d * double(v);
    if (x <= 0.0)
        return 0;
    if (x >= 255.0)
        return 255;
    return int(x);
}

// Bounds by whole-number comparisons: S x 100 > T for the low bound and
// S x 100 > T x 99 for the high one, searched above the low one.
std::optional<LevelBounds> PlainBounds(const std::array<uint64_t, 256>& h)
{
    uint64_t t = 0;
    for (uint64_t c : h)
        t += c;
    uint64_t s = 0;
    int low = -1;
    for (int v = 0; v < 256; ++v) {
        s += h[v];
        if (low < 0) {
            if (s * 100 > t)
                low = v;
        } else if (s * 100 > t * 99) {
            return LevelBounds{low, v};
        }
    }
    return std::nullopt;
}

// One pixel's three bytes as stored: blue, green, red.
struct Bgr {
    int b, g, r;
};

// A picture of width x height, pixel i (row-major from the top left) taken
// from `pixels` (cycled when shorter).
ImageHandle Picture(int width, int height, const std::vector<Bgr>& pixels)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = RowOf(h, y);
        for (int x = 0; x < width; ++x, ++i) {
            const Bgr& p = pixels[i % pixels.size()];
            row[3 * x] = uint8_t(p.b);
            row[3 * x + 1] = uint8_t(p.g);
            row[3 * x + 2] = uint8_t(p.r);
        }
    }
    return h;
}

std::vector<Bgr> Repeat(int n, Bgr p)
{
    return std::vector<Bgr>(std::size_t(n), p);
}

std::vector<Bgr> operator+(std::vector<Bgr> a, const std::vector<Bgr>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bgr PixelAt(const ImageHandle& h, int x, int y)
{
    const uint8_t* p = RowOf(h, y) + 3 * x;
    return {p[0], p[1], p[2]};
}

// Every pixel of `after` is `map` of the same pixel of `before`.
template <typename Map>
::testing::AssertionResult EachPixel(const ImageHandle& before, const ImageHandle& after, Map map)
{
    const DibLayout l = DibLayoutOf(before);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            const Bgr in = PixelAt(before, x, y);
            const Bgr want = map(in);
            const Bgr got = PixelAt(after, x, y);
            if (want.b != got.b || want.g != got.g || want.r != got.r)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") b,g,r " << in.b << "," << in.g << "," << in.r << " gave "
                       << got.b << "," << got.g << "," << got.r << ", want " << want.b << "," << want.g << ","
                       << want.r;
        }
    return ::testing::AssertionSuccess();
}

// --- Bounds ----------------------------------------------------------------------

TEST(LevelBounds, ExactOnePercentAndNinetyNinePercentAreNotEnough)
{
    // T = 100: the bounds are S > 1 and S > 99.
    std::array<uint64_t, 256> h{};
    h[10] = 1;   // S = 1: exactly 1 per cent, not above it
    h[20] = 1;   // S = 2: low
    h[100] = 97; // S = 99: exactly 99 per cent, not above it
    h[200] = 1;  // S = 100: high
    EXPECT_EQ(FindLevelBounds(h), (LevelBounds{20, 200}));

    // One more count at either limit tips it.
    std::array<uint64_t, 256> lowTipped{};
    lowTipped[10] = 2;
    lowTipped[100] = 97;
    lowTipped[200] = 1;
    EXPECT_EQ(FindLevelBounds(lowTipped), (LevelBounds{10, 200}));
    std::array<uint64_t, 256> highTipped{};
    highTipped[10] = 1;
    highTipped[20] = 1;
    highTipped[100] = 98;
    EXPECT_EQ(FindLevelBounds(highTipped), (LevelBounds{20, 100}));
}

TEST(LevelBounds, FractionalLimits)
{
    // T = 150: low needs S > 1.5 (so 2), high S > 148.5 (so 149).
    std::array<uint64_t, 256> h{};
    h[5] = 1;
    h[6] = 1;
    h[50] = 146;
    h[60] = 1;
    h[70] = 1;
    EXPECT_EQ(FindLevelBounds(h), (LevelBounds{6, 60}));
}

TEST(LevelBounds, HighIsSearchedOnlyAboveLow)
{
    // All counts at one value: it is the low bound, and the high bound is
    // the next value although the sum already passed 99 per cent there.
    std::array<uint64_t, 256> h{};
    h[50] = 100;
    EXPECT_EQ(FindLevelBounds(h), (LevelBounds{50, 51}));
    std::array<uint64_t, 256> at254{};
    at254[254] = 7;
    EXPECT_EQ(FindLevelBounds(at254), (LevelBounds{254, 255}));
}

TEST(LevelBounds, NoneWhenLowIsAt255OrNothingCounted)
{
    std::array<uint64_t, 256> h{};
    EXPECT_EQ(FindLevelBounds(h), std::nullopt);  // empty
    h[255] = 100;
    EXPECT_EQ(FindLevelBounds(h), std::nullopt);  // all white
    h[255] = 99;
    h[3] = 1;                                     // 1 per cent below 255: still none
    EXPECT_EQ(FindLevelBounds(h), std::nullopt);
    h[255] = 98;
    h[3] = 2;                                     // 2 per cent: low 3, high 255
    EXPECT_EQ(FindLevelBounds(h), (LevelBounds{3, 255}));
}

TEST(LevelBounds, CountsBeyondThirtyTwoBits)
{
    std::array<uint64_t, 256> h{};
    h[0] = 100'000'000'000ULL;   // 1 per cent exactly
    h[1] = 1;
    h[128] = 9'799'999'999'999ULL;
    h[129] = 100'000'000'000ULL;
    const uint64_t t = h[0] + h[1] + h[128] + h[129];
    ASSERT_EQ(t, 10'000'000'000'000ULL);
    // S at 128 = 9'900'000'000'000, exactly 99 per cent.
    EXPECT_EQ(FindLevelBounds(h), (LevelBounds{1, 129}));
}

TEST(LevelBounds, AgreeWithWholeNumberComparisons)
{
    std::mt19937 rng(42);
    for (int round = 0; round < 2000; ++round) {
        std::array<uint64_t, 256> h{};
        const int spots = 1 + int(rng() % 6);
        for (int i = 0; i < spots; ++i)
            h[rng() % 256] += 1 + rng() % (round % 2 ? 5 : 5000);
        if (round % 3 == 0)
            h[255] += rng() % 100000;
        EXPECT_EQ(FindLevelBounds(h), PlainBounds(h)) << "round " << round;
    }
}

// --- AutoContrast ------------------------------------------------------------------

TEST(AutoContrast, GreyIsTheTruncatedMeanOfTheThreeBytes)
{
    // 100 pixels. Grey values (truncated): 10, 21, 97 x 100, 230. Rounded
    // means would be 11, 22, 101 and 231; green alone 10, 22, 101, 231.
    const ImageHandle before = Picture(10, 10,
                                       std::vector<Bgr>{{9, 10, 12}, {21, 22, 22}} + Repeat(97, {100, 101, 101})
                                           + std::vector<Bgr>{{230, 231, 231}});
    ImageHandle after = Clone(before);
    AutoContrast(after);
    // low 21 (S = 2), high 230 (S = 100; at 100 S = 99 is not enough)
    EXPECT_TRUE(EachPixel(before, after, [](Bgr p) {
        return Bgr{Stretch(p.b, 21, 230), Stretch(p.g, 21, 230), Stretch(p.r, 21, 230)};
    }));
    EXPECT_EQ(PixelAt(after, 0, 0).b, 0);        // below low → 0
    EXPECT_EQ(PixelAt(after, 9, 9).r, 255);      // above high → 255
    EXPECT_EQ(PixelAt(after, 5, 5).g, 97);       // 101: (101 - 21) x 255 / 209 = 97.6
}

TEST(AutoContrast, HighBoundAboveLowEvenWhenAllPixelsShareOneGrey)
{
    // 1 per cent black, 99 per cent grey 50: low 50, high 51, so grey 50
    // stretches to 0.
    const ImageHandle before = Picture(10, 10, std::vector<Bgr>{{0, 0, 0}} + Repeat(99, {50, 50, 50}));
    ImageHandle after = Clone(before);
    AutoContrast(after);
    EXPECT_TRUE(EachPixel(before, after, [](Bgr) { return Bgr{0, 0, 0}; }));

    // A grey of (49, 50, 51) is still 50; its bytes spread 0, 0, 255.
    const ImageHandle mixed = Picture(10, 10, std::vector<Bgr>{{0, 0, 0}} + Repeat(99, {49, 50, 51}));
    ImageHandle out = Clone(mixed);
    AutoContrast(out);
    EXPECT_EQ(PixelAt(out, 3, 3).b, 0);
    EXPECT_EQ(PixelAt(out, 3, 3).g, 0);
    EXPECT_EQ(PixelAt(out, 3, 3).r, 255);
}

TEST(AutoContrast, WhitePagesStayAsTheyAre)
{
    // All white, and 1 per cent black on white: the low bound is 255.
    for (const auto& pixels :
         {Repeat(100, {255, 255, 255}), std::vector<Bgr>{{0, 0, 0}} + Repeat(99, {255, 255, 255})}) {
        const ImageHandle before = Picture(10, 10, pixels);
        ImageHandle after = Clone(before);
        AutoContrast(after);
        EXPECT_EQ(Bytes(after), Bytes(before));
    }
    {
        // Nearly white in every byte, but grey (255 + 254 + 255) / 3 = 254:
        // low 254, high 255, so 254 → 0.
        const ImageHandle before = Picture(10, 10, Repeat(100, {255, 254, 255}));
        ImageHandle after = Clone(before);
        AutoContrast(after);
        EXPECT_TRUE(EachPixel(before, after, [](Bgr) { return Bgr{255, 0, 255}; }));
    }
    // 2 per cent below white is enough for a stretch.
    const ImageHandle before = Picture(10, 10, Repeat(2, {100, 100, 100}) + Repeat(98, {255, 255, 255}));
    ImageHandle after = Clone(before);
    AutoContrast(after);
    EXPECT_EQ(PixelAt(after, 0, 0).g, 0);
    EXPECT_EQ(PixelAt(after, 5, 5).g, 255);
}

// --- AutoColorBalance --------------------------------------------------------------

TEST(AutoColorBalance, EachChannelHasItsOwnBounds)
{
    // 100 pixels. Blue (first byte): 5 x 10, 95 x 60 → 10..60. Green (second):
    // 2 x 40, 97 x 120, 1 x 200 → 40..200. Red (third): 5 x 90, 95 x 140 →
    // 90..140.
    std::vector<Bgr> pixels;
    for (int i = 0; i < 100; ++i)
        pixels.push_back({i < 5 ? 10 : 60, i < 2 ? 40 : i < 99 ? 120 : 200, i % 50 < 2 || i == 77 ? 90 : 140});
    const ImageHandle before = Picture(10, 10, pixels);
    ImageHandle after = Clone(before);
    AutoColorBalance(after);
    EXPECT_TRUE(EachPixel(before, after, [](Bgr p) {
        return Bgr{Stretch(p.b, 10, 60), Stretch(p.g, 40, 200), Stretch(p.r, 90, 140)};
    }));
}

TEST(AutoColorBalance, WhiteChannelStaysOthersStretch)
{
    // Red all 255 (no bounds) stays; green and blue stretch.
    std::vector<Bgr> pixels;
    for (int i = 0; i < 100; ++i)
        pixels.push_back({i < 3 ? 30 : 200, i < 4 ? 100 : 180, 255});
    const ImageHandle before = Picture(10, 10, pixels);
    ImageHandle after = Clone(before);
    AutoColorBalance(after);
    EXPECT_TRUE(EachPixel(before, after, [](Bgr p) {
        return Bgr{Stretch(p.b, 30, 200), Stretch(p.g, 100, 180), p.r};
    }));

    // Blue nearly all white (1 per cent below): blue stays, red stretches.
    pixels.clear();
    for (int i = 0; i < 100; ++i)
        pixels.push_back({i == 0 ? 17 : 255, 128, i < 10 ? 60 : 160});
    const ImageHandle b2 = Picture(10, 10, pixels);
    ImageHandle a2 = Clone(b2);
    AutoColorBalance(a2);
    // green: one value, low 128 high 129 → 128 becomes 0
    EXPECT_TRUE(EachPixel(b2, a2, [](Bgr p) { return Bgr{p.b, 0, Stretch(p.r, 60, 160)}; }));

    // All three white: nothing changes.
    const ImageHandle white = Picture(9, 7, Repeat(1, {255, 255, 255}));
    ImageHandle w2 = Clone(white);
    AutoColorBalance(w2);
    EXPECT_EQ(Bytes(w2), Bytes(white));
}

// --- Whitening ------------------------------------------------------------------------

// The filter's rules, one by one, on one pixel given as (R, G, B).
Bgr WhitenedRule(Bgr p)
{
    if (p.r >= 240 && p.g >= 240 && p.b >= 240)
        return {255, 255, 255};
    if (p.r >= 210 && p.g >= 210 && p.b >= 210) {
        auto spread = [](int v) { return std::min(255, (v - 210) * 1500 / 1000 + 210); };
        return {spread(p.b), spread(p.g), spread(p.r)};
    }
    return p;
}

TEST(Whitening, ExamplePixels)
{
    // (R, G, B) = (241, 250, 245), (220, 230, 250), (200, 250, 250)
    const ImageHandle before = Picture(3, 1, {{245, 250, 241}, {250, 230, 220}, {250, 250, 200}});
    ImageHandle after = Clone(before);
    WhiteningFilter(after);
    const Bgr a = PixelAt(after, 0, 0), b = PixelAt(after, 1, 0), c = PixelAt(after, 2, 0);
    EXPECT_EQ(std::tie(a.r, a.g, a.b), std::make_tuple(255, 255, 255));
    EXPECT_EQ(std::tie(b.r, b.g, b.b), std::make_tuple(225, 240, 255));
    EXPECT_EQ(std::tie(c.r, c.g, c.b), std::make_tuple(200, 250, 250));
}

TEST(Whitening, EveryCombinationFrom200Up)
{
    // 56 x 56 x 56 pixels: every triple of values 200..255.
    std::vector<Bgr> pixels;
    for (int r = 200; r < 256; ++r)
        for (int g = 200; g < 256; ++g)
            for (int b = 200; b < 256; ++b)
                pixels.push_back({b, g, r});
    const ImageHandle before = Picture(56 * 56, 56, pixels);
    ImageHandle after = Clone(before);
    WhiteningFilter(after);
    EXPECT_TRUE(EachPixel(before, after, WhitenedRule));
}

TEST(Whitening, LowValuesStay)
{
    std::vector<Bgr> pixels;
    std::mt19937 rng(9);
    for (int i = 0; i < 5000; ++i)
        pixels.push_back({int(rng() % 256), int(rng() % 256), int(rng() % 210)});
    const ImageHandle before = Picture(50, 100, pixels);
    ImageHandle after = Clone(before);
    WhiteningFilter(after);
    EXPECT_EQ(Bytes(after), Bytes(before));
}

// --- Padding and depths ---------------------------------------------------------------

TEST(Corrections, RowPaddingIsNeitherReadNorWritten)
{
    // Width 7: 21 bytes of pixels, 3 of padding per row. Marked padding
    // would count as one extra pixel (224, 224, 224) per row: 20 of 160,
    // enough to move every high bound from 100 to 224, and whitening would
    // turn it into (231, 231, 231).
    const ImageHandle clean = Picture(7, 20, Repeat(10, {20, 20, 20}) + Repeat(130, {100, 100, 100}));
    ASSERT_EQ(DibLayoutOf(clean).stride, 24);
    for (int which = 0; which < 3; ++which) {
        ImageHandle marked = Clone(clean);
        MarkPadding(marked, 0xE0);
        if (which == 0)
            AutoContrast(marked);
        else if (which == 1)
            AutoColorBalance(marked);
        else
            WhiteningFilter(marked);
        EXPECT_TRUE(PaddingIs(marked, 0xE0)) << which;
        if (which < 2) {
            // low 20, high 100: 100 → 255, 20 → 0
            EXPECT_TRUE(EachPixel(clean, marked, [](Bgr p) {
                const int v = p.g == 100 ? 255 : 0;
                return Bgr{v, v, v};
            })) << which;
        } else {
            EXPECT_TRUE(EachPixel(clean, marked, WhitenedRule));
        }
    }
    // Whitening of a bright picture: padding stays, pixels whiten.
    ImageHandle bright = Picture(5, 3, Repeat(1, {225, 235, 215}));
    MarkPadding(bright, 0xE0);
    WhiteningFilter(bright);
    EXPECT_TRUE(PaddingIs(bright, 0xE0));
    EXPECT_EQ(PixelAt(bright, 4, 2).b, 232);
}

TEST(Corrections, OtherDepthsAreLeftAlone)
{
    for (imgtest::Kind kind : {imgtest::Kind::Bilevel, imgtest::Kind::Palette4, imgtest::Kind::Palette8,
                               imgtest::Kind::Grey8}) {
        ImageHandle image = imgtest::MakeImage(kind, 33, 17);
        const std::vector<uint8_t> before = Bytes(image);
        AutoContrast(image);
        AutoColorBalance(image);
        WhiteningFilter(image);
        EXPECT_EQ(Bytes(image), before) << imgtest::NameOf(kind);
    }
    ImageHandle none;
    AutoContrast(none);
    AutoColorBalance(none);
    WhiteningFilter(none);
    EXPECT_FALSE(none);
}

// --- Random pictures against the plain rules ------------------------------------

// The whole of AutoContrast and AutoColorBalance evaluated plainly: the
// histograms over the pixels, bounds by whole numbers, the stretch by byte.
void PlainContrast(const ImageHandle& in, ImageHandle& out)
{
    const DibLayout l = DibLayoutOf(in);
    std::array<uint64_t, 256> h{};
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            const Bgr p = PixelAt(in, x, y);
            ++h[(p.b + p.g + p.r) / 3];
        }
    const auto b = PlainBounds(h);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            uint8_t* q = RowOf(out, y) + 3 * x;
            for (int c = 0; c < 3; ++c)
                q[c] = uint8_t(b ? Stretch(q[c], b->low, b->high) : q[c]);
        }
}

void PlainBalance(const ImageHandle& in, ImageHandle& out)
{
    const DibLayout l = DibLayoutOf(in);
    std::array<uint64_t, 256> h[3]{};
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            for (int c = 0; c < 3; ++c)
                ++h[c][RowOf(in, y)[3 * x + c]];
    for (int c = 0; c < 3; ++c) {
        const auto b = PlainBounds(h[c]);
        for (int y = 0; y < l.height; ++y)
            for (int x = 0; x < l.width; ++x) {
                uint8_t* q = RowOf(out, y) + 3 * x + c;
                *q = uint8_t(b ? Stretch(*q, b->low, b->high) : *q);
            }
    }
}

TEST(Corrections, RandomPicturesMatchThePlainRules)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + int(rng() % 37), h = 1 + int(rng() % 23);
        // Narrow value ranges make the bounds fall on the percent limits.
        const int base = round % 3 == 0 ? 200 + int(rng() % 40) : int(rng() % 200);
        const int span = 1 + int(rng() % (round % 3 == 0 ? 16 : 56));
        ImageHandle picture = ImageHandle::NewDib(w, h, 24);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < w * 3; ++i)
                RowOf(picture, y)[i] = uint8_t(base + int(rng() % span));
        MarkPadding(picture, uint8_t(rng()));
        const std::string where = "round " + std::to_string(round) + " " + std::to_string(w) + "x" + std::to_string(h);

        ImageHandle contrast = Clone(picture), plainContrast = Clone(picture);
        AutoContrast(contrast);
        PlainContrast(picture, plainContrast);
        EXPECT_EQ(Bytes(contrast), Bytes(plainContrast)) << where;

        ImageHandle balance = Clone(picture), plainBalance = Clone(picture);
        AutoColorBalance(balance);
        PlainBalance(picture, plainBalance);
        EXPECT_EQ(Bytes(balance), Bytes(plainBalance)) << where;

        ImageHandle white = Clone(picture);
        WhiteningFilter(white);
        EXPECT_TRUE(EachPixel(picture, white, WhitenedRule)) << where;
        EXPECT_EQ(std::vector<uint8_t>(white.Data(), white.Data() + 40),
                  std::vector<uint8_t>(picture.Data(), picture.Data() + 40));

        // Balance and whitening in one pass: the two one after the other.
        ImageHandle both = Clone(picture);
        AutoColorBalance(both, true);
        WhiteningFilter(plainBalance);
        EXPECT_EQ(Bytes(both), Bytes(plainBalance)) << where;
    }
}

}  // namespace
