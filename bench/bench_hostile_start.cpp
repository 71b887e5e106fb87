// SPDX-License-Identifier: GPL-3.0-or-later
// The program started on archives whose first category holds what no
// program of the archive writes: a 1 GB memo, a FileList.txt of one 200 MB
// line, a list of a million pages, a million lines of one page. Each run is
// the whole process (start, the first category selected and drawn, an
// orderly exit); besides the time, the counter peak_MB is the process's
// largest resident size. The goal: under 1 s and under 200 MB on each.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace {

enum Layout { Plain, HugeMemo, LongLine, MillionPages, MillionRepeats };

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A file of `size` zero bytes that takes no room (a zero byte ends no line).
bool Sparse(const QString& path, qint64 size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(size);
}

bool MakeArchive(const QString& root, Layout layout)
{
    QDir dir(root);
    for (const char* sub : {"Image", "Thumb", "Text"})
        if (!dir.mkpath(QStringLiteral("受取/") + QLatin1String(sub)))
            return false;
    const QString cat = root + QStringLiteral("/受取/");
    switch (layout) {
    case Plain:
        return Write(cat + "FileList.txt", "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n");
    case HugeMemo:
        return Write(cat + "FileList.txt", "00000001\r\n00000001.jpg\r\n")
               && Sparse(cat + "Text/00000001.txt", qint64(1) << 30);
    case LongLine:
        return Sparse(cat + "FileList.txt", qint64(200) << 20);
    case MillionPages: {
        QByteArray list = "01000000\r\n";
        list.reserve(15 << 20);
        for (int i = 1; i <= 1000000; ++i)
            list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
        return Write(cat + "FileList.txt", list);
    }
    case MillionRepeats:
        return Write(cat + "FileList.txt", "00000001\r\n" + QByteArray("00000001.jpg\r\n").repeated(1000000));
    }
    return false;
}

void BM_StartOnHostileArchive(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("archive"));
    if (!MakeArchive(root, Layout(state.range(0)))) {
        state.SkipWithError("cannot make the archive");
        return;
    }
    const QString exe = root + QStringLiteral("/tolvane");
    if (!QFile::copy(QStringLiteral(TOLVANE_EXE), exe)) {
        state.SkipWithError("cannot copy the program");
        return;
    }
    QDir().mkpath(dir.filePath(QStringLiteral("run")));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    std::vector<QByteArray> envBytes;
    for (const QString& kv : env.toStringList())
        envBytes.push_back(kv.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& kv : envBytes)
        envp.push_back(kv.data());
    envp.push_back(nullptr);
    QByteArray exeBytes = QFile::encodeName(exe);
    QByteArray flag = "--exit-when-shown";
    char* argv[] = {exeBytes.data(), flag.data(), nullptr};

    long peakKb = 0;
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, exeBytes.constData(), nullptr, nullptr, argv, envp.data()) != 0) {
            state.SkipWithError("cannot start the program");
            break;
        }
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not start and end");
            break;
        }
        peakKb = std::max(peakKb, usage.ru_maxrss);
    }
    state.counters["peak_MB"] = double(peakKb) / 1024.0;
}
BENCHMARK(BM_StartOnHostileArchive)
    ->ArgName("layout")  // 0 plain, 1 memo of 1 GB, 2 list line of 200 MB, 3 a million pages, 4 a million repeats
    ->DenseRange(Plain, MillionRepeats)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
