// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/PageIntake.h"

#include "core/PageList.h"
#include "imaging/ImgKit.h"

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
