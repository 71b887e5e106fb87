// SPDX-License-Identifier: GPL-3.0-or-later
// Text recognition of a dense 1024 x 1448 A4 page (~124 dpi, 30 lines of
// mixed Japanese and English at 22 px): seconds per page on one thread at
// each scale tried before recognition (the counter s/page), with the
// share of the drawn characters read; pages a minute through the pool on one
// and two threads (the counter pages/min).

#include "text/ocr/RecognitionPool.h"
#include "tests/text/ocr/OcrTestPages.h"

#include <QGuiApplication>
#include <QHash>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

const QImage& Page()
{
    static const QImage page = DensePage();
    return page;
}

// The share of the drawn characters (spaces aside) that come back, in any
// order: the layout analysis may read a line's parts as columns.
double ShareRead(const PageText& text)
{
    QHash<QChar, int> got;
    for (QChar c : text.Plain())
        ++got[c];
    int want = 0, read = 0;
    for (const QString& line : DenseLines())
        for (QChar c : line) {
            if (c.isSpace())
                continue;
            ++want;
            if (got.value(c) > 0) {
                --got[c];
                ++read;
            }
        }
    return want == 0 ? 0 : double(read) / want;
}

void BM_RecognisePage(benchmark::State& state)
{
    const double scale = state.range(0) / 10.0;
    const RecognitionLanguages languages = AvailableLanguages();
    // The engine is made here, outside the timing.
    if (!RecogniseScaled(Page(), languages, scale).ok) {
        state.SkipWithError("recognition failed");
        return;
    }
    double share = 0, seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const RecognitionResult result = RecogniseScaled(Page(), languages, scale);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        share = ShareRead(result.text);
    }
    state.counters["s/page"] = seconds / double(state.iterations());
    state.counters["read%"] = share * 100;
}
BENCHMARK(BM_RecognisePage)->ArgName("scale_x10")->Arg(10)->Arg(15)->Arg(20)->Unit(benchmark::kSecond)
    ->Iterations(3)->UseRealTime();

// Counts the pool's results as they come, on the workers' threads.
struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    void Add()
    {
        {
            std::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    void WaitFor(int n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return count >= n; });
    }
};

void BM_PoolPagesPerMinute(benchmark::State& state)
{
    const int threads = int(state.range(0));
    const int pages = 4 * threads;
    Done done;
    RecognitionPool pool(AvailableLanguages(), threads);
    QObject::connect(&pool, &RecognitionPool::Finished, [&](quint64, const RecognitionResult&) { done.Add(); });
    // Every worker's engine made before the timing.
    QImage small = Page().copy(0, 0, 1024, 300);
    for (int i = 0; i < threads; ++i)
        pool.Submit(quint64(i), [small] { return small; });
    done.WaitFor(threads);
    int submitted = threads;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < pages; ++i)
            pool.Submit(quint64(submitted++), [] { return Page(); });
        done.WaitFor(submitted);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["pages/min"] = pages * 60.0 * double(state.iterations()) / seconds;
}
BENCHMARK(BM_PoolPagesPerMinute)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->Iterations(1)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
