// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The search index on a thread of its own, for a window that searches as the
// user types: each question supersedes the one before (which stops where it
// is), and only the answer to the latest question is given, on the asker's
// thread. The index is brought up to date with the archive before the first
// question and again after Invalidate.

#include "text/SearchIndex.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class SearchRunner : public QObject {
    Q_OBJECT
public:
    explicit SearchRunner(QString archiveRoot, QString cacheFolder = {}, QObject* parent = nullptr);
    ~SearchRunner() override;

    // Asks for at most `maxHits` hits of `query`; the answer comes as Found
    // with the returned ticket. An empty query is answered at once, empty.
    quint64 Ask(const QString& query, int maxHits);
    // The archive may have changed: the next question reads it again.
    void Invalidate();

signals:
    // `problem`: what kept the index from being read whole (the hits are
    // what could be searched), else empty.
    void Found(quint64 ticket, const QString& query, const SearchResult& result, const QString& problem);

private:
    void Run();

    SearchIndex index_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<quint64> asked_{0};  // the latest ticket (read unlocked by the search's stop)
    quint64 taken_ = 0;  // the latest ticket the thread took up
    QString query_;
    int maxHits_ = 0;
    bool stale_ = true;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};
