// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The items of a sequence made ahead of the one who takes them: while item i
// is used (a page stored), items i + 1 .. i + depth are being made on
// threads of their own, so that reading, processing and storing overlap.
// They are taken strictly in order, and never more than `depth` are made at
// a time, which bounds the memory the sequence holds.

#include <deque>
#include <functional>
#include <future>
#include <system_error>
#include <utility>

template <class T>
class AheadQueue {
public:
    // make(i) makes item i (0 <= i < count); it may run on any thread.
    AheadQueue(int count, int depth, std::function<T(int)> make)
        : count_(count), depth_(depth < 1 ? 1 : depth), make_(std::move(make))
    {
    }
    AheadQueue(const AheadQueue&) = delete;
    AheadQueue& operator=(const AheadQueue&) = delete;
    // Waits for the items still being made; they are dropped.
    ~AheadQueue()
    {
        for (std::future<T>& f : ahead_)
            f.wait();
    }

    // The next item in order (the first call gives item 0), made here when no
    // thread could be started for it. What make threw is thrown here.
    T TakeNext()
    {
        const int i = taken_++;
        Fill();
        if (!ahead_.empty()) {
            // The front is item i: every item before it has been taken.
            std::future<T> f = std::move(ahead_.front());
            ahead_.pop_front();
            Fill();  // the next ones are made while this one is finished and used
            return f.get();
        }
        // Never started (no thread to be had): made now, the later ones
        // after it.
        if (started_ == i)
            ++started_;
        return make_(i);
    }

    bool Done() const { return taken_ >= count_; }

private:
    // Starts the next items, up to depth_ at a time.
    void Fill()
    {
        while (started_ < count_ && int(ahead_.size()) < depth_) {
            try {
                ahead_.push_back(std::async(std::launch::async, make_, started_));
            } catch (const std::system_error&) {
                return;  // no thread now: the item is made when taken
            }
            ++started_;
        }
    }

    const int count_;
    const int depth_;
    std::function<T(int)> make_;
    std::deque<std::future<T>> ahead_;  // items started_ - size .. started_ - 1
    int started_ = 0;
    int taken_ = 0;
};
