// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/pdf/PdfExport.h"

#include "text/pdf/GlyphlessFont.h"
#include "text/pdf/JpegHeader.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QHash>
#include <QImage>
#include <QImageReader>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace {

using Oh = QPDFObjectHandle;

std::string Std(const QByteArray& b)
{
    return std::string(b.constData(), size_t(b.size()));
}

// A number for a content stream: no exponent, a few decimals.
QByteArray Num(double v)
{
    QByteArray s = QByteArray::number(v, 'f', 3);
    while (s.contains('.') && (s.endsWith('0') || s.endsWith('.')))
        s.chop(1);
    return s == "-0" ? QByteArray("0") : s;
}

// The picture file, read whole (bounded); nullopt with the reason.
std::optional<QByteArray> ReadPicture(const QString& path, QString* why)
{
    if (path.isEmpty()) {
        *why = QStringLiteral("the entry names no file");
        return std::nullopt;
    }
    FileRead read = ReadArchiveFile(path, kPdfImageReadLimit);
    switch (read.status) {
    case FileRead::Read:
        return std::move(read.bytes);
    case FileRead::Missing:
        *why = QStringLiteral("the file is missing");
        break;
    case FileRead::Link:
        *why = QStringLiteral("the file is a symbolic link");
        break;
    case FileRead::NotRegular:
        *why = QStringLiteral("the picture is a %1").arg(read.kind);
        break;
    case FileRead::TooLong:
        *why = QStringLiteral("the picture is longer than %1 MB").arg(kPdfImageReadLimit >> 20);
        break;
    case FileRead::Failed:
        *why = QStringLiteral("the picture cannot be read: %1").arg(read.error.reason);
        break;
    }
    return std::nullopt;
}

QByteArray Digest(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

QImage DecodePicture(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

// The picture's data, read again when the file is written: the bytes as
// stored, or the decoded pixels (grey or RGB rows) for the writer to flate.
// What was checked is what goes in: a file changed since fails the write.
class PictureData : public QPDFObjectHandle::StreamDataProvider {
public:
    PictureData(QString path, QByteArray digest, bool asStored, bool grey, QSize size)
        : path_(std::move(path)), digest_(std::move(digest)), asStored_(asStored), grey_(grey), size_(size)
    {
    }

    void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override
    {
        QString why;
        const std::optional<QByteArray> bytes = ReadPicture(path_, &why);
        if (!bytes || Digest(*bytes) != digest_)
            throw std::runtime_error(QStringLiteral("the picture %1 changed while the PDF was written")
                                         .arg(path_)
                                         .toStdString());
        if (asStored_) {
            pipeline->write(reinterpret_cast<const unsigned char*>(bytes->constData()), size_t(bytes->size()));
        } else {
            const QImage image =
                DecodePicture(*bytes).convertToFormat(grey_ ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
            if (image.size() != size_)
                throw std::runtime_error(
                    QStringLiteral("the picture %1 cannot be decoded again").arg(path_).toStdString());
            const size_t rowBytes = size_t(image.width()) * (grey_ ? 1 : 3);
            for (int y = 0; y < image.height(); ++y)
                pipeline->write(image.constScanLine(y), rowBytes);
        }
        pipeline->finish();
    }

private:
    QString path_;
    QByteArray digest_;
    bool asStored_;
    bool grey_;
    QSize size_;
};

struct Picture {
    Oh stream;
    int width = 0;
    int height = 0;
};

Oh ImageDictionary(int width, int height, const char* space)
{
    Oh dict = Oh::newDictionary();
    dict.replaceKey("/Type", Oh::newName("/XObject"));
    dict.replaceKey("/Subtype", Oh::newName("/Image"));
    dict.replaceKey("/Width", Oh::newInteger(width));
    dict.replaceKey("/Height", Oh::newInteger(height));
    dict.replaceKey("/BitsPerComponent", Oh::newInteger(8));
    dict.replaceKey("/ColorSpace", Oh::newName(space));
    return dict;
}

// The stored picture as an image XObject: a JPEG's bytes as they are, any
// other picture's pixels (the writer flates them).
std::optional<Picture> MakePicture(QPDF& pdf, const QString& path, QString* why)
{
    const std::optional<QByteArray> bytes = ReadPicture(path, why);
    if (!bytes)
        return std::nullopt;
    if (bytes->startsWith("\xFF\xD8")) {
        const std::optional<JpegHeader> frame = ReadJpegHeader(*bytes, why);
        if (!frame)
            return std::nullopt;
        const JpegColour colour = JpegColourOf(*frame);
        if (colour != JpegColour::Ambiguous) {
            const char* space = colour == JpegColour::Grey           ? "/DeviceGray"
                                : colour == JpegColour::InvertedCmyk ? "/DeviceCMYK"
                                                                     : "/DeviceRGB";
            Oh dict = ImageDictionary(frame->width, frame->height, space);
            if (colour == JpegColour::InvertedCmyk)
                dict.replaceKey("/Decode", Oh::parse("[1 0 1 0 1 0 1 0]"));
            Oh stream = pdf.newStream();
            stream.replaceDict(dict);
            const Oh parms = colour == JpegColour::Rgb ? Oh::parse("<< /ColorTransform 0 >>") : Oh::newNull();
            stream.replaceStreamData(
                std::make_shared<PictureData>(path, Digest(*bytes), true, false, QSize(frame->width, frame->height)),
                Oh::newName("/DCTDecode"), parms);
            return Picture{stream, frame->width, frame->height};
        }
        // Readers would guess its colours differently: decoded, as the
        // program decodes it.
    }
    const QImage image = DecodePicture(*bytes);
    if (image.isNull()) {
        *why = QStringLiteral("it is no JPEG, BMP or TIFF file");
        return std::nullopt;
    }
    const bool grey = image.allGray();
    Oh stream = pdf.newStream();
    stream.replaceDict(ImageDictionary(image.width(), image.height(), grey ? "/DeviceGray" : "/DeviceRGB"));
    stream.replaceStreamData(std::make_shared<PictureData>(path, Digest(*bytes), false, grey, image.size()),
                             Oh::newNull(), Oh::newNull());
    return Picture{stream, image.width(), image.height()};
}

// The text font: codes are UTF-16 code units (Identity-H), all drawn with the
// one empty glyph, each half an em wide; ToUnicode gives the characters back.
// A character beyond the BMP gets a code of the surrogate range, unused
// otherwise, mapped to it alone.
class TextFont {
public:
    explicit TextFont(QPDF& pdf) : pdf_(pdf) {}

    Oh Font()
    {
        if (!font_.isInitialized())
            Make();
        return font_;
    }

    // The codes of `text` as hex digits for a Tj string.
    QByteArray Codes(const QString& text)
    {
        QByteArray hex;
        hex.reserve(text.size() * 4);
        for (const char32_t c : text.toUcs4()) {
            uint code = c;
            if (c > 0xFFFF) {
                auto it = spare_.constFind(c);
                if (it == spare_.constEnd()) {
                    if (spare_.size() >= kSpareCodes)
                        continue;  // the rarest characters of a huge export go without
                    it = spare_.insert(c, uint(0xD800 + spare_.size()));
                }
                code = *it;
            } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
                continue;
            }
            hex += QByteArray::number(code | 0x10000, 16).mid(1).toUpper();
        }
        return hex;
    }

    // ToUnicode, once every page is made.
    void Finish()
    {
        if (!font_.isInitialized())
            return;
        // Ranges may only run over the last byte, at most 100 to a block.
        QByteArrayList ranges;
        for (int high = 0; high < 256; ++high)
            if (high < 0xD8 || high > 0xDF)
                ranges << QByteArray::number(0x100 | high, 16).mid(1).toUpper();
        QByteArray cmap =
            "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
            "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
        for (qsizetype i = 0; i < ranges.size(); i += 100) {
            const qsizetype n = std::min<qsizetype>(100, ranges.size() - i);
            cmap += QByteArray::number(n) + " beginbfrange\n";
            for (qsizetype j = i; j < i + n; ++j)
                cmap += '<' + ranges[j] + "00> <" + ranges[j] + "FF> <" + ranges[j] + "00>\n";
            cmap += "endbfrange\n";
        }
        QList<std::pair<uint, char32_t>> spare;
        for (auto it = spare_.constBegin(); it != spare_.constEnd(); ++it)
            spare.push_back({it.value(), it.key()});
        std::sort(spare.begin(), spare.end());
        for (qsizetype i = 0; i < spare.size(); i += 100) {
            const qsizetype n = std::min<qsizetype>(100, spare.size() - i);
            cmap += QByteArray::number(n) + " beginbfchar\n";
            for (qsizetype j = i; j < i + n; ++j) {
                const char32_t c = spare[j].second;
                const QString pair = QString::fromUcs4(&c, 1);
                cmap += '<' + QByteArray::number(spare[j].first, 16).toUpper() + "> <"
                        + QByteArray::number(pair[0].unicode(), 16).toUpper()
                        + QByteArray::number(pair[1].unicode(), 16).toUpper() + ">\n";
            }
            cmap += "endbfchar\n";
        }
        cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
        toUnicode_.replaceStreamData(Std(cmap), Oh::newNull(), Oh::newNull());
    }

private:
    static constexpr int kSpareCodes = 0x800;

    void Make()
    {
        const QByteArray ttf = GlyphlessFont();
        Oh file = pdf_.newStream(Std(ttf));
        file.getDict().replaceKey("/Length1", Oh::newInteger(ttf.size()));

        Oh descriptor =
            Oh::parse("<< /Type /FontDescriptor /FontName /GlyphLessFont /Flags 5 /FontBBox [0 0 500 1000]"
                      " /ItalicAngle 0 /Ascent 1000 /Descent -1 /CapHeight 1000 /StemV 80 >>");
        descriptor.replaceKey("/FontFile2", file);

        std::string map(2 * 65536, '\0');
        for (size_t i = 0; i < 65536; ++i)
            map[2 * i + 1] = 1;
        Oh cid = Oh::parse("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /GlyphLessFont"
                           " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 >>");
        cid.replaceKey("/FontDescriptor", pdf_.makeIndirectObject(descriptor));
        cid.replaceKey("/CIDToGIDMap", pdf_.newStream(map));

        toUnicode_ = pdf_.newStream(std::string());
        Oh font = Oh::parse("<< /Type /Font /Subtype /Type0 /BaseFont /GlyphLessFont /Encoding /Identity-H >>");
        font.replaceKey("/DescendantFonts", Oh::newArray({pdf_.makeIndirectObject(cid)}));
        font.replaceKey("/ToUnicode", toUnicode_);
        font_ = pdf_.makeIndirectObject(font);
    }

    QPDF& pdf_;
    Oh font_;
    Oh toUnicode_;
    QHash<char32_t, uint> spare_;
};

// The invisible words: each set in a font as tall as its box and stretched
// (Tz) to its box's width, its baseline at the box's foot.
QByteArray TextLayer(const PageText& text, const Picture& picture, double scale, double pageHeight, TextFont& font)
{
    const double sx = text.width > 0 ? double(picture.width) / text.width : 1.0;
    const double sy = text.height > 0 ? double(picture.height) / text.height : 1.0;
    QByteArray out;
    for (const PageWord& word : text.words) {
        if (word.box.width() <= 0 || word.box.height() <= 0)
            continue;
        const QByteArray codes = font.Codes(word.text.trimmed());
        if (codes.isEmpty())
            continue;
        const double w = word.box.width() * sx * scale;
        const double h = word.box.height() * sy * scale;
        const double x = word.box.left() * sx * scale;
        const double y = pageHeight - (word.box.top() + word.box.height()) * sy * scale;
        const double size = std::max(h, 0.5);
        const double stretch = 100.0 * w / (double(codes.size() / 4) * 0.5 * size);
        // The trailing space keeps words apart in extracted text.
        out += "/F1 " + Num(size) + " Tf " + Num(stretch) + " Tz 1 0 0 1 " + Num(x) + ' ' + Num(y) + " Tm <" + codes
               + "0020> Tj\n";
    }
    return out.isEmpty() ? out : "BT\n3 Tr\n" + out + "ET\n";
}

// The writer's output straight into a file descriptor, buffered; a failed
// write keeps its errno.
class FdPipeline : public Pipeline {
public:
    explicit FdPipeline(int fd) : Pipeline("pdf file", nullptr), fd_(fd) { buffer_.reserve(kBuffer); }

    void write(unsigned char const* data, size_t len) override
    {
        if (buffer_.size() + len > kBuffer)
            Flush();
        if (len >= kBuffer)
            Put(reinterpret_cast<const char*>(data), len);
        else
            buffer_.append(reinterpret_cast<const char*>(data), len);
    }
    void finish() override { Flush(); }

    int error = 0;

private:
    static constexpr size_t kBuffer = size_t(1) << 18;

    void Flush()
    {
        Put(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void Put(const char* data, size_t len)
    {
        while (len > 0) {
            const ssize_t n = ::write(fd_, data, len);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                throw std::runtime_error(std::strerror(error));
            }
            data += n;
            len -= size_t(n);
        }
    }

    int fd_;
    std::string buffer_;
};

}  // namespace

QSizeF PdfPageSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const bool landscape = width > height;
    const double maxW = landscape ? kA4Height : kA4Width;
    const double maxH = landscape ? kA4Width : kA4Height;
    double w = maxW, h = maxW * height / width;
    if (h > maxH) {
        h = maxH;
        w = maxH * width / height;
    }
    return {w, h};
}

PdfExportResult ExportPdf(const std::vector<PdfPageSource>& pages, const QString& outPath)
{
    PdfExportResult result;
    if (pages.empty()) {
        result.message = QStringLiteral("there are no pages to export");
        return result;
    }
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.emptyPDF();
        QPDFPageDocumentHelper helper(pdf);
        TextFont font(pdf);
        for (size_t index = 0; index < pages.size(); ++index) {
            const PdfPageSource& source = pages[index];
            QString why;
            const std::optional<Picture> picture = MakePicture(pdf, source.imagePath, &why);
            if (!picture) {
                result.skipped.push_back({int(index), why});
                continue;
            }
            ++result.pages;
            const QSizeF size = PdfPageSize(picture->width, picture->height);
            const double scale = size.width() / picture->width;
            QByteArray content = "q " + Num(size.width()) + " 0 0 " + Num(size.height()) + " 0 0 cm /Im0 Do Q\n";
            Oh resources = Oh::parse("<< /XObject << >> >>");
            resources.getKey("/XObject").replaceKey("/Im0", picture->stream);
            if (source.text) {
                const QByteArray words = TextLayer(*source.text, *picture, scale, size.height(), font);
                if (!words.isEmpty()) {
                    content += words;
                    resources.replaceKey("/Font", Oh::parse("<< >>"));
                    resources.getKey("/Font").replaceKey("/F1", font.Font());
                }
            }
            Oh page = Oh::parse("<< /Type /Page >>");
            page.replaceKey("/MediaBox", Oh::newArray(QPDFObjectHandle::Rectangle(0, 0, size.width(), size.height())));
            page.replaceKey("/Resources", resources);
            page.replaceKey("/Contents", pdf.newStream(Std(content)));
            helper.addPage(pdf.makeIndirectObject(page), false);
        }
        if (result.pages == 0) {
            result.message = QStringLiteral("no page could be exported");
            return result;
        }
        font.Finish();

        QString failure;
        const bool written = WriteFileAtomicallyWith(
            outPath,
            [&](int fd) {
                FdPipeline out(fd);
                try {
                    QPDFWriter writer(pdf);
                    writer.setOutputPipeline(&out);
                    writer.setCompressStreams(true);
                    writer.write();
                    return true;
                } catch (const std::exception& e) {
                    failure = QString::fromLocal8Bit(e.what());
                    errno = out.error ? out.error : EIO;
                    return false;
                }
            },
            &result.error);
        if (!written) {
            result.message = QStringLiteral("the PDF cannot be written: %1")
                                 .arg(failure.isEmpty() ? result.error.reason : failure);
            return result;
        }
    } catch (const std::exception& e) {
        result.message = QStringLiteral("the PDF cannot be made: %1").arg(QString::fromLocal8Bit(e.what()));
        return result;
    }
    result.ok = true;
    return result;
}

std::vector<PdfPageSource> PdfSourcesOf(const QString& categoryFolder, const PageList& list,
                                        const std::vector<int>& indexes)
{
    std::vector<PdfPageSource> sources;
    sources.reserve(indexes.size());
    for (const int index : indexes) {
        PdfPageSource source;
        source.imagePath = ImagePath(categoryFolder, list, index);
        if (const QString words = WordsPath(categoryFolder, list, index); !words.isEmpty())
            source.text = ReadPageText(words);
        sources.push_back(std::move(source));
    }
    return sources;
}
