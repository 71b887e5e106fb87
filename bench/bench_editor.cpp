// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's tools as the user feels them: each fixed-step tool on a
// 1024 x 1448 page including the redraw of the full-screen window
// (ShowEditImage, ApplyZoom and a synchronous repaint), each colour-balance
// preview update including the drawing into the preview window, and zoom
// steps with their repaint. Goals: a fixed-step tool under 30 ms, a preview
// update under 5 ms.
//
// The offscreen screen is set to 1920 x 1080 so that the repaint covers a
// real full-screen window.

#include "core/Prompt.h"
#include "core/Settings.h"
#include "editor/TEditForm.h"
#include "editor/TfColorPreview.h"
#include "imaging/ImageHandle.h"
#include "widgets/Controls.h"
#include "widgets/TApplication.h"

#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include "bench/GuiBench.h"

#include <benchmark/benchmark.h>
#include <functional>
#include <memory>

namespace {

class QuietPrompt : public Prompt {
public:
    int messages = 0;
    void MessageDlg(const QString&, DlgIcon, const QString&) override { ++messages; }
    BoxAnswer MessageBox(const QString&, const QString&, BoxButtons, const QString&) override
    {
        ++messages;
        return BoxAnswer::Ok;
    }
    void ShowException(const QString&, const QString&) override { ++messages; }
    int ExecModal(QDialog&) override { return QDialog::Rejected; }
    QString GetOpenFileName(const OpenFileRequest&) override { return QString(); }
    SaveFileAnswer GetSaveFileName(const SaveFileRequest&) override { return {}; }
    bool PrinterSetup(QPrinter&) override { return false; }
    bool OpenDocument(const QString&) override { return false; }
};

QTemporaryDir* g_dir = nullptr;

// A scanned-looking page: smooth gradients with some detail.
ImageHandle Page(int width, int height)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = h.Data() + l.bitsOffset + std::size_t(y) * std::size_t(l.stride);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uint8_t(180 + (x * 7 + y) % 60);
            row[3 * x + 1] = uint8_t(170 + (x + y * 3) % 70);
            row[3 * x + 2] = uint8_t(160 + (x ^ y) % 90);
        }
    }
    return h;
}

struct Editor {
    QuietPrompt prompt;
    Settings settings;
    QSettings store{g_dir->filePath(QStringLiteral("bench.ini")), QSettings::IniFormat};
    TEditForm form{prompt, settings, store, nullptr};
    bool exposed = false;

    Editor()
    {
        form.EditImage = Page(1024, 1448);
        form.show();
        exposed = QTest::qWaitForWindowExposed(&form);
        QCoreApplication::processEvents();
    }
};

void BM_Tool(benchmark::State& state, void (TEditForm::*tool)())
{
    Editor e;
    if (!e.exposed) {
        state.SkipWithError("window not exposed");
        return;
    }
    for (auto _ : state) {
        (e.form.*tool)();
        e.form.repaint();
    }
    if (e.prompt.messages != 0)
        state.SkipWithError("the tool reported a failure");
    state.counters["screen_w"] = e.form.width();
}
BENCHMARK_CAPTURE(BM_Tool, BrightnessDown, &TEditForm::SpeedButton17Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, BrightnessUp, &TEditForm::SpeedButton18Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, ContrastDown, &TEditForm::SpeedButton19Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, ContrastUp, &TEditForm::SpeedButton20Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, GammaDown, &TEditForm::SpeedButton21Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, GammaUp, &TEditForm::SpeedButton22Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, Rotate90Clockwise, &TEditForm::SpeedButton13Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, Rotate90CounterClockwise, &TEditForm::SpeedButton12Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, Rotate180, &TEditForm::SpeedButton14Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, Mirror, &TEditForm::SpeedButton15Click)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tool, Flip, &TEditForm::SpeedButton16Click)->Unit(benchmark::kMillisecond);

// One track-bar change while the preview is open: copy of the reduced
// picture, the offsets, the drawing into the preview window and its repaint.
void BM_ColorPreviewUpdate(benchmark::State& state)
{
    Editor e;
    auto* red = e.form.findChild<QSlider*>(QStringLiteral("tbR"));
    red->setValue(5);  // opens the preview
    TfColorPreview* preview = e.form.ColorPreview();
    if (!preview) {
        state.SkipWithError("no preview");
        return;
    }
    int value = 5;
    for (auto _ : state) {
        value = value >= 25 ? -25 : value + 5;
        red->setValue(value);
        preview->repaint();
    }
}
BENCHMARK(BM_ColorPreviewUpdate)->Unit(benchmark::kMicrosecond);

// Opening the preview: the copy of the page, its reduction and the window.
void BM_ColorPreviewOpen(benchmark::State& state)
{
    Editor e;
    auto* red = e.form.findChild<QSlider*>(QStringLiteral("tbR"));
    for (auto _ : state) {
        red->setValue(10);
        e.form.ColorPreview()->repaint();
        state.PauseTiming();
        e.form.ColorPreview()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ColorPreviewOpen)->Unit(benchmark::kMillisecond);

// Zoom in to level 16 and back out to level -8, each step repainted.
void BM_ZoomStep(benchmark::State& state)
{
    Editor e;
    bool in = true;
    for (auto _ : state) {
        if (in)
            e.form.SpeedButton2Click();
        else
            e.form.SpeedButton1Click();
        e.form.repaint();
        if (e.form.ZoomLevel >= 16)
            in = false;
        else if (e.form.ZoomLevel <= -8)
            in = true;
    }
}
BENCHMARK(BM_ZoomStep)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    // A full-HD offscreen screen.
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    {
        QFile f(config);
        if (f.open(QIODevice::WriteOnly))
            f.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
                        "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    }
    return RunWindowBenchmarks(argc, argv, QByteArray("offscreen:configfile=") + config.toLocal8Bit());
}
