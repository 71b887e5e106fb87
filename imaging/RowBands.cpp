// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/RowBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// One call of ForRowBands: its bands are taken by number, by the caller and
// by as many workers as the thread count allows.
struct Pass {
    const std::function<void(int, int)>* band = nullptr;
    int rows = 0;
    int bands = 0;
    int helpersWanted = 0;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    int helpers = 0;  // under the pool's mutex
    std::exception_ptr failure;
    std::mutex failureMutex;
    std::mutex doneMutex;
    std::condition_variable allDone;

    // Runs bands until none is left to take.
    void Work()
    {
        for (;;) {
            const int i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= bands)
                return;
            const int first = int(int64_t(rows) * i / bands);
            const int last = int(int64_t(rows) * (i + 1) / bands);
            try {
                (*band)(first, last);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
            }
            if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == bands) {
                const std::lock_guard<std::mutex> lock(doneMutex);
                allDone.notify_all();
            }
        }
    }
};

class Pool {
public:
    static Pool& Instance()
    {
        // Never destroyed: workers may still be parked when the program
        // ends, and a pass may run from a static destructor.
        static Pool* pool = new Pool;
        return *pool;
    }

    void SetThreads(int threads) { wanted_.store(std::max(0, threads), std::memory_order_relaxed); }

    int Threads() const
    {
        const int wanted = wanted_.load(std::memory_order_relaxed);
        if (wanted > 0)
            return wanted;
        return int(std::max(1u, std::thread::hardware_concurrency()));
    }

    void Run(int rows, const std::function<void(int, int)>& band, int threads)
    {
        auto pass = std::make_shared<Pass>();
        pass->band = &band;
        pass->rows = rows;
        // A few bands per thread even out rows of unequal cost.
        pass->bands = std::min(rows, threads * 4);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            Grow(threads - 1);
            pass->helpersWanted = std::min(threads - 1, workers_);
            if (pass->helpersWanted > 0) {
                queue_.push_back(pass);
                wake_.notify_all();
            }
        }
        pass->Work();
        {
            std::unique_lock<std::mutex> lock(pass->doneMutex);
            pass->allDone.wait(lock, [&] { return pass->done.load(std::memory_order_acquire) == pass->bands; });
        }
        {
            // Workers that come late find no band; the pass leaves the queue
            // so that none picks it up after this returns.
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.erase(std::remove(queue_.begin(), queue_.end(), pass), queue_.end());
        }
        if (pass->failure)
            std::rethrow_exception(pass->failure);
    }

private:
    // Under mutex_.
    void Grow(int count)
    {
        while (workers_ < count) {
            try {
                std::thread([this] { WorkerLoop(); }).detach();
            } catch (...) {
                return;  // no thread to be had: the others do the work
            }
            ++workers_;
        }
    }

    void WorkerLoop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty(); });
            std::shared_ptr<Pass> pass = queue_.front();
            if (++pass->helpers >= pass->helpersWanted)
                queue_.pop_front();
            lock.unlock();
            pass->Work();
            pass.reset();
            lock.lock();
        }
    }

    std::atomic<int> wanted_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Pass>> queue_;
    int workers_ = 0;  // under mutex_
};

}  // namespace

void ForRowBands(int rows, std::size_t work, const std::function<void(int, int)>& band)
{
    if (rows <= 0)
        return;
    const int threads = std::min(Pool::Instance().Threads(), rows);
    if (threads <= 1 || work < kRowBandSerialWork) {
        band(0, rows);
        return;
    }
    Pool::Instance().Run(rows, band, threads);
}

void SetRowBandThreads(int threads)
{
    Pool::Instance().SetThreads(threads);
}

int RowBandThreads()
{
    return Pool::Instance().Threads();
}

void RunSideBySide(const std::function<void()>& first, const std::function<void()>& second)
{
    ForRowBands(2, kRowBandSerialWork, [&](int from, int to) {
        for (int i = from; i < to; ++i)
            (i == 0 ? first : second)();
    });
}
