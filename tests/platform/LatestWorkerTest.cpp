#include "platform/LatestWorker.h"
#include "platform/BackgroundPool.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A gate a job waits at (with a deadline, so a broken rule fails instead of hanging).
class Gate
{
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool wait()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

QCoro::Task<> record(QCoro::Task<int> task, QStringList *seen)
{
    try {
        seen->append(QString::number(co_await std::move(task)));
    } catch (const std::exception &e) {
        seen->append(QString::fromUtf8(e.what()));
    }
}

} // namespace

// A job's result, or what it threw, reaches the coroutine awaiting it.
TEST(BackgroundPool, runHandsTheResultOrTheExceptionBack)
{
    QStringList seen;
    record(background::run([](int a, int b) { return a * b; }, 6, 7), &seen);
    record(background::run([]() -> int { throw std::invalid_argument("refused"); }), &seen);
    ASSERT_TRUE(testsupport::waitUntil([&] { return seen.size() == 2; }));
    seen.sort();
    EXPECT_EQ(seen, QStringList({"42", "refused"}));
}

// A job handed in while one runs waits and is replaced by a newer one; the running one learns it
// is superseded; results arrive on the receiver's thread.
TEST(LatestWorker, runsTheRunningAndTheNewestJobOnly)
{
    QObject receiver;
    LatestWorker worker(&receiver);
    Gate started;
    Gate release;
    std::atomic<bool> firstSuperseded = false;
    std::vector<int> finished;
    auto job = [&](int number) {
        return [&, number]() -> LatestWorker::Finish {
            if (number == 1) {
                started.open();
                EXPECT_TRUE(release.wait());
                firstSuperseded = LatestWorker::isSuperseded();
            }
            return [&finished, number] { finished.push_back(number); };
        };
    };
    worker.submit(job(1));
    ASSERT_TRUE(started.wait());
    worker.submit(job(2));
    worker.submit(job(3));
    EXPECT_TRUE(worker.isBusy());
    release.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 2 && !worker.isBusy(); }, 10000));
    EXPECT_EQ(finished, (std::vector<int> {1, 3}));
    EXPECT_TRUE(firstSuperseded);
    EXPECT_FALSE(LatestWorker::isSuperseded()); // outside a job
}

// Destroying the worker never waits for the running job; its result is dropped, as is a result
// posted to a receiver that is gone by the time it would be handled.
TEST(LatestWorker, destroyedWhileRunningNeitherWaitsNorDeliversAndAGoneReceiverDropsResults)
{
    std::atomic<int> delivered = 0;
    Gate started;
    Gate release;
    std::atomic<bool> sawGone = false;
    std::atomic<bool> done = false;
    {
        QObject receiver;
        auto worker = std::make_unique<LatestWorker>(&receiver);
        worker->submit([&]() -> LatestWorker::Finish {
            started.open();
            EXPECT_TRUE(release.wait()); // the destructor below returns before this opens
            sawGone = LatestWorker::isSuperseded();
            done = true;
            return [&delivered] { ++delivered; };
        });
        ASSERT_TRUE(started.wait());
        worker->submit([&]() -> LatestWorker::Finish { return [&delivered] { ++delivered; }; });
        worker.reset();
        release.open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    }
    EXPECT_TRUE(sawGone);

    auto receiver = std::make_unique<QObject>();
    {
        LatestWorker worker(receiver.get());
        worker.submit([&]() -> LatestWorker::Finish { return [&delivered] { ++delivered; }; });
        // Without handling events, so the result stays posted.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (worker.isBusy() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_FALSE(worker.isBusy());
    }
    receiver.reset(); // the result is posted but not yet handled
    QCoreApplication::processEvents();
    background::pool().waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}

// Shutting the pool down waits for what runs and leaves a fresh pool for later use.
TEST(BackgroundPool, shutDownJoinsRunningJobs)
{
    std::atomic<bool> finished = false;
    Gate started;
    background::start([&] {
        started.open();
        QThread::msleep(50);
        finished = true;
    });
    ASSERT_TRUE(started.wait());
    background::shutDown();
    EXPECT_TRUE(finished);
    std::atomic<bool> again = false;
    background::start([&] { again = true; });
    background::pool().waitForDone();
    EXPECT_TRUE(again);
}
