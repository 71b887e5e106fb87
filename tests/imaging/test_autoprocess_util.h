// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pictures and checks shared by the automatic-processing tests.

#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"

#include "test_imgkit_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace autotest {

using imgtest::MakeRgb;
using imgtest::RawAt;
using imgtest::Rgb;
using imgtest::RowOf;
using imgtest::SetRaw;

inline Settings Defaults()
{
    return DefaultSettings();
}

// Settings with the processing choices given and every other value default.
inline Settings With(int kMode, int resizeA = 0, int resizeT = 0, int autoMode = 0, int whiteMode = 0)
{
    Settings s = DefaultSettings();
    s.KMode = kMode;
    s.ResizeModeA = resizeA;
    s.ResizeModeT = resizeT;
    s.AutoMode = autoMode;
    s.WhiteMode = whiteMode;
    return s;
}

inline int WidthOf(const ImageHandle& h)
{
    return DibLayoutOf(h).width;
}
inline int HeightOf(const ImageHandle& h)
{
    return DibLayoutOf(h).height;
}

// A scanned page in miniature: off-white paper with a slight yellow tint
// and noise, a darker tinted band (a crease), black "text" strokes, a red
// stamp and a blue line. Every channel has its own histogram, so the
// corrections and the whitening all change it.
inline ImageHandle MakePage(int width, int height, uint32_t seed = 7)
{
    ImageHandle page = ImageHandle::NewDib(width, height, 24);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = RowOf(page, y);
        for (int x = 0; x < width; ++x) {
            const int noise = int(rng() % 9) - 4;
            int r = 232 + noise, g = 228 + noise, b = 205 + noise;  // tinted paper
            if ((x + 2 * y) % 97 < 9) {                               // crease
                r -= 20;
                g -= 22;
                b -= 18;
            }
            const bool textLine = (y / 6) % 4 == 1;
            if (textLine && (x * 7 + y * 3) % 11 < 4) {  // strokes
                r = 25 + noise;
                g = 22 + noise;
                b = 30 + noise;
            }
            if (x > width * 2 / 3 && y > height / 2 && y < height * 3 / 4 && (x + y) % 3 != 0) {  // stamp
                r = 200 + noise;
                g = 40;
                b = 45;
            }
            if (y == height / 5) {  // ruled line
                r = 40;
                g = 70;
                b = 190;
            }
            row[3 * x] = uint8_t(std::clamp(b, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(g, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(r, 0, 255));
        }
    }
    return page;
}

// Every byte of the block, header and padding included.
inline std::vector<uint8_t> Bytes(const ImageHandle& h)
{
    return std::vector<uint8_t>(h.Data(), h.Data() + h.Size());
}

// An exact copy of the block (ImgKitCopy would rebuild padding).
inline ImageHandle Clone(const ImageHandle& h)
{
    ImageHandle c = ImageHandle::Allocate(h.Size());
    std::memcpy(c.Data(), h.Data(), h.Size());
    return c;
}

// Fills the padding bytes of every row with `marker`.
inline void MarkPadding(ImageHandle& h, uint8_t marker)
{
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < l.height; ++y) {
        uint8_t* row = RowOf(h, y);
        for (int i = l.width * 3; i < l.stride; ++i)
            row[i] = marker;
    }
}

// True when every padding byte is `marker`.
inline ::testing::AssertionResult PaddingIs(const ImageHandle& h, uint8_t marker)
{
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < l.height; ++y) {
        const uint8_t* row = RowOf(h, y);
        for (int i = l.width * 3; i < l.stride; ++i)
            if (row[i] != marker)
                return ::testing::AssertionFailure() << "row " << y << " byte " << i << " is " << int(row[i]);
    }
    return ::testing::AssertionSuccess();
}

// The area-averaged copy of `source` at width x height (the high-quality path).
inline ImageHandle Averaged(const ImageHandle& source, int width, int height)
{
    ImageHandle out = CreateDib(width, height, 3);
    ResampleAverage(out, source);
    return out;
}

}  // namespace autotest
