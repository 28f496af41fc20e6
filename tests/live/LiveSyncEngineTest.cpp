#include "LiveTestSupport.h"

#include "core/live/LiveSyncEngine.h"
#include "fakes/live/FakeLiveRelay.h"
#include "fakes/platform/FakeClock.h"
#include "platform/AsyncQueue.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

constexpr qint64 int64Max = std::numeric_limits<qint64>::max();

struct Fixture
{
    FakeLiveRelay relay;
    FakeClock clock;
    std::unique_ptr<LiveSyncEngine> engine;
    QList<LiveSyncMessage> handled;
    QList<LiveOrder> orders;

    Fixture()
    {
        EXPECT_TRUE(relay.listen());
        engine = std::make_unique<LiveSyncEngine>(u"42"_s, u"secret"_s, relay.baseUrl(), u"devA"_s,
                                                  LiveSyncTimings {}, &clock);
    }

    // Like the editing bridge, takes every edit that builds on the text held here, or that
    // claims a newer one, as applied.
    void open()
    {
        engine->open([this](LiveSyncMessage m, LiveOrder order) -> QCoro::Task<> {
            if (m.file && m.v && (order == LiveOrder::Next || order == LiveOrder::Ahead))
                engine->adopt(*m.file, *m.v);
            handled.append(std::move(m));
            orders.append(order);
            co_return;
        });
        ASSERT_TRUE(
            waitUntil([&] { return engine->client() && engine->client()->isHandshakeDone(); }));
    }

    // Sends frames to the engine as its peer would, then a marker; returns once the marker is
    // handled, so everything before it has been accepted or dropped.
    void receive(const QStringList &frames)
    {
        const int connection = relay.lastOpenConnection();
        for (const QString &frame : frames)
            relay.sendText(connection, frame);
        relay.sendText(connection, u"{\"type\":\"scroll\",\"file\":\"marker\",\"offset\":1}"_s);
        ASSERT_TRUE(
            waitUntil([&] { return !handled.isEmpty() && handled.back().file == u"marker"_s; }));
        handled.removeLast();
        orders.removeLast();
    }

    QList<qint64> handledVersions() const
    {
        QList<qint64> versions;
        for (const auto &m : handled)
            versions.append(m.v.value_or(-1));
        return versions;
    }

    QJsonObject lastSent(const QString &type)
    {
        const auto frames = relay.allFramesOfType(type);
        return frames.isEmpty() ? QJsonObject()
                                : QJsonDocument::fromJson(frames.back().text.toUtf8()).object();
    }
};

QString edit(const QString &file, qint64 v)
{
    return u"{\"type\":\"edit\",\"file\":\"%1\",\"device\":\"devB\",\"v\":%2,"
           "\"ops\":[{\"op\":\"insert\",\"pos\":0,\"text\":\"x\"}]}"_s.arg(file)
               .arg(v);
}

QString sync(const QString &file, qint64 v)
{
    return u"{\"type\":\"sync\",\"file\":\"%1\",\"device\":\"devB\",\"v\":%2,\"text\":\"t\"}"_s
        .arg(file)
        .arg(v);
}

} // namespace

TEST(LiveSyncEngine, ordersReceivedVersionsAgainstTheVersionOfTheTextHeld)
{
    Fixture f;
    f.open();
    f.receive({edit(u"a.md"_s, 1), edit(u"a.md"_s, 2), edit(u"a.md"_s, 2), edit(u"a.md"_s, 1),
               edit(u"a.md"_s, 5), edit(u"a.md"_s, 6)});
    EXPECT_EQ(f.handledVersions(), (QList<qint64> {1, 2, 2, 1, 5, 6}));
    EXPECT_EQ(f.orders,
              (QList<LiveOrder> {LiveOrder::Next, LiveOrder::Next, LiveOrder::Same,
                                 LiveOrder::Behind, LiveOrder::Ahead, LiveOrder::Next}));
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), 6);
    EXPECT_FALSE(f.engine->isOwnVersion(u"a.md"_s));
    // Other files count on their own; nothing received raises a version without adopt().
    f.engine->open([](LiveSyncMessage, LiveOrder) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(waitUntil([&] { return f.engine->client()->isHandshakeDone(); }));
    f.relay.sendText(f.relay.lastOpenConnection(), edit(u"b.md"_s, 4));
    f.relay.sendText(f.relay.lastOpenConnection(), u"{\"type\":\"ping\"}"_s);
    ASSERT_TRUE(waitUntil([&] { return !f.relay.allFramesOfType(u"pong"_s).isEmpty(); }));
    EXPECT_FALSE(f.engine->fileVersion(u"b.md"_s));
}

TEST(LiveSyncEngine, localEditsContinueFromTheHighestVersionSeen)
{
    Fixture f;
    f.open();
    f.receive({edit(u"a.md"_s, 7)});
    f.engine->sendEdit(u"a.md"_s, {EditOp::insert(3, u"y"_s)});
    f.clock.advance(50ms);
    ASSERT_TRUE(waitUntil([&] { return f.relay.allFramesOfType(u"edit"_s).size() == 1; }));
    const QJsonObject sent = f.lastSent(u"edit"_s);
    EXPECT_EQ(sent.value("v"_L1).toInteger(), 8);
    EXPECT_EQ(sent.value("device"_L1).toString(), u"devA"_s);
    EXPECT_EQ(sent.value("file"_L1).toString(), u"a.md"_s);

    EXPECT_TRUE(f.engine->isOwnVersion(u"a.md"_s));
    // An edit of the same version from a peer crossed ours.
    f.receive({edit(u"a.md"_s, 8)});
    EXPECT_EQ(f.orders.back(), LiveOrder::Same);
}

TEST(LiveSyncEngine, fullTextsAndUnversionedMessagesPassWithTheirOrder)
{
    Fixture f;
    f.open();
    f.receive({edit(u"a.md"_s, 9), sync(u"a.md"_s, 3),
               u"{\"type\":\"cursor\",\"file\":\"a.md\",\"pos\":4}"_s,
               u"{\"type\":\"select\",\"file\":\"a.md\"}"_s,
               u"{\"type\":\"scroll\",\"file\":\"a.md\",\"offset\":2.5}"_s,
               u"{\"type\":\"edit\",\"file\":\"a.md\",\"ops\":[]}"_s, u"{\"type\":\"pong\"}"_s});
    ASSERT_EQ(f.handled.size(), 7);
    EXPECT_EQ(f.handled[1].type, LiveMessageType::Sync);
    EXPECT_EQ(f.orders[1], LiveOrder::Behind);
    for (int i = 2; i < 7; ++i)
        EXPECT_EQ(f.orders[i], LiveOrder::Unversioned);
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), 9); // a stale full text never lowers it

    f.handled.clear();
    f.orders.clear();
    f.receive({sync(u"n.md"_s, 0), sync(u"n.md"_s, -3), edit(u"n.md"_s, 0), edit(u"n.md"_s, -1)});
    EXPECT_EQ(f.handledVersions(), (QList<qint64> {0, -3, 0, -1}));
    EXPECT_EQ(f.orders,
              (QList<LiveOrder> {LiveOrder::Same, LiveOrder::Behind, LiveOrder::Same,
                                 LiveOrder::Behind}));
    f.engine->adopt(u"n.md"_s, 0);
    EXPECT_FALSE(f.engine->fileVersion(u"n.md"_s));
}

TEST(LiveSyncEngine, ownMessagesHandedBackByTheServerAreDropped)
{
    Fixture f;
    f.relay.setEchoToSender(true);
    f.open();
    f.engine->sendEdit(u"a.md"_s, {EditOp::insert(0, u"x"_s)});
    f.clock.advance(50ms);
    f.engine->sendSync(u"a.md"_s, u"x"_s);
    ASSERT_TRUE(f.relay.waitForFrames(2)); // echoed before the marker below
    f.receive({});
    EXPECT_TRUE(f.handled.isEmpty());
    // A peer's change of the same version is not ours.
    f.receive({edit(u"a.md"_s, 2)});
    EXPECT_EQ(f.orders, (QList<LiveOrder> {LiveOrder::Same}));
    // A change that names its characters passes even under our name (a peer may share it).
    f.receive({u"{\"type\":\"edit\",\"file\":\"a.md\",\"device\":\"devA\",\"v\":1,"
               "\"ops\":[],\"merge\":{\"epoch\":\"e\"}}"_s});
    EXPECT_EQ(f.orders.size(), 2);
}

TEST(LiveSyncEngine, theCurrentTextGoesOutUnderTheVersionItHas)
{
    Fixture f;
    f.open();
    f.engine->sendCurrentText(u"a.md"_s, u"disk"_s);
    f.receive({edit(u"a.md"_s, 1)});
    f.engine->sendCurrentText(u"a.md"_s, u"disk+x"_s);
    ASSERT_TRUE(waitUntil([&] { return f.relay.allFramesOfType(u"sync"_s).size() == 2; }));
    const auto syncs = f.relay.allFramesOfType(u"sync"_s);
    EXPECT_TRUE(syncs[0].text.contains(u"\"v\":0"_s));
    EXPECT_TRUE(syncs[1].text.contains(u"\"v\":1"_s));
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), 1);
}

TEST(LiveSyncEngine, messagesNamingUnsafePathsAreDropped)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.open();
    QStringList frames;
    for (const QString &path : {u"../outside.md"_s, u"/etc/hosts"_s, u".git/config"_s,
                                u"a/../../b.md"_s, u"a//b.md"_s, QString()})
        frames << u"{\"type\":\"select\",\"file\":\"%1\"}"_s.arg(path) << edit(path, 1);
    f.receive(frames);
    EXPECT_TRUE(f.handled.isEmpty());
    EXPECT_EQ(log.count(u"LiveSync: dropped a message with an unsafe file path"_s), frames.size());
    f.receive({edit(u"notes/a b.md"_s, 1)});
    EXPECT_EQ(f.handled.size(), 1);
}

TEST(LiveSyncEngine, atTheLargestVersionMessagesGoOutUnversionedInsteadOfWrapping)
{
    Fixture f;
    f.open();
    f.receive({edit(u"a.md"_s, int64Max)});
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), int64Max);
    EXPECT_FALSE(f.engine->nextVersion(u"a.md"_s));
    f.engine->sendEdit(u"a.md"_s, {EditOp::insert(0, u"z"_s)});
    f.engine->sendSync(u"a.md"_s, u"text"_s);
    f.clock.advance(50ms);
    ASSERT_TRUE(waitUntil([&] { return f.relay.allFramesOfType(u"edit"_s).size() == 1; }));
    ASSERT_EQ(f.relay.allFramesOfType(u"sync"_s).size(), 1);
    EXPECT_FALSE(f.lastSent(u"edit"_s).contains("v"_L1));
    EXPECT_FALSE(f.lastSent(u"sync"_s).contains("v"_L1));
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), int64Max);
}

TEST(LiveSyncEngine, sendsCarryTheDeviceAndPassPositionsThrough)
{
    Fixture f;
    f.open();
    f.engine->sendCursor(u"a.md"_s, 120);
    f.engine->sendSelect(u"a.md"_s);
    f.engine->sendScroll(u"a.md"_s, 33.5);
    f.engine->sendSync(u"a.md"_s, u"full"_s);
    ASSERT_TRUE(f.relay.waitForFrames(4));
    const auto &frames = f.relay.connection(0).received;
    EXPECT_EQ(frames[0].text,
              u"{\"device\":\"devA\",\"file\":\"a.md\",\"pos\":120,\"type\":\"cursor\"}"_s);
    EXPECT_EQ(frames[1].text, u"{\"device\":\"devA\",\"file\":\"a.md\",\"type\":\"select\"}"_s);
    EXPECT_EQ(f.lastSent(u"scroll"_s).value("offset"_L1).toDouble(), 33.5);
    EXPECT_EQ(f.lastSent(u"sync"_s).value("v"_L1).toInteger(), 1);
    EXPECT_EQ(f.lastSent(u"sync"_s).value("text"_L1).toString(), u"full"_s);
}

TEST(LiveSyncEngine, aNewSessionForgetsVersionsAndClosesTheOldOne)
{
    Fixture f;
    f.open();
    f.engine->sendEdit(u"a.md"_s, {EditOp::insert(0, u"x"_s)});
    f.engine->sendEdit(u"a.md"_s, {EditOp::insert(0, u"x"_s)});
    EXPECT_EQ(f.engine->fileVersion(u"a.md"_s), 2);
    f.open(); // connecting again ends the running session first
    ASSERT_TRUE(waitUntil([&] { return f.relay.openConnectionCount() == 1; }));
    EXPECT_EQ(f.relay.connectionCount(), 2);
    EXPECT_EQ(f.relay.connection(0).closeCode, 1001);
    EXPECT_EQ(f.engine->nextVersion(u"a.md"_s), 1);

    f.engine->close();
    EXPECT_FALSE(f.engine->isConnected());
    ASSERT_TRUE(waitUntil([&] { return f.relay.openConnectionCount() == 0; }));
    EXPECT_FALSE(f.engine->fileVersion(u"a.md"_s));
}

TEST(LiveSyncEngine, withoutCredentialsNothingConnectsButVersionsAreStillTaken)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    FakeClock clock;
    LiveSyncEngine engine(u"42"_s, QString(), u"http://127.0.0.1:1"_s, u"devA"_s, {}, &clock);
    engine.open([](LiveSyncMessage, LiveOrder) -> QCoro::Task<> { co_return; });
    EXPECT_TRUE(log.contains(u"LiveSync: no folder credentials"_s));
    EXPECT_FALSE(engine.isConnected());
    EXPECT_FALSE(engine.client());
    engine.sendEdit(u"a.md"_s, {EditOp::insert(0, u"x"_s)});
    engine.sendSync(u"a.md"_s, u"x"_s);
    engine.sendCursor(u"a.md"_s, 1);
    EXPECT_EQ(engine.nextVersion(u"a.md"_s), 3);
}

TEST(LiveSyncEngine, handsMessagesOnOneAtATimeInArrivalOrder)
{
    Fixture f;
    AsyncQueue<bool> gate; // the handler waits there until the test opens it
    QList<qint64> started;
    QList<qint64> finished;
    f.engine->open([&](LiveSyncMessage m, LiveOrder) -> QCoro::Task<> {
        started.append(*m.v);
        if (*m.v == 1)
            co_await gate.next();
        finished.append(*m.v);
    });
    ASSERT_TRUE(waitUntil([&] { return f.engine->client()->isHandshakeDone(); }));
    f.relay.sendText(0, edit(u"a.md"_s, 1));
    f.relay.sendText(0, edit(u"a.md"_s, 2));
    f.relay.sendText(0, edit(u"a.md"_s, 3));
    // The client answers a ping as soon as it reads it: once the pong is back, the edits before
    // it have arrived, and still only the first one is being handled.
    f.relay.sendText(0, u"{\"type\":\"ping\"}"_s);
    ASSERT_TRUE(waitUntil([&] { return f.relay.framesOfType(0, u"pong"_s).size() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !started.isEmpty(); }));
    EXPECT_EQ(started, (QList<qint64> {1}));
    gate.push(true);
    ASSERT_TRUE(waitUntil([&] { return finished.size() == 3; }));
    EXPECT_EQ(started, (QList<qint64> {1, 2, 3}));
    EXPECT_EQ(finished, (QList<qint64> {1, 2, 3}));
}

TEST(LiveSyncEngine, aHandlerMayEndTheSessionWhileHandlingAMessage)
{
    Fixture f;
    int calls = 0;
    f.engine->open([&](LiveSyncMessage, LiveOrder) -> QCoro::Task<> {
        ++calls;
        f.engine->close();
        co_return;
    });
    ASSERT_TRUE(waitUntil([&] { return f.engine->client()->isHandshakeDone(); }));
    f.relay.sendText(0, edit(u"a.md"_s, 1));
    f.relay.sendText(0, edit(u"a.md"_s, 2));
    ASSERT_TRUE(waitUntil([&] { return calls == 1 && f.relay.openConnectionCount() == 0; }));
    EXPECT_FALSE(f.engine->isConnected());
    EXPECT_EQ(calls, 1);
}
