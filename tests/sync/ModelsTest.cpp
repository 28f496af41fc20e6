#include "core/sync/FileSyncError.h"
#include "core/sync/SSEEventType.h"
#include "core/sync/SyncError.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncModels.h"

#include "platform/L10n.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

template<class T> SyncFailure decodeFailure(const QByteArray &json)
{
    try {
        decodeJson<T>(json);
    } catch (const SyncFailure &f) {
        return f;
    }
    ADD_FAILURE() << "decoded although it should not: " << json.constData();
    return SyncFailure::cancelled();
}

template<class T> void expectRoundTrip(const QByteArray &json)
{
    const T first = decodeJson<T>(json);
    const T second = decodeJson<T>(encodeJson(first));
    EXPECT_TRUE(first == second) << json.constData();
    // Every key the input carried (non-null, known) comes back with the same value.
    const QJsonObject in = QJsonDocument::fromJson(json).object();
    const QJsonObject out = toJsonObject(first);
    for (auto it = out.begin(); it != out.end(); ++it)
        EXPECT_EQ(in.value(it.key()), it.value()) << it.key().toStdString();
}

} // namespace

TEST(SyncModels, everyModelRoundTripsItsKeys)
{
    expectRoundTrip<CreateFolderResponse>(
        R"({"id":42,"name":"Notes","status":"active","source_device_name":"mac",
        "folder_token":"t","created_at":"2024-01-01T00:00:00Z","owner_id":7})");
    expectRoundTrip<FolderDetailResponse>(R"({"id":42,"name":"N","status":"active","file_count":1,
        "files":[{"id":1,"filename":"a.md","folder_id":42,"relative_path":"x/a.md","content_type":"text/markdown",
        "size_bytes":3,"sha256":"ab","status":"ok","has_content":true,"source_device":"d","created_at":"c"}]})");
    expectRoundTrip<DeleteFolderResponse>(R"({"status":"deleted","folder_id":42})");
    expectRoundTrip<FileListResponse>(R"({"files":[],"total":0})");
    expectRoundTrip<FileUploadResponse>(
        R"({"id":1,"folder_id":2,"filename":"a","relative_path":"b/a","s3_key":"k",
        "content_type":"text/plain","size_bytes":5,"sha256":"h"})");
    expectRoundTrip<ContentUploadResponse>(
        R"({"id":1,"folder_id":2,"s3_key":"k","sha256":"h","size_bytes":5,
        "has_content":true})");
    expectRoundTrip<DownloadURLResponse>(
        R"({"url":"https://x/y","filename":"a","size_bytes":5,"content_type":"t"})");
    expectRoundTrip<DeleteFileResponse>(R"({"status":"deleted","file_id":9})");
    expectRoundTrip<ChangesResponse>(
        R"({"changes":[{"server_id":5,"file_id":1,"action":"upload","filename":"a",
        "s3_key":"k","size_bytes":1,"sha256":"h","content_type":"t","relative_path":"a","status":"s",
        "has_content":false,"source_device":"d","created_at":"c"}],"latest_server_id":5,"has_more":true})");
    expectRoundTrip<StructureResponse>(
        R"({"files":[{"relative_path":"a.md","size_bytes":1,"content_type":"t",
        "file_id":3,"has_content":true,"sha256":"h","modified_at":"m"}],"structure_hash":"s","file_count":1,
        "updated_at":"u"})");
    expectRoundTrip<StructureUploadResponse>(R"({"structure_hash":"s","file_count":3})");
    expectRoundTrip<ResolveFileResponse>(R"({"file_id":3,"has_content":false,"status":"found"})");
    expectRoundTrip<FileRequestResponse>(R"({"status":"pending","request_id":4,"file_id":3})");
    expectRoundTrip<PendingFileRequestListResponse>(
        R"({"requests":[{"id":4,"file_id":3,"status":"pending",
        "requested_by":"x","created_at":"c"}],"total":1})");
    expectRoundTrip<UpdateFileRequestRequest>(R"({"status":"fulfilled"})");
    expectRoundTrip<UpdateFileRequestResponse>(R"({"status":"fulfilled","request_id":4})");
    expectRoundTrip<MetadataUploadRequest>(
        R"({"filename":"a","relative_path":"b/a","content_type":"t",
        "size_bytes":3,"sha256":"h","source_device":"d"})");
    expectRoundTrip<MetadataUploadResponse>(
        R"({"id":1,"folder_id":2,"filename":"a","relative_path":"b",
        "has_content":false,"content_type":"t","size_bytes":3,"sha256":"h"})");
    expectRoundTrip<PairRequestResponse>(
        R"({"code":"123456789","poll_secret":"s+/=","expires_in":300})");
    expectRoundTrip<PairConfirmRequest>(R"({"code":"1","folder_id":"42","folder_token":"t"})");
    expectRoundTrip<PairConfirmResponse>(R"({"status":"confirmed"})");
    expectRoundTrip<PairStatusResponse>(
        R"({"status":"confirmed","folder_id":"42","folder_token":"t",
        "backend_url":"https://b","device_id":5,"owner_id":6})");
    expectRoundTrip<PairedDeviceListResponse>(
        R"({"devices":[{"id":1,"folder_id":42,"device_name":"n",
        "device_type":"desktop","paired_at":"p","last_seen":"l"}]})");
    expectRoundTrip<DeviceStatusResponse>(R"({"status":"active","device_id":5})");

    const PairStatusResponse status = decodeJson<PairStatusResponse>(
        QByteArray(R"({"status":"confirmed","folder_id":"42","owner_id":6})"));
    EXPECT_EQ(status.folderId, QStringLiteral("42"));
    EXPECT_EQ(status.ownerID, 6);
    EXPECT_FALSE(status.deviceId.has_value());
}

TEST(SyncModels, optionalsDistinguishAbsentNullAndFalse)
{
    const auto absent
        = decodeJson<SyncFileInfo>(QByteArray(R"({"id":1,"filename":"a","unknown":[1,2]})"));
    const auto null = decodeJson<SyncFileInfo>(
        QByteArray(R"({"id":1,"filename":"a","has_content":null,"sha256":null})"));
    const auto no
        = decodeJson<SyncFileInfo>(QByteArray(R"({"id":1,"filename":"a","has_content":false})"));
    EXPECT_FALSE(absent.has_content.has_value());
    EXPECT_FALSE(null.has_content.has_value());
    ASSERT_TRUE(no.has_content.has_value());
    EXPECT_FALSE(*no.has_content);
    EXPECT_EQ(absent, null);

    // Null is never written: re-encoding leaves the key out.
    const QJsonObject encoded = toJsonObject(null);
    EXPECT_FALSE(encoded.contains(QStringLiteral("has_content")));
    EXPECT_FALSE(encoded.contains(QStringLiteral("sha256")));
    EXPECT_FALSE(encoded.contains(QStringLiteral("unknown")));
    EXPECT_TRUE(toJsonObject(no).contains(QStringLiteral("has_content")));

    for (const char *json :
         {R"({"relative_path":"a","size_bytes":1,"content_type":"t"})",
          R"({"relative_path":"a","size_bytes":1,"content_type":"t","has_content":false})"}) {
        const auto entry = decodeJson<StructureFileEntry>(QByteArray(json));
        EXPECT_EQ(entry.has_content.has_value(), QByteArray(json).contains("has_content"));
    }
    const auto change = decodeJson<FileChange>(
        QByteArray(R"({"server_id":1,"file_id":2,"action":"a","has_content":false})"));
    EXPECT_EQ(change.has_content, false);
}

TEST(SyncModels, localStructureEntryEncodesExactlyFourKeys)
{
    const StructureFileEntry entry(QStringLiteral("docs/a.md"), 0, QStringLiteral("text/markdown"),
                                   std::nullopt, std::nullopt, std::nullopt,
                                   QStringLiteral("2023-11-14T22:13:20Z"));
    const QJsonObject o = toJsonObject(entry);
    QStringList keys = o.keys();
    keys.sort();
    EXPECT_EQ(keys,
              (QStringList {QStringLiteral("content_type"), QStringLiteral("modified_at"),
                            QStringLiteral("relative_path"), QStringLiteral("size_bytes")}));
    EXPECT_EQ(o.value(QStringLiteral("size_bytes")).toInteger(), 0);
}

TEST(SyncModels, folderIdTypeIsStrictPerModel)
{
    using K = SyncFailure::DecodeKind;
    auto mismatch = [](const SyncFailure &f, const char *path) {
        EXPECT_EQ(f.kind(), SyncFailure::Kind::Decode);
        EXPECT_EQ(f.decodeKind(), K::typeMismatch);
        EXPECT_EQ(f.path(), QString::fromLatin1(path));
    };
    mismatch(decodeFailure<PairStatusResponse>(R"({"status":"confirmed","folder_id":42})"),
             "folder_id");
    mismatch(decodeFailure<PairConfirmRequest>(R"({"code":"1","folder_id":42,"folder_token":"t"})"),
             "folder_id");
    mismatch(decodeFailure<DeleteFolderResponse>(R"({"status":"deleted","folder_id":"42"})"),
             "folder_id");
    mismatch(
        decodeFailure<FileUploadResponse>(R"({"id":1,"folder_id":"2","filename":"a","s3_key":"k",
        "size_bytes":5,"sha256":"h"})"),
        "folder_id");
    mismatch(decodeFailure<PairedDeviceListResponse>(
                 R"({"devices":[{"id":1,"folder_id":"42","device_name":"n",
        "device_type":"d"}]})"),
             "devices[0].folder_id");
}

TEST(SyncModels, requiredKeysAndBadElementsFailTheWholeBody)
{
    using K = SyncFailure::DecodeKind;
    SyncFailure f = decodeFailure<FileListResponse>(R"({"files":[]})");
    EXPECT_EQ(f.decodeKind(), K::keyNotFound);
    EXPECT_EQ(f.path(), QStringLiteral("total"));

    f = decodeFailure<FileListResponse>(
        R"({"files":[{"id":1,"filename":"a"},{"id":2,"filename":"b","size_bytes":"9"}],
        "total":2})");
    EXPECT_EQ(f.decodeKind(), K::typeMismatch);
    EXPECT_EQ(f.path(), QStringLiteral("files[1].size_bytes"));
    EXPECT_TRUE(f.description().contains(QStringLiteral("files[1].size_bytes")));

    f = decodeFailure<ChangesResponse>(
        R"({"changes":[{"server_id":1,"file_id":1}],"latest_server_id":1,"has_more":false})");
    EXPECT_EQ(f.path(), QStringLiteral("changes[0].action"));
    f = decodeFailure<PendingFileRequestListResponse>(R"({"requests":[7],"total":1})");
    EXPECT_EQ(f.path(), QStringLiteral("requests[0]"));
    f = decodeFailure<StructureResponse>(R"({"structure_hash":"h","file_count":0})");
    EXPECT_EQ(f.decodeKind(), K::keyNotFound);
    EXPECT_EQ(decodeJson<StructureResponse>(
                  QByteArray(R"({"files":[],"structure_hash":"h","file_count":0})"))
                  .files.size(),
              0);

    f = decodeFailure<DeleteFileResponse>(R"({"status":null,"file_id":1})");
    EXPECT_EQ(f.decodeKind(), K::valueNotFound);
    f = decodeFailure<ResolveFileResponse>(R"({"file_id":1,"has_content":1,"status":"s"})");
    EXPECT_EQ(f.decodeKind(), K::typeMismatch);
    f = decodeFailure<PairRequestResponse>(R"({"code":"1","poll_secret":"s","expires_in":"300"})");
    EXPECT_EQ(f.path(), QStringLiteral("expires_in"));
    f = decodeFailure<FileListResponse>(R"({"files":[],"total":"3"})");
    EXPECT_EQ(f.decodeKind(), K::typeMismatch);

    EXPECT_EQ(decodeFailure<DeleteFileResponse>("[1]").decodeKind(), K::typeMismatch);
    EXPECT_EQ(decodeFailure<DeleteFileResponse>("not json").decodeKind(), K::dataCorrupted);
    EXPECT_EQ(decodeFailure<DeleteFileResponse>("").decodeKind(), K::dataCorrupted);
}

TEST(SyncModels, integersAreExactSixtyFourBit)
{
    const auto big = decodeJson<DeleteFileResponse>(
        QByteArray(R"({"status":"s","file_id":9007199254740993})"));
    EXPECT_EQ(big.file_id, Q_INT64_C(9007199254740993));
    EXPECT_TRUE(encodeJson(big).contains("9007199254740993"));
    EXPECT_EQ(decodeJson<DeleteFileResponse>(
                  QByteArray(R"({"status":"s","file_id":9223372036854775807})"))
                  .file_id,
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(decodeJson<DeleteFileResponse>(
                  QByteArray(R"({"status":"s","file_id":-9223372036854775808})"))
                  .file_id,
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(decodeFailure<DeleteFileResponse>(R"({"status":"s","file_id":9223372036854775808})")
                  .decodeKind(),
              SyncFailure::DecodeKind::typeMismatch);
    EXPECT_EQ(decodeFailure<DeleteFileResponse>(R"({"status":"s","file_id":3.5})").decodeKind(),
              SyncFailure::DecodeKind::typeMismatch);
    EXPECT_EQ(decodeJson<DeleteFileResponse>(QByteArray(R"({"status":"s","file_id":3.0})")).file_id,
              3);
    EXPECT_EQ(decodeJson<DeleteFileResponse>(QByteArray(R"({"status":"s","file_id":1e3})")).file_id,
              1000);

    // Same file, different change rows: different items.
    FileChange a;
    a.server_id = 1;
    a.file_id = 7;
    FileChange b = a;
    b.server_id = 2;
    EXPECT_FALSE(a == b);
}

TEST(SyncErrors, descriptionsAndEquality)
{
    EXPECT_EQ(FileSyncError::serverError(500).description(), QStringLiteral("Server error (500)"));
    EXPECT_EQ(FileSyncError::downloadFailed(404).description(),
              QStringLiteral("File download failed (HTTP 404)"));
    EXPECT_EQ(FileSyncError::serverError(12345).description(),
              QStringLiteral("Server error (12345)"));
    EXPECT_EQ(FileSyncError(FileSyncError::Case::fileTooLarge).description(),
              QStringLiteral("File exceeds 25 MB limit"));
    EXPECT_EQ(FileSyncError(FileSyncError::Case::invalidResponse).description(),
              QStringLiteral("Invalid server response"));
    EXPECT_EQ(FileSyncError::serverError(500), FileSyncError::serverError(500));
    EXPECT_FALSE(FileSyncError::serverError(500) == FileSyncError::serverError(502));
    EXPECT_FALSE(FileSyncError::serverError(500) == FileSyncError::downloadFailed(500));

    EXPECT_FALSE(FileSyncError::forStatus(200));
    EXPECT_FALSE(FileSyncError::forStatus(201));
    EXPECT_EQ(*FileSyncError::forStatus(204), FileSyncError::serverError(204));
    EXPECT_EQ(*FileSyncError::forStatus(400), FileSyncError::serverError(400));
    EXPECT_EQ(*FileSyncError::forStatus(413), FileSyncError(FileSyncError::Case::fileTooLarge));
    EXPECT_EQ(*FileSyncError::forStatus(429), FileSyncError(FileSyncError::Case::rateLimited));

    EXPECT_EQ(SyncError::conflictDetected(QStringLiteral(" a/b.md ")).description(),
              QStringLiteral("Conflict detected:  a/b.md "));
    EXPECT_EQ(SyncError::notPaired().description(), QStringLiteral("Not paired with any device"));
    EXPECT_EQ(SyncError::invalidURL().description(), QStringLiteral("Invalid download URL"));
}

TEST(SyncErrors, ownTextsAreTranslated)
{
    for (const char *key :
         {"sync.error.timeout", "sync.error.cancelled", "sync.error.unknown", "sync.error.decode",
          "sync.error.decodeAt", "sync.error.decode.dataCorrupted", "sync.error.decode.keyNotFound",
          "sync.error.decode.valueNotFound", "sync.error.decode.typeMismatch",
          "sync.error.file.read", "sync.error.file.write", "sync.error.file.createFolder",
          "sync.error.file.move", "sync.error.noPrivateFolder", "sync.error.limit.upload",
          "sync.error.limit.download", "sync.error.limit.response"})
        EXPECT_TRUE(L10n::has(QString::fromLatin1(key))) << key;
    EXPECT_FALSE(SyncFailure::timeout().description().startsWith(QStringLiteral("sync.")));
}

TEST(SSEEventType, rawValuesAreExact)
{
    EXPECT_EQ(sseEventTypeFromString(QStringLiteral("file_request")), SSEEventType::fileRequest);
    EXPECT_EQ(sseEventTypeFromString(QStringLiteral("structure_changed")),
              SSEEventType::structureChanged);
    EXPECT_FALSE(sseEventTypeFromString(QStringLiteral("File_Request")));
    EXPECT_FALSE(sseEventTypeFromString(QStringLiteral("file-request")));
    EXPECT_FALSE(sseEventTypeFromString(QString()));
    for (SSEEventType t :
         {SSEEventType::change, SSEEventType::fileRequest, SSEEventType::fileAvailable,
          SSEEventType::fileNotAvailable, SSEEventType::structureChanged,
          SSEEventType::cacheInterrupt, SSEEventType::deviceChanged, SSEEventType::keepalive})
        EXPECT_EQ(sseEventTypeFromString(toString(t)), t);
    EXPECT_EQ(caseName(SSEEventType::structureChanged), QStringLiteral("structureChanged"));
}
