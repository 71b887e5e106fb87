// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed corpus of the fuzz targets: a few small valid files per
// format, a few damaged ones, and page lists and memos with odd entries.
//   fuzz_make_corpus fuzz/corpus
// The output is committed; run it again only to change the seeds.

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>

namespace {

QString root;
int written = 0;

void Put(const char* target, const char* name, const QByteArray& bytes)
{
    const QString dir = root + u'/' + QLatin1String(target);
    QDir().mkpath(dir);
    QFile f(dir + u'/' + QLatin1String(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s/%s\n", target, name);
        std::exit(1);
    }
    ++written;
}

// A small picture with edges and colours worth decoding.
QImage Picture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor((x * 255) / std::max(1, w - 1), (y * 255) / std::max(1, h - 1), (x ^ y) * 16 & 255));
    return img;
}

QByteArray QtWrite(const QImage& img, const char* format, int quality = -1)
{
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    QImageWriter w(&buf, format);
    if (quality >= 0)
        w.setQuality(quality);
    if (!w.write(img)) {
        std::fprintf(stderr, "Qt cannot write %s: %s\n", format, qPrintable(w.errorString()));
        return {};
    }
    return out;
}

QByteArray Encoded(bool (*encode)(const ImageHandle&, QByteArray&), const QImage& img)
{
    QByteArray out;
    if (!encode(QImageToDib(img), out)) {
        std::fprintf(stderr, "encoder failed\n");
        std::exit(1);
    }
    return out;
}

bool Bmp(const ImageHandle& i, QByteArray& o) { return ImgKitBmpEncode(i, o); }
bool Tiff(const ImageHandle& i, QByteArray& o) { return ImgKitTiffEncode(i, o); }
bool Jpeg90(const ImageHandle& i, QByteArray& o) { return ImgKitJpegEncode(i, 90, o); }

// A 2 x 2 GIF with a four-colour table, written out by hand (Qt reads GIF
// but does not write it).
QByteArray TinyGif()
{
    static const unsigned char bytes[] = {
        'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x81, 0, 0,  // screen 2x2, global table of 4
        0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255,            // black, red, green, blue
        0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0,                      // image 2x2
        2, 3, 0x44, 0x34, 0x05, 0, 0x3B};                     // LZW (min code 2), trailer
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void Le(QByteArray& b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

// A BMP file: file header, 40-byte info header, colour table, pixel data.
QByteArray BmpFile(int w, int h, int bits, uint32_t compression, int colours, const QByteArray& pixels)
{
    QByteArray b("BM");
    const uint32_t offset = 14 + 40 + 4 * colours;
    Le(b, offset + pixels.size(), 4);
    Le(b, 0, 4);
    Le(b, offset, 4);
    Le(b, 40, 4);
    Le(b, w, 4);
    Le(b, h, 4);
    Le(b, 1, 2);
    Le(b, bits, 2);
    Le(b, compression, 4);
    Le(b, pixels.size(), 4);
    Le(b, 2835, 4);
    Le(b, 2835, 4);
    Le(b, colours, 4);
    Le(b, 0, 4);
    for (int i = 0; i < colours; ++i)
        Le(b, (i * 17) | (255 - i * 17) << 8 | (i * 40 & 255) << 16, 4);
    return b + pixels;
}

// 5 x 3 at 4 bits: three bytes of pixels and one of padding per row.
QByteArray Bmp4()
{
    QByteArray rows;
    for (int y = 0; y < 3; ++y) {
        rows.append(char(0x01 + y * 0x22));
        rows.append(char(0x45));
        rows.append(char(0xF0));  // last pixel 15, low nibble unused
        rows.append('\0');
    }
    return BmpFile(5, 3, 4, 0, 16, rows);
}

// 6 x 2 at 8 bits, RLE8: runs, an absolute run, end of line, end of bitmap.
QByteArray BmpRle8()
{
    const char rle[] = {3, 1, 3, 2, 0, 0, 0, 4, 5, 6, 7, 8, 2, 9, 0, 0, 0, 1};
    return BmpFile(6, 2, 8, 1, 16, QByteArray(rle, sizeof rle));
}

void Images()
{
    const QImage colour = Picture(13, 7);
    const QImage grey = Picture(9, 5).convertToFormat(QImage::Format_Grayscale8);
    const QImage palette = Picture(11, 3).convertToFormat(QImage::Format_Indexed8);
    const QImage mono = Picture(17, 4).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);

    // JPEG: colour, grey, progressive, and a cut-off file.
    Put("jpeg", "colour.jpg", Encoded(Jpeg90, colour));
    Put("jpeg", "grey.jpg", Encoded(Jpeg90, grey));
    Put("jpeg", "qt-progressive.jpg", [&] {
        QByteArray out;
        QBuffer buf(&out);
        buf.open(QIODevice::WriteOnly);
        QImageWriter w(&buf, "jpeg");
        w.setProgressiveScanWrite(true);
        w.write(Picture(16, 16));
        return out;
    }());
    Put("jpeg", "truncated.jpg", Encoded(Jpeg90, colour).left(200));

    // TIFF: each kind the saver writes, and a cut-off file.
    Put("tiff", "rgb-lzw.tif", Encoded(Tiff, colour));
    Put("tiff", "grey.tif", Encoded(Tiff, grey));
    Put("tiff", "palette.tif", Encoded(Tiff, palette));
    Put("tiff", "g4.tif", Encoded(Tiff, mono));
    Put("tiff", "truncated.tif", Encoded(Tiff, colour).left(60));

    // BMP: every depth the own reader takes, and RLE for the Qt fallback.
    Put("bmp", "24.bmp", Encoded(Bmp, colour));
    Put("bmp", "8.bmp", Encoded(Bmp, palette));
    Put("bmp", "1.bmp", Encoded(Bmp, mono));
    Put("bmp", "4.bmp", Bmp4());
    Put("bmp", "rle8.bmp", BmpRle8());
    Put("bmp", "qt-32.bmp", QtWrite(colour.convertToFormat(QImage::Format_ARGB32), "bmp"));

    // Formats only Qt reads.
    Put("qt", "colour.png", QtWrite(colour, "png"));
    Put("qt", "grey.png", QtWrite(grey, "png"));
    Put("qt", "palette.png", QtWrite(palette, "png"));
    Put("qt", "tiny.gif", TinyGif());
    if (QImageWriter::supportedImageFormats().contains("webp"))
        Put("qt", "colour.webp", QtWrite(colour, "webp", 50));
    Put("qt", "colour.ppm", QtWrite(colour, "ppm"));
    Put("qt", "mono.xbm", QtWrite(mono, "xbm"));
    if (QImageWriter::supportedImageFormats().contains("ico"))
        Put("qt", "icon.ico", QtWrite(Picture(16, 16), "ico"));

    // The loader decides by content: one of each.
    Put("memoryload", "colour.jpg", Encoded(Jpeg90, colour));
    Put("memoryload", "palette.tif", Encoded(Tiff, palette));
    Put("memoryload", "8.bmp", Encoded(Bmp, palette));
    Put("memoryload", "colour.png", QtWrite(colour, "png"));
    Put("memoryload", "tiny.gif", TinyGif());
}

void Texts()
{
    // Page lists: a plain one, every line ending, entries that must name no
    // file, CP932 names, a lone lead byte, an empty list.
    Put("pagelist", "plain.txt", "00000003\r\n00000001.jpg\r\n00000002.bmp\r\n00000003.tif\r\n");
    Put("pagelist", "line-ends.txt", "00000004\n00000001.jpg\r00000002.jpg\r\n\r\n00000004.JPG");
    Put("pagelist", "unsafe.txt",
        QByteArray("00000009\r\n../00000001.jpg\r\n..\r\n.\r\n\r\nsub/00000002.jpg\r\nsub\\00000003.jpg\r\n"
                   "/etc/passwd\r\n00000004\x01.jpg\r\n", 100)
            + QByteArray("0000\0" "0005.jpg\r\n", 15));
    Put("pagelist", "cp932.txt", "00000002\r\n\x93\xfa\x96\x7b.jpg\r\n\x83\x5c\x5c..\\x.jpg\r\n\x82\r\n");
    Put("pagelist", "empty.txt", "");
    Put("pagelist", "leftover.txt", "00000002\r\n.00000001.jpg.tlv-a1B2c3D4.tmp\r\n.00000002.jpg.tlv-short.tmp\r\n");
    // The shapes of hostile lists, smaller: one line far past any entry (a
    // double-byte code across the point where a line is cut), and many
    // lines of one entry.
    Put("pagelist", "long-line.txt",
        "00000001\r\n" + QByteArray(1023, 'a') + "\x93\xfa" + QByteArray(70000, 'b') + "\r\n00000001.jpg\r\n");
    Put("pagelist", "many-lines.txt", "99999999\r\n" + QByteArray("00000001.jpg\r\n").repeated(5000));

    // Memos: CR LF text, mixed line ends, CP932 with undefined codes, an
    // empty memo and one empty line.
    Put("memo", "plain.txt", "first line\r\nsecond line\r\n");
    Put("memo", "mixed.txt", "a\rb\nc\r\n\n\rd");
    Put("memo", "cp932.txt", "\x93\xfa\x96\x7b\x8c\xea\r\n\x81\x60\x81\x5f\xed\x40\xfa\x5c\x80\xa0\xfd\x82\r\n");
    Put("memo", "empty.txt", "");
    Put("memo", "one-line.txt", "\r\n");
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    root = QString::fromLocal8Bit(argv[1]);
    Images();
    Texts();
    std::printf("%d files written to %s\n", written, argv[1]);
    return 0;
}
