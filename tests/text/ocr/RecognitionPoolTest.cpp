// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/ocr/RecognitionPool.h"
#include "tests/text/ocr/OcrTestPages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace {

// Waits are for a condition, never for a time; this only bounds a hang.
constexpr int kHangMs = 300000;

int ThreadsOfThisProcess()
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir))
            count += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

// A load that holds its worker until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> waiting{0};

    void Pass()
    {
        std::unique_lock lock(mutex);
        ++waiting;
        opened.wait(lock, [this] { return open; });
    }
    void Open()
    {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

// Counts the ends of the threads that made one.
struct Kept {
    ~Kept() { ++ended; }
    static inline std::atomic<int> ended{0};
};

class RecognitionPoolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        languages_ = AvailableLanguages();
        smallPage_ = RenderPage({{QStringLiteral("請求書 Invoice")}});
        blankPage_ = QImage(200, 100, QImage::Format_Grayscale8);
        blankPage_.fill(255);
    }

    // Finished as queued to this thread, by id.
    void Listen(RecognitionPool& pool)
    {
        QObject::connect(&pool, &RecognitionPool::Finished, &receiver_, [this](quint64 id, const RecognitionResult& r) {
            EXPECT_EQ(QThread::currentThread(), receiver_.thread());
            results_[id].push_back(r);
        });
    }
    bool WaitForResults(std::size_t count)
    {
        return QTest::qWaitFor([&] { return results_.size() >= count; }, kHangMs);
    }
    // Whatever is still queued is delivered.
    static void Drain() { QCoreApplication::processEvents(); }

    static inline RecognitionLanguages languages_;
    static inline QImage smallPage_;
    static inline QImage blankPage_;
    QObject receiver_;
    std::map<quint64, std::vector<RecognitionResult>> results_;
};

TEST_F(RecognitionPoolTest, EveryJobFinishesOnceOnTheReceiversThread)
{
    RecognitionPool pool(languages_, 2);
    EXPECT_EQ(pool.ThreadCount(), 2);
    Listen(pool);
    constexpr quint64 kJobs = 9;
    for (quint64 id = 0; id < kJobs; ++id)
        pool.Submit(id, [id] { return id % 3 == 0 ? smallPage_ : id % 3 == 1 ? blankPage_ : QImage(); });
    ASSERT_TRUE(WaitForResults(kJobs));
    Drain();
    EXPECT_EQ(pool.Pending(), 0);
    for (quint64 id = 0; id < kJobs; ++id) {
        ASSERT_EQ(results_[id].size(), 1u) << id;
        const RecognitionResult& r = results_[id].front();
        EXPECT_EQ(r.ok, id % 3 != 2) << id << ": " << r.reason.toStdString();  // no image: a failed result
        EXPECT_EQ(r.text.words.empty(), id % 3 != 0) << id;
    }
}

TEST_F(RecognitionPoolTest, WorkersRunAtTheLowestPriorityWithoutOpenMpTeams)
{
    const int ownNice = ::getpriority(PRIO_PROCESS, ::gettid());
    RecognitionPool pool(languages_, 2);
    const int threads = ThreadsOfThisProcess();
    std::atomic<int> nice{0};
    Listen(pool);
    for (quint64 id = 0; id < 4; ++id)
        pool.Submit(id, [&] {
            errno = 0;
            nice = ::getpriority(PRIO_PROCESS, ::gettid());
            return smallPage_;
        });
    ASSERT_TRUE(WaitForResults(4));
    EXPECT_EQ(nice.load(), 19);
    EXPECT_LE(ThreadsOfThisProcess(), threads) << "threads were started for the pages";
    EXPECT_EQ(::getpriority(PRIO_PROCESS, ::gettid()), ownNice) << "the caller's thread is left as it was";
}

TEST_F(RecognitionPoolTest, CancelledJobsGiveNoResult)
{
    RecognitionPool pool(languages_, 1);
    Listen(pool);
    Gate gate;
    std::set<quint64> loaded;
    std::mutex loadedMutex;
    auto load = [&](quint64 id, bool hold) {
        return [&, id, hold] {
            if (hold)
                gate.Pass();
            std::lock_guard lock(loadedMutex);
            loaded.insert(id);
            return smallPage_;
        };
    };
    pool.Submit(1, load(1, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting == 1; }, kHangMs));
    for (quint64 id = 2; id <= 4; ++id)
        pool.Submit(id, load(id, false));
    pool.Cancel(1);  // running
    pool.Cancel(3);  // waiting
    gate.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pool.Pending() == 0; }, kHangMs));
    Drain();
    EXPECT_EQ(results_.size(), 2u);
    EXPECT_TRUE(results_.count(2) && results_.count(4));
    EXPECT_EQ(loaded, (std::set<quint64>{1, 2, 4}));
}

TEST_F(RecognitionPoolTest, AGonePoolsWorkersHaveEndedWithTheirStorage)
{
    // What a worker keeps in its thread storage (an engine, Qt's data of the
    // thread) is torn down before the pool's destructor returns, never while
    // the program goes on, or ends.
    Kept::ended = 0;
    for (int round = 1; round <= 20; ++round) {
        {
            RecognitionPool pool(languages_, 2);
            Gate gate;
            for (quint64 id = 0; id < 2; ++id)
                pool.Submit(id, [&] {
                    thread_local Kept kept;
                    gate.Pass();  // each worker holds one job: both keep one
                    return QImage();
                });
            ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting == 2; }, kHangMs));
            gate.Open();
            ASSERT_TRUE(QTest::qWaitFor([&] { return pool.Pending() == 0; }, kHangMs));
        }
        ASSERT_EQ(Kept::ended.load(), 2 * round) << "round " << round;
    }
}

TEST_F(RecognitionPoolTest, DestructionDuringAPageDoesNotWaitForItsEnd)
{
    // What one dense page takes here, on a warm engine of a pool thread.
    const QImage dense = DensePage();
    qint64 pageMs = 0;
    {
        RecognitionPool pool(languages_, 1);
        Listen(pool);
        pool.Submit(0, [&] { return smallPage_; });
        ASSERT_TRUE(WaitForResults(1));
        QElapsedTimer page;
        page.start();
        pool.Submit(1, [&] { return dense; });
        ASSERT_TRUE(WaitForResults(2));
        pageMs = page.elapsed();
    }
    results_.clear();
    std::atomic<bool> loaded{false};
    QElapsedTimer stop;
    {
        RecognitionPool pool(languages_, 1);
        Listen(pool);
        pool.Submit(0, [&] { return smallPage_; });
        ASSERT_TRUE(WaitForResults(1));
        pool.Submit(1, [&] {
            loaded = true;
            return dense;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.load(); }, kHangMs));
        stop.start();
    }
    const qint64 stopMs = stop.elapsed();
    Drain();
    EXPECT_EQ(results_.count(1), 0u);
    // Tesseract looks at the cancel flag word by word, after the layout.
    EXPECT_LT(stopMs, pageMs * 3 / 4) << "one page takes " << pageMs << " ms";
}

}  // namespace
