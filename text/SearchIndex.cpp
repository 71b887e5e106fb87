// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/SearchIndex.h"

#include "core/ArchiveFiles.h"
#include "core/Categories.h"
#include "core/Memo.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "text/Fold.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <thread>

namespace {

constexpr char kMagic[] = "TolvaneSearchCache";
constexpr qint32 kVersion = 1;
constexpr qint64 kCacheReadLimit = qint64(1) << 30;

struct Stamp {
    qint64 size = -1;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const QString& path)
{
    Stamp s;
    struct stat st {};
    if (!path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        s.size = st.st_size;
        s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        s.inode = st.st_ino;
    }
    return s;
}

QDataStream& operator<<(QDataStream& out, const Stamp& s) { return out << s.size << s.modifiedNs << s.inode; }
QDataStream& operator>>(QDataStream& in, Stamp& s) { return in >> s.size >> s.modifiedNs >> s.inode; }

}  // namespace

struct SearchRecord {
    QString entry;
    int pageIndex = 0;
    quint8 source = SearchHit::Memo;
    Stamp stamp;
    quint32 offset = 0;
    quint32 length = 0;
};

struct SearchCategory {
    QString name;
    Stamp list, text, words;
    std::vector<SearchRecord> records;
    QByteArray blob;  // the folded texts one after the other, each ended by a NUL
};

namespace {

std::array<Stamp, 3> FolderStamps(const QString& folder)
{
    return {StampOf(folder + QStringLiteral("/FileList.txt")), StampOf(folder + QStringLiteral("/Text")),
            StampOf(folder + u'/' + kWordsFolder)};
}

QString CacheFileName(const QString& category)
{
    return QString::fromLatin1(QCryptographicHash::hash(category.toUtf8(), QCryptographicHash::Sha1).toHex())
           + QStringLiteral(".idx");
}

quint64 Checksum(const QByteArray& bytes)
{
    return std::hash<std::string_view>{}(std::string_view(bytes.constData(), size_t(bytes.size())));
}

QByteArray Encode(const SearchCategory& c, const QString& root)
{
    QByteArray body;
    {
        QDataStream out(&body, QIODevice::WriteOnly);
        out << root << c.name << c.list << c.text << c.words << quint32(c.records.size());
        for (const SearchRecord& r : c.records)
            out << r.entry << qint32(r.pageIndex) << r.source << r.stamp << r.offset << r.length;
        out << c.blob;
    }
    QByteArray file = QByteArray(kMagic);
    QDataStream out(&file, QIODevice::Append);
    out << kVersion << Checksum(body);
    return file + body;
}

// A cache file is trusted only when every part of it holds together.
std::shared_ptr<SearchCategory> Decode(const QByteArray& file, const QString& root, const QString& name)
{
    const qsizetype head = qsizetype(sizeof(kMagic) - 1);
    if (file.size() < head + 12 || !file.startsWith(kMagic))
        return nullptr;
    QDataStream in(file.mid(head, 12));
    qint32 version = 0;
    quint64 sum = 0;
    in >> version >> sum;
    const QByteArray body = file.mid(head + 12);
    if (version != kVersion || sum != Checksum(body))
        return nullptr;
    QDataStream data(body);
    auto c = std::make_shared<SearchCategory>();
    QString storedRoot;
    quint32 count = 0;
    data >> storedRoot >> c->name >> c->list >> c->text >> c->words >> count;
    if (data.status() != QDataStream::Ok || storedRoot != root || c->name != name || count > 4 * kPageListLineLimit)
        return nullptr;
    c->records.resize(count);
    for (SearchRecord& r : c->records) {
        qint32 index = 0;
        data >> r.entry >> index >> r.source >> r.stamp >> r.offset >> r.length;
        r.pageIndex = index;
    }
    data >> c->blob;
    if (data.status() != QDataStream::Ok || !data.atEnd())
        return nullptr;
    quint64 next = 0;
    for (const SearchRecord& r : c->records) {
        if (r.offset != next || quint64(r.offset) + r.length + 1 > quint64(c->blob.size())
            || c->blob.at(r.offset + r.length) != '\0' || r.source > SearchHit::Words)
            return nullptr;
        next = quint64(r.offset) + r.length + 1;
    }
    if (next != quint64(c->blob.size()))
        return nullptr;
    return c;
}

QString SourcePath(const QString& folder, const QString& entry, quint8 source)
{
    if (source == SearchHit::Memo) {
        PageList one;
        one.lines << entry;
        return MemoPath(folder, one, 0);
    }
    return WordsPathOfEntry(folder, entry);
}

// The text of the file at `path`, as SourcePath gives it (looked at for
// links already).
QString SourceTextAt(const QString& path, quint8 source, std::vector<std::pair<int, int>>* ranges = nullptr)
{
    if (path.isEmpty())
        return {};
    if (source == SearchHit::Memo) {
        const auto memo = ReadMemo(path);
        return memo ? memo->text : QString();
    }
    if (!ranges)
        return ReadPagePlainText(path).value_or(QString());
    const auto words = ReadPageText(path);
    return words ? words->Plain(ranges) : QString();
}

QString SourceText(const QString& folder, const QString& entry, quint8 source,
                   std::vector<std::pair<int, int>>* ranges = nullptr)
{
    return SourceTextAt(SourcePath(folder, entry, source), source, ranges);
}

// The stamp of the file of `source` for `entry` where it is there as
// spelled and no link, with its path; else a stamp of size -1. What
// SourcePath and StampOf give together for such a file, with half the
// looks at the disk: a build from nothing looks at some 400,000 files.
Stamp SourceStamp(const QString& folder, const QString& entry, quint8 source, QString& path)
{
    const QString number = PageNumberOfEntry(entry);
    path = source == SearchHit::Memo ? folder + QStringLiteral("/Text/") + number + QStringLiteral(".txt")
                                     : folder + u'/' + kWordsFolder + u'/' + number + QStringLiteral(".tsv");
    Stamp s;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        s.size = st.st_size;
        s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        s.inode = st.st_ino;
    }
    return s;
}

// Re-reads only the pages whose files changed since `old` was made.
std::shared_ptr<SearchCategory> Rebuild(const QString& folder, const QString& name, const SearchCategory* old,
                                        const std::array<Stamp, 3>& stamps, const std::function<bool()>& stop)
{
    auto c = std::make_shared<SearchCategory>();
    c->name = name;
    c->list = stamps[0];
    c->text = stamps[1];
    c->words = stamps[2];
    QHash<QString, const SearchRecord*> before[2];
    if (old)
        for (const SearchRecord& r : old->records)
            before[r.source].insert(r.entry, &r);
    PageList list;
    LoadPageList(list, folder);
    QSet<QString> seen;
    for (int i = 0; i < list.Count(); ++i) {
        if (stop && (i & 63) == 0 && stop())
            return nullptr;
        const QString entry = PageEntry(list, i);
        if (!IsSafePageEntry(entry) || seen.contains(entry))
            continue;
        seen.insert(entry);
        for (quint8 source : {quint8(SearchHit::Memo), quint8(SearchHit::Words)}) {
            QString path;
            const Stamp stamp = SourceStamp(folder, entry, source, path);
            if (stamp.size < 0)
                continue;
            SearchRecord r{entry, i, source, stamp, quint32(c->blob.size()), 0};
            const SearchRecord* was = before[source].value(entry);
            if (was && was->stamp == stamp) {
                r.length = was->length;
                c->blob.append(old->blob.constData() + was->offset, was->length);
            } else {
                const QByteArray folded = Folded(SourceTextAt(path, source));
                r.length = quint32(folded.size());
                c->blob.append(folded);
            }
            c->blob.append('\0');
            c->records.push_back(std::move(r));
        }
    }
    return c;
}

}  // namespace

SearchIndex::SearchIndex(QString archiveRoot, QString cacheFolder)
    : root_(QFileInfo(archiveRoot).canonicalFilePath().isEmpty() ? archiveRoot
                                                                  : QFileInfo(archiveRoot).canonicalFilePath()),
      cacheFolder_(cacheFolder.isEmpty() ? DefaultCacheFolder(archiveRoot) : cacheFolder)
{
}

SearchIndex::~SearchIndex() = default;

QString SearchIndex::DefaultCacheFolder(const QString& archiveRoot)
{
    QString canonical = QFileInfo(archiveRoot).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(QDir(archiveRoot).absolutePath());
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Osk/Tolvane/search/")
           + QString::fromLatin1(hash);
}

SearchStatus SearchIndex::Refresh(const std::function<bool()>& stop)
{
    SearchStatus status;
    if (!QFileInfo(root_).isDir())
        return {false, QStringLiteral("there is no archive folder '%1'").arg(root_)};
    QDir().mkpath(cacheFolder_);
    const QString cacheCanonical = QFileInfo(cacheFolder_).canonicalFilePath();
    if (cacheCanonical.isEmpty())
        return {false, QStringLiteral("cannot make the search cache folder '%1'").arg(cacheFolder_)};
    if (cacheCanonical == root_ || cacheCanonical.startsWith(root_ + u'/'))
        return {false, QStringLiteral("the search cache '%1' must not be inside the archive").arg(cacheFolder_)};

    // Sorted as check lists them: the folder's own order differs between machines.
    QStringList names = ListCategoryNames(root_);
    std::sort(names.begin(), names.end());
    QHash<QString, std::shared_ptr<SearchCategory>> current;
    for (const auto& c : categories_)
        current.insert(c->name, c);
    std::vector<std::shared_ptr<SearchCategory>> fresh(names.size());
    std::vector<QString> problems(names.size());
    std::atomic<int> next{0};
    std::atomic<bool> stopped{false};
    auto work = [&] {
        for (int i; (i = next++) < int(names.size());) {
            if (stopped || (stop && stop())) {
                stopped = true;
                return;
            }
            const QString folder = root_ + u'/' + names[i];
            if (!CategoryStaysInside(folder, root_))
                continue;
            const auto stamps = FolderStamps(folder);
            std::shared_ptr<SearchCategory> have = current.value(names[i]);
            const QString cacheFile = cacheFolder_ + u'/' + CacheFileName(names[i]);
            if (!have) {
                const FileRead read = ReadArchiveFile(cacheFile, kCacheReadLimit);
                if (read.status == FileRead::Read)
                    have = Decode(read.bytes, root_, names[i]);
            }
            if (have && have->list == stamps[0] && have->text == stamps[1] && have->words == stamps[2]) {
                fresh[i] = have;
                continue;
            }
            fresh[i] = Rebuild(folder, names[i], have.get(), stamps, stop);
            if (!fresh[i]) {
                stopped = true;
                return;
            }
            IoError error;
            if (!WriteFileAtomically(cacheFile, Encode(*fresh[i], root_), &error))
                problems[i] = QStringLiteral("cannot write the search cache of '%1': %2").arg(names[i], error.reason);
        }
    };
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 4);
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (auto& t : pool)
        t.join();
    if (stopped)
        return {false, QStringLiteral("stopped")};

    categories_.clear();
    QSet<QString> kept;
    for (auto& c : fresh)
        if (c) {
            kept.insert(CacheFileName(c->name));
            categories_.push_back(std::move(c));
        }
    // The caches of categories gone (removed or renamed).
    const QStringList files = QDir(cacheFolder_).entryList({QStringLiteral("*.idx")}, QDir::Files);
    for (const QString& f : files)
        if (!kept.contains(f))
            QFile::remove(cacheFolder_ + u'/' + f);
    for (const QString& p : problems)
        if (!p.isEmpty())
            status.message += (status.message.isEmpty() ? QString() : QStringLiteral("; ")) + p;
    ++generation_;
    return status;
}

int SearchIndex::PageSourceCount() const
{
    int n = 0;
    for (const auto& c : categories_)
        n += int(c->records.size());
    return n;
}

namespace {

constexpr int kSnippetContext = 25;
constexpr int kSnippetHitLimit = 60;

// The snippet of the first hit, with every hit inside it marked.
bool MakeHit(const QString& folder, const QByteArray& query, SearchHit& hit)
{
    std::vector<std::pair<int, int>> ranges;
    const QString text = SourceText(folder, hit.entry, hit.source, &ranges);
    const FoldedText folded = FoldText(text, true);
    std::vector<std::pair<int, int>> found;  // original [begin, end)
    for (qsizetype at = folded.text.indexOf(query); at >= 0; at = folded.text.indexOf(query, at + query.size()))
        found.push_back(OriginalRange(folded, int(at), int(at + query.size())));
    if (found.empty())
        return false;  // changed since it was indexed
    const auto [a, b] = found.front();
    int begin = std::max(0, a - kSnippetContext);
    int end = std::min(int(text.size()), std::min(b, a + kSnippetHitLimit) + kSnippetContext);
    if (begin > 0 && text[begin].isLowSurrogate())
        ++begin;
    if (end < text.size() && text[end].isLowSurrogate())
        --end;
    const QString prefix = begin > 0 ? QStringLiteral("…") : QString();
    QString snippet = prefix + text.mid(begin, end - begin) + (end < text.size() ? QStringLiteral("…") : QString());
    for (QChar& ch : snippet)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F || ch == QChar::LineSeparator || ch == QChar::ParagraphSeparator)
            ch = u' ';
    while (snippet.endsWith(u' '))
        snippet.chop(1);
    int lead = 0;
    while (lead < snippet.size() && snippet[lead] == u' ')
        ++lead;
    hit.snippet = snippet.mid(lead);
    for (const auto& [s, e] : found) {
        const int ms = std::max(s, begin), me = std::min(e, end);
        if (me > ms)
            hit.marked.emplace_back(ms - begin + int(prefix.size()) - lead, me - ms);
        if (hit.source == SearchHit::Words)
            for (int w = 0; w < int(ranges.size()); ++w)
                if (ranges[w].first < e && ranges[w].first + ranges[w].second > s)
                    hit.words.push_back(w);
    }
    std::sort(hit.words.begin(), hit.words.end());
    hit.words.erase(std::unique(hit.words.begin(), hit.words.end()), hit.words.end());
    return true;
}

bool Contains(const QByteArray& blob, const SearchRecord& r, const QByteArray& q)
{
    return memmem(blob.constData() + r.offset, r.length, q.constData(), size_t(q.size())) != nullptr;
}

}  // namespace

SearchResult SearchIndex::Find(const QString& query, int maxHits, const std::function<bool()>& stop)
{
    SearchResult result;
    const QByteArray q = Folded(query);
    if (q.isEmpty())
        return result;
    // Scanning stops at the first match past maxHits; a query that contains
    // the previous one filters the previous matches, then scans on from where
    // that scan stopped (nothing before it held the previous query).
    std::vector<std::pair<int, int>> matches;
    std::pair<int, int> from{0, 0};
    const bool narrow = lastGeneration_ == generation_ && !lastQuery_.isEmpty() && q.contains(lastQuery_);
    if (narrow) {
        for (std::size_t k = 0; k < lastMatches_.size() && int(matches.size()) <= maxHits; ++k) {
            const auto [ci, ri] = lastMatches_[k];
            const SearchCategory& c = *categories_[ci];
            if (Contains(c.blob, c.records[ri], q))
                matches.emplace_back(ci, ri);
            from = {ci, ri + 1};
        }
        if (int(matches.size()) <= maxHits)
            from = lastResume_;
    }
    for (int ci = from.first; ci < int(categories_.size()) && int(matches.size()) <= maxHits; ++ci) {
        if (stop && stop()) {
            result.stopped = true;
            return result;
        }
        const SearchCategory& c = *categories_[ci];
        const char* data = c.blob.constData();
        const size_t size = size_t(c.blob.size());
        int ri = ci == from.first ? from.second : 0;
        size_t at = ri < int(c.records.size()) ? c.records[ri].offset : size;
        while (at < size && int(matches.size()) <= maxHits) {
            const void* p = memmem(data + at, size - at, q.constData(), size_t(q.size()));
            if (!p)
                break;
            const size_t pos = size_t(static_cast<const char*>(p) - data);
            while (ri < int(c.records.size()) && c.records[ri].offset + c.records[ri].length < pos)
                ++ri;
            if (ri >= int(c.records.size()))
                break;
            matches.emplace_back(ci, ri);
            at = c.records[ri].offset + c.records[ri].length + 1;
            ++ri;
        }
        from = {ci, ri};
        if (at >= size || int(matches.size()) <= maxHits)
            from = {ci + 1, 0};
    }
    lastQuery_ = q;
    lastGeneration_ = generation_;
    lastMatches_ = matches;
    lastResume_ = int(matches.size()) > maxHits ? from : std::pair<int, int>{int(categories_.size()), 0};

    result.matched = int(matches.size());
    for (const auto& [ci, ri] : matches) {
        if (int(result.hits.size()) >= maxHits) {
            result.more = true;
            break;
        }
        if (stop && stop()) {
            result.stopped = true;
            break;
        }
        const SearchCategory& c = *categories_[ci];
        const SearchRecord& r = c.records[ri];
        SearchHit hit;
        hit.category = c.name;
        hit.entry = r.entry;
        hit.pageIndex = r.pageIndex;
        hit.source = SearchHit::Source(r.source);
        if (MakeHit(root_ + u'/' + c.name, q, hit))
            result.hits.push_back(std::move(hit));
    }
    return result;
}
