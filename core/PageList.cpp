// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PageList.h"

#include <QFileInfo>

#include "core/ArchiveFiles.h"
#include "core/Decimal.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

const QString kPageLimitMessage = QStringLiteral("1000枚を超えるイメージは保存できません");

namespace {

const QString kEmptyHeader = QStringLiteral("00000000");

QString FileListPath(const QString& categoryFolder)
{
    return categoryFolder + QStringLiteral("/FileList.txt");
}

bool ValidIndex(const PageList& list, int index)
{
    return index >= 0 && index < list.Count();
}

// The entry at a valid index when it may name files, else empty.
QString SafeEntryAt(const PageList& list, int index)
{
    if (!ValidIndex(list, index))
        return QString();
    const QString& entry = list.lines.at(index + 1);
    return IsSafePageEntry(entry) ? entry : QString();
}

constexpr int64_t kLastPageNumber = 99999999;

QString ReplaceExtension(const QString& entry, const QString& extension)
{
    return PageNumberOfEntry(entry) + extension;
}

// Adds to `used` the page numbers (lower case) of the entries of
// categoryFolder/sub whose extension is one of `extensions` (any case).
void CollectUsedNumbers(QSet<QString>& used, const QString& categoryFolder, const QString& sub,
                        std::initializer_list<QStringView> extensions)
{
    const QString folder = ResolveExistingPath(categoryFolder + u'/' + sub);
    const QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names) {
        if (IsAtomicWriteLeftover(name))
            continue;
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot < 0)
            continue;
        const QStringView ext = QStringView(name).mid(dot);
        for (QStringView wanted : extensions) {
            if (ext.compare(wanted, Qt::CaseInsensitive) == 0) {
                used.insert(name.left(dot).toLower());
                break;
            }
        }
    }
}

}  // namespace

bool PageLimitReached(const PageList& list)
{
    return list.lines.size() >= kPageListLineLimit;
}

namespace {

// Splits CP932 bytes into lines by the string-list rule as they come, a
// chunk at a time: CR and LF are single bytes that no double-byte CP932
// code holds, so lines are split before they are decoded.
class ListSplitter {
public:
    explicit ListSplitter(ListFile& out) : out_(out) {}

    void Feed(const char* data, qsizetype n)
    {
        const char* end = data + n;
        while (data < end) {
            if (afterCr_) {
                afterCr_ = false;
                if (*data == '\n') {
                    ++data;
                    continue;
                }
            }
            const char* stop = data;
            while (stop < end && *stop != '\r' && *stop != '\n')
                ++stop;
            Take(data, stop - data);
            if (stop == end)
                break;
            afterCr_ = *stop == '\r';
            EndLine();
            data = stop + 1;
        }
    }

    void Finish()
    {
        if (open_) {
            out_.endsWithBreak = false;
            EndLine();
        }
    }

private:
    void Take(const char* data, qsizetype n)
    {
        if (n == 0)
            return;
        open_ = true;
        length_ += n;
        const qsizetype room = kListLineKeptBytes - line_.size();
        if (room > 0)
            line_.append(data, std::min(room, n));
    }

    void EndLine()
    {
        QString text = DecodeCp932(line_);
        if (length_ > kListLineKeptBytes) {
            out_.exact = false;
            out_.cutLines.push_back({int(out_.lines.size()) + 1, length_});
        } else if (out_.exact && EncodeCp932(text) != line_) {
            out_.exact = false;
        }
        out_.lines.append(std::move(text));
        line_.clear();
        length_ = 0;
        open_ = false;
    }

    ListFile& out_;
    QByteArray line_;
    qint64 length_ = 0;
    bool open_ = false;  // bytes of a line not yet ended
    bool afterCr_ = false;
};

}  // namespace

ListFile ReadListFile(const QString& path)
{
    ListFile list;
    ListSplitter splitter(list);
    const FileRead read = ReadArchiveChunks(path, [&](const char* data, qsizetype n) {
        splitter.Feed(data, n);
        return true;
    });
    list.status = read.status;
    list.kind = read.kind;
    list.error = read.error;
    if (read.status == FileRead::Read)
        splitter.Finish();
    else
        list.lines.clear();
    return list;
}

QStringList ParsePageListBytes(const QByteArray& bytes)
{
    ListFile list;
    ListSplitter splitter(list);
    splitter.Feed(bytes.constData(), bytes.size());
    splitter.Finish();
    if (list.lines.isEmpty())
        list.lines = QStringList{kEmptyHeader};
    return list.lines;
}

bool IsSafePageEntry(const QString& entry)
{
    if (entry.isEmpty() || entry.size() > 255 || entry == u"." || entry == u".." || IsAtomicWriteLeftover(entry))
        return false;
    for (const QChar c : entry) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

void LoadPageList(PageList& list, const QString& categoryFolder)
{
    ListFile file = ReadListFile(FileListPath(categoryFolder));
    list.lines = file.status == FileRead::Read && !file.lines.isEmpty() ? std::move(file.lines)
                                                                        : QStringList{kEmptyHeader};
}

bool PageListUnreadable(const QString& categoryFolder)
{
    FileRead status;
    const int fd = OpenArchiveFile(FileListPath(categoryFolder), status);
    if (fd >= 0)
        ::close(fd);
    return status.status != FileRead::Read && status.status != FileRead::Missing;
}

ListRead ReadPageListForChange(PageList& list, const QString& categoryFolder)
{
    ListFile file = ReadListFile(FileListPath(categoryFolder));
    if (file.status == FileRead::Missing) {
        list.lines = QStringList{kEmptyHeader};
        return ListRead::Read;
    }
    if (file.status != FileRead::Read)
        return ListRead::Unreadable;
    const bool exact = file.exact;
    list.lines = file.lines.isEmpty() ? QStringList{kEmptyHeader} : std::move(file.lines);
    return exact ? ListRead::Read : ListRead::NotRewritable;
}

ListStamp PageListStamp(const QString& categoryFolder)
{
    return FileStampOf(FileListPath(categoryFolder));
}

ListStamp FileStampOf(const QString& path)
{
    struct stat st {};
    ListStamp stamp;
    if (::stat(QFile::encodeName(ResolveExistingPath(path)).constData(), &st) == 0) {
        stamp.size = st.st_size;
        stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return stamp;
}

int IndexOfEntry(const PageList& list, const QString& entry, int nth)
{
    int first = -1;
    int seen = 0;
    for (int i = 0; i < list.Count(); ++i) {
        if (list.lines.at(i + 1) != entry)
            continue;
        if (first < 0)
            first = i;
        if (seen++ == nth)
            return i;
    }
    return first;
}

bool SavePageList(const PageList& list, const QString& categoryFolder, IoError* error)
{
    return WriteFileAtomically(FileListPath(categoryFolder), EncodeCp932(JoinTextLines(list.lines)), error);
}

QString IssuePageNumber(PageList& list, const QString& categoryFolder)
{
    const int64_t header = list.lines.isEmpty() ? 0 : ParseDecimal(list.lines.first());

    QSet<QString> used;
    CollectUsedNumbers(used, categoryFolder, QStringLiteral("Image"), {u".jpg", u".bmp", u".tif"});
    CollectUsedNumbers(used, categoryFolder, QStringLiteral("Thumb"), {u".jpg"});
    CollectUsedNumbers(used, categoryFolder, QStringLiteral("Text"), {u".txt"});
    CollectUsedNumbers(used, categoryFolder, QStringLiteral("Words"), {u".tsv"});
    for (qsizetype i = 1; i < list.lines.size(); ++i)
        used.insert(PageNumberOfEntry(list.lines.at(i)).toLower());

    int64_t next = std::max<int64_t>(int64_t(header) + 1, 1);
    QString number = QString::asprintf("%08lld", static_cast<long long>(next));
    while (next <= kLastPageNumber && used.contains(number)) {
        ++next;
        number = QString::asprintf("%08lld", static_cast<long long>(next));
    }
    if (next > kLastPageNumber)
        return QString();  // a ninth digit would make a name no reader expects

    if (list.lines.isEmpty())
        list.lines.append(number);
    else
        list.lines[0] = number;
    return number;
}

void AppendPageEntry(PageList& list, const QString& pageNumber, const QString& extension)
{
    if (list.lines.isEmpty())
        list.lines.append(kEmptyHeader);
    list.lines.append(pageNumber + extension);
}

void RemovePageEntry(PageList& list, int index)
{
    if (ValidIndex(list, index))
        list.lines.removeAt(index + 1);
}

QString PageEntry(const PageList& list, int index)
{
    return ValidIndex(list, index) ? list.lines.at(index + 1) : QString();
}

QString PageNumberOfEntry(const QString& entry)
{
    const qsizetype dot = entry.lastIndexOf(u'.');
    return dot < 0 ? entry : entry.left(dot);
}

// Nothing is read or written through a symbolic link.
QString UnlessLink(const QString& path)
{
    if (IsSymbolicLink(path))
        return {};
    const QString resolved = ResolveExistingPath(path);
    return resolved != path && IsSymbolicLink(resolved) ? QString() : path;
}

QString ImagePath(const QString& categoryFolder, const PageList& list, int index)
{
    const QString entry = SafeEntryAt(list, index);
    return entry.isEmpty() ? QString() : UnlessLink(categoryFolder + QStringLiteral("/Image/") + entry);
}

QString ThumbPath(const QString& categoryFolder, const PageList& list, int index)
{
    const QString entry = SafeEntryAt(list, index);
    return entry.isEmpty() ? QString()
                           : UnlessLink(categoryFolder + QStringLiteral("/Thumb/")
                                        + ReplaceExtension(entry, QStringLiteral(".jpg")));
}

QString MemoPath(const QString& categoryFolder, const PageList& list, int index)
{
    const QString entry = SafeEntryAt(list, index);
    return entry.isEmpty() ? QString()
                           : UnlessLink(categoryFolder + QStringLiteral("/Text/")
                                        + ReplaceExtension(entry, QStringLiteral(".txt")));
}

bool PageNamesFiles(const QString& categoryFolder, const PageList& list, int index)
{
    return !ImagePath(categoryFolder, list, index).isEmpty() && !ThumbPath(categoryFolder, list, index).isEmpty()
           && !MemoPath(categoryFolder, list, index).isEmpty();
}

QString SaveFormatExtension(int saveFormat)
{
    switch (saveFormat) {
    case 1: return QStringLiteral(".bmp");
    case 2: return QStringLiteral(".tif");
    default: return QStringLiteral(".jpg");
    }
}
