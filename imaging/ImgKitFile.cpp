// SPDX-License-Identifier: GPL-3.0-or-later
// Image files: the loader (format from the content) and the three savers.

#include "imaging/ImgKit.h"

#include "core/ArchiveFiles.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <cerrno>
#include <QFileInfo>

namespace {

// A file larger than the largest block (plus a BMP file header and slack)
// cannot hold a picture we would accept.
constexpr qint64 kMaxFileBytes = qint64(kMaxDibBytes) + (qint64(1) << 20);

}  // namespace

// --- Loading ---------------------------------------------------------------

bool ImgKitReadsItself(const uint8_t* d, std::size_t n)
{
    // FF D8 alone decides: a start-of-image followed by junk is a damaged
    // JPEG for our decoder to refuse, not something for a more lenient reader.
    return (n >= 2 && d[0] == 0xFF && d[1] == 0xD8)
        || (n >= 4
            && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0)
                || (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43))))  // TIFF, BigTIFF
        || (n >= 2 && d[0] == 'B' && d[1] == 'M');
}

ImageHandle ImgKitOwnFormatDecode(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (!ImgKitReadsItself(d, std::size_t(bytes.size())))
        return {};
    if (d[0] == 0xFF)
        return ImgKitJpegDecode(bytes);
    if (d[0] == 'B')
        return ImgKitBmpDecode(bytes);
    return ImgKitTiffDecode(bytes);
}

ImageHandle ImgKitFileLoadWith(const QString& path, ImageHandle (*decode)(const QByteArray&))
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
    // Into a block of the size the file has, made present at once (see
    // ImageHandle::Allocate): a file of a scan is megabytes.
    ImageHandle block;
    std::size_t used = 0;
    const FileRead read = ReadArchiveChunks(
        path,
        [&](const char* data, qsizetype n) {
            if (std::size_t(n) > block.Size() - used)
                return false;  // grown since it was opened
            std::memcpy(block.Data() + used, data, std::size_t(n));
            used += std::size_t(n);
            return true;
        },
        true, [&](qint64 size) { block = ImageHandle::Allocate(std::size_t(std::clamp<qint64>(size, 1, kMaxFileBytes))); });
    if (read.status == FileRead::TooLong) {
        // Still being written, perhaps: read as it is now, within the limit.
        const FileRead whole = ReadArchiveFile(path, kMaxFileBytes, true);
        if (whole.status != FileRead::Read || whole.bytes.isEmpty())
            return {};
        return decode(whole.bytes);
    }
    if (read.status != FileRead::Read || used == 0)
        return {};
    // The decoders read the bytes only while they decode.
    return decode(QByteArray::fromRawData(reinterpret_cast<const char*>(block.Data()), qsizetype(used)));
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
