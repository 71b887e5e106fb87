// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/ScanThread.h"

#include <sane/sane.h>

#include <csignal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace scan {
namespace {

// A backend's reader (a thread or a child process) writes into a pipe the
// frontend reads; after a cancel it may write once more into the closed
// pipe. That must be an error the reader sees, never a signal that ends the
// program or sets off whatever handler was installed for it.
void IgnoreBrokenPipes()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

class Worker;
// The worker whose thread this is (null on every other thread).
thread_local Worker* t_worker = nullptr;

class Worker {
public:
    Worker() : thread_([this] { Run(); }) {}

    ~Worker()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    void Post(std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

private:
    void Run()
    {
        t_worker = this;
        IgnoreBrokenPipes();
        SANE_Int version = 0;
        if (sane_init(&version, nullptr) == SANE_STATUS_GOOD)
            g_version.store(version);
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    break;  // stopping, and every posted job has run
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
        sane_exit();
        g_version.store(0);
    }

public:
    static inline std::atomic<int> g_version{0};

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts once the members above exist
};

std::mutex g_workerMutex;
std::unique_ptr<Worker> g_worker;

}  // namespace

void PostScanJob(std::function<void()> job)
{
    // From a job: onto the same queue, also while that worker shuts down
    // (it runs every job left before sane_exit), never to a new thread.
    if (t_worker) {
        t_worker->Post(std::move(job));
        return;
    }
    std::lock_guard lock(g_workerMutex);
    if (!g_worker)
        g_worker = std::make_unique<Worker>();
    g_worker->Post(std::move(job));
}

bool OnScanThread()
{
    return t_worker != nullptr;
}

int SaneVersionCode()
{
    return Worker::g_version.load();
}

void ShutdownScanning()
{
    std::unique_ptr<Worker> worker;
    {
        std::lock_guard lock(g_workerMutex);
        worker = std::move(g_worker);
    }
    worker.reset();  // joins after the queue has run dry and sane_exit
}

}  // namespace scan
