#include "SyncTestSupport.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTimer>

using namespace synctest;

namespace {

QString writeTemp(QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    testsupport::writeFile(path, bytes);
    return path;
}

} // namespace

TEST(FileSyncClient, baseURLJoinsWithOneSlashAndRejectsUnusableStrings)
{
    Fixture f;
    for (const QString &base :
         {f.backend.baseURLString(), f.backend.baseURLString() + QStringLiteral("/"),
          f.backend.baseURLString() + QStringLiteral("//")}) {
        f.backend.clearRequests();
        const FileSyncClient client(base, nullptr, f.timing);
        run(client.createFolder(QStringLiteral("A")));
        ASSERT_EQ(f.backend.requests().size(), 1);
        EXPECT_EQ(f.backend.requests().first().path, QStringLiteral("/sync/folders"));
    }
    for (const QString &bad :
         {QStringLiteral("not a url"), QStringLiteral("127.0.0.1:8080"), QString(),
          QStringLiteral("file:///etc"), QStringLiteral("ftp://host/x"), QStringLiteral("http://")})
        EXPECT_EQ(FileSyncClient(bad).baseURL(), defaultSyncBackendURL()) << bad.toStdString();
    EXPECT_TRUE(defaultSyncBackendURL().isValid());
    EXPECT_TRUE(defaultSyncBackendURL().host().endsWith(QStringLiteral(".invalid")));

    // A composed URL that does not parse is refused locally; nothing goes to the bare base URL.
    const FileSyncClient local(f.backend.baseURLString(), nullptr, f.timing);
    for (const QString &path :
         {QStringLiteral("/sync/folders/%zz"), QStringLiteral("/sync/folders/a b")}) {
        try {
            local.makeRequest(path, "DELETE");
            ADD_FAILURE() << "accepted " << path.toStdString();
        } catch (const SyncFailure &e) {
            EXPECT_TRUE(isFileSync(e, FileSyncError(FileSyncError::Case::invalidResponse)));
        }
    }

    // A base with a path keeps it.
    const FileSyncClient withPath(QStringLiteral("https://example.invalid/api/"));
    EXPECT_EQ(withPath.makeRequest(QStringLiteral("/sync/folders"), "GET").request.url().toString(),
              QStringLiteral("https://example.invalid/api/sync/folders"));
}

TEST(FileSyncClient, everyEndpointAgainstTheBackend)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    const QString id = f.folderId;
    const QString tok = f.folder.token;

    const CreateFolderResponse created
        = run(c.createFolder(QStringLiteral("Second"), 7, QStringLiteral("laptop")));
    EXPECT_EQ(created.name, QStringLiteral("Second"));
    EXPECT_EQ(created.owner_id, 7);
    EXPECT_EQ(created.source_device_name, QStringLiteral("laptop"));
    EXPECT_FALSE(created.folder_token.isEmpty());

    const FileUploadResponse up
        = run(c.uploadFile(id, tok, writeTemp(dir, QStringLiteral("a.md"), "# A"),
                           QStringLiteral("docs/a.md"), QStringLiteral("mac")));
    EXPECT_EQ(up.relative_path, QStringLiteral("docs/a.md"));
    EXPECT_EQ(up.size_bytes, 3);
    EXPECT_EQ(
        up.sha256,
        QString::fromLatin1(QCryptographicHash::hash("# A", QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(f.backend.file(up.id)->bytes, QByteArray("# A"));
    EXPECT_EQ(f.backend.file(up.id)->contentType, QStringLiteral("text/markdown"));

    const FileListResponse list = run(c.listFiles(id, tok));
    EXPECT_EQ(list.total, 1);
    EXPECT_EQ(run(c.getFolder(id, tok)).file_count, 1);

    const qint64 bare = f.backend.addFile(f.folder.id, QStringLiteral("b.md"), "bbb", false);
    const ContentUploadResponse content
        = run(c.uploadContent(id, tok, bare, writeTemp(dir, QStringLiteral("b.md"), "bbbb")));
    EXPECT_TRUE(content.has_content);
    EXPECT_EQ(f.backend.file(bare)->bytes, QByteArray("bbbb"));

    const DownloadURLResponse url = run(c.downloadURL(id, tok, up.id));
    EXPECT_TRUE(url.url.startsWith(f.backend.baseURLString() + QStringLiteral("/blob/")));

    const ChangesResponse changes = run(c.changes(id, tok, 0, 1));
    EXPECT_EQ(changes.changes.size(), 1);
    EXPECT_TRUE(changes.has_more);
    EXPECT_EQ(f.backend.requests().last().rawQuery, QStringLiteral("since=0&limit=1"));

    const QList<StructureFileEntry> entries {StructureFileEntry(
        QStringLiteral("docs/a.md"), 3, QStringLiteral("text/markdown"), std::nullopt, std::nullopt,
        std::nullopt, QStringLiteral("2023-11-14T22:13:20Z"))};
    const StructureUploadResponse uploaded = run(c.uploadStructure(id, tok, entries));
    EXPECT_EQ(uploaded.file_count, 1);
    const QJsonObject sent = f.backend.requests().last().json();
    EXPECT_EQ(sent.keys(), QStringList {QStringLiteral("files")});
    EXPECT_EQ(f.backend.requests().last().header("Content-Type"), "application/json");
    const StructureResponse structure = run(c.getStructure(id, tok));
    ASSERT_EQ(structure.files.size(), 1);
    EXPECT_EQ(structure.files.first().file_id, up.id);
    EXPECT_EQ(structure.structure_hash, uploaded.structure_hash);
    EXPECT_EQ(run(c.structureETag(id, tok)), uploaded.structure_hash);

    const ResolveFileResponse resolved = run(c.resolveFile(id, tok, QStringLiteral("docs/a.md")));
    EXPECT_EQ(resolved.file_id, up.id);
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("relative_path"), QStringLiteral("docs/a.md")}}));

    const FileRequestResponse requested = run(c.requestFile(id, tok, up.id));
    ASSERT_TRUE(requested.request_id.has_value());
    EXPECT_TRUE(f.backend.requests().last().body.isEmpty());
    EXPECT_FALSE(f.backend.requests().last().hasHeader("Content-Type"));
    const PendingFileRequestListResponse pending = run(c.pendingFileRequests(id, tok));
    ASSERT_EQ(pending.requests.size(), 1);
    EXPECT_EQ(f.backend.requests().last().rawQuery, QStringLiteral("status=pending"));
    const UpdateFileRequestResponse updated
        = run(c.updateFileRequest(id, tok, *requested.request_id, QStringLiteral("fulfilled")));
    EXPECT_EQ(updated.status, QStringLiteral("fulfilled"));
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("status"), QStringLiteral("fulfilled")}}));
    EXPECT_TRUE(run(c.pendingFileRequests(id, tok)).requests.isEmpty());

    const MetadataUploadResponse meta = run(c.uploadMetadata(
        id, tok,
        MetadataUploadRequest(QStringLiteral("m.md"), QStringLiteral("m.md"),
                              QStringLiteral("text/markdown"), 10, QString(64, u'a'))));
    EXPECT_FALSE(meta.has_content);
    EXPECT_FALSE(f.backend.requests().last().json().contains(QStringLiteral("source_device")));

    const qint64 device = f.backend.addDevice(f.folder.id, QStringLiteral("phone"));
    EXPECT_EQ(run(c.listDevices(id, tok)).devices.size(), 1);
    EXPECT_EQ(run(c.deviceStatus(device, 7)).deviceId, device);
    EXPECT_EQ(f.backend.requests().last().rawQuery, QStringLiteral("owner_id=7"));
    run(c.deviceStatus(device));
    EXPECT_EQ(f.backend.requests().last().rawQuery, QString());
    run(c.revokeDevice(id, tok, device));
    EXPECT_TRUE(f.backend.devices(f.folder.id).isEmpty());

    EXPECT_EQ(run(c.deleteFile(id, tok, bare)).file_id, bare);
    EXPECT_EQ(run(c.deleteFolder(id, tok)).folder_id, f.folder.id);
}

TEST(FileSyncClient, tokenOnlyOnFolderRoutes)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    const QString path = writeTemp(dir, QStringLiteral("a.md"), "x");
    const FileUploadResponse up = run(c.uploadFile(f.folderId, f.folder.token, path));
    run(c.getStructure(f.folderId, f.folder.token));
    run(c.structureETag(f.folderId, f.folder.token));
    run(c.listDevices(f.folderId, f.folder.token));
    run(c.downloadURL(f.folderId, f.folder.token, up.id));
    run(c.createFolder(QStringLiteral("x")));
    const PairRequestResponse pair = run(c.requestPairing(QStringLiteral("pad")));
    run(c.pairingStatus(pair.pollSecret));
    run(c.confirmPairing(pair.code, f.folderId, f.folder.token));
    run(c.deviceStatus(f.backend.devices(f.folder.id).first().id));

    for (const FakeSyncRequest &r : f.backend.requests()) {
        const bool folderRoute = r.path.startsWith(QStringLiteral("/sync/folders/"));
        EXPECT_EQ(r.hasHeader("X-Folder-Token"), folderRoute) << r.path.toStdString();
        if (folderRoute) {
            EXPECT_EQ(r.header("X-Folder-Token"), f.folder.token.toUtf8());
        }
        // The token travels only in the header.
        EXPECT_FALSE(r.rawQuery.contains(f.folder.token)) << r.path.toStdString();
    }
}

TEST(FileSyncClient, tokensWithControlCharactersAreNeverSent)
{
    Fixture f;
    const FileSyncClient c = f.client();
    const QString expected = QStringLiteral(
        "Die Anfrage wurde nicht gesendet: Der Wert für „X-Folder-Token“ enthält Steuerzeichen.");
    for (const QString &token :
         {QStringLiteral("abc\r\nX-Injected: yes"), QStringLiteral("abc\r\n"),
          QStringLiteral("a\u0000b"), QStringLiteral("a\u007Fb")}) {
        const SyncFailure failure = synctest::failure(c.getStructure(f.folderId, token));
        EXPECT_EQ(failure.kind(), SyncFailure::Kind::LocalLimit);
        EXPECT_EQ(failure.description(), expected);
        auto stream = c.events(f.folderId, token, std::nullopt);
        try {
            synctest::run([](auto &s) -> QCoro::Task<> { co_await s.begin(); }(stream));
            ADD_FAILURE() << "the stream opened";
        } catch (const SyncFailure &streamFailure) {
            EXPECT_EQ(streamFailure.description(), expected);
        }
    }
    EXPECT_TRUE(f.backend.requests().isEmpty());
    // A tab is part of a valid header value (and then simply a wrong token).
    EXPECT_TRUE(isFileSync(synctest::failure(c.getStructure(f.folderId, QStringLiteral("a\tb"))),
                           FileSyncError(FileSyncError::Case::unauthorized)));
}

TEST(FileSyncClient, queryValuesAndFolderIdAreEncoded)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    const QString path = writeTemp(dir, QStringLiteral("a.md"), "x");

    run(c.uploadFile(f.folderId, f.folder.token, path));
    EXPECT_EQ(f.backend.requests().last().rawQuery, QString());
    EXPECT_EQ(f.backend.requests().last().path,
              QStringLiteral("/sync/folders/%1/files").arg(f.folder.id));

    run(c.uploadFile(f.folderId, f.folder.token, path, std::nullopt, QStringLiteral("Jo's Mac")));
    EXPECT_EQ(f.backend.requests().last().rawQuery, QStringLiteral("source_device=Jo%27s%20Mac"));

    run(c.uploadFile(f.folderId, f.folder.token, path, QStringLiteral("Ordner/Über a&b=c+d?.md"),
                     QStringLiteral("~x_y-z.")));
    const FakeSyncRequest r = f.backend.requests().last();
    EXPECT_EQ(r.rawQuery,
              QStringLiteral(
                  "relative_path=Ordner/%C3%9Cber%20a%26b%3Dc%2Bd%3F.md&source_device=~x_y-z."));
    EXPECT_EQ(r.queryValue(QStringLiteral("relative_path")),
              QStringLiteral("Ordner/Über a&b=c+d?.md"));
    EXPECT_EQ(f.backend.files(f.folder.id).last().relativePath,
              QStringLiteral("Ordner/Über a&b=c+d?.md"));

    // A folder id is one path segment whatever it holds; nothing is retargeted.
    f.backend.clearRequests();
    const SyncFailure failure
        = synctest::failure(c.getStructure(QStringLiteral("1/../x?y#z"), f.folder.token));
    EXPECT_TRUE(isFileSync(failure, FileSyncError(FileSyncError::Case::notFound)));
    ASSERT_EQ(f.backend.requests().size(), 1);
    EXPECT_EQ(f.backend.requests().first().path,
              QStringLiteral("/sync/folders/1%2F..%2Fx%3Fy%23z/structure"));
    EXPECT_EQ(f.backend.requests().first().rawQuery, QString());

    // The poll secret keeps "+", "/" and "=" intact.
    const PairRequestResponse pair
        = run(c.requestPairing(QStringLiteral("pad"), QStringLiteral("tablet")));
    EXPECT_TRUE(pair.pollSecret.contains(u'+'));
    EXPECT_EQ(run(c.pairingStatus(pair.pollSecret)).status, QStringLiteral("pending"));
    EXPECT_TRUE(f.backend.requests().last().rawQuery.contains(QStringLiteral("%2B")));
}

TEST(FileSyncClient, requestBodiesAreMinimal)
{
    Fixture f;
    const FileSyncClient c = f.client();
    run(c.createFolder(QStringLiteral("Only")));
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("name"), QStringLiteral("Only")}}));
    EXPECT_EQ(f.backend.requests().last().header("Content-Type"), "application/json");
    run(c.createFolder(QStringLiteral("Big"), Q_INT64_C(9007199254740993)));
    EXPECT_TRUE(f.backend.requests().last().body.contains("\"owner_id\":9007199254740993"));

    run(c.requestPairing());
    const FakeSyncRequest r = f.backend.requests().last();
    EXPECT_EQ(r.method, "POST");
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_FALSE(r.hasHeader("Content-Type"));
    run(c.requestPairing(std::nullopt, QStringLiteral("desktop")));
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("device_type"), QStringLiteral("desktop")}}));

    const PairRequestResponse pair = run(c.requestPairing(QStringLiteral("pad")));
    run(c.confirmPairing(pair.code, f.folderId, f.folder.token));
    const QJsonObject confirm = f.backend.requests().last().json();
    EXPECT_TRUE(confirm.value(QStringLiteral("folder_id")).isString());
    EXPECT_EQ(confirm.value(QStringLiteral("folder_id")).toString(), f.folderId);
}

TEST(FileSyncClient, statusesMapToErrorsAndFailedBodiesAreNotDecoded)
{
    Fixture f;
    const FileSyncClient c = f.client();
    const struct
    {
        int status;
        FileSyncError error;
    } cases[] = {
        {401, FileSyncError(FileSyncError::Case::unauthorized)},
        {403, FileSyncError(FileSyncError::Case::forbidden)},
        {404, FileSyncError(FileSyncError::Case::notFound)},
        {410, FileSyncError(FileSyncError::Case::gone)},
        {413, FileSyncError(FileSyncError::Case::fileTooLarge)},
        {422, FileSyncError(FileSyncError::Case::validationError)},
        {429, FileSyncError(FileSyncError::Case::rateLimited)},
        {204, FileSyncError::serverError(204)},
        {400, FileSyncError::serverError(400)},
        {500, FileSyncError::serverError(500)},
        {503, FileSyncError::serverError(503)},
    };
    for (const auto &k : cases) {
        // The body is not valid JSON: it must not be decoded.
        f.backend.failNext("GET", "/structure$", k.status, "{broken");
        const SyncFailure failure = synctest::failure(c.getStructure(f.folderId, f.folder.token));
        EXPECT_TRUE(isFileSync(failure, k.error))
            << k.status << " " << failure.description().toStdString();
    }
    f.backend.failNext("DELETE", "/files/", 204);
    EXPECT_TRUE(isFileSync(synctest::failure(c.deleteFile(f.folderId, f.folder.token, 1)),
                           FileSyncError::serverError(204)));
    f.backend.failNext("DELETE", "/devices/", 500);
    EXPECT_TRUE(isFileSync(synctest::failure(c.revokeDevice(f.folderId, f.folder.token, 1)),
                           FileSyncError::serverError(500)));

    // 201 is success; a malformed success body is a decode failure, not a client error.
    f.backend.respondNext("GET", "/structure$", 201,
                          QJsonObject {{QStringLiteral("files"), QJsonArray()},
                                       {QStringLiteral("structure_hash"), QStringLiteral("h")},
                                       {QStringLiteral("file_count"), 0}});
    EXPECT_EQ(run(c.getStructure(f.folderId, f.folder.token)).structure_hash, QStringLiteral("h"));
    f.backend.respondNext("GET", "/structure$", 200,
                          QJsonObject {{QStringLiteral("files"), QJsonArray()}});
    const SyncFailure decode = synctest::failure(c.getStructure(f.folderId, f.folder.token));
    EXPECT_EQ(decode.kind(), SyncFailure::Kind::Decode);
    EXPECT_EQ(decode.path(), QStringLiteral("structure_hash"));
}

TEST(FileSyncClient, structureETagKeepsWhatTheServerSent)
{
    Fixture f;
    const FileSyncClient c = f.client();
    const QString hash = f.backend.structureHash(f.folder.id);
    f.backend.setETagStyle(FakeSyncBackend::ETagStyle::Quoted);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), hash);
    f.backend.setETagStyle(FakeSyncBackend::ETagStyle::Bare);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), hash);
    f.backend.setETagStyle(FakeSyncBackend::ETagStyle::Weak);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), QStringLiteral("W/\"") + hash);
    f.backend.setETagStyle(FakeSyncBackend::ETagStyle::Missing);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), QString());

    FakeSyncFault fault;
    fault.method = "HEAD";
    fault.path = QRegularExpression(QStringLiteral("/structure$"));
    fault.status = 500;
    fault.headers = {{"ETag", "\"\"abc\"\""}};
    f.backend.addFault(fault);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), QStringLiteral("abc"));
    f.backend.failNext("HEAD", "/structure$", 429);
    EXPECT_EQ(run(c.structureETag(f.folderId, f.folder.token)), QString());
    f.backend.failNext("HEAD", "/structure$", 410);
    EXPECT_TRUE(isFileSync(synctest::failure(c.structureETag(f.folderId, f.folder.token)),
                           FileSyncError(FileSyncError::Case::gone)));
    EXPECT_TRUE(isFileSync(synctest::failure(c.structureETag(f.folderId, QStringLiteral("bad"))),
                           FileSyncError(FileSyncError::Case::unauthorized)));
}

TEST(FileSyncClient, redirectsNeverCarryTheTokenToAnotherOrigin)
{
    Fixture f;
    FakeSyncBackend other;
    ASSERT_TRUE(other.listen());
    const FileSyncClient c = f.client();

    f.backend.redirectNext("GET", "/structure$",
                           other.baseURLString() + QStringLiteral("/sync/folders/1/structure"));
    EXPECT_TRUE(isFileSync(synctest::failure(c.getStructure(f.folderId, f.folder.token)),
                           FileSyncError::serverError(302)));
    f.backend.redirectNext("POST", "/pair/confirm$",
                           other.baseURLString() + QStringLiteral("/sync/pair/confirm"), 307);
    EXPECT_TRUE(isFileSync(
        synctest::failure(c.confirmPairing(QStringLiteral("1"), f.folderId, f.folder.token)),
        FileSyncError::serverError(307)));
    EXPECT_TRUE(other.requests().isEmpty());

    // A redirect within the same origin is followed.
    f.backend.redirectNext("GET", "/structure$",
                           f.backend.baseURLString()
                               + QStringLiteral("/sync/folders/%1/structure").arg(f.folder.id));
    EXPECT_EQ(run(c.getStructure(f.folderId, f.folder.token)).file_count, 0);
}

// The manager takes its replies along when it goes: a request waiting on one, and a download,
// end as cancelled instead of reading the freed reply.
TEST(FileSyncClient, requestsWhoseNetworkManagerGoesEndCancelled)
{
    Fixture f;
    QTemporaryDir dir;
    const auto endsCancelled = [&](auto start) {
        auto network = std::make_unique<QNetworkAccessManager>();
        f.backend.clearRequests();
        auto task = start(FileSyncClient(f.backend.baseURLString(), network.get(), f.timing));
        auto out = std::make_shared<Outcome<typename decltype(task)::value_type>>();
        collect(std::move(task), out);
        EXPECT_TRUE(testsupport::waitUntil([&] { return !f.backend.requests().isEmpty(); }));
        network.reset();
        EXPECT_TRUE(testsupport::waitUntil([&] { return out->done; }));
        try {
            if (out->error)
                std::rethrow_exception(out->error);
        } catch (const SyncFailure &failure) {
            return failure.isCancelled();
        }
        return false;
    };
    f.backend.hangNext("GET", "/structure$");
    EXPECT_TRUE(endsCancelled(
        [&](const FileSyncClient &c) { return c.getStructure(f.folderId, f.folder.token); }));
    f.backend.hangNext("GET", "/blob$");
    EXPECT_TRUE(endsCancelled([&](const FileSyncClient &c) {
        return c.downloadFile(QUrl(f.backend.baseURLString() + "/blob"), dir.filePath("blob"), 0,
                              {});
    }));
}

TEST(FileSyncClient, transportFailuresTimeoutsCapsAndCancellation)
{
    Fixture f;
    f.timing.requestTimeout = std::chrono::milliseconds(300);
    const FileSyncClient c = f.client();

    f.backend.hangNext("GET", "/structure$");
    EXPECT_EQ(synctest::failure(c.getStructure(f.folderId, f.folder.token)).kind(),
              SyncFailure::Kind::Timeout);
    f.backend.delayNext("GET", "/structure$", 1000);
    EXPECT_EQ(synctest::failure(c.getStructure(f.folderId, f.folder.token)).kind(),
              SyncFailure::Kind::Timeout);
    // Slow but within the timeout is fine.
    f.backend.delayNext("GET", "/structure$", 50);
    EXPECT_EQ(run(c.getStructure(f.folderId, f.folder.token)).file_count, 0);

    f.backend.closeNext("GET", "/structure$", -1);
    EXPECT_EQ(synctest::failure(c.getStructure(f.folderId, f.folder.token)).kind(),
              SyncFailure::Kind::Transport);
    f.backend.clearFaults();

    SyncLimits limits;
    limits.maxResponseBytes = 1000;
    f.backend.failNext("GET", "/structure$", 200, QByteArray(5000, ' '));
    EXPECT_EQ(synctest::failure(f.client(limits).getStructure(f.folderId, f.folder.token)).kind(),
              SyncFailure::Kind::LocalLimit);

    // A head that announces more than the cap fails before any body, not at the idle timeout.
    f.timing.requestTimeout = std::chrono::seconds(300);
    FakeSyncFault huge;
    huge.path = QRegularExpression(QStringLiteral("/structure$"));
    huge.action = FakeSyncFault::Action::Stall;
    huge.body = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                "Content-Length: 1000000000000\r\n\r\n";
    f.backend.addFault(huge);
    EXPECT_EQ(synctest::failure(f.client().getStructure(f.folderId, f.folder.token)).kind(),
              SyncFailure::Kind::LocalLimit);
    f.timing.requestTimeout = std::chrono::seconds(5);

    CancelToken cancel;
    f.backend.hangNext("GET", "/structure$");
    auto task = c.withCancellation(cancel).getStructure(f.folderId, f.folder.token);
    QTimer::singleShot(50, [cancel] { cancel.cancel(); });
    EXPECT_TRUE(synctest::failure(std::move(task)).isCancelled());
    // An already cancelled client sends nothing.
    f.backend.clearRequests();
    EXPECT_TRUE(
        synctest::failure(c.withCancellation(cancel).getStructure(f.folderId, f.folder.token))
            .isCancelled());
    EXPECT_TRUE(f.backend.requests().isEmpty());

    // Nothing listens there any more.
    QString goneURL;
    {
        FakeSyncBackend gone;
        ASSERT_TRUE(gone.listen());
        goneURL = gone.baseURLString();
    }
    EXPECT_EQ(
        synctest::failure(
            FileSyncClient(goneURL, nullptr, f.timing).getStructure(f.folderId, f.folder.token))
            .kind(),
        SyncFailure::Kind::Transport);
}
