// SPDX-License-Identifier: GPL-3.0-or-later
// The resamplers on the page that automatic processing scales most: an A4
// scan at 300 dpi (2480 x 3508, 24-bit) fitted to 1024 pixels of width,
// which gives 1023 x 1448. Goal for ResampleAverage: 30 ms on one core.

#include "imaging/Dib.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

constexpr int kSourceWidth = 2480;
constexpr int kSourceHeight = 3508;
constexpr int kPageWidth = 1023;
constexpr int kPageHeight = 1448;

// A scanned page is mostly smooth paper with print on it: a gentle gradient
// with noise, so that no pixel value is special.
ImageHandle ScannedPage()
{
    ImageHandle page = CreateDib(kSourceWidth, kSourceHeight, 3);
    const DibLayout l = DibLayoutOf(page);
    std::mt19937 rng(1);
    for (int y = 0; y < l.height; ++y) {
        uint8_t* row = page.Data() + l.bitsOffset + std::size_t(y) * l.stride;
        for (int x = 0; x < l.width * 3; ++x)
            row[x] = uint8_t(160 + (x + y) % 64 + int(rng() % 32));
    }
    return page;
}

void Run(benchmark::State& state, void (*resample)(ImageHandle&, const ImageHandle&))
{
    const ImageHandle source = ScannedPage();
    ImageHandle page = CreateDib(kPageWidth, kPageHeight, 3);
    for (auto _ : state) {
        resample(page, source);
        benchmark::DoNotOptimize(page.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kPageWidth) * kPageHeight);
    state.SetLabel("2480x3508 -> 1023x1448");
}

void BM_ResampleAverage(benchmark::State& state)
{
    Run(state, ResampleAverage);
}
BENCHMARK(BM_ResampleAverage)->Unit(benchmark::kMillisecond);

void BM_ResampleBilinear(benchmark::State& state)
{
    Run(state, ResampleBilinear);
}
BENCHMARK(BM_ResampleBilinear)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
