// SPDX-License-Identifier: GPL-3.0-or-later
// PDF pages in: each page rendered at 200 dpi with the PDF's own words on
// the rendered pixels; the refusals that come before any page is rendered;
// and a PDF filed as pages of a category, whole or not at all.

#include "tests/text/pdf/PdfTestSupport.h"

#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "imaging/AutoProcess.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/PdfIntake.h"
#include "text/pdf/PdfImport.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QDir>
#include <QElapsedTimer>
#include <QPdfWriter>
#include <QRandomGenerator>

#include <sys/stat.h>

namespace {

using namespace pdftest;

class ImportTest : public PdfTest {
protected:
    // A PDF of blank pages, each its size in points, written by qpdf; the
    // pages share one content stream, so ten thousand cost little.
    static void BlankPdf(const QString& path, const std::vector<QSizeF>& sizes)
    {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFPageDocumentHelper pages(pdf);
        const QPDFObjectHandle content = pdf.newStream(std::string("q Q\n"));
        for (const QSizeF& size : sizes) {
            QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /Resources << >> >>");
            page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, size.width(),
                                                                                                  size.height())));
            page.replaceKey("/Contents", content);
            pages.addPage(pdf.makeIndirectObject(page), false);
        }
        // qpdf keeps the name: it must outlive the writer.
        const QByteArray name = QFile::encodeName(path);
        QPDFWriter writer(pdf, name.constData());
        writer.write();
    }

    // Pages of A4 written by Qt, each with its words at 20 points, in points
    // from the top left; an empty list is a page without text.
    void QtPdf(const QString& path, const std::vector<std::vector<std::pair<QString, QPointF>>>& pages) const
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font(QStringLiteral("IPAGothic"));
        font.setPixelSize(20);
        painter.setFont(font);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            for (const auto& [word, at] : pages[i])
                painter.drawText(at, word);
        }
    }

    PdfOpenResult Open(const QString& path, int allowed = 999)
    {
        PdfOpenResult open = OpenPdf(path, allowed);
        EXPECT_EQ(open.status, PdfStatus::Ok) << open.message.toStdString();
        return open;
    }
};

TEST_F(ImportTest, APageRendersAt200DpiWithItsWordsOnThePixels)
{
    PageText stored;
    PdfOpenResult open = Open(ExportedPage(stored));
    ASSERT_TRUE(open.document);
    const PdfRenderedPage page = RenderPdfPage(*open.document, 0);
    ASSERT_EQ(page.status, PdfStatus::Ok) << page.message.toStdString();
    const QSizeF points = PdfPageSize(1024, 1448);
    EXPECT_EQ(page.image.size(), QSize(qRound(points.width() * 200 / 72), int(points.height() * 200 / 72)));
    EXPECT_EQ(page.image.format(), QImage::Format_RGB32);
    // The picture itself: the red patch where the stored image has it.
    const QColor patch = page.image.pixelColor(page.image.width() * 5 / 8, page.image.height() * 9 / 16);
    EXPECT_GT(patch.red(), 150);
    EXPECT_LT(patch.green(), 90);

    EXPECT_EQ(page.text.source, "pdf");
    EXPECT_EQ(QSize(page.text.width, page.text.height), page.image.size());
    ASSERT_EQ(page.text.words.size(), stored.words.size()) << page.text.Plain().toStdString();
    const double k = page.image.width() / 1024.0;
    for (std::size_t i = 0; i < stored.words.size(); ++i) {
        const PageWord& got = page.text.words[i];
        const PageWord& want = stored.words[i];
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.line, want.line) << got.text.toStdString();
        for (const auto& [a, b] : {std::pair{got.box.left(), want.box.left()}, {got.box.top(), want.box.top()},
                                   {got.box.right(), want.box.right()}, {got.box.bottom(), want.box.bottom()}})
            EXPECT_NEAR(a, b * k, 3) << got.text.toStdString();
    }

    // A4 as a 200 dpi scan of it; a page beyond the pixel limit at a lower
    // resolution; blank pages without words.
    BlankPdf(P("blank.pdf"), {QSizeF(kA4Width, kA4Height), QSizeF(7000, 7000)});
    open = Open(P("blank.pdf"));
    ASSERT_TRUE(open.document);
    const PdfRenderedPage a4 = RenderPdfPage(*open.document, 0), large = RenderPdfPage(*open.document, 1);
    EXPECT_EQ(a4.image.size(), QSize(1654, 2339));
    EXPECT_LT(large.dpi, 200);
    EXPECT_LE(qint64(large.image.width()) * large.image.height(), kPdfRenderPixelLimit);
    EXPECT_GT(qint64(large.image.width()) * large.image.height(), kPdfRenderPixelLimit * 9 / 10);
    for (const PdfRenderedPage* blank : {&a4, &large}) {
        EXPECT_TRUE(blank->text.words.empty());
        EXPECT_EQ(blank->image.pixel(10, 10), qRgb(255, 255, 255));
    }
}

// The category the PDFs are filed in, and the refusals, each timed against
// filing a page: a refusal must cost less than the work it saves.
TEST_F(ImportTest, APdfIsFiledPageByPageOrRefusedWhole)
{
    QtPdf(P("three.pdf"), {{{"Alpha", {100, 200}}, {"壱番", {300, 200}}}, {}, {{"Gamma", {100, 600}}}});
    for (int kMode : {0, 1}) {
        const QString name = QStringLiteral("Filed%1").arg(kMode);
        ASSERT_TRUE(CreateCategoryFolder(tmp_.path(), name));
        ArchiveSession session;
        session.ArchiveRoot = tmp_.path();
        session.SelectCategory(P(name));
        Settings settings = DefaultSettings();
        settings.KMode = kMode;  // 1: A4 laid down within 1024 × 768
        std::vector<int> progress;
        const PdfIntakeResult r = StorePdfPages(session, P("three.pdf"), settings, [&](int done, int total) {
            EXPECT_EQ(total, 3);
            progress.push_back(done);
            return true;
        });
        ASSERT_TRUE(r) << r.outcome.error.reason.toStdString();
        EXPECT_EQ(r.filed, QStringList({"00000001.jpg", "00000002.jpg", "00000003.jpg"}));
        EXPECT_EQ(progress, std::vector<int>({0, 1, 2, 3}));
        EXPECT_EQ(session.Pages.lines.mid(1), r.filed);
        EXPECT_FALSE(ReadPageText(WordsPathOfEntry(P(name), "00000002.jpg")));  // no text: recognised later
        const QStringList texts[] = {{"Alpha", "壱番"}, {}, {"Gamma"}};
        for (int i : {0, 2}) {
            const std::optional<PageText> words = ReadPageText(WordsPathOfEntry(P(name), r.filed[i]));
            ASSERT_TRUE(words) << i;
            EXPECT_EQ(words->source, "pdf");
            const QImage page = DibToQImage(ImgKitFileLoad(P(name + "/Image/" + r.filed[i])));
            EXPECT_EQ(QSize(words->width, words->height), page.size());
            EXPECT_EQ(page.width() > page.height(), kMode == 1);
            QStringList got;
            for (const PageWord& word : words->words) {
                got << word.text;
                // The word's box lies on its ink, turned or not.
                int darkest = 255;
                for (int y = word.box.top(); y <= word.box.bottom(); ++y)
                    for (int x = word.box.left(); x <= word.box.right(); ++x)
                        darkest = std::min(darkest, qGray(page.pixel(x, y)));
                EXPECT_LT(darkest, 100) << word.text.toStdString() << " kmode " << kMode;
            }
            EXPECT_EQ(got, texts[i]);
        }
    }

    // What filing one page costs here, now.
    QtPdf(P("one.pdf"), {{{"One", {100, 100}}}});
    ASSERT_TRUE(CreateCategoryFolder(tmp_.path(), "Scratch"));
    ArchiveSession scratch;
    scratch.SelectCategory(P("Scratch"));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(StorePdfPages(scratch, P("one.pdf"), DefaultSettings()));
    const qint64 onePage = timer.elapsed();

    PageText words;
    const QByteArray good = ReadAll(ExportedPage(words));
    QByteArray noise(8192, '\0');
    QRandomGenerator rng(7);
    for (char& c : noise)
        c = char(rng.bounded(256));
    ASSERT_TRUE(WriteAll(P("header-noise.pdf"), "%PDF-1.4\n" + noise));
    ASSERT_TRUE(WriteAll(P("truncated.pdf"), good.left(good.size() / 3)));
    ASSERT_TRUE(WriteAll(P("letter.pdf"), "Dear Sir,\n"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("fifo.pdf")).constData(), 0600), 0);
    const ToolRun encrypt = Tool("qpdf", {"--encrypt", "user", "owner", "256", "--", P("in.pdf"), P("locked.pdf")});
    ASSERT_EQ(encrypt.exitCode, 0) << encrypt.err.constData();
    BlankPdf(P("many.pdf"), std::vector<QSizeF>(10000, QSizeF(595, 842)));
    BlankPdf(P("huge.pdf"), {QSizeF(1e6, 1e6)});
    const QString full = kPageLimitMessage, unreadable = kUnreadableFormatMessage;
    struct Case {
        const char* file;
        int pagesThere;
        const QString& message;
        const char* reason;  // the start of the detail
    };
    const Case cases[] = {
        {"three.pdf", 997, full, "the PDF has 3 pages; the category can take 2 more"},
        {"many.pdf", 0, full, "the PDF has 10000 pages; the category can take 999 more"},
        {"huge.pdf", 0, unreadable, "page 1 is 1000000 × 1000000 points: larger than 14400 × 14400 points"},
        {"locked.pdf", 0, unreadable, "the PDF is encrypted"},
        {"truncated.pdf", 0, unreadable, "the PDF is damaged: "},
        {"header-noise.pdf", 0, unreadable, "the PDF is damaged: "},
        {"letter.pdf", 0, unreadable, "it is no PDF file"},
        {"fifo.pdf", 0, unreadable, "it is a named pipe, not a file"},
        {"absent.pdf", 0, unreadable, "the file is missing"},
    };
    for (const Case& c : cases) {
        const QString folder = P(QStringLiteral("Refused-%1").arg(QString::fromLatin1(c.file)));
        ASSERT_TRUE(CreateCategoryFolder(tmp_.path(), QFileInfo(folder).fileName()));
        QByteArray list = "00000000\r\n";
        for (int i = 1; i <= c.pagesThere; ++i)
            list += QByteArray::number(100000000 + i).mid(1) + ".jpg\r\n";
        ASSERT_TRUE(WriteAll(folder + "/FileList.txt", list));
        ArchiveSession session;
        session.SelectCategory(folder);
        timer.restart();
        const PdfIntakeResult r = StorePdfPages(session, P(c.file), DefaultSettings());
        EXPECT_LT(timer.elapsed(), onePage) << c.file;
        EXPECT_FALSE(r) << c.file;
        EXPECT_EQ(r.outcome.message, c.message) << c.file;
        EXPECT_TRUE(r.outcome.error.reason.startsWith(QString::fromUtf8(c.reason)))
            << c.file << ": " << r.outcome.error.reason.toStdString();
        EXPECT_TRUE(r.filed.isEmpty());
        EXPECT_EQ(ReadAll(folder + "/FileList.txt"), list) << c.file;
        EXPECT_TRUE(QDir(folder + "/Image").isEmpty()) << c.file;
    }
}

// One page of A4 drawing a JPEG: the image's dictionary, the content (one
// stream or several) and more of the page's dictionary as each case has them.
struct LonePage {
    const char* name;
    std::vector<std::string> contents;
    std::string imageDict;  // /ColorSpace /DeviceRGB when empty
    std::string pageDict;
    bool taken = false;
};

constexpr const char* kDraw = "q 595 0 0 842 0 0 cm /Im0 Do Q\n";

void LonePagePdf(const QString& path, const QByteArray& jpeg, QSize pixels, const LonePage& c)
{
    using Oh = QPDFObjectHandle;
    QPDF pdf;
    pdf.emptyPDF();
    Oh image = pdf.newStream();
    image.replaceStreamData(jpeg.toStdString(), Oh::newName("/DCTDecode"), Oh::newNull());
    Oh dict = Oh::parse("<< /Type /XObject /Subtype /Image /BitsPerComponent 8 /Width "
                        + std::to_string(pixels.width()) + " /Height " + std::to_string(pixels.height()) + " "
                        + (c.imageDict.empty() ? "/ColorSpace /DeviceRGB" : c.imageDict) + " >>");
    for (const std::string& key : dict.getKeys())
        image.getDict().replaceKey(key, dict.getKey(key));
    Oh resources = Oh::parse("<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>"
                             " /ExtGState << /GS0 << /CA 0.5 /ca 0.5 >> >>"
                             " /Properties << /oc1 << /Type /OCG /Name (layer) >> >> >>");
    resources.replaceKey("/XObject", Oh::parse("<< >>"));
    resources.getKey("/XObject").replaceKey("/Im0", image);
    const std::string box = c.pageDict.find("/MediaBox") == std::string::npos ? "/MediaBox [0 0 595 842] " : "";
    Oh page = Oh::parse("<< /Type /Page " + box + c.pageDict + " >>");
    page.replaceKey("/Resources", resources);
    std::vector<Oh> streams;
    for (const std::string& content : c.contents)
        streams.push_back(pdf.newStream(content));
    page.replaceKey("/Contents", streams.size() == 1 ? streams[0] : Oh::newArray(streams));
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
    const QByteArray name = QFile::encodeName(path);
    QPDFWriter writer(pdf, name.constData());
    writer.setCompressStreams(false);  // the content can be spoilt in place
    writer.write();
}

// A page that is one JPEG and nothing else to see is taken as its JPEG,
// byte for byte; whatever else a page could show, or show it otherwise,
// has it rendered.
TEST_F(ImportTest, APageThatIsOneJpegAloneIsTakenAsItsJpegAnyOtherIsRendered)
{
    const QByteArray jpeg = ReadAll(WriteJpeg("colour.jpg", Paper(827, 1169)));
    const QByteArray grey = ReadAll(WriteJpeg("grey.jpg", Paper(827, 1169, true)));
    const std::string hidden = "BT 3 Tr /F1 12 Tf 72 700 Td (hidden) Tj ET\n";
    const std::string shown = "BT /F1 12 Tf 72 700 Td (shown) Tj ET\n";
    const LonePage cases[] = {
        {"drawn alone", {kDraw}, {}, {}, true},
        {"with invisible text", {std::string(kDraw) + hidden}, {}, {}, true},
        {"in two steps, nested", {"q 1 0 0 1 0 0 cm q 595 0 0 1 0 0 cm 1 0 0 842 0 0 cm /Im0 Do Q Q\n"}, {}, {}, true},
        {"over two streams", {"q 595 0 0 842 0 0 cm", "/Im0 Do Q", hidden}, {}, {}, true},
        {"on an offset crop box", {"q 595 0 0 842 20 30 cm /Im0 Do Q"}, {}, "/CropBox [20 30 615 872] /MediaBox [0 0 700 900]", true},
        {"as marked content, colours set", {"/Artifact BMC 0 g 1 0 0 RG q 595 0 0 842 0 0 cm /Im0 Do Q EMC"}, {}, {}, true},
        {"with its colour transform named", {kDraw}, "/ColorSpace /DeviceRGB /DecodeParms << /ColorTransform 1 >>", {}, true},
        {"visible text", {std::string(kDraw) + shown}, {}, {}},
        {"text mode gone with its state", {std::string("q 3 Tr Q ") + kDraw + shown}, {}, {}},
        {"a path painted over it", {std::string(kDraw) + "0 0 100 100 re f"}, {}, {}},
        {"clipped", {std::string("0 0 300 300 re W n ") + kDraw}, {}, {}},
        {"half transparent", {std::string("/GS0 gs ") + kDraw}, {}, {}},
        {"drawn twice", {std::string(kDraw) + kDraw}, {}, {}},
        {"on half the page", {"q 297 0 0 421 0 0 cm /Im0 Do Q"}, {}, {}},
        {"mirrored", {"q -595 0 0 842 595 0 cm /Im0 Do Q"}, {}, {}},
        {"in optional content", {std::string("/OC /oc1 BDC ") + kDraw + "EMC"}, {}, {}},
        {"with an inline image", {std::string(kDraw) + "BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI"}, {}, {}},
        {"never drawn", {"q Q"}, {}, {}},
        {"unknown operator", {std::string(kDraw) + "1 2 zz"}, {}, {}},
        {"a turned page", {kDraw}, {}, "/Rotate 90"},
        {"an annotation", {kDraw}, {}, "/Annots [<< /Type /Annot /Subtype /Square /Rect [0 0 50 50] >>]"},
        {"a colour-key mask", {kDraw}, "/ColorSpace /DeviceRGB /Mask [0 10 0 10 0 10]", {}},
        {"inverted", {kDraw}, "/ColorSpace /DeviceRGB /Decode [1 0 1 0 1 0]", {}},
        {"colours as grey", {kDraw}, "/ColorSpace /DeviceGray", {}},
        {"colours without transform", {kDraw}, "/ColorSpace /DeviceRGB /DecodeParms << /ColorTransform 0 >>", {}},
    };
    for (const LonePage& c : cases) {
        const QString path = P(QStringLiteral("lone.pdf"));
        LonePagePdf(path, jpeg, QSize(827, 1169), c);
        PdfOpenResult open = Open(path);
        ASSERT_TRUE(open.document) << c.name;
        QSize offered;
        const PdfRenderedPage page = ReadPdfPage(*open.document, 0, [&](QSize j, QSize) {
            offered = j;
            return true;
        });
        ASSERT_EQ(page.status, PdfStatus::Ok) << c.name;
        EXPECT_EQ(!page.jpeg.isEmpty(), c.taken) << c.name;
        EXPECT_EQ(page.image.isNull(), c.taken) << c.name;
        if (c.taken) {
            EXPECT_EQ(page.renderSize, QSize(1653, 2339)) << c.name;
            EXPECT_EQ(page.jpeg, jpeg) << c.name;
            EXPECT_EQ(offered, QSize(827, 1169)) << c.name;
            EXPECT_EQ(page.dpi, 100) << c.name;
            EXPECT_EQ(QSize(page.text.width, page.text.height), QSize(827, 1169)) << c.name;
        } else {
            EXPECT_EQ(page.image.size(), page.renderSize) << c.name;
        }
    }

    // Grey as grey; a JPEG that says another size than the image, or a
    // colour JPEG in a grey space, is rendered.
    const struct {
        const QByteArray& bytes;
        QSize claimed;
        const char* space;
        bool taken;
    } frames[] = {{grey, {827, 1169}, "/ColorSpace /DeviceGray", true},
                  {grey, {827, 1169}, "/ColorSpace /DeviceRGB", false},
                  {jpeg, {826, 1169}, "/ColorSpace /DeviceRGB", false},
                  {jpeg, {827, 1169}, "/ColorSpace /DeviceGray", false}};
    for (const auto& f : frames) {
        LonePagePdf(P("frame.pdf"), f.bytes, f.claimed, {"frame", {kDraw}, f.space, {}});
        PdfOpenResult open = Open(P("frame.pdf"));
        ASSERT_TRUE(open.document);
        const PdfRenderedPage page = ReadPdfPage(*open.document, 0, [](QSize, QSize) { return true; });
        EXPECT_EQ(!page.jpeg.isEmpty(), f.taken) << f.space << ' ' << f.claimed.width();
    }

    // Content spoilt in place, token characters at random: a page is taken
    // as its JPEG or rendered, never anything else.
    const std::string content = std::string(kDraw) + hidden + "q 0 0 1 RG 1 0 0 1 5 5 cm [(a) 10 (b)] TJ Q\n";
    LonePagePdf(P("spoilt.pdf"), jpeg, QSize(827, 1169), {"spoilt", {content}, {}, {}});
    const QByteArray whole = ReadAll(P("spoilt.pdf"));
    const qsizetype at = whole.indexOf(QByteArray::fromStdString(content));
    ASSERT_GT(at, 0);
    QRandomGenerator rng(11);
    const QByteArray alphabet = "qQcmDoTjJrfWnBEIgs 0123456789.-/[]<>()'\"\\\n%";
    for (int round = 0; round < 80; ++round) {
        QByteArray bytes = whole;
        for (int k = 0, n = 1 + int(rng.bounded(6)); k < n; ++k)
            bytes[at + qsizetype(rng.bounded(quint32(content.size())))] = alphabet[qsizetype(rng.bounded(quint32(alphabet.size())))];
        ASSERT_TRUE(WriteAll(P("spoilt.pdf"), bytes));
        PdfOpenResult spoilt = OpenPdf(P("spoilt.pdf"), 999);
        if (!spoilt.document)
            continue;
        const PdfRenderedPage page = ReadPdfPage(*spoilt.document, 0, [](QSize, QSize) { return true; });
        if (!page.jpeg.isEmpty()) {
            EXPECT_EQ(page.jpeg, jpeg) << round;
        } else if (page.status == PdfStatus::Ok) {
            EXPECT_EQ(page.image.size(), page.renderSize) << round;
        }
    }

    // The caller may decline it.
    LonePagePdf(P("declined.pdf"), jpeg, QSize(827, 1169), {"declined", {kDraw}, {}, {}});
    PdfOpenResult open = Open(P("declined.pdf"));
    const PdfRenderedPage declined = ReadPdfPage(*open.document, 0, [](QSize, QSize) { return false; });
    EXPECT_TRUE(declined.jpeg.isEmpty());
    EXPECT_EQ(declined.image.size(), QSize(1653, 2339));
}

// Filing such a page gives the page the JPEG itself gives when imported as a
// file, the PDF's words on it; a JPEG too small to give the page rendering
// would, or a PDF qpdf cannot read without repair, is rendered and filed.
TEST_F(ImportTest, AJpegPageIsFiledAsItsFileWouldBeUnlessThatGivesLess)
{
    PageText words;
    const QString exported = ExportedPage(words);
    const Settings settings = DefaultSettings();
    const auto fileIn = [&](const QString& name) {
        EXPECT_TRUE(CreateCategoryFolder(tmp_.path(), name));
        auto session = std::make_unique<ArchiveSession>();
        session->SelectCategory(P(name));
        return session;
    };

    auto fromPdf = fileIn("FromPdf");
    const PdfIntakeResult r = StorePdfPages(*fromPdf, exported, settings);
    ASSERT_TRUE(r) << r.outcome.error.reason.toStdString();
    auto fromFile = fileIn("FromFile");
    ImageHandle image = LoadImportedFile(P("page.jpg"), {});
    ASSERT_TRUE(ImgKitMakeFullColour(image));
    ASSERT_TRUE(StoreProcessedPage(*fromFile, AutoProcessImage(image, settings), settings));
    for (const char* folder : {"/Image/", "/Thumbnail/"})
        EXPECT_EQ(ReadAll(P("FromPdf") + folder + "00000001.jpg"), ReadAll(P("FromFile") + folder + "00000001.jpg"))
            << folder;
    const std::optional<PageText> filed = ReadPageText(WordsPathOfEntry(P("FromPdf"), "00000001.jpg"));
    ASSERT_TRUE(filed);
    ASSERT_EQ(filed->words.size(), words.words.size());
    for (std::size_t i = 0; i < words.words.size(); ++i) {
        EXPECT_EQ(filed->words[i].text, words.words[i].text);
        EXPECT_NEAR(filed->words[i].box.left(), words.words[i].box.left(), 2);
        EXPECT_NEAR(filed->words[i].box.bottom(), words.words[i].box.bottom(), 2);
    }

    // 300 × 424 on A4 would make a page of 300 pixels; rendered, 1024.
    LonePagePdf(P("small.pdf"), ReadAll(WriteJpeg("small.jpg", Paper(300, 424))), QSize(300, 424),
                {"small", {kDraw}, {}, {}});
    // The cross-reference offset spoilt: poppler mends it, qpdf is not asked to.
    QByteArray spoilt = ReadAll(exported);
    const qsizetype at = spoilt.lastIndexOf("startxref");
    ASSERT_GT(at, 0);
    spoilt.replace(at + 10, spoilt.indexOf('\n', at + 10) - (at + 10), "17");
    ASSERT_TRUE(WriteAll(P("spoilt.pdf"), spoilt));
    for (const char* pdf : {"small.pdf", "spoilt.pdf"}) {
        auto session = fileIn(QStringLiteral("Rendered-%1").arg(pdf));
        const PdfIntakeResult rendered = StorePdfPages(*session, P(pdf), settings);
        ASSERT_TRUE(rendered) << pdf << ": " << rendered.outcome.error.reason.toStdString();
        const QImage page = DibToQImage(ImgKitFileLoad(P(QStringLiteral("Rendered-%1/Image/00000001.jpg").arg(pdf))));
        EXPECT_GE(page.width(), 1023) << pdf;
    }
}

}  // namespace
