// The sync adapter against the fake backend: attaching, uploads after a save, the remote-change
// pass with its safety rules, file requests, folder creation and pairing confirmation.
#include "AdapterTestSupport.h"
#include "SyncTestSupport.h"

#include "Velto/sync/LocalSyncFolder.h"
#include "core/sync/Sha256.h"
#include "support/LogCapture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>

using namespace Qt::StringLiterals;
using adaptertest::Device;
using testsupport::waitUntil;

namespace {

QJsonObject entry(const QString &path)
{
    return {{u"relative_path"_s, path},
            {u"size_bytes"_s, 1},
            {u"content_type"_s, u"text/markdown"_s},
            {u"modified_at"_s, u"2024-01-01T00:00:00Z"_s}};
}

// A backend folder shared by the devices, and the process log.
struct Fixture : synctest::Fixture
{
    testsupport::LogCapture log;

    Fixture() { backend.setAutoEvents(true); }

    std::unique_ptr<Device> device(const QString &name, bool attach = true)
    {
        auto d = std::make_unique<Device>(name, nullptr, false);
        d->pair(backend.baseURLString(), folderId, folder.token);
        if (attach)
            d->adapter->attach(*d->ws);
        return d;
    }

    void structure(const QStringList &paths)
    {
        QJsonArray entries;
        for (const QString &p : paths)
            entries.append(entry(p));
        backend.setStructure(folder.id, entries);
    }

    void pass(Device &d) { synctest::run(d.adapter->handleRemoteChanges()); }

    // Where the trash keeps a file (the tests' data folder, made on the first removal).
    static QString trashed(const QString &name)
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + u"/Trash/files/"_s + name;
    }
};

} // namespace

TEST(SyncAdapter, attachingAdvertisesAndStartsSyncOnlyWhenPaired)
{
    testsupport::LogCapture systemLog(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    Device d(u"desk"_s);
    d.adapter->attach(*d.ws);
    EXPECT_TRUE(
        systemLog.contains(u"[Sync] attach: isPaired=0, folderId=nil, folderURL="_s + d.folder()));
    EXPECT_FALSE(d.adapter->engine());
    EXPECT_FALSE(d.adapter->liveEngine());
    ASSERT_TRUE(waitUntil([&] { return d.bonjourRecord->services.size() == 1; }));
    EXPECT_EQ(d.bonjourRecord->services[0].instanceName, u"Velto-desk"_s);
    d.bonjourRecord->report(ServiceRegistrar::State::Ready);

    d.pair(f.backend.baseURLString(), f.folderId, f.folder.token);
    WorkspaceState second;
    d.adapter->attach(second);
    EXPECT_TRUE(systemLog.contains(u"[Sync] attach: isPaired=1, folderId=42, folderURL=nil"_s));
    EXPECT_TRUE(systemLog.contains(u"[Sync] Engine created, starting SSE listener"_s));
    EXPECT_EQ(d.adapter->workspace(), &second);
    ASSERT_TRUE(d.adapter->engine());
    EXPECT_TRUE(d.adapter->liveEngine());
    ASSERT_TRUE(waitUntil([&] { return f.backend.openStreamCount() == 1; }));
    // Advertising already: the second attach leaves the one advertisement alone.
    EXPECT_EQ(d.bonjourRecord->services.size(), 1);
    d.adapter->attach(*d.ws);
    ASSERT_TRUE(waitUntil([&] { return f.backend.totalStreamCount() == 2; }));
    // The engine of the workspace attached before has ended: one stream at a time.
    EXPECT_TRUE(waitUntil([&] { return f.backend.openStreamCount() == 1; }));
}

TEST(SyncAdapter, aSavedFileGoesUpAndTheOtherDeviceDownloadsIt)
{
    Fixture f;
    auto a = f.device(u"devA"_s);
    auto b = f.device(u"devB"_s);
    ASSERT_TRUE(waitUntil([&] { return f.backend.openStreamCount() == 2; }));
    ASSERT_TRUE(a->open(u"notes/a.md"_s, "# Title\n"));
    a->ws->setText(u"# Title\n\nWritten on A.\n"_s);
    ASSERT_TRUE(a->ws->save());

    ASSERT_TRUE(
        waitUntil([&] { return b->read(u"notes/a.md"_s) == "# Title\n\nWritten on A.\n"; }));
    EXPECT_TRUE(f.log.contains(u"[Sync] Downloaded: notes/a.md"_s));
    const auto upload = f.backend.requests("POST", u"/files$"_s);
    ASSERT_EQ(upload.size(), 1);
    EXPECT_EQ(upload[0].queryValue(u"relative_path"_s), u"notes/a.md"_s);
    EXPECT_EQ(upload[0].queryValue(u"source_device"_s), u"devA"_s);
    ASSERT_EQ(f.backend.storedStructure(f.folder.id).size(), 1);
    EXPECT_EQ(f.backend.storedStructure(f.folder.id)[0].toObject().value("content_type"_L1),
              u"text/markdown"_s);

    // A file outside the open folder is not the folder's business.
    f.backend.clearRequests();
    testsupport::writeFile(a->dir.filePath(u"elsewhere.md"_s), "x");
    synctest::run(a->adapter->uploadFile(QUrl::fromLocalFile(a->dir.filePath(u"elsewhere.md"_s))));
    synctest::run(a->adapter->uploadFile(QUrl::fromLocalFile(a->folder() + u"-old/x.md"_s)));
    EXPECT_TRUE(f.backend.requests().isEmpty());

    // A failed upload sends no listing.
    f.backend.failNext("POST", u"/files$"_s, 500);
    synctest::run(a->adapter->uploadFile(QUrl::fromLocalFile(a->path(u"notes/a.md"_s))));
    EXPECT_TRUE(f.log.contains(u"[Sync] File upload failed: "_s));
    EXPECT_EQ(f.backend.requestCount("PUT", u"/structure$"_s), 0);
}

TEST(SyncAdapter, aHostileStructureChangesNothingOutsideTheFolder)
{
    Fixture f;
    auto d = f.device(u"devB"_s, false);
    QTemporaryDir outside;
    QFile::link(outside.path(), d->path(u"link"_s));
    d->write(u".git/config"_s, "[core]\n");
    const QStringList hostile {u"../escaped.md"_s,        outside.filePath(u"absolute.md"_s),
                               u"link/through-link.md"_s, u".git/config"_s,
                               u"a/../../up.md"_s,        u"a//b.md"_s};
    for (const QString &path : hostile)
        f.backend.addFile(f.folder.id, path, "payload");
    f.backend.addFile(f.folder.id, u"fine.md"_s, "fine");
    f.structure(hostile + QStringList {u"fine.md"_s});
    d->adapter->attach(*d->ws);
    f.pass(*d);

    EXPECT_EQ(d->read(u"fine.md"_s), "fine");
    EXPECT_FALSE(QFileInfo::exists(d->dir.filePath(u"escaped.md"_s)));
    EXPECT_FALSE(QFileInfo::exists(d->dir.filePath(u"up.md"_s)));
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_EQ(d->read(u".git/config"_s), "[core]\n");
    EXPECT_EQ(f.log.count(u"[Sync] Skipped unsafe path: "_s), hostile.size());

    // Requests for those files upload nothing.
    testsupport::writeFile(outside.filePath(u"secret.md"_s), "secret");
    const qint64 secret = f.backend.addFile(f.folder.id, u"link/secret.md"_s, {}, false);
    f.backend.addFile(f.folder.id, u"../../etc/hostname"_s, {}, false);
    f.structure({u"link/secret.md"_s, u"../../etc/hostname"_s});
    f.backend.addFileRequest(f.folder.id, secret);
    synctest::run(d->adapter->handleFileRequests());
    EXPECT_EQ(f.backend.requestCount("PUT", u"/content$"_s), 0);
    EXPECT_FALSE(f.log.contains(u"[Sync] Fulfilled request"_s));
}

TEST(SyncAdapter, unsavedEditsSurviveARemoteChange)
{
    Fixture f;
    auto d = f.device(u"devB"_s, false);
    ASSERT_TRUE(d->open(u"a.md"_s, "old\n"));
    d->ws->setText(u"old\nunsaved typing\n"_s);
    f.backend.addFile(f.folder.id, u"a.md"_s, "remote\n");
    f.backend.addFile(f.folder.id, u"b.md"_s, "other\n");
    f.structure({u"a.md"_s, u"b.md"_s});
    d->adapter->attach(*d->ws);
    f.pass(*d);
    EXPECT_EQ(d->ws->text(), u"old\nunsaved typing\n"_s);
    EXPECT_TRUE(f.log.contains(u"[Sync] Open document modified; not reloaded"_s));
    EXPECT_EQ(d->read(u"b.md"_s), "other\n");

    EXPECT_EQ(d->read(u"a.md"_s), "remote\n");

    // Without unsaved edits the document follows the file.
    d->ws->setText(d->ws->savedText());
    f.pass(*d);
    EXPECT_EQ(d->ws->text(), u"remote\n"_s);
}

TEST(SyncAdapter, onlyFilesAnEarlierStructureListedAreRemovedAndIntoTheTrash)
{
    Fixture f;
    auto d = f.device(u"devB"_s);
    // A name of its own: the trash outlives the test.
    const QString x = QUuid::createUuid().toString(QUuid::WithoutBraces) + u".md"_s;
    for (const QString &name : {x, u"y.md"_s, u"new.md"_s})
        d->write(name, name.toUtf8());
    f.backend.addFile(f.folder.id, x, x.toUtf8());
    f.backend.addFile(f.folder.id, u"y.md"_s, "y.md");
    f.structure({x, u"y.md"_s});
    f.pass(*d);
    EXPECT_TRUE(f.log.contains(u"[Sync] Kept local (not synced): new.md"_s));

    f.structure({});
    f.pass(*d); // an empty structure removes nothing
    EXPECT_TRUE(QFileInfo::exists(d->path(x)));

    f.structure({u"y.md"_s});
    // The record outlives the adapter.
    d->adapter = std::make_unique<MacSyncAdapter>(*d->defaults);
    d->adapter->attach(*d->ws);
    f.pass(*d);
    EXPECT_FALSE(QFileInfo::exists(d->path(x)));
    EXPECT_EQ(testsupport::readFile(f.trashed(x)), x.toUtf8());
    QFile::remove(f.trashed(x));
    EXPECT_TRUE(f.log.contains(u"[Sync] Removed local: "_s + x));
    EXPECT_TRUE(QFileInfo::exists(d->path(u"new.md"_s)));
    EXPECT_TRUE(QFileInfo::exists(d->path(u"y.md"_s)));

    // Forgetting the pairing forgets the record.
    d->adapter->state().clear();
    EXPECT_TRUE(LocalSyncFolder::knownFiles(*d->defaults).isEmpty());
}

TEST(SyncAdapter, aFailedDownloadKeepsTheOldFileAndEndsThePass)
{
    Fixture f;
    auto d = f.device(u"devB"_s, false);
    d->write(u"a.md"_s, "local a");
    d->write(u"c.md"_s, "local c");
    f.backend.addFile(f.folder.id, u"a.md"_s, "remote a");
    f.backend.addFile(f.folder.id, u"b.md"_s, "remote b");
    f.structure({u"a.md"_s, u"b.md"_s});
    d->adapter->attach(*d->ws);
    f.backend.failNext("GET", u"^/blob/.*files/1001"_s, 500);
    f.pass(*d);
    EXPECT_EQ(d->read(u"a.md"_s), "remote a");
    EXPECT_FALSE(QFileInfo::exists(d->path(u"b.md"_s)));
    EXPECT_TRUE(f.log.contains(u"[Sync] Remote change handling failed: "_s));

    // A download replaces the file in one step; the folder holds no leftovers.
    f.pass(*d);
    EXPECT_EQ(d->read(u"b.md"_s), "remote b");
    EXPECT_EQ(QDir(d->folder()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST(SyncAdapter, remoteChangePassesRunOneAtATime)
{
    Fixture f;
    auto d = f.device(u"devB"_s, false);
    d->adapter->attach(*d->ws);
    f.backend.addFile(f.folder.id, u"a.md"_s, "a");
    f.structure({u"a.md"_s});
    f.backend.delayNext("GET", u"/structure$"_s, 200, 3);
    int finished = 0;
    QList<int> order;
    auto call = [&](int id) -> QCoro::Task<> {
        co_await d->adapter->handleRemoteChanges();
        order.append(id);
        ++finished;
    };
    runDetached(call(1), u"pass 1"_s);
    runDetached(call(2), u"pass 2"_s);
    runDetached(call(3), u"pass 3"_s);
    ASSERT_TRUE(waitUntil([&] { return finished == 3; }));
    // The first runs; the other two wait for one pass that starts after them.
    EXPECT_EQ(f.backend.requestCount("GET", u"/structure$"_s), 2);
    EXPECT_EQ(order.front(), 1);
}

TEST(SyncAdapter, fileRequestsAreServedFromTheFolder)
{
    Fixture f;
    auto d = f.device(u"devA"_s, false);
    d->write(u"notes/held.md"_s, "only here");
    const qint64 id = f.backend.addFile(f.folder.id, u"notes/held.md"_s, {}, false);
    f.structure({u"notes/held.md"_s});
    f.backend.addFileRequest(f.folder.id, id);
    d->adapter->attach(*d->ws);
    synctest::run(d->adapter->handleFileRequests());
    EXPECT_TRUE(f.log.contains(u"[Sync] Fulfilled request: notes/held.md"_s));
    EXPECT_EQ(f.backend.file(id)->bytes, "only here");
    EXPECT_EQ(f.backend.fileRequests(f.folder.id).front().status, u"fulfilled"_s);
}

TEST(SyncAdapter, createsFoldersAndConfirmsPairingCodes)
{
    Fixture f;
    Device d(u"desk"_s);
    d.adapter->state().setBackendURL(f.backend.baseURLString());
    synctest::run(d.adapter->confirmPairing(u"123456789"_s)); // no folder yet: nothing asked
    EXPECT_TRUE(f.backend.requests().isEmpty());

    // The window attached before is served at once: event stream and live editing.
    d.adapter->attach(*d.ws);
    synctest::run(d.adapter->createFolder(u"Velto Dokumente"_s));
    EXPECT_EQ(d.adapter->state().folderId(), u"43"_s);
    EXPECT_FALSE(d.adapter->state().ownerID());
    ASSERT_TRUE(d.adapter->engine());
    EXPECT_TRUE(d.adapter->engine()->isStarted());
    EXPECT_TRUE(d.adapter->liveEngine());
    EXPECT_EQ(SyncState(*d.defaults).folderToken(), d.adapter->state().folderToken());
    EXPECT_EQ(f.backend.folder(43)->sourceDeviceName, u"desk"_s);

    EXPECT_THROW(synctest::run(d.adapter->confirmPairing(u"000000000"_s)), SyncFailure);
    const PairRequestResponse other = synctest::run(f.client().requestPairing(u"tablet"_s));
    synctest::run(d.adapter->confirmPairing(other.code));
    const auto confirms = f.backend.requests("POST", u"/sync/pair/confirm$"_s);
    ASSERT_EQ(confirms.size(), 2);
    EXPECT_EQ(confirms[1].json().value("code"_L1), other.code);
    EXPECT_EQ(confirms[1].json().value("folder_id"_L1), u"43"_s);
    EXPECT_TRUE(f.backend.pairSessions().front().folderId);
}

TEST(SyncAdapter, theListingLeavesOutHiddenAndBuildFiles)
{
    QTemporaryDir dir;
    for (const QString &name :
         {u"Readme.MD"_s, u"data.JSON"_s, u"photo.png"_s, u"LICENSE"_s, u"sub/node_modules/x.md"_s,
          u"node_modules/y.md"_s, u".hidden.md"_s, u"sub/.git/config"_s, u"sub/deep/n.txt"_s})
        testsupport::writeFile(dir.filePath(name), "x");
    QFile::link(dir.path(), dir.filePath(u"loop"_s));
    QMap<QString, QString> types;
    for (const StructureFileEntry &e : LocalSyncFolder::entries(dir.path())) {
        types.insert(e.relative_path, e.content_type);
        EXPECT_TRUE(e.modified_at && e.modified_at->endsWith(u'Z'));
        EXPECT_FALSE(e.file_id || e.sha256 || e.has_content);
    }
    EXPECT_EQ(types,
              (QMap<QString, QString> {{u"LICENSE"_s, u"application/octet-stream"_s},
                                       {u"Readme.MD"_s, u"text/markdown"_s},
                                       {u"data.JSON"_s, u"application/json"_s},
                                       {u"photo.png"_s, u"application/octet-stream"_s},
                                       {u"sub/deep/n.txt"_s, u"text/plain"_s}}));
    EXPECT_TRUE(LocalSyncFolder::entries(dir.filePath(u"missing"_s)).isEmpty());
}

TEST(SyncAdapter, onlyTheContentTheStructureNamesReplacesAFile)
{
    Fixture f;
    auto d = f.device(u"devB"_s, false);
    d->write(u"keep.md"_s, "local");
    f.backend.addFile(f.folder.id, u"keep.md"_s, "remote content");
    f.structure({u"keep.md"_s});
    d->adapter->attach(*d->ws);
    // Other bytes than the hash says, then a body running past the file's length.
    for (const auto &[body, length] :
         {std::pair {QByteArray("tampered content"), qint64(16)},
          std::pair {QByteArray("remote content and more"), qint64(18)}}) {
        FakeSyncFault fault;
        fault.method = "GET";
        fault.path = QRegularExpression(u"^/blob/"_s);
        fault.status = 200;
        fault.body = body;
        fault.headers = {{"Content-Type", "application/octet-stream"}};
        fault.contentLength = length;
        f.backend.addFault(fault);
        f.pass(*d);
        EXPECT_EQ(d->read(u"keep.md"_s), "local");
    }
    EXPECT_TRUE(f.log.contains(u"[Sync] Checksum mismatch, kept local: keep.md"_s));
    f.pass(*d);
    EXPECT_EQ(d->read(u"keep.md"_s), "remote content");
}

TEST(SyncAdapter, aFileIsKnownOnlyOnceAListingNamingItWentUp)
{
    Fixture f;
    f.backend.setAutoEvents(false); // passes only where the test runs them
    auto d = f.device(u"devA"_s);
    ASSERT_TRUE(d->open(u"fresh.md"_s, "fresh"));
    f.backend.failNext("PUT", u"/structure$"_s, 500);
    synctest::run(d->adapter->uploadFile(QUrl::fromLocalFile(d->path(u"fresh.md"_s))));
    EXPECT_TRUE(f.log.contains(u"[Sync] Structure upload failed: "_s));
    EXPECT_FALSE(LocalSyncFolder::knownFiles(*d->defaults).contains(u"fresh.md"_s));
    // Another device's listing without it: the fresh file stays.
    f.backend.addFile(f.folder.id, u"other.md"_s, "other");
    f.structure({u"other.md"_s});
    f.pass(*d);
    EXPECT_TRUE(QFileInfo::exists(d->path(u"fresh.md"_s)));
    EXPECT_TRUE(f.log.contains(u"[Sync] Kept local (not synced): fresh.md"_s));

    synctest::run(d->adapter->uploadFile(QUrl::fromLocalFile(d->path(u"fresh.md"_s))));
    EXPECT_TRUE(LocalSyncFolder::knownFiles(*d->defaults).contains(u"fresh.md"_s));
}
