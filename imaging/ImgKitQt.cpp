// The fallback through Qt's image readers, for the formats the layer has no
// reader of its own for.

#include "imaging/ImgKitQt.h"

#include "imaging/DibQImage.h"

#include <QBuffer>
#include <QImageReader>

// Any format Qt reads, decided by the content alone. Qt's reader keeps its
// own allocation limit (QImageReader::allocationLimit); on top of that the
// announced size must fit our block limits before anything is decoded.
ImageHandle ImgKitQtDecode(const QByteArray& bytes, const char* format)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format ? QByteArray(format) : QByteArray());
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > kMaxDibSide || size.height() > kMaxDibSide
            || uint64_t(DibStride(size.width(), 24)) * uint64_t(size.height()) > kMaxDibBytes)
            return {};
    }
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return {};
    return QImageToDib(image);
}
