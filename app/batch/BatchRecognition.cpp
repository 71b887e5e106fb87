// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/batch/BatchRecognition.h"

#include "app/batch/BatchSupport.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <chrono>

namespace batch {

BatchRecognition::BatchRecognition(ArchiveSession& session, const RecognitionLanguages& languages, int threads,
                                   bool redo)
    : session_(session), redo_(redo), pool_(languages, threads)
{
    // Straight from the worker into the queue.
    QObject::connect(&pool_, &RecognitionPool::Finished, [this](quint64 id, const RecognitionResult& result) {
        {
            std::lock_guard guard(mutex_);
            queue_.emplace_back(id, result);
        }
        arrived_.notify_one();
    });
}

BatchRecognition::~BatchRecognition()
{
    pool_.CancelAll();
}

void BatchRecognition::Submit(const QString& category, const QString& folder, const PageToRecognise& page)
{
    pages_.push_back({category, folder, page});
    pool_.Submit(pages_.size() - 1, [path = page.imagePath] { return DibToQImage(ImgKitFileLoad(path)); });
}

BatchRecognition::Kept BatchRecognition::Keep(bool wait, const std::function<void(int, int)>& progress)
{
    while (finished_ < Submitted()) {
        if (StopSignal()) {
            pool_.CancelAll();
            return Kept::Stopped;
        }
        std::unique_lock guard(mutex_);
        if (queue_.empty()) {
            if (!wait)
                return Kept::Going;
            // Woken by a result; the stop signals are looked at in between.
            arrived_.wait_for(guard, std::chrono::milliseconds(100), [&] { return !queue_.empty(); });
            continue;
        }
        auto [id, result] = std::move(queue_.front());
        queue_.pop_front();
        guard.unlock();
        ++finished_;
        if (!Store(pages_[id], result))
            return Kept::LockLost;
        if (progress)
            progress(finished_, Submitted());
    }
    return Kept::Going;
}

bool BatchRecognition::Store(const Page& p, const RecognitionResult& result)
{
    const QString name = EscapedName(p.category) + u'/' + EscapedName(p.page.entry);
    if (!result.ok) {
        PrintError(QStringLiteral("%1: not recognised: %2").arg(name, result.reason));
        ++failed_;
        return true;
    }
    const PageResult stored = session_.StoreRecognisedText(p.folder, p.page.entry, p.page.imageStamp, result.text, redo_);
    if (stored.lockLost)
        return false;
    if (!stored) {
        PrintError(QStringLiteral("%1: the text is not kept: %2%3")
                       .arg(name, stored.message,
                            stored.error.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(stored.error.reason)));
        ++failed_;
        return true;
    }
    ++recognised_;
    return true;
}

}  // namespace batch
