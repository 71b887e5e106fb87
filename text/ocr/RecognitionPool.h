// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recognition jobs on worker threads, each thread with an engine of its own,
// at the lowest priority (nice 19 on Linux), so that the window and other
// programs go first. The image is loaded on the worker, so that the caller's
// thread never decodes. Finished comes once per job that ran to the end, on
// the worker thread: connect with a receiver (a context object) to have it
// queued to that receiver's thread. A cancelled job gives none.

#include "text/ocr/Recogniser.h"

#include <QObject>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

class RecognitionPool : public QObject {
    Q_OBJECT
public:
    // threads <= 0: one per core.
    explicit RecognitionPool(RecognitionLanguages languages, int threads = 0, QObject* parent = nullptr);
    // Drops the jobs not begun and stops the running ones.
    ~RecognitionPool() override;

    void Submit(quint64 id, std::function<QImage()> load);
    void Cancel(quint64 id);
    void CancelAll();
    int Pending() const;  // waiting or running
    int ThreadCount() const;

    // What the window asks for: every core but one, at least one.
    static int BackgroundThreads();

signals:
    void Finished(quint64 id, RecognitionResult result);

private:
    struct State;
    std::shared_ptr<State> state_;
    std::vector<std::thread> threads_;
    void Work();
};
