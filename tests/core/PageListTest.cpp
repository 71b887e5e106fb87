// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PageList.h"

#include "core/ArchiveFiles.h"
#include "core/Memo.h"

#include "CoreTestUtil.h"
#include "tests/support/TestVolume.h"

#include <QElapsedTimer>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

class PageListTest : public ScratchTest {
protected:
    // Creates a page as the intake does (image, thumbnail, memo, then the list line).
    QString CreatePage(PageList& list, const QString& folder, int saveFormat = 0)
    {
        const QString extension = SaveFormatExtension(saveFormat);
        const QString number = IssuePageNumber(list, folder);
        EXPECT_TRUE(WriteFileAtomically(folder + "/Image/" + number + extension, "image"));
        EXPECT_TRUE(WriteFileAtomically(folder + "/Thumb/" + number + ".jpg", "thumb"));
        EXPECT_TRUE(CreateEmptyMemo(folder + "/Text/" + number + ".txt"));
        AppendPageEntry(list, number, extension);
        EXPECT_TRUE(SavePageList(list, folder));
        return number;
    }

    PageList Loaded(const QString& folder)
    {
        PageList list;
        LoadPageList(list, folder);
        return list;
    }

    PageList WithHeader(const QString& header)
    {
        const QString folder = MakeCategory(QStringLiteral("H"));
        Put("H/FileList.txt", header.toLatin1() + "\r\n");
        return Loaded(folder);
    }
};

// ---------------------------------------------------------------------------
// Loading

TEST_F(PageListTest, DefaultListIsHeaderAlone)
{
    PageList list;
    EXPECT_EQ(list.lines, QStringList{"00000000"});
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PageListTest, MissingFileGivesHeaderAlone)
{
    const QString folder = MakeCategory();
    PageList list;
    list.lines = QStringList{"00000009", "00000009.jpg"};
    LoadPageList(list, folder);
    EXPECT_EQ(list.lines, QStringList{"00000000"});
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(Exists("Cat/FileList.txt"));  // loading creates nothing
}

TEST_F(PageListTest, MissingCategoryFolderGivesHeaderAlone)
{
    const PageList list = Loaded(P("NoSuchCategory"));
    EXPECT_EQ(list.lines, QStringList{"00000000"});
}

TEST_F(PageListTest, EmptyFileGivesHeaderAlone)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", QByteArray());
    const PageList list = Loaded(folder);
    EXPECT_EQ(list.lines, QStringList{"00000000"});
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PageListTest, UnreadableFileGivesHeaderAlone)
{
    const QString folder = MakeCategory();
    MakeDir("Cat/FileList.txt");  // a folder where the file should be
    const PageList list = Loaded(folder);
    EXPECT_EQ(list.lines, QStringList{"00000000"});
}

TEST_F(PageListTest, LoadsCrLfLines)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000003\r\n00000001.jpg\r\n00000003.tif\r\n00000002.bmp\r\n");
    const PageList list = Loaded(folder);
    EXPECT_EQ(list.lines, (QStringList{"00000003", "00000001.jpg", "00000003.tif", "00000002.bmp"}));
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(PageListTest, LoadsLfCrAndMissingFinalBreak)
{
    const QString folder = MakeCategory();
    const QStringList expected{"00000002", "00000001.jpg", "00000002.jpg"};
    for (const char* content : {"00000002\n00000001.jpg\n00000002.jpg\n", "00000002\r00000001.jpg\r00000002.jpg\r",
                                "00000002\r\n00000001.jpg\n00000002.jpg", "00000002\r\n00000001.jpg\r00000002.jpg\r\n"}) {
        Put("Cat/FileList.txt", content);
        EXPECT_EQ(Loaded(folder).lines, expected) << content;
    }
}

TEST_F(PageListTest, KeepsOrderAndDuplicates)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000005\r\n00000005.jpg\r\n00000001.jpg\r\n00000001.jpg\r\n");
    const PageList list = Loaded(folder);
    EXPECT_EQ(list.lines, (QStringList{"00000005", "00000005.jpg", "00000001.jpg", "00000001.jpg"}));
}

TEST_F(PageListTest, FindsFileListInAnyCase)
{
    const QString folder = MakeCategory();
    Put("Cat/FILELIST.TXT", "00000001\r\n00000001.jpg\r\n");
    PageList list = Loaded(folder);
    EXPECT_EQ(list.lines, (QStringList{"00000001", "00000001.jpg"}));
    AppendPageEntry(list, IssuePageNumber(list, folder), ".jpg");
    ASSERT_TRUE(SavePageList(list, folder));
    EXPECT_EQ(Get("Cat/FILELIST.TXT"), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
    EXPECT_FALSE(Exists("Cat/FileList.txt"));
}

TEST_F(PageListTest, DecodesEntriesAsCp932)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000001\r\n\x83\x81\x83\x82.jpg\r\n");
    EXPECT_EQ(Loaded(folder).lines, (QStringList{"00000001", QString::fromUtf8("メモ.jpg")}));
}

// ---------------------------------------------------------------------------
// Saving

TEST_F(PageListTest, SaveWritesCrLfAfterEveryLine)
{
    const QString folder = MakeCategory();
    PageList list;
    list.lines = QStringList{"00000001", "00000001.jpg"};
    ASSERT_TRUE(SavePageList(list, folder));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000001\r\n00000001.jpg\r\n"));
}

TEST_F(PageListTest, SaveHeaderAlone)
{
    const QString folder = MakeCategory();
    ASSERT_TRUE(SavePageList(PageList{}, folder));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000000\r\n"));
}

TEST_F(PageListTest, SaveRoundTripsLoadedList)
{
    const QString folder = MakeCategory();
    const QByteArray bytes("00000041\r\n00000040.jpg\r\n00000002.bmp\r\n00000041.tif\r\n");
    Put("Cat/FileList.txt", bytes);
    ASSERT_TRUE(SavePageList(Loaded(folder), folder));
    EXPECT_EQ(Get("Cat/FileList.txt"), bytes);
}

TEST_F(PageListTest, SaveFailureWithFolderInTheWayLeavesNoTemp)
{
    const QString folder = MakeCategory();
    MakeDir("Cat/FileList.txt");
    PageList list;
    list.lines = QStringList{"00000001", "00000001.jpg"};
    EXPECT_FALSE(SavePageList(list, folder));
    EXPECT_TRUE(QFileInfo(P("Cat/FileList.txt")).isDir());
    EXPECT_EQ(Entries("Cat"), (QStringList{"FileList.txt", "Image", "Text", "Thumb"}));
    EXPECT_EQ(list.lines, (QStringList{"00000001", "00000001.jpg"}));  // memory unchanged
}

TEST_F(PageListTest, SaveFailureInReadOnlyFolderKeepsOldFile)
{
    TestVolume volume(P("Cat"), TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    const QString folder = MakeCategory();
    const QByteArray old("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n");
    Put("Cat/FileList.txt", old);
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    PageList list = Loaded(folder);
    ASSERT_EQ(list.Count(), 2);
    RemovePageEntry(list, 0);
    const bool saved = SavePageList(list, folder);
    volume.Release();
    EXPECT_FALSE(saved);
    EXPECT_EQ(Get("Cat/FileList.txt"), old);
    EXPECT_EQ(Entries("Cat"), (QStringList{"FileList.txt", "Image", "Text", "Thumb"}));
}

TEST_F(PageListTest, SaveToMissingFolderFails)
{
    PageList list;
    EXPECT_FALSE(SavePageList(list, P("Gone")));
    EXPECT_FALSE(Exists("Gone"));
}

// ---------------------------------------------------------------------------
// Page numbers

TEST_F(PageListTest, HeaderForms)
{
    struct Case {
        const char* header;
        const char* next;
    };
    for (const Case& c : {Case{"41", "00000042"}, Case{"00000041", "00000042"}, Case{" 41", "00000042"},
                          Case{"", "00000001"}, Case{"abc", "00000001"}, Case{"41abc", "00000042"},
                          Case{"00000000", "00000001"}, Case{"99999998", "99999999"}, Case{"-5", "00000001"}}) {
        PageList list = WithHeader(QString::fromLatin1(c.header));
        const QString folder = P("H");
        EXPECT_EQ(IssuePageNumber(list, folder), QString::fromLatin1(c.next)) << c.header;
        EXPECT_EQ(list.lines.first(), QString::fromLatin1(c.next)) << c.header;
    }
}

TEST_F(PageListTest, IssueChangesOnlyHeaderInMemory)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000007\r\n00000007.jpg\r\n");
    PageList list = Loaded(folder);
    EXPECT_EQ(IssuePageNumber(list, folder), "00000008");
    EXPECT_EQ(list.lines, (QStringList{"00000008", "00000007.jpg"}));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000007\r\n00000007.jpg\r\n"));
    EXPECT_EQ(IssuePageNumber(list, folder), "00000009");  // a second call goes on
}

TEST_F(PageListTest, FirstPageOfNewCategory)
{
    const QString folder = MakeCategory();
    PageList list = Loaded(folder);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(CreatePage(list, folder), "00000001");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000001\r\n00000001.jpg\r\n"));
    EXPECT_EQ(Get("Cat/Image/00000001.jpg"), QByteArray("image"));
    EXPECT_EQ(Get("Cat/Thumb/00000001.jpg"), QByteArray("thumb"));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray("\r\n"));
}

TEST_F(PageListTest, DeletedLastNumberIsNotReused)
{
    const QString folder = MakeCategory();
    PageList list = Loaded(folder);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(CreatePage(list, folder), QString::asprintf("%08d", i));
    // Delete page 00000005 as the delete command does: files first, then the entry.
    ASSERT_TRUE(QFile::remove(ImagePath(folder, list, 4)));
    ASSERT_TRUE(QFile::remove(ThumbPath(folder, list, 4)));
    ASSERT_TRUE(QFile::remove(MemoPath(folder, list, 4)));
    RemovePageEntry(list, 4);
    ASSERT_TRUE(SavePageList(list, folder));
    EXPECT_EQ(Get("Cat/FileList.txt"),
              QByteArray("00000005\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n00000004.jpg\r\n"));

    PageList reloaded = Loaded(folder);
    EXPECT_EQ(reloaded.Count(), 4);
    EXPECT_EQ(IssuePageNumber(reloaded, folder), "00000006");
}

TEST_F(PageListTest, HeaderWithThreeEntries)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000041\r\n00000012.jpg\r\n00000040.jpg\r\n00000041.jpg\r\n");
    PageList list = Loaded(folder);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(IssuePageNumber(list, folder), "00000042");
}

TEST_F(PageListTest, SaveFormatBmpKeepsJpgThumbAndTxtMemo)
{
    const QString folder = MakeCategory();
    PageList list = Loaded(folder);
    EXPECT_EQ(CreatePage(list, folder, 1), "00000001");
    EXPECT_EQ(list.lines.at(1), "00000001.bmp");
    EXPECT_EQ(ImagePath(folder, list, 0), folder + "/Image/00000001.bmp");
    EXPECT_EQ(ThumbPath(folder, list, 0), folder + "/Thumb/00000001.jpg");
    EXPECT_EQ(MemoPath(folder, list, 0), folder + "/Text/00000001.txt");
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000001\r\n00000001.bmp\r\n"));
}

TEST_F(PageListTest, SaveFormatExtensions)
{
    EXPECT_EQ(SaveFormatExtension(0), ".jpg");
    EXPECT_EQ(SaveFormatExtension(1), ".bmp");
    EXPECT_EQ(SaveFormatExtension(2), ".tif");
    EXPECT_EQ(SaveFormatExtension(3), ".jpg");
    EXPECT_EQ(SaveFormatExtension(-1), ".jpg");
}

TEST_F(PageListTest, SkipsNumbersWhoseFilesExistInAnyCase)
{
    const QString folder = P("Cat");
    MakeDir("Cat/image");
    MakeDir("Cat/THUMB");
    MakeDir("Cat/TeXt");
    Put("Cat/image/00000001.JPG", "i");  // image, upper-case extension
    Put("Cat/image/00000002.Tif", "i");
    Put("Cat/image/00000003.bmp", "i");
    Put("Cat/THUMB/00000004.Jpg", "t");  // thumbnail only
    Put("Cat/TeXt/00000005.TXT", "m");   // memo only
    Put("Cat/TeXt/00000006.Txt", "m");
    Put("Cat/image/00000008.png", "i");  // not a page image extension
    Put("Cat/THUMB/00000008.bmp", "t");  // not a thumbnail extension
    Put("Cat/TeXt/00000008.doc", "m");   // not a memo extension
    PageList list;  // header 00000000, as after a lost FileList.txt
    EXPECT_EQ(IssuePageNumber(list, folder), "00000007");
    EXPECT_EQ(IssuePageNumber(list, folder), "00000008");
    EXPECT_EQ(list.lines.first(), "00000008");
}

TEST_F(PageListTest, SkipsNumbersOfOwnEntries)
{
    const QString folder = MakeCategory();
    PageList list;
    list.lines = QStringList{"00000002", "00000003.jpg", "00000004.tif", "00000006.bmp"};
    EXPECT_EQ(IssuePageNumber(list, folder), "00000005");
    EXPECT_EQ(IssuePageNumber(list, folder), "00000007");
}

TEST_F(PageListTest, DamagedHeaderDoesNotOverwriteOldPage)
{
    const QString folder = MakeCategory();
    PageList list = Loaded(folder);
    for (int i = 0; i < 3; ++i)
        CreatePage(list, folder);
    Put("Cat/FileList.txt", "00000001\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n");
    PageList damaged = Loaded(folder);
    EXPECT_EQ(IssuePageNumber(damaged, folder), "00000004");
    // A second writer's page that is not in our list.
    Put("Cat/Image/00000005.jpg", "other");
    EXPECT_EQ(IssuePageNumber(damaged, folder), "00000006");
}

TEST_F(PageListTest, IssueInFullCategoryIsFast)
{
    const QString folder = MakeCategory();
    PageList list;
    for (int i = 1; i <= 999; ++i) {
        const QString n = QString::asprintf("%08d", i);
        Put("Cat/Image/" + n + ".jpg", "i");
        Put("Cat/Thumb/" + n + ".jpg", "t");
        Put("Cat/Text/" + n + ".txt", "\r\n");
        list.lines.append(n + ".jpg");
    }
    list.lines[0] = "00000000";  // worst case: every number up to 999 is taken
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(IssuePageNumber(list, folder), "00001000");
    EXPECT_LT(timer.elapsed(), 1000);
}

// ---------------------------------------------------------------------------
// Entries, paths and limit

TEST_F(PageListTest, AppendAndRemoveEntries)
{
    PageList list;
    AppendPageEntry(list, "00000001", ".jpg");
    AppendPageEntry(list, "00000002", ".tif");
    AppendPageEntry(list, "00000003", ".bmp");
    EXPECT_EQ(list.Count(), 3);
    RemovePageEntry(list, 1);
    EXPECT_EQ(list.lines, (QStringList{"00000000", "00000001.jpg", "00000003.bmp"}));
    RemovePageEntry(list, -1);
    RemovePageEntry(list, 2);
    EXPECT_EQ(list.Count(), 2);
    RemovePageEntry(list, 0);
    RemovePageEntry(list, 0);
    EXPECT_EQ(list.lines, QStringList{"00000000"});
    RemovePageEntry(list, 0);  // nothing left to remove; the header stays
    EXPECT_EQ(list.lines, QStringList{"00000000"});
}

TEST_F(PageListTest, ReorderingKeepsHeaderAndNames)
{
    const QString folder = MakeCategory();
    Put("Cat/FileList.txt", "00000003\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n");
    PageList list = Loaded(folder);
    list.lines.move(3, 1);
    ASSERT_TRUE(SavePageList(list, folder));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000003\r\n00000003.jpg\r\n00000001.jpg\r\n00000002.jpg\r\n"));
}

TEST_F(PageListTest, PathsOfEntries)
{
    PageList list;
    list.lines = QStringList{"00000013", "00000012.jpg", "00000013.tif", "noext"};
    const QString f = QStringLiteral("/arch/Cat");
    EXPECT_EQ(ImagePath(f, list, 0), "/arch/Cat/Image/00000012.jpg");
    EXPECT_EQ(ThumbPath(f, list, 0), "/arch/Cat/Thumb/00000012.jpg");
    EXPECT_EQ(MemoPath(f, list, 0), "/arch/Cat/Text/00000012.txt");
    EXPECT_EQ(ImagePath(f, list, 1), "/arch/Cat/Image/00000013.tif");
    EXPECT_EQ(ThumbPath(f, list, 1), "/arch/Cat/Thumb/00000013.jpg");
    EXPECT_EQ(MemoPath(f, list, 1), "/arch/Cat/Text/00000013.txt");
    EXPECT_EQ(ThumbPath(f, list, 2), "/arch/Cat/Thumb/noext.jpg");
    EXPECT_EQ(ImagePath(f, list, 3), QString());
    EXPECT_EQ(MemoPath(f, list, -1), QString());
    EXPECT_EQ(PageEntry(list, 1), "00000013.tif");
    EXPECT_EQ(PageNumberOfEntry("00000013.tif"), "00000013");
}

TEST_F(PageListTest, PathsResolveToFilesInOtherCase)
{
    const QString folder = P("Cat");
    MakeDir("Cat/text");
    Put("Cat/text/00000001.Txt", "memo\r\n");
    PageList list;
    list.lines = QStringList{"00000001", "00000001.jpg"};
    const auto memo = ReadMemo(MemoPath(folder, list, 0));
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->text, "memo\n");
}

TEST_F(PageListTest, PageLimit)
{
    PageList list;
    for (int i = 1; i <= 998; ++i)
        AppendPageEntry(list, QString::asprintf("%08d", i), ".jpg");
    EXPECT_EQ(list.Count(), 998);
    EXPECT_FALSE(PageLimitReached(list));  // 998 pages accept one more
    AppendPageEntry(list, "00000999", ".jpg");
    EXPECT_EQ(list.lines.size(), 1000);
    EXPECT_TRUE(PageLimitReached(list));  // 999 pages are full
    AppendPageEntry(list, "00001000", ".jpg");
    EXPECT_TRUE(PageLimitReached(list));
    EXPECT_EQ(kPageListLineLimit, 1000);
    EXPECT_EQ(kPageLimitMessage, QString::fromUtf8("1000枚を超えるイメージは保存できません"));
}

}  // namespace
