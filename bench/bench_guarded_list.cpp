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

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
const QByteArray kPage(60000, 'P');
const QByteArray kThumb(6000, 'T');

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// A fresh archive with the category "Full" of `pages` pages and an empty "Other".
QString MakeArchive(int pages)
{
    static int n = 0;
    const QString root = g_dir->filePath(QStringLiteral("archive%1").arg(++n));
    for (const char* cat : {"Full", "Other"})
        for (const char* sub : {"Image", "Thumb", "Text"})
            QDir().mkpath(root + u'/' + QLatin1String(cat) + u'/' + QLatin1String(sub));
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString n8 = QString::number(i).rightJustified(8, u'0');
        Write(root + QStringLiteral("/Full/Image/") + n8 + QStringLiteral(".jpg"), kPage);
        Write(root + QStringLiteral("/Full/Thumb/") + n8 + QStringLiteral(".jpg"), kThumb);
        Write(root + QStringLiteral("/Full/Text/") + n8 + QStringLiteral(".txt"), "\r\n");
        list += n8.toLatin1() + ".jpg\r\n";
    }
    Write(root + QStringLiteral("/Full/FileList.txt"), list);
    return root;
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
