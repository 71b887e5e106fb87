#include "imaging/DibQImage.h"

#include <QPainter>
#include <cstring>

namespace {

QList<QRgb> ColorTableOf(const ImageHandle& image, const DibLayout& l)
{
    QList<QRgb> table;
    const uint8_t* p = image.Data() + 40;
    table.reserve(l.colorCount);
    for (int i = 0; i < l.colorCount; ++i)
        table.append(qRgb(p[4 * i + 2], p[4 * i + 1], p[4 * i]));
    return table;
}

void WriteColorTable(ImageHandle& dib, const QList<QRgb>& table)
{
    uint8_t* p = dib.Data() + 40;
    for (qsizetype i = 0; i < table.size(); ++i) {
        p[4 * i] = uint8_t(qBlue(table[i]));
        p[4 * i + 1] = uint8_t(qGreen(table[i]));
        p[4 * i + 2] = uint8_t(qRed(table[i]));
        p[4 * i + 3] = 0;
    }
}

}  // namespace

QImage DibToQImage(const ImageHandle& image)
{
    const DibLayout l = DibLayoutOf(image);
    if (!l.valid)
        return {};
    const uint8_t* bits = image.Data() + l.bitsOffset;
    auto srcRow = [&](int y) { return bits + std::size_t(l.height - 1 - y) * l.stride; };

    switch (l.bitCount) {
    case 24: {
        QImage out(l.width, l.height, QImage::Format_BGR888);
        if (out.isNull())
            return {};
        const std::size_t rowBytes = std::size_t(l.width) * 3;
        for (int y = 0; y < l.height; ++y)
            std::memcpy(out.scanLine(y), srcRow(y), rowBytes);
        return out;
    }
    case 1: {
        QImage out(l.width, l.height, QImage::Format_Mono);
        if (out.isNull())
            return {};
        QList<QRgb> table = ColorTableOf(image, l);
        while (table.size() < 2)
            table.append(table.isEmpty() ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        out.setColorTable(table);
        const std::size_t rowBytes = std::size_t(l.width + 7) / 8;
        for (int y = 0; y < l.height; ++y)
            std::memcpy(out.scanLine(y), srcRow(y), rowBytes);
        return out;
    }
    case 4:
    case 8: {
        QImage out(l.width, l.height, QImage::Format_Indexed8);
        if (out.isNull())
            return {};
        QList<QRgb> table = ColorTableOf(image, l);
        const int entries = l.bitCount == 4 ? 16 : 256;
        if (table.isEmpty()) {
            for (int i = 0; i < entries; ++i) {
                const int v = l.bitCount == 4 ? i * 17 : i;
                table.append(qRgb(v, v, v));
            }
        }
        // indices beyond the table show as black rather than reading past it
        while (table.size() < entries)
            table.append(qRgb(0, 0, 0));
        out.setColorTable(table);
        for (int y = 0; y < l.height; ++y) {
            const uint8_t* s = srcRow(y);
            uint8_t* d = out.scanLine(y);
            if (l.bitCount == 8) {
                std::memcpy(d, s, std::size_t(l.width));
            } else {
                for (int x = 0; x < l.width; ++x)
                    d[x] = (x & 1) ? (s[x / 2] & 0x0F) : (s[x / 2] >> 4);
            }
        }
        return out;
    }
    default:
        return {};
    }
}

ImageHandle QImageToDib(const QImage& image)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    const int w = image.width();
    const int h = image.height();

    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const QImage mono = image.format() == QImage::Format_Mono ? image
                                                                   : image.convertToFormat(QImage::Format_Mono);
        QList<QRgb> table = mono.colorTable();
        while (table.size() < 2)
            table.append(table.isEmpty() ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        table.resize(2);
        ImageHandle dib = ImageHandle::NewDib(w, h, 1, 2);
        if (!dib)
            return dib;
        WriteColorTable(dib, table);
        const DibLayout l = DibLayoutOf(dib);
        uint8_t* bits = dib.Data() + l.bitsOffset;
        const std::size_t rowBytes = std::size_t(w + 7) / 8;
        for (int y = 0; y < h; ++y) {
            uint8_t* d = bits + std::size_t(h - 1 - y) * l.stride;
            std::memcpy(d, mono.constScanLine(y), rowBytes);
            if (w % 8)  // clear the unused low bits of the last byte
                d[rowBytes - 1] &= uint8_t(0xFF << (8 - w % 8));
        }
        return dib;
    }
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8: {
        QList<QRgb> table;
        if (image.format() == QImage::Format_Indexed8) {
            table = image.colorTable();
        } else {
            for (int i = 0; i < 256; ++i)
                table.append(qRgb(i, i, i));
        }
        if (table.isEmpty() || table.size() > 256)
            break;
        ImageHandle dib = ImageHandle::NewDib(w, h, 8, int(table.size()));
        if (!dib)
            return dib;
        WriteColorTable(dib, table);
        const DibLayout l = DibLayoutOf(dib);
        uint8_t* bits = dib.Data() + l.bitsOffset;
        for (int y = 0; y < h; ++y)
            std::memcpy(bits + std::size_t(h - 1 - y) * l.stride, image.constScanLine(y), std::size_t(w));
        return dib;
    }
    default:
        break;
    }

    QImage rgb;
    if (image.hasAlphaChannel()) {
        rgb = QImage(w, h, QImage::Format_BGR888);
        if (rgb.isNull())
            return {};
        rgb.fill(Qt::white);
        QPainter p(&rgb);
        p.drawImage(0, 0, image);
    } else {
        rgb = image.format() == QImage::Format_BGR888 ? image : image.convertToFormat(QImage::Format_BGR888);
    }
    if (rgb.isNull())
        return {};
    ImageHandle dib = ImageHandle::NewDib(w, h, 24);
    if (!dib)
        return dib;
    const DibLayout l = DibLayoutOf(dib);
    uint8_t* bits = dib.Data() + l.bitsOffset;
    for (int y = 0; y < h; ++y)
        std::memcpy(bits + std::size_t(h - 1 - y) * l.stride, rgb.constScanLine(y), std::size_t(w) * 3);
    return dib;
}
