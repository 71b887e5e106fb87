// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The category the program is working in: its folder, its page list, the
// grid state and the write-state flags, and the page operations that change
// files, each with its way back. The main window's handlers and tolvane-batch
// both go through here, so every page is written in one way.
//
// Every change of a page list is one guarded read-modify-write (Change):
// the category's write guard (FileList.txt.lock, see WriteGuard) is taken,
// FileList.txt is read again inside it, the operation is applied to that
// list by page entry (never by a remembered index), the list is written
// atomically and the guard given back. So two writers (the window and
// tolvane-batch, two workstations) never write over each other's pages, and
// the list shown is brought up to date by every change.
//
// Order of writes: a page's files are written before its list line, so a
// crash at any moment leaves FileList.txt whole and never naming a missing
// file (at worst page files without a line, which numbering skips). Delete
// and move write an intent record first (PageIntent), so that check --repair
// finishes one cut short the way it was going. When a later write of an
// operation fails, what the operation wrote before is put back as it was and
// the list in memory is as before.

#include "core/ArchiveFiles.h"
#include "core/CommandState.h"
#include "core/Grid.h"
#include "core/NetLock.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "core/WriteGuard.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// "ファイルを保存できません": a page's files could not be written.
extern const QString kCannotSaveMessage;

// "ファイルリストは他のプログラムが書き込み中です": another writer held the
// category's write guard for the whole wait (its holder in the detail).
extern const QString kListBusyMessage;
// "書込権限が他のワークステーションに移りました": the shared-write lock was
// taken over by another workstation (who, in the detail).
extern const QString kLockLostMessage;
// "分類「%1」のファイルリストを書き換えられません。「tolvane-batch check --repair」で修復してください":
// FileList.txt cannot be read, or holds bytes that could not be written back
// exactly; it is never written over.
extern const QString kListNotWritableMessage;
// "分類「%1」はアーカイブの外を指しているため書き込めません": the category
// folder, or one of its sub-folders, is a symbolic link that leads out of the
// archive root; it is shown, never written (its real place in the detail).
extern const QString kOutsideArchiveMessage;
// "選択されたページは他のプログラムによって削除または移動されています":
// the page acted on is no longer in the list on disk.
extern const QString kPageGoneMessage;

// One file an operation writes.
struct FileWrite {
    QString path;
    QByteArray bytes;
};

// Writes the files in order, each atomically. When one fails, every file
// written before it is put back: its former content written again, or the
// new file removed when there was none. A file that exists and cannot be
// read first (to keep it) fails the whole write before anything is written.
// `failedPath` names the file whose write failed; `error` says why.
bool WriteFilesWithRollback(const std::vector<FileWrite>& files, IoError* error = nullptr,
                            QString* failedPath = nullptr);

// Messages of moving a page to another category.
extern const QString kSameCategoryMessage;      // "移動元と移動先の分類が同じです"
// The picture of a page changed while its text was being recognised.
extern const QString kPageChangedMessage;
extern const QString kCopyFailedMessage;        // "ファイルのコピーが失敗しました"
extern const QString kDestinationListMessage;   // "移動先のファイルリストを作成できませんでした"

// The outcome of a page operation: done, or the message to show (the
// program's own text) and the system's reason.
struct PageResult {
    bool ok = false;
    QString message;
    IoError error;
    // How the message is shown: a plain message box with an empty caption
    // and OK, else an error message dialog.
    bool asBox = false;
    // The shared-write lock was found taken away: the caller writes nothing
    // more and turns read-only (tolvane-batch: exit 3).
    bool lockLost = false;
    explicit operator bool() const { return ok; }
};

class ArchiveSession {
public:
    // The archive root: NetLock.CTL and the intent records live here. Empty:
    // the folder that holds the current category.
    QString ArchiveRoot;
    QString CurrentFolder;  // the current category folder; empty for none
    PageList Pages;
    GridState Grid;
    bool FolderReadOnly = false;
    // The list on disk cannot be written back (unreadable, or bytes that are
    // no CP932 text): shown, never written, until it is mended.
    bool ListReadOnly = false;
    // The category folder or a sub-folder of it leads out of the archive
    // root (CategoryStaysInside): shown, never written.
    bool FolderOutside = false;
    bool ArchiveShared = false;
    bool LockHeld = false;
    // This holder's token in NetLock.CTL while LockHeld.
    std::optional<OwnerToken> LockToken;
    // Size and time of FileList.txt as last read.
    ListStamp Stamp;

    bool HasCategory() const { return !CurrentFolder.isEmpty(); }
    // Writing is allowed when the folder and its list are not read-only and
    // the archive is not shared or this workstation holds the lock. Every
    // place that sets the command states asks this one rule.
    bool WritingAllowed() const
    {
        return !ListReadOnly && !FolderOutside && ::WritingAllowed(FolderReadOnly, ArchiveShared, LockHeld);
    }
    QString Root() const;

    // Makes `folder` the current category: loads its page list, clears the
    // marks, P from the list, T = 0, K = -1. The write probe is the caller's.
    void SelectCategory(const QString& folder);

    // Reads the current list again when FileList.txt's size or time differ
    // from what was read (or always, with `force`): the clicked page is kept
    // by its entry (K = -1 when it is gone), the marks are cleared when the
    // list changed, T stays where it can. True when the list changed.
    bool Reload(bool force = false);

    // ---- the shared-write lock, for the window and tolvane-batch alike ----

    // Takes the lock of the archive root (TakeWriteLock) with a new token;
    // on Taken or TakenOver LockHeld and LockToken are set and the current
    // list is read again: another workstation may have written it.
    LockTaking TakeWriteLock(const std::function<bool()>& forceWhenTaken);
    // Gives it back (GiveBackLock) when held; LockHeld is false afterwards.
    GiveBack GiveBackWriteLock();
    // True while not shared, or NetLock.CTL still names this holder. When it
    // names another, LockHeld becomes false.
    bool StillHoldsLock();

    // True when the current list is at the page limit.
    bool PageLimitReached() const { return ::PageLimitReached(Pages); }

    // Files a new page: the next page number, then the page image
    // (`pageBytes`, an encoded file whose format `extension` names, ".jpg",
    // ".bmp" or ".tif"), the thumbnail (a JPEG) and an empty memo, then the
    // list line and FileList.txt. The new page becomes the clicked page and
    // the grid shows the last four pages.
    // Failures (kCannotSaveMessage): no page number left; the page image
    // cannot be written (its number stays used in the header in memory);
    // the thumbnail, the memo or FileList.txt cannot be written (every file
    // this call wrote is removed again and the list in memory is as before).
    // `words`, when given, is the page's recognised text (Words/N.tsv),
    // written with the others.
    PageResult StoreNewPage(const QByteArray& pageBytes, const QString& extension, const QByteArray& thumbBytes,
                            const PageText* words = nullptr);

    // Replaces the image and the thumbnail of the page at `index` under the
    // page's own file names. When the thumbnail cannot be written, the image
    // is put back as it was. The page list does not change. The recognised
    // text of the old picture goes: the page is recognised again.
    PageResult ReplacePageFiles(int index, const QByteArray& pageBytes, const QByteArray& thumbBytes);

    // Deletes the page at `index`: FileList.txt without its line is written
    // first, then its image, thumbnail and memo are deleted (a file that
    // cannot be deleted stays, without a word). When the list cannot be
    // written nothing is deleted and the list in memory is as before. The
    // header line is untouched, so the number is never issued again. P - 1,
    // K = -1, T unchanged; the marks stay at their positions.
    PageResult DeletePage(int index);

    // Exchanges the page at `index` with the one before (after) it. The
    // clicked page follows it, and the grid scrolls by one when it leaves the
    // shown four. Only the list changes, and only when FileList.txt could be
    // written. An index without a page before (after) it: ok, nothing done.
    PageResult MovePageBefore(int index);
    PageResult MovePageAfter(int index);

    // Moves the page at `index` into the category `destinationFolder`: its
    // three files are copied byte for byte under the destination's next
    // number (one whose files do not exist there), the destination's list is
    // written with the new line, then this list without the page, and only
    // then the page's files here are deleted. A failure undoes what came
    // before it: copies removed, the destination's list as it was. A crash at
    // any moment leaves the page here, there, or in both.
    // Failures: the same folder (kSameCategoryMessage, box); the destination
    // full (kPageLimitMessage, dialog); a copy (kCopyFailedMessage, box); the
    // destination's list unreadable or not written (kDestinationListMessage,
    // box); this list not written (kCannotSaveMessage, dialog).
    PageResult MovePageToCategory(int index, const QString& destinationFolder);

    // Keeps `text` as the recognised text of the page `entry` of `folder`
    // (any category), inside that list's guard: only while the entry is
    // still listed (else kPageGoneMessage) and its image is still the one
    // recognised (`imageStamp`, else kPageChangedMessage), and only when it
    // has none yet unless `replace`. The list itself does not change.
    PageResult StoreRecognisedText(const QString& folder, const QString& entry, const ListStamp& imageStamp,
                                   const PageText& text, bool replace = false);

    // The guarded read-modify-write of the list of `folder` (the current
    // category or another): `change` gets the list read inside the guard
    // and edits it (it may write page files first, and returns a failure to
    // write nothing); the list is then written atomically. `undo` is called
    // when the list cannot be written, to take back the files `change`
    // wrote. On the current category, Pages and the stamp follow the list
    // written (or the one read, on failure). The one place a list is written.
    // `done` runs after the list is written, still inside the guard. A list
    // `change` leaves as it was is not written.
    PageResult Change(const QString& folder, const std::function<PageResult(PageList&)>& change,
                      const std::function<void()>& undo = {}, const std::function<void()>& done = {});

private:
    struct Held;
    PageResult Begin(const QString& folder, Held& held);
    PageResult Commit(Held& held);
    void Adopt(const PageList& fresh);
    int Locate(const PageList& fresh, int index) const;
    PageResult Gone(const PageList& fresh);
    PageResult Reorder(int index, int by);
};
