// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/PageIntake.h"

#include "core/PageList.h"
#include "imaging/ImgKit.h"
#include "imaging/RowBands.h"

#include <unistd.h>

ImageHandle LoadImportedFile(const QString& path, const std::function<ImageHandle(const QString&)>& pluginLoad)
{
    // Neither the image layer nor a plug-in is given a named pipe, a device
    // or a folder: reading one would wait for ever, or never end.
    FileRead opened;
    const int fd = OpenArchiveFile(path, opened, true);
    if (fd < 0)
        return {};
    ::close(fd);
    ImageHandle image = ImgKitFileLoad(path);
    if (!image && pluginLoad)
        image = pluginLoad(path);
    return image;
}

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

std::optional<QByteArray> ThumbnailFileFor(const QString& imagePath, const Settings& settings, int quality)
{
    ImageHandle image = ImgKitFileLoad(imagePath);
    if (!ImgKitMakeFullColour(image))
        return std::nullopt;
    const ImageHandle thumbnail = MakeThumbnail(image, settings);
    QByteArray bytes;
    if (!thumbnail || !ImgKitJpegEncode(thumbnail, quality, bytes))
        return std::nullopt;
    return bytes;
}
