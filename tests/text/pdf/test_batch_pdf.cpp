// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch export run as a user runs it: the pages asked for, in
// order, with their words; pages that cannot be read named and left out;
// the list of pages checked before anything is written. And the PDF filed
// back by add, page by page.

#include "tests/batch/BatchTestSupport.h"

#include "core/PageText.h"

#include <QImageWriter>
#include <QPainter>

namespace {

using namespace batchtest;

class ExportCommandTest : public BatchTest {
protected:
    // Bills: three JPEG pages, each with one word of its own.
    void SetUp() override
    {
        BatchTest::SetUp();
        MakeCategory("Bills");
        ASSERT_TRUE(MakeWordsFolder(A("Bills")));
        ASSERT_TRUE(WriteAll(A("Bills/FileList.txt"), "00000003\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n"));
        for (int i = 1; i <= 3; ++i) {
            const QString entry = QStringLiteral("%1.jpg").arg(i, 8, 10, QLatin1Char('0'));
            QImage image(400, 560, QImage::Format_RGB888);
            image.fill(Qt::white);
            ASSERT_TRUE(QImageWriter(A("Bills/Image/" + entry), "jpeg").write(image));
            PageText text{400, 560, "ocr:jpn+eng", {{0, QRect(40, 40, 200, 30), 90, Word(i)}}};
            ASSERT_TRUE(WritePageText(WordsPathOfEntry(A("Bills"), entry), text));
        }
    }

    static QString Word(int page) { return QStringLiteral("頁%1page").arg(page); }

    static QString TextOf(const QString& pdf)
    {
        QProcess tool;
        tool.start("pdftotext", {"-enc", "UTF-8", pdf, "-"});
        EXPECT_TRUE(tool.waitForFinished(60000));
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    // The words of the pages in the PDF, in its page order.
    static QStringList WordsIn(const QString& pdf)
    {
        QStringList words;
        for (const QString& page : TextOf(pdf).split(u'\f', Qt::SkipEmptyParts))
            if (!page.trimmed().isEmpty())
                words << page.trimmed();
        return words;
    }
};

TEST_F(ExportCommandTest, ThePagesAskedForInTheirOrder)
{
    struct Case {
        QStringList pages;
        QStringList words;
    };
    const Case cases[] = {
        {{}, {Word(1), Word(2), Word(3)}},
        {{"--pages", "3,1"}, {Word(3), Word(1)}},
        {{"--pages=2-3"}, {Word(2), Word(3)}},
        {{"--pages", "1, 2-2 ,3"}, {Word(1), Word(2), Word(3)}},
    };
    for (const Case& c : cases) {
        const QString out = O("bills.pdf");
        const Outcome run = Batch(On("export", "Bills", c.pages + QStringList{out}));
        EXPECT_TRUE(Succeeded(run)) << c.pages.join(' ').toStdString();
        EXPECT_EQ(run.out, (out + '\t' + QString::number(c.words.size()) + '\n').toUtf8());
        EXPECT_EQ(WordsIn(out), c.words) << c.pages.join(' ').toStdString();
    }
}

TEST_F(ExportCommandTest, APageThatCannotBeReadIsNamedAndLeftOut)
{
    ASSERT_TRUE(QFile::remove(A("Bills/Image/00000002.jpg")));
    const QString out = O("bills.pdf");
    Outcome run = Batch(On("export", "Bills", {out}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "tolvane-batch: page 2 (00000002.jpg): the file is missing; left out\n");
    EXPECT_EQ(run.out, (out + "\t2\n").toUtf8());
    EXPECT_EQ(WordsIn(out), QStringList({Word(1), Word(3)}));

    // None left: no PDF, the old one kept.
    run = Batch(On("export", "Bills", {"--pages", "2", out}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.endsWith("tolvane-batch: no PDF written: no page could be exported\n")) << run.err.constData();
    EXPECT_EQ(WordsIn(out).size(), 2);
}

TEST_F(ExportCommandTest, BadArgumentsWriteNothing)
{
    MakeCategory("Empty");
    struct Case {
        QString category;
        QStringList more;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"Bills", {"--pages", "0", O("x.pdf")}, 2, "--pages: pages are numbered from 1, '0' given"},
        {"Bills", {"--pages", "4", O("x.pdf")}, 2, "--pages: page 4 is past the last page (3)"},
        {"Bills", {"--pages", "3-1", O("x.pdf")}, 2, "--pages: the range '3-1' runs backwards"},
        {"Bills", {"--pages", "1,,2", O("x.pdf")}, 2, "--pages: '' is no page number or range (like 1,3,5-8)"},
        {"Bills", {"--pages", "+1", O("x.pdf")}, 2, "--pages: '+1' is no page number or range (like 1,3,5-8)"},
        {"Bills", {}, 2, "export takes one OUT.pdf, 0 given (see --help)"},
        {"Bills", {O("x.pdf"), O("y.pdf")}, 2, "export takes one OUT.pdf, 2 given (see --help)"},
        {"Nowhere", {O("x.pdf")}, 2, nullptr},
        {"Empty", {O("x.pdf")}, 1, "the category 'Empty' has no pages"},
        {"Bills", {A("Bills/FileList.txt")}, 2, nullptr},
    };
    for (const Case& c : cases) {
        const Outcome run = Batch(On("export", c.category, c.more));
        EXPECT_TRUE(FailedWith(run, c.exitCode)) << c.more.join(' ').toStdString();
        if (c.message) {
            EXPECT_EQ(run.err, QByteArray("tolvane-batch: ") + c.message + '\n');
        }
    }
    EXPECT_TRUE(Tree(Out()).isEmpty()) << Tree(Out()).join(' ').toStdString();
    EXPECT_TRUE(ReadAll(A("Bills/FileList.txt")).startsWith("00000003\r\n"));
}

TEST_F(ExportCommandTest, AddFilesAPdfPageByPageWithItsWords)
{
    const QString pdf = O("bills.pdf"), unnamed = O("scan"), locked = O("locked.PDF");
    ASSERT_TRUE(Succeeded(Batch(On("export", "Bills", {"--pages", "3,1", pdf}))));
    ASSERT_TRUE(QFile::copy(pdf, unnamed));
    QProcess qpdf;
    qpdf.start("qpdf", {"--encrypt", "u", "o", "256", "--", pdf, locked});
    ASSERT_TRUE(qpdf.waitForFinished(60000) && qpdf.exitCode() == 0);

    const Outcome run = Batch(On("add", "Back", {"--create", pdf, locked, unnamed}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, ("tolvane-batch: '" + locked + "': 読込めないデータ形式です (the PDF is encrypted)\n").toUtf8());
    EXPECT_EQ(run.out, QStringLiteral("00000001.jpg\t%1 page 1\n00000002.jpg\t%1 page 2\n"
                                      "00000003.jpg\t%2 page 1\n00000004.jpg\t%2 page 2\n")
                           .arg(pdf, unnamed)
                           .toUtf8());
    const QString words[] = {Word(3), Word(1), Word(3), Word(1)};
    for (int i = 0; i < 4; ++i) {
        const QString entry = QStringLiteral("%1.jpg").arg(i + 1, 8, 10, QLatin1Char('0'));
        const std::optional<PageText> text = ReadPageText(WordsPathOfEntry(A("Back"), entry));
        ASSERT_TRUE(text) << i;
        EXPECT_EQ(text->Plain(), words[i]);
    }
}

}  // namespace
