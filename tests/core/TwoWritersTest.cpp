// SPDX-License-Identifier: GPL-3.0-or-later
// Two writers of one archive: every page operation reads the list again
// inside the category's write guard and applies itself by page entry, so a
// list shown from a stale copy never drops another writer's pages; a guard
// is broken only when stale; a lost lock and a list that cannot be written
// back stop a writer before it writes; and a delete or move cut short is
// finished by the repair the way it was going.

#include "core/ArchiveCheck.h"
#include "core/ArchiveSession.h"
#include "core/PageIntent.h"
#include "core/WriteGuard.h"
#include "CoreTestUtil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSysInfo>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

const QByteArray kPage = QByteArray(2000, 'P');
const QByteArray kThumb = QByteArray(500, 'T');

class TwoWritersTest : public ScratchTest {
protected:
    ArchiveSession a_, b_;

    void SetUp() override
    {
        ScratchTest::SetUp();
        WriteGuard::SetDefaultWaitMs(300);
    }
    void TearDown() override { WriteGuard::SetDefaultWaitMs(5000); }

    // A category of `pages` whole pages 00000001.jpg ... (the memo says
    // which), and both sessions showing it.
    void Open(int pages, const QString& name = QStringLiteral("Cat"))
    {
        MakeCategory(name);
        QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
        for (int i = 1; i <= pages; ++i) {
            const QByteArray n = QByteArray::number(i).rightJustified(8, '0');
            Put(name + "/Image/" + n + ".jpg", kPage + n);
            Put(name + "/Thumb/" + n + ".jpg", kThumb);
            Put(name + "/Text/" + n + ".txt", "memo " + n + "\r\n");
            list += n + ".jpg\r\n";
        }
        Put(name + "/FileList.txt", list);
        for (ArchiveSession* s : {&a_, &b_}) {
            s->ArchiveRoot = Root();
            s->SelectCategory(P(name));
        }
    }
    QStringList Listed(const QString& name = QStringLiteral("Cat")) const
    {
        QStringList lines = SplitTextLines(QString::fromLatin1(Get(name + "/FileList.txt").value_or(QByteArray())));
        if (!lines.isEmpty())
            lines.removeFirst();
        return lines;
    }
    static QStringList Shown(const ArchiveSession& s) { return s.Pages.lines.mid(1); }
    void Age(const QString& relative, int seconds) const
    {
        QFile f(P(relative));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(seconds), QFileDevice::FileModificationTime));
    }
};

}  // namespace

// The reproduction: the window shows two pages, another writer files two
// more, the window files one: all five are listed, and shown.
TEST_F(TwoWritersTest, AListShownFromAStaleCopyKeepsTheOtherWritersPages)
{
    Open(2);
    ASSERT_TRUE(b_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    ASSERT_TRUE(b_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    ASSERT_TRUE(a_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    const QStringList all = {"00000001.jpg", "00000002.jpg", "00000003.jpg", "00000004.jpg", "00000005.jpg"};
    EXPECT_EQ(Listed(), all);
    EXPECT_EQ(Get("Cat/FileList.txt")->left(10), QByteArray("00000005\r\n"));
    EXPECT_EQ(Shown(a_), all);
    EXPECT_EQ(a_.Grid.P, 5);
    EXPECT_EQ(a_.Grid.K, 4);
    EXPECT_EQ(a_.Grid.T, 1);
    EXPECT_FALSE(Exists("Cat/FileList.txt.lock"));
}

// What the user acted on is found by its entry in the list read again; a
// page that is no longer there is said so, and nothing else changes.
TEST_F(TwoWritersTest, OperationsFindTheirPageByEntryInTheFreshList)
{
    Open(4);
    MakeCategory(QStringLiteral("Dest"));
    a_.Grid.K = 2;  // 00000003.jpg, clicked in the window
    ASSERT_TRUE(b_.DeletePage(0));
    EXPECT_EQ(Listed(), (QStringList{"00000002.jpg", "00000003.jpg", "00000004.jpg"}));

    // Reorder: the clicked page moves, though its index changed meanwhile.
    ASSERT_TRUE(a_.MovePageBefore(2));
    EXPECT_EQ(Listed(), (QStringList{"00000003.jpg", "00000002.jpg", "00000004.jpg"}));
    EXPECT_EQ(a_.Grid.K, 0);
    EXPECT_EQ(Shown(a_), Listed());

    // Delete by entry: b_ still shows 00000002.jpg at index 0.
    ASSERT_TRUE(b_.DeletePage(0));
    EXPECT_EQ(Listed(), (QStringList{"00000003.jpg", "00000004.jpg"}));
    EXPECT_FALSE(Exists("Cat/Image/00000002.jpg"));
    EXPECT_TRUE(Exists("Cat/Image/00000003.jpg"));

    // Gone: each operation on a page another writer took away says so.
    struct Case {
        const char* name;
        std::function<PageResult(ArchiveSession&)> run;
    };
    const Case cases[] = {
        {"delete", [](ArchiveSession& s) { return s.DeletePage(1); }},
        {"reorder", [](ArchiveSession& s) { return s.MovePageBefore(1); }},
        {"re-edit", [](ArchiveSession& s) { return s.ReplacePageFiles(1, kPage, kThumb); }},
        {"move", [this](ArchiveSession& s) { return s.MovePageToCategory(1, P("Dest")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        a_.SelectCategory(P("Cat"));
        a_.Grid.K = 1;  // 00000004.jpg
        ArchiveSession other;
        other.SelectCategory(P("Cat"));
        ASSERT_TRUE(other.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
        ASSERT_TRUE(other.DeletePage(1));  // 00000004.jpg goes
        const QStringList before = Listed();
        const PageResult r = c.run(a_);
        EXPECT_FALSE(r);
        EXPECT_EQ(r.message, kPageGoneMessage);
        EXPECT_TRUE(r.asBox);
        EXPECT_EQ(Listed(), before);
        EXPECT_EQ(Shown(a_), before) << "the list shown is the one on disk";
        EXPECT_EQ(a_.Grid.K, -1);
        EXPECT_EQ(Listed(QStringLiteral("Dest")), QStringList());
        EXPECT_TRUE(PendingIntents(Root()).empty());
        // put 00000004.jpg back for the next case
        Put("Cat/FileList.txt", "00000009\r\n00000003.jpg\r\n00000004.jpg\r\n");
        for (const char* f : {"Image/00000004.jpg", "Thumb/00000004.jpg", "Text/00000004.txt"})
            Put(QStringLiteral("Cat/") + QLatin1String(f), "x");
    }
}

// Many writers at once into one category: every page they were told was
// filed is listed once, and no image was written over.
TEST_F(TwoWritersTest, ConcurrentWritersNeverShareANumber)
{
    Open(0);
    WriteGuard::SetDefaultWaitMs(20000);
    constexpr int kWriters = 4, kPages = 6;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ArchiveSession s;
            s.SelectCategory(P("Cat"));
            int filed = 0;
            for (int i = 0; i < kPages; ++i)
                filed += s.StoreNewPage(kPage + QByteArray::number(w), QStringLiteral(".jpg"), kThumb) ? 1 : 0;
            ::_exit(filed);
        }
        pids.push_back(pid);
    }
    int filed = 0;
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        filed += WEXITSTATUS(status);
    }
    EXPECT_EQ(filed, kWriters * kPages);
    const QStringList listed = Listed();
    EXPECT_EQ(listed.size(), filed);
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()).size(), listed.size()) << "each page listed once";
    EXPECT_EQ(ScratchTest::Entries("Cat/Image").size(), filed) << "no image written over";
}

TEST_F(TwoWritersTest, AGuardIsBrokenOnlyWhenItIsStale)
{
    Open(1);
    const QString guard = QStringLiteral("Cat/FileList.txt.lock");
    OwnerToken elsewhere = NewOwnerToken();
    elsewhere.host = QStringLiteral("another-workstation");
    OwnerToken dead = NewOwnerToken();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    dead.pid = child;  // a process of this machine that has ended
    struct Case {
        const char* name;
        QByteArray content;
        int ageSeconds;  // its modification time from now, by the file system's clock
        bool broken;
    };
    const Case cases[] = {
        {"a live writer elsewhere", elsewhere.Line().toUtf8() + "\n", 0, false},
        {"a live writer elsewhere, refreshed 20 s ago", elsewhere.Line().toUtf8() + "\n", -20, false},
        {"a writer elsewhere whose clock is ahead", elsewhere.Line().toUtf8() + "\n", +60, false},
        {"a writer elsewhere, silent for a minute", elsewhere.Line().toUtf8() + "\n", -60, true},
        {"a process of this machine that ended", dead.Line().toUtf8() + "\n", 0, true},
        {"created and never written, just now", "", 0, false},
        {"created and never written, seconds ago", "", -5, true},
        {"something else, just now", "not a token", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put(guard, c.content);
        Age(guard, c.ageSeconds);
        const QStringList before = Listed();
        const PageResult r = a_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb);
        EXPECT_EQ(bool(r), c.broken) << qPrintable(r.message);
        if (c.broken) {
            EXPECT_EQ(Listed().size(), before.size() + 1);
            EXPECT_FALSE(Exists(guard)) << "given back";
        } else {
            EXPECT_EQ(r.message, kListBusyMessage);
            if (!c.content.isEmpty() && c.content != "not a token") {
                EXPECT_EQ(r.error.reason, elsewhere.Describe());
            }
            EXPECT_EQ(Listed(), before);
            EXPECT_EQ(Get(guard), c.content) << "a live guard is never touched";
        }
        QFile::remove(P(guard));
    }
    // Nothing is left aside: broken guards and probes go.
    for (const QString& name : ScratchTest::Entries(QStringLiteral("Cat")))
        EXPECT_FALSE(IsAtomicWriteLeftover(name)) << qPrintable(name);
}

TEST_F(TwoWritersTest, AHeldGuardIsRefreshedAndGivenBackOnlyByItsHolder)
{
    Open(0);
    const QString path = P("Cat/FileList.txt.lock");
    WriteGuard held = WriteGuard::Acquire(path, 0);
    ASSERT_TRUE(held);
    EXPECT_EQ(Get("Cat/FileList.txt.lock"), (held.Token().Line() + u'\n').toUtf8());
    WriteGuard second = WriteGuard::Acquire(path, 100);
    EXPECT_EQ(second.Result(), WriteGuard::Outcome::Busy);
    EXPECT_EQ(second.Holder(), held.Token().Describe());
    // Someone broke it and took it: the first holder no longer holds it and
    // does not remove the new holder's guard.
    Put("Cat/FileList.txt.lock", "someone else's\n");
    EXPECT_FALSE(held.StillHeld());
    held.Release();
    EXPECT_EQ(Get("Cat/FileList.txt.lock"), QByteArray("someone else's\n"));
}

// A list holding bytes that CP932 would not give back the same is never
// rewritten: every writer refuses, naming the category.
TEST_F(TwoWritersTest, AListThatCannotBeWrittenBackExactlyIsNeverRewritten)
{
    Open(2);
    const QByteArray odd = "00000002\r\n00000001.jpg\r\n\x85\x40\xFD.jpg\r\n00000002.jpg\r\n";
    Put("Cat/FileList.txt", odd);
    MakeCategory(QStringLiteral("Dest"));
    const QStringList files = ScratchTest::Entries("Cat/Image");
    for (const auto& run : std::vector<std::function<PageResult()>>{
             [&] { return a_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb); },
             [&] { return a_.DeletePage(0); },
             [&] { return a_.MovePageAfter(0); },
             [&] { return a_.MovePageToCategory(0, P("Dest")); },
         }) {
        a_.SelectCategory(P("Cat"));
        EXPECT_TRUE(a_.ListReadOnly) << "shown read-only";
        EXPECT_FALSE(a_.WritingAllowed());
        const PageResult r = run();
        EXPECT_FALSE(r);
        EXPECT_EQ(r.message, kListNotWritableMessage.arg(QStringLiteral("Cat")));
        EXPECT_EQ(Get("Cat/FileList.txt"), odd);
        EXPECT_EQ(ScratchTest::Entries("Cat/Image"), files);
        EXPECT_FALSE(Exists("Dest/FileList.txt"));
    }
    // A list that turns so while shown: refused, and read-only from then on.
    Put("Cat/FileList.txt", "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n");
    b_.SelectCategory(P("Cat"));
    EXPECT_TRUE(b_.WritingAllowed());
    Put("Cat/FileList.txt", odd);
    EXPECT_FALSE(b_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    EXPECT_TRUE(b_.ListReadOnly);
    EXPECT_EQ(Get("Cat/FileList.txt"), odd);
}

// A writer whose lock another workstation took writes nothing more.
TEST_F(TwoWritersTest, AWriterThatLostTheLockWritesNothing)
{
    Open(1);
    Put("NetLock.CTL", "0\r\n");
    a_.ArchiveShared = true;
    ASSERT_EQ(a_.TakeWriteLock(nullptr), LockTaking::Taken);
    ASSERT_TRUE(a_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    OwnerToken b = NewOwnerToken();
    ASSERT_TRUE(TakeLock(Root(), b));  // forced elsewhere
    const QStringList before = Listed();
    const PageResult r = a_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb);
    EXPECT_FALSE(r);
    EXPECT_TRUE(r.lockLost);
    EXPECT_EQ(r.message, kLockLostMessage);
    EXPECT_TRUE(r.error.reason.contains(b.Describe()));
    EXPECT_FALSE(a_.LockHeld);
    EXPECT_FALSE(a_.WritingAllowed());
    EXPECT_EQ(Listed(), before);
    EXPECT_EQ(ScratchTest::Entries("Cat/Image").size(), before.size());
    // Its give-back leaves the new holder's lock as it is.
    EXPECT_EQ(a_.GiveBackWriteLock(), GiveBack::NotHolder);
    EXPECT_TRUE(HoldsLock(Root(), b));
}

// Taking the lock and coming back to the window read the list again.
TEST_F(TwoWritersTest, ReloadFollowsTheListOnDiskAndKeepsTheClickedPage)
{
    Open(3);
    a_.Grid.K = 1;  // 00000002.jpg
    EXPECT_FALSE(a_.Reload());
    ASSERT_TRUE(b_.DeletePage(0));
    EXPECT_TRUE(a_.Reload());
    EXPECT_EQ(Shown(a_), (QStringList{"00000002.jpg", "00000003.jpg"}));
    EXPECT_EQ(a_.Grid.K, 0);
    EXPECT_EQ(a_.Grid.P, 2);
    EXPECT_FALSE(a_.Reload());

    Put("NetLock.CTL", "0\r\n");
    a_.ArchiveShared = true;
    ASSERT_TRUE(b_.StoreNewPage(kPage, QStringLiteral(".jpg"), kThumb));
    ASSERT_EQ(a_.TakeWriteLock(nullptr), LockTaking::Taken);
    EXPECT_EQ(a_.Grid.P, 3) << "taking the lock shows what others wrote";
}

namespace {

struct CutShort {
    const char* name;
    bool move;
    // What had been done when it stopped (the record is always written).
    bool copies = false;           // move: the three copies made in Dest
    bool destinationList = false;  // move: Dest's list names the copy
    bool sourceList = false;       // the source's list no longer names the page
    bool filesGone = false;        // the source's files deleted (some of them)
    // Where the page ends: in Cat, in Dest, or nowhere.
    const char* endsIn;
};

}  // namespace

// Deletes and moves stopped at each step, as a SIGKILL or a power cut
// stops them: the repair finishes each the way the user saw it go, and a
// page the record names is never appended as an orphan.
TEST_F(TwoWritersTest, RepairFinishesADeleteOrMoveCutShortAtEachStep)
{
    const CutShort cases[] = {
        {"delete, record only", false, false, false, false, false, ""},
        {"delete, list written", false, false, false, true, false, ""},
        {"delete, files partly gone", false, false, false, true, true, ""},
        {"move, record only", true, false, false, false, false, "Cat"},
        {"move, copies made", true, true, false, false, false, "Cat"},
        {"move, destination listed", true, true, true, false, false, "Dest"},
        {"move, both lists written", true, true, true, true, false, "Dest"},
        {"move, source files partly gone", true, true, true, true, true, "Dest"},
    };
    for (const CutShort& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(P("Cat")).removeRecursively();
        QDir(P("Dest")).removeRecursively();
        Open(2);
        Open(1, QStringLiteral("Dest"));
        const QByteArray page2 = *Get("Cat/Image/00000002.jpg");
        PageIntent intent{c.move ? PageIntent::Kind::Move : PageIntent::Kind::Delete, "Cat", "00000002.jpg",
                          c.move ? "Dest" : "", c.move ? "00000002.jpg" : ""};
        ASSERT_FALSE(WriteIntent(Root(), intent).isEmpty());
        if (c.copies)
            for (const char* f : {"Image/00000002.jpg", "Thumb/00000002.jpg", "Text/00000002.txt"})
                Put(QStringLiteral("Dest/") + QLatin1String(f), *Get(QStringLiteral("Cat/") + QLatin1String(f)));
        if (c.destinationList)
            Put("Dest/FileList.txt", "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n");
        if (c.sourceList)
            Put("Cat/FileList.txt", "00000002\r\n00000001.jpg\r\n");
        if (c.filesGone)
            QFile::remove(P("Cat/Image/00000002.jpg"));

        CheckOptions check;
        EXPECT_EQ(CheckIntents(Root(), check).size(), 1u) << "reported before the repair";
        // Without the record resolved, an orphan it names is not appended.
        check.repair = true;
        for (const CheckFinding& f : CheckCategory(P("Cat"), check))
            EXPECT_FALSE(f.mended && f.kind == FindingKind::Orphan) << qPrintable(f.file);
        const std::vector<CheckFinding> resolved = CheckIntents(Root(), check);
        ASSERT_EQ(resolved.size(), 1u);
        EXPECT_TRUE(resolved[0].mended) << qPrintable(resolved[0].how);
        EXPECT_TRUE(PendingIntents(Root()).empty());
        CheckCategory(P("Cat"), check);
        CheckCategory(P("Dest"), check);

        const QString endsIn = QLatin1String(c.endsIn);
        EXPECT_EQ(Listed().contains("00000002.jpg"), endsIn == u"Cat");
        EXPECT_EQ(Exists("Cat/Image/00000002.jpg"), endsIn == u"Cat");
        EXPECT_EQ(Exists("Cat/Text/00000002.txt"), endsIn == u"Cat");
        EXPECT_EQ(Listed("Dest").contains("00000002.jpg"), endsIn == u"Dest");
        EXPECT_EQ(Exists("Dest/Image/00000002.jpg"), endsIn == u"Dest");
        if (endsIn == u"Dest") {
            EXPECT_EQ(Get("Dest/Image/00000002.jpg"), page2);
        }
        EXPECT_EQ(Listed().count("00000001.jpg") + Listed("Dest").count("00000001.jpg"), 2) << "the others stay";
        EXPECT_TRUE(CheckCategory(P("Cat"), CheckOptions{}).empty());
        EXPECT_TRUE(CheckCategory(P("Dest"), CheckOptions{}).empty());
    }
}
