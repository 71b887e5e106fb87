// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/WriteGuard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> defaultWaitMs{5000};

// How often a holder writes its guard again; well inside kStaleGuardSeconds.
constexpr int kRefreshMs = 5000;

QString UserName()
{
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::geteuid());
}

QString CleanField(QString text)
{
    text.replace(u'\t', u' ');
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

struct Seen {
    QByteArray content;
    struct timespec mtime {};
    bool exists = false;
};

Seen Look(const QByteArray& native)
{
    Seen seen;
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return seen;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        seen.exists = true;
        seen.mtime = st.st_mtim;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            seen.content = QByteArray(buffer, int(n));
    } else if (::fstat(fd, &st) == 0) {
        seen.exists = true;  // something that is no file: never stale, never ours
        seen.mtime = st.st_mtim;
        seen.content = QByteArrayLiteral("?");
    }
    ::close(fd);
    return seen;
}

bool SameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QString FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

}  // namespace

QString OwnerToken::Line() const
{
    return CleanField(host) + u'\t' + CleanField(user) + u'\t' + QString::number(pid) + u'\t'
           + since.toUTC().toString(Qt::ISODate) + u'\t' + CleanField(id);
}

std::optional<OwnerToken> OwnerToken::Parse(const QString& line)
{
    QString text = line;
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    const QStringList fields = text.split(u'\t');
    if (fields.size() != 5 || fields.at(0).isEmpty() || fields.at(4).isEmpty())
        return std::nullopt;
    bool ok = false;
    OwnerToken token;
    token.host = fields.at(0);
    token.user = fields.at(1);
    token.pid = fields.at(2).toLongLong(&ok);
    token.since = QDateTime::fromString(fields.at(3), Qt::ISODate);
    token.id = fields.at(4);
    if (!ok || token.pid <= 0 || !token.since.isValid())
        return std::nullopt;
    token.since = token.since.toUTC();
    return token;
}

QString OwnerToken::Describe() const
{
    return QStringLiteral("%1@%2 (process %3, since %4 UTC)")
        .arg(user, host)
        .arg(pid)
        .arg(since.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

OwnerToken NewOwnerToken()
{
    OwnerToken token;
    token.host = QSysInfo::machineHostName();
    if (token.host.isEmpty())
        token.host = QStringLiteral("localhost");
    token.user = UserName();
    token.pid = ::getpid();
    token.since = QDateTime::currentDateTimeUtc();
    token.since.setTime(token.since.time().addMSecs(-token.since.time().msec()));
    token.id = QString::number(QRandomGenerator::system()->generate64(), 36);
    return token;
}

bool OwnerIsGoneHere(const OwnerToken& token)
{
    if (token.host != QSysInfo::machineHostName() || token.pid <= 0)
        return false;
    return ::kill(pid_t(token.pid), 0) != 0 && errno == ESRCH;
}

QDateTime ServerTimeIn(const QString& folder)
{
    const QByteArray probe = QFile::encodeName(folder + u'/' + LeftoverNameFor(QStringLiteral("probe")));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return {};
    const bool written = WriteAll(fd, QByteArrayLiteral("0"));
    ::close(fd);  // the server stamps the file when the write reaches it
    struct stat st {};
    const bool known = written && ::stat(probe.constData(), &st) == 0;
    ::unlink(probe.constData());
    if (!known)
        return {};
    return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

// Writes the holder's token into its guard again every kRefreshMs, so that
// the server stamps it anew and a long hold never looks stale.
struct WriteGuard::Keeper {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;

    Keeper(QByteArray native, QByteArray content)
    {
        thread = std::thread([this, native = std::move(native), content = std::move(content)] {
            std::unique_lock<std::mutex> lock(mutex);
            while (!wake.wait_for(lock, std::chrono::milliseconds(kRefreshMs), [this] { return stop; })) {
                if (Look(native).content != content)
                    return;  // no longer ours: never write over another holder's guard
                const int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
                if (fd < 0 && errno == ENOENT)
                    return;
                if (fd < 0)
                    continue;  // held open elsewhere this moment: the next round
                WriteAll(fd, content);
                ::close(fd);
            }
        });
    }
    ~Keeper()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        thread.join();
    }
};

WriteGuard::WriteGuard() = default;

WriteGuard::~WriteGuard()
{
    Release();
}

WriteGuard::WriteGuard(WriteGuard&& other) noexcept
{
    *this = std::move(other);
}

WriteGuard& WriteGuard::operator=(WriteGuard&& other) noexcept
{
    if (this != &other) {
        Release();
        outcome_ = other.outcome_;
        path_ = std::move(other.path_);
        holder_ = std::move(other.holder_);
        error_ = std::move(other.error_);
        token_ = std::move(other.token_);
        keeper_ = std::move(other.keeper_);
        other.outcome_ = Outcome::Unavailable;
        other.path_.clear();
    }
    return *this;
}

int WriteGuard::DefaultWaitMs()
{
    return defaultWaitMs.load();
}

void WriteGuard::SetDefaultWaitMs(int ms)
{
    defaultWaitMs.store(ms);
}

WriteGuard WriteGuard::Acquire(const QString& path, int waitMs)
{
    WriteGuard guard;
    guard.token_ = NewOwnerToken();
    const QByteArray native = QFile::encodeName(path);
    const QByteArray content = (guard.token_.Line() + u'\n').toUtf8();
    const QString folder = FolderOf(path);
    QDeadlineTimer deadline(std::max(0, waitMs));
    QDeadlineTimer nextProbe(0);
    QDateTime serverNow;
    Seen seen;
    int pauseMs = 2;
    for (;;) {
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            const bool written = WriteAll(fd, content);
            const int code = errno;
            if (::close(fd) != 0 || !written) {
                ::unlink(native.constData());
                guard.error_ = IoErrorFromErrno(written ? EIO : code);
                return guard;
            }
            guard.outcome_ = Outcome::Held;
            guard.path_ = path;
            guard.keeper_ = std::make_unique<Keeper>(native, content);
            return guard;
        }
        if (errno != EEXIST) {
            guard.error_ = IoErrorFromErrno(errno);
            return guard;
        }
        // Looked at by its attributes first, which a file server gives
        // without opening it; read again only when it changed, so that a
        // waiter holds the file open as seldom as it can (an open file
        // cannot be removed on a network drive).
        struct stat st {};
        if (::stat(native.constData(), &st) != 0) {
            if (errno == ENOENT)
                continue;  // given back in between
            guard.error_ = IoErrorFromErrno(errno);
            return guard;
        }
        if (!seen.exists || !SameTime(st.st_mtim, seen.mtime) || qint64(st.st_size) != qint64(seen.content.size()))
            seen = Look(native);
        if (!seen.exists)
            continue;
        const std::optional<OwnerToken> holder = OwnerToken::Parse(QString::fromUtf8(seen.content));
        guard.holder_ = holder ? holder->Describe() : QString();

        bool stale = holder && OwnerIsGoneHere(*holder);
        if (!stale) {
            if (nextProbe.hasExpired()) {
                serverNow = ServerTimeIn(folder);
                nextProbe.setRemainingTime(1000);
            }
            const QDateTime modified = QDateTime::fromMSecsSinceEpoch(
                qint64(seen.mtime.tv_sec) * 1000 + seen.mtime.tv_nsec / 1000000, Qt::UTC);
            // A guard without a token was left between its creation and its
            // first write (its writer killed there): no writer takes longer.
            const int limit = holder ? kStaleGuardSeconds : kUnwrittenGuardSeconds;
            stale = serverNow.isValid() && modified.secsTo(serverNow) > limit;
        }
        if (stale) {
            // Renamed aside first: only the file judged stale is deleted, and
            // a guard someone took meanwhile is put back.
            const QString asidePath = folder + u'/' + LeftoverNameFor(QStringLiteral("guard"));
            const QByteArray aside = QFile::encodeName(asidePath);
            if (RenameFileRetrying(path, asidePath)) {
                const Seen moved = Look(aside);
                if (moved.content == seen.content && SameTime(moved.mtime, seen.mtime)) {
                    RemoveFileRetrying(asidePath);
                } else if (::access(native.constData(), F_OK) != 0) {
                    RenameFileRetrying(asidePath, path);
                } else {
                    RemoveFileRetrying(asidePath);  // both taken at once: the newer one holds
                }
                seen = Seen{};
                continue;
            }
            // Another waiter is looking at it or broke it first: a pause, then again.
        }
        if (deadline.hasExpired()) {
            guard.outcome_ = Outcome::Busy;
            return guard;
        }
        QThread::msleep(unsigned(std::min<qint64>(pauseMs, std::max<qint64>(1, deadline.remainingTime()))));
        pauseMs = std::min(pauseMs * 2, 50);
    }
}

bool WriteGuard::StillHeld() const
{
    if (!Held())
        return false;
    return Look(QFile::encodeName(path_)).content == (token_.Line() + u'\n').toUtf8();
}

void WriteGuard::Release()
{
    keeper_.reset();
    if (outcome_ == Outcome::Held && !path_.isEmpty()) {
        const QByteArray native = QFile::encodeName(path_);
        if (Look(native).content == (token_.Line() + u'\n').toUtf8())
            RemoveFileRetrying(path_);
    }
    outcome_ = Outcome::Unavailable;
    path_.clear();
}

QString PageListGuardPath(const QString& categoryFolder)
{
    return ResolveExistingPath(categoryFolder) + QStringLiteral("/FileList.txt.lock");
}

bool IsGuardFileName(const QString& fileName)
{
    return fileName.compare(QLatin1String("FileList.txt.lock"), Qt::CaseInsensitive) == 0
           || fileName.compare(QLatin1String("NetLock.CTL.lock"), Qt::CaseInsensitive) == 0;
}
