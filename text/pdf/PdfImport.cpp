// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/pdf/PdfImport.h"

#include "core/ArchiveFiles.h"
#include "text/pdf/PdfPageJpeg.h"

#include <QFile>

#include <poppler/qt6/poppler-qt6.h>

#include <cmath>
#include <exception>
#include <mutex>
#include <optional>

#include <unistd.h>

struct PdfDocument::Impl {
    std::unique_ptr<QFile> file;  // poppler reads through it; it outlives the document
    std::unique_ptr<Poppler::Document> document;
    // The pages that are a JPEG alone, read on the first ReadPdfPage.
    std::unique_ptr<PdfJpegPages> jpegPages;
    bool jpegPagesOpened = false;
};

namespace {

// poppler's last message on this thread, instead of on standard error.
thread_local QString lastPopplerMessage;

void KeepPopplerMessage(const QString& message, const QVariant&)
{
    lastPopplerMessage = message;
}

void QuietPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] { Poppler::setDebugErrorFunction(KeepPopplerMessage, QVariant()); });
}

PdfOpenResult Fail(PdfStatus status, const QString& message, int pageCount = 0)
{
    PdfOpenResult r;
    r.status = status;
    r.message = message;
    r.pageCount = pageCount;
    return r;
}

QString Damaged(const QString& what)
{
    const QString said = lastPopplerMessage.trimmed();
    return said.isEmpty() ? QStringLiteral("the PDF is damaged: %1").arg(what)
                          : QStringLiteral("the PDF is damaged: %1 (%2)").arg(what, said.left(200));
}

QString Points(double v)
{
    return QString::number(v, 'f', v == std::floor(v) ? 0 : 1);
}

// The page's words, their boxes from points to the picture's pixels; a line
// ends where poppler says a word has no next one on it.
PageText TextOf(const Poppler::Page& page, const QSize& pixels, const QSizeF& points)
{
    PageText text;
    text.width = pixels.width();
    text.height = pixels.height();
    text.source = QStringLiteral("pdf");
    const double kx = pixels.width() / points.width();
    const double ky = pixels.height() / points.height();
    const QRect picture(QPoint(0, 0), pixels);
    int line = 0;
    for (const auto& box : page.textList()) {
        const QString word = box->text().trimmed();
        const QRectF r = box->boundingBox();
        const QRect onPicture =
            QRectF(r.left() * kx, r.top() * ky, r.width() * kx, r.height() * ky).toAlignedRect().intersected(picture);
        if (!word.isEmpty() && !onPicture.isEmpty())
            text.words.push_back(PageWord{line, onPicture, -1, word});
        if (!box->nextWord() && !text.words.empty() && text.words.back().line == line)
            ++line;
    }
    return text;
}

// The resolution a page is rendered at: kPdfImportDpi, or what keeps its
// picture within kPdfRenderPixelLimit.
double RenderDpi(const QSizeF& points)
{
    double dpi = kPdfImportDpi;
    const double area = points.width() * points.height() / (72.0 * 72.0);  // square inches
    if (area * dpi * dpi > double(kPdfRenderPixelLimit))
        dpi = std::floor(std::sqrt(double(kPdfRenderPixelLimit) / area));
    return dpi;
}

// poppler's picture of a page at `dpi`: each side rounded up.
QSize RenderSize(const QSizeF& points, double dpi)
{
    return QSize(int(std::ceil(points.width() * dpi / 72.0 - 1e-6)), int(std::ceil(points.height() * dpi / 72.0 - 1e-6)));
}

}  // namespace

PdfDocument::PdfDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PdfDocument::~PdfDocument()
{
    if (impl_)
        impl_->document.reset();
}

int PdfDocument::PageCount() const
{
    return impl_->document->numPages();
}

PdfOpenResult OpenPdf(const QString& path, int pagesAllowed)
{
    QuietPoppler();
    lastPopplerMessage.clear();
    FileRead opened;
    const int fd = OpenArchiveFile(path, opened, true);
    if (fd < 0) {
        switch (opened.status) {
        case FileRead::Missing:
            return Fail(PdfStatus::Unreadable, QStringLiteral("the file is missing"));
        case FileRead::NotRegular:
            return Fail(PdfStatus::Unreadable, QStringLiteral("it is a %1, not a file").arg(opened.kind));
        case FileRead::Link:
            return Fail(PdfStatus::Unreadable, QStringLiteral("the file is a symbolic link"));
        default:
            return Fail(PdfStatus::Unreadable, QStringLiteral("the file cannot be read: %1").arg(opened.error.reason));
        }
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Fail(PdfStatus::Unreadable, QStringLiteral("the file cannot be read: %1").arg(file->errorString()));
    }
    if (opened.size > kPdfReadLimit)
        return Fail(PdfStatus::Unreadable, QStringLiteral("the file is longer than %1 MB").arg(kPdfReadLimit >> 20));
    // A PDF's header may follow some bytes of junk, but not many.
    if (!file->peek(1024).contains("%PDF-"))
        return Fail(PdfStatus::NotPdf, QStringLiteral("it is no PDF file"));

    try {
        auto impl = std::make_unique<PdfDocument::Impl>();
        impl->document = Poppler::Document::load(file.get());
        impl->file = std::move(file);
        Poppler::Document* doc = impl->document.get();
        if (!doc)
            return Fail(PdfStatus::Damaged, Damaged(QStringLiteral("it cannot be opened")));
        if (doc->isLocked())
            return Fail(PdfStatus::Encrypted, QStringLiteral("the PDF is encrypted"));
        const int count = doc->numPages();
        if (count <= 0)
            return Fail(PdfStatus::Damaged, Damaged(QStringLiteral("it has no pages")));
        if (count > pagesAllowed)
            return Fail(PdfStatus::TooManyPages,
                        QStringLiteral("the PDF has %1 pages; the category can take %2 more")
                            .arg(count)
                            .arg(std::max(pagesAllowed, 0)),
                        count);
        for (int i = 0; i < count; ++i) {
            const std::unique_ptr<Poppler::Page> page = doc->page(i);
            if (!page)
                return Fail(PdfStatus::Damaged, Damaged(QStringLiteral("page %1 cannot be read").arg(i + 1)), count);
            const QSizeF size = page->pageSizeF();
            const QString sizeText = QStringLiteral("page %1 is %2 × %3 points")
                                         .arg(i + 1)
                                         .arg(Points(size.width()), Points(size.height()));
            if (!(size.width() >= 1 && size.height() >= 1))
                return Fail(PdfStatus::Damaged, Damaged(sizeText), count);
            if (size.width() > kPdfPageSideLimit || size.height() > kPdfPageSideLimit)
                return Fail(PdfStatus::PageTooLarge,
                            QStringLiteral("%1: larger than %2 × %2 points (200 inches)")
                                .arg(sizeText, Points(kPdfPageSideLimit)),
                            count);
        }
        doc->setRenderHint(Poppler::Document::Antialiasing);
        doc->setRenderHint(Poppler::Document::TextAntialiasing);
        PdfOpenResult result;
        result.status = PdfStatus::Ok;
        result.pageCount = count;
        result.document = std::make_unique<PdfDocument>(std::move(impl));
        return result;
    } catch (const std::exception& e) {
        return Fail(PdfStatus::Damaged, Damaged(QString::fromLocal8Bit(e.what())));
    }
}

PdfRenderedPage RenderPdfPage(PdfDocument& document, int index)
{
    PdfRenderedPage result;
    lastPopplerMessage.clear();
    try {
        const std::unique_ptr<Poppler::Page> page = document.impl_->document->page(index);
        if (!page) {
            result.status = PdfStatus::Damaged;
            result.message = Damaged(QStringLiteral("page %1 cannot be read").arg(index + 1));
            return result;
        }
        const QSizeF points = page->pageSizeF();
        const double dpi = RenderDpi(points);
        result.dpi = int(dpi);
        result.renderSize = RenderSize(points, dpi);
        QImage image = page->renderToImage(dpi, dpi);
        if (image.isNull()) {
            result.message = QStringLiteral("page %1 cannot be rendered").arg(index + 1);
            return result;
        }
        if (image.format() != QImage::Format_RGB32)
            image = image.convertToFormat(QImage::Format_RGB32);
        result.text = TextOf(*page, image.size(), points);
        result.image = std::move(image);
        result.status = PdfStatus::Ok;
    } catch (const std::exception& e) {
        result.message =
            QStringLiteral("page %1 cannot be rendered: %2").arg(index + 1).arg(QString::fromLocal8Bit(e.what()));
    }
    return result;
}

PdfRenderedPage ReadPdfPage(PdfDocument& document, int index,
                            const std::function<bool(QSize jpeg, QSize rendered)>& takeJpeg)
{
    PdfDocument::Impl& impl = *document.impl_;
    if (!impl.jpegPagesOpened) {
        impl.jpegPagesOpened = true;
        impl.jpegPages = PdfJpegPages::Open(impl.file->handle(), impl.document->numPages());
    }
    if (impl.jpegPages && takeJpeg) {
        lastPopplerMessage.clear();
        try {
            const std::unique_ptr<Poppler::Page> page = impl.document->page(index);
            if (page) {
                const QSizeF points = page->pageSizeF();
                const double dpi = RenderDpi(points);
                const QSize rendered = RenderSize(points, dpi);
                std::optional<PdfPageJpeg> jpeg = impl.jpegPages->LoneJpeg(index, points, kPdfRenderPixelLimit);
                if (jpeg && takeJpeg(jpeg->size, rendered)) {
                    PdfRenderedPage result;
                    result.status = PdfStatus::Ok;
                    result.dpi = int(std::lround(jpeg->size.width() * 72.0 / points.width()));
                    result.renderSize = rendered;
                    result.text = TextOf(*page, jpeg->size, points);
                    result.jpeg = std::move(jpeg->bytes);
                    return result;
                }
            }
        } catch (const std::exception&) {
            // rendered below, which says why
        }
    }
    return RenderPdfPage(document, index);
}
