#include "LiveTestSupport.h"

#include "core/live/LiveSyncClient.h"
#include "fakes/live/FakeLiveRelay.h"
#include "fakes/live/StallingProxy.h"
#include "fakes/platform/FakeClock.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

std::optional<QString> urlOf(const QString &base, const QString &id = u"42"_s,
                             const QString &token = u"tok"_s)
{
    const auto url = LiveSyncClient::buildWebSocketURL(base, id, token);
    if (!url)
        return std::nullopt;
    return url->toString(QUrl::FullyEncoded);
}

struct Fixture
{
    FakeLiveRelay relay;
    FakeClock clock;
    std::unique_ptr<LiveSyncClient> client;
    std::shared_ptr<livetest::Collected> received;

    Fixture()
    {
        EXPECT_TRUE(relay.listen());
        client = std::make_unique<LiveSyncClient>(relay.baseUrl(), u"42"_s, u"secret"_s,
                                                  LiveSyncTimings {}, &clock);
    }

    // Connects and waits for the handshake.
    void open()
    {
        received = livetest::startCollecting(client->messages());
        ASSERT_TRUE(waitUntil([&] { return client->isHandshakeDone(); }));
        ASSERT_EQ(relay.openConnectionCount(), 1);
    }

    // Frames leave in call order: once a marker sent now has arrived, everything sent before it
    // has arrived too.
    void barrier()
    {
        static int marker = 0;
        const int total = relay.totalFrames();
        client->send(LiveSyncMessage::cursor(u"barrier"_s, ++marker, u"d"_s));
        ASSERT_TRUE(relay.waitForFrames(total + 1));
    }

    QList<qint64> editPositions(int connection) const
    {
        QList<qint64> positions;
        for (const auto &frame : relay.framesOfType(connection, u"edit"_s))
            positions.append(LiveSyncMessage::decode(frame.text.toUtf8())->ops->front().pos);
        return positions;
    }
};

LiveSyncMessage editAt(qint64 pos)
{
    return LiveSyncMessage::edit(u"a.md"_s, {EditOp::insert(pos, u"x"_s)}, pos + 1, u"d"_s);
}

} // namespace

TEST(LiveSyncClient, buildsTheWebSocketAddressFromTheBackendAddress)
{
    EXPECT_EQ(urlOf(u"https://sync.example.com/"_s),
              u"wss://sync.example.com/sync/folders/42/live?token=tok"_s);
    EXPECT_EQ(urlOf(u"http://127.0.0.1:8080"_s),
              u"ws://127.0.0.1:8080/sync/folders/42/live?token=tok"_s);
    // Only one of two trailing slashes goes; the base path is kept.
    EXPECT_EQ(urlOf(u"https://h.example/base//"_s),
              u"wss://h.example/base//sync/folders/42/live?token=tok"_s);
    EXPECT_EQ(urlOf(u"HTTPS://H.example"_s), u"wss://h.example/sync/folders/42/live?token=tok"_s);
    // Everything but unreserved characters and "/" is encoded: "&", "+" and "=" cannot change
    // the query.
    EXPECT_EQ(urlOf(u"http://h"_s, u"42"_s, u"a b#c&d+e%f/g?h:i@j~k=l"_s),
              u"ws://h/sync/folders/42/live?token=a%20b%23c%26d%2Be%25f/g%3Fh%3Ai%40j~k%3Dl"_s);
    EXPECT_EQ(urlOf(u"http://h"_s, u"a/b"_s), u"ws://h/sync/folders/a%2Fb/live?token=tok"_s);
    EXPECT_FALSE(urlOf(u"ftp://h.example"_s));
    EXPECT_FALSE(urlOf(u"not a url"_s));
    EXPECT_FALSE(urlOf(QString()));
}

TEST(LiveSyncClient, withoutAnAddressTheStreamEndsAndNothingIsRetried)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    FakeClock clock;
    LiveSyncClient client(u"ftp://h.example"_s, u"42"_s, u"tok"_s, {}, &clock);
    auto received = livetest::startCollecting(client.messages());
    ASSERT_TRUE(waitUntil([&] { return received->ended; }));
    EXPECT_TRUE(log.contains(u"LiveSync: failed to build WebSocket URL"_s));
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(clock.runningTimers(), 0);
}

TEST(LiveSyncClient, connectsToTheFolderChannelAndLogsOnlyTheHost)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.open();
    const auto &connection = f.relay.connection(0);
    EXPECT_EQ(connection.requestUrl.path(), u"/sync/folders/42/live"_s);
    EXPECT_EQ(connection.token, u"secret"_s);
    EXPECT_TRUE(log.contains(u"LiveSync: connecting to 127.0.0.1"_s));
    EXPECT_TRUE(log.contains(u"LiveSync: connected"_s));
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains(u"secret"_s)) << line.toStdString();
}

TEST(LiveSyncClient, framesSentBeforeTheHandshakeLeaveAfterIt)
{
    Fixture f;
    f.relay.pauseAccepting();
    f.received = livetest::startCollecting(f.client->messages());
    EXPECT_TRUE(f.client->isConnected());
    EXPECT_FALSE(f.client->isHandshakeDone());
    f.client->send(LiveSyncMessage::select(u"a.md"_s, u"d"_s));
    f.client->send(LiveSyncMessage::cursor(u"a.md"_s, 3, u"d"_s));
    f.relay.resumeAccepting();
    ASSERT_TRUE(f.relay.waitForFrames(2));
    EXPECT_EQ(f.relay.connection(0).received[0].type(), u"select"_s);
    EXPECT_EQ(f.relay.connection(0).received[1].type(), u"cursor"_s);
}

TEST(LiveSyncClient, editsOfABurstLeaveTogetherAfterTheDebounce)
{
    Fixture f;
    f.open();
    f.client->sendEditDebounced(editAt(1));
    f.clock.advance(10ms);
    f.client->sendEditDebounced(editAt(2));
    f.clock.advance(10ms);
    f.client->sendEditDebounced(editAt(3));
    f.clock.advance(49ms);
    f.barrier();
    EXPECT_TRUE(f.editPositions(0).isEmpty());
    EXPECT_EQ(f.client->pendingEditCount(), 3);

    f.clock.advance(1ms);
    ASSERT_TRUE(waitUntil([&] { return f.editPositions(0).size() == 3; }));
    EXPECT_EQ(f.editPositions(0), (QList<qint64> {1, 2, 3}));
    EXPECT_EQ(f.client->pendingEditCount(), 0);

    // An edit 60 ms after the previous one starts a burst of its own.
    f.client->sendEditDebounced(editAt(4));
    f.clock.advance(60ms);
    ASSERT_TRUE(waitUntil([&] { return f.editPositions(0).size() == 4; }));
    f.client->sendEditDebounced(editAt(5));
    f.clock.advance(49ms);
    f.barrier();
    EXPECT_EQ(f.editPositions(0).size(), 4);
    f.clock.advance(1ms);
    ASSERT_TRUE(waitUntil([&] { return f.editPositions(0).size() == 5; }));
}

TEST(LiveSyncClient, answersATextPingAndPassesEverythingElseOn)
{
    Fixture f;
    f.open();
    f.relay.sendText(0, u"not json"_s);
    f.relay.sendText(0, u"{\"type\":\"bogus\"}"_s);
    f.relay.sendText(0, u"{\"type\":\"cursor\",\"pos\":\"5\"}"_s);
    f.relay.sendText(0, u"{\"type\":\"ping\"}"_s);
    f.relay.sendText(0, u"{\"type\":\"pong\"}"_s);
    f.relay.sendBinary(0, QByteArray(R"({"type":"ping"})"));
    f.relay.sendBinary(0, QByteArray(R"({"type":"select","file":"b.md","device":"peer"})"));
    ASSERT_TRUE(waitUntil([&] { return f.received->messages.size() == 3; }));
    EXPECT_EQ(f.received->messages[0].type, LiveMessageType::Pong);
    EXPECT_EQ(f.received->messages[1].type, LiveMessageType::Ping); // binary: not answered
    EXPECT_EQ(f.received->messages[2].file, u"b.md"_s);
    ASSERT_TRUE(waitUntil([&] { return f.relay.framesOfType(0, u"pong"_s).size() == 1; }));
    f.barrier();
    EXPECT_EQ(f.relay.framesOfType(0, u"pong"_s).size(), 1);
    EXPECT_EQ(f.relay.openConnectionCount(), 1); // bad frames never close the connection
}

TEST(LiveSyncClient, pingsEveryThirtySeconds)
{
    Fixture f;
    f.open();
    f.clock.advance(29999ms);
    f.barrier();
    EXPECT_TRUE(f.relay.framesOfType(0, u"ping"_s).isEmpty());
    f.clock.advance(1ms);
    ASSERT_TRUE(waitUntil([&] { return f.relay.framesOfType(0, u"ping"_s).size() == 1; }));
    EXPECT_EQ(f.relay.framesOfType(0, u"ping"_s).front().text, u"{\"type\":\"ping\"}"_s);
    f.clock.advance(30000ms);
    ASSERT_TRUE(waitUntil([&] { return f.relay.framesOfType(0, u"ping"_s).size() == 2; }));
}

TEST(LiveSyncClient, reconnectsOneSecondAfterALostConnection)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.open();
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    EXPECT_TRUE(log.contains(u"LiveSync: connection lost, will reconnect"_s));
    EXPECT_EQ(f.clock.nextTimeout(), 1000ms);
    f.clock.advance(999ms);
    EXPECT_EQ(f.relay.connectionCount(), 1);
    f.clock.advance(1ms);
    ASSERT_TRUE(f.relay.waitForOpenConnections(1));
    ASSERT_TRUE(waitUntil([&] { return f.client->isHandshakeDone(); }));
    EXPECT_EQ(f.relay.connectionCount(), 2);
    EXPECT_FALSE(f.received->ended); // the stream survives reconnects

    // Messages still reach the same stream.
    f.relay.sendText(1, u"{\"type\":\"select\",\"file\":\"x.md\"}"_s);
    ASSERT_TRUE(waitUntil([&] { return f.received->messages.size() == 1; }));

    // A close from the server is a loss like any other.
    f.relay.closeAll(QWebSocketProtocol::CloseCodeGoingAway);
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    EXPECT_EQ(f.clock.nextTimeout(), 1000ms);
    f.clock.advance(1000ms);
    ASSERT_TRUE(waitUntil([&] { return f.client->isHandshakeDone(); }));
    EXPECT_EQ(f.relay.connectionCount(), 3);
}

TEST(LiveSyncClient, whileTheServerIsDownAttemptsFollowOneSecondApart)
{
    Fixture f;
    f.open();
    const quint16 port = f.relay.port();
    f.relay.stopListening();
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));

    QList<qint64> waits;
    for (int attempt = 0; attempt < 7; ++attempt) {
        const auto wait = f.clock.nextTimeout();
        ASSERT_TRUE(wait);
        waits.append(wait->count());
        f.clock.advance(*wait);
        ASSERT_TRUE(f.client->isConnected()); // an attempt is under way
        ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    }
    EXPECT_EQ(waits, (QList<qint64> {1000, 1000, 1000, 1000, 1000, 1000, 1000}));
    EXPECT_EQ(f.relay.connectionCount(), 1); // the refused attempts never reached it

    ASSERT_TRUE(f.relay.listen(port));
    f.clock.advance(*f.clock.nextTimeout());
    ASSERT_TRUE(waitUntil([&] { return f.client->isHandshakeDone(); }));
    EXPECT_EQ(f.relay.connectionCount(), 2);
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    EXPECT_EQ(f.clock.nextTimeout(), 1000ms);
}

TEST(LiveSyncClient, aHandshakeThatNeverCompletesIsGivenUp)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.relay.pauseAccepting();
    f.received = livetest::startCollecting(f.client->messages());
    f.client->send(LiveSyncMessage::select(u"a.md"_s, u"d"_s));
    f.clock.advance(29999ms);
    EXPECT_TRUE(f.client->isConnected());
    f.clock.advance(1ms);
    EXPECT_FALSE(f.client->isConnected());
    EXPECT_TRUE(log.contains(u"LiveSync: connection lost, will reconnect"_s));

    // The outbox of the failed attempt is gone; the next attempt works.
    f.relay.resumeAccepting();
    f.clock.advance(*f.clock.nextTimeout());
    ASSERT_TRUE(waitUntil([&] { return f.client->isHandshakeDone(); }));
    f.barrier();
    EXPECT_TRUE(f.relay.allFramesOfType(u"select"_s).isEmpty());
}

TEST(LiveSyncClient, editsDueDuringAnOutageAreDroppedNotResent)
{
    Fixture f;
    f.open();
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    f.client->sendEditDebounced(editAt(1));
    f.clock.advance(50ms);
    EXPECT_EQ(f.client->pendingEditCount(), 0);
    f.clock.advance(*f.clock.nextTimeout());
    ASSERT_TRUE(waitUntil([&] { return f.client->isHandshakeDone(); }));
    f.barrier();
    EXPECT_TRUE(f.relay.allFramesOfType(u"edit"_s).isEmpty());
}

TEST(LiveSyncClient, disconnectClosesWithGoingAwayAndEndsEverything)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.open();
    f.client->sendEditDebounced(editAt(1));
    f.client->close();
    ASSERT_TRUE(waitUntil([&] { return f.relay.openConnectionCount() == 0; }));
    EXPECT_EQ(f.relay.connection(0).closeCode, 1001);
    ASSERT_TRUE(waitUntil([&] { return f.received->ended; }));
    EXPECT_EQ(f.clock.runningTimers(), 0);
    EXPECT_EQ(f.client->pendingEditCount(), 1); // the last debounce is lost, not sent
    f.client->send(LiveSyncMessage::select(u"a.md"_s, u"d"_s));
    EXPECT_FALSE(log.contains(u"connection lost"_s));
}

TEST(LiveSyncClient, disconnectDuringAPendingReconnectCancelsIt)
{
    Fixture f;
    f.open();
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return !f.client->isConnected(); }));
    ASSERT_TRUE(f.clock.nextTimeout());
    f.client->close();
    f.clock.advance(60s);
    EXPECT_FALSE(f.client->isConnected());
    EXPECT_EQ(f.relay.connectionCount(), 1);
}

TEST(LiveSyncClient, aLossAfterDisconnectStartsNoReconnect)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.open();
    f.client->close();
    f.relay.abortAll();
    ASSERT_TRUE(waitUntil([&] { return f.relay.openConnectionCount() == 0; }));
    f.clock.advance(60s);
    EXPECT_EQ(f.relay.connectionCount(), 1);
    EXPECT_FALSE(log.contains(u"connection lost"_s));
}

TEST(LiveSyncClient, aConnectionThatFallsSilentAfterAPingIsGivenUp)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    FakeLiveRelay relay;
    ASSERT_TRUE(relay.listen());
    StallingProxy proxy(relay.port());
    ASSERT_TRUE(proxy.listen());
    FakeClock clock;
    LiveSyncClient client(proxy.baseUrl(), u"42"_s, u"secret"_s, LiveSyncTimings {}, &clock);
    int handshakes = 0;
    QObject::connect(&client, &LiveSyncClient::connected, [&] { ++handshakes; });
    const auto received = livetest::startCollecting(client.messages());
    ASSERT_TRUE(waitUntil([&] { return handshakes == 1; }));

    // A healthy connection answers at least the protocol ping, even with no other device there:
    // once the answer is in, only the ping timer runs.
    for (int ping = 1; ping <= 3; ++ping) {
        clock.advance(30s);
        ASSERT_TRUE(relay.waitForFrames(ping));
        ASSERT_TRUE(waitUntil([&] { return clock.runningTimers() == 1; }));
    }
    EXPECT_TRUE(client.isConnected());

    // Now the peer stops reading: nothing comes back after the next ping.
    proxy.stall();
    clock.advance(30s); // ping
    clock.advance(30s); // ping
    EXPECT_TRUE(client.isConnected());
    clock.advance(29999ms);
    EXPECT_TRUE(client.isConnected());
    clock.advance(1ms); // two intervals after the first unanswered ping
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(log.contains(u"LiveSync: connection lost, will reconnect"_s));
    clock.advance(1s);
    ASSERT_TRUE(waitUntil([&] { return handshakes == 2; }));
    EXPECT_EQ(proxy.connectionCount(), 2);
    EXPECT_FALSE(received->ended);
}
