// SPDX-License-Identifier: GPL-3.0-or-later
// Search over an archive of 200 categories x 999 pages, each with a memo and
// recognised text: the index built from nothing, the first query of a start
// with warm caches, and each further keystroke.

#include "core/ArchiveFiles.h"
#include "core/Memo.h"
#include "core/PageText.h"
#include "text/SearchIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kCategories = 200;
constexpr int kPages = 999;

QString BenchFolder()
{
    const QByteArray env = qgetenv("TOLVANE_BENCH_FOLDER");
    return (env.isEmpty() ? QDir::tempPath() + QStringLiteral("/tolvane-bench") : QString::fromLocal8Bit(env))
           + QStringLiteral("/search");
}

// Bench data only: written plainly, without the atomic writes' syncing.
void Put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// Made once and kept: writing 400,000 files takes longer than the measures.
QString Archive()
{
    static const QString root = [] {
        const QString root = BenchFolder() + QStringLiteral("/archive");
        if (QFileInfo::exists(root + QStringLiteral("/.complete")))
            return root;
        QDir(root).removeRecursively();
        std::mt19937 random(7);
        const QStringList kanji = {QStringLiteral("請求書"), QStringLiteral("領収書"), QStringLiteral("見積書"),
                                   QStringLiteral("納品書"), QStringLiteral("契約"), QStringLiteral("株式会社"),
                                   QStringLiteral("東京都"), QStringLiteral("合計"), QStringLiteral("金額"),
                                   QStringLiteral("お支払い"), QStringLiteral("カタカナ"), QStringLiteral("ｶﾞｽ")};
        const QStringList latin = {QStringLiteral("INV"), QStringLiteral("No."), QStringLiteral("Total"),
                                   QStringLiteral("ＡＢＣ"), QStringLiteral("tax"), QStringLiteral("yen")};
        auto word = [&] {
            if (random() % 3 == 0)
                return random() % 2 ? latin[random() % latin.size()] : QString::number(random() % 100000);
            return kanji[random() % kanji.size()];
        };
        for (int c = 0; c < kCategories; ++c) {
            const QString folder = root + QStringLiteral("/Category %1").arg(c, 3, 10, QLatin1Char('0'));
            QDir().mkpath(folder + QStringLiteral("/Text"));
            QDir().mkpath(folder + QStringLiteral("/Words"));
            QByteArray list = QByteArray::number(kPages).rightJustified(8, '0') + "\r\n";
            for (int p = 1; p <= kPages; ++p) {
                const QString number = QString::number(p).rightJustified(8, u'0');
                list += number.toLatin1() + ".jpg\r\n";
                QString memo;
                while (memo.size() < 40)
                    memo += word() + u' ';
                if (p % 97 == 0)
                    memo += QStringLiteral("請求書２０２４年");
                Put(folder + QStringLiteral("/Text/") + number + QStringLiteral(".txt"), EncodeMemo(memo));
                PageText text;
                int length = 0;
                for (int w = 0; length < 350; ++w) {
                    text.words.push_back({w / 8, QRect(w * 10, w / 8 * 20, 9, 19), 90, word()});
                    length += int(text.words.back().text.size()) + 1;
                }
                Put(folder + QStringLiteral("/Words/") + number + QStringLiteral(".tsv"), EncodePageText(text));
            }
            WriteFileAtomically(folder + QStringLiteral("/FileList.txt"), list);
        }
        WriteFileAtomically(root + QStringLiteral("/.complete"), {});
        return root;
    }();
    return root;
}

QString CacheFolder() { return BenchFolder() + QStringLiteral("/cache"); }

void BM_BuildFromNothing(benchmark::State& state)
{
    const QString root = Archive();
    for (auto _ : state) {
        QDir(CacheFolder()).removeRecursively();
        SearchIndex index(root, CacheFolder());
        if (!index.Refresh().ok)
            state.SkipWithError("refresh failed");
        benchmark::DoNotOptimize(index.PageSourceCount());
    }
}
BENCHMARK(BM_BuildFromNothing)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FirstQueryWarmCache(benchmark::State& state)
{
    const QString root = Archive();
    SearchIndex(root, CacheFolder()).Refresh();
    for (auto _ : state) {
        SearchIndex index(root, CacheFolder());
        index.Refresh();
        const SearchResult r = index.Find(QStringLiteral("請求書"), 200);
        benchmark::DoNotOptimize(r.matched);
    }
}
BENCHMARK(BM_FirstQueryWarmCache)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Keystroke(benchmark::State& state)
{
    const QString root = Archive();
    SearchIndex index(root, CacheFolder());
    index.Refresh();
    const QString typed = QStringLiteral("請求書２０２４");
    const int length = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        index.Find(typed.left(length - 1), 200);  // the keystroke before
        state.ResumeTiming();
        const SearchResult r = index.Find(typed.left(length), 200);
        benchmark::DoNotOptimize(r.matched);
    }
}
BENCHMARK(BM_Keystroke)->DenseRange(2, 7)->Unit(benchmark::kMillisecond);

void BM_FirstKeystroke(benchmark::State& state)
{
    const QString root = Archive();
    SearchIndex index(root, CacheFolder());
    index.Refresh();
    for (auto _ : state) {
        const SearchResult r = index.Find(QStringLiteral("請"), 200);
        benchmark::DoNotOptimize(r.matched);
    }
}
BENCHMARK(BM_FirstKeystroke)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
