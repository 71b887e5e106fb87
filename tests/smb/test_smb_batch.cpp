// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch on a real network drive, run from two workstations at once
// (the rig's two mounts of one share): adds side by side on an unshared and
// on a shared archive, a forced takeover in the middle of a long add, an add
// killed while the other workstation writes, and a workstation whose clock
// is off by a minute. Afterwards every page a run reported is listed exactly
// once, nothing else is found by the check, and on a shared archive no two
// runs ever wrote at the same time.
//
// The main window takes part too, as a process of its own per workstation
// (WindowDriver): beside an add on the other mount, and handing the lock
// over to a second window.
//
// TOLVANE_SMB_SEED replays the kill moments of a failed run (the seed is
// printed); TOLVANE_SMB_KILLS sets their number.

#include "tests/batch/BatchTestSupport.h"
#include "tests/smb/SmbRig.h"

#include "core/ArchiveSession.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <future>
#include <random>

namespace {

using namespace batchtest;
using W = SmbRig::Workstation;

class SmbBatch : public SmbFixture<BatchTest> {
protected:
    static void SetUpTestSuite()
    {
        SmbFixture::SetUpTestSuite();
        pictures_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(pictures_->isValid());
        for (int i = 0; i < 3; ++i) {
            const QString path = pictures_->filePath(QStringLiteral("in%1.jpg").arg(i));
            ASSERT_TRUE(ImgKitJpegFileSave(path, MakePicture(360 + 40 * i, 500), 90));
            inputs_ << path;
        }
    }
    static void TearDownTestSuite()
    {
        inputs_.clear();
        pictures_.reset();
        SmbFixture::TearDownTestSuite();
    }

    // The small pictures, `times` over.
    static QStringList Inputs(int times = 1)
    {
        QStringList all;
        for (int i = 0; i < times; ++i)
            all << inputs_;
        return all;
    }

    // ---- the archive in the test's folder on the share ----

    QString ArchiveOn(W w) const { return On(w, "archive"); }
    QString Server(const QString& relative) const { return OnServer("archive/" + relative); }
    void MakeSharedCategory(const QString& name) const
    {
        for (const char* sub : {"Image", "Thumb", "Text"})
            ASSERT_TRUE(QDir().mkpath(Server(name + u'/' + QLatin1String(sub))));
    }
    void ShareArchive() const { ASSERT_TRUE(WriteAll(Server("NetLock.CTL"), "0\r\n")); }
    QList<QByteArray> LockLines() const { return ReadAll(Server("NetLock.CTL")).split('\n'); }

    QStringList Cmd(W w, const QString& command, const QString& category, const QStringList& more = {}) const
    {
        return QStringList{command, "--archive", ArchiveOn(w), "--category", category} + more;
    }
    std::unique_ptr<QProcess> StartAdd(W w, const QStringList& files, const QStringList& more = {}) const
    {
        return Start(Cmd(w, "add", "Cat", more + files), Rig().Env(w));
    }

    // Adds the pictures as `w`, run after run, until `wanted` runs have
    // filed theirs; a refused run (exit 3) is tried again, up to `tries`
    // runs in all; any other failure ends the loop. Every run's outcome.
    std::vector<Outcome> AddLoop(W w, int wanted, int tries, const QProcessEnvironment& env) const
    {
        std::vector<Outcome> runs;
        int filed = 0;
        while (filed < wanted && int(runs.size()) < tries) {
            runs.push_back(Batch(Cmd(w, "add", "Cat", Inputs()), env));
            if (runs.back().exitCode == 0)
                ++filed;
            else if (runs.back().exitCode != 3)
                break;
        }
        return runs;
    }

    // Two loops side by side, one per workstation.
    std::pair<std::vector<Outcome>, std::vector<Outcome>> SideBySide(int wanted, int tries,
                                                                   const QProcessEnvironment& envA,
                                                                   const QProcessEnvironment& envB) const
    {
        auto a = std::async(std::launch::async, [&] { return AddLoop(W::A, wanted, tries, envA); });
        auto b = std::async(std::launch::async, [&] { return AddLoop(W::B, wanted, tries, envB); });
        return {a.get(), b.get()};
    }

    // The page entries a run reported (the first field of each line).
    static QStringList Pages(const QByteArray& out)
    {
        QStringList pages;
        for (const QByteArray& line : out.split('\n'))
            if (!line.isEmpty())
                pages << QString::fromLatin1(line.left(line.indexOf('\t')));
        return pages;
    }
    static QStringList Pages(const std::vector<Outcome>& runs)
    {
        QStringList pages;
        for (const Outcome& run : runs)
            pages << Pages(run.out);
        return pages;
    }
    static int Number(const QString& page) { return page.left(8).toInt(); }

    // The list as the server holds it, without its header.
    QStringList Listed() const
    {
        QStringList lines = QString::fromLatin1(ReadAll(Server("Cat/FileList.txt"))).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines.mid(1);
    }

    // Every reported page listed, nothing listed twice, a page image for
    // each line and none else, no guard left; and the check, as workstation
    // A, finds nothing.
    void ExpectWhole(const QStringList& reported) const
    {
        const QStringList listed = Listed();
        EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()).size(), listed.size()) << listed.join(' ').toStdString();
        EXPECT_EQ(QSet<QString>(reported.begin(), reported.end()).size(), reported.size())
            << "a page reported twice: " << reported.join(' ').toStdString();
        for (const QString& page : reported)
            EXPECT_TRUE(listed.contains(page)) << page.toStdString() << " reported, not listed";
        EXPECT_EQ(QDir(Server("Cat/Image")).entryList(QDir::Files).size(), listed.size());
        const QStringList guards = QDir(Server("Cat")).entryList({"FileList.txt.lock*"}, QDir::Files | QDir::Hidden);
        EXPECT_TRUE(guards.isEmpty()) << "left: " << guards.join(' ').toStdString();
        const Outcome check = Batch(Cmd(W::A, "check", "Cat"), Rig().Env(W::A));
        EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
        EXPECT_EQ(check.out, QByteArray());
    }

    // Waits until `child` has printed `lines` page lines; what it printed.
    static QByteArray WaitForLines(QProcess& child, int lines)
    {
        QByteArray out;
        QDeadlineTimer deadline(120000);
        while (out.count('\n') < lines && !deadline.hasExpired() && child.state() == QProcess::Running) {
            child.waitForReadyRead(100);
            out += child.readAllStandardOutput();
        }
        return out;
    }

    static qint64 MedianMs(const std::function<void()>& run)
    {
        std::vector<qint64> ms;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            run();
            ms.push_back(timer.elapsed());
        }
        std::sort(ms.begin(), ms.end());
        return ms[1];
    }

    // The main window, run as workstation `w` (WindowDriver) on its archive.
    class Window {
    public:
        struct Shown {
            int pages = -1;
            bool held = false;
            bool writable = false;
            QStringList messages;
        };
        Window(const SmbBatch& test, W w)
        {
            QProcessEnvironment env = Rig().Env(w);
            env.insert("QT_QPA_PLATFORM", "offscreen");
            process_.setProcessEnvironment(env);
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process_.start(QStringLiteral(TOLVANE_WINDOW_DRIVER), {test.ArchiveOn(w)});
            shown_ = Read();
        }
        ~Window()
        {
            process_.write("quit\n");
            if (!process_.waitForFinished(30000))
                process_.kill();
            process_.waitForFinished(5000);
        }
        const Shown& Now() const { return shown_; }
        // One command; what the window shows afterwards.
        const Shown& Do(const QString& command)
        {
            process_.write(command.toUtf8() + '\n');
            shown_ = Read();
            return shown_;
        }

    private:
        Shown Read()
        {
            Shown shown;
            QDeadlineTimer deadline(120000);
            while (!deadline.hasExpired()) {
                if (!process_.canReadLine() && !process_.waitForReadyRead(200)) {
                    if (process_.state() != QProcess::Running)
                        break;
                    continue;
                }
                const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                if (line.startsWith("msg ")) {
                    shown.messages << line.mid(4);
                } else if (line.startsWith("ok ")) {
                    const QStringList f = line.split(' ');
                    shown.pages = f.value(1).mid(2).toInt();
                    shown.held = f.value(2) == "held=1";
                    shown.writable = f.value(3) == "writable=1";
                    return shown;
                }
            }
            ADD_FAILURE() << "the window did not answer";
            return shown;
        }

        QProcess process_;
        Shown shown_;
    };

private:
    static inline std::unique_ptr<QTemporaryDir> pictures_;
    static inline QStringList inputs_;
};

TEST_F(SmbBatch, OnePageTakesOnTheNetworkDriveAndOnTheLocalDisk)
{
    MakeCategory("Cat");
    MakeSharedCategory("Cat");
    const QStringList one{Inputs().first()};
    QStringList reported;
    const qint64 local = MedianMs([&] { EXPECT_TRUE(Succeeded(Batch(BatchTest::On("add", "Cat", one)))); });
    const qint64 smb = MedianMs([&] {
        const Outcome run = Batch(Cmd(W::A, "add", "Cat", one), Rig().Env(W::A));
        EXPECT_TRUE(Succeeded(run));
        reported << Pages(run.out);
    });
    std::printf("add of one page (median of 3 runs): local disk %lld ms, network drive %lld ms\n",
                static_cast<long long>(local), static_cast<long long>(smb));
    RecordProperty("local_ms", int(local));
    RecordProperty("smb_ms", int(smb));
    EXPECT_EQ(reported.size(), 3);
    ExpectWhole(reported);
}

// What the guard, the re-read and the intent record cost on the network
// drive: the session's new page and delete on a 100-page category, and the
// lock taken and given back, through mount A (printed; each must succeed).
TEST_F(SmbBatch, GuardedPageOperationsOnTheNetworkDrive)
{
    MakeSharedCategory("Cat");
    QByteArray list = "00000100\r\n";
    for (int i = 1; i <= 100; ++i) {
        const QString n = QString::number(i).rightJustified(8, u'0');
        ASSERT_TRUE(WriteAll(Server("Cat/Image/" + n + ".jpg"), QByteArray(40000, 'P')));
        ASSERT_TRUE(WriteAll(Server("Cat/Thumb/" + n + ".jpg"), QByteArray(4000, 'T')));
        ASSERT_TRUE(WriteAll(Server("Cat/Text/" + n + ".txt"), "\r\n"));
        list += n.toLatin1() + ".jpg\r\n";
    }
    ASSERT_TRUE(WriteAll(Server("Cat/FileList.txt"), list));
    ShareArchive();
    ArchiveSession s;
    s.ArchiveRoot = ArchiveOn(W::A);
    s.ArchiveShared = true;
    s.SelectCategory(ArchiveOn(W::A) + "/Cat");
    const qint64 lock = MedianMs([&] {
        ASSERT_EQ(s.TakeWriteLock(nullptr), LockTaking::Taken);
        ASSERT_EQ(s.GiveBackWriteLock(), GiveBack::GivenBack);
    });
    ASSERT_EQ(s.TakeWriteLock(nullptr), LockTaking::Taken);
    const qint64 add = MedianMs([&] { ASSERT_TRUE(s.StoreNewPage(QByteArray(40000, 'N'), ".jpg", QByteArray(4000, 't'))); });
    const qint64 del = MedianMs([&] { ASSERT_TRUE(s.DeletePage(10)); });
    s.GiveBackWriteLock();
    std::printf("network drive, 100-page category (median of 3): new page %lld ms, delete %lld ms, "
                "lock taken and given back %lld ms\n",
                static_cast<long long>(add), static_cast<long long>(del), static_cast<long long>(lock));
    EXPECT_EQ(ReadAll(Server("Cat/FileList.txt")).count('\n'), 101);  // the header, 100 pages, 3 filed, 3 deleted
    EXPECT_TRUE(QDir(Server("")).entryList({".tolvane-intent-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(SmbBatch, AddsSideBySideOnAnUnsharedArchiveLoseNothing)
{
    MakeSharedCategory("Cat");
    const auto [a, b] = SideBySide(4, 4, Rig().Env(W::A), Rig().Env(W::B));
    for (const auto* runs : {&a, &b})
        for (const Outcome& run : *runs)
            EXPECT_TRUE(Succeeded(run));
    const QStringList reported = Pages(a) + Pages(b);
    EXPECT_EQ(reported.size(), 2 * 4 * 3);
    EXPECT_EQ(Listed().size(), reported.size());
    ExpectWhole(reported);
}

TEST_F(SmbBatch, OnASharedArchiveOneWorkstationWritesAtATime)
{
    MakeSharedCategory("Cat");
    ShareArchive();
    // A refused run is tried again at once, so the two keep running into
    // each other's lock.
    const auto [a, b] = SideBySide(3, 120, Rig().Env(W::A), Rig().Env(W::B));
    int refused = 0;
    for (const auto* runs : {&a, &b}) {
        int filed = 0;
        for (const Outcome& run : *runs) {
            if (run.exitCode == 3) {
                ++refused;
                EXPECT_TRUE(FailedWith(run, 3));
                EXPECT_TRUE(run.err.contains("holds its write lock (NetLock.CTL)")) << run.err.constData();
                continue;
            }
            ASSERT_TRUE(Succeeded(run));
            ++filed;
            // Nobody wrote in between: its pages follow each other.
            const QStringList pages = Pages(run.out);
            ASSERT_EQ(pages.size(), 3);
            for (int i = 1; i < pages.size(); ++i)
                EXPECT_EQ(Number(pages[i]), Number(pages[0]) + i) << pages.join(' ').toStdString();
        }
        EXPECT_EQ(filed, 3);
    }
    std::printf("shared archive: %d runs refused while the other workstation wrote\n", refused);
    EXPECT_GT(refused, 0);
    const QStringList reported = Pages(a) + Pages(b);
    EXPECT_EQ(Listed().size(), reported.size());  // refused runs left nothing
    ExpectWhole(reported);
    EXPECT_TRUE(ReadAll(Server("NetLock.CTL")).startsWith("0\r\n"));
}

TEST_F(SmbBatch, AForcedTakeoverStopsTheLongAddAtItsNextPage)
{
    MakeSharedCategory("Cat");
    ShareArchive();
    auto longAdd = StartAdd(W::A, Inputs(10));
    QByteArray outA = WaitForLines(*longAdd, 1);
    ASSERT_EQ(outA.count('\n'), 1) << longAdd->readAllStandardError().constData();

    auto forced = StartAdd(W::B, Inputs(10), {"--force"});
    const Outcome a = Finish(*longAdd);
    outA += a.out;
    EXPECT_TRUE(a.err.startsWith("tolvane-batch: ")) << a.err.constData();
    EXPECT_TRUE(a.err.contains("was taken away meanwhile")) << a.err.constData();
    EXPECT_EQ(a.exitCode, 3);

    // A, on its way out, left B's lock alone.
    ASSERT_EQ(forced->state(), QProcess::Running) << "B ended before A stopped";
    const QList<QByteArray> lock = LockLines();
    ASSERT_GE(lock.size(), 2) << ReadAll(Server("NetLock.CTL")).constData();
    EXPECT_EQ(lock[0], "1\r");
    const QList<QByteArray> holder = lock[1].trimmed().split('\t');
    ASSERT_EQ(holder.size(), 5) << lock[1].constData();
    EXPECT_EQ(holder[2].toLongLong(), forced->processId());

    const Outcome b = Finish(*forced);
    EXPECT_EQ(b.exitCode, 0) << b.err.constData();
    EXPECT_TRUE(b.err.contains("over (--force)")) << b.err.constData();
    const QStringList pagesA = Pages(outA), pagesB = Pages(b.out);
    EXPECT_EQ(pagesB.size(), 30);
    EXPECT_LT(pagesA.size(), 30);
    // At most the page A was writing when B took over comes after B's first.
    ASSERT_FALSE(pagesB.isEmpty());
    EXPECT_LE(std::count_if(pagesA.begin(), pagesA.end(),
                            [&](const QString& p) { return Number(p) > Number(pagesB.first()); }),
              1)
        << pagesA.join(' ').toStdString() << " / " << pagesB.join(' ').toStdString();
    ExpectWhole(pagesA + pagesB);
    EXPECT_TRUE(ReadAll(Server("NetLock.CTL")).startsWith("0\r\n"));
}

TEST_F(SmbBatch, AnAddKilledWhileTheOtherWorkstationWritesIsMendedWithNothingLost)
{
    MakeSharedCategory("Cat");
    const unsigned seed = qEnvironmentVariableIsSet("TOLVANE_SMB_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("TOLVANE_SMB_SEED"))
                              : std::random_device{}();
    const int kills = qEnvironmentVariableIsSet("TOLVANE_SMB_KILLS") ? qEnvironmentVariableIntValue("TOLVANE_SMB_KILLS")
                                                                     : 4;
    std::mt19937 random(seed);

    // How long A's run takes here: the kill falls anywhere in it.
    QElapsedTimer timer;
    timer.start();
    const Outcome timing = Batch(Cmd(W::A, "add", "Cat", Inputs()), Rig().Env(W::A));
    ASSERT_TRUE(Succeeded(timing));
    const qint64 wholeRunUs = timer.nsecsElapsed() / 1000;
    std::printf("kill test: seed %u, %d kills within %lld ms\n", seed, kills,
                static_cast<long long>(wholeRunUs / 1000));
    std::uniform_int_distribution<qint64> when(0, wholeRunUs * 11 / 10);

    QStringList reported = Pages(timing.out);
    int midway = 0;
    for (int round = 0; round < kills; ++round) {
        SCOPED_TRACE(QStringLiteral("kill %1 of seed %2").arg(round).arg(seed).toStdString());
        auto other = StartAdd(W::B, Inputs(2));
        auto killed = StartAdd(W::A, Inputs());
        QThread::usleep(static_cast<unsigned long>(when(random)));
        midway += killed->state() == QProcess::Running;
        killed->kill();
        const Outcome a = Finish(*killed);
        const Outcome b = Finish(*other);
        EXPECT_EQ(b.exitCode, 0) << b.err.constData();
        // What A reported before it died is filed, too.
        reported << Pages(a.out) << Pages(b.out);

        const Outcome repair = Batch(Cmd(W::A, "check", "Cat", {"--repair"}), Rig().Env(W::A));
        EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == 1) << repair.out.constData() << repair.err.constData();
        for (const QByteArray& line : repair.out.split('\n'))
            EXPECT_TRUE(line.isEmpty() || line.contains("; mended: ")) << line.constData();
        ExpectWhole(reported);
        if (HasFailure())
            break;
    }
    std::printf("kill test: %d of %d kills hit a run in progress\n", midway, kills);
}

TEST_F(SmbBatch, AWorkstationWhoseClockIsAheadBreaksNoLiveGuard)
{
    MakeSharedCategory("Cat");
    // B's clock a minute ahead: by it, every guard A holds looks older than
    // a stale one.
    QProcessEnvironment ahead = Rig().Env(W::B);
    if (!SmbRig::OffClock(ahead, "+60s"))
        GTEST_SKIP() << "libfaketime is not installed (apt-get install faketime)";
    const auto [a, b] = SideBySide(5, 5, Rig().Env(W::A), ahead);
    for (const auto* runs : {&a, &b})
        for (const Outcome& run : *runs)
            EXPECT_TRUE(Succeeded(run));
    const QStringList reported = Pages(a) + Pages(b);
    EXPECT_EQ(reported.size(), 2 * 5 * 3);
    EXPECT_EQ(Listed().size(), reported.size());
    ExpectWhole(reported);
}

// The window shows the category; pages come from tolvane-batch on the other
// workstation, before and while the window files its own: none is dropped.
TEST_F(SmbBatch, TheWindowBesideAnAddOnTheOtherWorkstationDropsNoPage)
{
    MakeSharedCategory("Cat");
    QStringList reported = Pages(Batch(Cmd(W::B, "add", "Cat", Inputs()), Rig().Env(W::B)).out);
    Window window(*this, W::A);
    ASSERT_EQ(window.Now().pages, 3);
    ASSERT_TRUE(window.Now().writable);

    // Three more from B, unseen by the window; then it imports one.
    reported << Pages(Batch(Cmd(W::B, "add", "Cat", Inputs()), Rig().Env(W::B)).out);
    EXPECT_EQ(window.Do("import " + Inputs().first()).pages, 7);
    EXPECT_TRUE(window.Now().messages.isEmpty()) << window.Now().messages.join('|').toStdString();
    EXPECT_EQ(Listed().size(), 7);

    // B's pages seen when the window comes back to the front.
    reported << Pages(Batch(Cmd(W::B, "add", "Cat", Inputs()), Rig().Env(W::B)).out);
    EXPECT_EQ(window.Do("activate").pages, 10);

    // Side by side: an add of nine pages on B while the window files three.
    auto add = StartAdd(W::B, Inputs(3));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(window.Do("import " + Inputs()[i]).messages.isEmpty()) << window.Now().messages.join('|').toStdString();
    const Outcome b = Finish(*add);
    EXPECT_TRUE(Succeeded(b));
    reported << Pages(b.out);
    EXPECT_EQ(reported.size(), 18);
    EXPECT_EQ(Listed().size(), 18 + 4);
    EXPECT_EQ(window.Do("activate").pages, 22);
    ExpectWhole(reported);
}

// Two windows on a shared archive hand the lock over: what A filed stays
// when B, which showed the category all along, files its first page; a
// takeover by A turns B read-only at its next write, with nothing written.
TEST_F(SmbBatch, TwoWindowsHandTheLockOverAndKeepEachOthersPages)
{
    MakeSharedCategory("Cat");
    ShareArchive();
    Window a(*this, W::A), b(*this, W::B);
    ASSERT_EQ(a.Now().pages, 0);
    ASSERT_FALSE(b.Now().writable);

    ASSERT_TRUE(a.Do("lock").held);
    EXPECT_FALSE(b.Do("lock").held);  // asked whether to force; not forced
    EXPECT_EQ(b.Now().messages.size(), 1);
    EXPECT_EQ(a.Do("import " + Inputs()[0]).pages, 1);
    EXPECT_EQ(a.Do("import " + Inputs()[1]).pages, 2);
    EXPECT_FALSE(a.Do("lock").held);  // given back
    EXPECT_TRUE(ReadAll(Server("NetLock.CTL")).startsWith("0\r\n"));

    EXPECT_EQ(b.Now().pages, 0);  // shown since before A filed
    ASSERT_TRUE(b.Do("lock").held);
    EXPECT_EQ(b.Now().pages, 2);
    EXPECT_EQ(b.Do("import " + Inputs()[2]).pages, 3);
    EXPECT_EQ(Listed().size(), 3);

    // A forces the lock; B's next import writes nothing and says who has it.
    ASSERT_TRUE(a.Do("force").held);
    const auto& late = b.Do("import " + Inputs()[0]);
    EXPECT_FALSE(late.writable);
    EXPECT_FALSE(late.held);
    EXPECT_EQ(late.messages, QStringList{QString(kLockLostMessage)});
    EXPECT_EQ(Listed().size(), 3);
    EXPECT_EQ(a.Do("import " + Inputs()[0]).pages, 4);
    EXPECT_FALSE(a.Do("lock").held);
    ExpectWhole({});
}

}  // namespace
