#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include "fakes/platform/FakeClock.h"
#include "platform/AsyncQueue.h"
#include "platform/CancelToken.h"
#include "platform/Clock.h"
#include "platform/Detached.h"
#include "platform/PostOnce.h"
#include "platform/SignalWait.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

QCoro::Task<> collect(AsyncQueue<int> &queue, QList<int> &out, bool &done)
{
    while (const std::optional<int> item = co_await queue.next())
        out.append(*item);
    done = true;
}

TEST(AsyncQueue, deliversInOrderFromTheEventLoopAndEndsAfterWhatWasQueued)
{
    AsyncQueue<int> queue;
    queue.push(1);
    QList<int> seen;
    bool done = false;
    collect(queue, seen, done);
    EXPECT_EQ(seen, QList<int> {1}) << "what is queued is taken without waiting";

    queue.push(2);
    queue.push(3);
    EXPECT_EQ(seen, QList<int> {1}) << "never resumed inside push()";
    queue.finish();
    queue.push(4); // after finish: ignored
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_EQ(seen, (QList<int> {1, 2, 3}));
}

TEST(AsyncQueue, destroyingTheQueueEndsAWaitingConsumerAndLatePushesGoNowhere)
{
    auto queue = std::make_unique<AsyncQueue<int>>();
    const auto push = queue->pusher();
    QList<int> seen;
    bool done = false;
    collect(*queue, seen, done);
    queue->push(1);
    queue.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_TRUE(seen.isEmpty()) << "queued items go with the queue";
    push(5);
}

TEST(AsyncQueue, anImmediateConsumerRunsInsideTheAnswer)
{
    AsyncQueue<int> answer;
    std::optional<int> got;
    [](AsyncQueue<int> &queue, std::optional<int> &out) -> QCoro::Task<> {
        out = co_await queue.next(AsyncResume::immediately);
    }(answer, got);
    answer.pusher()(7);
    EXPECT_EQ(got, 7);
}

TEST(SignalWait, resumesAfterTheSignalOrTheDestructionOfAnyWatchedObject)
{
    QTimer first;
    auto second = std::make_unique<QObject>();
    int resumed = 0;
    auto wait = [&]() -> QCoro::Task<> {
        co_await SignalWait(&first, &QTimer::timeout)
            .orOn(second.get(), &QObject::objectNameChanged);
        ++resumed;
    };
    wait();
    second->setObjectName(QStringLiteral("x"));
    EXPECT_EQ(resumed, 0) << "not inside the emission";
    ASSERT_TRUE(testsupport::waitUntil([&] { return resumed == 1; }));

    wait();
    second.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return resumed == 2; }));

    // One watched object is already gone: no suspension at all.
    wait();
    EXPECT_EQ(resumed, 3);
}

TEST(CancelToken, callbacksRunOnceAndOnlyWhileTheirContextLives)
{
    const CancelToken token;
    const CancelToken copy = token;
    int calls = 0;
    auto context = std::make_unique<QObject>();
    copy.onCancel(context.get(), [&] { ++calls; });
    auto gone = std::make_unique<QObject>();
    token.onCancel(gone.get(), [&] { calls += 100; });
    gone.reset();
    token.cancel();
    token.cancel();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(copy.isCancelled());
    copy.onCancel(context.get(), [&] { ++calls; }); // already cancelled: at once
    EXPECT_EQ(calls, 2);
}

TEST(Clock, sleepEndsWithTheTimerOrFalseOnCancellation)
{
    std::optional<bool> shortWait;
    std::optional<bool> longWait;
    const CancelToken cancel;
    auto sleep
        = [](Clock &clock, std::chrono::milliseconds d, CancelToken token,
             std::optional<bool> &out) -> QCoro::Task<> { out = co_await clock.sleep(d, token); };
    Clock clock;
    sleep(clock, -5ms, CancelToken(), shortWait);
    sleep(clock, 24h, cancel, longWait);
    ASSERT_TRUE(testsupport::waitUntil([&] { return shortWait.has_value(); }));
    EXPECT_TRUE(*shortWait);
    EXPECT_FALSE(longWait.has_value());
    cancel.cancel();
    ASSERT_TRUE(testsupport::waitUntil([&] { return longWait.has_value(); }));
    EXPECT_FALSE(*longWait);
    EXPECT_EQ(Clock::intervalMs(-1s), 0);
    EXPECT_EQ(Clock::intervalMs(std::chrono::hours(24 * 365)), std::numeric_limits<int>::max());
}

TEST(PostOnce, asksCoalesceIntoOneCallFromTheEventLoopThatCanBeFlushedOrDropped)
{
    QObject context;
    int calls = 0;
    auto post = std::make_unique<PostOnce>(&context, [&] { ++calls; });
    post->post();
    post->post();
    EXPECT_EQ(calls, 0) << "never inside post()";
    ASSERT_TRUE(testsupport::waitUntil([&] { return calls == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);

    post->post();
    post->flush();
    EXPECT_EQ(calls, 2) << "flush makes the pending call at once";
    post->flush();
    EXPECT_EQ(calls, 2) << "and nothing without one";

    post->post();
    post->cancel();
    post->post();
    post.reset(); // the helper goes with a call on the way
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);
}

TEST(Clock, aSingleShotFiresOnceUnlessItsContextGoesFirst)
{
    FakeClock clock;
    int fired = 0;
    QObject kept;
    clock.singleShot(100ms, &kept, [&] { ++fired; });
    auto dropped = std::make_unique<QObject>();
    clock.singleShot(50ms, dropped.get(), [&] { fired += 10; });
    dropped.reset();
    clock.advance(99ms);
    EXPECT_EQ(fired, 0);
    clock.advance(1ms);
    EXPECT_EQ(fired, 1);
    clock.advance(1000ms);
    EXPECT_EQ(fired, 1);
}

TEST(Detached, aTaskThatThrowsIsLogged)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    runDetached(
        []() -> QCoro::Task<int> {
            throw std::runtime_error("disk gone");
            co_return 1;
        }(),
        QStringLiteral("Saving"));
    EXPECT_EQ(log.lines(), QStringList {QStringLiteral("Saving failed: disk gone")});
}

} // namespace
