#include "platform/LatestWorker.h"
#include "platform/ThreadPriority.h"

#include <QCoreApplication>
#include <QTest>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
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
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(gettid())), mainNice);
}
