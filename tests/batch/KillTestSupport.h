// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the kill tests share, and what the page-operation driver shares with
// them: the clock (CLOCK_MONOTONIC in microseconds, so a moment the driver
// logs and a moment the test measures compare directly), a child process
// started and reaped without QProcess (the test must know for certain whether
// the child ended by itself or by our SIGKILL), the identity tag a test page
// carries in its image and thumbnail bytes, and the kill moments, drawn from
// the span where measured runs did their work.
//
// Plain Qt Core and POSIX only: the driver links tolvane_core alone.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <random>
#include <vector>

namespace killtest {

// ---- the clock ----

inline qint64 NowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline void SleepUntilUs(qint64 momentUs)
{
    timespec ts{};
    ts.tv_sec = time_t(momentUs / 1000000);
    ts.tv_nsec = long(momentUs % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// ---- a child process ----

struct Ended {
    bool bySignal = false;  // killed by a signal (which one in `code`), else exited with status `code`
    int code = -1;
};

class Child {
public:
    // Starts `exe` with `args` and the environment `env` ("NAME=value"),
    // standard output to /dev/null and standard error to `errPath`.
    static std::optional<Child> Spawn(const QString& exe, const QStringList& args, const QStringList& env,
                                      const QString& errPath)
    {
        std::vector<QByteArray> argBytes{exe.toLocal8Bit()}, envBytes;
        for (const QString& a : args)
            argBytes.push_back(a.toLocal8Bit());
        for (const QString& e : env)
            envBytes.push_back(e.toLocal8Bit());
        std::vector<char*> argv, envp;
        for (QByteArray& a : argBytes)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (QByteArray& e : envBytes)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const QByteArray err = errPath.toLocal8Bit();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return std::nullopt;
        Child child;
        child.pid_ = pid;
        return child;
    }

    Child(Child&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    void Kill() const { ::kill(pid_, SIGKILL); }

    // True once it has ended (it is not reaped here).
    bool HasEnded() const
    {
        siginfo_t info{};
        return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
    }

    // Waits for it and reaps it.
    Ended Wait()
    {
        Ended ended;
        int status = 0;
        pid_t r;
        while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (r < 0)
            return ended;
        if (WIFSIGNALED(status)) {
            ended.bySignal = true;
            ended.code = WTERMSIG(status);
        } else if (WIFEXITED(status)) {
            ended.code = WEXITSTATUS(status);
        }
        return ended;
    }

private:
    Child() = default;
    pid_t pid_ = -1;
};

// ---- page identity ----
//
// A test page's image and thumbnail are JPEG files whose first segment after
// SOI is a comment "TolvaneTestPage:" and eight digits, the page's own
// number in the test. The tag is fixed in size and place, so the driver can
// give a copy a new identity by rewriting eight bytes, and a check can tell
// from the bytes alone which page a file belongs to.

inline constexpr char kTagText[] = "TolvaneTestPage:";
inline constexpr int kTagTextLength = 16;
inline constexpr int kTagDigitsOffset = 6 + kTagTextLength;  // SOI, COM marker, length, text
inline constexpr int kTaggedHeaderLength = kTagDigitsOffset + 8;

// `jpeg` (an untagged JPEG file) with the tag of page `id` after its SOI.
inline QByteArray Tagged(const QByteArray& jpeg, int id)
{
    QByteArray out;
    out.reserve(jpeg.size() + kTaggedHeaderLength - 2);
    out += jpeg.left(2);  // FF D8
    out += QByteArray::fromHex("FFFE");
    const int length = 2 + kTagTextLength + 8;
    out += char(length >> 8);
    out += char(length & 0xFF);
    out += kTagText;
    out += QByteArray::number(id).rightJustified(8, '0');
    out += jpeg.mid(2);
    return out;
}

// The tagged page's id, or -1 when the bytes carry no tag.
inline int TagOf(const QByteArray& bytes)
{
    if (bytes.size() < kTaggedHeaderLength || !bytes.startsWith(QByteArray::fromHex("FFD8FFFE"))
        || bytes.mid(6, kTagTextLength) != QByteArray(kTagText))
        return -1;
    bool ok = false;
    const int id = bytes.mid(kTagDigitsOffset, 8).toInt(&ok);
    return ok ? id : -1;
}

// The same tagged file with the tag of page `id`; empty when it has no tag.
inline QByteArray Retagged(const QByteArray& tagged, int id)
{
    if (TagOf(tagged) < 0)
        return QByteArray();
    QByteArray out = tagged;
    out.replace(kTagDigitsOffset, 8, QByteArray::number(id).rightJustified(8, '0'));
    return out;
}

// The memo a test gives the pages it makes itself (copies get the empty memo
// of any new page).
inline QByteArray MemoOf(int id)
{
    return "page " + QByteArray::number(id).rightJustified(8, '0') + "\r\n";
}

// ---- kill moments ----
//
// Whole runs are measured from the moment the test starts the child: when
// its work began (the first file written, or the driver's "ready") and when
// it ended (the last file written, the last operation done). Kills are drawn
// evenly from the middle beginning to the middle end of the last few
// measurements (the median, so one run stalled or quick does not move them),
// and so they follow the machine as its load changes. A new
// measurement is due every kMeasureEvery kills, and at once when fewer than
// half of the last kLandingWindow kills landed in the work.
class KillMoments {
public:
    static constexpr int kKept = 7;
    static constexpr int kMeasureEvery = 20;
    static constexpr int kLandingWindow = 10;

    void Measured(qint64 beginUs, qint64 endUs)
    {
        recent_.push_back({beginUs, std::max(endUs, beginUs + 1)});
        if (recent_.size() > kKept)
            recent_.pop_front();
        sinceMeasured_ = 0;
        landings_.clear();
    }

    int Measurements() const { return int(recent_.size()); }

    // Whether the next run should be measured instead of killed.
    bool MeasurementDue() const
    {
        if (recent_.size() < 3 || sinceMeasured_ >= kMeasureEvery)
            return true;
        return int(landings_.size()) == kLandingWindow
               && std::count(landings_.begin(), landings_.end(), true) * 2 < kLandingWindow;
    }

    // How a kill went: whether it landed in the work.
    void Landed(bool landed)
    {
        ++sinceMeasured_;
        landings_.push_back(landed);
        if (int(landings_.size()) > kLandingWindow)
            landings_.pop_front();
    }

    // The middle beginning and the middle end of the runs kept.
    qint64 Begin() const { return Middle(&std::pair<qint64, qint64>::first, 0); }
    qint64 End() const { return std::max(Middle(&std::pair<qint64, qint64>::second, 1), Begin() + 1); }

    // A kill moment, microseconds after the start.
    qint64 Draw(std::mt19937& random) const { return std::uniform_int_distribution<qint64>(Begin(), End())(random); }

private:
    qint64 Middle(qint64 std::pair<qint64, qint64>::*part, qint64 none) const
    {
        if (recent_.empty())
            return none;
        std::vector<qint64> values;
        for (const auto& r : recent_)
            values.push_back(r.*part);
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    }

    std::deque<std::pair<qint64, qint64>> recent_;
    std::deque<bool> landings_;
    int sinceMeasured_ = 0;
};

}  // namespace killtest
