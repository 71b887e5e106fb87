// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Texts of pages recognised on low-priority threads while a command goes on
// (ocr, and add and scan after each page they file), each kept beside its
// page through the command's session by the command's own thread, which
// has no event loop.

#include "core/ArchiveSession.h"
#include "core/PageText.h"
#include "text/ocr/RecognitionPool.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace batch {

class BatchRecognition {
public:
    // `redo`: a text already there is replaced (ocr --redo).
    BatchRecognition(ArchiveSession& session, const RecognitionLanguages& languages, int threads, bool redo);
    ~BatchRecognition();

    // `page` of the category `category` (its name, for the messages) in
    // `folder`, recognised when a thread is free.
    void Submit(const QString& category, const QString& folder, const PageToRecognise& page);

    enum class Kept { Going, LockLost, Stopped };
    // Keeps the texts recognised so far, without waiting.
    Kept KeepReady() { return Keep(false, {}); }
    // Keeps every text as it comes until none is left; `progress` is told
    // after each page (finished, submitted). Stopped at a stop signal, with
    // the pages not begun dropped.
    Kept KeepAll(const std::function<void(int, int)>& progress = {}) { return Keep(true, progress); }

    int Submitted() const { return int(pages_.size()); }
    int Recognised() const { return recognised_; }
    int Failed() const { return failed_; }

private:
    struct Page {
        QString category;
        QString folder;
        PageToRecognise page;
    };
    Kept Keep(bool wait, const std::function<void(int, int)>& progress);
    // A result stored (or why not, printed); false when the lock is lost.
    bool Store(const Page& page, const RecognitionResult& result);

    ArchiveSession& session_;
    const bool redo_;
    std::vector<Page> pages_;
    int finished_ = 0;
    int recognised_ = 0;
    int failed_ = 0;

    // The results as the workers give them.
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::pair<quint64, RecognitionResult>> queue_;
    RecognitionPool pool_;  // last: its workers end before the queue goes
};

}  // namespace batch
