// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace {

QString GuardFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return runtime;
    return QDir::tempPath();
}

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& name)
{
    // The temp folder is shared by all users: keep one guard per user there.
    const QString folder = GuardFolder();
    const QString file = folder == QDir::tempPath() ? QStringLiteral("%1-%2.lock").arg(name).arg(getuid())
                                                   : name + QStringLiteral(".lock");
    path_ = QDir(folder).filePath(file);
    lock_ = std::make_unique<QLockFile>(path_);
    // Never treat a live holder's lock as stale because of its age; a dead
    // holder is recognised by its process id.
    lock_->setStaleLockTime(0);
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::Acquire()
{
    return lock_->tryLock(0);
}

void SingleInstanceGuard::Release()
{
    lock_->unlock();
}
