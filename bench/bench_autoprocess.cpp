// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic processing of one scanned page: an A4 page at 300 dpi (2480 x
// 3508, 24-bit) in KMode 0 with high-quality scaling of page and thumbnail,
// colour balance and whitening, thumbnail included. Goal: under 60 ms.
// The stages are measured on their own too, on the 1023 x 1448 page image.

#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr int kSourceWidth = 2480;
constexpr int kSourceHeight = 3508;

// A scanned page: off-white paper with a slight yellow tint, noise and a
// faint shading from left to right; lines of dark "text" strokes with gaps
// between words and lines; a red stamp, a blue ruled line and a light grey
// crease.
ImageHandle ScannedPage()
{
    ImageHandle page = CreateDib(kSourceWidth, kSourceHeight, 3);
    const DibLayout l = DibLayoutOf(page);
    std::mt19937 rng(1);
    for (int y = 0; y < l.height; ++y) {
        // rows from the bottom: picture row
        const int py = l.height - 1 - y;
        uint8_t* row = page.Data() + l.bitsOffset + std::size_t(y) * l.stride;
        const bool textLine = py > 300 && py < 3200 && (py % 60) >= 20 && (py % 60) < 48;
        for (int x = 0; x < l.width; ++x) {
            const int noise = int(rng() % 11) - 5;
            const int shade = x / 160;  // 0..15
            int r = 238 - shade + noise, g = 233 - shade + noise, b = 214 - shade + noise;
            if (textLine && x > 250 && x < 2230 && (x / 40) % 7 != 6) {
                // strokes: thin verticals and horizontals inside each word cell
                const int cx = x % 40, cy = py % 60;
                if (cx % 13 < 3 || cy % 14 < 3) {
                    r = 30 + noise;
                    g = 28 + noise;
                    b = 35 + noise;
                }
            }
            if (x > 1700 && x < 2100 && py > 2900 && py < 3200 && (x + py) % 5 != 0) {  // stamp
                r = 205 + noise;
                g = 45 + noise;
                b = 50 + noise;
            }
            if (py >= 250 && py < 256 && x > 250 && x < 2230) {  // ruled line
                r = 40;
                g = 70;
                b = 185;
            }
            if (std::abs(x - py / 2 - 500) < 6) {  // crease
                r -= 25;
                g -= 25;
                b -= 22;
            }
            row[3 * x] = uint8_t(std::clamp(b, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(g, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(r, 0, 255));
        }
    }
    return page;
}

Settings PageSettings()
{
    Settings s = DefaultSettings();
    s.KMode = 0;
    s.ResizeModeA = 0;
    s.ResizeModeT = 0;
    s.AutoMode = 0;
    s.WhiteMode = 0;
    return s;
}

const ImageHandle& Page()
{
    static const ImageHandle page = ScannedPage();
    return page;
}

// The page image before correction: 1023 x 1448.
ImageHandle ScaledPage()
{
    ImageHandle scaled = CreateDib(1023, 1448, 3);
    ResampleAverage(scaled, Page());
    return scaled;
}

ImageHandle Duplicate(const ImageHandle& h)
{
    ImageHandle c = ImageHandle::Allocate(h.Size());
    std::memcpy(c.Data(), h.Data(), h.Size());
    return c;
}

void BM_AutoProcessImage(benchmark::State& state)
{
    ImageHandle acquired = Duplicate(Page());
    const Settings s = PageSettings();
    for (auto _ : state) {
        PageImages out = AutoProcessImage(acquired, s);  // KMode 0 never turns: `acquired` stays
        benchmark::DoNotOptimize(out.page.Data());
        benchmark::DoNotOptimize(out.thumbnail.Data());
    }
    state.SetLabel("2480x3508 -> 1023x1448 + 141x200");
}
BENCHMARK(BM_AutoProcessImage)->Unit(benchmark::kMillisecond);

// One stage on a fresh copy of the scaled page each time; the copy is not timed.
// The colour balance alone, and with the whitening in its pass, as a new
// page has them by default.
void ColourBalance(ImageHandle& image)
{
    AutoColorBalance(image);
}

void ColourBalanceAndWhitening(ImageHandle& image)
{
    AutoColorBalance(image, true);
}

template <void (*Stage)(ImageHandle&)>
void BM_Stage(benchmark::State& state)
{
    const ImageHandle scaled = ScaledPage();
    ImageHandle work = Duplicate(scaled);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.Data(), scaled.Data(), scaled.Size());
        state.ResumeTiming();
        Stage(work);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_TEMPLATE(BM_Stage, ColourBalance)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Stage, ColourBalanceAndWhitening)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Stage, AutoContrast)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Stage, WhiteningFilter)->Unit(benchmark::kMicrosecond);

// TMDIB::Levels on one channel and on all three, as the corrections call it.
void BM_Levels(benchmark::State& state)
{
    ImageHandle work = ScaledPage();
    const int channel = int(state.range(0));
    for (auto _ : state) {
        TMDIB dib(work);
        dib.Levels(10, 250, channel);  // nearly the identity: the bytes stay usable
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Levels)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Thumbnail(benchmark::State& state)
{
    const ImageHandle scaled = ScaledPage();
    ImageHandle thumb = CreateDib(141, 200, 3);
    for (auto _ : state) {
        ResampleAverage(thumb, scaled);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Thumbnail)->Unit(benchmark::kMicrosecond);

void BM_PageScaling(benchmark::State& state)
{
    for (auto _ : state) {
        ImageHandle scaled = CreateDib(1023, 1448, 3);
        ResampleAverage(scaled, Page());
        benchmark::DoNotOptimize(scaled.Data());
    }
}
BENCHMARK(BM_PageScaling)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
