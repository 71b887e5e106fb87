// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page list of a category: the lines of its FileList.txt, the
// header line (the last page number issued) followed by one page entry per
// page ("00000012.jpg"), in display order.
//
// Category folders are paths with "/" separators; the sub-folders "Image",
// "Thumb", "Text" and the file "FileList.txt" are found in any letter case.

#include "core/ArchiveFiles.h"

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

struct PageList {
    // lines[0] is the header, lines[i + 1] the entry of the page at index i.
    QStringList lines{QStringLiteral("00000000")};

    // The page count P = lines - 1 (0 for a list without lines).
    int Count() const { return lines.isEmpty() ? 0 : int(lines.size()) - 1; }
};

// At most this many lines, header included: 999 pages fill a category.
constexpr int kPageListLineLimit = 1000;

// "1000枚を超えるイメージは保存できません", shown in an error box by every
// operation that would add a page to a full category.
extern const QString kPageLimitMessage;

// True when the list already holds kPageListLineLimit lines or more.
bool PageLimitReached(const PageList& list);

// The lines of a page-list file's content, by the rules of LoadPageList.
QStringList ParsePageListBytes(const QByteArray& bytes);

// No page entry is longer (a file name of 255 bytes at most): a longer line
// of a list is kept only up to this many bytes, and is a damaged line.
inline constexpr qsizetype kListLineKeptBytes = 1024;
// A page-list file read line by line, never held whole: each line decoded
// from CP932 (a line past kListLineKeptBytes cut there and noted).
struct ListFile {
    FileRead::Status status = FileRead::Missing;  // Read, or why not (Missing reads as no lines)
    QString kind;          // what stands there when it is no regular file
    IoError error;
    QStringList lines;     // the string-list rule: CR LF, lone CR, lone LF end a line
    bool exact = true;     // every line encodes back to its bytes, none was cut
    bool endsWithBreak = true;  // the last line has its line end (or there is none)
    std::vector<std::pair<int, qint64>> cutLines;  // (line number from 1, its whole length in bytes)
};
ListFile ReadListFile(const QString& path);

// True when a page entry can name files of the category: it is a plain file
// name. An entry that is empty, "." or "..", or holds "/", "\", NUL or any
// other control character, is longer than 255 characters, or has the form
// of a leftover temporary file (IsAtomicWriteLeftover), is kept in the list (nothing disappears) but names
// no file: ImagePath, ThumbPath and MemoPath give an empty path for it, and
// nothing reads or writes through it. A page list is written by other
// workstations of a shared archive, so its entries are not trusted.
bool IsSafePageEntry(const QString& entry);

// Replaces the list with the lines of categoryFolder/FileList.txt (CP932;
// lines end at CR LF, lone CR or lone LF; a final line break starts no line).
// A missing, unreadable or empty file gives the single line "00000000".
void LoadPageList(PageList& list, const QString& categoryFolder);

// True when categoryFolder/FileList.txt (any letter case) is there but cannot
// be read: LoadPageList then gives an empty list, which must never be
// written over the file.
bool PageListUnreadable(const QString& categoryFolder);

// How FileList.txt was read for a change (ReadPageListForChange).
enum class ListRead {
    Read,           // read (a missing file reads as the single header line)
    Unreadable,     // there but unreadable: never to be written over
    NotRewritable,  // holds bytes that CP932 would not give back the same: never rewritten
};
// Reads the list as LoadPageList does, and says whether it may be written
// back: only a list whose text encodes to the very bytes read may.
ListRead ReadPageListForChange(PageList& list, const QString& categoryFolder);

// What changes when FileList.txt is written: its size and modification time
// (size -1 when there is none). Cheap to compare with the one loaded.
struct ListStamp {
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const ListStamp& o) const { return size == o.size && modifiedNs == o.modifiedNs; }
    bool operator!=(const ListStamp& o) const { return !(*this == o); }
};
ListStamp PageListStamp(const QString& categoryFolder);
// The same of any file (any letter case).
ListStamp FileStampOf(const QString& path);

// Writes every line followed by CR LF, CP932, to categoryFolder/FileList.txt
// (an existing file of any letter case is replaced), atomically. Returns
// whether it was written (and, in `error`, why not); callers may ignore the
// result.
bool SavePageList(const PageList& list, const QString& categoryFolder, IoError* error = nullptr);

// The next page number: the header read as a decimal integer n (empty → 0),
// then n + 1 (at least 1), formatted with 8 digits, skipped forward past every
// number that already names a page image (Image/N.jpg, .bmp or .tif), a
// thumbnail (Thumb/N.jpg), a memo (Text/N.txt) or a recognised text
// (Words/N.tsv) in the category, in any
// letter case, or an entry of the list itself. The number is stored as the
// new header (in memory only) and returned. When no 8-digit number is left
// (the header is 99999999 or more, or every number above it is taken), the
// result is empty and the list is unchanged: the page cannot be added.
QString IssuePageNumber(PageList& list, const QString& categoryFolder);

// Adds the line pageNumber + extension (extension with its dot) at the end.
void AppendPageEntry(PageList& list, const QString& pageNumber, const QString& extension);

// The index of `entry` in the list, or -1. When it is there more than once,
// the occurrence `nth` (0 first) of it, else its first.
int IndexOfEntry(const PageList& list, const QString& entry, int nth = 0);

// Deletes the entry of the page at `index` (line index + 1); an index outside
// 0..P-1 changes nothing.
void RemovePageEntry(PageList& list, int index);

// The page entry at `index` ("00000012.jpg"); empty for an index outside 0..P-1.
QString PageEntry(const PageList& list, int index);

// The page number part of an entry: the entry without its extension.
QString PageNumberOfEntry(const QString& entry);

// categoryFolder + "/Image/" + entry; "/Thumb/" + entry with its extension
// replaced by ".jpg"; "/Text/" + entry with its extension replaced by ".txt".
// Canonical names; readers resolve letter case with ResolveExistingPath.
// Empty for an index outside 0..P-1, for an entry that is not safe
// (IsSafePageEntry), and when the file there is a symbolic link (nothing is
// read or written through one).
// `path`, unless the file there (in any letter case) is a symbolic link:
// then empty.
QString UnlessLink(const QString& path);
QString ImagePath(const QString& categoryFolder, const PageList& list, int index);
QString ThumbPath(const QString& categoryFolder, const PageList& list, int index);
QString MemoPath(const QString& categoryFolder, const PageList& list, int index);
// The page's entry is safe and none of its three files is a link: only then
// is a picture or a memo read through it, or its memo edited.
bool PageNamesFiles(const QString& categoryFolder, const PageList& list, int index);

// The extension of new page images for a SaveFormat setting: 0 ".jpg",
// 1 ".bmp", 2 ".tif", anything else ".jpg".
QString SaveFormatExtension(int saveFormat);
