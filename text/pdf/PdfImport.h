// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A PDF's pages in for filing: each page rendered as a 200 dpi scan of it
// would be, with the text the PDF itself holds (its words' boxes in the
// rendered picture's pixels), one page at a time. The cheap refusals come
// first, in OpenPdf: no regular file, no PDF, damaged, encrypted, more pages
// than the category can take, a page larger than a PDF page may be; no page
// is rendered before all of them passed. poppler's own messages are kept
// off standard error; the last one is the reason a damaged PDF gives.

#include "core/PageText.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

inline constexpr int kPdfImportDpi = 200;
// The largest page a PDF may have (200 inches a side).
inline constexpr double kPdfPageSideLimit = 14400.0;
// A page whose rendering at kPdfImportDpi would hold more pixels than this
// (A2 does not) is rendered at the resolution that gives this many: it is
// scaled down to the page size of the settings anyway.
inline constexpr qint64 kPdfRenderPixelLimit = qint64(24) * 1000 * 1000;
// A longer file is not opened.
inline constexpr qint64 kPdfReadLimit = qint64(1) << 30;

enum class PdfStatus {
    Ok,
    Unreadable,    // missing, no regular file, too long, cannot be read
    NotPdf,        // no "%PDF-" in its first kilobyte
    Damaged,       // poppler cannot open it, it has no pages, or a page is unreadable
    Encrypted,     // locked by a password
    TooManyPages,  // more pages than allowed: the caller says its own limit
    PageTooLarge,  // a page beyond kPdfPageSideLimit
    RenderFailed,  // a page that gave no picture
};

struct PdfRenderedPage {
    PdfStatus status = PdfStatus::RenderFailed;
    QString message;
    QImage image;   // Format_RGB32, no alpha
    PageText text;  // source "pdf", on `image`; no words when the page has none
    int dpi = 0;    // the resolution it was rendered at
    QSize renderSize;  // the size of the picture rendering gives it
    // ReadPdfPage: the page's own JPEG, as the PDF holds it, when the page
    // is that picture alone (see PdfPageJpeg.h) and it was taken; `image`
    // is then null and `text` on the JPEG's pixels.
    QByteArray jpeg;
};

class PdfDocument;

struct PdfOpenResult {
    PdfStatus status = PdfStatus::Unreadable;
    QString message;    // English, for the detailed text of a message
    int pageCount = 0;  // when it could be told
    std::unique_ptr<PdfDocument> document;  // when Ok
};

// Opens the PDF at `path` (a regular file, reached through a link too, as
// the user chose it; never waited on) and checks it whole: its page count
// against `pagesAllowed`, then every page's size.
PdfOpenResult OpenPdf(const QString& path, int pagesAllowed);

// An open PDF: poppler's document and the file it reads from.
class PdfDocument {
public:
    struct Impl;
    explicit PdfDocument(std::unique_ptr<Impl> impl);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    int PageCount() const;

private:
    friend PdfRenderedPage RenderPdfPage(PdfDocument& document, int index);
    friend PdfRenderedPage ReadPdfPage(PdfDocument& document, int index,
                                       const std::function<bool(QSize jpeg, QSize rendered)>& takeJpeg);
    std::unique_ptr<Impl> impl_;
};

// Renders the page `index` (from 0) at kPdfImportDpi, or lower for a page
// beyond kPdfRenderPixelLimit.
PdfRenderedPage RenderPdfPage(PdfDocument& document, int index);

// Page `index` as filing takes it: the page's own JPEG when the page is that
// picture alone and `takeJpeg`, given the JPEG's size and the size rendering
// would give, takes it (the words' boxes then on the JPEG's pixels); else
// RenderPdfPage's picture.
PdfRenderedPage ReadPdfPage(PdfDocument& document, int index,
                            const std::function<bool(QSize jpeg, QSize rendered)>& takeJpeg);
