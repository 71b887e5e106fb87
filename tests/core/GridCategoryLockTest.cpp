// SPDX-License-Identifier: GPL-3.0-or-later
// Paging rules of the grid, category folders (including names that must
// never reach outside the archive), the shared-write lock file and its race,
// and the write probe.

#include "tests/core/CoreTestUtil.h"

#include "core/Categories.h"
#include "core/CommandState.h"
#include "core/Grid.h"
#include "core/NetLock.h"
#include "tests/support/TestVolume.h"

#include <QFile>
#include <QFileInfo>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using coretest::ScratchTest;

// ---- paging ----

struct PagingCase {
    int T, P;
    int backOne, forwardOne, backFour, forwardFour;
};

class PagingTest : public ::testing::TestWithParam<PagingCase> {};

TEST_P(PagingTest, EachStepLandsWhereTheRuleSays)
{
    const PagingCase& c = GetParam();
    EXPECT_EQ(PageBackOne(c.T, c.P), c.backOne);
    EXPECT_EQ(PageForwardOne(c.T, c.P), c.forwardOne);
    EXPECT_EQ(PageBackFour(c.T, c.P), c.backFour);
    EXPECT_EQ(PageForwardFour(c.T, c.P), c.forwardFour);
}

INSTANTIATE_TEST_SUITE_P(Grid, PagingTest,
                         ::testing::Values(
                             // no pages: nothing moves
                             PagingCase{0, 0, 0, 0, 0, 0},
                             // three pages: forward steps do nothing
                             PagingCase{0, 3, 0, 0, 0, 0},
                             // six pages: forward four shows pages 3..6, then stays
                             PagingCase{0, 6, 0, 1, 0, 2}, PagingCase{2, 6, 1, 2, 0, 2},
                             // ten pages from T = 4: 4 + 7 < 10 fails, so the last four
                             PagingCase{4, 10, 3, 5, 0, 6}, PagingCase{0, 10, 0, 1, 0, 4},
                             PagingCase{6, 10, 5, 6, 2, 6},
                             // a full window remains after the move exactly when T + 7 < P
                             PagingCase{0, 8, 0, 1, 0, 4}, PagingCase{0, 7, 0, 1, 0, 3},
                             PagingCase{5, 999, 4, 6, 1, 9}, PagingCase{995, 999, 994, 995, 991, 995}));

TEST(ViewerTurn, TurningStopsAtBothEndsAndNoTurnEndsTheViewing)
{
    struct Case {
        int index, turn, count, expected;
    } const cases[] = {
        {0, 1, 3, 1}, {1, 1, 3, 2}, {2, 1, 3, 2},  // next, and on the last page the last again
        {2, 2, 3, 1}, {0, 2, 3, 0},                // previous, and on the first the first again
        {0, 1, 1, 0}, {0, 2, 1, 0},                // a one-page category
        {1, 0, 3, -1}, {1, 7, 3, -1},              // no turn: viewing ends
        {0, 1, 0, -1},                             // nothing to show
    };
    for (const Case& c : cases)
        EXPECT_EQ(TurnedPage(c.index, c.turn, c.count), c.expected)
            << c.index << " turn " << c.turn << " of " << c.count;
}

TEST(GridState, MarksCountOnlyExistingPages)
{
    GridState g;
    g.P = 3;
    g.SetMark(0, true);
    g.SetMark(2, true);
    g.SetMark(5, true);     // beyond P: kept, not counted
    g.SetMark(1000, true);  // outside the table: ignored
    EXPECT_EQ(g.MarkedCount(), 2);
    g.SetMark(2, false);
    EXPECT_EQ(g.MarkedCount(), 1);
    g.ClearMarks();
    EXPECT_EQ(g.MarkedCount(), 0);
    EXPECT_FALSE(g.Marked(5));
    EXPECT_EQ(LastFourStart(3), 0);
    EXPECT_EQ(LastFourStart(10), 6);
}

// ---- categories ----

class CategoryTest : public ScratchTest {};

TEST_F(CategoryTest, CreateMakesTheThreeSubFolders)
{
    ASSERT_TRUE(CreateCategoryFolder(Root(), QStringLiteral("Receipts")));
    EXPECT_EQ(Entries(QStringLiteral("Receipts")), (QStringList{"Image", "Text", "Thumb"}));
    // the name exists now: a second creation fails
    EXPECT_FALSE(CreateCategoryFolder(Root(), QStringLiteral("Receipts")));
}

TEST_F(CategoryTest, NamesWithJapaneseSpacesAndPunctuationWork)
{
    for (const QString& name : {QStringLiteral("領収書 2026"), QStringLiteral("a!b%c&d'e"), QStringLiteral("ｽｷｬﾅ")}) {
        ASSERT_TRUE(CreateCategoryFolder(Root(), name)) << qPrintable(name);
        EXPECT_TRUE(QFileInfo(P(name + QStringLiteral("/Image"))).isDir());
    }
    QStringList listed = ListCategoryNames(Root());
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"a!b%c&d'e", "領収書 2026", "ｽｷｬﾅ"}));
}

TEST_F(CategoryTest, ListingLeavesOutHiddenFoldersAndFiles)
{
    MakeCategory(QStringLiteral("B"));
    MakeCategory(QStringLiteral(".hidden"));
    Put(QStringLiteral("tolvane.txt"), "x");
    EXPECT_EQ(ListCategoryNames(Root()), QStringList{"B"});
    EXPECT_TRUE(ListCategoryNames(P(QStringLiteral("missing"))).isEmpty());
    // The program's own installed folders say so; a category of the same
    // name without the marker stays a category.
    MakeCategory(QStringLiteral("share"));
    MakeCategory(QStringLiteral("manual"));
    Put(QStringLiteral("share/") + kProgramFolderMarker, "x");
    QStringList listed = ListCategoryNames(Root());
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"B", "manual"}));
}

TEST_F(CategoryTest, UnsafeNamesNeverTouchAnythingOutsideTheRoot)
{
    MakeDir(QStringLiteral("archive"));
    MakeDir(QStringLiteral("outside"));
    const QString archive = P(QStringLiteral("archive"));
    MakeCategory(QStringLiteral("archive/Current"));
    const QString current = P(QStringLiteral("archive/Current"));
    for (const QString& name :
         {QStringLiteral("../outside/evil"), QStringLiteral("../escaped"), QStringLiteral("a/b"),
          QStringLiteral("a\\b"), QStringLiteral(".."), QStringLiteral("."), QStringLiteral(""),
          QStringLiteral("tab\there"), QStringLiteral("nl\nhere"), QStringLiteral("/tmp/abs")}) {
        EXPECT_FALSE(IsSafeCategoryName(name)) << qPrintable(name);
        EXPECT_FALSE(CreateCategoryFolder(archive, name)) << qPrintable(name);
        EXPECT_FALSE(RenameCategoryFolder(current, archive, name)) << qPrintable(name);
    }
    EXPECT_TRUE(Entries(QStringLiteral("outside")).isEmpty());
    EXPECT_EQ(Entries(QString()), (QStringList{"archive", "outside"}));
    EXPECT_EQ(Entries(QStringLiteral("archive")), QStringList{"Current"});
}

TEST_F(CategoryTest, RenameNeverReplacesAnotherCategory)
{
    const QString a = MakeCategory(QStringLiteral("A"));
    MakeCategory(QStringLiteral("B"));  // empty: a plain rename() would replace it
    Put(QStringLiteral("A/FileList.txt"), "00000001\r\n00000001.jpg\r\n");
    EXPECT_FALSE(RenameCategoryFolder(a, Root(), QStringLiteral("B")));
    EXPECT_TRUE(Exists(QStringLiteral("A/FileList.txt")));
    EXPECT_TRUE(Exists(QStringLiteral("B/Image")));
    ASSERT_TRUE(RenameCategoryFolder(a, Root(), QStringLiteral("請求書")));
    EXPECT_EQ(Get(QStringLiteral("請求書/FileList.txt")), QByteArray("00000001\r\n00000001.jpg\r\n"));
    EXPECT_FALSE(Exists(QStringLiteral("A")));
    // to its own name: nothing to do, and no failure
    EXPECT_TRUE(RenameCategoryFolder(P(QStringLiteral("請求書")), Root(), QStringLiteral("請求書")));
}

TEST_F(CategoryTest, DeleteRefusesWhilePageFilesRemain)
{
    for (const char* file : {"Image/00000001.jpg", "Image/00000002.TIF", "Image/x.bmp", "Thumb/00000001.JPG",
                             "Text/00000001.txt", "Text/.hidden.Txt"}) {
        const QString folder = MakeCategory(QStringLiteral("C"));
        Put(QStringLiteral("C/FileList.txt"), "00000001\r\n");
        Put(QStringLiteral("C/") + QLatin1String(file), "x");
        EXPECT_EQ(DeleteCategoryFolder(folder), DeleteCategoryResult::PagesRemain) << file;
        // nothing was deleted
        EXPECT_TRUE(Exists(QStringLiteral("C/FileList.txt"))) << file;
        EXPECT_TRUE(Exists(QStringLiteral("C/") + QLatin1String(file))) << file;
        ASSERT_TRUE(QDir(folder).removeRecursively());
    }
}

TEST_F(CategoryTest, DeleteRemovesAnEmptyCategoryCompletely)
{
    const QString folder = MakeCategory(QStringLiteral("Empty"));
    Put(QStringLiteral("Empty/FileList.txt"), "00000005\r\n");
    EXPECT_EQ(DeleteCategoryFolder(folder), DeleteCategoryResult::Deleted);
    EXPECT_FALSE(Exists(QStringLiteral("Empty")));
}

TEST_F(CategoryTest, DeleteStopsAtAFolderThatHoldsSomethingElse)
{
    const QString folder = MakeCategory(QStringLiteral("D"));
    Put(QStringLiteral("D/FileList.txt"), "00000000\r\n");
    Put(QStringLiteral("D/Thumb/notes.doc"), "keep me");
    EXPECT_EQ(DeleteCategoryFolder(folder), DeleteCategoryResult::CannotRemove);
    // the list file and the folders before the failing one are gone; the rest stays
    EXPECT_FALSE(Exists(QStringLiteral("D/FileList.txt")));
    EXPECT_FALSE(Exists(QStringLiteral("D/Image")));
    EXPECT_EQ(Get(QStringLiteral("D/Thumb/notes.doc")), QByteArray("keep me"));
    EXPECT_TRUE(Exists(QStringLiteral("D/Text")));
}

TEST_F(CategoryTest, DeleteOfAFolderMadeByHandWithoutSubFolders)
{
    MakeDir(QStringLiteral("Bare"));
    EXPECT_EQ(DeleteCategoryFolder(P(QStringLiteral("Bare"))), DeleteCategoryResult::Deleted);
    EXPECT_FALSE(Exists(QStringLiteral("Bare")));
}

TEST_F(CategoryTest, DeleteFindsSubFoldersInAnyLetterCase)
{
    MakeDir(QStringLiteral("W/image"));
    MakeDir(QStringLiteral("W/THUMB"));
    MakeDir(QStringLiteral("W/text"));
    Put(QStringLiteral("W/image/00000003.Jpg"), "x");
    EXPECT_EQ(DeleteCategoryFolder(P(QStringLiteral("W"))), DeleteCategoryResult::PagesRemain);
    QFile::remove(P(QStringLiteral("W/image/00000003.Jpg")));
    EXPECT_EQ(DeleteCategoryFolder(P(QStringLiteral("W"))), DeleteCategoryResult::Deleted);
}

// ---- shared-write lock ----

class NetLockTest : public ScratchTest {
protected:
    const OwnerToken me = NewOwnerToken();
    const OwnerToken other = NewOwnerToken();
    QByteArray TakenBy(const OwnerToken& t) const { return "1\r\n" + t.Line().toUtf8() + "\r\n"; }
};

TEST_F(NetLockTest, FileStatesAndTheirMeaning)
{
    EXPECT_FALSE(IsArchiveShared(Root()));
    EXPECT_EQ(ReadLockState(Root()), LockState::Unreadable);
    ASSERT_TRUE(EnableSharing(Root()));
    EXPECT_TRUE(IsArchiveShared(Root()));
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray("0\r\n"));
    EXPECT_EQ(ReadLockState(Root()), LockState::Free);
    EXPECT_EQ(LockHolder(Root()), std::nullopt);
    // The first line as it always was; the holder on the second.
    ASSERT_TRUE(TakeLock(Root(), me));
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(me));
    EXPECT_EQ(ReadLockState(Root()), LockState::Taken);
    EXPECT_TRUE(HoldsLock(Root(), me));
    EXPECT_FALSE(HoldsLock(Root(), other));
    EXPECT_EQ(LockHolderText(Root()), me.Describe());
    EXPECT_EQ(GiveBackLock(Root(), me), GiveBack::GivenBack);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray("0\r\n"));
    // Written by an older program: taken, by nobody known.
    Put(QStringLiteral("NetLock.CTL"), "1\r\n");
    EXPECT_EQ(ReadLockState(Root()), LockState::Taken);
    EXPECT_EQ(LockHolder(Root()), std::nullopt);
    EXPECT_EQ(LockHolderText(Root()), QStringLiteral("another workstation"));
    Put(QStringLiteral("NetLock.CTL"), "1\r\nnot\ta token\r\n");
    EXPECT_EQ(LockHolder(Root()), std::nullopt);
    Put(QStringLiteral("NetLock.CTL"), "");
    EXPECT_EQ(ReadLockState(Root()), LockState::Unreadable);
    Put(QStringLiteral("NetLock.CTL"), "x\r\n");
    EXPECT_EQ(ReadLockState(Root()), LockState::Unreadable);
    Put(QStringLiteral("NetLock.CTL"), "1");
    EXPECT_EQ(ReadLockState(Root()), LockState::Taken);
    ASSERT_TRUE(DisableSharing(Root()));
    EXPECT_FALSE(IsArchiveShared(Root()));
    EXPECT_TRUE(DisableSharing(Root()));
}

TEST_F(NetLockTest, OwnerTokensReadBackAndRefuseWhatTheyDidNotWrite)
{
    EXPECT_EQ(OwnerToken::Parse(me.Line()), me);
    EXPECT_EQ(OwnerToken::Parse(me.Line() + "\r\n"), me);
    EXPECT_NE(me, other);  // a new id for every taking
    OwnerToken odd = me;
    odd.host = QStringLiteral("a\tb\nc");
    EXPECT_EQ(OwnerToken::Parse(odd.Line())->host, QStringLiteral("a b c"));
    for (const char* bad : {"", "host", "h\tu\tx\t2026-01-01T00:00:00Z\tid", "h\tu\t-3\t2026-01-01T00:00:00Z\tid",
                            "h\tu\t12\tnot a time\tid", "h\tu\t12\t2026-01-01T00:00:00Z\t", "\tu\t12\t2026-01-01T00:00:00Z\tid",
                            "h\tu\t12\t2026-01-01T00:00:00Z\tid\textra"})
        EXPECT_EQ(OwnerToken::Parse(QString::fromLatin1(bad)), std::nullopt) << bad;
    EXPECT_TRUE(me.Describe().contains(QString::number(::getpid())));
}

// Only the holder gives the lock back; a file taken over, or gone with
// the sharing, is left as it is.
TEST_F(NetLockTest, GivingBackIsTheHoldersAlone)
{
    EXPECT_EQ(GiveBackLock(Root(), me), GiveBack::NotShared);
    EXPECT_FALSE(IsArchiveShared(Root()));  // nothing recreated
    EnableSharing(Root());
    ASSERT_TRUE(TakeLock(Root(), me));
    ASSERT_TRUE(TakeLock(Root(), other));  // forced by another workstation
    EXPECT_EQ(GiveBackLock(Root(), me), GiveBack::NotHolder);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(other));
    EXPECT_EQ(GiveBackLock(Root(), other), GiveBack::GivenBack);
    EXPECT_EQ(GiveBackLock(Root(), other), GiveBack::NotHolder);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray("0\r\n"));
    ASSERT_TRUE(TakeLock(Root(), me));
    ASSERT_TRUE(DisableSharing(Root()));
    EXPECT_EQ(GiveBackLock(Root(), me), GiveBack::NotShared);
    EXPECT_FALSE(IsArchiveShared(Root()));
    EXPECT_EQ(Entries(QString()), QStringList{});
}

TEST_F(NetLockTest, TryTakeOnlyTakesAFreeLock)
{
    EnableSharing(Root());
    TakeAttempt a = TryTakeLock(Root(), me);
    EXPECT_EQ(a.before, LockState::Free);
    EXPECT_TRUE(a.taken);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(me));
    a = TryTakeLock(Root(), other);
    EXPECT_EQ(a.before, LockState::Taken);
    EXPECT_FALSE(a.taken);
    EXPECT_TRUE(HoldsLock(Root(), me));
    Put(QStringLiteral("NetLock.CTL"), "");
    a = TryTakeLock(Root(), me);
    EXPECT_EQ(a.before, LockState::Unreadable);
    EXPECT_FALSE(a.taken);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray(""));
    // no guard file is left behind
    EXPECT_EQ(Entries(QString()), QStringList{"NetLock.CTL"});
}

TEST_F(NetLockTest, TwoWorkstationsPressingAtOnceNeverBothGetIt)
{
    EnableSharing(Root());
    const QString folder = Root();
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(EnableSharing(folder));
        const int children = 2 + round % 3;
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        std::vector<pid_t> pids;
        for (int c = 0; c < children; ++c) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::close(go[1]);
                char b;
                (void)!::read(go[0], &b, 1);  // everyone starts when the pipe closes
                const TakeAttempt a = TryTakeLock(folder, NewOwnerToken());
                ::_exit(a.taken ? 1 : 0);
            }
            pids.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);
        int winners = 0;
        for (pid_t pid : pids) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status));
            winners += WEXITSTATUS(status);
        }
        EXPECT_EQ(winners, 1) << "round " << round;
        EXPECT_EQ(ReadLockState(folder), LockState::Taken);
        EXPECT_TRUE(LockHolder(folder).has_value());
    }
}

// The lock button's protocol, as every writer of a shared archive follows it.
TEST_F(NetLockTest, TakingTheWriteLockAsksOnlyWhenItIsNotFree)
{
    EnableSharing(Root());
    int asked = 0;
    auto answer = [&](bool force) {
        return [&asked, force] {
            ++asked;
            return force;
        };
    };
    EXPECT_EQ(TakeWriteLock(Root(), me, answer(false)), LockTaking::Taken);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(me));

    // Held by another workstation: refused, the file as it was.
    EXPECT_EQ(TakeWriteLock(Root(), other, answer(false)), LockTaking::Refused);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(me));
    EXPECT_EQ(TakeWriteLock(Root(), other, nullptr), LockTaking::Refused);
    EXPECT_EQ(TakeWriteLock(Root(), other, answer(true)), LockTaking::TakenOver);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(HoldsLock(Root(), other));

    // A file that says neither counts as taken: forcing writes it whole.
    Put(QStringLiteral("NetLock.CTL"), "");
    EXPECT_EQ(TakeWriteLock(Root(), me, answer(false)), LockTaking::Refused);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray(""));
    EXPECT_EQ(TakeWriteLock(Root(), me, answer(true)), LockTaking::TakenOver);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), TakenBy(me));
    EXPECT_EQ(Entries(QString()), QStringList{"NetLock.CTL"});
}

TEST_F(NetLockTest, AFreeLockThatCannotBeWrittenIsNotHeld)
{
    const QString folder = P(QStringLiteral("ro"));
    TestVolume volume(folder, TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    ASSERT_TRUE(EnableSharing(folder));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    const TakeAttempt attempt = TryTakeLock(folder, me);
    EXPECT_EQ(attempt.before, LockState::Free);
    EXPECT_FALSE(attempt.taken);
    bool asked = false;
    EXPECT_EQ(TakeWriteLock(folder, me, [&] { return asked = true; }), LockTaking::NotWritten);
    EXPECT_FALSE(asked);  // nobody else holds it: there is nothing to force
    volume.Release();
    EXPECT_EQ(Get(QStringLiteral("ro/NetLock.CTL")), QByteArray("0\r\n"));
}

// ---- write probe ----

class ProbeTest : public ScratchTest {};

TEST_F(ProbeTest, LeavesNothingBehindAndKeepsAnExistingTestTxt)
{
    EXPECT_TRUE(ProbeFolderWritable(Root()));
    EXPECT_TRUE(Entries(QString()).isEmpty());
    Put(QStringLiteral("test.txt"), "mine");
    EXPECT_TRUE(ProbeFolderWritable(Root()));
    EXPECT_EQ(Entries(QString()), QStringList{"test.txt"});
    EXPECT_EQ(Get(QStringLiteral("test.txt")), QByteArray("mine"));
}

TEST_F(ProbeTest, ReadOnlyAndMissingFoldersFail)
{
    EXPECT_FALSE(ProbeFolderWritable(P(QStringLiteral("missing"))));
    EXPECT_FALSE(ProbeFolderWritable(QString()));
    // a read-only file system refuses even the superuser
    EXPECT_FALSE(ProbeFolderWritable(QStringLiteral("/proc")));
    TestVolume volume(P(QStringLiteral("ro")), TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    EXPECT_TRUE(ProbeFolderWritable(P(QStringLiteral("ro"))));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    EXPECT_FALSE(ProbeFolderWritable(P(QStringLiteral("ro"))));
    volume.Release();
    EXPECT_TRUE(Entries(QStringLiteral("ro")).isEmpty());
}

TEST(WritingRule, FolderWritableAndNotSharedOrLockHeld)
{
    EXPECT_TRUE(WritingAllowed(false, false, false));
    EXPECT_FALSE(WritingAllowed(false, true, false));
    EXPECT_TRUE(WritingAllowed(false, true, true));
    EXPECT_FALSE(WritingAllowed(true, false, false));
    EXPECT_FALSE(WritingAllowed(true, true, true));
}

}  // namespace
