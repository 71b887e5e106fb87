// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A PDF file filed as new pages, one page of the file to one page of the
// category, by the main window's file import and by tolvane-batch add alike:
// each page rendered as a 200 dpi scan of it would be (text/pdf), or, when
// the page is one JPEG alone that gives a page image as large, decoded from
// that JPEG as the file of it would be; brought through the automatic
// processing of an imported image and filed with
// StoreProcessedPage, the PDF's own text of it kept as its recognised text
// (its boxes moved onto the page image). A page without text gets no words
// file, so recognition takes it up later.
//
// The PDF is checked whole before anything is filed: a file that is no PDF,
// damaged or encrypted, a page too large, or more pages than the category
// has room for files nothing. Pages filed before a later failure stay, each
// whole, as images filed one after another do.

#include "core/ArchiveSession.h"
#include "core/Settings.h"

#include <QString>
#include <QStringList>

#include <functional>

// "読込めないデータ形式です", the message of a file the program cannot read.
extern const QString kUnreadableFormatMessage;

struct PdfIntakeResult {
    int pageCount = 0;   // the PDF's pages, when it could be opened
    QStringList filed;   // the page entries filed, in order
    bool stopped = false;  // `progress` asked to stop; the pages filed stay
    // ok when every page was filed (or it stopped); else the message as the
    // window shows it: kUnreadableFormatMessage in a box with poppler's
    // reason as its detail, kPageLimitMessage (the PDF's page count in the
    // detail) or a failure of StoreProcessedPage in an error dialog.
    PageResult outcome;
    explicit operator bool() const { return outcome.ok; }
};

// Called before each page is rendered with the pages filed so far, and with
// `total` once the last is filed; false stops before the next page.
using PdfIntakeProgress = std::function<bool(int done, int total)>;

// Files the pages of the PDF at `pdfPath` at the end of the session's
// current category with the settings' processing, JpegMode's quality and
// SaveFormat's format, as the main window files an imported image.
PdfIntakeResult StorePdfPages(ArchiveSession& session, const QString& pdfPath, const Settings& settings,
                              const PdfIntakeProgress& progress = {});
// The same at `quality` in the format `extension` names (tolvane-batch's
// --quality and --save-format).
PdfIntakeResult StorePdfPages(ArchiveSession& session, const QString& pdfPath, const Settings& settings, int quality,
                              const QString& extension, const PdfIntakeProgress& progress = {});

// True when the file is to be read as a PDF: its name ends in ".pdf" (any
// letter case) or its content begins with "%PDF-". Never waits on a file
// that is no regular file.
bool IsPdfFile(const QString& path);
