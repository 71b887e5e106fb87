// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/NetLock.h"

#include "core/ArchiveFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray kFree = QByteArrayLiteral("0\r\n");
// How long to wait for another workstation's guard before giving up: taking
// the lock itself takes milliseconds.
constexpr int kGuardWaitMs = 3000;

QString GuardPath(const QString& folder)
{
    return NetLockPath(folder) + QStringLiteral(".lock");
}

QByteArray TakenBy(const OwnerToken& token)
{
    return QByteArrayLiteral("1\r\n") + token.Line().toUtf8() + QByteArrayLiteral("\r\n");
}

std::optional<QByteArray> ReadLockFile(const QString& folder)
{
    const QString path = NetLockPath(folder);
    if (!QFileInfo(path).isFile())
        return std::nullopt;  // a pipe or device would never answer
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.read(4096);
}

}  // namespace

QString NetLockPath(const QString& folder)
{
    return ResolveExistingPath(QDir(folder).filePath(QLatin1String(kNetLockFileName)));
}

bool IsArchiveShared(const QString& folder)
{
    // Anything in the lock file's place makes the archive shared: a link or
    // a folder there leaves it read-only rather than free for all.
    const QFileInfo info(NetLockPath(folder));
    return info.exists() || info.isSymLink();
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
    const std::optional<QByteArray> bytes = ReadLockFile(folder);
    if (!bytes || bytes->isEmpty())
        return LockState::Unreadable;
    if (bytes->at(0) == '1')
        return LockState::Taken;
    if (bytes->at(0) == '0')
        return LockState::Free;
    return LockState::Unreadable;
}

std::optional<OwnerToken> LockHolder(const QString& folder)
{
    const std::optional<QByteArray> bytes = ReadLockFile(folder);
    if (!bytes || !bytes->startsWith('1'))
        return std::nullopt;
    const QStringList lines = SplitTextLines(QString::fromUtf8(*bytes));
    if (lines.size() < 2)
        return std::nullopt;
    return OwnerToken::Parse(lines.at(1));
}

QString LockHolderText(const QString& folder)
{
    const std::optional<OwnerToken> holder = LockHolder(folder);
    return holder ? holder->Describe() : QStringLiteral("another workstation");
}

bool HoldsLock(const QString& folder, const OwnerToken& token)
{
    const std::optional<OwnerToken> holder = LockHolder(folder);
    return holder && *holder == token;
}

TakeAttempt TryTakeLock(const QString& folder, const OwnerToken& token)
{
    TakeAttempt attempt;
    WriteGuard guard = WriteGuard::Acquire(GuardPath(folder), kGuardWaitMs);
    if (guard.Result() == WriteGuard::Outcome::Busy) {
        // Another workstation is taking it at this very moment.
        attempt.before = LockState::Taken;
        attempt.guardBusy = true;
        attempt.guardHolder = guard.Holder();
        return attempt;
    }
    // Without a guard (a read-only folder) the write below fails as well.
    attempt.before = ReadLockState(folder);
    if (attempt.before != LockState::Free)
        return attempt;
    if (!guard.Held()) {
        attempt.error = guard.Error();
        return attempt;
    }
    attempt.taken = WriteFileAtomically(NetLockPath(folder), TakenBy(token), &attempt.error);
    return attempt;
}

bool TakeLock(const QString& folder, const OwnerToken& token, IoError* error)
{
    WriteGuard guard = WriteGuard::Acquire(GuardPath(folder), kGuardWaitMs);
    if (!guard.Held()) {
        if (error)
            *error = guard.Result() == WriteGuard::Outcome::Busy ? IoError{EBUSY, guard.Holder()} : guard.Error();
        return false;
    }
    return WriteFileAtomically(NetLockPath(folder), TakenBy(token), error);
}

GiveBack GiveBackLock(const QString& folder, const OwnerToken& token)
{
    WriteGuard guard = WriteGuard::Acquire(GuardPath(folder), kGuardWaitMs);
    if (!IsArchiveShared(folder))
        return GiveBack::NotShared;
    if (!HoldsLock(folder, token))
        return GiveBack::NotHolder;
    if (!guard.Held())
        return GiveBack::NotWritten;
    return WriteFileAtomically(NetLockPath(folder), kFree) ? GiveBack::GivenBack : GiveBack::NotWritten;
}

LockTaking TakeWriteLock(const QString& folder, const OwnerToken& token, const std::function<bool()>& forceWhenTaken,
                         TakeAttempt* attempt)
{
    TakeAttempt local;
    TakeAttempt& a = attempt ? *attempt : local;
    a = TryTakeLock(folder, token);
    if (a.taken)
        return LockTaking::Taken;
    if (a.before == LockState::Free)
        return LockTaking::NotWritten;  // free, but this workstation cannot write the file
    if (!forceWhenTaken || !forceWhenTaken())
        return LockTaking::Refused;
    return TakeLock(folder, token, &a.error) ? LockTaking::TakenOver : LockTaking::NotWritten;
}
