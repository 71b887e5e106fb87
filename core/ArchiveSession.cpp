// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ArchiveSession.h"

#include "core/Categories.h"
#include "core/PageIntent.h"
#include "core/PageText.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

const QString kCannotSaveMessage = QStringLiteral("ファイルを保存できません");
const QString kSameCategoryMessage = QStringLiteral("移動元と移動先の分類が同じです");
const QString kPageChangedMessage = QStringLiteral("文字認識の間にページの画像が変わりました");
const QString kCopyFailedMessage = QStringLiteral("ファイルのコピーが失敗しました");
const QString kDestinationListMessage = QStringLiteral("移動先のファイルリストを作成できませんでした");
const QString kListBusyMessage = QStringLiteral("ファイルリストは他のプログラムが書き込み中です");
const QString kLockLostMessage = QStringLiteral("書込権限が他のワークステーションに移りました");
const QString kListNotWritableMessage =
    QStringLiteral("分類「%1」のファイルリストを書き換えられません。「tolvane-batch check --repair」で修復してください");
const QString kOutsideArchiveMessage = QStringLiteral("分類「%1」はアーカイブの外を指しているため書き込めません");
const QString kPageGoneMessage = QStringLiteral("選択されたページは他のプログラムによって削除または移動されています");

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

struct ArchiveSession::Held {
    QString folder;
    WriteGuard guard;
    PageList list;
    QStringList read;  // the lines as read, to tell whether the list changed
};

QString ArchiveSession::Root() const
{
    if (!ArchiveRoot.isEmpty())
        return ArchiveRoot;
    const qsizetype slash = CurrentFolder.lastIndexOf(u'/');
    return slash > 0 ? CurrentFolder.left(slash) : QStringLiteral(".");
}

namespace {

QString CategoryName(const QString& folder)
{
    return folder.mid(folder.lastIndexOf(u'/') + 1);
}

}  // namespace

void ArchiveSession::SelectCategory(const QString& folder)
{
    CurrentFolder = folder;
    FolderOutside = !CategoryStaysInside(folder, Root());
    Stamp = PageListStamp(folder);
    const ListRead read = ReadPageListForChange(Pages, folder);
    ListReadOnly = read != ListRead::Read;
    if (read == ListRead::Unreadable)
        Pages = PageList{};
    Grid.ClearMarks();
    Grid.P = Pages.Count();
    Grid.T = 0;
    Grid.K = -1;
}

void ArchiveSession::Adopt(const PageList& fresh)
{
    const QString clicked = PageEntry(Pages, Grid.K);
    const int nth = clicked.isEmpty() ? 0 : int(std::count(Pages.lines.begin() + 1, Pages.lines.begin() + 1 + Grid.K, clicked));
    Pages = fresh;
    Grid.P = Pages.Count();
    Grid.K = clicked.isEmpty() ? -1 : IndexOfEntry(Pages, clicked, nth);
    if (Grid.T >= Grid.P)
        Grid.T = LastFourStart(Grid.P);
    if (Grid.T < 0)
        Grid.T = 0;
}

bool ArchiveSession::Reload(bool force)
{
    if (!HasCategory())
        return false;
    const ListStamp now = PageListStamp(CurrentFolder);
    if (!force && now == Stamp)
        return false;
    Stamp = now;
    PageList fresh;
    const ListRead read = ReadPageListForChange(fresh, CurrentFolder);
    ListReadOnly = read != ListRead::Read;
    if (read == ListRead::Unreadable)
        return false;  // what is shown stays; nothing is written over the file
    if (fresh.lines == Pages.lines)
        return false;
    Adopt(fresh);
    Grid.ClearMarks();
    return true;
}

int ArchiveSession::Locate(const PageList& fresh, int index) const
{
    const QString entry = PageEntry(Pages, index);
    if (entry.isEmpty())
        return -1;
    const int nth = int(std::count(Pages.lines.begin() + 1, Pages.lines.begin() + 1 + index, entry));
    return IndexOfEntry(fresh, entry, nth);
}

PageResult ArchiveSession::Gone(const PageList& fresh)
{
    (void)fresh;
    return Failed(IoError{}, kPageGoneMessage, true);
}

// ---- the shared-write lock ----

LockTaking ArchiveSession::TakeWriteLock(const std::function<bool()>& forceWhenTaken)
{
    const OwnerToken token = NewOwnerToken();
    const LockTaking taking = ::TakeWriteLock(Root(), token, forceWhenTaken);
    if (taking == LockTaking::Taken || taking == LockTaking::TakenOver) {
        LockHeld = true;
        LockToken = token;
        Reload(true);
    }
    return taking;
}

GiveBack ArchiveSession::GiveBackWriteLock()
{
    GiveBack given = GiveBack::NotHolder;
    if (LockHeld && LockToken)
        given = GiveBackLock(Root(), *LockToken);
    LockHeld = false;
    LockToken.reset();
    return given;
}

bool ArchiveSession::StillHoldsLock()
{
    if (!ArchiveShared)
        return true;
    if (LockHeld && (LockToken ? HoldsLock(Root(), *LockToken) : ReadLockState(Root()) == LockState::Taken))
        return true;
    LockHeld = false;
    LockToken.reset();
    return false;
}

// ---- the guarded read-modify-write ----

PageResult ArchiveSession::Begin(const QString& folder, Held& held)
{
    if (ArchiveShared && !StillHoldsLock()) {
        PageResult lost = Failed(IoError{0, QStringLiteral("NetLock.CTL: ") + LockHolderText(Root())}, kLockLostMessage);
        lost.lockLost = true;
        return lost;
    }
    if (!CategoryStaysInside(folder, Root())) {
        if (folder == CurrentFolder)
            FolderOutside = true;
        return Failed(IoError{ELOOP, QFileInfo(folder).canonicalFilePath()},
                      kOutsideArchiveMessage.arg(CategoryName(folder)));
    }
    held.folder = folder;
    held.guard = WriteGuard::Acquire(PageListGuardPath(folder));
    if (held.guard.Result() == WriteGuard::Outcome::Busy)
        return Failed(IoError{EBUSY, held.guard.Holder()}, kListBusyMessage);
    if (!held.guard)
        return Failed(held.guard.Error());
    const ListRead read = ReadPageListForChange(held.list, folder);
    if (read != ListRead::Read) {
        if (folder == CurrentFolder)
            ListReadOnly = true;
        return Failed(IoErrorFromErrno(read == ListRead::Unreadable ? EIO : EILSEQ),
                      kListNotWritableMessage.arg(CategoryName(folder)));
    }
    held.read = held.list.lines;
    return Done();
}

PageResult ArchiveSession::Commit(Held& held)
{
    if (held.list.lines == held.read)
        return Done();
    if (!held.guard.StillHeld())
        return Failed(IoError{EBUSY, QString()}, kListBusyMessage);
    IoError error;
    if (!SavePageList(held.list, held.folder, &error))
        return Failed(error);
    if (held.folder == CurrentFolder)
        Stamp = PageListStamp(held.folder);
    return Done();
}

PageResult ArchiveSession::Change(const QString& folder, const std::function<PageResult(PageList&)>& change,
                                  const std::function<void()>& undo, const std::function<void()>& done)
{
    Held held;
    PageResult r = Begin(folder, held);
    if (!r)
        return r;
    const bool current = folder == CurrentFolder;
    const PageList fresh = held.list;
    r = change(held.list);
    if (r)
        r = Commit(held);
    if (!r) {
        if (r.message != kPageGoneMessage && undo)
            undo();
        if (current) {
            Stamp = PageListStamp(folder);
            Adopt(fresh);
        }
        return r;
    }
    if (done)
        done();
    if (current)
        Adopt(held.list);
    return r;
}

// ---- the page operations ----

PageResult ArchiveSession::StoreNewPage(const QByteArray& pageBytes, const QString& extension,
                                        const QByteArray& thumbBytes, const PageText* words)
{
    if (!HasCategory())
        return Failed(IoErrorFromErrno(ENOENT));
    QString imagePath;
    std::vector<FileWrite> rest;
    auto removeWritten = [&] {
        for (const FileWrite& f : rest)
            QFile::remove(ResolvePathForWrite(f.path));
        if (!imagePath.isEmpty())
            QFile::remove(ResolvePathForWrite(imagePath));
    };
    const PageResult r = Change(
        CurrentFolder,
        [&](PageList& list) -> PageResult {
            if (::PageLimitReached(list))
                return Failed(IoError{}, kPageLimitMessage);
            const QString number = IssuePageNumber(list, CurrentFolder);
            if (number.isEmpty())
                return Failed(IoError{EOVERFLOW, QStringLiteral("the header line of FileList.txt is %1: no page "
                                                                "number of eight digits is left")
                                                     .arg(list.lines.value(0).left(20))});
            IoError error;
            const QString image = CurrentFolder + QStringLiteral("/Image/") + number + extension;
            if (!WriteFileAtomically(ResolvePathForWrite(image), pageBytes, &error))
                return Failed(error);
            imagePath = image;
            std::vector<FileWrite> others = {
                {CurrentFolder + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg"), thumbBytes},
                {CurrentFolder + QStringLiteral("/Text/") + number + QStringLiteral(".txt"), QByteArrayLiteral("\r\n")},
            };
            if (words)
                others.push_back({CurrentFolder + u'/' + kWordsFolder + u'/' + number + QStringLiteral(".tsv"),
                                  EncodePageText(*words)});
            if ((words && !MakeWordsFolder(CurrentFolder, &error)) || !WriteFilesWithRollback(others, &error)) {
                QFile::remove(ResolvePathForWrite(imagePath));
                imagePath.clear();
                return Failed(error);
            }
            rest = others;
            AppendPageEntry(list, number, extension);
            return Done();
        },
        removeWritten);
    if (!r)
        return r;
    Grid.K = Grid.P - 1;
    Grid.T = LastFourStart(Grid.P);
    return r;
}

PageResult ArchiveSession::ReplacePageFiles(int index, const QByteArray& pageBytes, const QByteArray& thumbBytes)
{
    if (ImagePath(CurrentFolder, Pages, index).isEmpty() || ThumbPath(CurrentFolder, Pages, index).isEmpty())
        return Failed(IoErrorFromErrno(ENOENT));
    return Change(CurrentFolder, [&](PageList& list) -> PageResult {
        const int at = Locate(list, index);
        if (at < 0)
            return Gone(list);
        IoError error;
        if (!WriteFilesWithRollback({{ImagePath(CurrentFolder, list, at), pageBytes},
                                     {ThumbPath(CurrentFolder, list, at), thumbBytes}},
                                    &error))
            return Failed(error);
        // The boxes were on the old picture.
        if (const QString words = WordsPath(CurrentFolder, list, at); !words.isEmpty())
            RemoveFileRetrying(ResolveExistingPath(words));
        return Done();
    });
}

PageResult ArchiveSession::StoreRecognisedText(const QString& folder, const QString& entry,
                                               const ListStamp& imageStamp, const PageText& text, bool replace)
{
    return Change(folder, [&](PageList& list) -> PageResult {
        if (IndexOfEntry(list, entry) < 0)
            return Gone(list);
        const QString words = WordsPathOfEntry(folder, entry);
        if (words.isEmpty())
            return Failed(IoErrorFromErrno(ELOOP));
        if (FileStampOf(folder + QStringLiteral("/Image/") + entry) != imageStamp || imageStamp.size < 0)
            return Failed(IoError{}, kPageChangedMessage);
        if (!replace && QFileInfo::exists(ResolveExistingPath(words)))
            return Done();
        IoError error;
        if (!MakeWordsFolder(folder, &error) || !WritePageText(words, text, &error))
            return Failed(error);
        return Done();
    });
}

PageResult ArchiveSession::DeletePage(int index)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count())
        return Done();
    QString intent;
    QString entry;
    const PageResult r = Change(
        CurrentFolder,
        [&](PageList& list) -> PageResult {
            const int at = Locate(list, index);
            if (at < 0)
                return Gone(list);
            entry = PageEntry(list, at);
            IoError error;
            // Recorded before the list changes: a delete cut short from here
            // on is finished by check --repair, never undone.
            if (IsSafePageEntry(entry)) {
                intent = WriteIntent(Root(), {PageIntent::Kind::Delete, CategoryName(CurrentFolder), entry, {}, {}},
                                     &error);
                if (intent.isEmpty())
                    return Failed(error);
            }
            RemovePageEntry(list, at);
            return Done();
        },
        [&] {
            if (!intent.isEmpty())
                QFile::remove(intent);
        },
        [&] {
            // The record goes only when every file has: a file another
            // client holds open stays, and check --repair deletes it later
            // instead of taking it for an orphan to append.
            bool gone = true;
            for (const QString& f : PageFilesOf(CurrentFolder, entry))
                gone = RemoveFileRetrying(f) && gone;
            if (gone && !intent.isEmpty())
                RemoveFileRetrying(intent);
        });
    if (r)
        Grid.K = -1;
    return r;
}

PageResult ArchiveSession::Reorder(int index, int by)
{
    int k = -1;
    const PageResult r = Change(CurrentFolder, [&](PageList& list) -> PageResult {
        const int at = Locate(list, index);
        if (at < 0)
            return Gone(list);
        const int other = at + by;
        if (other < 0 || other >= list.Count()) {
            k = at;
            return Done();
        }
        list.lines.swapItemsAt(at + 1, other + 1);
        k = other;
        return Done();
    });
    if (!r)
        return r;
    Grid.K = k;
    if (k >= 0 && k < Grid.T)
        Grid.T = k;
    else if (k >= Grid.T + 4)
        Grid.T = k - 3;
    return r;
}

PageResult ArchiveSession::MovePageBefore(int index)
{
    if (!HasCategory() || index < 1 || index >= Pages.Count())
        return Done();
    return Reorder(index, -1);
}

PageResult ArchiveSession::MovePageAfter(int index)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count() - 1)
        return Done();
    return Reorder(index, +1);
}

PageResult ArchiveSession::MovePageToCategory(int index, const QString& destinationFolder)
{
    if (!HasCategory() || index < 0 || index >= Pages.Count())
        return Done();
    // The same folder on disk, whatever name or link leads to it.
    if (destinationFolder == CurrentFolder || SameFolder(destinationFolder, CurrentFolder))
        return Failed(IoError{}, kSameCategoryMessage, true);

    // Both guards, in path order, as every writer of two lists takes them.
    Held here, there;
    const bool hereFirst = CurrentFolder < destinationFolder;
    for (auto [held, folder] : {hereFirst ? std::pair<Held*, QString>{&here, CurrentFolder}
                                          : std::pair<Held*, QString>{&there, destinationFolder},
                                hereFirst ? std::pair<Held*, QString>{&there, destinationFolder}
                                          : std::pair<Held*, QString>{&here, CurrentFolder}}) {
        PageResult r = Begin(folder, *held);
        if (!r) {
            if (held == &there && r.message != kLockLostMessage && r.message != kListBusyMessage) {
                r.message = kDestinationListMessage;
                r.asBox = true;
            }
            return r;
        }
    }
    const PageList fresh = here.list;
    auto refreshed = [&](PageResult r) {
        Stamp = PageListStamp(CurrentFolder);
        Adopt(fresh);
        return r;
    };
    const int at = Locate(here.list, index);
    if (at < 0)
        return refreshed(Gone(here.list));
    const QString entry = PageEntry(here.list, at);
    const std::vector<QString> sources = PageFilesOf(CurrentFolder, entry);
    if (sources.empty())
        return refreshed(Failed(IoErrorFromErrno(ENOENT), kCopyFailedMessage, true));
    const qsizetype dot = entry.lastIndexOf(u'.');
    const QString extension = dot >= 0 ? entry.mid(dot) : QString();

    if (::PageLimitReached(there.list))
        return refreshed(Failed(IoError{}, kPageLimitMessage));
    const PageList destinationBefore = there.list;
    const bool destinationListed = QFileInfo::exists(ResolveExistingPath(destinationFolder + QStringLiteral("/FileList.txt")));
    const QString number = IssuePageNumber(there.list, destinationFolder);
    if (number.isEmpty())
        return refreshed(Failed(IoErrorFromErrno(EOVERFLOW), kPageLimitMessage));

    IoError error;
    const QString intent = WriteIntent(Root(),
                                       {PageIntent::Kind::Move, CategoryName(CurrentFolder), entry,
                                        CategoryName(destinationFolder), number + extension},
                                       &error);
    if (intent.isEmpty())
        return refreshed(Failed(error));

    // A number none of whose files exist there: nothing is overwritten.
    const QString copies[] = {
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Image/") + number + extension),
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg")),
        ResolvePathForWrite(destinationFolder + QStringLiteral("/Text/") + number + QStringLiteral(".txt")),
        ResolvePathForWrite(destinationFolder + u'/' + kWordsFolder + u'/' + number + QStringLiteral(".tsv")),
    };
    auto removeCopies = [&] {
        for (const QString& c : copies)
            QFile::remove(c);
    };
    for (int i = 0; i < 4; ++i) {
        // The recognised text goes along when the page has one.
        if (i == 3 && !QFileInfo::exists(sources[3]))
            continue;
        if ((i == 3 && !MakeWordsFolder(destinationFolder, &error))
            || !CopyWhole(sources[std::size_t(i)], copies[i], &error)) {
            removeCopies();
            QFile::remove(intent);
            return refreshed(Failed(error, kCopyFailedMessage, true));
        }
    }
    AppendPageEntry(there.list, number, extension);
    if (PageResult r = Commit(there); !r) {
        removeCopies();
        QFile::remove(intent);
        r.message = kDestinationListMessage;
        r.asBox = true;
        return refreshed(r);
    }
    // The page is now in both lists on disk; the record says it goes on.
    RemovePageEntry(here.list, at);
    if (PageResult r = Commit(here); !r) {
        // ... or back to being here alone.
        const bool restored = destinationListed ? SavePageList(destinationBefore, destinationFolder)
                                                : QFile::remove(ResolveExistingPath(destinationFolder + QStringLiteral("/FileList.txt")));
        if (restored) {
            removeCopies();
            QFile::remove(intent);
        }
        return refreshed(r);
    }
    bool gone = true;
    for (const QString& f : sources)
        gone = RemoveFileRetrying(f) && gone;
    if (gone)
        RemoveFileRetrying(intent);  // else check --repair finishes it
    Adopt(here.list);
    Grid.K = -1;
    return Done();
}
