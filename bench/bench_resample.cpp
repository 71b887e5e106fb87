// SPDX-License-Identifier: GPL-3.0-or-later
// The resamplers on the page that automatic processing scales most: an A4
// scan at 300 dpi (2480 x 3508, 24-bit) fitted to 1024 pixels of width,
// which gives 1023 x 1448. Goal for ResampleAverage: 30 ms on one core.
// Each runs on one thread (threads:1) and on every core (threads:0); the
// thumbnail of that page (160 x 226) and a small picture (320 x 240 to
// 160 x 120, below the size that is shared out) show that sharing costs
// small pictures nothing.

#include "imaging/Dib.h"
#include "imaging/RowBands.h"

#include <QString>

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
ImageHandle Picture(int width, int height)
{
    ImageHandle page = CreateDib(width, height, 3);
    const DibLayout l = DibLayoutOf(page);
    std::mt19937 rng(1);
    for (int y = 0; y < l.height; ++y) {
        uint8_t* row = page.Data() + l.bitsOffset + std::size_t(y) * l.stride;
        for (int x = 0; x < l.width * 3; ++x)
            row[x] = uint8_t(160 + (x + y) % 64 + int(rng() % 32));
    }
    return page;
}

// range(0): threads (0 every core); range(1..4): source and destination sizes.
void Run(benchmark::State& state, void (*resample)(ImageHandle&, const ImageHandle&))
{
    SetRowBandThreads(int(state.range(0)));
    const int sw = int(state.range(1)), sh = int(state.range(2)), dw = int(state.range(3)), dh = int(state.range(4));
    const ImageHandle source = Picture(sw, sh);
    ImageHandle page = CreateDib(dw, dh, 3);
    for (auto _ : state) {
        resample(page, source);
        benchmark::DoNotOptimize(page.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(dw) * dh);
    state.SetLabel(QStringLiteral("%1x%2 -> %3x%4, %5 threads")
                       .arg(sw).arg(sh).arg(dw).arg(dh).arg(RowBandThreads()).toStdString());
    SetRowBandThreads(0);
}

void Sizes(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, 0}) {
        b->Args({threads, kSourceWidth, kSourceHeight, kPageWidth, kPageHeight});
        b->Args({threads, kPageWidth, kPageHeight, 160, 226});
        b->Args({threads, 320, 240, 160, 120});
    }
}

void BM_ResampleAverage(benchmark::State& state)
{
    Run(state, ResampleAverage);
}
BENCHMARK(BM_ResampleAverage)->Apply(Sizes)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ResampleBilinear(benchmark::State& state)
{
    Run(state, ResampleBilinear);
}
BENCHMARK(BM_ResampleBilinear)->Apply(Sizes)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
