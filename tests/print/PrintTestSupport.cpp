// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/print/PrintTestSupport.h"

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>

namespace printtest {

QImage PatternPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uchar((x * 7 + y) % 201);          // red
            row[3 * x + 1] = uchar((y * 5 + x / 3) % 201);  // green
            row[3 * x + 2] = uchar(((x ^ y) * 3) % 201);    // blue
        }
    }
    return picture;
}

bool WritePictureFile(const QString& path, const QImage& picture)
{
    const ImageHandle dib = BitmapToDib(picture);
    return dib && ImgKitBmpFileSave(path, dib);
}

ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs)
{
    ToolRun run;
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        run.error = program + QStringLiteral(" did not start: ") + p.errorString();
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        run.error = program + QStringLiteral(" timed out");
        return run;
    }
    run.out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        run.error = QStringLiteral("%1 %2 failed (exit %3): %4")
                        .arg(program, args.join(u' '))
                        .arg(p.exitCode())
                        .arg(QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        return run;
    }
    run.ok = true;
    return run;
}

QString Poppler(const QString& tool)
{
    return QStandardPaths::findExecutable(tool);
}

QList<EmbeddedImage> ListImages(const QString& pdf, QString* error)
{
    QList<EmbeddedImage> images;
    const ToolRun run = RunTool(Poppler(QStringLiteral("pdfimages")), {QStringLiteral("-list"), pdf});
    if (!run.ok) {
        *error = run.error;
        return images;
    }
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    const QList<QByteArray> lines = run.out.split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines.at(i).simplified().split(' ');
        if (f.size() < 14)
            continue;
        EmbeddedImage image;
        image.page = f.at(0).toInt();
        image.type = QString::fromLatin1(f.at(2));
        image.width = f.at(3).toInt();
        image.height = f.at(4).toInt();
        image.color = QString::fromLatin1(f.at(5));
        image.bpc = f.at(7).toInt();
        image.encoding = QString::fromLatin1(f.at(8));
        image.xPpi = f.at(12).toInt();
        image.yPpi = f.at(13).toInt();
        images.append(image);
    }
    return images;
}

QImage ExtractFirstImage(const QString& pdf, const QString& workFolder, QString* error)
{
    const QString prefix = QDir(workFolder).filePath(QStringLiteral("embedded"));
    const ToolRun run = RunTool(Poppler(QStringLiteral("pdfimages")),
                                {QStringLiteral("-png"), QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                 QStringLiteral("1"), pdf, prefix});
    if (!run.ok) {
        *error = run.error;
        return QImage();
    }
    const QString file = prefix + QStringLiteral("-000.png");
    QImage image(file);
    if (image.isNull())
        *error = QStringLiteral("pdfimages wrote no readable %1").arg(file);
    return image;
}

QImage RenderFirstPage(const QString& pdf, int dpi, const QString& workFolder, QString* error)
{
    const QString prefix = QDir(workFolder).filePath(QStringLiteral("sheet"));
    // Grey PGM without anti-aliasing: a picture pixel is either drawn or not.
    const ToolRun run = RunTool(Poppler(QStringLiteral("pdftoppm")),
                                {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"), QStringLiteral("-aa"),
                                 QStringLiteral("no"), QStringLiteral("-aaVector"), QStringLiteral("no"),
                                 QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
                                 QStringLiteral("-singlefile"), pdf, prefix});
    if (!run.ok) {
        *error = run.error;
        return QImage();
    }
    // A 600 dpi sheet is past Qt's default limit for one image (128 MB).
    QImageReader::setAllocationLimit(1024);
    QImage sheet(prefix + QStringLiteral(".pgm"));
    if (sheet.isNull()) {
        *error = QStringLiteral("pdftoppm wrote no readable sheet");
        return sheet;
    }
    return sheet.convertToFormat(QImage::Format_Grayscale8);
}

QRect InkBounds(const QImage& grey)
{
    // The pattern's darkest channel bound is 200; paper renders 255.
    constexpr int kPaper = 230;
    int left = grey.width(), right = -1, top = grey.height(), bottom = -1;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        int first = -1, last = -1;
        for (int x = 0; x < grey.width(); ++x) {
            if (row[x] < kPaper) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first < 0)
            continue;
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0)
        return QRect();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QString PdfTitle(const QString& pdf)
{
    const ToolRun run = RunTool(Poppler(QStringLiteral("pdfinfo")), {pdf});
    for (const QByteArray& line : run.out.split('\n'))
        if (line.startsWith("Title:"))
            return QString::fromUtf8(line.mid(6).trimmed());
    return QString();
}

qint64 CountDifferentPixels(const QImage& a, const QImage& b, int tolerance, QPoint* first)
{
    if (a.size() != b.size())
        return -1;
    const QImage ca = a.convertToFormat(QImage::Format_RGB888);
    const QImage cb = b.convertToFormat(QImage::Format_RGB888);
    qint64 count = 0;
    for (int y = 0; y < ca.height(); ++y) {
        const uchar* ra = ca.constScanLine(y);
        const uchar* rb = cb.constScanLine(y);
        for (int x = 0; x < ca.width(); ++x) {
            const bool differs = std::abs(ra[3 * x] - rb[3 * x]) > tolerance ||
                                 std::abs(ra[3 * x + 1] - rb[3 * x + 1]) > tolerance ||
                                 std::abs(ra[3 * x + 2] - rb[3 * x + 2]) > tolerance;
            if (differs) {
                if (count == 0 && first)
                    *first = QPoint(x, y);
                ++count;
            }
        }
    }
    return count;
}

}  // namespace printtest
