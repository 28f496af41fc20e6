#include "core/sync/SyncModels.h"

#include "core/sync/SyncFailure.h"

#include "platform/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

using DecodeKind = SyncFailure::DecodeKind;

QString joinPath(const QString &base, const char *key)
{
    return base.isEmpty() ? QString::fromLatin1(key) : base + u'.' + QLatin1String(key);
}

class JsonDecoder;
class JsonEncoder;

template<class T> void describe(JsonDecoder &io, T &value);
template<class T> void describe(JsonEncoder &io, T &value);

class JsonDecoder
{
public:
    JsonDecoder(const QJsonObject &object, QString path)
        : m_object(object)
        , m_path(std::move(path))
    {
    }

    template<class T> void req(const char *key, T &out)
    {
        const QString path = joinPath(m_path, key);
        const auto it = m_object.constFind(QLatin1String(key));
        if (it == m_object.constEnd())
            throw SyncFailure::decode(DecodeKind::keyNotFound, path);
        if (it->isNull())
            throw SyncFailure::decode(DecodeKind::valueNotFound, path);
        read(*it, out, path);
    }

    template<class T> void opt(const char *key, std::optional<T> &out)
    {
        const auto it = m_object.constFind(QLatin1String(key));
        if (it == m_object.constEnd() || it->isNull()) {
            out.reset();
            return;
        }
        T value {};
        read(*it, value, joinPath(m_path, key));
        out = std::move(value);
    }

    template<class T> static T decodeObject(const QJsonValue &v, const QString &path)
    {
        if (!v.isObject())
            throw SyncFailure::decode(DecodeKind::typeMismatch, path);
        T value {};
        JsonDecoder sub(v.toObject(), path);
        describe(sub, value);
        return value;
    }

private:
    static void read(const QJsonValue &v, qint64 &out, const QString &path)
    {
        // Exact 64-bit integers only: a fraction, a value out of range or a non-number is a
        // mismatch.
        const std::optional<qint64> value = jsonfields::exactInteger(v);
        if (!value)
            throw SyncFailure::decode(DecodeKind::typeMismatch, path);
        out = *value;
    }
    static void read(const QJsonValue &v, QString &out, const QString &path)
    {
        if (!v.isString())
            throw SyncFailure::decode(DecodeKind::typeMismatch, path);
        out = v.toString();
    }
    static void read(const QJsonValue &v, bool &out, const QString &path)
    {
        if (!v.isBool())
            throw SyncFailure::decode(DecodeKind::typeMismatch, path);
        out = v.toBool();
    }
    template<class T> static void read(const QJsonValue &v, QList<T> &out, const QString &path)
    {
        if (!v.isArray())
            throw SyncFailure::decode(DecodeKind::typeMismatch, path);
        const QJsonArray array = v.toArray();
        QList<T> result;
        result.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            result.append(decodeObject<T>(array.at(i), path + u'[' + QString::number(i) + u']'));
        out = std::move(result);
    }

    const QJsonObject &m_object;
    QString m_path;
};

class JsonEncoder
{
public:
    template<class T> void req(const char *key, const T &value)
    {
        m_object.insert(QLatin1String(key), write(value));
    }

    template<class T> void opt(const char *key, const std::optional<T> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), write(*value));
    }

    QJsonObject object() const { return m_object; }

    template<class T> static QJsonObject encodeObject(const T &value)
    {
        JsonEncoder encoder;
        describe(encoder, const_cast<T &>(value)); // the encoder only reads
        return encoder.object();
    }

private:
    static QJsonValue write(qint64 v) { return QJsonValue(v); }
    static QJsonValue write(const QString &v) { return QJsonValue(v); }
    static QJsonValue write(bool v) { return QJsonValue(v); }
    template<class T> static QJsonValue write(const QList<T> &list)
    {
        QJsonArray array;
        for (const T &element : list)
            array.append(encodeObject(element));
        return array;
    }

    QJsonObject m_object;
};

// One field list per type, in table order, shared by decoding and encoding.

template<class IO> void fields(IO &io, CreateFolderResponse &x)
{
    io.req("id", x.id);
    io.req("name", x.name);
    io.req("status", x.status);
    io.opt("source_device_name", x.source_device_name);
    io.req("folder_token", x.folder_token);
    io.opt("created_at", x.created_at);
    io.opt("owner_id", x.owner_id);
}

template<class IO> void fields(IO &io, SyncFileInfo &x)
{
    io.req("id", x.id);
    io.opt("folder_id", x.folder_id);
    io.req("filename", x.filename);
    io.opt("relative_path", x.relative_path);
    io.opt("content_type", x.content_type);
    io.opt("size_bytes", x.size_bytes);
    io.opt("sha256", x.sha256);
    io.opt("status", x.status);
    io.opt("has_content", x.has_content);
    io.opt("source_device", x.source_device);
    io.opt("created_at", x.created_at);
}

template<class IO> void fields(IO &io, FolderDetailResponse &x)
{
    io.req("id", x.id);
    io.req("name", x.name);
    io.req("status", x.status);
    io.opt("source_device_name", x.source_device_name);
    io.opt("created_at", x.created_at);
    io.req("file_count", x.file_count);
    io.req("files", x.files);
}

template<class IO> void fields(IO &io, DeleteFolderResponse &x)
{
    io.req("status", x.status);
    io.req("folder_id", x.folder_id);
}

template<class IO> void fields(IO &io, FileListResponse &x)
{
    io.req("files", x.files);
    io.req("total", x.total);
}

template<class IO> void fields(IO &io, FileUploadResponse &x)
{
    io.req("id", x.id);
    io.req("folder_id", x.folder_id);
    io.req("filename", x.filename);
    io.opt("relative_path", x.relative_path);
    io.req("s3_key", x.s3_key);
    io.opt("content_type", x.content_type);
    io.req("size_bytes", x.size_bytes);
    io.req("sha256", x.sha256);
}

template<class IO> void fields(IO &io, ContentUploadResponse &x)
{
    io.req("id", x.id);
    io.req("folder_id", x.folder_id);
    io.req("s3_key", x.s3_key);
    io.req("sha256", x.sha256);
    io.req("size_bytes", x.size_bytes);
    io.req("has_content", x.has_content);
}

template<class IO> void fields(IO &io, DownloadURLResponse &x)
{
    io.req("url", x.url);
    io.req("filename", x.filename);
    io.req("size_bytes", x.size_bytes);
    io.req("content_type", x.content_type);
}

template<class IO> void fields(IO &io, DeleteFileResponse &x)
{
    io.req("status", x.status);
    io.req("file_id", x.file_id);
}

template<class IO> void fields(IO &io, FileChange &x)
{
    io.req("server_id", x.server_id);
    io.req("file_id", x.file_id);
    io.req("action", x.action);
    io.opt("filename", x.filename);
    io.opt("s3_key", x.s3_key);
    io.opt("size_bytes", x.size_bytes);
    io.opt("sha256", x.sha256);
    io.opt("content_type", x.content_type);
    io.opt("relative_path", x.relative_path);
    io.opt("status", x.status);
    io.opt("has_content", x.has_content);
    io.opt("source_device", x.source_device);
    io.opt("created_at", x.created_at);
}

template<class IO> void fields(IO &io, ChangesResponse &x)
{
    io.req("changes", x.changes);
    io.req("latest_server_id", x.latest_server_id);
    io.req("has_more", x.has_more);
}

template<class IO> void fields(IO &io, StructureFileEntry &x)
{
    io.req("relative_path", x.relative_path);
    io.req("size_bytes", x.size_bytes);
    io.req("content_type", x.content_type);
    io.opt("file_id", x.file_id);
    io.opt("has_content", x.has_content);
    io.opt("sha256", x.sha256);
    io.opt("modified_at", x.modified_at);
}

template<class IO> void fields(IO &io, StructureResponse &x)
{
    io.req("files", x.files);
    io.req("structure_hash", x.structure_hash);
    io.req("file_count", x.file_count);
    io.opt("updated_at", x.updated_at);
}

template<class IO> void fields(IO &io, StructureUploadResponse &x)
{
    io.req("structure_hash", x.structure_hash);
    io.req("file_count", x.file_count);
}

template<class IO> void fields(IO &io, ResolveFileResponse &x)
{
    io.req("file_id", x.file_id);
    io.req("has_content", x.has_content);
    io.req("status", x.status);
}

template<class IO> void fields(IO &io, FileRequestResponse &x)
{
    io.req("status", x.status);
    io.opt("request_id", x.request_id);
    io.opt("file_id", x.file_id);
}

template<class IO> void fields(IO &io, PendingFileRequest &x)
{
    io.req("id", x.id);
    io.req("file_id", x.file_id);
    io.req("status", x.status);
    io.opt("requested_by", x.requested_by);
    io.opt("created_at", x.created_at);
}

template<class IO> void fields(IO &io, PendingFileRequestListResponse &x)
{
    io.req("requests", x.requests);
    io.req("total", x.total);
}

template<class IO> void fields(IO &io, UpdateFileRequestRequest &x)
{
    io.req("status", x.status);
}

template<class IO> void fields(IO &io, UpdateFileRequestResponse &x)
{
    io.req("status", x.status);
    io.req("request_id", x.request_id);
}

template<class IO> void fields(IO &io, MetadataUploadRequest &x)
{
    io.req("filename", x.filename);
    io.req("relative_path", x.relative_path);
    io.req("content_type", x.content_type);
    io.req("size_bytes", x.size_bytes);
    io.req("sha256", x.sha256);
    io.opt("source_device", x.source_device);
}

template<class IO> void fields(IO &io, MetadataUploadResponse &x)
{
    io.req("id", x.id);
    io.req("folder_id", x.folder_id);
    io.req("filename", x.filename);
    io.opt("relative_path", x.relative_path);
    io.req("has_content", x.has_content);
    io.opt("content_type", x.content_type);
    io.req("size_bytes", x.size_bytes);
    io.req("sha256", x.sha256);
}

template<class IO> void fields(IO &io, PairRequestResponse &x)
{
    io.req("code", x.code);
    io.req("poll_secret", x.pollSecret);
    io.req("expires_in", x.expiresIn);
}

template<class IO> void fields(IO &io, PairConfirmRequest &x)
{
    io.req("code", x.code);
    io.req("folder_id", x.folderId);
    io.req("folder_token", x.folderToken);
}

template<class IO> void fields(IO &io, PairConfirmResponse &x)
{
    io.req("status", x.status);
}

template<class IO> void fields(IO &io, PairStatusResponse &x)
{
    io.req("status", x.status);
    io.opt("folder_id", x.folderId);
    io.opt("folder_token", x.folderToken);
    io.opt("backend_url", x.backendUrl);
    io.opt("device_id", x.deviceId);
    io.opt("owner_id", x.ownerID);
}

template<class IO> void fields(IO &io, PairedDevice &x)
{
    io.req("id", x.id);
    io.req("folder_id", x.folderID);
    io.req("device_name", x.deviceName);
    io.req("device_type", x.deviceType);
    io.opt("paired_at", x.pairedAt);
    io.opt("last_seen", x.lastSeen);
}

template<class IO> void fields(IO &io, PairedDeviceListResponse &x)
{
    io.req("devices", x.devices);
}

template<class IO> void fields(IO &io, DeviceStatusResponse &x)
{
    io.req("status", x.status);
    io.req("device_id", x.deviceId);
}

template<class T> void describe(JsonDecoder &io, T &value)
{
    fields(io, value);
}
template<class T> void describe(JsonEncoder &io, T &value)
{
    fields(io, value);
}

} // namespace

StructureFileEntry::StructureFileEntry(QString relative_path_, qint64 size_bytes_,
                                       QString content_type_, std::optional<qint64> file_id_,
                                       std::optional<bool> has_content_,
                                       std::optional<QString> sha256_,
                                       std::optional<QString> modified_at_)
    : relative_path(std::move(relative_path_))
    , size_bytes(size_bytes_)
    , content_type(std::move(content_type_))
    , file_id(file_id_)
    , has_content(has_content_)
    , sha256(std::move(sha256_))
    , modified_at(std::move(modified_at_))
{
}

MetadataUploadRequest::MetadataUploadRequest(QString filename_, QString relative_path_,
                                             QString content_type_, qint64 size_bytes_,
                                             QString sha256_, std::optional<QString> source_device_)
    : filename(std::move(filename_))
    , relative_path(std::move(relative_path_))
    , content_type(std::move(content_type_))
    , size_bytes(size_bytes_)
    , sha256(std::move(sha256_))
    , source_device(std::move(source_device_))
{
}

PairConfirmRequest::PairConfirmRequest(QString code_, QString folderId_, QString folderToken_)
    : code(std::move(code_))
    , folderId(std::move(folderId_))
    , folderToken(std::move(folderToken_))
{
}

template<class T> T decodeJson(const QJsonObject &object)
{
    return JsonDecoder::decodeObject<T>(QJsonValue(object), QString());
}

template<class T> T decodeJson(const QByteArray &body)
{
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw SyncFailure::decode(DecodeKind::dataCorrupted, QString());
    if (!doc.isObject())
        throw SyncFailure::decode(DecodeKind::typeMismatch, QString());
    return decodeJson<T>(doc.object());
}

template<class T> QJsonObject toJsonObject(const T &value)
{
    return JsonEncoder::encodeObject(value);
}

template<class T> QByteArray encodeJson(const T &value)
{
    return QJsonDocument(toJsonObject(value)).toJson(QJsonDocument::Compact);
}

#define VELTO_SYNC_MODEL(T)                                                                        \
    template T decodeJson<T>(const QByteArray &);                                                  \
    template T decodeJson<T>(const QJsonObject &);                                                 \
    template QJsonObject toJsonObject<T>(const T &);                                               \
    template QByteArray encodeJson<T>(const T &);

VELTO_SYNC_MODEL(CreateFolderResponse)
VELTO_SYNC_MODEL(FolderDetailResponse)
VELTO_SYNC_MODEL(DeleteFolderResponse)
VELTO_SYNC_MODEL(SyncFileInfo)
VELTO_SYNC_MODEL(FileListResponse)
VELTO_SYNC_MODEL(FileUploadResponse)
VELTO_SYNC_MODEL(ContentUploadResponse)
VELTO_SYNC_MODEL(DownloadURLResponse)
VELTO_SYNC_MODEL(DeleteFileResponse)
VELTO_SYNC_MODEL(FileChange)
VELTO_SYNC_MODEL(ChangesResponse)
VELTO_SYNC_MODEL(StructureFileEntry)
VELTO_SYNC_MODEL(StructureResponse)
VELTO_SYNC_MODEL(StructureUploadResponse)
VELTO_SYNC_MODEL(ResolveFileResponse)
VELTO_SYNC_MODEL(FileRequestResponse)
VELTO_SYNC_MODEL(PendingFileRequest)
VELTO_SYNC_MODEL(PendingFileRequestListResponse)
VELTO_SYNC_MODEL(UpdateFileRequestRequest)
VELTO_SYNC_MODEL(UpdateFileRequestResponse)
VELTO_SYNC_MODEL(MetadataUploadRequest)
VELTO_SYNC_MODEL(MetadataUploadResponse)
VELTO_SYNC_MODEL(PairRequestResponse)
VELTO_SYNC_MODEL(PairConfirmRequest)
VELTO_SYNC_MODEL(PairConfirmResponse)
VELTO_SYNC_MODEL(PairStatusResponse)
VELTO_SYNC_MODEL(PairedDevice)
VELTO_SYNC_MODEL(PairedDeviceListResponse)
VELTO_SYNC_MODEL(DeviceStatusResponse)
