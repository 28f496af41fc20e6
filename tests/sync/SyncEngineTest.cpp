#include "SyncTestSupport.h"

#include "core/sync/DownloadInstaller.h"
#include "core/sync/SyncEngine.h"
#include "core/sync/SyncState.h"

#include "platform/AsyncQueue.h"
#include "platform/Defaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace std::chrono_literals;

using namespace synctest;
using Status = SyncState::ConnectionStatus;

namespace {

struct EngineFixture : Fixture
{
    QTemporaryDir dir;
    Defaults defaults {dir.filePath(QStringLiteral("defaults.json"))};
    SyncState state {defaults};

    EngineFixture()
    {
        state.setFolderId(folderId);
        state.setFolderToken(folder.token);
    }
    std::unique_ptr<SyncEngine> engine() { return std::make_unique<SyncEngine>(client(), state); }
};

// Records what the engine hands to its handler; the handler can be held open by the test.
struct Recorder
{
    QList<SSEChangeNotification> events;
    int running = 0;
    int maxRunning = 0;
    bool open = true;
    AsyncQueue<bool> gate;
    void release()
    {
        open = true;
        gate.push(true);
    }
};

QCoro::Task<> handle(std::shared_ptr<Recorder> r, SSEChangeNotification n)
{
    r->events.append(n);
    r->maxRunning = std::max(r->maxRunning, ++r->running);
    while (!r->open)
        co_await r->gate.next();
    --r->running;
}

SyncEngine::EventHandler handler(const std::shared_ptr<Recorder> &r)
{
    return [r](SSEChangeNotification n) { return handle(r, std::move(n)); };
}

// Collects every status the state passes through.
struct StatusLog
{
    QList<Status> seen;
    QMetaObject::Connection c;
    explicit StatusLog(SyncState &state)
    {
        c = QObject::connect(&state, &SyncState::connectionStatusChanged,
                             [this, &state] { seen.append(state.connectionStatus()); });
    }
    ~StatusLog() { QObject::disconnect(c); }
    bool contains(Status::Kind k) const
    {
        for (const Status &s : seen)
            if (s.kind == k)
                return true;
        return false;
    }
};

} // namespace

TEST(SyncEngine, withoutCredentialsWaitsAndNeverConnects)
{
    EngineFixture f;
    f.state.clear();
    StatusLog log(f.state);
    auto engine = f.engine();
    engine->start([](SSEChangeNotification) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->waits().size() >= 14; }));
    engine->stop();
    EXPECT_EQ(f.clock->waits().mid(0, 14),
              (QList<std::chrono::milliseconds> {5s, 1s, 5s, 2s, 5s, 4s, 5s, 8s, 5s, 16s, 5s, 30s,
                                                 5s, 30s}));
    EXPECT_FALSE(log.contains(Status::Kind::connecting));
    EXPECT_EQ(f.backend.totalStreamCount(), 0);
    EXPECT_TRUE(f.backend.requests().isEmpty());
}

TEST(SyncEngine, eventsAdvanceTheServerIdAndReachTheHandlerOneAtATime)
{
    EngineFixture f;
    f.state.setLastServerID(100);
    StatusLog log(f.state);
    auto rec = std::make_shared<Recorder>();
    auto engine = f.engine();
    engine->start(handler(rec));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    EXPECT_EQ(f.backend.streamLastEventIds().last(), QByteArray("100"));

    // A keep-alive advances the position and reaches the handler but does not mark connected.
    f.backend.keepalive(120);
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 1; }));
    EXPECT_EQ(rec->events.first().eventType, SSEEventType::keepalive);
    EXPECT_EQ(f.state.lastServerID(), 120);
    EXPECT_EQ(f.defaults.integer(QStringLiteral("sync.lastServerID")), 120);
    EXPECT_EQ(f.state.connectionStatus(), Status::connecting());

    // Ids that are not numbers, or not larger, change nothing; "+7"-style signs are numbers.
    f.backend.pushSse("id: 7a\n\nid:\n\nid: 5\n\nid: +121\nevent: change\n\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 5; }));
    EXPECT_EQ(f.state.lastServerID(), 121);
    EXPECT_EQ(f.state.connectionStatus(), Status::connected());
    EXPECT_EQ(rec->events.at(4).folderId, f.folderId);

    // While the handler runs, the next event waits.
    rec->open = false;
    f.backend.pushSse("id: 130\nevent: structure_changed\n\nid: 131\nevent: file_request\n\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 6; }));
    EXPECT_FALSE(testsupport::waitUntil([&] { return rec->events.size() > 6; },
                                        std::chrono::milliseconds(150)));
    EXPECT_EQ(f.state.lastServerID(), 130);
    rec->release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 7; }));
    EXPECT_EQ(rec->maxRunning, 1);
    EXPECT_EQ(f.state.lastServerID(), 131);

    // The next connection resumes from there.
    f.backend.closeStreams();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.totalStreamCount() == 2; }));
    EXPECT_EQ(f.backend.streamLastEventIds().last(), QByteArray("131"));
    EXPECT_EQ(f.clock->waits(), QList<std::chrono::milliseconds> {1s});
    engine->stop();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.state.connectionStatus() == Status::disconnected(); }));
}

TEST(SyncEngine, parsesEventIdsStrictly)
{
    EXPECT_EQ(SyncEngine::parseEventID(QStringLiteral("+7")), 7);
    EXPECT_EQ(SyncEngine::parseEventID(QStringLiteral("-7")), -7);
    EXPECT_EQ(SyncEngine::parseEventID(QStringLiteral("9223372036854775807")),
              std::numeric_limits<qint64>::max());
    for (const QString &bad :
         {QStringLiteral("7a"), QString(), QStringLiteral("+"), QStringLiteral(" 7"),
          QStringLiteral("9223372036854775808"), QStringLiteral("0x10"), QStringLiteral("1e3")})
        EXPECT_FALSE(SyncEngine::parseEventID(bad).has_value()) << bad.toStdString();
    EXPECT_FALSE(SyncEngine::parseEventID(std::nullopt).has_value());
}

TEST(SyncEngine, noResumePositionAtZero)
{
    EngineFixture f;
    auto engine = f.engine();
    engine->start([](SSEChangeNotification) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    EXPECT_FALSE(f.backend.streamLastEventIds().last().has_value());
    engine->stop();
    f.state.setLastServerID(1);
    engine->start([](SSEChangeNotification) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.totalStreamCount() == 2; }));
    EXPECT_EQ(f.backend.streamLastEventIds().last(), QByteArray("1"));
}

TEST(SyncEngine, failingStreamShowsErrorAndRetriesAfterOneSecond)
{
    EngineFixture f;
    f.clock->holdWaits(true);
    f.backend.setSseStatus(500);
    StatusLog log(f.state);
    auto engine = f.engine();
    engine->start([](SSEChangeNotification) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 1; }));
    EXPECT_EQ(f.state.connectionStatus(), Status::error(QStringLiteral("Server error (500)")));
    for (int i = 0; i < 3; ++i) {
        f.clock->release();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return f.clock->pendingWaits() == 1 && f.clock->waits().size() == i + 2; }));
    }
    EXPECT_EQ(f.clock->waits(), (QList<std::chrono::milliseconds> {1s, 1s, 1s, 1s}));
    EXPECT_EQ(f.backend.totalStreamCount(), 4);
    QList<Status::Kind> expected;
    for (int i = 0; i < 4; ++i)
        expected << Status::Kind::connecting << Status::Kind::error;
    QList<Status::Kind> seen;
    for (const Status &s : log.seen)
        seen << s.kind;
    EXPECT_EQ(seen, expected);

    // stop() ends the wait at once and leaves the status disconnected.
    engine->stop();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.state.connectionStatus() == Status::disconnected(); }));
    EXPECT_EQ(f.clock->pendingWaits(), 0);
}

TEST(SyncEngine, startTwiceKeepsOneLoopAndStopStartBeginsANewOne)
{
    EngineFixture f;
    auto engine = f.engine();
    auto rec = std::make_shared<Recorder>();
    engine->start(handler(rec));
    engine->start(handler(rec));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    f.backend.pushEvent(1, QStringLiteral("change"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 1; }));
    EXPECT_EQ(f.backend.totalStreamCount(), 1);

    engine->stop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 0; }));
    engine->start(handler(rec));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    EXPECT_EQ(f.backend.totalStreamCount(), 2);
    // The old loop's end must not mark the new connection as disconnected.
    f.backend.pushEvent(2, QStringLiteral("change"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 2; }));
    EXPECT_EQ(f.state.connectionStatus(), Status::connected());
}

TEST(SyncEngine, stopWhileTheHandlerRunsDeliversNothingMore)
{
    EngineFixture f;
    auto engine = f.engine();
    auto rec = std::make_shared<Recorder>();
    rec->open = false;
    engine->start(handler(rec));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    f.backend.pushSse("id: 1\n\nid: 2\n\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 1; }));
    engine->stop();
    rec->release();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.state.connectionStatus() == Status::disconnected(); }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 0; }));
    EXPECT_EQ(rec->events.size(), 1);
    EXPECT_EQ(f.backend.totalStreamCount(), 1);
}

TEST(SyncEngine, destroyingTheEngineEndsEverythingWithoutTouchingTheStatus)
{
    EngineFixture f;
    auto engine = f.engine();
    engine->start([](SSEChangeNotification) -> QCoro::Task<> { co_return; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    f.backend.pushEvent(1, QStringLiteral("change"));
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return f.state.connectionStatus() == Status::connected(); }));
    f.backend.hangNext("GET", "/structure$");
    auto pending = engine->fetchStructure();
    engine.reset();
    EXPECT_TRUE(synctest::failure(std::move(pending)).isCancelled());
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.backend.openStreamCount() == 0; }));
    EXPECT_EQ(f.state.connectionStatus(), Status::connected());
}

TEST(SyncEngine, folderOperations)
{
    EngineFixture f;
    QTemporaryDir files;
    auto engine = f.engine();
    const QString path = files.filePath(QStringLiteral("a.md"));
    testsupport::writeFile(path, "alpha");

    const FileUploadResponse up
        = run(engine->uploadFile(path, QStringLiteral("a.md"), QStringLiteral("mac")));
    const StructureUploadResponse structure = run(engine->uploadStructure(
        {StructureFileEntry(QStringLiteral("a.md"), 5, QStringLiteral("text/markdown"))}));
    EXPECT_EQ(f.state.structureHash(), structure.structure_hash);
    EXPECT_FALSE(f.defaults.contains(QStringLiteral("sync.structureHash"))); // not saved

    // Equal tag: no change; the tag differs once the remote structure moves on.
    EXPECT_FALSE(run(engine->remoteStructureChanged()));
    f.backend.setStructure(f.folder.id, QJsonArray());
    EXPECT_TRUE(run(engine->remoteStructureChanged()));

    const StructureResponse fetched = run(engine->fetchStructure());
    EXPECT_EQ(f.state.structureHash(), fetched.structure_hash);
    EXPECT_EQ(f.defaults.string(QStringLiteral("sync.structureHash")), fetched.structure_hash);
    EXPECT_EQ(f.state.lastSyncDate(), f.clock->now());
    EXPECT_FALSE(run(engine->remoteStructureChanged()));

    EXPECT_EQ(run(engine->resolveFile(QStringLiteral("a.md"))).file_id, up.id);
    const FileRequestResponse request = run(engine->requestFile(up.id));
    const QList<PendingFileRequest> pending = run(engine->pendingFileRequests());
    ASSERT_EQ(pending.size(), 1);
    run(engine->fulfillFileRequest(pending.first().id, up.id, path));
    EXPECT_EQ(f.backend.fileRequests(f.folder.id).first().status, QStringLiteral("fulfilled"));
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("status"), QStringLiteral("fulfilled")}}));
    EXPECT_EQ(request.request_id, pending.first().id);

    // A failed content upload leaves the request pending.
    const qint64 second = f.backend.addFileRequest(f.folder.id, up.id);
    f.backend.failNext("PUT", "/content$", 500);
    f.backend.clearRequests();
    EXPECT_TRUE(isFileSync(synctest::failure(engine->fulfillFileRequest(second, up.id, path)),
                           FileSyncError::serverError(500)));
    EXPECT_EQ(f.backend.requestCount("PUT", "/file-requests/"), 0);
}

TEST(SyncEngine, downloadsGoToPrivateNamesOfOurOwn)
{
    EngineFixture f;
    auto engine = f.engine();
    const qint64 id = f.backend.addFile(f.folder.id, QStringLiteral("a.md"), "remote");
    const auto downloaded = run(engine->downloadFile(id));
    EXPECT_EQ(downloaded.filename, QStringLiteral("a.md"));
    EXPECT_EQ(QFileInfo(downloaded.path).absolutePath(),
              QFileInfo(DownloadInstaller::privateFolder()).absoluteFilePath());
    EXPECT_EQ(testsupport::readFile(downloaded.path), QByteArray("remote"));
    QFile::remove(downloaded.path);

    // The server's file name is data only, never a path.
    f.backend.respondNext(
        "GET", "/url$", 200,
        QJsonObject {{QStringLiteral("url"), f.backend.blobURL(f.backend.file(id)->s3Key)},
                     {QStringLiteral("filename"), QStringLiteral("../../.bashrc")},
                     {QStringLiteral("size_bytes"), 6},
                     {QStringLiteral("content_type"), QStringLiteral("text/plain")}});
    const auto hostile = run(engine->downloadFile(id));
    EXPECT_EQ(hostile.filename, QStringLiteral("../../.bashrc"));
    EXPECT_EQ(QFileInfo(hostile.path).absolutePath(),
              QFileInfo(DownloadInstaller::privateFolder()).absoluteFilePath());
    EXPECT_FALSE(QFileInfo(hostile.path).fileName().contains(QStringLiteral("bashrc")));
    QFile::remove(hostile.path);

    // An address that is no http(s) URL is refused before anything is downloaded.
    f.backend.clearRequests();
    for (const QString &url :
         {QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url at all")}) {
        f.backend.respondNext(
            "GET", "/url$", 200,
            QJsonObject {{QStringLiteral("url"), url},
                         {QStringLiteral("filename"), QStringLiteral("x")},
                         {QStringLiteral("size_bytes"), 1},
                         {QStringLiteral("content_type"), QStringLiteral("text/plain")}});
        const SyncFailure failure = synctest::failure(engine->downloadFile(id));
        ASSERT_TRUE(failure.syncError().has_value());
        EXPECT_EQ(*failure.syncError(), SyncError::invalidURL());
    }
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 0);
}

TEST(SyncEngine, fetchChangesAsksSinceTheLastIdAndSavesOnlyProgress)
{
    EngineFixture f;
    auto engine = f.engine();
    for (int i = 0; i < 3; ++i)
        f.backend.addFile(f.folder.id, QStringLiteral("f%1.md").arg(i), "x");
    f.state.setLastServerID(f.backend.latestServerId());
    const ChangesResponse none = run(engine->fetchChanges());
    EXPECT_TRUE(none.changes.isEmpty());
    EXPECT_EQ(f.backend.requests().last().rawQuery,
              QStringLiteral("since=%1&limit=500").arg(f.backend.latestServerId()));
    EXPECT_FALSE(f.defaults.contains(QStringLiteral("sync.lastServerID")));

    f.state.setLastServerID(1);
    const ChangesResponse some = run(engine->fetchChanges());
    EXPECT_EQ(some.changes.size(), 2);
    EXPECT_EQ(f.state.lastServerID(), 3);
    EXPECT_EQ(f.defaults.integer(QStringLiteral("sync.lastServerID")), 3);
}

TEST(SyncEngine, withoutCredentialsOperationsSendNothing)
{
    EngineFixture f;
    f.state.setFolderToken(std::nullopt);
    auto engine = f.engine();
    auto notPaired = [](const SyncFailure &failure) {
        return failure.syncError() && *failure.syncError() == SyncError::notPaired();
    };
    EXPECT_TRUE(notPaired(synctest::failure(engine->fetchStructure())));
    EXPECT_TRUE(notPaired(synctest::failure(engine->uploadStructure({}))));
    EXPECT_TRUE(notPaired(synctest::failure(engine->downloadFile(1))));
    EXPECT_TRUE(
        notPaired(synctest::failure(engine->fulfillFileRequest(1, 1, QStringLiteral("/x")))));
    EXPECT_TRUE(notPaired(synctest::failure(engine->fetchChanges())));
    EXPECT_FALSE(run(engine->remoteStructureChanged()));
    EXPECT_TRUE(f.backend.requests().isEmpty());
}

TEST(SyncEngine, pollingReportsStructureChanges)
{
    EngineFixture f;
    f.clock->holdWaits(true);
    auto engine = f.engine();
    auto rec = std::make_shared<Recorder>();
    f.state.setStructureHash(f.backend.structureHash(f.folder.id));
    engine->startPolling(10ms, handler(rec));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 1; }));
    EXPECT_EQ(f.clock->waits(), QList<std::chrono::milliseconds> {1s}); // raised to the minimum
    f.clock->release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->waits().size() == 2; }));
    EXPECT_TRUE(rec->events.isEmpty());
    EXPECT_EQ(f.backend.requestCount("HEAD", "/structure$"), 1);

    f.backend.setStructure(
        f.folder.id,
        QJsonArray {QJsonObject {{QStringLiteral("relative_path"), QStringLiteral("x")},
                                 {QStringLiteral("size_bytes"), 1},
                                 {QStringLiteral("content_type"), QStringLiteral("t")}}});
    f.clock->release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return rec->events.size() == 1; }));
    EXPECT_EQ(rec->events.first(),
              SSEChangeNotification(std::nullopt, f.folderId, SSEEventType::structureChanged));

    engine->stopPolling();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 0; }));
    EXPECT_FALSE(engine->isPolling());
}
