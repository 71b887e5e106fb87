// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch check as a user runs it: one line per finding with the
// category and the file, the exit status, --category, --decode on real
// images, and --repair mending with the program's own thumbnails and memos
// so that the next check finds nothing.

#include "tests/batch/BatchTestSupport.h"

#include <QMap>

namespace {

using namespace batchtest;

class CheckTest : public BatchTest {
protected:
    // Two categories filed by add itself: three pages each.
    void FileTwoCategories()
    {
        for (const char* name : {"Bills", "Letters"}) {
            MakeCategory(name);
            ASSERT_TRUE(Succeeded(Batch(On("add", name, {Small(), Grey(), Small()}))));
        }
    }

    QMap<QString, QByteArray> Files() const
    {
        QMap<QString, QByteArray> out;
        for (const QString& f : Tree(Archive()))
            if (QFileInfo(A(f)).isFile())
                out.insert(f, ReadAll(A(f)));
        return out;
    }
};

TEST_F(CheckTest, ASoundArchiveIsCleanWithAndWithoutDecoding)
{
    FileTwoCategories();
    MakeCategory("Empty");
    for (const QStringList& more : {QStringList{}, QStringList{"--decode"}, QStringList{"--repair"}}) {
        const Outcome run = Batch(On("check", QString(), more));
        EXPECT_TRUE(Succeeded(run)) << more.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();
    }
}

TEST_F(CheckTest, OneLinePerFindingAndRepairMendsWithTheProgramsOwnFiles)
{
    FileTwoCategories();
    WriteConfig("JpegMode=0\nResizeModeT=1\n");
    QFile::remove(A("Bills/Thumb/00000002.jpg"));
    QFile::remove(A("Letters/Text/00000003.txt"));
    QFile::remove(A("Letters/Image/00000001.jpg"));
    ASSERT_TRUE(QFile::copy(A("Bills/Image/00000001.jpg"), A("Bills/Image/00000009.JPG")));
    ASSERT_TRUE(WriteAll(A("Letters/Thumb/.00000004.jpg.tlv-AbCd1234.tmp"), "half a thumbnail"));
    ASSERT_TRUE(WriteAll(A(".NetLock.CTL.tlv-ZZZZ9999.tmp"), "1\r\n"));
    {
        // Old enough to be no running write's (the root is nobody's guard).
        QFile old(A(".NetLock.CTL.tlv-ZZZZ9999.tmp"));
        ASSERT_TRUE(old.open(QIODevice::ReadWrite));
        ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime));
    }

    const QByteArrayList expected = {
        "Bills/Thumb/00000002.jpg: the thumbnail of page 2 (list line 3) is not there",
        "Bills/Image/00000009.JPG: a page image no list line names",
        "Bills/FileList.txt: the header line 00000003 is below 00000009, the highest page number in use",
        "Letters/Image/00000001.jpg: the page image of page 1 (list line 2) is not there",
        "Letters/Text/00000003.txt: the memo of page 3 (list line 4) is not there",
        "Letters/Thumb/.00000004.jpg.tlv-AbCd1234.tmp: a temporary file left by an interrupted write",
        ".NetLock.CTL.tlv-ZZZZ9999.tmp: a temporary file left by an interrupted write",
    };
    Outcome run = Batch(On("check", QString()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    EXPECT_EQ(run.out, expected.join('\n') + '\n');

    // One category only; the archive folder's own leftovers are not its.
    run = Batch(On("check", "Letters"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, expected.mid(3, 3).join('\n') + '\n');

    const auto before = Files();
    run = Batch(On("check", QString(), {"--repair"}));
    EXPECT_EQ(run.exitCode, 1);  // it found something
    const QByteArrayList lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), expected.size() + 1) << run.out.constData();
    EXPECT_EQ(lines[0], expected[0] + "; mended: made from the page image");
    EXPECT_EQ(lines[1], expected[1] + "; mended: appended to FileList.txt as line 5, its thumbnail made, its memo made");
    EXPECT_EQ(lines[2], expected[2] + "; mended: raised to 00000009");
    EXPECT_EQ(lines[3], expected[3]);  // nothing to mend it with
    EXPECT_EQ(lines[4], expected[4] + "; mended: made, empty");
    EXPECT_EQ(lines[5], expected[5] + "; mended: removed");
    EXPECT_EQ(lines[6], expected[6] + "; mended: removed");

    // The thumbnails are the program's own, from the page image and the
    // settings (ResizeModeT 1, JpegMode 0: quality 90).
    Settings settings = DefaultSettings();
    settings.ResizeModeT = 1;
    for (const auto& [image, thumb] : {std::pair{"Bills/Image/00000002.jpg", "Bills/Thumb/00000002.jpg"},
                                       std::pair{"Bills/Image/00000009.JPG", "Bills/Thumb/00000009.jpg"}}) {
        ImageHandle page = ImgKitFileLoad(A(image));
        ASSERT_TRUE(ReplaceImage(page, ImgKitConvertColor(page, 24)) || page);
        EXPECT_EQ(ReadAll(A(thumb)), Jpeg(MakeThumbnail(page, settings), 90)) << thumb;
    }
    EXPECT_EQ(ReadAll(A("Bills/Text/00000009.txt")), QByteArray("\r\n"));
    EXPECT_EQ(ReadAll(A("Bills/FileList.txt")),
              QByteArray("00000009\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n00000009.JPG\r\n"));
    // Nothing was deleted but the temporary files, nothing changed but the list.
    const auto after = Files();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key().contains(u".tlv-")) {
            EXPECT_FALSE(after.contains(it.key()));
            continue;
        }
        EXPECT_TRUE(after.contains(it.key())) << qPrintable(it.key());
        if (!it.key().endsWith(u"FileList.txt")) {
            EXPECT_EQ(after.value(it.key()), it.value()) << qPrintable(it.key());
        }
    }

    // Once more: only the page image nothing can bring back.
    run = Batch(On("check", QString(), {"--repair"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, expected[3] + '\n');
}

TEST_F(CheckTest, DecodeReadsEveryImage)
{
    FileTwoCategories();
    // A page image cut short, a thumbnail that is no picture: both are
    // there, so only decoding tells.
    const QByteArray page = ReadAll(A("Bills/Image/00000002.jpg"));
    ASSERT_TRUE(WriteAll(A("Bills/Image/00000002.jpg"), page.left(page.size() / 2)));
    ASSERT_TRUE(WriteAll(A("Letters/Thumb/00000001.jpg"), "not a picture"));
    EXPECT_TRUE(Succeeded(Batch(On("check", QString()))));
    const Outcome run = Batch(On("check", QString(), {"--decode", "--repair"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Bills/Image/00000002.jpg: the page image of page 2 (list line 3) does not decode\n"
                       "Letters/Thumb/00000001.jpg: the thumbnail of page 1 (list line 2) does not decode; "
                       "mended: made from the page image\n");
    EXPECT_EQ(SizeOf(A("Letters/Thumb/00000001.jpg")), std::make_pair(146, 199));
    EXPECT_EQ(Batch(On("check", QString(), {"--decode"})).out,
              "Bills/Image/00000002.jpg: the page image of page 2 (list line 3) does not decode\n");
}

TEST_F(CheckTest, RefusedArguments)
{
    MakeCategory("Cat");
    for (const QStringList& args :
         {On("check", "Missing"), On("check", "../Cat"), On("check", ""), On("check", QString(), {"extra"}),
          On("check", QString(), {"--kmode", "1"}), QStringList{"check", "--archive", tmp_.filePath("nowhere")}}) {
        EXPECT_TRUE(FailedWith(Batch(args), 2)) << args.join(' ').toStdString();
    }
}

}  // namespace
