// SPDX-License-Identifier: GPL-3.0-or-later
// Printing a page through PrintPageImage into Qt's PDF printer, with the
// set-up dialog answered from a script, and the file read back with poppler:
// the picture sits where PrintTargetRect puts it on the printable area, and
// the whole picture is embedded pixel for pixel.

#include "ui/PrintPage.h"

#include "core/PrintGeometry.h"
#include "tests/print/PrintTestSupport.h"
#include "tests/support/ScriptedPrompt.h"

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ostream>

using namespace printtest;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// VmSize of this process in bytes.
rlim_t VirtualSize()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) * 1024;
    return 0;
}

const QString kUnreadable = QStringLiteral("画像ファイルを読み込めません");

struct Sheet {
    const char* name;
    QPageSize::PageSizeId paper;
    QPageLayout::Orientation orientation;
    int dpi;
    int pictureWidth;
    int pictureHeight;
    QMarginsF margins;  // millimetres; negative: the printer's own
};

void PrintTo(const Sheet& s, std::ostream* os)
{
    *os << s.name;
}

const QMarginsF kPrinterMargins(-1, -1, -1, -1);

// Sets the printer up as the dialog would, to print into `pdf`.
std::function<bool(QPrinter&)> SetUpPrinter(const Sheet& s, const QString& pdf)
{
    return [s, pdf](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(s.paper));
        printer.setPageOrientation(s.orientation);
        printer.setResolution(s.dpi);
        if (s.margins.left() >= 0)
            printer.setPageMargins(s.margins, QPageLayout::Millimeter);
        return true;
    };
}

class PrintToPdf : public ::testing::TestWithParam<Sheet> {
protected:
    QTemporaryDir dir;
    QString P(const QString& name) const { return dir.filePath(name); }
};

TEST_P(PrintToPdf, ThePictureSitsAt80PercentOfThePrintableAreaWithEveryPixel)
{
    const Sheet s = GetParam();
    ASSERT_FALSE(Poppler(QStringLiteral("pdfimages")).isEmpty()) << "poppler-utils is not installed";
    ASSERT_FALSE(Poppler(QStringLiteral("pdftoppm")).isEmpty()) << "poppler-utils is not installed";

    const QImage picture = PatternPicture(s.pictureWidth, s.pictureHeight);
    ASSERT_TRUE(WritePictureFile(P(QStringLiteral("page.bmp")), picture));
    const QString pdf = P(QStringLiteral("sheet.pdf"));

    ScriptedPrompt prompt;
    prompt.printerHandlers.push_back(SetUpPrinter(s, pdf));
    QPrinter printer(QPrinter::HighResolution);
    ASSERT_EQ(PrintPageImage(prompt, printer, P(QStringLiteral("page.bmp"))), PrintResult::Printed);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown.front().kind, ScriptedPrompt::Shown::PrinterSetup);
    EXPECT_EQ(prompt.unanswered, 0);
    ASSERT_TRUE(QFileInfo(pdf).isFile());
    EXPECT_EQ(PdfTitle(pdf), QStringLiteral("Tolvane"));

    // Where the picture must be: on the printable area, which starts at the
    // margins of the paper.
    const QRect printable = printer.pageLayout().paintRectPixels(s.dpi);
    ASSERT_EQ(printer.width(), printable.width());
    ASSERT_EQ(printer.height(), printable.height());
    const QRect target = PrintTargetRect(printable.width(), printable.height(), s.pictureWidth, s.pictureHeight);
    const QRect onPaper = target.translated(printable.topLeft());
    // The limiting side spans 80 % of the printable area and the picture is
    // centred on that area, not on the paper.
    const bool widthLimits = std::abs(target.width() - 0.8 * printable.width()) <= 1.0;
    const bool heightLimits = std::abs(target.height() - 0.8 * printable.height()) <= 1.0;
    EXPECT_TRUE(widthLimits || heightLimits) << target.width() << " x " << target.height();
    EXPECT_LE(std::abs(target.left() - (printable.width() - target.right() - 1)), 1);
    EXPECT_LE(std::abs(target.top() - (printable.height() - target.bottom() - 1)), 1);

    QString error;
    const QImage sheet = RenderFirstPage(pdf, s.dpi, dir.path(), &error);
    ASSERT_FALSE(sheet.isNull()) << qPrintable(error);
    // pdftoppm rounds the paper's points up to whole pixels.
    const QRect paper = printer.pageLayout().fullRectPixels(s.dpi);
    EXPECT_NEAR(sheet.width(), paper.width(), 1);
    EXPECT_NEAR(sheet.height(), paper.height(), 1);
    const QRect ink = InkBounds(sheet);
    EXPECT_NEAR(ink.left(), onPaper.left(), 2);
    EXPECT_NEAR(ink.top(), onPaper.top(), 2);
    EXPECT_NEAR(ink.right(), onPaper.right(), 2);
    EXPECT_NEAR(ink.bottom(), onPaper.bottom(), 2);

    // One picture, at its own size: the printer scaled it, nothing before.
    const QList<EmbeddedImage> images = ListImages(pdf, &error);
    ASSERT_EQ(images.size(), 1) << qPrintable(error);
    EXPECT_EQ(images.front().width, s.pictureWidth);
    EXPECT_EQ(images.front().height, s.pictureHeight);
    EXPECT_EQ(images.front().color, QStringLiteral("rgb"));
    EXPECT_EQ(images.front().bpc, 8);
    EXPECT_NEAR(images.front().xPpi, double(s.pictureWidth) * s.dpi / target.width(), 1.0);
    EXPECT_NEAR(images.front().yPpi, double(s.pictureHeight) * s.dpi / target.height(), 1.0);

    const QImage embedded = ExtractFirstImage(pdf, dir.path(), &error);
    ASSERT_FALSE(embedded.isNull()) << qPrintable(error);
    QPoint first;
    EXPECT_EQ(CountDifferentPixels(embedded, picture, 0, &first), 0)
        << "first different pixel at " << first.x() << ", " << first.y();
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, PrintToPdf,
    ::testing::Values(
        // Margins of 20, 10, 5 and 30 mm: centred on the printable area.
        Sheet{"A4_300dpi_1024x1448_uneven_margins", QPageSize::A4, QPageLayout::Portrait, 300, 1024, 1448,
              QMarginsF(20, 10, 5, 30)},
        Sheet{"A4_600dpi_2480x3508", QPageSize::A4, QPageLayout::Portrait, 600, 2480, 3508, kPrinterMargins},
        Sheet{"A4_300dpi_landscape_picture_1448x1024", QPageSize::A4, QPageLayout::Portrait, 300, 1448, 1024,
              QMarginsF(0, 0, 0, 0)},
        Sheet{"Letter_300dpi_2480x3508", QPageSize::Letter, QPageLayout::Portrait, 300, 2480, 3508, kPrinterMargins},
        Sheet{"Letter_600dpi_landscape_1024x1448", QPageSize::Letter, QPageLayout::Landscape, 600, 1024, 1448,
              QMarginsF(0, 0, 0, 0)}),
    [](const ::testing::TestParamInfo<Sheet>& info) { return std::string(info.param.name); });

class PrintRefusals : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString P(const QString& name) const { return dir.filePath(name); }

    std::function<bool(QPrinter&)> ToPdf(const QString& pdf, bool confirm = true)
    {
        return [pdf, confirm](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setResolution(300);
            return confirm;
        };
    }
};

TEST_F(PrintRefusals, ACancelledSetUpLoadsNothingAndPrintsNothing)
{
    // The image path names no file: loading it would have told so.
    ScriptedPrompt prompt;
    prompt.printerHandlers.push_back(ToPdf(P(QStringLiteral("sheet.pdf")), false));
    QPrinter printer;
    EXPECT_EQ(PrintPageImage(prompt, printer, P(QStringLiteral("missing.bmp"))), PrintResult::Cancelled);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown.front().kind, ScriptedPrompt::Shown::PrinterSetup);
    EXPECT_FALSE(QFileInfo::exists(P(QStringLiteral("sheet.pdf"))));

    // No answer at all is a cancel too, and counted as unanswered.
    ScriptedPrompt silent;
    EXPECT_EQ(PrintPageImage(silent, printer, P(QStringLiteral("missing.bmp"))), PrintResult::Cancelled);
    EXPECT_EQ(silent.unanswered, 1);
    EXPECT_TRUE(silent.Texts().empty());
}

TEST_F(PrintRefusals, AnUnreadableImageIsToldAndPrintsNothing)
{
    QFile text(P(QStringLiteral("notes.bmp")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture at all\n");
    text.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));

    for (const QString& name : {QStringLiteral("missing.bmp"), QStringLiteral("notes.bmp"), QStringLiteral("folder.bmp")}) {
        const QString pdf = P(name + QStringLiteral(".pdf"));
        ScriptedPrompt prompt;
        prompt.printerHandlers.push_back(ToPdf(pdf));
        QPrinter printer;
        EXPECT_EQ(PrintPageImage(prompt, printer, P(name)), PrintResult::LoadFailed) << qPrintable(name);
        ASSERT_EQ(prompt.shown.size(), 2u) << qPrintable(name);
        EXPECT_EQ(prompt.shown[0].kind, ScriptedPrompt::Shown::PrinterSetup);
        EXPECT_EQ(prompt.shown[1].kind, ScriptedPrompt::Shown::Dlg);
        EXPECT_EQ(prompt.shown[1].text, kUnreadable);
        EXPECT_EQ(prompt.shown[1].icon, DlgIcon::Error);
        EXPECT_FALSE(QFileInfo::exists(pdf)) << qPrintable(name);
    }
}

TEST_F(PrintRefusals, APrinterThatWillNotStartIsReportedWithoutAMessage)
{
    ASSERT_TRUE(WritePictureFile(P(QStringLiteral("page.bmp")), PatternPicture(64, 90)));
    ScriptedPrompt prompt;
    prompt.printerHandlers.push_back(ToPdf(P(QStringLiteral("no such folder/sheet.pdf"))));
    QPrinter printer;
    EXPECT_EQ(PrintPageImage(prompt, printer, P(QStringLiteral("page.bmp"))), PrintResult::PrinterFailed);
    EXPECT_TRUE(prompt.Texts().empty());
    EXPECT_FALSE(QFileInfo::exists(P(QStringLiteral("no such folder"))));
}

TEST_F(PrintRefusals, AnImageWithoutMemoryForItsPictureIsToldAndPrintsNothing)
{
    if (kSanitized)
        GTEST_SKIP() << "a capped address space and a sanitizer's shadow memory do not mix";
    // 6000 x 8000 at 24 bits: a 144 MB block. A flat JPEG of it is small, and
    // is decoded row by row into the block, so with room for the block and a
    // little more the load succeeds and the picture (another 144 MB) does not.
    QImage flat(6000, 8000, QImage::Format_RGB888);
    flat.fill(QColor(90, 120, 150));
    {
        const ImageHandle dib = BitmapToDib(flat);
        ASSERT_TRUE(dib);
        ASSERT_TRUE(ImgKitJpegFileSave(P(QStringLiteral("page.jpg")), dib, 75));
    }
    flat = QImage();
    const QString pdf = P(QStringLiteral("sheet.pdf"));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ScriptedPrompt prompt;
        prompt.printerHandlers.push_back(ToPdf(pdf));
        QPrinter printer;
        const rlim_t cap = VirtualSize() + rlim_t(6000) * 8000 * 3 + (rlim_t(48) << 20);
        const rlimit limit{cap, cap};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(10);
        const PrintResult result = PrintPageImage(prompt, printer, P(QStringLiteral("page.jpg")));
        if (result != PrintResult::DrawFailed)
            _exit(11 + int(result));
        const std::vector<QString> texts = prompt.Texts();
        _exit(texts.size() == 1 && texts.front() == kUnreadable ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died, signal " << WTERMSIG(status);
    // 11 + PrintResult: Cancelled 11, Printed 12, LoadFailed 13, PrinterFailed 15
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(QFileInfo::exists(pdf));
}

}  // namespace
