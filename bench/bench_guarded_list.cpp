// SPDX-License-Identifier: GPL-3.0-or-later
// What the write guard and the re-read of the list cost each page operation:
// the session's new page, delete, reorder and move on a 999-page category,
// the guard taken and given back alone, the lock taken and given back, and
// the list read again alone.
//
// The archive is made in a temporary folder; TOLVANE_BENCH_FOLDER puts it
// in another (a mounted network share, to see what a file server costs).

#include "core/ArchiveSession.h"
#include "core/NetLock.h"
#include "core/WriteGuard.h"

#include "bench/BenchArchive.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
const QByteArray kPage(60000, 'P');
const QByteArray kThumb(6000, 'T');

// A fresh archive: "Full" of `pages` pages, "Other" empty.
QString MakeArchive(int pages)
{
    return MakeBenchArchive(g_dir->path(), pages, kPage, kThumb);
}

struct Session {
    QString root;
    ArchiveSession s;
    explicit Session(int pages) : root(MakeArchive(pages))
    {
        s.ArchiveRoot = root;
        s.SelectCategory(root + QStringLiteral("/Full"));
    }
};

void Check(benchmark::State& state, const PageResult& r)
{
    if (!r)
        state.SkipWithError(r.message.toUtf8().constData());
}

void BM_NewPage(benchmark::State& state)
{
    Session w(998 - 200);
    for (auto _ : state)
        Check(state, w.s.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
}
BENCHMARK(BM_NewPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_DeletePage(benchmark::State& state)
{
    Session w(999);
    for (auto _ : state)
        Check(state, w.s.DeletePage(400));
}
BENCHMARK(BM_DeletePage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_ReorderPage(benchmark::State& state)
{
    Session w(999);
    w.s.Grid.T = 500;
    bool later = true;
    for (auto _ : state) {
        Check(state, later ? w.s.MovePageAfter(500) : w.s.MovePageBefore(501));
        later = !later;
    }
}
BENCHMARK(BM_ReorderPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_MovePage(benchmark::State& state)
{
    Session w(999);
    for (auto _ : state)
        Check(state, w.s.MovePageToCategory(0, w.root + QStringLiteral("/Other")));
}
BENCHMARK(BM_MovePage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_GuardAlone(benchmark::State& state)
{
    Session w(1);
    const QString path = PageListGuardPath(w.root + QStringLiteral("/Full"));
    for (auto _ : state) {
        WriteGuard g = WriteGuard::Acquire(path, 0);
        if (!g)
            state.SkipWithError("guard not taken");
    }
}
BENCHMARK(BM_GuardAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadListOf999(benchmark::State& state)
{
    Session w(999);
    PageList list;
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadPageListForChange(list, w.root + QStringLiteral("/Full")));
}
BENCHMARK(BM_ReadListOf999)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TakeAndGiveBackTheLock(benchmark::State& state)
{
    Session w(1);
    EnableSharing(w.root);
    for (auto _ : state) {
        const OwnerToken token = NewOwnerToken();
        if (TakeWriteLock(w.root, token, nullptr) != LockTaking::Taken || GiveBackLock(w.root, token) != GiveBack::GivenBack)
            state.SkipWithError("lock not taken and given back");
    }
}
BENCHMARK(BM_TakeAndGiveBackTheLock)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    const QString folder = qEnvironmentVariable("TOLVANE_BENCH_FOLDER");
    g_dir = folder.isEmpty() ? std::make_unique<QTemporaryDir>()
                             : std::make_unique<QTemporaryDir>(folder + QStringLiteral("/tolvane-bench-XXXXXX"));
    if (!g_dir->isValid())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
