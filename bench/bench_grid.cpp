// SPDX-License-Identifier: GPL-3.0-or-later
// Browsing a full category: selecting a category of 999 pages and drawing
// its first four slots, and one paging step, each including the repaint of
// the window.

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/QtPrompt.h"
#include "widgets/TApplication.h"
#include "ui/TForm1.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include "bench/GuiBench.h"

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir* g_archive = nullptr;

// A thumbnail as the program stores them: 141 x 200, a page with text lines.
QByteArray ThumbnailJpeg()
{
    ImageHandle dib = CreateDib(141, 200, 3);
    TMDIB m(dib);
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % 12 < 2) && x > 10 && x < 130 && (x / 7) % 5 != 0;
            row[3 * x] = ink ? 40 : 250;
            row[3 * x + 1] = ink ? 40 : 248;
            row[3 * x + 2] = ink ? 60 : 245;
        }
    }
    const QString path = g_archive->filePath(QStringLiteral("thumb.jpg"));
    ImgKitJpegFileSave(path, dib, 80);
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
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        list += number.toLatin1() + ".jpg\r\n";
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

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir archive;
    g_archive = &archive;
    return RunWindowBenchmarks(argc, argv, "offscreen", [] { MakeCategory(QStringLiteral("Full"), 999); });
}
