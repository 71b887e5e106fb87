// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PageText.h"

#include "core/PageList.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>

#include <array>
#include <cerrno>
#include <sys/stat.h>

const QString kWordsFolder = QStringLiteral("Words");

namespace {

const QByteArray kMagic = QByteArrayLiteral("tolvane-words 1");

// Characters written without spaces between them.
bool IsUnspaced(char32_t c)
{
    if ((c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF)
        || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF))
        return true;
    return false;
}

char32_t FirstOf(const QString& s)
{
    if (s.isEmpty())
        return 0;
    const QChar c = s.at(0);
    return c.isHighSurrogate() && s.size() > 1 ? QChar::surrogateToUcs4(c, s.at(1)) : c.unicode();
}

char32_t LastOf(const QString& s)
{
    if (s.isEmpty())
        return 0;
    const QChar c = s.back();
    return c.isLowSurrogate() && s.size() > 1 ? QChar::surrogateToUcs4(s.at(s.size() - 2), c) : c.unicode();
}

QByteArray Escaped(const QString& text)
{
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// The field with its escapes undone, onto the end of `out`; false for an
// escape that is none.
bool AppendUnescaped(QByteArrayView field, QByteArray& out)
{
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == field.size())
            return false;
        switch (field[i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

std::optional<QString> Unescaped(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    if (!AppendUnescaped(field, out))
        return std::nullopt;
    return QString::fromUtf8(out);
}

std::optional<int> Number(QByteArrayView field, int low, int high)
{
    bool ok = false;
    const int n = field.toInt(&ok);
    if (!ok || n < low || n > high)
        return std::nullopt;
    return n;
}

// The fields of a line between tabs, at most `max` of them; `count` is
// max + 1 when there are more.
template <int max>
int SplitFields(QByteArrayView line, std::array<QByteArrayView, max>& fields)
{
    int count = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\t') {
            if (count == max)
                return max + 1;
            fields[size_t(count++)] = line.sliced(from, i - from);
            from = i + 1;
        }
    }
    return count;
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF),
// as Qt decodes without replacing anything.
bool IsStrictUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        char32_t cp, least;
        if ((c & 0xE0) == 0xC0) {
            n = 1, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, cp = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p <= n)
            return false;
        for (int k = 1; k <= n; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

// The first and the last character of well-formed UTF-8; 0 when empty.
char32_t FirstOfUtf8(QByteArrayView s)
{
    if (s.isEmpty())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    if (p[0] < 0x80)
        return p[0];
    const int n = p[0] >= 0xF0 ? 3 : p[0] >= 0xE0 ? 2 : 1;
    char32_t cp = p[0] & (0x3F >> n);
    for (int k = 1; k <= n; ++k)
        cp = (cp << 6) | (p[k] & 0x3F);
    return cp;
}

char32_t LastOfUtf8(QByteArrayView s)
{
    qsizetype i = s.size();
    if (i == 0)
        return 0;
    do
        --i;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80);
    return FirstOfUtf8(s.sliced(i));
}

}  // namespace

QString PageText::Plain(std::vector<std::pair<int, int>>* ranges) const
{
    QString out;
    if (ranges) {
        ranges->clear();
        ranges->reserve(words.size());
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        const PageWord& w = words[i];
        if (i > 0) {
            if (w.line != words[i - 1].line)
                out += u'\n';
            else if (!(IsUnspaced(LastOf(words[i - 1].text)) && IsUnspaced(FirstOf(w.text))))
                out += u' ';
        }
        if (ranges)
            ranges->emplace_back(int(out.size()), int(w.text.size()));
        out += w.text;
    }
    return out;
}

QByteArray EncodePageText(const PageText& text)
{
    QByteArray out = kMagic + '\t' + QByteArray::number(text.width) + '\t' + QByteArray::number(text.height) + '\t'
                     + Escaped(text.source) + '\n';
    for (const PageWord& w : text.words) {
        out += QByteArray::number(w.line) + '\t' + QByteArray::number(w.box.x()) + '\t' + QByteArray::number(w.box.y())
               + '\t' + QByteArray::number(w.box.width()) + '\t' + QByteArray::number(w.box.height()) + '\t'
               + QByteArray::number(w.confidence) + '\t' + Escaped(w.text) + '\n';
    }
    return out;
}

std::optional<PageText> DecodePageText(const QByteArray& bytes)
{
    if (bytes.size() > kPageTextReadLimit || !bytes.endsWith('\n'))
        return std::nullopt;
    constexpr int kMaxSide = 1 << 20;
    PageText text;
    std::array<QByteArrayView, 7> fields;
    qsizetype at = 0;
    bool first = true;
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        const QByteArrayView line(bytes.constData() + at, end - at);
        at = end + 1;
        const int count = SplitFields<7>(line, fields);
        if (first) {
            first = false;
            if (count != 4 || fields[0] != kMagic)
                return std::nullopt;
            const auto w = Number(fields[1], 0, kMaxSide), h = Number(fields[2], 0, kMaxSide);
            const auto source = Unescaped(fields[3]);
            if (!w || !h || !source)
                return std::nullopt;
            text.width = *w;
            text.height = *h;
            text.source = *source;
            continue;
        }
        if (count != 7 || int(text.words.size()) >= kPageTextWordLimit)
            return std::nullopt;
        const auto n = Number(fields[0], 0, kPageTextWordLimit), x = Number(fields[1], 0, kMaxSide),
                   y = Number(fields[2], 0, kMaxSide), w = Number(fields[3], 0, kMaxSide),
                   h = Number(fields[4], 0, kMaxSide), conf = Number(fields[5], -1, 100);
        const auto word = Unescaped(fields[6]);
        if (!n || !x || !y || !w || !h || !conf || !word)
            return std::nullopt;
        if (!text.words.empty() && *n < text.words.back().line)
            return std::nullopt;
        text.words.push_back(PageWord{*n, QRect(*x, *y, *w, *h), *conf, *word});
    }
    if (first)
        return std::nullopt;
    return text;
}

std::optional<QString> DecodePagePlainText(const QByteArray& bytes)
{
    // The words' UTF-8 joined first and decoded once: the same text as
    // decoding word by word, as long as every word is well-formed (a broken
    // sequence would be replaced word by word, never across two) and no word
    // begins with a byte-order mark.
    if (!IsStrictUtf8(bytes) || bytes.contains("\xEF\xBB\xBF")) {
        const std::optional<PageText> text = DecodePageText(bytes);
        return text ? std::optional(text->Plain()) : std::nullopt;
    }
    if (bytes.size() > kPageTextReadLimit || !bytes.endsWith('\n'))
        return std::nullopt;
    constexpr int kMaxSide = 1 << 20;
    QByteArray plain;
    plain.reserve(bytes.size() / 4);
    QByteArray scratch;
    std::array<QByteArrayView, 7> fields;
    int words = 0, lastLine = -1;
    char32_t lastChar = 0;
    qsizetype at = 0;
    bool first = true;
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        const QByteArrayView line(bytes.constData() + at, end - at);
        at = end + 1;
        const int count = SplitFields<7>(line, fields);
        if (first) {
            first = false;
            if (count != 4 || fields[0] != kMagic || !Number(fields[1], 0, kMaxSide) || !Number(fields[2], 0, kMaxSide)
                || !AppendUnescaped(fields[3], scratch))
                return std::nullopt;
            continue;
        }
        if (count != 7 || words >= kPageTextWordLimit)
            return std::nullopt;
        const auto n = Number(fields[0], 0, kPageTextWordLimit);
        if (!n || !Number(fields[1], 0, kMaxSide) || !Number(fields[2], 0, kMaxSide) || !Number(fields[3], 0, kMaxSide)
            || !Number(fields[4], 0, kMaxSide) || !Number(fields[5], -1, 100))
            return std::nullopt;
        if (words > 0 && *n < lastLine)
            return std::nullopt;
        scratch.clear();
        if (!AppendUnescaped(fields[6], scratch))
            return std::nullopt;
        if (words > 0) {
            if (*n != lastLine)
                plain += '\n';
            else if (!(IsUnspaced(lastChar) && IsUnspaced(FirstOfUtf8(scratch))))
                plain += ' ';
        }
        plain += scratch;
        lastChar = LastOfUtf8(scratch);
        lastLine = *n;
        ++words;
    }
    if (first)
        return std::nullopt;
    return QString::fromUtf8(plain);
}

std::optional<QString> ReadPagePlainText(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const FileRead read = ReadArchiveFile(path, kPageTextReadLimit);
    if (read.status != FileRead::Read)
        return std::nullopt;
    return DecodePagePlainText(read.bytes);
}

std::optional<PageText> ReadPageText(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const FileRead read = ReadArchiveFile(path, kPageTextReadLimit);  // found in any letter case
    if (read.status != FileRead::Read)
        return std::nullopt;
    return DecodePageText(read.bytes);
}

bool WritePageText(const QString& path, const PageText& text, IoError* error)
{
    return WriteFileAtomically(ResolvePathForWrite(path), EncodePageText(text), error);
}

QString WordsPathOfEntry(const QString& categoryFolder, const QString& entry)
{
    if (!IsSafePageEntry(entry))
        return {};
    const QString path = categoryFolder + u'/' + kWordsFolder + u'/' + PageNumberOfEntry(entry) + QStringLiteral(".tsv");
    return UnlessLink(path);
}

QString WordsPath(const QString& categoryFolder, const PageList& list, int index)
{
    return WordsPathOfEntry(categoryFolder, PageEntry(list, index));
}

bool MakeWordsFolder(const QString& categoryFolder, IoError* error)
{
    const QString existing = ResolveExistingPath(categoryFolder + u'/' + kWordsFolder);
    struct stat st {};
    if (::lstat(QFile::encodeName(existing).constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (error)
            *error = IoErrorFromErrno(S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR);
        return false;
    }
    if (::mkdir(QFile::encodeName(categoryFolder + u'/' + kWordsFolder).constData(), 0777) == 0 || errno == EEXIST)
        return true;
    if (error)
        *error = IoErrorFromErrno(errno);
    return false;
}

std::vector<PageToRecognise> PagesWithoutText(const QString& categoryFolder, const PageList& list, bool andWithText)
{
    QSet<QString> done;
    const QString words = ResolveExistingPath(categoryFolder + u'/' + kWordsFolder);
    if (!andWithText && !IsSymbolicLink(words))
        for (const QString& name : QDir(words).entryList(QDir::Files | QDir::Hidden))
            done.insert(name.toLower());
    std::vector<PageToRecognise> pages;
    QSet<QString> seen;
    for (int i = 0; i < list.Count(); ++i) {
        const QString entry = PageEntry(list, i);
        if (seen.contains(entry) || !IsSafePageEntry(entry))
            continue;
        seen.insert(entry);
        if (done.contains((PageNumberOfEntry(entry) + QStringLiteral(".tsv")).toLower()))
            continue;
        const QString image = ImagePath(categoryFolder, list, i);
        if (image.isEmpty())
            continue;
        const QString path = ResolveExistingPath(image);
        const ListStamp stamp = FileStampOf(path);
        if (stamp.size <= 0)
            continue;
        pages.push_back({entry, path, stamp});
    }
    return pages;
}
