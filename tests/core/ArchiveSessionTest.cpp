// SPDX-License-Identifier: GPL-3.0-or-later
// The archive session's page operations: what a new page writes and in what
// order, what a failure at each step leaves behind, and that a crash at any
// moment leaves a list that is whole and names no missing file.

#include "core/ArchiveSession.h"
#include "CoreTestUtil.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

const QByteArray kPage = QByteArray(3000, 'P');
const QByteArray kThumb = QByteArray(700, 'T');

class ArchiveSessionTest : public ScratchTest {
protected:
    ArchiveSession session_;

    void Open(const QByteArray& list = QByteArray())
    {
        const QString cat = MakeCategory();
        if (!list.isNull())
            Put(QStringLiteral("Cat/FileList.txt"), list);
        session_.SelectCategory(cat);
    }

    // The page files of the category, sorted, leftovers included.
    QStringList PageFiles() const
    {
        QStringList all;
        for (const char* sub : {"Image", "Thumb", "Text"})
            for (const QString& n : Entries(QStringLiteral("Cat/") + QLatin1String(sub)))
                all << QLatin1String(sub) + u'/' + n;
        return all;
    }
};

}  // namespace

TEST_F(ArchiveSessionTest, ANewPageWritesItsFilesThenTheList)
{
    Open();
    ASSERT_TRUE(session_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    EXPECT_EQ(Get(QStringLiteral("Cat/Image/00000001.jpg")), kPage);
    EXPECT_EQ(Get(QStringLiteral("Cat/Thumb/00000001.jpg")), kThumb);
    EXPECT_EQ(Get(QStringLiteral("Cat/Text/00000001.txt")), QByteArray("\r\n"));
    EXPECT_EQ(Get(QStringLiteral("Cat/FileList.txt")), QByteArray("00000001\r\n00000001.jpg\r\n"));
    EXPECT_EQ(session_.Grid.P, 1);
    EXPECT_EQ(session_.Grid.K, 0);
    EXPECT_EQ(session_.Grid.T, 0);
}

TEST_F(ArchiveSessionTest, NumbersFollowTheHeaderAndSkipFilesThatExist)
{
    Open("00000041\r\n00000003.jpg\r\n00000007.tif\r\n00000041.jpg\r\n00000040.bmp\r\n00000039.jpg\r\n");
    Put(QStringLiteral("Cat/Thumb/00000042.JPG"), "someone else's");
    ASSERT_TRUE(session_.StoreNewPage(kPage, QStringLiteral(".bmp"), kThumb));
    EXPECT_EQ(session_.Pages.lines.first(), QStringLiteral("00000043"));
    EXPECT_EQ(session_.Pages.lines.last(), QStringLiteral("00000043.bmp"));
    EXPECT_EQ(Get(QStringLiteral("Cat/Thumb/00000042.JPG")), QByteArray("someone else's"));
    EXPECT_TRUE(Exists(QStringLiteral("Cat/Image/00000043.bmp")));
    EXPECT_TRUE(Exists(QStringLiteral("Cat/Thumb/00000043.jpg")));
    // six pages: the last four are shown, the new one clicked
    EXPECT_EQ(session_.Grid.P, 6);
    EXPECT_EQ(session_.Grid.K, 5);
    EXPECT_EQ(session_.Grid.T, 2);
}

// A failure at each step: what stays on disk and in memory.
TEST_F(ArchiveSessionTest, EachFailedStepLeavesNoOrphanAndTheListAsBefore)
{
    const QByteArray list = "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n";
    struct Case {
        const char* name;
        const char* blocker;       // a file put where a folder or the list should be
        bool numberStaysUsed;      // the header after the failure (read from disk again)
        int reason;
    };
    const Case cases[] = {
        {"page image", "Image", false, ENOTDIR},
        {"thumbnail", "Thumb", false, ENOTDIR},
        {"memo", "Text", false, ENOTDIR},
        {"page list", "FileList.txt/", false, EISDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(P(QStringLiteral("Cat"))).removeRecursively() || !Exists(QStringLiteral("Cat")));
        Open(list);
        const QString blocker = QStringLiteral("Cat/") + QLatin1String(c.blocker);
        if (blocker.endsWith(u'/')) {
            ASSERT_TRUE(QFile::remove(P(QStringLiteral("Cat/FileList.txt"))));
            MakeDir(blocker);
        } else {
            ASSERT_TRUE(QDir(P(blocker)).removeRecursively());
            Put(blocker, "in the way");
        }
        const QStringList filesBefore = PageFiles();
        const PageResult r = session_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb);
        EXPECT_FALSE(r);
        // A list turned into a folder cannot be read back: refused, never written over.
        EXPECT_EQ(r.message, c.reason == EISDIR ? kListNotWritableMessage.arg(QStringLiteral("Cat"))
                                                : QStringLiteral("ファイルを保存できません"));
        EXPECT_EQ(r.error.reason, QString::fromLocal8Bit(std::strerror(c.reason == EISDIR ? EIO : c.reason)));
        EXPECT_EQ(PageFiles(), filesBefore) << "every file the command wrote is gone";
        EXPECT_EQ(session_.Pages.Count(), 2);
        EXPECT_EQ(session_.Pages.lines.first(), c.numberStaysUsed ? QStringLiteral("00000003") : QStringLiteral("00000002"));
        EXPECT_EQ(session_.Grid.P, 2);
        EXPECT_EQ(session_.Grid.K, -1);
    }
}

TEST_F(ArchiveSessionTest, NoNumberLeftWritesNothing)
{
    Open("99999999\r\n00000001.jpg\r\n");
    const PageResult r = session_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.message, QStringLiteral("ファイルを保存できません"));
    EXPECT_EQ(PageFiles(), QStringList());
    EXPECT_EQ(Get(QStringLiteral("Cat/FileList.txt")), QByteArray("99999999\r\n00000001.jpg\r\n"));
}

TEST_F(ArchiveSessionTest, AReplacedPageGetsItsImageBackWhenTheThumbnailFails)
{
    Open("00000001\r\n00000001.tif\r\n");
    Put(QStringLiteral("Cat/Image/00000001.tif"), "old image");
    ASSERT_TRUE(QDir(P(QStringLiteral("Cat/Thumb"))).removeRecursively());
    Put(QStringLiteral("Cat/Thumb"), "in the way");
    const PageResult r = session_.ReplacePageFiles(0, kPage, kThumb);
    EXPECT_FALSE(r);
    EXPECT_EQ(Get(QStringLiteral("Cat/Image/00000001.tif")), QByteArray("old image"));
    EXPECT_EQ(Entries(QStringLiteral("Cat/Image")), QStringList{QStringLiteral("00000001.tif")});

    ASSERT_TRUE(QFile::remove(P(QStringLiteral("Cat/Thumb"))));
    MakeDir(QStringLiteral("Cat/Thumb"));
    ASSERT_TRUE(session_.ReplacePageFiles(0, kPage, kThumb));
    EXPECT_EQ(Get(QStringLiteral("Cat/Image/00000001.tif")), kPage);
    EXPECT_EQ(Get(QStringLiteral("Cat/Thumb/00000001.jpg")), kThumb);
    // an entry that names no file is refused
    session_.Pages.lines << QStringLiteral("../x.jpg");
    EXPECT_FALSE(session_.ReplacePageFiles(1, kPage, kThumb));
    EXPECT_FALSE(Exists(QStringLiteral("Cat/x.jpg")));
}

// The system stops the command at every possible write (a file-size limit
// with SIGXFSZ at its default kills it part-way through the bytes): the list
// on disk is always whole and every page it names has its files.
TEST_F(ArchiveSessionTest, ACrashAtAnyMomentLeavesAWholeList)
{
    Open("00000001\r\n00000001.jpg\r\n");
    Put(QStringLiteral("Cat/Image/00000001.jpg"), "p");
    Put(QStringLiteral("Cat/Thumb/00000001.jpg"), "t");
    Put(QStringLiteral("Cat/Text/00000001.txt"), "\r\n");
    int killed = 0, finished = 0;
    for (rlim_t budget = 1; budget < rlim_t(kPage.size() + 200); budget += 97) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit r{budget, budget};
            setrlimit(RLIMIT_FSIZE, &r);
            ArchiveSession child;
            child.SelectCategory(P(QStringLiteral("Cat")));
            _exit(child.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        (WIFSIGNALED(status) ? killed : finished) += 1;
        PageList list;
        LoadPageList(list, P(QStringLiteral("Cat")));
        ASSERT_GE(list.Count(), 1);
        for (int i = 0; i < list.Count(); ++i) {
            ASSERT_TRUE(FileExistsAnyCase(ImagePath(P(QStringLiteral("Cat")), list, i))) << budget;
            ASSERT_TRUE(FileExistsAnyCase(ThumbPath(P(QStringLiteral("Cat")), list, i))) << budget;
            ASSERT_TRUE(FileExistsAnyCase(MemoPath(P(QStringLiteral("Cat")), list, i))) << budget;
        }
    }
    EXPECT_GT(killed, 10);
}

TEST_F(ArchiveSessionTest, WritesPutBackWhatWasThereBefore)
{
    Put(QStringLiteral("a.txt"), "old a");
    MakeDir(QStringLiteral("c"));
    IoError error;
    QString failed;
    EXPECT_FALSE(WriteFilesWithRollback(
        {{P(QStringLiteral("a.txt")), "new a"}, {P(QStringLiteral("b.txt")), "new b"}, {P(QStringLiteral("c")), "x"}},
        &error, &failed));
    EXPECT_EQ(failed, P(QStringLiteral("c")));
    EXPECT_EQ(error.code, EISDIR);
    EXPECT_EQ(Get(QStringLiteral("a.txt")), QByteArray("old a"));
    EXPECT_FALSE(Exists(QStringLiteral("b.txt")));
    EXPECT_EQ(Entries(QString()), (QStringList{QStringLiteral("a.txt"), QStringLiteral("c")}));
}
