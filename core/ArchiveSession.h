#pragma once
// The category the program is working in: its folder, its page list, the
// grid state and the write-state flags, and the page operations that change
// files, each with its way back. The main window's handlers and tolvane-batch
// both go through here, so every page is written in one way.
//
// Order of writes: a page's files are written before its list line, so a
// crash at any moment leaves FileList.txt whole and never naming a missing
// file (at worst page files without a line, which numbering skips). When a
// later write of an operation fails, what the operation wrote before is put
// back as it was and the list in memory is as before.

#include "core/ArchiveFiles.h"
#include "core/CommandState.h"
#include "core/Grid.h"
#include "core/PageList.h"

#include <QByteArray>
#include <QString>

#include <vector>

// "ファイルを保存できません": a page's files could not be written.
extern const QString kCannotSaveMessage;

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
    explicit operator bool() const { return ok; }
};

class ArchiveSession {
public:
    QString CurrentFolder;  // the current category folder; empty for none
    PageList Pages;
    GridState Grid;
    bool FolderReadOnly = false;
    bool ArchiveShared = false;
    bool LockHeld = false;

    bool HasCategory() const { return !CurrentFolder.isEmpty(); }
    // Writing is allowed when the folder is not read-only and the archive is
    // not shared or this workstation holds the lock. Every place that sets
    // the command states asks this one rule.
    bool WritingAllowed() const { return ::WritingAllowed(FolderReadOnly, ArchiveShared, LockHeld); }

    // Makes `folder` the current category: loads its page list, clears the
    // marks, P from the list, T = 0, K = -1. The write probe is the caller's.
    void SelectCategory(const QString& folder);

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
    PageResult StoreNewPage(const QByteArray& pageBytes, const QString& extension, const QByteArray& thumbBytes);

    // Replaces the image and the thumbnail of the page at `index` under the
    // page's own file names. When the thumbnail cannot be written, the image
    // is put back as it was. The page list does not change.
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

private:
    PageResult WriteReordered(const PageList& reordered, int newK, int newT);
};
