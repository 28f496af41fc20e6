#include "platform/ThreadPriority.h"
#include "platform/LatestWorker.h"

#include <QCoreApplication>
#include <QTest>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

// Background threads never preempt the GUI thread and weigh less than it; the GUI thread keeps
// its priority.
TEST(ThreadPriority, backgroundThreadsYieldToTheGuiThread)
{
    const int mainNice = getpriority(PRIO_PROCESS, id_t(gettid()));
    std::atomic<int> nice = -100;
    std::atomic<int> policy = -1;
    LatestWorker worker(QCoreApplication::instance());
    worker.submit([&]() -> LatestWorker::Finish {
        nice = getpriority(PRIO_PROCESS, id_t(gettid()));
        policy = sched_getscheduler(0);
        return {};
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return policy != -1; }, 5000));
    EXPECT_EQ(policy, SCHED_BATCH);
    EXPECT_GE(nice, 10);
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(gettid())), mainNice);

    std::thread child([] {
        lowerThreadPriority();
        lowerThreadPriority(); // once is enough; again changes nothing
        EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH);
    });
    child.join();

    // Threads by name: only those named, each once.
    std::atomic<bool> stop = false;
    std::atomic<int> named = -1;
    std::atomic<int> other = -1;
    auto spin = [&stop](const char *name, std::atomic<int> &tid) {
        pthread_setname_np(pthread_self(), name);
        tid = gettid();
        while (!stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::thread a(spin, "DrawingThread", std::ref(named));
    std::thread b(spin, "OtherThread", std::ref(other));
    while (named < 0 || other < 0)
        std::this_thread::yield();
    EXPECT_EQ(lowerThreadsNamed(0, {QStringLiteral("Drawing")}), 1);
    EXPECT_EQ(lowerThreadsNamed(0, {QStringLiteral("Drawing")}), 0);
    EXPECT_EQ(sched_getscheduler(named), SCHED_BATCH);
    EXPECT_NE(sched_getscheduler(other), SCHED_BATCH);
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(gettid())), mainNice);
}
