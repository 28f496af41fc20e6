#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The JSON bodies exchanged with the sync backend. Every type maps to one JSON object: required
// fields must be present and not null, optional fields may be absent or null (and are left out
// when encoding), unknown keys are ignored, no field has a default. Identifiers are signed 64-bit
// integers and never pass through a double. Decoding throws SyncFailure (kind Decode) naming the
// failure and its key path.

// Folders

struct CreateFolderResponse
{
    qint64 id = 0;
    QString name;
    QString status;
    std::optional<QString> source_device_name;
    QString folder_token;
    std::optional<QString> created_at;
    std::optional<qint64> owner_id;
    bool operator==(const CreateFolderResponse &) const = default;
};

struct SyncFileInfo
{
    qint64 id = 0;
    std::optional<qint64> folder_id;
    QString filename;
    std::optional<QString> relative_path;
    std::optional<QString> content_type;
    std::optional<qint64> size_bytes;
    std::optional<QString> sha256;
    std::optional<QString> status;
    std::optional<bool> has_content;
    std::optional<QString> source_device;
    std::optional<QString> created_at;
    bool operator==(const SyncFileInfo &) const = default;
};

struct FolderDetailResponse
{
    qint64 id = 0;
    QString name;
    QString status;
    std::optional<QString> source_device_name;
    std::optional<QString> created_at;
    qint64 file_count = 0;
    QList<SyncFileInfo> files;
    bool operator==(const FolderDetailResponse &) const = default;
};

struct DeleteFolderResponse
{
    QString status;
    qint64 folder_id = 0;
    bool operator==(const DeleteFolderResponse &) const = default;
};

// Files

struct FileListResponse
{
    QList<SyncFileInfo> files;
    qint64 total = 0;
    bool operator==(const FileListResponse &) const = default;
};

struct FileUploadResponse
{
    qint64 id = 0;
    qint64 folder_id = 0;
    QString filename;
    std::optional<QString> relative_path;
    QString s3_key;
    std::optional<QString> content_type;
    qint64 size_bytes = 0;
    QString sha256;
    bool operator==(const FileUploadResponse &) const = default;
};

struct ContentUploadResponse
{
    qint64 id = 0;
    qint64 folder_id = 0;
    QString s3_key;
    QString sha256;
    qint64 size_bytes = 0;
    bool has_content = false;
    bool operator==(const ContentUploadResponse &) const = default;
};

struct DownloadURLResponse
{
    QString url;
    QString filename;
    qint64 size_bytes = 0;
    QString content_type;
    bool operator==(const DownloadURLResponse &) const = default;
};

struct DeleteFileResponse
{
    QString status;
    qint64 file_id = 0;
    bool operator==(const DeleteFileResponse &) const = default;
};

// Changes

struct FileChange
{
    qint64 server_id = 0;
    qint64 file_id = 0;
    QString action;
    std::optional<QString> filename;
    std::optional<QString> s3_key;
    std::optional<qint64> size_bytes;
    std::optional<QString> sha256;
    std::optional<QString> content_type;
    std::optional<QString> relative_path;
    std::optional<QString> status;
    std::optional<bool> has_content;
    std::optional<QString> source_device;
    std::optional<QString> created_at;
    bool operator==(const FileChange &) const = default;
};

struct ChangesResponse
{
    QList<FileChange> changes;
    qint64 latest_server_id = 0;
    bool has_more = false;
    bool operator==(const ChangesResponse &) const = default;
};

// Structure

struct StructureFileEntry
{
    StructureFileEntry() = default;
    StructureFileEntry(QString relative_path, qint64 size_bytes, QString content_type,
                       std::optional<qint64> file_id = std::nullopt,
                       std::optional<bool> has_content = std::nullopt,
                       std::optional<QString> sha256 = std::nullopt,
                       std::optional<QString> modified_at = std::nullopt);

    QString relative_path;
    qint64 size_bytes = 0;
    QString content_type;
    std::optional<qint64> file_id;
    std::optional<bool> has_content;
    std::optional<QString> sha256;
    std::optional<QString> modified_at;
    bool operator==(const StructureFileEntry &) const = default;
};

struct StructureResponse
{
    QList<StructureFileEntry> files;
    QString structure_hash;
    qint64 file_count = 0;
    std::optional<QString> updated_at;
    bool operator==(const StructureResponse &) const = default;
};

struct StructureUploadResponse
{
    QString structure_hash;
    qint64 file_count = 0;
    bool operator==(const StructureUploadResponse &) const = default;
};

struct ResolveFileResponse
{
    qint64 file_id = 0;
    bool has_content = false;
    QString status;
    bool operator==(const ResolveFileResponse &) const = default;
};

// File requests

struct FileRequestResponse
{
    QString status;
    std::optional<qint64> request_id;
    std::optional<qint64> file_id;
    bool operator==(const FileRequestResponse &) const = default;
};

struct PendingFileRequest
{
    qint64 id = 0;
    qint64 file_id = 0;
    QString status;
    std::optional<QString> requested_by;
    std::optional<QString> created_at;
    bool operator==(const PendingFileRequest &) const = default;
};

struct PendingFileRequestListResponse
{
    QList<PendingFileRequest> requests;
    qint64 total = 0;
    bool operator==(const PendingFileRequestListResponse &) const = default;
};

struct UpdateFileRequestRequest
{
    QString status;
    bool operator==(const UpdateFileRequestRequest &) const = default;
};

struct UpdateFileRequestResponse
{
    QString status;
    qint64 request_id = 0;
    bool operator==(const UpdateFileRequestResponse &) const = default;
};

// Metadata

struct MetadataUploadRequest
{
    MetadataUploadRequest() = default;
    MetadataUploadRequest(QString filename, QString relative_path, QString content_type,
                          qint64 size_bytes, QString sha256,
                          std::optional<QString> source_device = std::nullopt);

    QString filename;
    QString relative_path;
    QString content_type;
    qint64 size_bytes = 0;
    QString sha256;
    std::optional<QString> source_device;
    bool operator==(const MetadataUploadRequest &) const = default;
};

struct MetadataUploadResponse
{
    qint64 id = 0;
    qint64 folder_id = 0;
    QString filename;
    std::optional<QString> relative_path;
    bool has_content = false;
    std::optional<QString> content_type;
    qint64 size_bytes = 0;
    QString sha256;
    bool operator==(const MetadataUploadResponse &) const = default;
};

// Pairing (camelCase fields with snake_case keys; the folder id is text here)

struct PairRequestResponse
{
    QString code;
    QString pollSecret;
    qint64 expiresIn = 0;
    bool operator==(const PairRequestResponse &) const = default;
};

struct PairConfirmRequest
{
    PairConfirmRequest() = default;
    PairConfirmRequest(QString code, QString folderId, QString folderToken);

    QString code;
    QString folderId;
    QString folderToken;
    bool operator==(const PairConfirmRequest &) const = default;
};

struct PairConfirmResponse
{
    QString status;
    bool operator==(const PairConfirmResponse &) const = default;
};

struct PairStatusResponse
{
    QString status;
    std::optional<QString> folderId;
    std::optional<QString> folderToken;
    std::optional<QString> backendUrl;
    std::optional<qint64> deviceId;
    std::optional<qint64> ownerID;
    bool operator==(const PairStatusResponse &) const = default;
};

// Devices

struct PairedDevice
{
    qint64 id = 0;
    qint64 folderID = 0;
    QString deviceName;
    QString deviceType;
    std::optional<QString> pairedAt;
    std::optional<QString> lastSeen;
    bool operator==(const PairedDevice &) const = default;
};

struct PairedDeviceListResponse
{
    QList<PairedDevice> devices;
    bool operator==(const PairedDeviceListResponse &) const = default;
};

struct DeviceStatusResponse
{
    QString status;
    qint64 deviceId = 0;
    bool operator==(const DeviceStatusResponse &) const = default;
};

// Decoding and encoding, defined for each type above.

// Decodes a body; throws SyncFailure (Decode) when it is not one JSON object of the type.
template<class T> T decodeJson(const QByteArray &body);
template<class T> T decodeJson(const QJsonObject &object);

template<class T> QJsonObject toJsonObject(const T &value);
// Compact UTF-8 JSON of one object.
template<class T> QByteArray encodeJson(const T &value);
