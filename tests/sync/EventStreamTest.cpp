#include "SyncTestSupport.h"

#include <QSignalSpy>
#include <QTimer>

using namespace synctest;

namespace {

// Pulls notifications from a stream into a list until it ends, like the engine does.
struct Reader
{
    QList<SSEChangeNotification> items;
    std::optional<SyncFailure> failure;
    bool ended = false;
    bool hold = false; // stop pulling until released
};

QCoro::Task<> read(QCoro::AsyncGenerator<SSEChangeNotification> stream, std::shared_ptr<Reader> r)
{
    try {
        auto it = co_await stream.begin();
        while (it != stream.end()) {
            r->items.append(*it);
            co_await ++it;
        }
    } catch (const SyncFailure &f) {
        r->failure = f;
    }
    r->ended = true;
}

std::shared_ptr<Reader> startReading(const FileSyncClient &client, const QString &folderId,
                                     const QString &token,
                                     std::optional<QString> lastEventId = std::nullopt)
{
    auto r = std::make_shared<Reader>();
    read(client.events(folderId, token, lastEventId), r);
    return r;
}

} // namespace

TEST(EventStream, deliversEventsSentInPiecesAndSendsTheHeaders)
{
    Fixture f;
    auto r = startReading(f.client(), f.folderId, f.folder.token, QStringLiteral("17"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    const FakeSyncRequest req = f.backend.requests("GET", "/events$").last();
    EXPECT_EQ(req.path, QStringLiteral("/sync/folders/%1/events").arg(f.folder.id));
    EXPECT_EQ(req.header("Accept"), "text/event-stream");
    EXPECT_EQ(req.header("X-Folder-Token"), f.folder.token.toUtf8());
    EXPECT_EQ(req.header("Last-Event-ID"), "17");

    f.backend.pushSse("id: 42\r");
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openConnectionCount() >= 1; }));
    f.backend.pushSse("\nevent: structure_changed\r");
    f.backend.pushSse("\n\r");
    f.backend.pushSse("\n");
    f.backend.keepalive(43);
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->items.size() == 2; }));
    EXPECT_EQ(
        r->items.at(0),
        SSEChangeNotification(QStringLiteral("42"), f.folderId, SSEEventType::structureChanged));
    EXPECT_EQ(r->items.at(1),
              SSEChangeNotification(QStringLiteral("43"), f.folderId, SSEEventType::keepalive));

    // An unterminated event at the normal end is discarded; the sequence ends without error.
    f.backend.pushSse("id: 44\nevent: change\n");
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    EXPECT_FALSE(r->failure.has_value());
    EXPECT_EQ(r->items.size(), 2);
}

TEST(EventStream, noLastEventIdHeaderWithoutResumePosition)
{
    Fixture f;
    auto r = startReading(f.client(), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    EXPECT_FALSE(f.backend.requests("GET", "/events$").last().hasHeader("Last-Event-ID"));
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
}

TEST(EventStream, statusesFailAsServerErrorEvenUnauthorized)
{
    Fixture f;
    auto r = startReading(f.client(), f.folderId, QStringLiteral("wrong"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    ASSERT_TRUE(r->failure.has_value());
    EXPECT_TRUE(isFileSync(*r->failure, FileSyncError::serverError(401)));

    f.backend.setSseStatus(503);
    r = startReading(f.client(), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    EXPECT_TRUE(isFileSync(*r->failure, FileSyncError::serverError(503)));
    f.backend.setSseStatus(0);

    // Qt reports bytes that are not HTTP as a closed connection.
    f.backend.garbageNext("GET", "/events$", -1);
    r = startReading(f.client(), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    ASSERT_TRUE(r->failure.has_value());
    EXPECT_EQ(r->failure->kind(), SyncFailure::Kind::Transport)
        << r->failure->description().toStdString();
}

TEST(EventStream, droppedConnectionFailsWithTheTransportError)
{
    Fixture f;
    auto r = startReading(f.client(), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    f.backend.pushEvent(1, QStringLiteral("change"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->items.size() == 1; }));
    f.backend.abortStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    ASSERT_TRUE(r->failure.has_value());
    EXPECT_EQ(r->failure->kind(), SyncFailure::Kind::Transport);
}

TEST(EventStream, cancellingWhileIdleEndsQuietlyAndClosesTheConnection)
{
    Fixture f;
    CancelToken cancel;
    QSignalSpy closed(&f.backend, &FakeSyncBackend::streamClosed);
    auto r = startReading(f.client().withCancellation(cancel), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    cancel.cancel();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    EXPECT_FALSE(r->failure.has_value());
    ASSERT_TRUE(testsupport::waitUntil([&] { return closed.count() == 1; }));
    EXPECT_EQ(f.backend.openStreamCount(), 0);
}

TEST(EventStream, idleAndTotalTimeouts)
{
    Fixture f;
    f.timing.streamIdleTimeout = std::chrono::milliseconds(300);
    auto r = startReading(f.client(), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    ASSERT_TRUE(r->failure.has_value());
    EXPECT_EQ(r->failure->kind(), SyncFailure::Kind::Timeout);

    // Keep-alives keep the idle timer happy, but the total limit still ends the stream.
    f.timing.streamIdleTimeout = std::chrono::seconds(5);
    f.timing.streamTotalTimeout = std::chrono::milliseconds(600);
    r = startReading(f.client(), f.folderId, f.folder.token);
    QTimer ticker;
    qint64 n = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { f.backend.keepalive(++n); });
    ticker.start(50);
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
    ASSERT_TRUE(r->failure.has_value());
    EXPECT_EQ(r->failure->kind(), SyncFailure::Kind::Timeout);
    EXPECT_GE(r->items.size(), 2);
}

TEST(EventStream, overlongLineIsDroppedAndTheStreamGoesOn)
{
    Fixture f;
    SyncLimits limits;
    limits.maxEventLineBytes = 1024;
    auto r = startReading(f.client(limits), f.folderId, f.folder.token);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    for (int i = 0; i < 8; ++i)
        f.backend.pushSse("data: " + QByteArray(1000, 'x'));
    f.backend.pushSse("\n\nid: 2\nevent: file_request\n\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->items.size() == 2; }));
    EXPECT_EQ(r->items.at(1),
              SSEChangeNotification(QStringLiteral("2"), f.folderId, SSEEventType::fileRequest));
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r->ended; }));
}
