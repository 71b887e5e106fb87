#include "core/ArchiveSession.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

const QString kCannotSaveMessage = QStringLiteral("ファイルを保存できません");
const QString kSameCategoryMessage = QStringLiteral("移動元と移動先の分類が同じです");
const QString kCopyFailedMessage = QStringLiteral("ファイルのコピーが失敗しました");
const QString kDestinationListMessage = QStringLiteral("移動先のファイルリストを作成できませんでした");

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

PageResult Failed(const IoError& error, const QString& message = kCannotSaveMessage, bool asBox = false)
{
    PageResult r;
    r.message = message;
    r.error = error;
    r.asBox = asBox;
    return r;
}

PageResult Done()
{
    PageResult r;
    r.ok = true;
    return r;
}

// Copies a file byte for byte to `to` (a new file, written atomically).
bool CopyWhole(const QString& from, const QString& to, IoError* error)
{
    const std::optional<QByteArray> bytes = from.isEmpty() ? std::nullopt : ReadWholeFile(from);
    if (!bytes) {
        if (error)
            *error = IoErrorFromErrno(from.isEmpty() || !QFileInfo::exists(ResolveExistingPath(from)) ? ENOENT : EIO);
        return false;
    }
    return WriteFileAtomically(to, *bytes, error);
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

PageResult ArchiveSession::DeletePage(int index)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count())
        return Done();
    const QString files[] = {ImagePath(CurrentFolder, Pages, index), ThumbPath(CurrentFolder, Pages, index),
                             MemoPath(CurrentFolder, Pages, index)};
    PageList after = Pages;
    RemovePageEntry(after, index);
    IoError error;
    if (!SavePageList(after, CurrentFolder, &error))
        return Failed(error);
    Pages = std::move(after);
    // Gone from the list first: a file left by a crash from here on is an
    // orphan the numbering skips, never a line without its page.
    for (const QString& f : files)
        if (!f.isEmpty())
            QFile::remove(ResolveExistingPath(f));
    Grid.P = Pages.Count();
    Grid.K = -1;
    return Done();
}

PageResult ArchiveSession::WriteReordered(const PageList& reordered, int newK, int newT)
{
    IoError error;
    if (!SavePageList(reordered, CurrentFolder, &error))
        return Failed(error);
    Pages = reordered;
    Grid.K = newK;
    Grid.T = newT;
    return Done();
}

PageResult ArchiveSession::MovePageBefore(int index)
{
    if (!HasCategory() || index < 1 || index >= Pages.Count())
        return Done();
    PageList reordered = Pages;
    reordered.lines.swapItemsAt(index + 1, index);
    const int k = index - 1;
    return WriteReordered(reordered, k, k < Grid.T ? Grid.T - 1 : Grid.T);
}

PageResult ArchiveSession::MovePageAfter(int index)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count() - 1)
        return Done();
    PageList reordered = Pages;
    reordered.lines.swapItemsAt(index + 1, index + 2);
    const int k = index + 1;
    return WriteReordered(reordered, k, k >= Grid.T + 4 ? Grid.T + 1 : Grid.T);
}

PageResult ArchiveSession::MovePageToCategory(int index, const QString& destinationFolder)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count())
        return Done();
    if (destinationFolder == CurrentFolder)
        return Failed(IoError{}, kSameCategoryMessage, true);

    const QString entry = PageEntry(Pages, index);
    const QString sources[] = {ImagePath(CurrentFolder, Pages, index), ThumbPath(CurrentFolder, Pages, index),
                               MemoPath(CurrentFolder, Pages, index)};
    const qsizetype dot = entry.lastIndexOf(u'.');
    const QString extension = dot >= 0 ? entry.mid(dot) : QString();

    // The destination's list as it is, to write it back on the way out.
    if (PageListUnreadable(destinationFolder))
        return Failed(IoErrorFromErrno(EIO), kDestinationListMessage, true);
    const QString destinationList = ResolvePathForWrite(destinationFolder + QStringLiteral("/FileList.txt"));
    const std::optional<QByteArray> destinationBefore = ReadWholeFile(destinationList);
    PageList destination;
    LoadPageList(destination, destinationFolder);
    if (::PageLimitReached(destination))
        return Failed(IoError{}, kPageLimitMessage);
    const QString number = IssuePageNumber(destination, destinationFolder);
    if (number.isEmpty())
        return Failed(IoErrorFromErrno(EOVERFLOW), kPageLimitMessage);

    // A number none of whose files exist there: nothing is overwritten.
    const QString copies[] = {
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Image/") + number + extension),
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg")),
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Text/") + number + QStringLiteral(".txt")),
    };
    auto removeCopies = [&] {
        for (const QString& c : copies)
            QFile::remove(c);
    };
    IoError error;
    for (int i = 0; i < 3; ++i) {
        if (!CopyWhole(sources[i], copies[i], &error)) {
            removeCopies();
            return Failed(error, kCopyFailedMessage, true);
        }
    }
    AppendPageEntry(destination, number, extension);
    if (!SavePageList(destination, destinationFolder, &error)) {
        removeCopies();
        return Failed(error, kDestinationListMessage, true);
    }
    // The page is now in both lists on disk ...
    PageList after = Pages;
    RemovePageEntry(after, index);
    if (!SavePageList(after, CurrentFolder, &error)) {
        // ... and goes back to being here alone.
        bool restored = false;
        if (destinationBefore)
            restored = WriteFileAtomically(destinationList, *destinationBefore);
        else
            restored = QFile::remove(destinationList);
        if (restored)
            removeCopies();
        return Failed(error);
    }
    Pages = std::move(after);
    for (const QString& f : sources)
        if (!f.isEmpty())
            QFile::remove(ResolveExistingPath(f));
    Grid.P = Pages.Count();
    Grid.K = -1;
    return Done();
}
