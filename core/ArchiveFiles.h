// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File access for the archive: atomic whole-file writes, case-insensitive
// path resolution (archives come from Windows, where file names compare
// without letter case), whole-file reads, the system code page (CP932,
// "Shift-JIS") and the string-list line rule of the original framework.
//
// Paths use "/" as separator.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Why a file operation failed: the system's error number and its text
// ("No space left on device"), for the detail of a failure message.
struct IoError {
    int code = 0;
    QString reason;
};

// An IoError for an errno value.
IoError IoErrorFromErrno(int code);

// Temporary files of WriteFileAtomically are named
//   "." + target name + ".tlv-" + 8 letters or digits + ".tmp"
// beside their target. A write that is killed in the middle may leave one.
// No page, list or memo name has this form (see IsSafePageEntry); folder
// scans skip such files and a later check may remove them.
bool IsAtomicWriteLeftover(const QString& fileName);
// A new name of that form for a temporary file beside `name`.
QString LeftoverNameFor(const QString& name);

// Removes a file; true when it is gone (or was not there). A file server
// refuses to remove a file another client holds open (EBUSY) until it is
// closed: that is retried for a few seconds.
bool RemoveFileRetrying(const QString& path, IoError* error = nullptr);
// rename(2), retried the same way while the file server says busy.
bool RenameFileRetrying(const QString& from, const QString& to, IoError* error = nullptr);

// Writes `bytes` as the whole content of the file at `path`: the bytes go to a
// new temporary file beside the target (same folder), which is flushed and
// synced to disk and then renamed over the target. On any failure the old
// file (if any) stays untouched, no temporary file is left behind and the
// result is false. The folder must exist. When a file whose name differs from
// the target's only in letter case already exists, that file is replaced
// (under its existing name); folders of the path are resolved the same way.
// An existing file keeps its permission bits; a new file gets 0666 less the
// umask. A directory in the way of the target makes the write fail, and so
// does a symbolic link (ELOOP): nothing is ever written through one. The
// temporary file is created and renamed relative to the folder it was
// opened in. When it fails and `error` is given, `error` says why.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, IoError* error = nullptr);
// The same for content too large to hold whole: `write` gets the temporary
// file's descriptor and writes the whole content to it; false from it (with
// errno saying why, else EIO) fails the write as above.
bool WriteFileAtomicallyWith(const QString& path, const std::function<bool(int fd)>& write, IoError* error = nullptr);

// If `path` exists (one stat), returns it. Otherwise looks for each missing
// component case-insensitively in its parent folder, from the deepest existing
// ancestor down, and returns the existing path so found; when some component
// has no match, returns `path` unchanged. Among several entries that differ
// only in case, an exact match wins, else the smallest name (code-unit order).
QString ResolveExistingPath(const QString& path);

// The path to write `path` to: its folder resolved with ResolveExistingPath,
// and then an existing entry of that folder whose name equals the file name
// in any letter case, or the file name as given when there is none.
QString ResolvePathForWrite(const QString& path);

// Reading a file of the archive, bounded. The file (resolved with
// ResolveExistingPath) is opened without following a symbolic link in its
// last component and without waiting (O_NONBLOCK), and read only when it is
// a regular file; at most `limit` bytes are read.
struct FileRead {
    enum Status {
        Read,        // bytes: the whole file
        Missing,     // nothing there
        Link,        // a symbolic link: never read through
        NotRegular,  // a folder, a named pipe, a device, a socket: `kind` says which
        TooLong,     // longer than the limit: bytes holds the first `limit`
        Failed,      // cannot be opened or read: `error` says why
    } status = Missing;
    QByteArray bytes;
    QString kind;  // "folder", "named pipe", "device", "socket"
    IoError error;
    qint64 size = 0;  // the file's size, when it could be told
};
// `followLink`: a file the user chose (an import) may be reached through a
// link; an archive's own files never are.
FileRead ReadArchiveFile(const QString& path, qint64 limit, bool followLink = false);
// The same file read a chunk at a time into `take`, which returns false to
// read no further (status TooLong then). Nothing is held but one chunk.
// `opened`, when given, is told the file's size before the first chunk.
FileRead ReadArchiveChunks(const QString& path, const std::function<bool(const char*, qsizetype)>& take,
                           bool followLink = false, const std::function<void(qint64)>& opened = {});
// The same file opened for reading by the caller, who closes it: its
// descriptor, or -1 with `status` saying why (size in status.size).
int OpenArchiveFile(const QString& path, FileRead& status, bool followLink = false);
// What a file that is no regular file is, in words ("named pipe", …) for a
// message; empty for a regular file or none.
QString SpecialFileKind(unsigned mode);

// The whole content of an archive file (ReadArchiveFile without a limit
// worth the name), or nullopt when it is missing, a symbolic link, not a
// regular file (a folder, a named pipe, a device) or cannot be read.
std::optional<QByteArray> ReadWholeFile(const QString& path);

// True when `path` itself (its last component) is a symbolic link.
bool IsSymbolicLink(const QString& path);
// True when the folder `path` is `root` or lies inside it once every
// symbolic link of both is resolved. A folder that cannot be resolved (it
// does not exist) is judged by its deepest existing ancestor.
bool ResolvesInside(const QString& path, const QString& root);
// True when `a` and `b` are the same folder on disk (device and inode),
// whatever links or names lead to them.
bool SameFolder(const QString& a, const QString& b);

// True when a file (not a folder) exists at `path` in any letter case.
bool FileExistsAnyCase(const QString& path);

// CP932 (Windows code page 932, "windows-31j"), built on Qt's converter.
// Decoding: bytes 0x00-0x7F map to U+0000-U+007F unchanged (0x5C is "\",
// 0x7E is "~"), 0xA1-0xDF to half-width katakana, double-byte codes as
// Windows maps them (0x8160 → U+FF5E, 0x815F → U+FF3C, NEC and IBM duplicates
// such as 0xED40 and 0xFA5C to the same character); bytes that form no
// character (a lone lead byte, an undefined code, 0x80, 0xA0, 0xFD-0xFF)
// decode as U+FFFD, one per byte or undefined pair.
QString DecodeCp932(const QByteArray& bytes);
// Encoding: the code Windows chooses for each character (for duplicates the
// JIS X 0208 code, then the IBM extension), with Windows' best-fit for the
// usual JIS-versus-Windows variants (U+301C → 0x8160, U+2016 → 0x8161,
// U+2212 → 0x817C, U+00A2/U+00A3/U+00AC → 0x8191/0x8192/0x81CA, U+2014 →
// 0x815C, U+00A5 → 0x5C, U+203E → 0x7E). Any other character CP932 lacks
// (and each lone surrogate) becomes "?" (0x3F), one per code point.
QByteArray EncodeCp932(const QString& text);

// The framework's string-list rule for reading text into lines: a line ends
// at CR LF, at a lone CR or at a lone LF; a final line break does not start
// another line; empty text has no lines. ("a\r\nb" → {"a","b"};
// "a\r\n" → {"a"}; "\r\n" → {""}; "a\n\rb" → {"a","","b"}.)
QStringList SplitTextLines(const QString& text);

// The framework's string-list rule for writing: every line followed by CR LF.
QString JoinTextLines(const QStringList& lines);
