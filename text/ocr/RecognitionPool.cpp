// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/ocr/RecognitionPool.h"

#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>

struct RecognitionPool::State {
    RecognitionLanguages languages;
    mutable std::mutex mutex;
    std::condition_variable wake;
    struct Job {
        quint64 id;
        std::function<QImage()> load;
    };
    std::deque<Job> waiting;
    std::multimap<quint64, std::shared_ptr<std::atomic<bool>>> running;
    bool stopping = false;
};

namespace {

// QThread's priorities do nothing under SCHED_OTHER; the nice value of the
// thread alone does.
void LowestPriority()
{
#ifdef Q_OS_LINUX
    ::setpriority(PRIO_PROCESS, ::gettid(), 19);
#endif
}

}  // namespace

RecognitionPool::RecognitionPool(RecognitionLanguages languages, int threads, QObject* parent)
    : QObject(parent), state_(std::make_shared<State>())
{
    static const int registered = qRegisterMetaType<RecognitionResult>();
    Q_UNUSED(registered);
    state_->languages = std::move(languages);
    if (threads <= 0)
        threads = qMax(1, QThread::idealThreadCount());
    // std::thread, joined: a QThread's wait() returns before its thread has
    // run the destructors of its thread storage (Qt's own thread data, the
    // engines), which would then run while the program goes on, or ends.
    for (int i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] {
                LowestPriority();
                Work();
                ReleaseRecognitionEngine();
            });
        } catch (const std::system_error&) {
            break;  // no thread to be had: the ones started do the work
        }
    }
}

RecognitionPool::~RecognitionPool()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->waiting.clear();
        for (auto& [id, flag] : state_->running)
            flag->store(true);
    }
    state_->wake.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void RecognitionPool::Submit(quint64 id, std::function<QImage()> load)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->waiting.push_back({id, std::move(load)});
    }
    state_->wake.notify_one();
}

void RecognitionPool::Cancel(quint64 id)
{
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->waiting, [id](const State::Job& job) { return job.id == id; });
    auto [first, last] = state_->running.equal_range(id);
    for (auto i = first; i != last; ++i)
        i->second->store(true);
}

void RecognitionPool::CancelAll()
{
    std::lock_guard lock(state_->mutex);
    state_->waiting.clear();
    for (auto& [id, flag] : state_->running)
        flag->store(true);
}

int RecognitionPool::Pending() const
{
    std::lock_guard lock(state_->mutex);
    return int(state_->waiting.size() + state_->running.size());
}

int RecognitionPool::ThreadCount() const
{
    return int(threads_.size());
}

int RecognitionPool::BackgroundThreads()
{
    return qMax(1, QThread::idealThreadCount() - 1);
}

void RecognitionPool::Work()
{
    for (;;) {
        State::Job job;
        auto flag = std::make_shared<std::atomic<bool>>(false);
        std::multimap<quint64, std::shared_ptr<std::atomic<bool>>>::iterator entry;
        {
            std::unique_lock lock(state_->mutex);
            state_->wake.wait(lock, [this] { return state_->stopping || !state_->waiting.empty(); });
            if (state_->stopping)
                return;
            job = std::move(state_->waiting.front());
            state_->waiting.pop_front();
            entry = state_->running.emplace(job.id, flag);
        }
        QImage image;
        try {
            if (job.load && !flag->load())
                image = job.load();
        } catch (...) {
            image = QImage();  // as an unreadable picture
        }
        RecognitionResult result;
        if (!flag->load()) {
            if (image.isNull()) {
                result.reason = QStringLiteral("The page image cannot be read");
                result.text.source = QStringLiteral("ocr:") + state_->languages.languages;
            } else {
                result = Recognise(image, state_->languages, flag.get());
            }
        }
        // Taken out of the running ones before Finished, so that Pending()
        // is already lower when the receiver sees it.
        bool cancelled;
        {
            std::lock_guard lock(state_->mutex);
            state_->running.erase(entry);
            cancelled = flag->load();
        }
        if (!cancelled)
            emit Finished(job.id, result);
    }
}
