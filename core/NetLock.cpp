#include "core/NetLock.h"

#include "core/ArchiveFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray kTaken = QByteArrayLiteral("1\r\n");
const QByteArray kFree = QByteArrayLiteral("0\r\n");

// A guard left by a workstation that died between taking and releasing it
// is removed after this long; taking the lock itself takes milliseconds.
constexpr qint64 kStaleGuardMs = 10000;
// How long to wait for another workstation's guard before giving up.
constexpr int kGuardWaitMs = 3000;

QString GuardPath(const QString& folder)
{
    return NetLockPath(folder) + QStringLiteral(".lock");
}

enum class Guard { Held, Busy, Unavailable };

Guard AcquireGuard(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    QDeadlineTimer deadline(kGuardWaitMs);
    for (;;) {
        const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return Guard::Held;
        }
        if (errno != EEXIST)
            return Guard::Unavailable;
        const QFileInfo info(path);
        const QDateTime modified = info.lastModified();
        if (modified.isValid() && qAbs(modified.msecsTo(QDateTime::currentDateTime())) > kStaleGuardMs) {
            ::unlink(native.constData());
            continue;
        }
        if (deadline.hasExpired())
            return Guard::Busy;
        QThread::msleep(10);
    }
}

}  // namespace

QString NetLockPath(const QString& folder)
{
    return ResolveExistingPath(QDir(folder).filePath(QLatin1String(kNetLockFileName)));
}

bool IsArchiveShared(const QString& folder)
{
    return QFileInfo::exists(NetLockPath(folder));
}

bool EnableSharing(const QString& folder)
{
    return WriteFileAtomically(NetLockPath(folder), kFree);
}

bool DisableSharing(const QString& folder)
{
    const QString path = NetLockPath(folder);
    return !QFileInfo::exists(path) || QFile::remove(path);
}

LockState ReadLockState(const QString& folder)
{
    const QString path = NetLockPath(folder);
    if (!QFileInfo(path).isFile())
        return LockState::Unreadable;  // a pipe or device would never answer
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return LockState::Unreadable;
    char c[2] = {0, 0};
    const qint64 n = f.read(c, 2);
    if (n < 1)
        return LockState::Unreadable;
    if (c[0] == '1')
        return LockState::Taken;
    if (c[0] == '0')
        return LockState::Free;
    return LockState::Unreadable;
}

TakeAttempt TryTakeLock(const QString& folder)
{
    TakeAttempt attempt;
    const QString guard = GuardPath(folder);
    const Guard g = AcquireGuard(guard);
    if (g == Guard::Busy) {
        // Another workstation is taking it at this very moment.
        attempt.before = LockState::Taken;
        return attempt;
    }
    attempt.before = ReadLockState(folder);
    if (attempt.before == LockState::Free)
        attempt.taken = TakeLock(folder);
    if (g == Guard::Held)
        QFile::remove(guard);
    return attempt;
}

bool TakeLock(const QString& folder)
{
    return WriteFileAtomically(NetLockPath(folder), kTaken);
}

bool ReleaseLock(const QString& folder)
{
    return WriteFileAtomically(NetLockPath(folder), kFree);
}

LockTaking TakeWriteLock(const QString& folder, const std::function<bool()>& forceWhenTaken)
{
    const TakeAttempt attempt = TryTakeLock(folder);
    if (attempt.taken)
        return LockTaking::Taken;
    if (attempt.before == LockState::Free)
        return LockTaking::NotWritten;  // free, but this workstation cannot write the file
    if (!forceWhenTaken || !forceWhenTaken())
        return LockTaking::Refused;
    return TakeLock(folder) ? LockTaking::TakenOver : LockTaking::NotWritten;
}
