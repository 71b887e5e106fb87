// SPDX-License-Identifier: GPL-3.0-or-later
// The shared-write lock as tolvane-batch keeps it: taken when free, held
// while it writes, given back at the end and on SIGINT, SIGTERM and SIGHUP,
// refused when another workstation holds it unless forced, and writing
// stopped when the lock is taken away meanwhile.

#include "tests/batch/BatchTestSupport.h"

#include "core/WriteGuard.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

using namespace batchtest;

class LockTest : public BatchTest {
protected:
    QString LockFile() const { return A("NetLock.CTL"); }
    QByteArray Lock() const { return ReadAll(LockFile()); }
    // As another workstation writes it: whole, by a rename, so that the add
    // never reads it half-written.
    void Share(const QByteArray& state) const
    {
        const QString next = LockFile() + QStringLiteral(".next");
        ASSERT_TRUE(WriteAll(next, state));
        ASSERT_EQ(::rename(QFile::encodeName(next).constData(), QFile::encodeName(LockFile()).constData()), 0);
    }

    // Enough big pages for a run that lasts while the test looks at it,
    // however fast the pages are made.
    static constexpr int kMany = 60;
    static QStringList Many(int n)
    {
        QStringList files;
        for (int i = 0; i < n; ++i)
            files << A4();
        return files;
    }

    // Waits until the child has printed `lines` page lines; what it printed.
    static QByteArray WaitForLines(QProcess& child, int lines)
    {
        QByteArray out;
        QDeadlineTimer deadline(60000);
        while (out.count('\n') < lines && !deadline.hasExpired() && child.state() == QProcess::Running) {
            child.waitForReadyRead(100);
            out += child.readAllStandardOutput();
        }
        return out;
    }

    // The pages a run printed are the category's list, whole; nothing else
    // is found by the check.
    void ExpectListed(const QByteArray& out, const QString& category = "Cat") const
    {
        const int pages = int(out.count('\n'));
        QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
        for (int i = 1; i <= pages; ++i)
            list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
        if (pages > 0) {
            EXPECT_EQ(ReadAll(A(category + "/FileList.txt")), list);
        }
        const Outcome check = Batch(On("check", category));
        EXPECT_EQ(check.exitCode, 0) << check.out.constData();
    }
};

TEST_F(LockTest, AnArchiveWithoutALockFileIsNotShared)
{
    MakeCategory("Cat");
    ASSERT_TRUE(Succeeded(Batch(On("add", "Cat", {Small()}))));
    EXPECT_FALSE(QFileInfo::exists(LockFile()));
    EXPECT_EQ(Tree(Archive()).filter("NetLock"), QStringList());
}

TEST_F(LockTest, AFreeLockIsHeldWhileWritingAndGivenBack)
{
    MakeCategory("Cat");
    Share("0\r\n");
    auto child = Start(On("add", "Cat", Many(4)), Env());
    QByteArray out = WaitForLines(*child, 1);
    ASSERT_EQ(out.count('\n'), 1) << child->readAllStandardError().constData();
    EXPECT_EQ(Lock().left(3), QByteArray("1\r\n"));  // taken while it writes
    const Outcome run = Finish(*child);
    out += run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    EXPECT_EQ(out.count('\n'), 4);
    EXPECT_EQ(Lock(), QByteArray("0\r\n"));
    // No guard or temporary file left beside it.
    EXPECT_EQ(QDir(Archive()).entryList(QDir::Files | QDir::Hidden), QStringList{"NetLock.CTL"});
    ExpectListed(out);
}

TEST_F(LockTest, AnotherWorkstationsLockRefusesEveryWrite)
{
    MakeCategory("Cat");
    ASSERT_TRUE(WriteAll(A("Cat/Image/00000003.jpg"), "an orphan for check --repair"));
    // Taken, and a file that says neither state (as the lock button reads it).
    for (const QByteArray& state : {QByteArray("1\r\n"), QByteArray(""), QByteArray("x\r\n")}) {
        Share(state);
        const QStringList before = Tree(Archive());
        for (const QStringList& args : {On("add", "Cat", {Small()}), On("add", "New", {"--create", Small()}),
                                        On("check", "Cat", {"--repair"})}) {
            const Outcome run = Batch(args);
            EXPECT_TRUE(FailedWith(run, 3)) << args.join(' ').toStdString();
            EXPECT_TRUE(run.err.contains("another workstation holds its write lock (NetLock.CTL); --force takes it"))
                << run.err.constData();
            EXPECT_EQ(Tree(Archive()), before) << args.join(' ').toStdString();
            EXPECT_EQ(Lock(), state);
        }
        // Reading needs no lock.
        const Outcome check = Batch(On("check", "Cat"));
        EXPECT_EQ(check.exitCode, 1);
        EXPECT_TRUE(check.out.startsWith("Cat/Image/00000003.jpg: ")) << check.out.constData();
    }
}

TEST_F(LockTest, ForceTakesTheLockOverAsTheButtonsYesDoes)
{
    MakeCategory("Cat");
    Share("1\r\n");
    const Outcome run = Batch(On("add", "Cat", {"--force", Small()}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "tolvane-batch: took the shared-write lock of '" + QFile::encodeName(Archive())
                           + "' over (--force)\n");
    EXPECT_EQ(run.out.count('\n'), 1);
    EXPECT_EQ(Lock(), QByteArray("0\r\n"));  // and given back at the end
    ExpectListed(run.out);
}

TEST_F(LockTest, EachStopSignalGivesTheLockBack)
{
    MakeCategory("Cat");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Share("0\r\n");
        ASSERT_TRUE(QDir(A("Cat")).removeRecursively());
        MakeCategory("Cat");
        auto child = Start(On("add", "Cat", Many(kMany)), Env());
        QByteArray out = WaitForLines(*child, 1);
        ASSERT_EQ(out.count('\n'), 1);
        ASSERT_EQ(Lock().left(3), QByteArray("1\r\n"));
        ::kill(pid_t(child->processId()), signal);
        const Outcome run = Finish(*child);
        out += run.out;
        EXPECT_EQ(run.exitCode, 128 + signal) << run.err.constData();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("tolvane-batch: stopped by signal %1 (").arg(signal).toUtf8()))
            << run.err.constData();
        EXPECT_TRUE(run.err.endsWith(QStringLiteral("; %1 page(s) filed\n").arg(out.count('\n')).toUtf8()))
            << run.err.constData();
        EXPECT_LT(out.count('\n'), kMany);
        EXPECT_EQ(Lock(), QByteArray("0\r\n")) << signal;
        ExpectListed(out);
    }
}

TEST_F(LockTest, WritingStopsWhenTheLockIsTakenAway)
{
    MakeCategory("Cat");
    // Another workstation forced the lock and gave it back: it says free.
    Share("0\r\n");
    auto child = Start(On("add", "Cat", Many(kMany)), Env());
    QByteArray out = WaitForLines(*child, 1);
    ASSERT_EQ(out.count('\n'), 1);
    Share("0\r\n");
    Outcome run = Finish(*child);
    out += run.out;
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("was taken away meanwhile; it is held by nobody (given back or not shared) now: "
                                 "nothing more is written"))
        << run.err.constData();
    EXPECT_LT(out.count('\n'), kMany);
    EXPECT_EQ(Lock(), QByteArray("0\r\n"));
    ExpectListed(out);

    // Taken over (--force elsewhere): it stops at its next page, says who
    // holds the lock now, and gives nothing back.
    ASSERT_TRUE(QDir(A("Cat")).removeRecursively());
    MakeCategory("Cat");
    child = Start(On("add", "Cat", Many(kMany)), Env());
    out = WaitForLines(*child, 1);
    ASSERT_EQ(out.count('\n'), 1);
    OwnerToken other = NewOwnerToken();
    other.host = QStringLiteral("workstation-b");
    const QByteArray takenOver = "1\r\n" + other.Line().toUtf8() + "\r\n";
    Share(takenOver);
    run = Finish(*child);
    out += run.out;
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains(("it is held by " + other.Describe()).toUtf8())) << run.err.constData();
    EXPECT_LT(out.count('\n'), kMany);
    EXPECT_EQ(Lock(), takenOver);
    ExpectListed(out);

    // Sharing switched off meanwhile: it stops, and the archive stays unshared.
    ASSERT_TRUE(QDir(A("Cat")).removeRecursively());
    MakeCategory("Cat");
    Share("0\r\n");
    child = Start(On("add", "Cat", Many(kMany)), Env());
    out = WaitForLines(*child, 1);
    ASSERT_EQ(out.count('\n'), 1);
    ASSERT_TRUE(QFile::remove(LockFile()));
    run = Finish(*child);
    out += run.out;
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(LockFile()));
    ExpectListed(out);
}

}  // namespace
