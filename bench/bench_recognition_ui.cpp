// SPDX-License-Identifier: GPL-3.0-or-later
// The main window while the text of a category's pages is recognised in the
// background: a paging step and a click on a page, each with its repaint,
// timed while recognition runs (the worst step is reported too), and the
// pages recognised per minute meanwhile.

#include "core/PageText.h"
#include "imaging/Dib.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "imaging/PageRecognition.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"
#include "widgets/QtPrompt.h"
#include "bench/GuiBench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir* g_archive = nullptr;
constexpr int kPages = 24;

// A 1024-wide A4 page of ~30 lines of mixed text, as a scan is stored.
ImageHandle TextPage()
{
    QImage page(1024, 1448, QImage::Format_RGB888);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setPen(Qt::black);
    p.setFont(QFont(QStringLiteral("IPAGothic"), 16));
    for (int line = 0; line < 30; ++line)
        p.drawText(70, 100 + line * 42,
                   line % 2 ? QStringLiteral("請求書 No.%1 合計 %2円 お支払い期限").arg(2024 + line).arg(49000 + line * 7)
                            : QStringLiteral("Invoice %1 Total amount due within 30 days").arg(line));
    p.end();
    return QImageToDib(page);
}

void MakeArchive()
{
    QDir root(g_archive->path());
    for (const char* sub : {"Image", "Thumb", "Text"})
        root.mkpath(QStringLiteral("Scans/") + QLatin1String(sub));
    const ImageHandle page = TextPage();
    const ImageHandle thumb = CreateDib(141, 200, 3);
    QByteArray list = QByteArray::number(kPages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= kPages; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        list += number.toLatin1() + ".jpg\r\n";
        ImgKitJpegFileSave(root.filePath(QStringLiteral("Scans/Image/") + number + QStringLiteral(".jpg")), page, 80);
        ImgKitJpegFileSave(root.filePath(QStringLiteral("Scans/Thumb/") + number + QStringLiteral(".jpg")), thumb, 80);
    }
    QFile l(root.filePath(QStringLiteral("Scans/FileList.txt")));
    l.open(QIODevice::WriteOnly);
    l.write(list);
}

void ForgetTexts()
{
    QDir(g_archive->filePath(QStringLiteral("Scans/") + kWordsFolder)).removeRecursively();
}

void BM_WindowStepsWhileRecognising(benchmark::State& state)
{
    ForgetTexts();
    QtPrompt prompt;
    TForm1 form(prompt, g_archive->path());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form) || form.Grid.P != kPages || form.Recognition().Pending() == 0) {
        state.SkipWithError("no recognition running");
        return;
    }
    int stored = 0;
    QObject::connect(&form.Recognition(), &PageRecognition::TextStored, [&] { ++stored; });
    QElapsedTimer since;
    since.start();
    double worst = 0;
    int step = 0;
    int stepsWhileRunning = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        switch (step++ % 4) {
        case 0: form.SpeedButton20Click(); break;  // forward one
        case 1: form.Desk.Click(1); break;
        case 2: form.SpeedButton19Click(); break;  // back one
        case 3: form.Desk.Click(0); break;
        }
        form.repaint();
        QCoreApplication::processEvents();  // the texts that came in meanwhile are stored here
        const double ms = t.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000);
        if (form.Recognition().Pending() > 0) {
            worst = std::max(worst, ms);
            ++stepsWhileRunning;
        }
        QTest::qWait(20);  // a user's pace, so recognition goes on between steps
    }
    state.counters["worst_ms"] = worst;
    state.counters["steps_while_recognising"] = stepsWhileRunning;
    state.counters["pages_per_min"] = stored * 60000.0 / std::max<qint64>(1, since.elapsed());
}
BENCHMARK(BM_WindowStepsWhileRecognising)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(400);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir archive;
    g_archive = &archive;
    return RunWindowBenchmarks(argc, argv, "offscreen", MakeArchive);
}
