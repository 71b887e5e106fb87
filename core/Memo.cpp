// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Memo.h"

#include "core/ArchiveFiles.h"

#include <cerrno>

const QString kMemoCutMessage =
    QStringLiteral("メモが長すぎるため、一部だけを表示しています（編集できません）");

QString NormalizeLineBreaks(const QString& text)
{
    if (!text.contains(u'\r'))
        return text;
    QString shown;
    shown.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            shown.append(u'\n');
            if (i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
        } else {
            shown.append(c);
        }
    }
    return shown;
}

MemoText DecodeMemoBytes(QByteArray bytes)
{
    MemoText memo;
    memo.raw = std::move(bytes);
    memo.text = NormalizeLineBreaks(DecodeCp932(memo.raw));
    return memo;
}

std::optional<MemoText> ReadMemo(const QString& path)
{
    FileRead read = ReadArchiveFile(path, kMemoReadLimit);
    if (read.status != FileRead::Read && read.status != FileRead::TooLong)
        return std::nullopt;
    MemoText memo = DecodeMemoBytes(std::move(read.bytes));
    memo.cut = read.status == FileRead::TooLong;
    // Lines past the line limit are cut for the showing.
    qsizetype start = 0;
    QString shown;
    bool longLine = false;
    while (start <= memo.text.size()) {
        qsizetype end = memo.text.indexOf(u'\n', start);
        if (end < 0)
            end = memo.text.size();
        if (end - start > kMemoLineLimit) {
            if (!longLine) {
                shown = memo.text.left(start);
                longLine = true;
            }
            shown += QStringView(memo.text).mid(start, kMemoLineLimit);
            shown += QChar(0x2026);
        } else if (longLine) {
            shown += QStringView(memo.text).mid(start, end - start);
        }
        if (longLine && end < memo.text.size())
            shown += u'\n';
        start = end + 1;
    }
    if (longLine) {
        memo.text = shown;
        memo.cut = true;
    }
    return memo;
}

QByteArray EncodeMemo(const QString& shownText)
{
    return EncodeCp932(JoinTextLines(SplitTextLines(shownText)));
}

bool WriteMemo(const QString& path, const QString& shownText, const MemoText* loaded, IoError* error)
{
    if (loaded && loaded->cut) {
        // Writing back what was read would lose the rest of the file.
        if (error)
            *error = IoErrorFromErrno(EFBIG);
        return false;
    }
    if (loaded && shownText == loaded->text)
        return WriteFileAtomically(path, loaded->raw, error);
    return WriteFileAtomically(path, EncodeMemo(shownText), error);
}

bool CreateEmptyMemo(const QString& path, IoError* error)
{
    return WriteFileAtomically(path, QByteArrayLiteral("\r\n"), error);
}
