// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/SearchRunner.h"

#include <QMetaObject>

SearchRunner::SearchRunner(QString archiveRoot, QString cacheFolder, QObject* parent)
    : QObject(parent), index_(std::move(archiveRoot), std::move(cacheFolder))
{
    qRegisterMetaType<SearchResult>("SearchResult");
    thread_ = std::thread([this] { Run(); });
}

SearchRunner::~SearchRunner()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

quint64 SearchRunner::Ask(const QString& query, int maxHits)
{
    quint64 ticket;
    {
        std::lock_guard lock(mutex_);
        ticket = ++asked_;
        query_ = query;
        maxHits_ = maxHits;
    }
    if (query.isEmpty()) {
        // Nothing to look for: answered here, and the thread stops what it does.
        QMetaObject::invokeMethod(
            this, [this, ticket, query] { emit Found(ticket, query, SearchResult{}, QString()); },
            Qt::QueuedConnection);
        return ticket;
    }
    wake_.notify_all();
    return ticket;
}

void SearchRunner::Invalidate()
{
    std::lock_guard lock(mutex_);
    stale_ = true;
}

void SearchRunner::Run()
{
    for (;;) {
        quint64 ticket;
        QString query;
        int maxHits;
        bool refresh;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || (asked_ != taken_ && !query_.isEmpty()); });
            if (quit_)
                return;
            ticket = taken_ = asked_;
            query = query_;
            maxHits = maxHits_;
            refresh = stale_;
            stale_ = false;
        }
        auto superseded = [this, ticket] { return quit_ || asked_ != ticket; };
        QString problem;
        if (refresh) {
            // Not stopped by a newer question: a half-read index would be
            // searched by it. Only quitting cuts it short.
            const SearchStatus status = index_.Refresh([this] { return quit_.load(); });
            if (!status.ok || !status.message.isEmpty())
                problem = status.message;
            if (!status.ok) {
                std::lock_guard lock(mutex_);
                stale_ = true;  // tried again at the next question
            }
        }
        SearchResult result = index_.Find(query, maxHits, superseded);
        if (result.stopped)
            continue;
        QMetaObject::invokeMethod(
            this,
            [this, ticket, query, result = std::move(result), problem] {
                if (ticket != asked_)
                    return;  // a newer question is on its way
                emit Found(ticket, query, result, problem);
            },
            Qt::QueuedConnection);
    }
}
