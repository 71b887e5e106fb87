#include "imaging/PageIntake.h"

#include "core/PageList.h"
#include "imaging/ImgKit.h"

ImageHandle LoadImportedFile(const QString& path, const std::function<ImageHandle(const QString&)>& pluginLoad)
{
    ImageHandle image = ImgKitFileLoad(path);
    if (!image && pluginLoad)
        image = pluginLoad(path);
    return image;
}

bool EncodeNewPage(const PageImages& made, int quality, const QString& extension, QByteArray& pageBytes,
                   QByteArray& thumbBytes)
{
    // The page's format follows the extension it is filed under, as
    // ImgKitEncodeForPath reads it from a name.
    return made.page && made.thumbnail
           && ImgKitEncodeForPath(QStringLiteral("page") + extension, made.page, quality, pageBytes)
           && ImgKitJpegEncode(made.thumbnail, quality, thumbBytes);
}

PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, int quality,
                              const QString& extension)
{
    QByteArray pageBytes, thumbBytes;
    if (EncodeNewPage(made, quality, extension, pageBytes, thumbBytes))
        return session.StoreNewPage(pageBytes, extension, thumbBytes);
    PageResult failed;
    failed.message = kCannotSaveMessage;
    return failed;
}

PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, const Settings& settings)
{
    return StoreProcessedPage(session, made, JpegQualityFor(settings.JpegMode),
                              SaveFormatExtension(settings.SaveFormat));
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
