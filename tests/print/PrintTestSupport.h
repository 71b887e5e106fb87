// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the printing tests share: pattern pictures written as files, and
// reading a printed PDF back with poppler (pdfimages for the embedded
// picture, pdftoppm for where it sits on the sheet).

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

namespace printtest {

// A 24-bit picture whose every pixel differs from its neighbours in some
// channel and none of which is near white (each channel 0..200), so that
// the printed picture stands out from the paper to its last row and column.
QImage PatternPicture(int width, int height);

// Writes `picture` (RGB888) as a 24-bit BMP through the image library; false
// when it could not.
bool WritePictureFile(const QString& path, const QImage& picture);

// A tool's output, or why it failed (not found, timed out, non-zero exit).
struct ToolRun {
    bool ok = false;
    QByteArray out;
    QString error;
};
ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs = 120000);

// The path of a poppler tool, or empty when it is not installed.
QString Poppler(const QString& tool);

// One line of `pdfimages -list`.
struct EmbeddedImage {
    int page = 0;
    QString type;     // image, mask, smask, stencil
    int width = 0;
    int height = 0;
    QString color;    // rgb, gray, index, …
    int bpc = 0;
    QString encoding;  // image (Flate), jpeg, …
    int xPpi = 0;
    int yPpi = 0;
};
// The images embedded in the PDF, or an error in `error`.
QList<EmbeddedImage> ListImages(const QString& pdf, QString* error);

// The first image of page 1 as pdfimages writes it out at its own size
// (PNG), null with `error` set when that failed.
QImage ExtractFirstImage(const QString& pdf, const QString& workFolder, QString* error);

// Page 1 rendered at `dpi` in grey without anti-aliasing (pdftoppm), the
// whole sheet; null with `error` set when that failed.
QImage RenderFirstPage(const QString& pdf, int dpi, const QString& workFolder, QString* error);

// The smallest rectangle holding every pixel darker than near white on a
// grey rendering; empty when the sheet is blank.
QRect InkBounds(const QImage& grey);

// The Title entry of the PDF's information (pdfinfo), or empty.
QString PdfTitle(const QString& pdf);

// The number of pixels where `a` and `b` (same size) differ in any of red,
// green and blue by more than `tolerance`; -1 when their sizes differ. The
// first such pixel goes to `first` when given.
qint64 CountDifferentPixels(const QImage& a, const QImage& b, int tolerance, QPoint* first = nullptr);

}  // namespace printtest
