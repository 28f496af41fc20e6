#include "SyncTestSupport.h"

#include "core/sync/DownloadInstaller.h"
#include "core/sync/MultipartUpload.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

using namespace std::chrono_literals;

using namespace synctest;

namespace {

QString writeTemp(QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(testsupport::writeFile(path, bytes));
    return path;
}

QByteArray boundaryOf(const FakeSyncRequest &r)
{
    const QByteArray type = r.header("Content-Type");
    const QByteArray prefix = "multipart/form-data; boundary=";
    EXPECT_TRUE(type.startsWith(prefix)) << type.constData();
    return type.mid(prefix.size());
}

QStringList leftoverDownloads()
{
    return QDir(DownloadInstaller::privateFolder())
        .entryList({QStringLiteral("*.part")}, QDir::Files);
}

} // namespace

TEST(FileTransfer, multipartBodyIsExact)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    run(c.uploadFile(f.folderId, f.folder.token,
                     writeTemp(dir, QStringLiteral("My Notes.MD"), "# Hi\n")));
    const FakeSyncRequest first = f.backend.requests().last();
    const QByteArray b = boundaryOf(first);
    EXPECT_EQ(b.size(), 36);
    EXPECT_EQ(b, b.toUpper());
    EXPECT_EQ(
        first.body,
        "--" + b
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"My Notes.MD\"\r\n"
              "Content-Type: text/markdown\r\n\r\n# Hi\n\r\n--"
            + b + "--\r\n");

    // Empty file: the blank line is followed directly by the closing boundary.
    run(c.uploadFile(f.folderId, f.folder.token,
                     writeTemp(dir, QStringLiteral("empty"), QByteArray())));
    const FakeSyncRequest second = f.backend.requests().last();
    const QByteArray b2 = boundaryOf(second);
    EXPECT_NE(b, b2);
    EXPECT_TRUE(second.body.endsWith("Content-Type: application/octet-stream\r\n\r\n\r\n--" + b2
                                     + "--\r\n"));

    // Quotes and line breaks in a file name cannot break out of the header.
    run(c.uploadFile(f.folderId, f.folder.token,
                     writeTemp(dir, QStringLiteral("a\"b\r\nX-Evil: 1.txt"), "x")));
    const QByteArray body = f.backend.requests().last().body;
    EXPECT_TRUE(
        body.contains("filename=\"a%22b%0D%0AX-Evil: 1.txt\"\r\nContent-Type: text/plain\r\n"))
        << body.constData();

    // Non-ASCII names go as UTF-8.
    run(c.uploadContent(f.folderId, f.folder.token,
                        f.backend.addFile(f.folder.id, QStringLiteral("ü.png"), "", false),
                        writeTemp(dir, QStringLiteral("Bild ü.PNG"), "png")));
    EXPECT_TRUE(f.backend.requests().last().body.contains(
        QStringLiteral("filename=\"Bild ü.PNG\"").toUtf8()));
    EXPECT_TRUE(f.backend.requests().last().body.contains("Content-Type: image/png\r\n"));
}

TEST(FileTransfer, mimeTypesByExtension)
{
    const QList<QPair<QString, QString>> table {
        {"md", "text/markdown"},
        {"Markdown", "text/markdown"},
        {"MDOWN", "text/markdown"},
        {"txt", "text/plain"},
        {"pdf", "application/pdf"},
        {"JPG", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"heic", "image/heic"},
        {"json", "application/json"},
        {"htm", "text/html"},
        {"HTML", "text/html"},
        {"css", "text/css"},
        {"", "application/octet-stream"},
        {"gz", "application/octet-stream"},
    };
    for (const auto &row : table)
        EXPECT_EQ(MultipartUpload::mimeType(row.first), row.second) << row.first.toStdString();
}

TEST(FileTransfer, uploadsRefusedLocallySendNothing)
{
    Fixture f;
    QTemporaryDir dir;
    SyncLimits limits;
    limits.maxUploadBytes = 100;
    const FileSyncClient c = f.client(limits);
    EXPECT_EQ(synctest::failure(
                  c.uploadFile(f.folderId, f.folder.token,
                               writeTemp(dir, QStringLiteral("big.md"), QByteArray(101, 'x'))))
                  .kind(),
              SyncFailure::Kind::LocalLimit);
    run(c.uploadFile(f.folderId, f.folder.token,
                     writeTemp(dir, QStringLiteral("ok.md"), QByteArray(100, 'x'))));
    EXPECT_EQ(f.backend.requests().size(), 1);

    const SyncFailure missing = synctest::failure(
        c.uploadFile(f.folderId, f.folder.token, dir.filePath(QStringLiteral("missing.md"))));
    EXPECT_EQ(missing.kind(), SyncFailure::Kind::File);
    EXPECT_EQ(missing.fileOperation(), SyncFailure::FileOperation::read);
    EXPECT_EQ(f.backend.requests().size(), 1);
}

TEST(FileTransfer, downloadRetriesOnlyHttpFailures)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    const qint64 id = f.backend.addFile(f.folder.id, QStringLiteral("a.md"), "content");
    const QUrl url(f.backend.blobURL(f.backend.file(id)->s3Key));
    const QString dst = dir.filePath(QStringLiteral("new/deeper/a.md"));

    f.backend.failNext("GET", "^/blob/", 503, "busy", 2);
    run(c.downloadFile(url, dst, 2, 3s));
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 3);
    EXPECT_EQ(f.clock->waits(), (QList<std::chrono::milliseconds> {3s, 3s}));
    EXPECT_EQ(testsupport::readFile(dst), QByteArray("content"));

    f.backend.clearRequests();
    f.clock->clearWaits();
    f.backend.failNext("GET", "^/blob/", 503, "busy", 3);
    EXPECT_TRUE(isFileSync(synctest::failure(c.downloadFile(url, dst, 2, 3s)),
                           FileSyncError::downloadFailed(503)));
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 3);
    EXPECT_EQ(testsupport::readFile(dst), QByteArray("content")); // untouched

    f.backend.clearRequests();
    f.clock->clearWaits();
    f.backend.failNext("GET", "^/blob/", 404);
    EXPECT_TRUE(isFileSync(synctest::failure(c.downloadFile(url, dst, 0, 3s)),
                           FileSyncError::downloadFailed(404)));
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 1);
    EXPECT_TRUE(f.clock->waits().isEmpty());

    // 404 is retried like any status; negative retries and delays count as 0.
    f.backend.clearRequests();
    f.backend.failNext("GET", "^/blob/", 404);
    run(c.downloadFile(url, dst, 1, -5s));
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 2);
    f.backend.clearRequests();
    f.backend.failNext("GET", "^/blob/", 500);
    EXPECT_TRUE(isFileSync(synctest::failure(c.downloadFile(url, dst, -3, 1s)),
                           FileSyncError::downloadFailed(500)));
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 1);

    // A dropped connection is not retried.
    f.backend.clearRequests();
    f.backend.closeNext("GET", "^/blob/", -1);
    EXPECT_EQ(synctest::failure(c.downloadFile(url, dst, 2, 0s)).kind(),
              SyncFailure::Kind::Transport);
    f.backend.clearFaults();
    EXPECT_TRUE(leftoverDownloads().isEmpty());

    // The download carries no token and no headers of ours.
    const FakeSyncRequest last = f.backend.requests("GET", "^/blob/").last();
    EXPECT_FALSE(last.hasHeader("X-Folder-Token"));
}

TEST(FileTransfer, downloadsReplaceAtomicallyAndRefuseHazards)
{
    Fixture f;
    QTemporaryDir dir;
    const FileSyncClient c = f.client();
    const qint64 id = f.backend.addFile(f.folder.id, QStringLiteral("a.md"), QByteArray(2000, 'n'));
    const QUrl url(f.backend.blobURL(f.backend.file(id)->s3Key));
    const QString dst = dir.filePath(QStringLiteral("a.md"));
    ASSERT_TRUE(testsupport::writeFile(dst, "old"));

    // Too large: the old file stays, the temporary file is gone.
    SyncLimits limits;
    limits.maxDownloadBytes = 1000;
    EXPECT_EQ(synctest::failure(f.client(limits).downloadFile(url, dst, 2, 0s)).kind(),
              SyncFailure::Kind::LocalLimit);
    EXPECT_EQ(testsupport::readFile(dst), QByteArray("old"));
    EXPECT_TRUE(leftoverDownloads().isEmpty());
    EXPECT_EQ(f.backend.requestCount("GET", "^/blob/"), 1); // a local limit is not retried

    run(c.downloadFile(url, dst, 0, 0s));
    EXPECT_EQ(testsupport::readFile(dst), QByteArray(2000, 'n'));
    EXPECT_TRUE(leftoverDownloads().isEmpty());

    // A destination that cannot be replaced (a folder) fails and leaves no temporary file.
    const QString folderDst = dir.filePath(QStringLiteral("sub"));
    QDir().mkpath(folderDst + QStringLiteral("/inner"));
    EXPECT_EQ(synctest::failure(c.downloadFile(url, folderDst, 0, 0s)).kind(),
              SyncFailure::Kind::File);
    EXPECT_TRUE(leftoverDownloads().isEmpty());

    // Only http(s) URLs with a host; nothing is requested otherwise.
    f.backend.clearRequests();
    for (const QString &bad :
         {QStringLiteral("file:///etc/hostname"), QStringLiteral("data:text/plain,hello"),
          QStringLiteral("qrc:/i18n/de/sync.json"), QStringLiteral("not a url"),
          QStringLiteral("http:///nohost")}) {
        const SyncFailure failure = synctest::failure(c.downloadFile(QUrl(bad), dst, 2, 0s));
        ASSERT_TRUE(failure.syncError().has_value()) << bad.toStdString();
        EXPECT_EQ(*failure.syncError(), SyncError::invalidURL());
    }
    EXPECT_TRUE(f.backend.requests().isEmpty());
    EXPECT_EQ(testsupport::readFile(dst), QByteArray(2000, 'n'));

    // The private folder is the user's alone.
    const QFileInfo privateDir(DownloadInstaller::privateFolder());
    EXPECT_EQ(privateDir.permissions()
                  & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
              0);
}

TEST(FileTransfer, installAcrossFileSystemsStillReplacesInOneStep)
{
    QTemporaryDir other(QStringLiteral("/dev/shm/velto-sync-test-XXXXXX"));
    const QString privateDir = DownloadInstaller::privateFolder();
    if (!other.isValid()
        || QStorageInfo(other.path()).rootPath() == QStorageInfo(privateDir).rootPath())
        GTEST_SKIP() << "needs a second file system";
    const QString temporary = privateDir + QStringLiteral("/install-test.part");
    const QString destination = other.filePath(QStringLiteral("sub/a.md"));
    ASSERT_TRUE(testsupport::writeFile(temporary, "new"));
    ASSERT_TRUE(testsupport::writeFile(destination, "old"));
    DownloadInstaller::install(temporary, destination);
    EXPECT_EQ(testsupport::readFile(destination), QByteArray("new"));
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_EQ(QDir(other.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
              QStringList {QStringLiteral("a.md")});
}

// (A body longer than announced never reaches the client: Qt stops reading at the announced
// length. The remote structure's size and hash catch that one; see the adapter tests.)
TEST(FileTransfer, aBodyShorterThanAnnouncedKeepsTheOldFile)
{
    Fixture f;
    QTemporaryDir dir;
    const QString dst = dir.filePath(QStringLiteral("keep.md"));
    ASSERT_TRUE(testsupport::writeFile(dst, "old content"));
    FakeSyncFault fault;
    fault.method = "GET";
    fault.path = QRegularExpression(QStringLiteral("^/blob/"));
    fault.status = 200;
    fault.body = "NEW";
    fault.headers = {{"Content-Type", "application/octet-stream"}};
    fault.contentLength = 50;
    f.backend.addFault(fault);
    const QUrl url(f.backend.blobURL(QStringLiteral("any")));
    EXPECT_EQ(synctest::failure(f.client().downloadFile(url, dst, 0, 0s)).kind(),
              SyncFailure::Kind::FileSync);
    EXPECT_EQ(testsupport::readFile(dst), QByteArray("old content"));
    EXPECT_TRUE(leftoverDownloads().isEmpty());
}
