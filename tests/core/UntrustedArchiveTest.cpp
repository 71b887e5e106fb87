// SPDX-License-Identifier: GPL-3.0-or-later
// A shared archive is written by other workstations and by hand: page-list
// entries that are paths rather than file names, headers at the end of the
// number range, and the leftovers of writes that were killed half-way. And
// when a write fails, the caller learns the system's reason.

#include "core/ArchiveFiles.h"
#include "core/Categories.h"
#include "core/Memo.h"
#include "core/NetLock.h"
#include "core/PageList.h"
#include "CoreTestUtil.h"

#include <QDirIterator>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

PageList ListOf(const QStringList& entries, const QString& header = QStringLiteral("00000010"))
{
    PageList list;
    list.lines = QStringList{header} + entries;
    return list;
}

QString Reason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

}  // namespace

// ---- entries ----

TEST(PageEntryTest, OnlyPlainFileNamesNameFiles)
{
    const QStringList unsafe = {QString(),
                                QStringLiteral("."),
                                QStringLiteral(".."),
                                QStringLiteral("../escape.jpg"),
                                QStringLiteral("sub/00000001.jpg"),
                                QStringLiteral("/etc/passwd"),
                                QStringLiteral("..\\escape.jpg"),
                                QStringLiteral("a\\b.jpg"),
                                QStringLiteral("00000001.jpg").insert(4, QChar(0)),
                                QStringLiteral("0000\t0001.jpg"),
                                QStringLiteral("00000001.jpg\x7f"),
                                QStringLiteral("00000001.jpg").insert(8, QChar(0x85)),
                                QStringLiteral(".00000001.jpg.tlv-Ab3dE6gH.tmp")};
    for (const QString& e : unsafe)
        EXPECT_FALSE(IsSafePageEntry(e)) << qPrintable(QString(e).replace(QChar(0), u'@'));
    const QStringList safe = {QStringLiteral("00000012.jpg"), QStringLiteral("00000013.TIF"),
                              QStringLiteral("..jpg"),        QStringLiteral("...."),
                              QStringLiteral("ページ.jpg"),   QStringLiteral("00000001"),
                              QStringLiteral(".00000001.jpg.tlv-short.tmp")};
    for (const QString& e : safe)
        EXPECT_TRUE(IsSafePageEntry(e)) << qPrintable(e);
}

TEST(PageEntryTest, UnsafeEntriesStayListedButGiveNoPaths)
{
    const PageList list = ListOf({QStringLiteral("00000001.jpg"), QStringLiteral("../escape.jpg"), QString(),
                                  QStringLiteral("..")});
    EXPECT_EQ(list.Count(), 4);  // nothing disappears
    EXPECT_EQ(ImagePath(QStringLiteral("/a/Cat"), list, 0), QStringLiteral("/a/Cat/Image/00000001.jpg"));
    EXPECT_EQ(MemoPath(QStringLiteral("/a/Cat"), list, 0), QStringLiteral("/a/Cat/Text/00000001.txt"));
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(ImagePath(QStringLiteral("/a/Cat"), list, i).isEmpty()) << i;
        EXPECT_TRUE(ThumbPath(QStringLiteral("/a/Cat"), list, i).isEmpty()) << i;
        EXPECT_TRUE(MemoPath(QStringLiteral("/a/Cat"), list, i).isEmpty()) << i;
        EXPECT_FALSE(WriteMemo(MemoPath(QStringLiteral("/a/Cat"), list, i), QStringLiteral("x"), nullptr));
    }
    EXPECT_EQ(PageEntry(list, 1), QStringLiteral("../escape.jpg"));
}

// Seeded random page lists: whatever the bytes, every path given stays a file
// directly inside its own sub-folder of the category.
TEST(PageEntryTest, NoPageListMakesAPathOutsideTheCategory)
{
    std::mt19937 rng(20261208);
    const QByteArray alphabet = QByteArray("0123456789.jpgJPG/\\\r\n\t \x01\x7f", 26) + QByteArray("\x00\x81\x5c\x82\xa0", 5)
                                + QByteArray("\x88\x9f..");
    const QString folder = QStringLiteral("/archive/Cat");
    for (int round = 0; round < 4000; ++round) {
        QByteArray bytes;
        const int n = int(rng() % 64);
        for (int i = 0; i < n; ++i)
            bytes += alphabet.at(int(rng() % alphabet.size()));
        PageList list;
        list.lines = ParsePageListBytes(bytes);
        ASSERT_FALSE(list.lines.isEmpty());
        for (int i = 0; i < list.Count(); ++i) {
            const struct {
                QString path, sub;
            } paths[] = {{ImagePath(folder, list, i), QStringLiteral("/Image/")},
                         {ThumbPath(folder, list, i), QStringLiteral("/Thumb/")},
                         {MemoPath(folder, list, i), QStringLiteral("/Text/")}};
            for (const auto& p : paths) {
                if (p.path.isEmpty())
                    continue;
                ASSERT_TRUE(p.path.startsWith(folder + p.sub)) << qPrintable(p.path);
                const QString name = p.path.mid(folder.size() + p.sub.size());
                ASSERT_FALSE(name.contains(u'/') || name.contains(u'\\') || name == u"." || name == u"..")
                    << qPrintable(p.path);
                ASSERT_TRUE(IsSafePageEntry(PageEntry(list, i)));
            }
        }
    }
}

// ---- page numbers at the end of the range ----

class PageNumberRangeTest : public ScratchTest {};

TEST_F(PageNumberRangeTest, NoNinthDigitIsEverIssued)
{
    const QString cat = MakeCategory();
    for (const QString& header : {QStringLiteral("99999999"), QStringLiteral("100000000"),
                                  QStringLiteral("2147483647"), QStringLiteral("99999999999999999999")}) {
        PageList list = ListOf({QStringLiteral("00000001.jpg")}, header);
        EXPECT_TRUE(IssuePageNumber(list, cat).isEmpty()) << qPrintable(header);
        EXPECT_EQ(list.lines.first(), header) << "the header stays as it was";
    }
    // The last number is issued once; after it there is none.
    PageList list = ListOf({}, QStringLiteral("99999998"));
    EXPECT_EQ(IssuePageNumber(list, cat), QStringLiteral("99999999"));
    EXPECT_TRUE(IssuePageNumber(list, cat).isEmpty());
    // The last free number is taken by a file: none either.
    Put(QStringLiteral("Cat/Text/99999999.TXT"), "\r\n");
    list = ListOf({}, QStringLiteral("99999998"));
    EXPECT_TRUE(IssuePageNumber(list, cat).isEmpty());
    EXPECT_EQ(list.lines.first(), QStringLiteral("99999998"));
}

// ---- leftovers of interrupted writes ----

TEST(LeftoverTest, TheTemporaryNameFormIsRecognised)
{
    EXPECT_TRUE(IsAtomicWriteLeftover(QStringLiteral(".FileList.txt.tlv-Ab3dE6gH.tmp")));
    EXPECT_TRUE(IsAtomicWriteLeftover(QStringLiteral(".00000001.jpg.tlv-00000000.tmp")));
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral("FileList.txt.tlv-Ab3dE6gH.tmp")));   // not hidden
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral(".tlv-Ab3dE6gH.tmp")));               // no name
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral(".a.tlv-Ab3dE6g.tmp")));              // 7 characters
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral(".a.tlv-Ab3dE6g!.tmp")));
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral(".a.tlv-Ab3dE6gH.tmp.jpg")));
    EXPECT_FALSE(IsAtomicWriteLeftover(QStringLiteral("00000001.jpg")));
}

class LeftoverFileTest : public ScratchTest {
protected:
    // Runs WriteFileAtomically in a child that the system kills half-way
    // through (a file-size limit with SIGXFSZ at its default), which leaves
    // the temporary file behind as a crash would.
    void KilledWrite(const QString& path, qsizetype bytes)
    {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit r{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &r);
            WriteFileAtomically(path, QByteArray(bytes, 'x'));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the write was expected to be killed";
    }
};

TEST_F(LeftoverFileTest, AKilledWriteLeavesARecognisableFileThatNothingCounts)
{
    const QString cat = MakeCategory();
    Put(QStringLiteral("Cat/FileList.txt"), "00000002\r\n00000002.jpg\r\n");
    KilledWrite(P(QStringLiteral("Cat/FileList.txt")), 100000);
    KilledWrite(P(QStringLiteral("Cat/Image/00000003.jpg")), 100000);
    KilledWrite(P(QStringLiteral("Cat/Text/00000004.txt")), 100000);

    // The old list is whole, the new files were never made.
    EXPECT_EQ(Get(QStringLiteral("Cat/FileList.txt")), QByteArray("00000002\r\n00000002.jpg\r\n"));
    EXPECT_FALSE(Exists(QStringLiteral("Cat/Image/00000003.jpg")));
    int leftovers = 0;
    for (const QString& folder : {QStringLiteral("Cat"), QStringLiteral("Cat/Image"), QStringLiteral("Cat/Text")}) {
        for (const QString& name : Entries(folder)) {
            if (QFileInfo(P(folder + u'/' + name)).isDir())
                continue;
            if (name == u"FileList.txt")
                continue;
            EXPECT_TRUE(IsAtomicWriteLeftover(name)) << qPrintable(name);
            EXPECT_FALSE(IsSafePageEntry(name));
            ++leftovers;
        }
    }
    EXPECT_EQ(leftovers, 3);

    // Numbering goes on as if they were not there.
    PageList list;
    LoadPageList(list, cat);
    EXPECT_EQ(list.lines, (QStringList{QStringLiteral("00000002"), QStringLiteral("00000002.jpg")}));
    EXPECT_EQ(IssuePageNumber(list, cat), QStringLiteral("00000003"));

    // A category that holds nothing but leftovers can be deleted, and they
    // go with it.
    ASSERT_EQ(DeleteCategoryFolder(cat), DeleteCategoryResult::Deleted);
    EXPECT_FALSE(Exists(QStringLiteral("Cat")));
}

// ---- reasons ----

class IoReasonTest : public ScratchTest {};

TEST_F(IoReasonTest, FailedWritesSayWhy)
{
    IoError error;
    EXPECT_FALSE(WriteFileAtomically(P(QStringLiteral("missing/x.txt")), "x", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.reason, Reason(ENOENT));

    MakeDir(QStringLiteral("Text/00000001.txt"));
    error = {};
    EXPECT_FALSE(WriteMemo(P(QStringLiteral("Text/00000001.txt")), QStringLiteral("memo"), nullptr, &error));
    EXPECT_EQ(error.code, EISDIR);
    EXPECT_EQ(error.reason, Reason(EISDIR));

    // A full disk, as a file-size limit: the old content stays, no temporary
    // file is left, and the reason is the system's.
    Put(QStringLiteral("FileList.txt"), "00000000\r\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit r = old;
    r.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &r);
    PageList big;
    for (int i = 0; i < 500; ++i)
        big.lines << QStringLiteral("%1.jpg").arg(i, 8, 10, QLatin1Char('0'));
    error = {};
    const bool saved = SavePageList(big, Root(), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_EQ(error.reason, Reason(EFBIG));
    EXPECT_EQ(Get(QStringLiteral("FileList.txt")), QByteArray("00000000\r\n"));
    EXPECT_EQ(Entries(QString()), (QStringList{QStringLiteral("FileList.txt"), QStringLiteral("Text")}));
}

TEST_F(IoReasonTest, CategoryFailuresSayWhy)
{
    IoError error;
    MakeDir(QStringLiteral("Taken"));
    EXPECT_FALSE(CreateCategoryFolder(Root(), QStringLiteral("Taken"), &error));
    EXPECT_EQ(error.reason, Reason(EEXIST));
    error = {};
    EXPECT_FALSE(CreateCategoryFolder(P(QStringLiteral("nowhere")), QStringLiteral("New"), &error));
    EXPECT_EQ(error.reason, Reason(ENOENT));
    error = {};
    MakeDir(QStringLiteral("Old"));
    EXPECT_FALSE(RenameCategoryFolder(P(QStringLiteral("Old")), Root(), QStringLiteral("Taken"), &error));
    EXPECT_EQ(error.reason, Reason(EEXIST));
    EXPECT_TRUE(Exists(QStringLiteral("Old")));
}

// ---- files that are not files ----

// A named pipe where a list, a memo or the lock file should be would make a
// plain read wait for a writer for ever; each reads as "cannot be read".
TEST_F(IoReasonTest, PipesInPlaceOfArchiveFilesAreNotWaitedFor)
{
    const QString cat = MakeCategory();
    for (const char* name : {"Cat/FileList.txt", "Cat/Text/00000001.txt", "NetLock.CTL"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(P(QLatin1String(name))).constData(), 0600), 0) << name;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(10);  // a hang fails the test instead of stopping the suite
        PageList list;
        LoadPageList(list, cat);
        const bool ok = list.lines == QStringList{QStringLiteral("00000000")}
                        && !ReadMemo(P(QStringLiteral("Cat/Text/00000001.txt")))
                        && ReadLockState(Root()) == LockState::Unreadable;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the reads hung";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
