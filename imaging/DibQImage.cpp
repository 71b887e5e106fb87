// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/DibQImage.h"

#include "imaging/Dib.h"

#include <QPainter>

#include <algorithm>
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

uint8_t ReversedBits(uint8_t b)
{
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Rows converted at a time for the formats read through a second image.
constexpr int kBandRows = 64;

bool BandIsOpaque(const QImage& image, int y0, int rows)
{
    if (image.format() == QImage::Format_RGB32)
        return true;
    for (int y = y0; y < y0 + rows; ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (!std::all_of(s, s + image.width(), [](QRgb c) { return qAlpha(c) == 255; }))
            return false;
    }
    return true;
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
        // MonoLSB keeps the leftmost pixel in the lowest bit: the same rows
        // with each byte's bits reversed.
        const bool lsbFirst = image.format() == QImage::Format_MonoLSB;
        QList<QRgb> table = image.colorTable();
        while (table.size() < 2)
            table.append(table.isEmpty() ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        table.resize(2);
        ImageHandle dib = ImageHandle::NewDibForOverwrite(w, h, 1, 2);
        if (!dib)
            return dib;
        WriteColorTable(dib, table);
        const DibLayout l = DibLayoutOf(dib);
        uint8_t* bits = dib.Data() + l.bitsOffset;
        const std::size_t rowBytes = std::size_t(w + 7) / 8;
        for (int y = 0; y < h; ++y) {
            uint8_t* d = bits + std::size_t(h - 1 - y) * l.stride;
            std::memcpy(d, image.constScanLine(y), rowBytes);
            if (lsbFirst)
                for (std::size_t i = 0; i < rowBytes; ++i)
                    d[i] = ReversedBits(d[i]);
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
        ImageHandle dib = ImageHandle::NewDibForOverwrite(w, h, 8, int(table.size()));
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

    ImageHandle dib = ImageHandle::NewDibForOverwrite(w, h, 24);
    if (!dib)
        return dib;
    const DibLayout l = DibLayoutOf(dib);
    uint8_t* bits = dib.Data() + l.bitsOffset;
    auto dibRow = [&](int y) { return bits + std::size_t(h - 1 - y) * std::size_t(l.stride); };
    const std::size_t rowBytes = std::size_t(w) * 3;

    // Straight from the picture's rows where its format is one of the usual
    // ones; anything else a band of rows at a time, so that a large picture
    // is never held twice.
    switch (image.format()) {
    case QImage::Format_BGR888:
        for (int y = 0; y < h; ++y)
            std::memcpy(dibRow(y), image.constScanLine(y), rowBytes);
        return dib;
    case QImage::Format_RGB888:
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = image.constScanLine(y);
            uint8_t* d = dibRow(y);
            for (int x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        return dib;
    default:
        break;
    }
    const bool argb32 = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        || image.format() == QImage::Format_ARGB32_Premultiplied;
    const bool alpha = image.hasAlphaChannel();
    QImage band;  // the painted or converted rows of one band
    for (int y0 = 0; y0 < h; y0 += kBandRows) {
        const int rows = std::min(kBandRows, h - y0);
        if (argb32 && BandIsOpaque(image, y0, rows)) {
            // An opaque pixel is its own colour on any background.
            for (int y = y0; y < y0 + rows; ++y) {
                const auto* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                uint8_t* d = dibRow(y);
                for (int x = 0; x < w; ++x, d += 3) {
                    d[0] = uint8_t(qBlue(s[x]));
                    d[1] = uint8_t(qGreen(s[x]));
                    d[2] = uint8_t(qRed(s[x]));
                }
            }
            continue;
        }
        // The band's rows as an image of their own, sharing the pixels.
        QImage rowsOf(image.constScanLine(y0), w, rows, image.bytesPerLine(), image.format());
        if (image.format() == QImage::Format_Indexed8)  // one without a usable table
            rowsOf.setColorTable(image.colorTable());
        if (alpha) {  // laid on white
            if (band.width() != w || band.height() != rows)
                band = QImage(w, rows, QImage::Format_BGR888);
            if (band.isNull())
                return {};
            band.fill(Qt::white);
            QPainter p(&band);
            p.drawImage(0, 0, rowsOf);
        } else {
            band = rowsOf.convertToFormat(QImage::Format_BGR888);
            if (band.isNull())
                return {};
        }
        for (int y = 0; y < rows; ++y)
            std::memcpy(dibRow(y0 + y), band.constScanLine(y), rowBytes);
    }
    return dib;
}

bool TMDIB::DrawToImage(PictureTarget& image)
{
    if (!layout_.valid)
        return false;
    // DibToQImage copies the rows top row first, each from
    // Bits + (Height - 1 - row) x Stride, and takes over the colour table
    // entry for entry as MakePalette reads it. A 24-bit picture needs no
    // palette in Qt; the fixed cube only mattered for palette displays.
    const QImage picture = DibToQImage(block_);
    if (picture.isNull())
        return false;
    image.SetPicture(picture);
    return true;
}

ImageHandle BitmapToDib(const QImage& bitmap)
{
    switch (bitmap.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        return QImageToDib(bitmap);
    case QImage::Format_Indexed8: {
        // An 8-bit block needs a table of 1..256 entries; a bitmap without
        // one shows index i as grey i, as a table-less 8-bit block reads.
        const int colours = bitmap.colorCount();
        if (colours >= 1 && colours <= 256)
            return QImageToDib(bitmap);
        QImage copy = bitmap;
        QList<QRgb> table = copy.colorTable();
        if (table.isEmpty()) {
            for (int i = 0; i < 256; ++i)
                table.append(qRgb(i, i, i));
        }
        table.resize(256);
        copy.setColorTable(table);
        return QImageToDib(copy);
    }
    default:
        return {};
    }
}
