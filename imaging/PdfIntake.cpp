// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/PdfIntake.h"

#include "core/PageList.h"
#include "imaging/AutoProcess.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "text/pdf/PdfImport.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <unistd.h>

const QString kUnreadableFormatMessage = QStringLiteral("読込めないデータ形式です");

namespace {

PageResult Refused(const QString& message, const QString& reason, bool asBox)
{
    PageResult r;
    r.message = message;
    r.error.reason = reason;
    r.asBox = asBox;
    return r;
}

// The rendered page's words on the page image made of it: turned with it
// when the processing laid the page down (90 degrees anticlockwise), then
// scaled to its size.
PageText OntoPage(const PageText& rendered, bool turned, int pageWidth, int pageHeight)
{
    PageText text = rendered;
    text.width = pageWidth;
    text.height = pageHeight;
    const double fromW = turned ? rendered.height : rendered.width;
    const double fromH = turned ? rendered.width : rendered.height;
    const double kx = pageWidth / fromW, ky = pageHeight / fromH;
    for (PageWord& word : text.words) {
        QRectF box = word.box;
        if (turned)
            box = QRectF(box.top(), rendered.width - box.right(), box.height(), box.width());
        word.box = QRectF(box.left() * kx, box.top() * ky, box.width() * kx, box.height() * ky)
                       .toAlignedRect()
                       .intersected(QRect(0, 0, pageWidth, pageHeight));
    }
    std::erase_if(text.words, [](const PageWord& w) { return w.box.isEmpty(); });
    return text;
}

}  // namespace

PdfIntakeResult StorePdfPages(ArchiveSession& session, const QString& pdfPath, const Settings& settings,
                              const PdfIntakeProgress& progress)
{
    return StorePdfPages(session, pdfPath, settings, JpegQualityFor(settings.JpegMode),
                         SaveFormatExtension(settings.SaveFormat), progress);
}

PdfIntakeResult StorePdfPages(ArchiveSession& session, const QString& pdfPath, const Settings& settings, int quality,
                              const QString& extension, const PdfIntakeProgress& progress)
{
    PdfIntakeResult result;
    if (!session.HasCategory()) {
        result.outcome = Refused(kCannotSaveMessage, QStringLiteral("no category is chosen"), false);
        return result;
    }
    // The room left as the list on disk says now; each page is checked again
    // as it is filed.
    session.Reload();
    const int room = std::max(0, kPageListLineLimit - int(session.Pages.lines.size()));
    PdfOpenResult open = OpenPdf(pdfPath, room);
    result.pageCount = open.pageCount;
    if (open.status == PdfStatus::TooManyPages) {
        result.outcome = Refused(kPageLimitMessage, open.message, false);
        return result;
    }
    if (open.status != PdfStatus::Ok) {
        result.outcome = Refused(kUnreadableFormatMessage, open.message, true);
        return result;
    }
    const int total = open.pageCount;
    for (int i = 0; i < total; ++i) {
        if (progress && !progress(i, total)) {
            result.stopped = true;
            result.outcome.ok = true;
            return result;
        }
        // A page that is one JPEG alone is filed from that JPEG, as the file
        // of it would be, when its page image comes out as large as from
        // the rendering (never smaller); any other page is rendered.
        PdfRenderedPage rendered = ReadPdfPage(*open.document, i, [&](QSize jpeg, QSize picture) {
            const PageSize fromJpeg = PageSizeFor(jpeg.width(), jpeg.height(), settings);
            const PageSize fromPicture = PageSizeFor(picture.width(), picture.height(), settings);
            return fromJpeg.turned == fromPicture.turned && fromJpeg.width >= fromPicture.width - 1
                   && fromJpeg.height >= fromPicture.height - 1;
        });
        ImageHandle image;
        if (!rendered.jpeg.isEmpty()) {
            image = ImgKitJpegDecode(rendered.jpeg);
            rendered.jpeg = QByteArray();
            const DibLayout decoded = DibLayoutOf(image);
            if (!decoded.valid || decoded.width != rendered.text.width || decoded.height != rendered.text.height) {
                image.Reset();
                rendered = RenderPdfPage(*open.document, i);
            }
        }
        if (rendered.status != PdfStatus::Ok) {
            result.outcome = Refused(kUnreadableFormatMessage, rendered.message, true);
            return result;
        }
        // As an imported image: a 24-bit block, processed as the settings say.
        if (!image) {
            image = QImageToDib(rendered.image);
            rendered.image = QImage();
        }
        if (!image || !ImgKitMakeFullColour(image)) {
            result.outcome = Refused(kUnreadableFormatMessage,
                                     QStringLiteral("page %1 is too large for the image layer").arg(i + 1), true);
            return result;
        }
        const PageImages made = AutoProcessImage(image, settings);
        const DibLayout acquired = DibLayoutOf(image);
        image.Reset();
        const DibLayout page = DibLayoutOf(made.page);
        std::optional<PageText> words;
        if (page.valid && !rendered.text.words.empty()) {
            const bool turned = acquired.width == rendered.text.height && acquired.height == rendered.text.width
                                && acquired.width != acquired.height;
            words = OntoPage(rendered.text, turned, page.width, page.height);
        }
        const PageResult stored = StoreProcessedPage(session, made, quality, extension, words ? &*words : nullptr);
        if (!stored) {
            result.outcome = stored;
            return result;
        }
        result.filed << session.Pages.lines.last();
    }
    if (progress)
        progress(total, total);
    result.outcome.ok = true;
    return result;
}

bool IsPdfFile(const QString& path)
{
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return true;
    FileRead opened;
    const int fd = OpenArchiveFile(path, opened, true);
    if (fd < 0)
        return false;
    char head[5];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == 5 && std::memcmp(head, "%PDF-", 5) == 0;
}
