// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The folded text of every page's memo and recognised text, per category,
// cached under the user's own cache folder (never in the archive, which other
// workstations share) and searched by bytes.
//
// One hit per page and source (memo, recognised text): a page listed twice is
// taken at its first line; its memo and its words are two hits. Hits come in
// category order, then page order, memo before words.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct SearchHit {
    enum Source { Memo, Words };
    QString category;
    QString entry;
    int pageIndex = -1;
    Source source = Memo;
    QString snippet;                          // the original text around the hit, line breaks as spaces
    std::vector<std::pair<int, int>> marked;  // (start, length) of each hit in the snippet
    std::vector<int> words;                   // indexes into PageText::words the hits cover (Words)
};

struct SearchResult {
    std::vector<SearchHit> hits;
    int matched = 0;       // pages-and-sources found holding the folded query (the scan stops past maxHits)
    bool more = false;     // matched more than the hits given
    bool stopped = false;  // stop() said so: the result is partial
};

struct SearchStatus {
    bool ok = true;
    QString message;  // when not ok, or what could not be cached
};

struct SearchCategory;

class SearchIndex {
public:
    // The cache folder defaults to the user's cache location for this archive.
    explicit SearchIndex(QString archiveRoot, QString cacheFolder = {});
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    static QString DefaultCacheFolder(const QString& archiveRoot);
    QString CacheFolder() const { return cacheFolder_; }

    // Brings every category's cache up to date with the archive.
    SearchStatus Refresh(const std::function<bool()>& stop = {});

    // A query that contains the previous one searches only the previous
    // matches. Safe from one worker thread while nothing refreshes.
    SearchResult Find(const QString& query, int maxHits, const std::function<bool()>& stop = {});

    int PageSourceCount() const;

private:
    QString root_;
    QString cacheFolder_;
    std::vector<std::shared_ptr<SearchCategory>> categories_;
    quint64 generation_ = 0;
    // The last complete search, for narrowing: (category, record) matched.
    QByteArray lastQuery_;
    quint64 lastGeneration_ = ~quint64(0);
    std::vector<std::pair<int, int>> lastMatches_;
    std::pair<int, int> lastResume_;  // where the last scan stopped
};
