// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Memo files: one per page, CP932 text with CR LF line ends. What a
// memo control shows uses "\n" as its only line break.

#include "core/ArchiveFiles.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct MemoText {
    QByteArray raw;  // the file's bytes (the first kMemoReadLimit of a longer one)
    QString text;    // as shown: decoded, CR LF / lone CR / lone LF each "\n"
    // The file is longer than kMemoReadLimit (only its start was read), or
    // a line longer than kMemoLineLimit was cut in `text`. Such a memo is
    // shown read-only and never written by the program.
    bool cut = false;
};

// No memo a person types comes near this: a longer file is read no further.
inline constexpr qint64 kMemoReadLimit = qint64(1) << 20;
// Nor a line this long: a memo with a longer line is shown with its lines
// cut there (laying out one endless line would take the window minutes).
inline constexpr qsizetype kMemoLineLimit = 4096;
// "メモが長すぎるため、一部だけを表示しています（編集できません）":
// shown with a memo cut at the limit.
extern const QString kMemoCutMessage;

// Converts text with CR LF, lone CR or lone LF line breaks to "\n" breaks.
QString NormalizeLineBreaks(const QString& text);

// A memo file's content as read: the bytes kept, the text decoded and its
// line breaks made "\n".
MemoText DecodeMemoBytes(QByteArray bytes);

// Reads the memo at `path` (any letter case), at most kMemoReadLimit bytes
// of it; nullopt when it is missing, a link, no regular file or cannot be
// read.
std::optional<MemoText> ReadMemo(const QString& path);

// The bytes for a shown text, by the framework's string-list rule: the text is
// split into lines at "\n" (also CR LF and lone CR); a final break starts no
// line; empty text has no lines; every line is written followed by CR LF, in
// CP932. "" → "", "\n" → "\r\n", "a\nb" → "a\r\nb\r\n", "a\n" → "a\r\n".
QByteArray EncodeMemo(const QString& shownText);

// Writes the memo atomically. When `loaded` is given and `shownText` equals
// loaded->text, the loaded bytes are written back unchanged (an unedited memo
// round-trips byte for byte); else EncodeMemo(shownText). A memo that was
// read cut (loaded->cut) is never written: false, EFBIG.
// `error`, when given, says why a write failed.
bool WriteMemo(const QString& path, const QString& shownText, const MemoText* loaded, IoError* error = nullptr);

// The memo of a new page: one empty line, the two bytes CR LF.
bool CreateEmptyMemo(const QString& path, IoError* error = nullptr);
