// SPDX-License-Identifier: GPL-3.0-or-later
// The full-screen viewer on a 1920 x 1080 screen: from the double-click on a
// page until the viewer is painted (1024 x 1448 and 2480 x 3508 pages), one
// page turn until the next page is painted, and each zoom or scroll step on a
// 2480 x 3508 page including the repaint, at every level from -5 to 8.

#include "bench/GuiBench.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "viewer/TViewerForm.h"
#include "widgets/Controls.h"
#include "widgets/QtPrompt.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <functional>

namespace {

QTemporaryDir* g_dir = nullptr;

// A scanned page: text lines on slightly tinted paper.
void WritePage(const QString& path, int width, int height)
{
    ImageHandle dib = CreateDib(width, height, 3);
    TMDIB m(dib);
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % 40 < 9) && x > width / 12 && x < width - width / 12 && (x / 15) % 6 != 0;
            row[3 * x] = uint8_t(ink ? 40 : 226 + (x + y) % 7);
            row[3 * x + 1] = uint8_t(ink ? 38 : 236 + (x * 3 + y) % 5);
            row[3 * x + 2] = uint8_t(ink ? 50 : 240 + (x + 2 * y) % 6);
        }
    }
    ImgKitJpegFileSave(path, dib, 80);
}

// A category "name" of `pages` pages of one size.
QString MakeCategory(const QString& name, int pages, int width, int height)
{
    const QString folder = g_dir->filePath(QStringLiteral("archive/") + name);
    for (const char* sub : {"Image", "Thumb", "Text"})
        QDir().mkpath(folder + u'/' + QLatin1String(sub));
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString number = QStringLiteral("%1.jpg").arg(i, 8, 10, QLatin1Char('0'));
        WritePage(folder + QStringLiteral("/Image/") + number, width, height);
        QFile::copy(folder + QStringLiteral("/Image/") + number, folder + QStringLiteral("/Thumb/") + number);
        list += number.toLatin1() + "\r\n";
    }
    QFile f(folder + QStringLiteral("/FileList.txt"));
    f.open(QIODevice::WriteOnly);
    f.write(list);
    return folder;
}

// Shows the viewer without a nested loop: shown, painted, then `step` decides.
class ViewerPrompt : public QtPrompt {
public:
    std::function<void(TViewerForm&)> onShown;
    int ExecModal(QDialog& dialog) override
    {
        auto& v = static_cast<TViewerForm&>(dialog);
        v.show();
        // Painted once it is exposed on the screen.
        if (!QTest::qWaitForWindowExposed(&v))
            return QDialog::Rejected;
        v.repaint();
        if (onShown)
            onShown(v);
        if (v.isVisible())
            v.done(QDialog::Rejected);
        return v.result();
    }
};

struct Main {
    ViewerPrompt prompt;
    TForm1 form;
    explicit Main(const QString& category)
        : form(prompt, g_dir->filePath(QStringLiteral("archive")))
    {
        (void)category;
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
    }
};

// Selects the first category whose name is `name` and clicks page 0.
bool Prepare(Main& m, const QString& name)
{
    for (int row = 0;; ++row) {
        m.form.SelectCategoryRow(row);
        if (m.form.CurrentFolder.isEmpty())
            return false;
        if (m.form.CurrentFolder.endsWith(u'/' + name))
            break;
    }
    QTest::mouseClick(m.form.SlotAt(0).image, Qt::LeftButton);
    return m.form.Grid.K == 0;
}

void BM_DoubleClickUntilPainted(benchmark::State& state)
{
    const QString name = state.range(0) == 0 ? QStringLiteral("Small") : QStringLiteral("Large");
    Main m(name);
    if (!Prepare(m, name)) {
        state.SkipWithError("no page to click");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    m.prompt.onShown = [&](TViewerForm&) {
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    };
    for (auto _ : state) {
        start = Clock::now();
        QTest::mouseDClick(m.form.SlotAt(0).image, Qt::LeftButton);
    }
    state.SetLabel(name.toStdString());
}
BENCHMARK(BM_DoubleClickUntilPainted)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_PageTurnUntilPainted(benchmark::State& state)
{
    Main m(QStringLiteral("Small"));
    if (!Prepare(m, QStringLiteral("Small"))) {
        state.SkipWithError("no page to click");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    // Each iteration: the viewer opens on page 1, turns to page 2 (timed
    // until painted) and closes.
    int showing = 0;
    m.prompt.onShown = [&](TViewerForm& v) {
        if (++showing == 1) {
            start = Clock::now();
            v.findChild<QToolButton*>(QStringLiteral("SpeedButton4"))->click();
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    };
    for (auto _ : state) {
        showing = 0;
        m.form.Menu01Click();
    }
    if (showing != 2)
        state.SkipWithError("the page did not turn");
}
BENCHMARK(BM_PageTurnUntilPainted)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Each step at `level`: zoom in one level and back, or scroll down and up,
// each half repainted.
void ZoomOrScroll(benchmark::State& state, bool scroll)
{
    const int level = int(state.range(0));
    Main m(QStringLiteral("Large"));
    if (!Prepare(m, QStringLiteral("Large"))) {
        state.SkipWithError("no page to click");
        return;
    }
    m.prompt.onShown = [&](TViewerForm& v) {
        auto* in = v.findChild<QToolButton*>(QStringLiteral("SpeedButton7"));
        auto* out = v.findChild<QToolButton*>(QStringLiteral("SpeedButton8"));
        while (v.ZoomLevel < level)
            in->click();
        while (v.ZoomLevel > level)
            out->click();
        v.repaint();
        bool forward = true;
        for (auto _ : state) {
            if (scroll)
                v.FormKeyDown(forward ? Qt::Key_Down : Qt::Key_Up);
            else
                (forward ? in : out)->click();
            v.repaint();
            forward = !forward;
        }
    };
    m.form.Menu01Click();
}

void BM_ZoomStep(benchmark::State& state) { ZoomOrScroll(state, false); }
void BM_ScrollStep(benchmark::State& state) { ZoomOrScroll(state, true); }
BENCHMARK(BM_ZoomStep)->DenseRange(-5, 8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScrollStep)->DenseRange(-5, 8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    // A desktop screen rather than the offscreen default of 800 x 600.
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile f(config);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    f.close();
    return RunWindowBenchmarks(argc, argv, ("offscreen:configfile=" + config).toUtf8(), [] {
        MakeCategory(QStringLiteral("Large"), 2, 2480, 3508);
        MakeCategory(QStringLiteral("Small"), 3, 1024, 1448);
    });
}
