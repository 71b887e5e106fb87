// SPDX-License-Identifier: GPL-3.0-or-later
// Image files: the loader (format from the content) and the three savers.

#include "imaging/ImgKit.h"

#include "core/ArchiveFiles.h"
#include "imaging/ImgKitQt.h"

#include <QFile>
#include <cerrno>
#include <QFileInfo>

namespace {

// A file larger than the largest block (plus a BMP file header and slack)
// cannot hold a picture we would accept.
constexpr qint64 kMaxFileBytes = qint64(kMaxDibBytes) + (qint64(1) << 20);

}  // namespace

// --- Loading ---------------------------------------------------------------

ImageHandle ImgKitMemoryLoad(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qsizetype n = bytes.size();
    // FF D8 alone decides: a start-of-image followed by junk is a damaged
    // JPEG for our decoder to refuse, not something for a more lenient reader.
    if (n >= 2 && d[0] == 0xFF && d[1] == 0xD8)
        return ImgKitJpegDecode(bytes);
    if (n >= 4
        && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0)
            || (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43))))
        return ImgKitTiffDecode(bytes);  // classic TIFF and BigTIFF
    if (n >= 2 && d[0] == 'B' && d[1] == 'M')
        return ImgKitBmpDecode(bytes);
    if (n == 0)
        return {};
    return ImgKitQtDecode(bytes, nullptr);
}

ImageHandle ImgKitFileLoad(const QString& path)
{
    if (path.isEmpty())
        return {};
    // Archives come from Windows: a page list may spell a name in other case
    // (ReadArchiveFile resolves it). Only a regular file is read: a named
    // pipe, a device or a folder is refused before any read. A file the user
    // chose may be reached through a link; page files never are (their paths
    // are empty then, see ImagePath).
    // One stat first: a file larger than any picture we take is not read.
    if (QFileInfo(ResolveExistingPath(path)).size() > kMaxFileBytes)
        return {};
    FileRead read = ReadArchiveFile(path, kMaxFileBytes, true);
    if (read.status != FileRead::Read || read.bytes.isEmpty())
        return {};
    return ImgKitMemoryLoad(read.bytes);
}

// --- Saving ----------------------------------------------------------------
// Each saver makes the whole file in memory and writes it in one atomic step.

namespace {

bool NotEncoded(IoError* error)
{
    if (error)
        *error = IoErrorFromErrno(EINVAL);
    return false;
}

}  // namespace

bool ImgKitJpegFileSave(const QString& path, const ImageHandle& image, int quality, IoError* error)
{
    QByteArray bytes;
    if (!ImgKitJpegEncode(image, quality, bytes))
        return NotEncoded(error);
    return WriteFileAtomically(path, bytes, error);
}

bool ImgKitBmpFileSave(const QString& path, const ImageHandle& image, IoError* error)
{
    QByteArray bytes;
    if (!ImgKitBmpEncode(image, bytes))
        return NotEncoded(error);
    return WriteFileAtomically(path, bytes, error);
}

bool ImgKitTiffFileSave(const QString& path, const ImageHandle& image, IoError* error)
{
    QByteArray bytes;
    if (!ImgKitTiffEncode(image, bytes))
        return NotEncoded(error);
    return WriteFileAtomically(path, bytes, error);
}

bool ImgKitEncodeForPath(const QString& path, const ImageHandle& image, int quality, QByteArray& out)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("bmp"))
        return ImgKitBmpEncode(image, out);
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return ImgKitTiffEncode(image, out);
    return ImgKitJpegEncode(image, quality, out);
}
