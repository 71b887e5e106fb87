// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A page of a PDF that is one JPEG picture and nothing else to see, as a
// scanner, this program's own export, or most "scan to PDF" tools write
// it: its JPEG's bytes as they are, so that filing the page decodes them
// instead of rendering the page. Read with qpdf from a file description of
// its own, beside poppler's.
//
// A page qualifies only when rendering it could show nothing but that
// picture, stretched over the whole page: no turn (/Rotate), no unit other
// than the point, no annotation; a content stream of at most
// kPdfLoneJpegContentLimit bytes decoded that paints no path, shading,
// inline image or other XObject, clips nothing, sets no graphics state
// dictionary, marks no optional content and sets text only invisibly (render
// mode 3); one image XObject drawn once, unturned and unflipped, onto the
// page's crop box; that image a plain DCTDecode stream of 8 bits a sample,
// of the width and height its JPEG says, with no mask, soft mask, optional
// content or decode array, and colours a reader takes as the program's
// decoder does (JpegColourOf: grey as DeviceGray, YCbCr and RGB as
// DeviceRGB with a matching /ColorTransform, inverted CMYK as DeviceCMYK with
// the inverting decode array). Every other page is rendered.

#include <QByteArray>
#include <QSize>
#include <QSizeF>

#include <memory>
#include <optional>

inline constexpr qint64 kPdfLoneJpegContentLimit = qint64(4) << 20;
// A larger JPEG stream is rendered instead.
inline constexpr qint64 kPdfLoneJpegLimit = qint64(256) << 20;

struct PdfPageJpeg {
    QByteArray bytes;
    QSize size;  // its pixels, as its frame header says
};

class PdfJpegPages {
public:
    // The PDF behind the open file `fd` (not moved, not closed), when qpdf
    // reads it without repair and counts `pageCount` pages; else null.
    static std::unique_ptr<PdfJpegPages> Open(int fd, int pageCount);
    ~PdfJpegPages();
    PdfJpegPages(const PdfJpegPages&) = delete;
    PdfJpegPages& operator=(const PdfJpegPages&) = delete;

    // Page `index`'s JPEG when the page is that picture alone on a crop box
    // of `pageSize` points (poppler's size of it, which must agree) and the
    // JPEG holds at most `pixelLimit` pixels; nullopt for any other page.
    std::optional<PdfPageJpeg> LoneJpeg(int index, const QSizeF& pageSize, qint64 pixelLimit) const;

private:
    struct Impl;
    explicit PdfJpegPages(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
