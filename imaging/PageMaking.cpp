// SPDX-License-Identifier: GPL-3.0-or-later
// A new page made from its acquired image: processed, then the page image
// and its thumbnail encoded side by side; and stored through the session.
// Nothing here reads a file, so it needs only Qt Core.
#include "imaging/PageIntake.h"

#include "imaging/ImgKit.h"
#include "imaging/RowBands.h"

PageEncoding EncodePageImages(const PageImages& made, int quality, const QString& pageName, const QString& thumbName,
                              QByteArray& pageBytes, QByteArray& thumbBytes)
{
    if (!made.page || !ImgKitEncodeForPath(pageName, made.page, quality, pageBytes))
        return PageEncoding::PageFailed;
    if (!made.thumbnail || !ImgKitEncodeForPath(thumbName, made.thumbnail, quality, thumbBytes))
        return PageEncoding::ThumbnailFailed;
    return PageEncoding::Done;
}

PageMaking ProcessAndEncodePage(ImageHandle& acquired, const Settings& s, int quality, const QString& pageName,
                                const QString& thumbName, QByteArray& pageBytes, QByteArray& thumbBytes)
{
    const ProcessedPage processed = AutoProcessPage(acquired, s);
    acquired.Reset();  // the largest block, not needed from here on
    if (!processed.page)
        return PageMaking::ProcessingFailed;
    bool pageEncoded = false, thumbMade = false, thumbEncoded = false;
    RunSideBySide([&] { pageEncoded = ImgKitEncodeForPath(pageName, processed.page, quality, pageBytes); },
                  [&] {
                      const ImageHandle thumbnail = ThumbnailOf(processed, s);
                      thumbMade = bool(thumbnail);
                      thumbEncoded = thumbMade && ImgKitEncodeForPath(thumbName, thumbnail, quality, thumbBytes);
                  });
    if (!thumbMade)
        return PageMaking::ProcessingFailed;
    if (!pageEncoded)
        return PageMaking::PageFailed;
    return thumbEncoded ? PageMaking::Done : PageMaking::ThumbnailFailed;
}

bool EncodeNewPage(const PageImages& made, int quality, const QString& extension, QByteArray& pageBytes,
                   QByteArray& thumbBytes)
{
    // The page's format follows the extension it is filed under; thumbnails
    // are JPEGs.
    return EncodePageImages(made, quality, QStringLiteral("page") + extension, QStringLiteral("thumb.jpg"), pageBytes,
                            thumbBytes)
           == PageEncoding::Done;
}

PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, int quality,
                              const QString& extension, const PageText* words)
{
    QByteArray pageBytes, thumbBytes;
    if (EncodeNewPage(made, quality, extension, pageBytes, thumbBytes))
        return session.StoreNewPage(pageBytes, extension, thumbBytes, words);
    PageResult failed;
    failed.message = kCannotSaveMessage;
    return failed;
}

PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, const Settings& settings,
                              const PageText* words)
{
    return StoreProcessedPage(session, made, JpegQualityFor(settings.JpegMode),
                              SaveFormatExtension(settings.SaveFormat), words);
}
