// SPDX-License-Identifier: GPL-3.0-or-later
// File import of a 2480 x 3508 JPEG scan in automatic mode with the default
// settings, from the button press until the grid shows the new page, against
// tolvane-batch process on the same file (a whole process run: start-up,
// load, processing, both writes).

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "widgets/QtPrompt.h"
#include "bench/GuiBench.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir* g_dir = nullptr;

QString ScanPath() { return g_dir->filePath(QStringLiteral("scan.jpg")); }

// A page of text lines on slightly tinted paper, as a flatbed gives it.
void MakeScan()
{
    ImageHandle dib = CreateDib(2480, 3508, 3);
    TMDIB m(dib);
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % 60 < 14) && x > 200 && x < 2280 && (x / 23) % 6 != 0;
            row[3 * x] = uint8_t(ink ? 40 : 226 + (x + y) % 7);
            row[3 * x + 1] = uint8_t(ink ? 38 : 236 + (x * 3 + y) % 5);
            row[3 * x + 2] = uint8_t(ink ? 50 : 240 + (x + 2 * y) % 6);
        }
    }
    ImgKitJpegFileSave(ScanPath(), dib, 90);
}

// The open dialog answered with the scan.
class ImportPrompt : public QtPrompt {
public:
    QString GetOpenFileName(const OpenFileRequest&) override { return ScanPath(); }
};

void BM_FileImportUntilTheGridShowsIt(benchmark::State& state)
{
    ImportPrompt prompt;
    int category = 0;
    auto fresh = [&] {
        const QString name = QStringLiteral("Import%1").arg(++category);
        for (const char* sub : {"Image", "Thumb", "Text"})
            QDir(g_dir->path()).mkpath(QStringLiteral("archive/") + name + u'/' + QLatin1String(sub));
    };
    fresh();
    TForm1 form(prompt, g_dir->filePath(QStringLiteral("archive")));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        state.SkipWithError("window not exposed");
    auto* button = form.findChild<QToolButton*>(QStringLiteral("Menu08"));
    const int before = form.Grid.P;
    for (auto _ : state) {
        button->click();
        form.repaint();
    }
    if (form.Grid.P != before + int(state.iterations()))
        state.SkipWithError("a page was not filed");
}
BENCHMARK(BM_FileImportUntilTheGridShowsIt)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_BatchProcessSameFile(benchmark::State& state)
{
    const QString page = g_dir->filePath(QStringLiteral("p.jpg"));
    const QString thumb = g_dir->filePath(QStringLiteral("t.jpg"));
    for (auto _ : state) {
        QProcess child;
        child.start(QStringLiteral(TOLVANE_BATCH_EXE), {QStringLiteral("process"), ScanPath(), page, thumb});
        if (!child.waitForFinished(60000) || child.exitCode() != 0)
            state.SkipWithError("tolvane-batch failed");
    }
}
BENCHMARK(BM_BatchProcessSameFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    // The child reads settings from a home of its own: the defaults.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    return RunWindowBenchmarks(argc, argv, "offscreen", [] { MakeScan(); });
}
