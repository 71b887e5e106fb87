// SPDX-License-Identifier: GPL-3.0-or-later
// What the archive's writers count on from a network drive, seen from two
// workstations (the rig's two mounts of one share): exclusive creation,
// replacing rename, names without letter case, no links, whole files after
// close, and times kept by the file server's clock.

#include "tests/smb/SmbRig.h"
#include <QThread>
#include <QDeadlineTimer>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

namespace {

using W = SmbRig::Workstation;

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// open(2) with O_CREAT | O_EXCL: 0 when it made the file, else errno.
int CreateExclusive(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

std::string Errno(int code)
{
    return code == 0 ? "success" : std::strerror(code);
}

class SmbProbe : public SmbTest {};

TEST_F(SmbProbe, AnExclusiveCreateFailsWhenTheOtherWorkstationMadeTheFile)
{
    // The second name in another letter case: the same file on this drive.
    const struct {
        const char* first;
        const char* second;
    } cases[] = {{"guard.lock", "guard.lock"}, {"Other.lock", "oTHER.LOCK"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        ASSERT_EQ(CreateExclusive(On(W::A, c.first)), 0);
        EXPECT_EQ(Errno(CreateExclusive(On(W::B, c.second))), Errno(EEXIST));
        EXPECT_EQ(Errno(CreateExclusive(On(W::A, c.second))), Errno(EEXIST));
        // B's attempt truncated nothing and made no second file.
        EXPECT_EQ(QDir(OnServer(QString())).entryList({QString::fromLatin1(c.first)}, QDir::Files).size(), 1);
    }
}

TEST_F(SmbProbe, OfTwoWorkstationsCreatingOneFileAtOnceOneWins)
{
    // Both let go together, round after round: the server decides, so
    // exactly one create succeeds however the two meet.
    constexpr int kRounds = 100;
    std::atomic<int> round{-1}, answered{0};
    int result[2][kRounds] = {};
    const auto racer = [&](W w) {
        for (int i = 0; i < kRounds; ++i) {
            while (round.load() < i)
                std::this_thread::yield();
            result[w][i] = CreateExclusive(On(w, QStringLiteral("race%1.lock").arg(i)));
            ++answered;
        }
    };
    std::thread a(racer, W::A), b(racer, W::B);
    for (int i = 0; i < kRounds; ++i) {
        round.store(i);
        while (answered.load() < 2 * (i + 1))
            std::this_thread::yield();
    }
    a.join();
    b.join();
    for (int i = 0; i < kRounds; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((result[W::A][i] == 0) + (result[W::B][i] == 0), 1)
            << Errno(result[W::A][i]) << " / " << Errno(result[W::B][i]);
        for (int w : {W::A, W::B})
            EXPECT_TRUE(result[w][i] == 0 || result[w][i] == EEXIST) << Errno(result[w][i]);
    }
}

TEST_F(SmbProbe, RenameReplacesAFileTheOtherWorkstationMade)
{
    Write(On(W::A, "FileList.txt"), "old\r\n");
    Write(On(W::A, "FileList.txt.tmp"), "new, longer\r\n");
    ASSERT_EQ(::rename(QFile::encodeName(On(W::B, "FileList.txt.tmp")).constData(),
                       QFile::encodeName(On(W::B, "FileList.txt")).constData()),
              0)
        << std::strerror(errno);
    EXPECT_EQ(Read(On(W::A, "FileList.txt")), "new, longer\r\n");
    EXPECT_FALSE(QFileInfo::exists(On(W::A, "FileList.txt.tmp")));
    EXPECT_EQ(QDir(OnServer(QString())).entryList(QDir::Files), QStringList{"FileList.txt"});
}

TEST_F(SmbProbe, AFileOpenAnywhereIsNeitherRemovedNorRenamed)
{
    // libsmbclient opens files without delete sharing, as most Windows
    // programs do: while any workstation (the writer itself too) has a file
    // open, it cannot be removed or renamed. And rename over an existing
    // file is a removal of the target and then a rename: when the second
    // step is refused, the target is gone.
    const QString list = "FileList.txt", temporary = "FileList.txt.tmp";
    const struct {
        const char* what;
        QString held;
        W holder;
        QString from, to;  // to empty: unlink(from)
        int expected;
        bool listAfter;  // FileList.txt still there
    } cases[] = {
        {"remove, open on the other", list, W::B, list, QString(), EBUSY, true},
        {"remove, open on the same", list, W::A, list, QString(), EBUSY, true},
        {"rename away, open on the other", list, W::B, list, "Moved.txt", EBUSY, true},
        {"rename over it, open on the other", list, W::B, temporary, list, EEXIST, true},
        {"rename over, the new file open on the other", temporary, W::B, temporary, list, EBUSY, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(On(W::A, list), "old\r\n");
        Write(On(W::A, temporary), "new\r\n");
        const auto step = [&] {
            const QByteArray from = QFile::encodeName(On(W::A, c.from));
            return c.to.isEmpty() ? ::unlink(from.constData())
                                  : ::rename(from.constData(), QFile::encodeName(On(W::A, c.to)).constData());
        };
        const int fd = ::open(QFile::encodeName(On(c.holder, c.held)).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        errno = 0;
        EXPECT_EQ(step(), -1);
        EXPECT_EQ(Errno(errno), Errno(c.expected));
        ::close(fd);
        EXPECT_EQ(QFileInfo::exists(OnServer(list)), c.listAfter);
        EXPECT_EQ(QFileInfo::exists(OnServer(c.from)), true);
        // Closed, it is done: once the close has reached the server, which
        // may take a moment (the program retries for 3 s as well).
        int done = step();
        for (QDeadlineTimer deadline(3000); done != 0 && (errno == EBUSY || errno == EEXIST) && !deadline.hasExpired();
             done = step())
            QThread::msleep(10);
        EXPECT_EQ(done, 0) << std::strerror(errno);
        QFile::remove(OnServer(list));
        QFile::remove(OnServer(temporary));
        QFile::remove(OnServer("Moved.txt"));
    }
}

TEST_F(SmbProbe, NamesAreOneFileInAnyLetterCaseAndKeepTheirOwn)
{
    Write(On(W::A, "a.TXT"), "made as a.TXT");
    EXPECT_EQ(Read(On(W::B, "A.txt")), "made as a.TXT");
    EXPECT_TRUE(QFileInfo(On(W::B, "A.TXT")).isFile());
    // Listed, on the drive and on the server's disk, as it was made.
    EXPECT_EQ(QDir(On(W::B, QString())).entryList(QDir::Files), QStringList{"a.TXT"});
    EXPECT_EQ(QDir(OnServer(QString())).entryList(QDir::Files), QStringList{"a.TXT"});
}

TEST_F(SmbProbe, LinksAreRefused)
{
    Write(On(W::A, "page.jpg"), "page");
    const QByteArray target = QFile::encodeName(On(W::A, "page.jpg"));
    const struct {
        const char* what;
        std::function<int(const QByteArray&)> make;
        int expected;  // what smbnetfs answers
    } cases[] = {
        {"link", [&](const QByteArray& at) { return ::link(target.constData(), at.constData()); }, EPERM},
        {"symlink", [&](const QByteArray& at) { return ::symlink("page.jpg", at.constData()); }, ENOSYS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        errno = 0;
        EXPECT_EQ(c.make(QFile::encodeName(On(W::A, c.what))), -1);
        EXPECT_EQ(Errno(errno), Errno(c.expected));
        EXPECT_FALSE(QFileInfo::exists(OnServer(c.what)));
    }
}

TEST_F(SmbProbe, RenameWithoutReplacingCannotBeAskedFor)
{
    // smbnetfs takes no rename flags: EINVAL where the target is missing.
    // Where it exists the kernel answers EEXIST before asking smbnetfs.
    Write(On(W::A, "Other.jpg"), "other");
    const struct {
        const char* target;
        int expected;
    } cases[] = {{"New.jpg", EINVAL}, {"Other.jpg", EEXIST}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        Write(On(W::A, "From.jpg"), "from");
        errno = 0;
        EXPECT_EQ(::renameat2(AT_FDCWD, QFile::encodeName(On(W::B, "From.jpg")).constData(), AT_FDCWD,
                              QFile::encodeName(On(W::B, c.target)).constData(), RENAME_NOREPLACE),
                  -1);
        EXPECT_EQ(Errno(errno), Errno(c.expected));
        EXPECT_EQ(Read(OnServer("From.jpg")), "from");
    }
    EXPECT_FALSE(QFileInfo::exists(OnServer("New.jpg")));
    EXPECT_EQ(Read(OnServer("Other.jpg")), "other");
}

TEST_F(SmbProbe, AFileWrittenOnOneWorkstationIsReadWholeOnTheOther)
{
    // Larger than smbnetfs's read and write blocks, then rewritten shorter
    // in place and replaced by rename: the other side never sees the old
    // bytes.
    QByteArray big(3 * 1024 * 1024 + 17, 'z');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
    Write(On(W::A, "page.jpg"), big);
    EXPECT_TRUE(Read(On(W::B, "page.jpg")) == big);
    EXPECT_EQ(QFileInfo(On(W::B, "page.jpg")).size(), big.size());

    Write(On(W::A, "page.jpg"), "short");
    EXPECT_EQ(Read(On(W::B, "page.jpg")), "short");
    EXPECT_EQ(QFileInfo(On(W::B, "page.jpg")).size(), 5);

    Write(On(W::A, "page.tmp"), "replaced");
    ASSERT_EQ(::rename(QFile::encodeName(On(W::A, "page.tmp")).constData(),
                       QFile::encodeName(On(W::A, "page.jpg")).constData()),
              0);
    EXPECT_EQ(Read(On(W::B, "page.jpg")), "replaced");
}

TEST_F(SmbProbe, ANewFileTakesTheServersTimeNotTheWritersClock)
{
    // The writer's clock an hour ahead; the server's is the machine's.
    QProcessEnvironment env = Rig().Env(W::B);
    if (!SmbRig::OffClock(env, "+3600s"))
        GTEST_SKIP() << "libfaketime is not installed (apt-get install faketime)";
    QProcess writer;
    writer.setProcessEnvironment(env);
    const QString path = On(W::B, "probe.tmp");
    const QDateTime before = QDateTime::currentDateTimeUtc();
    writer.start("/bin/sh", {"-c", "date -u +%s; printf x > \"$0\"", path});
    ASSERT_TRUE(writer.waitForFinished(30000));
    const QDateTime after = QDateTime::currentDateTimeUtc();
    ASSERT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().constData();
    // The clock really was put off.
    const qint64 writersNow = writer.readAllStandardOutput().trimmed().toLongLong();
    ASSERT_GE(writersNow, before.toSecsSinceEpoch() + 3500);

    for (const QString& seen : {On(W::A, "probe.tmp"), path, OnServer("probe.tmp")}) {
        SCOPED_TRACE(seen.toStdString());
        const QDateTime mtime = QFileInfo(seen).lastModified().toUTC();
        EXPECT_GE(mtime, before.addSecs(-2));
        EXPECT_LE(mtime, after.addSecs(2));
    }
}

}  // namespace
