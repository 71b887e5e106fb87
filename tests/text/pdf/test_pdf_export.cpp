// SPDX-License-Identifier: GPL-3.0-or-later
// Pages out as a PDF, read back by qpdf and poppler's tools: the file is
// sound, the stored JPEGs are in it byte for byte and show the colours the
// program shows, BMP and TIFF pages pixel for pixel, the words come back out
// as text on their boxes, the page sizes follow A4, and a page that cannot
// be read is left out and said.

#include "tests/text/pdf/PdfTestSupport.h"

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "text/pdf/JpegHeader.h"

#include <QDir>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <sys/stat.h>

namespace {

using namespace pdftest;

// ---- the JPEG header ----

QByteArray Segment(uchar marker, const QByteArray& payload)
{
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF") + char(marker) + char(length >> 8) + char(length & 0xFF) + payload;
}

QByteArray Frame(uchar marker, int precision, int height, int width, int components, const char* ids = "\1\2\3\4")
{
    QByteArray p;
    for (int v : {precision, height >> 8, height & 0xFF, width >> 8, width & 0xFF, components})
        p += char(v);
    for (int c = 0; c < components; ++c)
        p += QByteArray(1, ids[c]) + QByteArray::fromHex("1100");  // id, sampling, table
    return Segment(marker, p);
}

const QByteArray kSoi = QByteArray::fromHex("FFD8");
const QByteArray kJfif = Segment(0xE0, QByteArray("JFIF\0", 5) + QByteArray::fromHex("010100004800480000"));
// "Adobe", version, two flag words, the transform.
QByteArray Adobe(int transform)
{
    return Segment(0xEE, QByteArray("Adobe") + QByteArray::fromHex("006400000000") + char(transform));
}
const QByteArray kScan = Segment(0xDA, QByteArray::fromHex("010100003F00")) + QByteArray::fromHex("1234FFD9");

TEST(JpegHeaderTest, ReadsWhatAPdfNeedsAndRefusesWhatItCannotCarry)
{
    using C = JpegColour;
    struct Case {
        const char* name;
        QByteArray bytes;
        std::optional<JpegHeader> header;
        C colour;
        const char* refusal;  // part of the reason when refused
    };
    const Case cases[] = {
        {"JFIF colour", kSoi + kJfif + Frame(0xC0, 8, 1448, 1024, 3) + kScan, JpegHeader{1024, 1448, 3, false, true},
         C::YCbCr, ""},
        {"progressive grey", kSoi + Frame(0xC2, 8, 10, 20, 1) + kScan, JpegHeader{20, 10, 1, true}, C::Grey, ""},
        {"Adobe CMYK", kSoi + Adobe(0) + Frame(0xC1, 8, 5, 6, 4) + kScan, JpegHeader{6, 5, 4, false, false, 0},
         C::InvertedCmyk, ""},
        {"Adobe YCCK", kSoi + Adobe(2) + Frame(0xC0, 8, 5, 6, 4) + kScan, JpegHeader{6, 5, 4, false, false, 2},
         C::InvertedCmyk, ""},
        {"Adobe marker without its transform: none",
         kSoi + Segment(0xEE, "Adobe" + QByteArray::fromHex("006400000000")) + Frame(0xC0, 8, 5, 6, 4) + kScan,
         JpegHeader{6, 5, 4}, C::InvertedCmyk, ""},
        {"plain CMYK, fill bytes", kSoi + "\xFF" + Frame(0xC0, 8, 5, 6, 4) + kScan, JpegHeader{6, 5, 4},
         C::InvertedCmyk, ""},
        {"Adobe RGB", kSoi + Adobe(0) + Frame(0xC0, 8, 5, 6, 3, "RGB") + kScan,
         JpegHeader{6, 5, 3, false, false, 0, true}, C::Rgb, ""},
        {"RGB by its names", kSoi + Frame(0xC0, 8, 5, 6, 3, "RGB") + kScan, JpegHeader{6, 5, 3, false, false, -1, true},
         C::Rgb, ""},
        {"JFIF against Adobe RGB", kSoi + kJfif + Adobe(0) + Frame(0xC0, 8, 5, 6, 3) + kScan,
         JpegHeader{6, 5, 3, false, true, 0}, C::Ambiguous, ""},
        {"unknown transform", kSoi + Adobe(7) + Frame(0xC0, 8, 5, 6, 4) + kScan, JpegHeader{6, 5, 4, false, false, 7},
         C::Ambiguous, ""},
        {"no JPEG", "GIF89a" + Frame(0xC0, 8, 5, 6, 3), std::nullopt, C::Ambiguous, "no JPEG"},
        {"12 bits", kSoi + Frame(0xC1, 12, 5, 6, 3) + kScan, std::nullopt, C::Ambiguous, "12 bits"},
        {"lossless", kSoi + Frame(0xC3, 8, 5, 6, 3) + kScan, std::nullopt, C::Ambiguous, "lossless"},
        {"arithmetic", kSoi + Frame(0xC9, 8, 5, 6, 3) + kScan, std::nullopt, C::Ambiguous, "arithmetic"},
        {"two components", kSoi + Frame(0xC0, 8, 5, 6, 2) + kScan, std::nullopt, C::Ambiguous, "2 colour"},
        {"height after the scan", kSoi + Frame(0xC0, 8, 0, 6, 3) + kScan, std::nullopt, C::Ambiguous, "no size"},
        {"cut in the frame", (kSoi + Frame(0xC0, 8, 5, 6, 3)).chopped(4), std::nullopt, C::Ambiguous, "cut short"},
        {"ends before the scan", kSoi + Frame(0xC0, 8, 5, 6, 3) + "\xFF\xD9", std::nullopt, C::Ambiguous, "ends before"},
        {"scan before the frame", kSoi + kScan, std::nullopt, C::Ambiguous, "before its frame"},
        {"garbage between markers", kSoi + "xx" + Frame(0xC0, 8, 5, 6, 3) + kScan, std::nullopt, C::Ambiguous,
         "damaged"},
    };
    for (const Case& c : cases) {
        QString why;
        const std::optional<JpegHeader> header = ReadJpegHeader(c.bytes, &why);
        EXPECT_EQ(header, c.header) << c.name;
        if (header)
            EXPECT_EQ(JpegColourOf(*header), c.colour) << c.name;
        else
            EXPECT_TRUE(why.contains(QLatin1String(c.refusal))) << c.name << ": " << why.toStdString();
    }
}

TEST(PdfPageSizeTest, TheImageOnA4InItsOwnOrientation)
{
    struct Case {
        int width, height;
        double pageWidth, pageHeight;
    };
    const Case cases[] = {
        {1024, 1448, 595.276, 841.757},  // portrait, a little wider than A4: width on A4's width
        {1000, 2000, 420.945, 841.890},  // tall: height on A4's height
        {1448, 1024, 841.757, 595.276},  // landscape: A4 turned
        {2480, 3508, 595.180, 841.890},  // A4 at 300 dpi, a hair taller than A4
    };
    for (const Case& c : cases) {
        const QSizeF size = PdfPageSize(c.width, c.height);
        EXPECT_NEAR(size.width(), c.pageWidth, 0.01) << c.width << "x" << c.height;
        EXPECT_NEAR(size.height(), c.pageHeight, 0.01) << c.width << "x" << c.height;
    }
}

// ---- whole files ----

class ExportTest : public PdfTest {
protected:
    // pdfimages -list: one row per image, its columns.
    static std::vector<QStringList> ImageList(const QString& pdf)
    {
        const ToolRun run = Tool("pdfimages", {"-list", pdf});
        EXPECT_EQ(run.exitCode, 0) << run.err.constData();
        std::vector<QStringList> rows;
        const QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
        for (qsizetype i = 2; i < lines.size(); ++i)  // after the heading and its rule
            rows.push_back(lines[i].split(QRegularExpression("\\s+"), Qt::SkipEmptyParts));
        return rows;
    }

    static void ExpectSound(const QString& pdf)
    {
        const ToolRun check = Tool("qpdf", {"--check", pdf});
        EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    }

    QStringList Leftovers() const
    {
        QStringList found;
        for (const QString& name : QDir(tmp_.path()).entryList(QDir::Files | QDir::Hidden))
            if (IsAtomicWriteLeftover(name))
                found << name;
        return found;
    }

    // A JPEG of one colour (RGB, or CMYK) as libjpeg stores it in `space`
    // (RGB and CMYK with Adobe's marker), with a JFIF marker or without.
    QString LibJpeg(const QString& name, J_COLOR_SPACE space, const std::vector<uchar>& pixel, bool jfif) const
    {
        jpeg_compress_struct c{};
        jpeg_error_mgr e{};
        c.err = jpeg_std_error(&e);
        jpeg_create_compress(&c);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = c.image_height = 64;
        c.input_components = int(pixel.size());
        c.in_color_space = space == JCS_CMYK ? JCS_CMYK : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_colorspace(&c, space);
        c.write_JFIF_header = jfif;
        jpeg_start_compress(&c, TRUE);
        std::vector<uchar> row;
        for (int x = 0; x < 64; ++x)
            row.insert(row.end(), pixel.begin(), pixel.end());
        while (c.next_scanline < c.image_height) {
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        EXPECT_TRUE(WriteAll(P(name), QByteArray(reinterpret_cast<const char*>(out), qsizetype(size))));
        std::free(out);
        return P(name);
    }
};

TEST_F(ExportTest, JpegPagesGoInAsStoredWithTheirWordsAsText)
{
    const QString colour = WriteJpeg("00000001.jpg", Paper(1024, 1448));
    const QString grey = WriteJpeg("00000002.jpg", Paper(1448, 1024, true), true);
    const PageText first = Words(1024, 1448, {{"Invoice", QRect(100, 100, 300, 60)},
                                              {"2024-05", QRect(450, 100, 250, 60)},
                                              {"請求書", QRect(100, 300, 240, 80)},
                                              {"𠮷野家", QRect(400, 300, 240, 80)}});
    // Boxes of a half-size recognition are scaled up to the stored image;
    // a column of vertical writing goes down the page.
    const PageText second = Words(724, 512, {{"Landscape", QRect(50, 50, 200, 30)},
                                             {"縦書き", QRect(650, 100, 30, 150)}});
    const QString out = P("out.pdf");
    const PdfExportResult result = ExportPdf({{colour, first}, {grey, second}}, out);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.pages, 2);
    EXPECT_TRUE(result.skipped.empty());
    EXPECT_TRUE(Leftovers().isEmpty());
    ExpectSound(out);

    const QString text = TextOf(out);
    for (const char* word : {"Invoice", "2024-05", "請求書", "𠮷野家", "Landscape", "縦書き"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word << " not in: " << text.toStdString();

    // Each word on its box: pdftotext -bbox gives them in points.
    const ToolRun boxes = Tool("pdftotext", {"-bbox", "-f", "1", "-l", "1", out, "-"});
    const double s = kA4Width / 1024;
    const QRegularExpression invoice(
        "xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">Invoice<");
    const auto m = invoice.match(QString::fromUtf8(boxes.out));
    ASSERT_TRUE(m.hasMatch()) << boxes.out.constData();
    const double want[] = {100 * s, 100 * s, 400 * s, 160 * s};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(m.captured(i + 1).toDouble(), want[i], 1.0) << i;

    const std::vector<QStringList> images = ImageList(out);
    ASSERT_EQ(images.size(), 2u);
    const QStringList expected[] = {{"1024", "1448", "rgb"}, {"1448", "1024", "gray"}};
    for (int i = 0; i < 2; ++i) {
        ASSERT_GE(images[i].size(), 9) << images[i].join(' ').toStdString();
        EXPECT_EQ(images[i].mid(3, 3), expected[i]) << i;
        EXPECT_EQ(images[i][8], "jpeg") << i;
    }
    ASSERT_EQ(Tool("pdfimages", {"-j", out, P("x")}).exitCode, 0);
    EXPECT_EQ(ReadAll(P("x-000.jpg")), ReadAll(colour));
    EXPECT_EQ(ReadAll(P("x-001.jpg")), ReadAll(grey));

    const ToolRun info = Tool("pdfinfo", {"-f", "1", "-l", "2", out});
    EXPECT_TRUE(info.out.contains("Page    1 size:  595.276 x 841.757 pts")) << info.out.constData();
    EXPECT_TRUE(info.out.contains("Page    2 size:  841.757 x 595.276 pts")) << info.out.constData();
}

TEST_F(ExportTest, JpegPagesShowTheColoursTheProgramShows)
{
    struct Case {
        const char* name;
        J_COLOR_SPACE space;
        std::vector<uchar> pixel;
        bool jfif;
        const char* coding;  // in the PDF
    };
    const Case cases[] = {
        {"JFIF", JCS_YCbCr, {200, 60, 40}, true, "jpeg"},
        {"Adobe RGB", JCS_RGB, {200, 60, 40}, false, "jpeg"},
        {"Adobe CMYK, inverted", JCS_CMYK, {230, 80, 70, 250}, false, "jpeg"},
        {"JFIF against Adobe RGB", JCS_RGB, {200, 60, 40}, true, "image"},
    };
    std::vector<PdfPageSource> pages;
    for (const Case& c : cases) {
        pages.push_back({LibJpeg(QString::fromLatin1(c.name) + ".jpg", c.space, c.pixel, c.jfif), {}});
    }
    ASSERT_TRUE(ExportPdf(pages, P("colours.pdf")).ok);
    const std::vector<QStringList> images = ImageList(P("colours.pdf"));
    ASSERT_EQ(images.size(), std::size(cases));
    ASSERT_EQ(Tool("pdftoppm", {"-r", "20", "-png", P("colours.pdf"), P("r")}).exitCode, 0);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(images[i].value(8), cases[i].coding) << cases[i].name;
        const QColor shown = DibToQImage(ImgKitFileLoad(pages[i].imagePath)).pixelColor(32, 32);
        const QImage rendered(P(QStringLiteral("r-%1.png").arg(i + 1)));
        const QColor got = rendered.pixelColor(rendered.width() / 2, rendered.height() / 2);
        for (const auto& [a, b] : {std::pair{shown.red(), got.red()}, {shown.green(), got.green()},
                                   {shown.blue(), got.blue()}})
            EXPECT_NEAR(a, b, 40) << cases[i].name << ": shown " << shown.name().toStdString() << ", in the PDF "
                                  << got.name().toStdString();
    }
}

TEST_F(ExportTest, BmpAndTiffPagesGoInLosslessly)
{
    const QImage colour = Paper(600, 820);
    const QImage grey = Paper(500, 700, true);
    const QString paths[] = {WriteImage("00000001.bmp", colour, "BMP"), WriteImage("00000002.bmp", grey, "BMP"),
                             WriteImage("00000003.tif", colour, "TIFF")};
    const QString out = P("out.pdf");
    const PdfExportResult result = ExportPdf({{paths[0], {}}, {paths[1], {}}, {paths[2], {}}}, out);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    ExpectSound(out);
    const std::vector<QStringList> images = ImageList(out);
    ASSERT_EQ(images.size(), 3u);
    ASSERT_EQ(Tool("pdfimages", {"-png", out, P("x")}).exitCode, 0);
    const QImage originals[] = {colour, grey, colour};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(images[i][5], i == 1 ? "gray" : "rgb") << i;
        EXPECT_EQ(images[i][8], "image") << i;  // Flate
        const QImage back(P(QStringLiteral("x-%1.png").arg(i, 3, 10, QLatin1Char('0'))));
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB888), originals[i].convertToFormat(QImage::Format_RGB888))
            << i;
    }
}

TEST_F(ExportTest, PagesThatCannotBeReadAreLeftOutAndSaid)
{
    const QString good = WriteJpeg("00000004.jpg", Paper(300, 400));
    ASSERT_TRUE(WriteAll(P("00000002.jpg"), "not an image\n"));
    ASSERT_TRUE(WriteAll(P("00000005.jpg"), ReadAll(good).left(300)));
    ASSERT_TRUE(QFile::link(good, P("00000003.jpg")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("00000006.jpg")).constData(), 0600), 0);
    const QString out = P("out.pdf");
    const PdfExportResult result = ExportPdf({{P("00000001.jpg"), {}},
                                              {P("00000002.jpg"), {}},
                                              {P("00000003.jpg"), {}},
                                              {good, {}},
                                              {P("00000005.jpg"), {}},
                                              {P("00000006.jpg"), {}}},
                                             out);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.pages, 1);
    const std::vector<PdfSkippedPage> expected = {{0, "the file is missing"},
                                                  {1, "it is no JPEG, BMP or TIFF file"},
                                                  {2, "the file is a symbolic link"},
                                                  {4, "the JPEG is cut short before its image data"},
                                                  {5, "the picture is a named pipe"}};
    EXPECT_EQ(result.skipped, expected);
    EXPECT_EQ(ImageList(out).size(), 1u);

    // Nothing left: nothing is written, an old file stays.
    ASSERT_TRUE(WriteAll(P("old.pdf"), "old"));
    const PdfExportResult none = ExportPdf({{P("00000001.jpg"), {}}}, P("old.pdf"));
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.message, "no page could be exported");
    EXPECT_EQ(ReadAll(P("old.pdf")), "old");
    EXPECT_TRUE(Leftovers().isEmpty());
}

}  // namespace
