// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Printing the shown page: one sheet with the page's picture at 80 % of the
// printable area, centred (core/PrintGeometry.h).

#include <QString>

class Prompt;
class QPrinter;

// How PrintPageImage ended.
enum class PrintResult {
    Cancelled,      // the set-up dialog was cancelled: nothing loaded, nothing printed
    Printed,        // the sheet went to the printer (or its output file)
    LoadFailed,     // the file gave no image; told with a message, nothing printed
    DrawFailed,     // no picture could be made of the image; told, nothing printed
    PrinterFailed,  // the printer would not take the job; nothing told, nothing printed
};

// Asks for the printer in the set-up dialog (prompt.PrinterSetup), then loads
// the image at `imagePath`, makes its picture and prints it on one sheet
// named "Tolvane": the whole picture at its own resolution, drawn into
// PrintTargetRect of the printable area in the printer's device pixels at the
// resolution the printer has, sampled without smoothing. A file that gives no
// image, or an image that gives no picture, is told as "画像ファイルを読み込めません".
// Every image is released before it returns, however it ends.
PrintResult PrintPageImage(Prompt& prompt, QPrinter& printer, const QString& imagePath);
