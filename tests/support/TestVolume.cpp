// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TestVolume.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for the files a test lays out; a full volume is filled past it.
constexpr const char* kMountOptions = "size=512k,nr_inodes=64,mode=0755";
constexpr const char* kRemountOptions = "size=512k,nr_inodes=64";
constexpr const char* kFillerName = ".tolvane-test-filler";

QString Errno(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool Writable(const QByteArray& path)
{
    return ::access(path.constData(), W_OK) == 0;
}

}  // namespace

TestVolume::TestVolume(const QString& folder, Kind kind) : folder_(folder), kind_(kind)
{
    if (!QDir().mkpath(folder_)) {
        unavailable_ = QStringLiteral("cannot make the folder ") + folder_;
        return;
    }
    if (::geteuid() != 0) {
        if (kind_ == Full)
            unavailable_ = QStringLiteral("a full disk is made by mounting a small tmpfs, which needs root");
        return;  // ReadOnly: the write bits, at Seal()
    }
    const QByteArray path = QFile::encodeName(folder_);
    if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, kMountOptions) != 0) {
        unavailable_ = QStringLiteral("cannot mount a tmpfs on the test folder (%1); as root, permission bits "
                                      "do not stop writes, so this test needs that privilege")
                           .arg(Errno(errno));
        return;
    }
    mounted_ = true;
}

TestVolume::~TestVolume()
{
    Release();
    if (mounted_) {
        const QByteArray path = QFile::encodeName(folder_);
        if (::umount2(path.constData(), 0) != 0)
            ::umount2(path.constData(), MNT_DETACH);
    }
}

bool TestVolume::Seal()
{
    if (!unavailable_.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(folder_);
    if (kind_ == ReadOnly) {
        if (mounted_) {
            if (::mount("tmpfs", path.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                        kRemountOptions)
                != 0) {
                unavailable_ = QStringLiteral("cannot remount the tmpfs read-only: ") + Errno(errno);
                return false;
            }
        } else if (::chmod(path.constData(), 0555) != 0) {
            unavailable_ = QStringLiteral("cannot take the write bits off: ") + Errno(errno);
            return false;
        }
        sealed_ = true;
        if (Writable(path)) {
            unavailable_ = QStringLiteral("the folder stays writable for this user");
            return false;
        }
        return true;
    }

    // Full: one file takes every free block, in large writes and then single
    // bytes, until the volume answers ENOSPC.
    const QByteArray filler = QFile::encodeName(folder_ + u'/' + QLatin1String(kFillerName));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        unavailable_ = QStringLiteral("cannot make the filler file: ") + Errno(errno);
        return false;
    }
    sealed_ = true;
    static const char block[65536] = {};
    int error = 0;
    for (std::size_t chunk : {sizeof block, std::size_t(4096), std::size_t(1)}) {
        for (;;) {
            const ssize_t n = ::write(fd, block, chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
        }
        if (error != ENOSPC)
            break;
    }
    ::close(fd);
    if (error != ENOSPC) {
        unavailable_ = QStringLiteral("filling the tmpfs ended with: ") + Errno(error);
        return false;
    }
    return true;
}

void TestVolume::Release()
{
    if (!sealed_)
        return;
    sealed_ = false;
    const QByteArray path = QFile::encodeName(folder_);
    if (kind_ == Full) {
        ::unlink(QFile::encodeName(folder_ + u'/' + QLatin1String(kFillerName)).constData());
    } else if (mounted_) {
        ::mount("tmpfs", path.constData(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, kRemountOptions);
    } else {
        ::chmod(path.constData(), 0755);
    }
}
