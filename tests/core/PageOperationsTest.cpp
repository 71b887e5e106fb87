// SPDX-License-Identifier: GPL-3.0-or-later
// Deleting, reordering and moving pages in the archive session: what each
// writes and in what order, the grid afterwards, what a failed write leaves,
// and that a crash while moving never loses the page.

#include "core/ArchiveSession.h"
#include "CoreTestUtil.h"

#include <QDir>
#include <QFile>

#include <functional>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

class PageOperationsTest : public ScratchTest {
protected:
    ArchiveSession session_;

    // A category of `pages` JPEG pages with all three files each; the
    // header holds `header` (at least the last number).
    QString Fill(const QString& name, int pages, int header = -1, const char* ext = ".jpg")
    {
        const QString folder = MakeCategory(name);
        QByteArray list = QByteArray::number(header < 0 ? pages : header).rightJustified(8, '0') + "\r\n";
        for (int i = 1; i <= pages; ++i) {
            const QString n = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
            Put(name + QStringLiteral("/Image/") + n + QLatin1String(ext), "image " + n.toLatin1());
            Put(name + QStringLiteral("/Thumb/") + n + QStringLiteral(".jpg"), "thumb " + n.toLatin1());
            Put(name + QStringLiteral("/Text/") + n + QStringLiteral(".txt"), "memo " + n.toLatin1() + "\r\n");
            list += n.toLatin1() + ext + "\r\n";
        }
        Put(name + QStringLiteral("/FileList.txt"), list);
        return folder;
    }

    void Open(const QString& folder, int t = 0, int k = -1)
    {
        session_.SelectCategory(folder);
        session_.Grid.T = t;
        session_.Grid.K = k;
    }

    // FileList.txt cannot be replaced: a folder of that name stands there.
    // FileList.txt turned into something that cannot be read back (a
    // folder): never written over, the operation refused.
    void BlockList(const QString& name)
    {
        ASSERT_TRUE(QFile::remove(P(name + QStringLiteral("/FileList.txt"))));
        MakeDir(name + QStringLiteral("/FileList.txt"));
    }

    QStringList Files(const QString& name) const
    {
        QStringList all;
        for (const char* sub : {"Image", "Thumb", "Text"})
            for (const QString& n : Entries(name + u'/' + QLatin1String(sub)))
                all << QLatin1String(sub) + u'/' + n;
        return all;
    }

    QStringList ListOnDisk(const QString& name) const
    {
        PageList list;
        LoadPageList(list, P(name));
        return list.lines;
    }
};

}  // namespace

TEST_F(PageOperationsTest, DeleteWritesTheListThenRemovesTheFilesAndNeverRenumbers)
{
    Open(Fill(QStringLiteral("Cat"), 3, 9), 0, 1);
    session_.Grid.SetMark(1, true);
    session_.Grid.SetMark(2, true);
    ASSERT_TRUE(session_.DeletePage(1));
    EXPECT_EQ(ListOnDisk(QStringLiteral("Cat")),
              (QStringList{QStringLiteral("00000009"), QStringLiteral("00000001.jpg"), QStringLiteral("00000003.jpg")}));
    EXPECT_EQ(session_.Pages.lines, ListOnDisk(QStringLiteral("Cat")));
    EXPECT_EQ(Files(QStringLiteral("Cat")),
              (QStringList{QStringLiteral("Image/00000001.jpg"), QStringLiteral("Image/00000003.jpg"),
                           QStringLiteral("Thumb/00000001.jpg"), QStringLiteral("Thumb/00000003.jpg"),
                           QStringLiteral("Text/00000001.txt"), QStringLiteral("Text/00000003.txt")}));
    EXPECT_EQ(session_.Grid.P, 2);
    EXPECT_EQ(session_.Grid.K, -1);
    EXPECT_EQ(session_.Grid.T, 0);
    // Marks belong to positions.
    EXPECT_TRUE(session_.Grid.Marked(1));
    EXPECT_TRUE(session_.Grid.Marked(2));
    // The number of a deleted page is not issued again: 9 gives 10.
    ASSERT_TRUE(session_.StoreNewPage("p", QStringLiteral(".jpg"), "t"));
    EXPECT_EQ(session_.Pages.lines.last(), QStringLiteral("00000010.jpg"));
}

TEST_F(PageOperationsTest, DeleteGoesOnWithoutThumbnailOrMemoAndEmptiesTheLastPage)
{
    Open(Fill(QStringLiteral("Cat"), 1), 0, 0);
    ASSERT_TRUE(QFile::remove(P(QStringLiteral("Cat/Thumb/00000001.jpg"))));
    ASSERT_TRUE(QFile::remove(P(QStringLiteral("Cat/Text/00000001.txt"))));
    ASSERT_TRUE(session_.DeletePage(0));
    EXPECT_EQ(ListOnDisk(QStringLiteral("Cat")), QStringList{QStringLiteral("00000001")});
    EXPECT_EQ(Files(QStringLiteral("Cat")), QStringList());
    EXPECT_EQ(session_.Grid.P, 0);
    // Outside the list: nothing happens.
    EXPECT_TRUE(session_.DeletePage(0));
    EXPECT_TRUE(session_.DeletePage(-1));
}

TEST_F(PageOperationsTest, ADeleteWhoseListCannotBeWrittenDeletesNothing)
{
    Open(Fill(QStringLiteral("Cat"), 3), 0, 2);
    const QStringList before = session_.Pages.lines;
    const QStringList files = Files(QStringLiteral("Cat"));
    BlockList(QStringLiteral("Cat"));
    const PageResult r = session_.DeletePage(2);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.message, kListNotWritableMessage.arg(QStringLiteral("Cat")));
    EXPECT_FALSE(r.asBox);
    EXPECT_TRUE(session_.ListReadOnly);
    EXPECT_FALSE(session_.WritingAllowed());
    EXPECT_FALSE(r.error.reason.isEmpty());
    EXPECT_EQ(session_.Pages.lines, before);
    EXPECT_EQ(Files(QStringLiteral("Cat")), files);
    EXPECT_EQ(session_.Grid.P, 3);
    EXPECT_EQ(session_.Grid.K, 2);
}

TEST_F(PageOperationsTest, ReorderingMovesTheLineTheClickAndTheGrid)
{
    struct Case {
        bool before;
        int t, k;           // shown first, clicked
        int newT, newK;
        const char* order;  // page numbers' last digits afterwards
    } const cases[] = {
        {true, 0, 2, 0, 1, "13245678"},
        {true, 2, 2, 1, 1, "13245678"},  // the first slot moved earlier: back by one
        {true, 0, 0, 0, 0, "12345678"},  // the first page: nothing
        {false, 0, 2, 0, 3, "12435678"},
        {false, 0, 3, 1, 4, "12354678"},  // the fourth slot moved later: forward by one
        {false, 4, 7, 4, 7, "12345678"},  // the last page: nothing
        {false, 0, -1, 0, -1, "12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.before ? "before" : "after") << " T " << c.t << " K " << c.k);
        ASSERT_TRUE(QDir(P(QStringLiteral("Cat"))).removeRecursively());
        Open(Fill(QStringLiteral("Cat"), 8), c.t, c.k);
        ASSERT_TRUE(c.before ? session_.MovePageBefore(c.k) : session_.MovePageAfter(c.k));
        QString order;
        for (int i = 0; i < session_.Pages.Count(); ++i)
            order += PageEntry(session_.Pages, i).at(7);
        EXPECT_EQ(order, QLatin1String(c.order));
        EXPECT_EQ(ListOnDisk(QStringLiteral("Cat")), session_.Pages.lines);
        EXPECT_EQ(session_.Pages.lines.first(), QStringLiteral("00000008"));
        EXPECT_EQ(session_.Grid.T, c.newT);
        EXPECT_EQ(session_.Grid.K, c.newK);
    }
    // Earlier then later gives the list back line for line.
    ASSERT_TRUE(QDir(P(QStringLiteral("Cat"))).removeRecursively());
    Open(Fill(QStringLiteral("Cat"), 8), 0, 5);
    const QStringList start = session_.Pages.lines;
    ASSERT_TRUE(session_.MovePageBefore(5));
    ASSERT_TRUE(session_.MovePageAfter(session_.Grid.K));
    EXPECT_EQ(session_.Pages.lines, start);
    EXPECT_EQ(session_.Grid.K, 5);
}

TEST_F(PageOperationsTest, AReorderWhoseListCannotBeWrittenChangesNothing)
{
    Open(Fill(QStringLiteral("Cat"), 5), 1, 1);
    const QStringList before = session_.Pages.lines;
    BlockList(QStringLiteral("Cat"));
    for (bool earlier : {true, false}) {
        const PageResult r = earlier ? session_.MovePageBefore(1) : session_.MovePageAfter(1);
        EXPECT_FALSE(r);
        EXPECT_EQ(r.message, kListNotWritableMessage.arg(QStringLiteral("Cat")));
        EXPECT_EQ(session_.Pages.lines, before);
        EXPECT_EQ(session_.Grid.K, 1);
        EXPECT_EQ(session_.Grid.T, 1);
    }
}

TEST_F(PageOperationsTest, AMovedPageTakesTheNextNumberThereWithItsFormatAndMemo)
{
    Open(Fill(QStringLiteral("Cat"), 3, 3, ".tif"), 0, 1);
    Fill(QStringLiteral("Dest"), 2, 4);
    // A file left under number 5 there: that number is skipped, not overwritten.
    Put(QStringLiteral("Dest/Text/00000005.txt"), "someone's");
    ASSERT_TRUE(session_.MovePageToCategory(1, P(QStringLiteral("Dest"))));
    EXPECT_EQ(ListOnDisk(QStringLiteral("Dest")),
              (QStringList{QStringLiteral("00000006"), QStringLiteral("00000001.jpg"), QStringLiteral("00000002.jpg"),
                           QStringLiteral("00000006.tif")}));
    EXPECT_EQ(Get(QStringLiteral("Dest/Image/00000006.tif")), QByteArray("image 00000002"));
    EXPECT_EQ(Get(QStringLiteral("Dest/Thumb/00000006.jpg")), QByteArray("thumb 00000002"));
    EXPECT_EQ(Get(QStringLiteral("Dest/Text/00000006.txt")), QByteArray("memo 00000002\r\n"));
    EXPECT_EQ(Get(QStringLiteral("Dest/Text/00000005.txt")), QByteArray("someone's"));
    EXPECT_EQ(ListOnDisk(QStringLiteral("Cat")),
              (QStringList{QStringLiteral("00000003"), QStringLiteral("00000001.tif"), QStringLiteral("00000003.tif")}));
    EXPECT_FALSE(Exists(QStringLiteral("Cat/Image/00000002.tif")));
    EXPECT_FALSE(Exists(QStringLiteral("Cat/Thumb/00000002.jpg")));
    EXPECT_FALSE(Exists(QStringLiteral("Cat/Text/00000002.txt")));
    EXPECT_EQ(session_.Pages.lines, ListOnDisk(QStringLiteral("Cat")));
    EXPECT_EQ(session_.Grid.P, 2);
    EXPECT_EQ(session_.Grid.K, -1);
}

TEST_F(PageOperationsTest, ADestinationWithoutAListStartsAtOne)
{
    Open(Fill(QStringLiteral("Cat"), 1), 0, 0);
    MakeCategory(QStringLiteral("Dest"));
    ASSERT_TRUE(session_.MovePageToCategory(0, P(QStringLiteral("Dest"))));
    EXPECT_EQ(Get(QStringLiteral("Dest/FileList.txt")), QByteArray("00000001\r\n00000001.jpg\r\n"));
}

TEST_F(PageOperationsTest, TheDestinationTakesPagesUpToItsLimit)
{
    Open(Fill(QStringLiteral("Cat"), 2), 0, 0);
    Fill(QStringLiteral("Dest"), 998);
    ASSERT_TRUE(session_.MovePageToCategory(0, P(QStringLiteral("Dest"))));
    EXPECT_EQ(ListOnDisk(QStringLiteral("Dest")).size(), 1000);
    const QStringList full = ListOnDisk(QStringLiteral("Dest"));
    const PageResult r = session_.MovePageToCategory(0, P(QStringLiteral("Dest")));
    EXPECT_FALSE(r);
    EXPECT_EQ(r.message, QStringLiteral("1000枚を超えるイメージは保存できません"));
    EXPECT_FALSE(r.asBox);
    EXPECT_EQ(ListOnDisk(QStringLiteral("Dest")), full);
    EXPECT_EQ(session_.Pages.Count(), 1);
    EXPECT_TRUE(Exists(QStringLiteral("Cat/Image/00000002.jpg")));
}

TEST_F(PageOperationsTest, EachFailedMoveLeavesThePageWhereItWas)
{
    struct Case {
        const char* name;
        std::function<void()> spoil;
        const char* message;
        bool asBox;
    };
    const Case cases[] = {
        {"same category", nullptr, "移動元と移動先の分類が同じです", true},
        {"memo missing", [this] { QFile::remove(P(QStringLiteral("Cat/Text/00000002.txt"))); },
         "ファイルのコピーが失敗しました", true},
        {"destination folder gone",
         [this] { QDir(P(QStringLiteral("Dest/Thumb"))).removeRecursively(); },
         "ファイルのコピーが失敗しました", true},
        {"destination list not written", [this] { BlockList(QStringLiteral("Dest")); },
         "移動先のファイルリストを作成できませんでした", true},
        {"destination list unreadable",
         [this] {
             QFile::remove(P(QStringLiteral("Dest/FileList.txt")));
             mkfifo(QFile::encodeName(P(QStringLiteral("Dest/FileList.txt"))).constData(), 0600);
         },
         "移動先のファイルリストを作成できませんでした", true},
        {"source list not written", [this] { BlockList(QStringLiteral("Cat")); },
         "分類「Cat」のファイルリストを書き換えられません。「tolvane-batch check --repair」で修復してください", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(P(QStringLiteral("Cat"))).removeRecursively();
        QDir(P(QStringLiteral("Dest"))).removeRecursively();
        Open(Fill(QStringLiteral("Cat"), 3), 0, 1);
        Fill(QStringLiteral("Dest"), 2);
        if (c.spoil)
            c.spoil();
        const QStringList sourceFiles = Files(QStringLiteral("Cat"));
        const QStringList destFiles = Files(QStringLiteral("Dest"));
        const bool destListIsFile = QFileInfo(P(QStringLiteral("Dest/FileList.txt"))).isFile();
        const auto destList = destListIsFile ? Get(QStringLiteral("Dest/FileList.txt")) : std::nullopt;
        const QStringList before = session_.Pages.lines;
        const PageResult r =
            session_.MovePageToCategory(1, P(c.spoil ? QStringLiteral("Dest") : QStringLiteral("Cat")));
        EXPECT_FALSE(r);
        EXPECT_EQ(r.message, QString::fromUtf8(c.message));
        EXPECT_EQ(r.asBox, c.asBox);
        EXPECT_EQ(session_.Pages.lines, before);
        EXPECT_EQ(Files(QStringLiteral("Cat")), sourceFiles);
        EXPECT_EQ(Files(QStringLiteral("Dest")), destFiles) << "the copies are gone again";
        if (destListIsFile)
            EXPECT_EQ(Get(QStringLiteral("Dest/FileList.txt")), destList);
        else
            EXPECT_FALSE(QFileInfo(P(QStringLiteral("Dest/FileList.txt"))).isFile()) << "nothing written over it";
        EXPECT_EQ(session_.Grid.K, 1);
    }
}

// The move is stopped at every possible write: afterwards the page is named
// by the source list, the destination list, or both, and every page either
// list names has its three files.
TEST_F(PageOperationsTest, ACrashWhileMovingNeverLosesThePage)
{
    int killed = 0;
    for (rlim_t budget = 1; budget < 200; budget += 3) {
        QDir(P(QStringLiteral("Cat"))).removeRecursively();
        QDir(P(QStringLiteral("Dest"))).removeRecursively();
        Fill(QStringLiteral("Cat"), 2);
        Fill(QStringLiteral("Dest"), 1);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit r{budget, budget};
            setrlimit(RLIMIT_FSIZE, &r);
            ArchiveSession child;
            child.SelectCategory(P(QStringLiteral("Cat")));
            _exit(child.MovePageToCategory(1, P(QStringLiteral("Dest"))) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        killed += WIFSIGNALED(status) ? 1 : 0;
        int named = 0;
        for (const char* name : {"Cat", "Dest"}) {
            PageList list;
            LoadPageList(list, P(QLatin1String(name)));
            for (int i = 0; i < list.Count(); ++i) {
                const QString folder = P(QLatin1String(name));
                ASSERT_TRUE(FileExistsAnyCase(ImagePath(folder, list, i))) << name << " at " << budget;
                ASSERT_TRUE(FileExistsAnyCase(ThumbPath(folder, list, i))) << name << " at " << budget;
                ASSERT_TRUE(FileExistsAnyCase(MemoPath(folder, list, i))) << name << " at " << budget;
                const auto image = ReadWholeFile(ImagePath(folder, list, i));
                named += image && *image == "image 00000002" ? 1 : 0;
            }
        }
        ASSERT_GE(named, 1) << "the page is lost at " << budget;
    }
    EXPECT_GT(killed, 10);
}
