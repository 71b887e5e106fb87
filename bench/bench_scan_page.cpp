// SPDX-License-Identifier: GPL-3.0-or-later
// A 600 dpi A4 colour one-shot scan (4960 x 7016) through the SANE test
// backend, from the press of the one-shot button until the grid shows the new
// page: the scan thread's read loop, the progress window, the automatic
// processing and both writes. Its peak resident memory against the 24-bit
// picture (goal: under 3.5x; the SANE bytes, the DIB and the processed page).
//
// Counters: picture_MB, peak_MB (process peak during the command, from VmHWM
// after resetting it), base_MB (resident before the command), peak_ratio
// (peak_MB / picture_MB) and added_ratio ((peak_MB - base_MB) / picture_MB:
// what the command itself adds).

#include "bench/GuiBench.h"
#include "core/Settings.h"
#include "imaging/scan/ScanThread.h"
#include "ui/TForm1.h"
#include "widgets/QtPrompt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cstdlib>

namespace {

const char* const kConfig = TOLVANE_SOURCE_DIR "/bench/sane";

double StatusValue(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').value(0).toDouble() * 1024.0;
    return 0;
}

void ResetPeakResident()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// A prompt that fails the benchmark instead of waiting for a person.
class BenchPrompt : public QtPrompt {
public:
    QString said;
    BoxAnswer MessageBox(const QString& text, const QString&, BoxButtons, const QString&) override
    {
        said = text;
        return BoxAnswer::Ok;
    }
    void MessageDlg(const QString& text, DlgIcon, const QString&) override { said = text; }
};

void BM_OneShotScanA4Colour600UntilTheGridShowsIt(benchmark::State& state)
{
    QTemporaryDir dir;
    for (const char* sub : {"Image", "Thumb", "Text"})
        QDir(dir.path()).mkpath(QStringLiteral("archive/Scans/") + QLatin1String(sub));
    Settings& s = AppSettings();
    s = DefaultSettings();
    s.ScanMode = 0;
    s.ScanLeft = 0;
    s.ScanTop = 0;
    s.ScanRight = 210;
    s.ScanBottom = 296;
    s.ScanReso = 600;
    SaveSettings(s, AppSettingsStore());

    BenchPrompt prompt;
    TForm1 form(prompt, dir.filePath(QStringLiteral("archive")));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        state.SkipWithError("window not exposed");
        return;
    }
    auto* button = form.findChild<QToolButton*>(QStringLiteral("SpeedButton2"));
    const int before = form.Grid.P;
    double peak = 0, base = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetPeakResident();
        base = std::max(base, StatusValue("VmRSS:"));
        state.ResumeTiming();
        button->click();
        form.repaint();
        peak = std::max(peak, StatusValue("VmHWM:"));
    }
    if (!prompt.said.isEmpty()) {
        state.SkipWithError(prompt.said.toUtf8().constData());
        return;
    }
    if (form.Grid.P != before + int(state.iterations())) {
        state.SkipWithError("a page was not filed");
        return;
    }
    const double picture = 4960.0 * 7016.0 * 3.0;  // 600 dpi over 210 x 296 mm, about
    state.counters["picture_MB"] = picture / 1e6;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["base_MB"] = base / 1e6;
    state.counters["peak_ratio"] = peak / picture;
    state.counters["added_ratio"] = (peak - base) / picture;
}
BENCHMARK(BM_OneShotScanA4Colour600UntilTheGridShowsIt)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    // Before SANE starts: it reads the folder once.
    setenv("SANE_CONFIG_DIR", kConfig, 1);
    scan::ScanLibraryGuard scanning;
    return RunWindowBenchmarks(argc, argv, "offscreen");
}
