// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The archive check: what is wrong in a category's files, one finding per
// file, and the mends that lose nothing (tolvane-batch check [--repair]).
//
// A category is sound when FileList.txt is CP932 text whose header line is a
// page number at least as high as every page number in use and whose other
// lines each name one page, and every page has its image, its thumbnail and
// its memo, no page file lies outside the list and no temporary file of an
// interrupted write is left. Names are looked up in any letter case, the way
// the program finds them (ResolveExistingPath).
//
// Page files here are the names of the program's own form: eight digits and
// ".jpg", ".bmp" or ".tif" in Image, ".jpg" in Thumb, ".txt" in Text, in any
// letter case. Other files in those folders are not the check's business.
//
// Repair never deletes or replaces a page image, a memo or a list line, but
// to finish a delete or move the user asked for (CheckIntents). It
// creates a missing Image, Thumb or Text folder; writes a missing (or, when
// decoding, undecodable) thumbnail from the page image; writes a missing memo
// (empty, as a new page has); appends orphan pages to FileList.txt in number
// order (the image's name as it is on disk); raises a low header line to the
// highest number in use; gives an empty list its header and a cut-short last
// line its line end; and removes leftover temporary files. Files are written
// before the list, each through WriteFileAtomically, and the list is written
// once, so a repair cut short is itself mended by the next. A list holding
// text that would not be written back byte for byte (no CP932 text) is never
// rewritten. Pages an unfinished delete or move names are not appended.
// Nothing is read, written or made through a symbolic link: a category that
// is one is reported and left alone, a sub-folder that is one is not looked
// into, and a list or page file that is one is reported, never replaced.
// The caller holds the category's write guard while it repairs.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

enum class FindingKind {
    FolderMissing,         // Image, Thumb or Text is not there
    FolderUnreadable,      // a folder that cannot be listed
    ListUnreadable,        // FileList.txt is there but cannot be read
    ListNotCp932,          // a line holds bytes that are no CP932 text
    ListDamagedLine,       // a line that names no page, a page twice, a header that is no number,
                           // an empty list, a last line without its line end
    ImageMissing,          // a list line whose page image is not there
    ThumbnailMissing,
    MemoMissing,
    Orphan,                // a page file no list line names
    HeaderBelowHighest,    // the header line is below the highest page number in use
    ImageUndecodable,      // (when decoding) a page image that gives no picture
    ThumbnailUndecodable,  // (when decoding) a thumbnail that gives no picture
    Leftover,              // a temporary file of an interrupted write
    Unfinished,            // (archive root) a delete or move cut short: its record is still there
    Link,                  // a symbolic link where the category, a folder, the list or a page file
                           // should be: nothing is read or written through it
};

struct CheckFinding {
    FindingKind kind;
    QString file;     // relative to the category folder, "/" separated, as named on disk;
                      // empty for the folder itself
    QString what;     // what is wrong, in words
    bool mendable = false;  // repair can mend it without losing anything
    bool mended = false;    // repair did
    QString how;      // after a repair: what was done, or why it was left
};

struct CheckOptions {
    bool repair = false;
    // When set, every page image and thumbnail is read through it (true: it
    // gives a picture); the ones that give none are findings.
    std::function<bool(const QString& path)> decodes;
    // For repair: the bytes of a new thumbnail for the page image at
    // `imagePath`, none when it cannot be made. Without it thumbnails are not
    // remade.
    std::function<std::optional<QByteArray>(const QString& imagePath)> makeThumbnail;
    // Asked between files (a decode, a file written): true ends the check
    // there; what is left is reported as not mended.
    std::function<bool()> stopRequested;
};

// Checks the category folder and, with options.repair, mends what it can.
// The findings come in the order: folders, the list, each line's page,
// orphans, the header, leftovers.
std::vector<CheckFinding> CheckCategory(const QString& folder, const CheckOptions& options);

// Leftover temporary files directly in `folder` (the archive root keeps
// NetLock.CTL and the records of deletes and moves, written the same way);
// removed with options.repair once older than a stale guard by the file
// server's clock.
std::vector<CheckFinding> CheckLeftovers(const QString& folder, const CheckOptions& options);

// The lock file of the archive root: reported when something other than a
// regular file stands there (a link, a folder, a pipe), never mended; and a
// guard NetLock.CTL.lock left behind, removed with options.repair once it is
// stale by the file server's clock.
std::vector<CheckFinding> CheckLockFile(const QString& root, const CheckOptions& options);

// Deletes and moves cut short (their records in the archive root); with
// options.repair each is finished as it was going (ResolveIntent). Done
// before the categories are checked: until then their pages are neither
// orphans nor missing.
std::vector<CheckFinding> CheckIntents(const QString& root, const CheckOptions& options);
