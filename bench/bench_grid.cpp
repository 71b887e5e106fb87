// SPDX-License-Identifier: GPL-3.0-or-later
// Browsing a full category: selecting a category of 999 pages and drawing
// its first four slots, and one paging step, each including the repaint of
// the window. Run with QT_SCALE_FACTOR=2 for a screen of two device pixels
// per point, where the slots are drawn from the page images.

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/QtPrompt.h"
#include "widgets/TApplication.h"
#include "ui/TForm1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include "bench/GuiBench.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

QTemporaryDir* g_archive = nullptr;

// A page with text lines.
ImageHandle TextPage(int width, int height)
{
    ImageHandle dib = CreateDib(width, height, 3);
    TMDIB m(dib);
    const int line = std::max(12, height / 17), margin = width / 14;
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % line < line / 6 + 1) && x > margin && x < width - margin && (x * 20 / width) % 5 != 0;
            row[3 * x] = ink ? 40 : 250;
            row[3 * x + 1] = ink ? 40 : 248;
            row[3 * x + 2] = ink ? 60 : 245;
        }
    }
    return dib;
}

// A thumbnail as the program stores them: 141 x 200, a page with text lines;
// the page image 1024 x 1448.
QByteArray ThumbnailJpeg()
{
    const QString path = g_archive->filePath(QStringLiteral("thumb.jpg"));
    ImgKitJpegFileSave(path, TextPage(141, 200), 80);
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void MakeCategory(const QString& name, int pages)
{
    QDir root(g_archive->path());
    for (const char* sub : {"Image", "Thumb", "Text"})
        root.mkpath(name + u'/' + QLatin1String(sub));
    const QByteArray thumb = ThumbnailJpeg();
    const QString image = g_archive->filePath(QStringLiteral("page.jpg"));
    ImgKitJpegFileSave(image, TextPage(1024, 1448), 85);
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        list += number.toLatin1() + ".jpg\r\n";
        // One page image, linked under every name.
        const QByteArray link = QFile::encodeName(root.filePath(name + QStringLiteral("/Image/") + number + QStringLiteral(".jpg")));
        if (::link(QFile::encodeName(image).constData(), link.constData()) != 0)
            QFile::copy(image, QString::fromLocal8Bit(link));
        QFile t(root.filePath(name + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg")));
        t.open(QIODevice::WriteOnly);
        t.write(thumb);
        QFile m(root.filePath(name + QStringLiteral("/Text/") + number + QStringLiteral(".txt")));
        m.open(QIODevice::WriteOnly);
        m.write(QStringLiteral("領収書 %1\r\n").arg(i).toLocal8Bit());
    }
    QFile l(root.filePath(name + QStringLiteral("/FileList.txt")));
    l.open(QIODevice::WriteOnly);
    l.write(list);
}

struct Window {
    QtPrompt prompt;
    TForm1 form{prompt, g_archive->path()};
    Window()
    {
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            qWarning("window not exposed");
        auto* list = form.findChild<QListWidget*>(QStringLiteral("ListBox"));
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == QStringLiteral("Full"))
                form.SelectCategoryRow(i);
    }
};

void BM_SelectCategoryOf999Pages(benchmark::State& state)
{
    Window w;
    for (auto _ : state) {
        w.form.ListBoxClick();
        w.form.repaint();
    }
    if (w.form.Grid.P != 999)
        state.SkipWithError("category not loaded");
}
BENCHMARK(BM_SelectCategoryOf999Pages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PagingStep(benchmark::State& state)
{
    Window w;
    bool forward = true;
    for (auto _ : state) {
        // forward one, then back one: each is one step with four new slots
        if (forward)
            w.form.SpeedButton20Click();
        else
            w.form.SpeedButton19Click();
        forward = !forward;
        w.form.repaint();
    }
}
BENCHMARK(BM_PagingStep)->Unit(benchmark::kMillisecond)->UseRealTime();

// Four pages on at a time through the category: every slot shows a page not
// shown before (on a dense screen, four page images read).
void BM_PagingFourForward(benchmark::State& state)
{
    Window w;
    for (auto _ : state) {
        if (w.form.Grid.T + 8 > w.form.Grid.P)
            w.form.Desk.PageTo(0);
        else
            w.form.SpeedButton21Click();
        w.form.repaint();
    }
}
BENCHMARK(BM_PagingFourForward)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with a glance at each four pages (150 ms, not timed) before the
// next click, as a user pages: what is read ahead meanwhile is shown at once.
void BM_PagingFourForwardAfterAGlance(benchmark::State& state)
{
    Window w;
    double click = 0, paint = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        state.ResumeTiming();
        QElapsedTimer t;
        t.start();
        if (w.form.Grid.T + 8 > w.form.Grid.P)
            w.form.Desk.PageTo(0);
        else
            w.form.SpeedButton21Click();
        click += t.nsecsElapsed() / 1e6;
        t.restart();
        w.form.repaint();
        paint += t.nsecsElapsed() / 1e6;
    }
    // Where the time goes: the slots made, and the window painted.
    state.counters["click_ms"] = benchmark::Counter(click / double(state.iterations()));
    state.counters["paint_ms"] = benchmark::Counter(paint / double(state.iterations()));
}
BENCHMARK(BM_PagingFourForwardAfterAGlance)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(60);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir archive;
    g_archive = &archive;
    return RunWindowBenchmarks(argc, argv, "offscreen", [] { MakeCategory(QStringLiteral("Full"), 999); });
}
