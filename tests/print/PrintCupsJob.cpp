// SPDX-License-Identifier: GPL-3.0-or-later
// Prints one page through PrintPageImage on a CUPS queue, with the set-up
// dialog answered from a script: the program's own path as far as the
// scheduler. Started by the CUPS test (PrintCupsTest.cpp), which starts its
// scheduler and points CUPS_SERVER at it before this process, and with it
// Qt's CUPS plug-in, reads it.
//
//   tolvane_print_cups_job <printer> <image> <A4|Letter> <portrait|landscape> <dpi>
//
// Prints what the printer was set to ("format native", "printer …",
// "resolution …", "printable x y w h", "paper w h" in device pixels) and
// "result …"; exits 0 when the page went to the queue as a native job.

#include "ui/PrintPage.h"

#include "tests/support/ScriptedPrompt.h"

#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: %s printer image A4|Letter portrait|landscape dpi\n", argv[0]);
        return 2;
    }
    const QString name = args.at(1);
    const QString image = args.at(2);
    const QPageSize paper(args.at(3) == QLatin1String("Letter") ? QPageSize::Letter : QPageSize::A4);
    const QPageLayout::Orientation orientation =
        args.at(4) == QLatin1String("landscape") ? QPageLayout::Landscape : QPageLayout::Portrait;
    const int dpi = args.at(5).toInt();

    ScriptedPrompt prompt;
    prompt.printerHandlers.push_back([&](QPrinter& printer) {
        printer.setPrinterName(name);
        printer.setPageSize(paper);
        printer.setPageOrientation(orientation);
        printer.setResolution(dpi);
        return true;
    });
    QPrinter printer(QPrinter::HighResolution);
    const PrintResult result = PrintPageImage(prompt, printer, image);

    const bool native = printer.outputFormat() == QPrinter::NativeFormat;
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    const QRect sheet = printer.pageLayout().fullRectPixels(printer.resolution());
    std::printf("format %s\n", native ? "native" : "pdf");
    std::printf("printer %s\n", qPrintable(printer.printerName()));
    std::printf("resolution %d\n", printer.resolution());
    std::printf("printable %d %d %d %d\n", printable.x(), printable.y(), printable.width(), printable.height());
    std::printf("paper %d %d\n", sheet.width(), sheet.height());
    std::printf("result %d\n", int(result));
    for (const QString& text : prompt.Texts())
        std::printf("message %s\n", qPrintable(text));
    return result == PrintResult::Printed && native && printer.printerName() == name ? 0 : 1;
}
