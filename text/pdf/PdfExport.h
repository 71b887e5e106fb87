// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pages out as one searchable PDF: each page's stored picture as it is (a
// JPEG's own bytes, DCTDecode; a BMP or TIFF page losslessly, Flate) on a page
// the size of A4 at most in the picture's own orientation, and its recognised
// text over it as an invisible, selectable layer (render mode 3, a glyphless
// CID font with Identity-H and a ToUnicode map), so that viewers find and
// pdftotext gives back the words.
//
// Nothing is held for long but the words: each picture is read and checked
// when its page is made, and read again (and found unchanged) when the file
// is written, straight into a temporary file beside the target.

#include "core/ArchiveFiles.h"
#include "core/PageList.h"
#include "core/PageText.h"

#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

struct PdfPageSource {
    QString imagePath;
    std::optional<PageText> text;  // boxes on a picture of text->width × text->height
};

// A page left out of the export, and why.
struct PdfSkippedPage {
    int index = 0;  // in the pages given
    QString reason;

    bool operator==(const PdfSkippedPage&) const = default;
};

struct PdfExportResult {
    bool ok = false;
    int pages = 0;  // written
    std::vector<PdfSkippedPage> skipped;
    QString message;  // what went wrong, in English, for a detailed text
    IoError error;    // when writing the file failed
};

// A4 in points.
inline constexpr double kA4Width = 595.276;
inline constexpr double kA4Height = 841.890;

// The page size in points for a picture of width × height pixels: a portrait
// (or square) picture's width is A4's width, unless its height would then
// exceed A4's height, when its height is A4's height; a landscape picture the
// same against A4 turned. The aspect is kept. So a page scanned 1024 pixels
// wide fills A4's 210 mm.
QSizeF PdfPageSize(int width, int height);

// No stored picture comes near this; a longer file is not read.
inline constexpr qint64 kPdfImageReadLimit = qint64(128) << 20;

// Writes the pages, in order, to outPath (atomically: a temporary file beside
// it, renamed over it; never through a link). A page that cannot be read,
// whose picture is no JPEG/BMP/TIFF this reads, or a JPEG it cannot carry as
// it is (see ReadJpegHeader) is left out and named in `skipped`; with no page
// left nothing is written. A JPEG whose markers leave its colours to the
// reader's guess (JpegColour::Ambiguous) goes in decoded, losslessly. A
// picture that changes while the file is written fails the whole write.
PdfExportResult ExportPdf(const std::vector<PdfPageSource>& pages, const QString& outPath);

// The pages `indexes` of a category's list as export sources: each page's
// image (empty for an entry that names no file or a link: that page is left
// out) with its recognised text when it has one. The one way the window and
// tolvane-batch choose what goes in.
std::vector<PdfPageSource> PdfSourcesOf(const QString& categoryFolder, const PageList& list,
                                        const std::vector<int>& indexes);
