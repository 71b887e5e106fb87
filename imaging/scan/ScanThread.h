// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scan thread: the one thread that calls SANE.
//
// Most SANE backends are not thread-safe, and several calls (device
// discovery over the network, sane_open, sane_start, the read loop) take
// seconds. So every SANE call of the process runs here, one job after the
// other in the order posted, and the GUI thread only posts jobs and takes
// their results back: a std::future (for callers that may wait, such as the
// tests and the scan thread's own helpers) or a queued call on a QObject
// (RunScanJob), so a window never blocks on SANE.
//
// sane_init runs on the thread before its first job; sane_exit runs when
// ShutdownScanning() is called (the program calls it once at the end, or
// holds a ScanLibraryGuard). Using the library again afterwards starts a new
// thread and calls sane_init again.

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <type_traits>

namespace scan {

// Posts a job to the scan thread (started, and SANE initialised, on first
// use). Jobs run in the order posted.
void PostScanJob(std::function<void()> job);

// True on the scan thread.
bool OnScanThread();

// The SANE version code sane_init answered with (0 before the first job ran
// or when sane_init failed).
int SaneVersionCode();

// Runs `work` on the scan thread; its result through a future. `work` and
// everything it holds is destroyed on the scan thread before the result is
// given, so a device a job holds is closed by the time its caller goes on.
template <class F>
auto SubmitScanJob(F work) -> std::future<std::invoke_result_t<F&>>
{
    using R = std::invoke_result_t<F&>;
    struct State {
        std::optional<F> work;
        std::promise<R> promise;
    };
    auto state = std::make_shared<State>();
    state->work.emplace(std::move(work));
    auto future = state->promise.get_future();
    PostScanJob([state] {
        try {
            if constexpr (std::is_void_v<R>) {
                (*state->work)();
                state->work.reset();
                state->promise.set_value();
            } else {
                R result = (*state->work)();
                state->work.reset();
                state->promise.set_value(std::move(result));
            }
        } catch (...) {
            state->work.reset();
            state->promise.set_exception(std::current_exception());
        }
    });
    return future;
}

// Runs `work` on the scan thread (and destroys it there), then `done(result)`
// on the thread of `context` through its event loop. When `context` is gone
// by then, `done` is not called (the result is dropped on the GUI side).
template <class F, class Done>
void RunScanJob(QObject* context, F work, Done done)
{
    using R = std::invoke_result_t<F&>;
    QPointer<QObject> target(context);
    auto workPtr = std::make_shared<std::optional<F>>(std::move(work));
    auto donePtr = std::make_shared<Done>(std::move(done));
    PostScanJob([target, workPtr, donePtr] {
        auto result = std::make_shared<R>((**workPtr)());
        workPtr->reset();
        if (!target)
            return;
        QMetaObject::invokeMethod(
            target.data(), [result, donePtr] { (*donePtr)(std::move(*result)); }, Qt::QueuedConnection);
    });
}

// Runs every job already posted, then sane_exit on the scan thread, and
// ends the thread. Safe to call more than once and when the thread never
// started; never from a scan job.
void ShutdownScanning();

// Calls ShutdownScanning() when destroyed; the program holds one in main().
class ScanLibraryGuard {
public:
    ScanLibraryGuard() = default;
    ~ScanLibraryGuard() { ShutdownScanning(); }
    ScanLibraryGuard(const ScanLibraryGuard&) = delete;
    ScanLibraryGuard& operator=(const ScanLibraryGuard&) = delete;
};

}  // namespace scan
