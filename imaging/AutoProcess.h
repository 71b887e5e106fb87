// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Automatic image processing: from an acquired 24-bit image to the two images
// a page stores, the page image (sized for full-screen display) and the
// 160 x 200 thumbnail; the thumbnail of an edited or copied page; and the
// automatic corrections and the whitening filter ("まっしろけ"), which the
// editor offers as tools too.
//
// Plain values in and out, no widgets. Every image given is a new block
// owned by the caller. A failed step (a library call that gives no image, an
// input that is not a well-formed 24-bit image) gives null handles in the
// result, never half of it; the caller reports.
//
// Settings read: KMode, KFX, KFY, ResizeModeA, ResizeModeT, AutoMode and
// WhiteMode. Values outside the choices the options dialog offers act as:
//   KMode outside 0..7         → 0 (width 1024, the default);
//   KFX / KFY below 1 (KMode 6, 7) → 1 pixel;
//   ResizeModeA / ResizeModeT other than 1 → 0 (high quality, the default);
//   AutoMode other than 0, 1   → no correction (as 2);
//   WhiteMode other than 0     → no whitening (as 1).
// No side of a page image or thumbnail is ever below 1 pixel: a side that
// scaling would bring to 0 (an extremely thin image, or a 1-pixel box) is
// made 1.

#include "core/Settings.h"
#include "imaging/ImageHandle.h"

#include <array>
#include <cstdint>
#include <optional>

struct PageImages {
    ImageHandle page;
    ImageHandle thumbnail;
};

// The target box of KMode (Wt x Ht) and its fitting: wholeBox (odd KMode)
// fits the whole box and turns tall pages; otherwise only the width counts.
//   0: 1024 x 768 width    1: 1024 x 768 whole box
//   2:  800 x 600 width    3:  800 x 600 whole box
//   4: 1240 x 1024 width   5: 1240 x 1024 whole box
//   6:  KFX x KFY width    7:  KFX x KFY whole box
// Both sides are at least 1 (see above).
struct TargetBox {
    int width;
    int height;
    bool wholeBox;
};
TargetBox TargetBoxFor(const Settings& s);

// The thumbnail box, whatever the settings.
inline constexpr int kThumbnailWidth = 160;
inline constexpr int kThumbnailHeight = 200;

// The page image and thumbnail of an acquired 24-bit image:
//  1. W x H of the acquired image; the box of KMode.
//  2. Odd KMode and H > W and H > Ht: the image is turned 90 degrees
//     anticlockwise; `acquired` then holds the turned image (the old block is
//     released at once) and W, H swap.
//  3. s = Wt / W (width fitting) or min(Wt / W, Ht / H) (whole box), at most
//     1; page size ScaleSide(W, s) x ScaleSide(H, s).
//  4. Page image: ResizeModeA 0 CreateDib + ResampleAverage, 1 ImgKitImageSize.
//  5. AutoMode 0 AutoColorBalance, 1 AutoContrast; WhiteMode 0 WhiteningFilter.
//  6. Thumbnail of the page image sized from W x H (MakeThumbnail's rule).
// On failure both handles are null; `acquired` is then either as it was or,
// when the turn succeeded and a later step failed, the turned image.
PageImages AutoProcessImage(ImageHandle& acquired, const Settings& s);

// Steps 2 and 3 alone: the page image's size for an acquired W x H image,
// and whether it is turned first.
struct PageSize {
    int width = 0;
    int height = 0;
    bool turned = false;
};
PageSize PageSizeFor(int width, int height, const Settings& s);

// Steps 1 to 5 alone: the corrected page image (null on failure), with the
// W x H of step 2 that the thumbnail takes its size from; and step 6 on it.
// AutoProcessImage is the one after the other; a caller may encode the page
// while ThumbnailOf runs.
struct ProcessedPage {
    ImageHandle page;
    int width = 0;
    int height = 0;
};
ProcessedPage AutoProcessPage(ImageHandle& acquired, const Settings& s);
ImageHandle ThumbnailOf(const ProcessedPage& processed, const Settings& s);

// After manual editing: the page image is an unchanged copy (ImgKitCopy) of
// the edited image, and the thumbnail is made from that copy, sized from the
// edited image.
PageImages FinishEditedImage(const ImageHandle& edited, const Settings& s);

// A thumbnail of a 24-bit image: t = min(160 / W, 200 / H), at most 1; size
// ScaleSide(W, t) x ScaleSide(H, t); ResizeModeT 0 CreateDib +
// ResampleAverage, 1 ImgKitCopy then ImgKitImageSize of the copy. Null on
// failure.
ImageHandle MakeThumbnail(const ImageHandle& image, const Settings& s);

// The stretch bounds of one 256-value histogram. With T the sum of the
// counters and S the running sum from value 0 up: low is the first value
// where S > T x 0.01, high the first value above low where
// S > (T x 99) x 0.01, both tests in double precision. None when low is 255
// (at most 1 per cent of the counts lie below 255, so no value above low
// exists) or the histogram is empty.
struct LevelBounds {
    int low;
    int high;
    friend bool operator==(const LevelBounds&, const LevelBounds&) = default;
};
std::optional<LevelBounds> FindLevelBounds(const std::array<uint64_t, 256>& histogram);

// Brightness and contrast, in place: one histogram of grey = (B + G + R) / 3
// (truncated) over every pixel, bounds by FindLevelBounds, then
// TMDIB::Levels(low, high, 0). Without bounds the image stays as it is.
// Does nothing to an image that is not well-formed 24-bit.
void AutoContrast(ImageHandle& image);

// Brightness, contrast and colour balance, in place: the histograms of red,
// green and blue are all built first; then each channel with bounds is
// stretched with TMDIB::Levels, red (1), green (2), blue (3) in that order.
// A channel without bounds (nearly all 255) stays as it is. Does nothing to
// an image that is not well-formed 24-bit. With `thenWhiten`, each pixel
// then goes through WhiteningFilter in the same pass over the image.
void AutoColorBalance(ImageHandle& image, bool thenWhiten = false);

// The whitening filter, in place, integer arithmetic: a pixel whose three
// bytes are all >= 240 becomes white; else one whose bytes are all >= 210
// has each byte v become min(255, (v - 210) x 1500 / 1000 + 210); any other
// pixel stays. Does nothing to an image that is not well-formed 24-bit.
void WhiteningFilter(ImageHandle& image);
