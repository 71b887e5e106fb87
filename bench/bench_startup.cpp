// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to the shown main window, with an archive of 200 categories.
// Measures what happens between the application object and a window on the
// screen: building the form, loading the settings, listing the categories
// and selecting the first one.

#include "core/Settings.h"
#include "widgets/QtPrompt.h"
#include "widgets/TApplication.h"
#include "ui/TForm1.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include "bench/GuiBench.h"

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir* g_archive = nullptr;

void BM_StartupToShownWindow(benchmark::State& state)
{
    QtPrompt prompt;
    for (auto _ : state) {
        TForm1 form(prompt, g_archive->path());
        form.show();
        if (!QTest::qWaitForWindowExposed(&form)) {
            state.SkipWithError("window not exposed");
            break;
        }
        benchmark::DoNotOptimize(form.CurrentFolder);
        state.PauseTiming();
        form.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole start of the program as a user sees it: process start, Qt,
// fonts, the single-instance guard, settings, the 200 categories, the shown
// window, then an orderly exit.
void BM_ProcessStartToShownWindow(benchmark::State& state)
{
    const QString exe = g_archive->filePath(QStringLiteral("tolvane"));
    QFile::remove(exe);
    if (!QFile::copy(QStringLiteral(TOLVANE_EXE), exe)) {
        state.SkipWithError("cannot copy the program");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), g_archive->filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), g_archive->filePath(QStringLiteral(".run")));
    QDir().mkpath(g_archive->filePath(QStringLiteral(".run")));
    for (auto _ : state) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(g_archive->path());
        p.start(exe, {QStringLiteral("--exit-when-shown")});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            state.SkipWithError("program did not start and end");
            break;
        }
    }
    QFile::remove(exe);
}
BENCHMARK(BM_ProcessStartToShownWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir archive;
    g_archive = &archive;
    QDir root(archive.path());
    for (int i = 0; i < 200; ++i) {
        const QString name = QStringLiteral("分類%1").arg(i, 3, 10, QLatin1Char('0'));
        root.mkpath(name + QStringLiteral("/Image"));
        root.mkpath(name + QStringLiteral("/Thumb"));
        root.mkpath(name + QStringLiteral("/Text"));
    }
    return RunWindowBenchmarks(argc, argv, "offscreen");
}
