// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch process: one image file made into a page image and its
// thumbnail, as intake makes a new page in automatic mode.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"
#include "core/ArchiveFiles.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace batch {

namespace {

// The formats an output may take, by its extension in any letter case.
bool HasImageExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("bmp") || suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")
        || suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
}

// Writes the page image and then the thumbnail, each atomically; when the
// thumbnail fails, the page file is put back as it was (the same write path
// as a re-edited page). `error` names the failure.
bool WriteBoth(const QString& pagePath, const QByteArray& pageBytes, const QString& thumbPath,
               const QByteArray& thumbBytes, QString& error)
{
    IoError io;
    QString failed;
    if (WriteFilesWithRollback({{pagePath, pageBytes}, {thumbPath, thumbBytes}}, &io, &failed))
        return true;
    error = failed == pagePath ? QStringLiteral("cannot write '%1': %2").arg(pagePath, io.reason)
                               : QStringLiteral("cannot write '%1': %2; '%3' left as it was")
                                     .arg(thumbPath, io.reason, pagePath);
    return false;
}

}  // namespace

int RunProcess(const QStringList& args, ImageHandle (*load)(const QString&))
{
    Arguments request;
    try {
        request = ParseArguments(args, ProcessingOptions());
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (request.operands.size() != 3) {
        PrintError(QStringLiteral("process takes IN PAGE_OUT THUMB_OUT, %1 given (see --help)")
                       .arg(request.operands.size()));
        return kExitUsage;
    }
    const QString& inPath = request.operands[0];
    const QString& pagePath = request.operands[1];
    const QString& thumbPath = request.operands[2];

    for (const QString* path : {&pagePath, &thumbPath}) {
        if (!HasImageExtension(*path)) {
            PrintError(QStringLiteral("'%1': the extension must be .bmp, .jpg, .jpeg, .tif or .tiff").arg(*path));
            return kExitUsage;
        }
    }
    if (QFileInfo(ResolvePathForWrite(pagePath)).absoluteFilePath().compare(
            QFileInfo(ResolvePathForWrite(thumbPath)).absoluteFilePath(), Qt::CaseInsensitive)
        == 0) {
        PrintError(QStringLiteral("PAGE_OUT and THUMB_OUT name the same file '%1'").arg(pagePath));
        return kExitUsage;
    }

    const Processing values = ProcessingFrom(request);  // the quality as intake takes it
    const Settings& settings = values.settings;
    const int quality = values.quality;

    ImageHandle image = load(inPath);
    if (!image) {
        PrintError(QStringLiteral("cannot read an image from '%1': %2").arg(inPath, WhyNoImage(inPath)));
        return kExitFailure;
    }
    if (!ImgKitMakeFullColour(image)) {
        PrintError(QStringLiteral("cannot convert '%1' to 24 bits per pixel").arg(inPath));
        return kExitFailure;
    }

    QByteArray pageBytes, thumbBytes;
    switch (ProcessAndEncodePage(image, settings, quality, pagePath, thumbPath, pageBytes, thumbBytes)) {
    case PageMaking::ProcessingFailed:
        PrintError(QStringLiteral("image processing failed for '%1'").arg(inPath));
        return kExitFailure;
    case PageMaking::PageFailed:
        PrintError(QStringLiteral("cannot encode the page image for '%1'").arg(pagePath));
        return kExitFailure;
    case PageMaking::ThumbnailFailed:
        PrintError(QStringLiteral("cannot encode the thumbnail for '%1'").arg(thumbPath));
        return kExitFailure;
    case PageMaking::Done:
        break;
    }
    QString error;
    if (!WriteBoth(pagePath, pageBytes, thumbPath, thumbBytes, error)) {
        PrintError(error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace batch
