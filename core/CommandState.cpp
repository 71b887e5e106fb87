// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/CommandState.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// 1: created (and removed again), 0: the name is taken, -1: cannot write.
int ProbeWith(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EEXIST ? 0 : -1;
    ::close(fd);
    ::unlink(native.constData());
    return 1;
}

}  // namespace

bool ProbeFolderWritable(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QDir dir(folder);
    int r = ProbeWith(dir.filePath(QStringLiteral("test.txt")));
    // A test.txt of somebody else's stays as it is: probe under another name.
    for (int i = 0; r == 0 && i < 100; ++i)
        r = ProbeWith(dir.filePath(QStringLiteral("test%1-%2.txt").arg(::getpid()).arg(i)));
    return r == 1;
}
