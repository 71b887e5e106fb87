// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/AutoProcess.h"

#include "core/Decimal.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/RowBands.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

// Layout of a well-formed 24-bit block, or an invalid layout.
DibLayout Layout24(const ImageHandle& image)
{
    DibLayout l = DibLayoutOf(image);
    if (l.valid && l.bitCount != 24)
        l.valid = false;
    return l;
}

// A side scaled by a double factor, never below one pixel.
int ScaledSide(int side, double scale)
{
    return std::max(1, ScaleSide(side, scale));
}

// The thumbnail of `source` for an image of W x H (steps 9 and 10).
ImageHandle ThumbnailFrom(const ImageHandle& source, int width, int height, const Settings& s)
{
    double t = std::min(double(kThumbnailWidth) / double(width), double(kThumbnailHeight) / double(height));
    if (t > 1.0)
        t = 1.0;
    const int tw = ScaledSide(width, t);
    const int th = ScaledSide(height, t);

    if (s.ResizeModeT == 1) {
        // The library keeps the source and gives a new block each time, so
        // the copy is released when this function ends and only the scaled
        // image leaves it.
        const ImageHandle copy = ImgKitCopy(source);
        if (!copy)
            return {};
        return ImgKitImageSize(copy, tw, th);
    }
    ImageHandle thumbnail = CreateDib(tw, th, 3);
    if (thumbnail)
        ResampleAverage(thumbnail, source);
    return thumbnail;
}

// Row y in memory order (0 = bottom row) of a block with layout l.
inline uint8_t* RowAt(ImageHandle& image, const DibLayout& l, int y)
{
    return image.Data() + l.bitsOffset + std::size_t(y) * std::size_t(l.stride);
}

// grey = (b + g + r) / 3, truncated, for every sum 0..765.
struct GreyTable {
    uint8_t v[766];
    constexpr GreyTable() : v()
    {
        for (int i = 0; i < 766; ++i)
            v[i] = uint8_t(i / 3);
    }
};
constexpr GreyTable kGrey;

// Each byte of a pixel whose bytes are all >= 210: (v - 210) x 1500 / 1000 +
// 210, at most 255. For v >= 240 this is 255, so the table also gives the
// filter's first rule (all three >= 240 → white): a pixel passes the
// 210-test whenever it passes the 240-test, and then every byte maps to 255.
struct SpreadTable {
    uint8_t v[256];
    constexpr SpreadTable() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = i < 210 ? uint8_t(i) : uint8_t(std::min(255, (i - 210) * 1500 / 1000 + 210));
    }
};
constexpr SpreadTable kSpread;

// Two sets of counters, alternating between neighbouring pixels, keep runs
// of one value (white paper) from waiting on the previous increment of the
// same counter; they are added at the end.
using Counters = std::array<uint32_t, 256>;

using Histogram = std::array<uint64_t, 256>;

std::size_t BlockBytes(const DibLayout& l)
{
    return std::size_t(l.stride) * std::size_t(l.height);
}

// N histograms of every pixel of a well-formed 24-bit block: count(p, c)
// adds pixel p to the counters c[0..N-1]. Each band of rows counts into
// counters of its own, which are then added up: sums do not depend on how
// the rows were shared out. A band's 32-bit counters hold any band, as a
// block has fewer than 2^32 pixels.
template <int N, typename Count>
std::array<Histogram, N> BandHistograms(ImageHandle& image, const DibLayout& l, Count count)
{
    std::array<Histogram, N> total{};
    std::mutex totalMutex;
    ForRowBands(l.height, BlockBytes(l), [&](int first, int last) {
        Counters a[N]{}, b[N]{};
        for (int y = first; y < last; ++y) {
            const uint8_t* p = RowAt(image, l, y);
            int x = 0;
            for (; x + 1 < l.width; x += 2, p += 6) {
                count(p, a);
                count(p + 3, b);
            }
            if (x < l.width)
                count(p, a);
        }
        const std::lock_guard<std::mutex> lock(totalMutex);
        for (int n = 0; n < N; ++n)
            for (int i = 0; i < 256; ++i)
                total[n][i] += uint64_t(a[n][i]) + b[n][i];
    });
    return total;
}

}  // namespace

TargetBox TargetBoxFor(const Settings& s)
{
    switch (s.KMode) {
    case 1: return {1024, 768, true};
    case 2: return {800, 600, false};
    case 3: return {800, 600, true};
    case 4: return {1240, 1024, false};
    case 5: return {1240, 1024, true};
    case 6: return {std::max(1, int(s.KFX)), std::max(1, int(s.KFY)), false};
    case 7: return {std::max(1, int(s.KFX)), std::max(1, int(s.KFY)), true};
    default: return {1024, 768, false};  // 0, and any value the dialog never offers
    }
}

PageSize PageSizeFor(int width, int height, const Settings& s)
{
    const TargetBox box = TargetBoxFor(s);
    PageSize size;
    // Tall pages lie down when the whole box is to be filled and they would
    // not fit its height standing.
    if (box.wholeBox && height > width && height > box.height) {
        size.turned = true;
        std::swap(width, height);
    }
    double scale = double(box.width) / double(width);
    if (box.wholeBox)
        scale = std::min(scale, double(box.height) / double(height));
    if (scale > 1.0)
        scale = 1.0;  // never enlarged
    size.width = ScaledSide(width, scale);
    size.height = ScaledSide(height, scale);
    return size;
}

ProcessedPage AutoProcessPage(ImageHandle& acquired, const Settings& s)
{
    const DibLayout l = Layout24(acquired);
    if (!l.valid)
        return {};
    const PageSize size = PageSizeFor(l.width, l.height, s);
    int width = l.width;
    int height = l.height;
    if (size.turned) {
        if (!ReplaceImage(acquired, ImgKitRotation(acquired, kImgKitRotateLeft)))
            return {};
        std::swap(width, height);
    }
    const int w = size.width;
    const int h = size.height;

    ImageHandle page;
    if (s.ResizeModeA == 1) {
        page = ImgKitImageSize(acquired, w, h);
    } else {
        page = CreateDib(w, h, 3);
        if (page)
            ResampleAverage(page, acquired);
    }
    if (!page)
        return {};

    const bool whiten = s.WhiteMode == 0;
    if (s.AutoMode == 0) {
        AutoColorBalance(page, whiten);
    } else {
        if (s.AutoMode == 1)
            AutoContrast(page);
        if (whiten)
            WhiteningFilter(page);
    }
    return {std::move(page), width, height};
}

ImageHandle ThumbnailOf(const ProcessedPage& processed, const Settings& s)
{
    // The thumbnail shows the corrected page but takes its size from the
    // (turned) acquired image.
    if (!processed.page)
        return {};
    return ThumbnailFrom(processed.page, processed.width, processed.height, s);
}

PageImages AutoProcessImage(ImageHandle& acquired, const Settings& s)
{
    ProcessedPage processed = AutoProcessPage(acquired, s);
    ImageHandle thumbnail = ThumbnailOf(processed, s);
    if (!thumbnail)
        return {};
    return {std::move(processed.page), std::move(thumbnail)};
}

PageImages FinishEditedImage(const ImageHandle& edited, const Settings& s)
{
    const DibLayout l = Layout24(edited);
    if (!l.valid)
        return {};
    ImageHandle page = ImgKitCopy(edited);
    if (!page)
        return {};
    ImageHandle thumbnail = ThumbnailFrom(page, l.width, l.height, s);
    if (!thumbnail)
        return {};
    return {std::move(page), std::move(thumbnail)};
}

ImageHandle MakeThumbnail(const ImageHandle& image, const Settings& s)
{
    const DibLayout l = Layout24(image);
    if (!l.valid)
        return {};
    return ThumbnailFrom(image, l.width, l.height, s);
}

std::optional<LevelBounds> FindLevelBounds(const std::array<uint64_t, 256>& histogram)
{
    uint64_t total = 0;
    for (uint64_t count : histogram)
        total += count;
    const double lowLimit = double(total) * 0.01;
    const double highLimit = double(total * 99) * 0.01;

    uint64_t running = 0;
    int v = 0;
    for (; v < 256; ++v) {
        running += histogram[v];
        if (double(running) > lowLimit)
            break;
    }
    // No low bound (an empty histogram), or low at 255: nothing above it to
    // serve as the high bound.
    if (v >= 255)
        return std::nullopt;
    const int low = v;
    for (++v; v < 256; ++v) {
        running += histogram[v];
        if (double(running) > highLimit)
            return LevelBounds{low, v};
    }
    return std::nullopt;  // not reached: at 255 the running sum is the total
}

void AutoContrast(ImageHandle& image)
{
    const DibLayout l = Layout24(image);
    if (!l.valid)
        return;
    const std::array<uint64_t, 256> histogram = BandHistograms<1>(image, l, [](const uint8_t* p, Counters* c) {
        ++c[0][kGrey.v[p[0] + p[1] + p[2]]];
    })[0];
    const std::optional<LevelBounds> bounds = FindLevelBounds(histogram);
    if (!bounds)
        return;
    TMDIB dib(image);
    dib.Levels(bounds->low, bounds->high, 0);
}

namespace {

// A pixel of the whitening filter, blue, green, red.
inline void Whiten(uint8_t* p)
{
    if (p[0] >= 210 && p[1] >= 210 && p[2] >= 210) {
        p[0] = kSpread.v[p[0]];
        p[1] = kSpread.v[p[1]];
        p[2] = kSpread.v[p[2]];
    }
}

}  // namespace

void AutoColorBalance(ImageHandle& image, bool thenWhiten)
{
    const DibLayout l = Layout24(image);
    if (!l.valid)
        return;
    // Histograms per byte of the pixel: [0] blue, [1] green, [2] red.
    const auto h = BandHistograms<3>(image, l, [](const uint8_t* p, Counters* c) {
        ++c[0][p[0]];
        ++c[1][p[1]];
        ++c[2][p[2]];
    });
    // Each channel's stretch as TMDIB::Levels makes it (one table per byte
    // of the pixel; a channel without bounds keeps its bytes), all three in
    // one pass: a channel's table reads only that channel's bytes, so the
    // order Levels would go in makes no difference.
    uint8_t tables[3][256];
    bool any = false;
    for (int c = 0; c < 3; ++c) {
        const std::optional<LevelBounds> bounds = FindLevelBounds(h[c]);
        const bool stretched = bounds && TMDIB::LevelsTable(bounds->low, bounds->high, tables[c]);
        if (!stretched)
            for (int v = 0; v < 256; ++v)
                tables[c][v] = uint8_t(v);
        any = any || stretched;
    }
    if (!any && !thenWhiten)
        return;
    ForRowBands(l.height, BlockBytes(l), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* p = RowAt(image, l, y);
            for (int x = 0; x < l.width; ++x, p += 3) {
                p[0] = tables[0][p[0]];
                p[1] = tables[1][p[1]];
                p[2] = tables[2][p[2]];
                if (thenWhiten)
                    Whiten(p);
            }
        }
    });
}

void WhiteningFilter(ImageHandle& image)
{
    const DibLayout l = Layout24(image);
    if (!l.valid)
        return;
    ForRowBands(l.height, BlockBytes(l), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* p = RowAt(image, l, y);
            for (int x = 0; x < l.width; ++x, p += 3)
                Whiten(p);
        }
    });
}
