#include "core/ArchiveSession.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

const QString kCannotSaveMessage = QStringLiteral("ファイルを保存できません");

namespace {

struct Kept {
    QString target;                    // the file as it is named on disk
    std::optional<QByteArray> before;  // its content before, when it existed
};

void PutBack(const std::vector<Kept>& kept, std::size_t count)
{
    for (std::size_t i = count; i-- > 0;) {
        if (kept[i].before)
            WriteFileAtomically(kept[i].target, *kept[i].before);
        else
            QFile::remove(kept[i].target);
    }
}

PageResult Failed(const IoError& error)
{
    PageResult r;
    r.message = kCannotSaveMessage;
    r.error = error;
    return r;
}

}  // namespace

bool WriteFilesWithRollback(const std::vector<FileWrite>& files, IoError* error, QString* failedPath)
{
    std::vector<Kept> kept;
    kept.reserve(files.size());
    for (const FileWrite& f : files) {
        Kept k;
        k.target = ResolvePathForWrite(f.path);
        const QFileInfo info(k.target);
        if (info.exists() && info.isFile()) {
            k.before = ReadWholeFile(k.target);
            if (!k.before) {
                if (error)
                    *error = IoErrorFromErrno(EACCES);
                if (failedPath)
                    *failedPath = f.path;
                return false;
            }
        }
        kept.push_back(std::move(k));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!WriteFileAtomically(kept[i].target, files[i].bytes, error)) {
            if (failedPath)
                *failedPath = files[i].path;
            PutBack(kept, i);
            return false;
        }
    }
    return true;
}

void ArchiveSession::SelectCategory(const QString& folder)
{
    CurrentFolder = folder;
    LoadPageList(Pages, CurrentFolder);
    Grid.ClearMarks();
    Grid.P = Pages.Count();
    Grid.T = 0;
    Grid.K = -1;
}

PageResult ArchiveSession::StoreNewPage(const QByteArray& pageBytes, const QString& extension,
                                        const QByteArray& thumbBytes)
{
    if (!HasCategory())
        return Failed(IoErrorFromErrno(ENOENT));
    const PageList before = Pages;
    const QString number = IssuePageNumber(Pages, CurrentFolder);
    if (number.isEmpty())
        return Failed(IoErrorFromErrno(EOVERFLOW));

    IoError error;
    const QString imagePath = CurrentFolder + QStringLiteral("/Image/") + number + extension;
    // The page image alone first: when it cannot be written the number stays
    // used in memory, as the header says.
    if (!WriteFileAtomically(ResolvePathForWrite(imagePath), pageBytes, &error))
        return Failed(error);
    const std::vector<FileWrite> rest = {
        {CurrentFolder + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg"), thumbBytes},
        {CurrentFolder + QStringLiteral("/Text/") + number + QStringLiteral(".txt"), QByteArrayLiteral("\r\n")},
    };
    auto undo = [&] {
        QFile::remove(ResolvePathForWrite(imagePath));
        Pages = before;
    };
    if (!WriteFilesWithRollback(rest, &error)) {
        undo();
        return Failed(error);
    }
    AppendPageEntry(Pages, number, extension);
    if (!SavePageList(Pages, CurrentFolder, &error)) {
        for (const FileWrite& f : rest)
            QFile::remove(ResolvePathForWrite(f.path));
        undo();
        return Failed(error);
    }
    Grid.P = Pages.Count();
    Grid.K = Grid.P - 1;
    Grid.T = LastFourStart(Grid.P);
    PageResult done;
    done.ok = true;
    return done;
}

PageResult ArchiveSession::ReplacePageFiles(int index, const QByteArray& pageBytes, const QByteArray& thumbBytes)
{
    const QString image = ImagePath(CurrentFolder, Pages, index);
    const QString thumb = ThumbPath(CurrentFolder, Pages, index);
    if (image.isEmpty() || thumb.isEmpty())
        return Failed(IoErrorFromErrno(ENOENT));
    IoError error;
    if (!WriteFilesWithRollback({{image, pageBytes}, {thumb, thumbBytes}}, &error))
        return Failed(error);
    PageResult done;
    done.ok = true;
    return done;
}
