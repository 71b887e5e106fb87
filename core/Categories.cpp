// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Categories.h"

#include "core/ArchiveFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const char* const kSubFolders[] = {"Image", "Thumb", "Text"};

// rename() that refuses to replace an existing target. Linux's rename()
// silently replaces an empty directory; renameat2 with RENAME_NOREPLACE does
// not. File systems without it (some network ones) fall back to a check
// first.
bool RenameNoReplace(const QString& from, const QString& to)
{
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), kNoReplace) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        errno = EEXIST;
        return false;
    }
    return ::rename(a.constData(), b.constData()) == 0;
}

bool HasFileWithSuffix(const QString& folder, const QStringList& suffixes)
{
    QDir dir(folder);
    if (!dir.exists())
        return false;
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString& n : names)
        for (const QString& suffix : suffixes)
            if (n.endsWith(suffix, Qt::CaseInsensitive))
                return true;
    return false;
}

void RemoveAtomicWriteLeftovers(const QString& folder)
{
    QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString& n : names)
        if (IsAtomicWriteLeftover(n))
            dir.remove(n);
}

}  // namespace

const QString kProgramFolderMarker = QStringLiteral(".tolvane-program-files");

QStringList ListCategoryNames(const QString& archiveRoot)
{
    QStringList names = QDir(archiveRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    // The lock file's name stays the lock's, whatever stands there.
    names.removeIf([](const QString& n) { return n.compare(QLatin1String("NetLock.CTL"), Qt::CaseInsensitive) == 0; });
    // The program's own folders beside the categories (the desktop files,
    // the manual's pictures) carry a marker; only their names are looked at
    // twice, so a large archive on a network drive costs no more to list.
    const QDir root(archiveRoot);
    names.removeIf([&root](const QString& n) {
        return (n == QLatin1String("share") || n == QLatin1String("manual"))
               && QFileInfo::exists(root.filePath(n + u'/' + kProgramFolderMarker));
    });
    return names;
}

bool IsSafeCategoryName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

bool CreateCategoryFolder(const QString& archiveRoot, const QString& name, IoError* error)
{
    auto failWith = [&](int code) {
        if (error)
            *error = IoErrorFromErrno(code);
        return false;
    };
    if (!IsSafeCategoryName(name))
        return failWith(EINVAL);
    QDir root(archiveRoot);
    if (!root.exists())
        return failWith(ENOENT);
    if (::mkdir(QFile::encodeName(root.filePath(name)).constData(), 0777) != 0)
        return failWith(errno);
    QDir category(root.filePath(name));
    for (const char* sub : kSubFolders)
        category.mkdir(QLatin1String(sub));
    return true;
}

bool RenameCategoryFolder(const QString& folder, const QString& archiveRoot, const QString& newName, IoError* error)
{
    auto failWith = [&](int code) {
        if (error)
            *error = IoErrorFromErrno(code);
        return false;
    };
    if (!IsSafeCategoryName(newName) || folder.isEmpty())
        return failWith(EINVAL);
    const QString target = QDir(archiveRoot).filePath(newName);
    if (QFileInfo(folder).absoluteFilePath() == QFileInfo(target).absoluteFilePath())
        return QFileInfo(folder).isDir() || failWith(ENOENT);
    return RenameNoReplace(folder, target) || failWith(errno);
}

DeleteCategoryResult DeleteCategoryFolder(const QString& folder)
{
    const QString image = ResolveExistingPath(folder + QStringLiteral("/Image"));
    const QString thumb = ResolveExistingPath(folder + QStringLiteral("/Thumb"));
    const QString text = ResolveExistingPath(folder + QStringLiteral("/Text"));
    if (HasFileWithSuffix(image, {QStringLiteral(".jpg"), QStringLiteral(".tif"), QStringLiteral(".bmp")})
        || HasFileWithSuffix(thumb, {QStringLiteral(".jpg")}) || HasFileWithSuffix(text, {QStringLiteral(".txt")}))
        return DeleteCategoryResult::PagesRemain;

    QFile::remove(ResolveExistingPath(folder + QStringLiteral("/FileList.txt")));
    // What interrupted writes left behind goes with the category.
    for (const QString& f : {folder, image, thumb, text})
        RemoveAtomicWriteLeftovers(f);

    QDir parent;
    for (const QString& sub : {image, thumb, text}) {
        const QFileInfo info(sub);
        if (!info.exists() && !info.isSymLink())
            continue;
        if (!info.isDir() || info.isSymLink() || !parent.rmdir(sub))
            return DeleteCategoryResult::CannotRemove;
    }
    if (!parent.rmdir(folder))
        return DeleteCategoryResult::CannotRemove;
    return DeleteCategoryResult::Deleted;
}

bool CategoryStaysInside(const QString& folder, const QString& archiveRoot)
{
    if (!ResolvesInside(folder, archiveRoot))
        return false;
    for (const char* sub : {"/Image", "/Thumb", "/Text", "/Words"})
        if (!ResolvesInside(ResolveExistingPath(folder + QLatin1String(sub)), archiveRoot))
            return false;
    return true;
}
