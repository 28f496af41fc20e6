#include "SyncTestSupport.h"

#include "core/sync/SyncEventStream.h"

#include <QFile>
#include <QSignalSpy>

#include <cstdio>

using namespace synctest;
using namespace Qt::StringLiterals;

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

    // Keep-alives keep the idle timer happy, but the total limit, on the clock, still ends the
    // stream.
    f.timing.streamIdleTimeout = std::chrono::seconds(5);
    r = startReading(f.client(), f.folderId, f.folder.token);
    qint64 n = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        f.backend.keepalive(++n);
        return r->items.size() >= 2;
    }));
    EXPECT_FALSE(r->ended);
    f.clock->advance(f.timing.streamTotalTimeout);
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

namespace {

// The folder's stream, opened directly so that nothing is taken from it while the test looks.
std::unique_ptr<SyncEventStream> openUntakenStream(Fixture &f)
{
    SyncHttpRequest r
        = f.client().makeRequest(QStringLiteral("/sync/folders/%1/events").arg(f.folderId), "GET");
    FileSyncClient::setFolderToken(r.request, f.folder.token);
    auto stream = std::make_unique<SyncEventStream>(r.request, f.folderId, f.timing, SyncLimits {});
    stream->start();
    EXPECT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    return stream;
}

// A "VmRSS:"-style field of /proc/self/status, in KiB.
qint64 memoryKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

SSEChangeNotification note(std::optional<QString> id, const QString &folder, SSEEventType type)
{
    return SSEChangeNotification(std::move(id), folder, type);
}

} // namespace

TEST(EventStream, waitingNotificationsAbsorbEmptyEventsAndKeepalives)
{
    Fixture f;
    auto stream = openUntakenStream(f);
    f.backend.pushSse(QByteArray(1000, '\n')
                      + ": keepalive 5\n: keepalive 7\n: keepalive x\n: keepalive 6\n\n\n"
                        "id: 8\n\nevent: device_changed\nid: 9\n\n");
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return stream->notifications().isFinished(); }));
    const QString &id = f.folderId;
    EXPECT_EQ(stream->notifications().takeAll(),
              (QList<SSEChangeNotification> {
                  note(std::nullopt, id, SSEEventType::change),
                  note(u"7"_s, id, SSEEventType::keepalive), // the largest id
                  note(u"8"_s, id, SSEEventType::change),
                  note(u"9"_s, id, SSEEventType::deviceChanged),
              }));

    // Events with ids of two types in turn: a flood, still bounded, the last ids kept.
    stream = openUntakenStream(f);
    QByteArray flood;
    for (int i = 1; i <= 5000; ++i)
        flood += "id: " + QByteArray::number(i) + "\n\n: keepalive " + QByteArray::number(i) + "\n";
    f.backend.pushSse(flood);
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return stream->notifications().isFinished(); }));
    const QList<SSEChangeNotification> items = stream->notifications().takeAll();
    EXPECT_LE(items.size(), 300);
    EXPECT_TRUE(items.contains(note(u"5000"_s, id, SSEEventType::change)));
    EXPECT_TRUE(items.contains(note(u"5000"_s, id, SSEEventType::keepalive)));
}

TEST(EventStream, thirtyMebibytesOfNewlinesKeepMemoryBounded)
{
    Fixture f;
    auto stream = openUntakenStream(f);
    // Forget the peak so far, where the kernel allows it.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const qint64 before = memoryKiB("VmRSS:");
    ASSERT_GT(before, 0);

    // Paced, so that our own side of the connection never holds much.
    const QByteArray slice(256 * 1024, '\n');
    for (int i = 0; i < 120; ++i) {
        f.backend.pushSse(slice);
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.unsentSseBytes() < 64 * 1024; }));
    }
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return stream->notifications().isFinished(); },
                                       std::chrono::seconds(60)));
    const qint64 growth = memoryKiB("VmHWM:") - before;
    std::printf("RSS growth for 30 MiB of newlines: %lld KiB\n", static_cast<long long>(growth));
    EXPECT_LE(growth, 50 * 1024);
    EXPECT_EQ(stream->notifications().size(), 1);
}
