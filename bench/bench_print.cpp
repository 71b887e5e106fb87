// SPDX-License-Identifier: GPL-3.0-or-later
// Printing one page to a PDF file: from the moment the printer set-up dialog
// is confirmed until PrintPageImage has written the file (loading the JPEG
// page, its picture, the drawing and the PDF). A 1024 x 1448 page on A4 at
// 300 and 600 dpi, and a 2480 x 3508 page for scale. Goal: the 1024 x 1448
// page under 300 ms.

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/PrintPage.h"
#include "widgets/QtPrompt.h"

#include <QFileInfo>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryDir>
#include "bench/GuiBench.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir* g_dir = nullptr;

// A scanned-looking page: smooth gradients with some detail.
void WritePage(const QString& path, int width, int height)
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
    ImgKitJpegFileSave(path, h, 85);
}

// Answers the set-up dialog at once with A4 into a PDF file and notes when.
class SetUpPrompt : public QtPrompt {
public:
    QString pdf;
    int dpi = 300;
    Clock::time_point confirmed;
    bool PrinterSetup(QPrinter& printer) override
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setResolution(dpi);
        confirmed = Clock::now();
        return true;
    }
};

void BM_PrintPageToPdf(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const QString page = g_dir->filePath(QStringLiteral("page-%1x%2.jpg").arg(width).arg(height));
    if (!QFileInfo::exists(page))
        WritePage(page, width, height);
    SetUpPrompt prompt;
    prompt.pdf = g_dir->filePath(QStringLiteral("sheet.pdf"));
    prompt.dpi = int(state.range(2));
    qint64 bytes = 0;
    for (auto _ : state) {
        QFile::remove(prompt.pdf);
        QPrinter printer(QPrinter::HighResolution);
        const PrintResult result = PrintPageImage(prompt, printer, page);
        const auto done = Clock::now();
        bytes = QFileInfo(prompt.pdf).size();
        if (result != PrintResult::Printed || bytes == 0) {
            state.SkipWithError("the page was not printed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(done - prompt.confirmed).count());
    }
    state.counters["pdf_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.SetLabel(QStringLiteral("%1 x %2 on A4 at %3 dpi").arg(width).arg(height).arg(prompt.dpi).toStdString());
}
BENCHMARK(BM_PrintPageToPdf)
    ->Args({1024, 1448, 300})
    ->Args({1024, 1448, 600})
    ->Args({2480, 3508, 600})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    return RunWindowBenchmarks(argc, argv, "offscreen");
}
