#include "fakes/sync/FakeSyncBackend.h"

#include "platform/JsonFields.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

struct Multipart
{
    bool ok = false;
    QByteArray fileName; // as sent (escaped)
    QByteArray contentType;
    QByteArray content;
};

Multipart parseMultipart(const QByteArray &contentType, const QByteArray &body)
{
    Multipart m;
    const qsizetype b = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || b < 0)
        return m;
    const QByteArray boundary = contentType.mid(b + 9);
    const QByteArray open = "--" + boundary + "\r\n";
    const QByteArray close = "\r\n--" + boundary + "--\r\n";
    if (!body.startsWith(open) || !body.endsWith(close))
        return m;
    const qsizetype headEnd = body.indexOf("\r\n\r\n", open.size());
    if (headEnd < 0)
        return m;
    const QList<QByteArray> lines = body.mid(open.size(), headEnd - open.size()).split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.startsWith("Content-Disposition:")) {
            const qsizetype f = line.indexOf("filename=\"");
            if (f >= 0)
                m.fileName = line.mid(f + 10, line.lastIndexOf('"') - f - 10);
        } else if (line.startsWith("Content-Type:")) {
            m.contentType = line.mid(13).trimmed();
        }
    }
    const qsizetype contentStart = headEnd + 4;
    m.content = body.mid(contentStart, body.size() - close.size() - contentStart);
    m.ok = true;
    return m;
}

} // namespace

std::optional<QString> FakeSyncRequest::queryValue(const QString &key) const
{
    for (const auto &item : query) {
        if (item.first == key)
            return item.second;
    }
    return std::nullopt;
}

QJsonObject FakeSyncRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

// One request per connection: every answer closes it.
FakeSyncBackend::FakeSyncBackend(QObject *parent)
    : QObject(parent)
    , m_http(new LoopbackHttpServer(this))
{
    connect(m_http, &LoopbackHttpServer::requestReceived, this, &FakeSyncBackend::onRequest);
    connect(m_http, &LoopbackHttpServer::connectionEnded, this, [this](QTcpSocket *socket) {
        bool wasStream = false;
        for (qsizetype i = m_streams.size() - 1; i >= 0; --i) {
            if (m_streams.at(i).socket == socket || !m_streams.at(i).socket) {
                wasStream = wasStream || m_streams.at(i).socket == socket;
                m_streams.removeAt(i);
            }
        }
        if (wasStream)
            emit streamClosed();
    });
}

FakeSyncBackend::~FakeSyncBackend() = default;

bool FakeSyncBackend::listen(const QHostAddress &address)
{
    return m_http->listen(address);
}

quint16 FakeSyncBackend::port() const
{
    return m_http->port();
}

QUrl FakeSyncBackend::baseURL() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_http->address().toString());
    url.setPort(port());
    return url;
}

QString FakeSyncBackend::blobURL(const QString &key) const
{
    return baseURLString() + QStringLiteral("/blob/") + key;
}

// Model

FakeSyncBackend::Folder FakeSyncBackend::createFolder(const QString &name,
                                                      std::optional<qint64> ownerId)
{
    Folder f;
    f.id = m_nextFolderId++;
    f.name = name;
    f.token = QStringLiteral("tok-%1-").arg(f.id)
        + QString::number(QRandomGenerator::global()->generate64(), 16);
    f.ownerId = ownerId;
    m_folders.insert(f.id, f);
    return f;
}

std::optional<FakeSyncBackend::Folder> FakeSyncBackend::folder(qint64 id) const
{
    const auto it = m_folders.constFind(id);
    return it == m_folders.constEnd() ? std::nullopt : std::optional<Folder>(*it);
}

qint64 FakeSyncBackend::addFile(qint64 folderId, const QString &relativePath,
                                const QByteArray &bytes, bool hasContent)
{
    File f;
    f.id = m_nextFileId++;
    f.folderId = folderId;
    f.relativePath = relativePath;
    f.filename = relativePath.section(u'/', -1);
    f.contentType = QStringLiteral("application/octet-stream");
    f.bytes = hasContent ? bytes : QByteArray();
    f.size = bytes.size();
    f.sha256 = sha256Hex(bytes);
    f.hasContent = hasContent;
    f.s3Key = QStringLiteral("folders/%1/files/%2").arg(folderId).arg(f.id);
    m_files.insert(f.id, f);
    logChange(f, QStringLiteral("created"));
    return f.id;
}

std::optional<FakeSyncBackend::File> FakeSyncBackend::file(qint64 id) const
{
    const auto it = m_files.constFind(id);
    return it == m_files.constEnd() ? std::nullopt : std::optional<File>(*it);
}

QList<FakeSyncBackend::File> FakeSyncBackend::files(qint64 folderId) const
{
    QList<File> out;
    for (const File &f : m_files) {
        if (f.folderId == folderId)
            out.append(f);
    }
    return out;
}

void FakeSyncBackend::setStructure(qint64 folderId, const QJsonArray &entries)
{
    m_structures.insert(folderId, entries);
}

QJsonArray FakeSyncBackend::storedStructure(qint64 folderId) const
{
    return m_structures.value(folderId);
}

QString FakeSyncBackend::structureHash(qint64 folderId) const
{
    return sha256Hex(QJsonDocument(mergedStructure(folderId)).toJson(QJsonDocument::Compact));
}

QJsonArray FakeSyncBackend::mergedStructure(qint64 folderId) const
{
    QJsonArray out;
    for (const QJsonValue &v : m_structures.value(folderId)) {
        QJsonObject entry = v.toObject();
        for (const File &f : m_files) {
            if (f.folderId == folderId
                && f.relativePath == entry.value(QStringLiteral("relative_path")).toString()) {
                entry.insert(QStringLiteral("file_id"), QJsonValue(f.id));
                entry.insert(QStringLiteral("has_content"), f.hasContent);
                entry.insert(QStringLiteral("sha256"), f.sha256);
                break;
            }
        }
        out.append(entry);
    }
    return out;
}

qint64 FakeSyncBackend::addFileRequest(qint64 folderId, qint64 fileId)
{
    FileRequest r {m_nextRequestId++, folderId, fileId, QStringLiteral("pending")};
    m_fileRequests.insert(r.id, r);
    return r.id;
}

QList<FakeSyncBackend::FileRequest> FakeSyncBackend::fileRequests(qint64 folderId) const
{
    QList<FileRequest> out;
    for (const FileRequest &r : m_fileRequests) {
        if (r.folderId == folderId)
            out.append(r);
    }
    return out;
}

qint64 FakeSyncBackend::addDevice(qint64 folderId, const QString &name, const QString &type)
{
    Device d {m_nextDeviceId++, folderId, name, type};
    m_devices.insert(d.id, d);
    return d.id;
}

QList<FakeSyncBackend::Device> FakeSyncBackend::devices(qint64 folderId) const
{
    QList<Device> out;
    for (const Device &d : m_devices) {
        if (d.folderId == folderId)
            out.append(d);
    }
    return out;
}

qint64 FakeSyncBackend::logChange(const File &file, const QString &action)
{
    const qint64 id = m_nextServerId++;
    m_changes.append(QJsonObject {
        {QStringLiteral("server_id"), QJsonValue(id)},
        {QStringLiteral("file_id"), QJsonValue(file.id)},
        {QStringLiteral("folder_id"), QJsonValue(file.folderId)},
        {QStringLiteral("action"), action},
        {QStringLiteral("filename"), file.filename},
        {QStringLiteral("relative_path"), file.relativePath},
        {QStringLiteral("size_bytes"), QJsonValue(file.size)},
        {QStringLiteral("sha256"), file.sha256},
        {QStringLiteral("has_content"), file.hasContent},
        {QStringLiteral("created_at"), now()},
    });
    return id;
}

void FakeSyncBackend::emitAuto(qint64 id, const QString &type)
{
    if (m_autoEvents)
        pushEvent(id, type);
}

bool FakeSyncBackend::confirmPairingCode(const QString &code, qint64 folderId)
{
    for (PairSession &s : m_pairSessions) {
        if (s.code == code && !s.expired) {
            s.folderId = folderId;
            s.deviceId = addDevice(folderId, s.deviceName.value_or(QStringLiteral("device")),
                                   s.deviceType.value_or(QStringLiteral("desktop")));
            return true;
        }
    }
    return false;
}

void FakeSyncBackend::expirePairing(const QString &code)
{
    for (PairSession &s : m_pairSessions) {
        if (s.code == code)
            s.expired = true;
    }
}

// Hazards

void FakeSyncBackend::addFault(const FakeSyncFault &fault)
{
    m_faults.append(fault);
}

void FakeSyncBackend::failNext(const QByteArray &method, const QString &pathPattern, int status,
                               const QByteArray &body, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.status = status;
    f.body = body;
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::respondNext(const QByteArray &method, const QString &pathPattern, int status,
                                  const QJsonObject &body, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.status = status;
    f.body = json(body);
    f.headers = {{"Content-Type", "application/json"}};
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::hangNext(const QByteArray &method, const QString &pathPattern, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.action = FakeSyncFault::Action::Hang;
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::closeNext(const QByteArray &method, const QString &pathPattern, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.action = FakeSyncFault::Action::Close;
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::garbageNext(const QByteArray &method, const QString &pathPattern, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.action = FakeSyncFault::Action::Garbage;
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::redirectNext(const QByteArray &method, const QString &pathPattern,
                                   const QString &location, int status, int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.action = FakeSyncFault::Action::Redirect;
    f.status = status;
    f.location = location;
    f.times = times;
    addFault(f);
}

void FakeSyncBackend::delayNext(const QByteArray &method, const QString &pathPattern, int delayMs,
                                int times)
{
    FakeSyncFault f;
    f.method = method;
    f.path = QRegularExpression(pathPattern);
    f.status = 0;
    f.delayMs = delayMs;
    f.times = times;
    addFault(f);
}

std::optional<FakeSyncFault> FakeSyncBackend::takeFault(const FakeSyncRequest &request)
{
    for (qsizetype i = 0; i < m_faults.size(); ++i) {
        FakeSyncFault &f = m_faults[i];
        if (!f.method.isEmpty() && f.method != request.method)
            continue;
        if (!f.path.match(request.path).hasMatch())
            continue;
        FakeSyncFault copy = f;
        if (f.times > 0 && --f.times == 0)
            m_faults.removeAt(i);
        return copy;
    }
    return std::nullopt;
}

QList<FakeSyncRequest> FakeSyncBackend::requests(const QByteArray &method,
                                                 const QString &pathPattern) const
{
    const QRegularExpression re(pathPattern);
    QList<FakeSyncRequest> out;
    for (const FakeSyncRequest &r : m_requests) {
        if ((method.isEmpty() || r.method == method) && re.match(r.path).hasMatch())
            out.append(r);
    }
    return out;
}

int FakeSyncBackend::openConnectionCount() const
{
    return m_http->openConnectionCount();
}

// Event stream

int FakeSyncBackend::openStreamCount() const
{
    int n = 0;
    for (const Stream &s : m_streams) {
        if (s.socket && s.socket->state() == QAbstractSocket::ConnectedState)
            ++n;
    }
    return n;
}

qint64 FakeSyncBackend::unsentSseBytes() const
{
    qint64 n = 0;
    for (const Stream &s : m_streams) {
        if (s.socket)
            n += s.socket->bytesToWrite();
    }
    return n;
}

void FakeSyncBackend::pushSse(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    for (const Stream &s : std::as_const(m_streams)) {
        if (!s.socket || s.socket->state() != QAbstractSocket::ConnectedState)
            continue;
        s.socket->write(LoopbackHttpServer::chunk(bytes));
        s.socket->flush();
    }
}

void FakeSyncBackend::pushEvent(qint64 id, const QString &type)
{
    pushSse("id: " + QByteArray::number(id) + "\nevent: " + type.toUtf8() + "\n\n");
}

void FakeSyncBackend::pushEvent(const QString &type)
{
    pushSse("event: " + type.toUtf8() + "\n\n");
}

void FakeSyncBackend::keepalive(qint64 id)
{
    pushSse(": keepalive " + QByteArray::number(id) + "\n");
}

void FakeSyncBackend::closeStreams()
{
    const QList<Stream> streams = m_streams;
    m_streams.clear();
    for (const Stream &s : streams) {
        if (!s.socket)
            continue;
        s.socket->write("0\r\n\r\n");
        s.socket->flush();
        s.socket->disconnectFromHost();
    }
}

void FakeSyncBackend::abortStreams()
{
    const QList<Stream> streams = m_streams;
    m_streams.clear();
    for (const Stream &s : streams) {
        if (s.socket)
            s.socket->abort();
    }
}

// HTTP

void FakeSyncBackend::onRequest(const LoopbackHttpRequest &received, QTcpSocket *socket)
{
    FakeSyncRequest r;
    r.method = received.method;
    const QByteArray &target = received.target;
    const qsizetype q = target.indexOf('?');
    r.path = QString::fromLatin1(q < 0 ? target : target.left(q));
    r.rawQuery = q < 0 ? QString() : QString::fromLatin1(target.mid(q + 1));
    if (!r.rawQuery.isEmpty()) {
        for (const QString &item : r.rawQuery.split(u'&')) {
            const qsizetype eq = item.indexOf(u'=');
            const QString key = eq < 0 ? item : item.left(eq);
            const QString value = eq < 0 ? QString() : item.mid(eq + 1);
            r.query.append({QUrl::fromPercentEncoding(key.toLatin1()),
                            QUrl::fromPercentEncoding(value.toLatin1())});
        }
    }
    for (const auto &[name, value] : received.headers)
        r.headers.insert(name.toLower(), value);
    r.body = received.body;
    r.connectionId = received.connectionId;
    r.receivedAtMs = received.receivedAtMs;
    m_requests.append(r);
    emit requestReceived(r);
    dispatch(socket, r);
}

void FakeSyncBackend::dispatch(QTcpSocket *connection, const FakeSyncRequest &request)
{
    const std::optional<FakeSyncFault> fault = takeFault(request);
    if (!fault) {
        serve(connection, request);
        return;
    }
    const QPointer<QTcpSocket> socket = connection;
    auto act = [this, socket, request, f = *fault] {
        if (!socket || !m_http->isOpen(socket))
            return;
        switch (f.action) {
        case FakeSyncFault::Action::Hang:
            return;
        case FakeSyncFault::Action::Close:
            socket->abort();
            return;
        case FakeSyncFault::Action::Stall:
            socket->write(f.body);
            socket->flush();
            return;
        case FakeSyncFault::Action::Garbage:
            socket->write(f.body.isEmpty() ? QByteArray("THIS IS NOT HTTP AT ALL\r\n\r\n")
                                           : f.body);
            socket->flush();
            socket->disconnectFromHost();
            return;
        case FakeSyncFault::Action::Redirect: {
            Response r;
            r.status = f.status;
            r.headers = {{"Location", f.location.toUtf8()}};
            write(socket, r, request.method == "HEAD");
            return;
        }
        case FakeSyncFault::Action::Respond:
            if (f.status == 0) {
                serve(socket, request);
                return;
            }
            Response r;
            r.status = f.status;
            r.body = f.body;
            r.headers = f.headers;
            r.contentLength = f.contentLength;
            write(socket, r, request.method == "HEAD");
            return;
        }
    };
    if (fault->delayMs > 0)
        QTimer::singleShot(fault->delayMs, socket, act);
    else
        act();
}

void FakeSyncBackend::serve(QTcpSocket *connection, const FakeSyncRequest &request)
{
    bool streaming = false;
    const Response response = route(connection, request, streaming);
    if (!streaming)
        write(connection, response, request.method == "HEAD");
}

void FakeSyncBackend::write(QTcpSocket *connection, const Response &response, bool head)
{
    QList<QPair<QByteArray, QByteArray>> headers = response.headers;
    bool hasType = false;
    for (const auto &h : response.headers)
        hasType = hasType || h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    if (!hasType && !response.body.isEmpty())
        headers.emplaceBack("Content-Type", "application/json");
    headers.emplaceBack("Content-Length",
                        QByteArray::number(response.contentLength.value_or(response.body.size())));
    headers.emplaceBack("Connection", "close");
    QByteArray out = LoopbackHttpServer::head(response.status, headers);
    if (!head)
        out += response.body;
    connection->write(out);
    connection->flush();
    m_http->close(connection);
}

FakeSyncBackend::Folder *
FakeSyncBackend::authorize(const QString &segment, const FakeSyncRequest &request, Response &denied)
{
    bool ok = false;
    const qint64 id = QUrl::fromPercentEncoding(segment.toLatin1()).toLongLong(&ok);
    auto it = m_folders.find(id);
    if (!ok || it == m_folders.end()) {
        denied = {404, json({{QStringLiteral("detail"), QStringLiteral("folder not found")}}), {}};
        return nullptr;
    }
    if (request.header("X-Folder-Token") != it->token.toUtf8()) {
        denied
            = {401, json({{QStringLiteral("detail"), QStringLiteral("invalid folder token")}}), {}};
        return nullptr;
    }
    return &*it;
}

QJsonObject FakeSyncBackend::fileInfoJson(const File &f) const
{
    QJsonObject o {
        {QStringLiteral("id"), QJsonValue(f.id)},
        {QStringLiteral("folder_id"), QJsonValue(f.folderId)},
        {QStringLiteral("filename"), f.filename},
        {QStringLiteral("relative_path"), f.relativePath},
        {QStringLiteral("content_type"), f.contentType},
        {QStringLiteral("size_bytes"), QJsonValue(f.size)},
        {QStringLiteral("sha256"), f.sha256},
        {QStringLiteral("status"), QStringLiteral("active")},
        {QStringLiteral("has_content"), f.hasContent},
        {QStringLiteral("created_at"), now()},
    };
    if (f.sourceDevice)
        o.insert(QStringLiteral("source_device"), *f.sourceDevice);
    return o;
}

FakeSyncBackend::Response FakeSyncBackend::route(QTcpSocket *connection,
                                                 const FakeSyncRequest &request, bool &streaming)
{
    auto error = [](int status, const QString &detail) {
        return Response {status, json({{QStringLiteral("detail"), detail}}), {}};
    };
    auto ok = [](const QJsonObject &o, int status = 200) { return Response {status, json(o), {}}; };
    const QByteArray &m = request.method;
    const QString &p = request.path;
    QRegularExpressionMatch match;
    auto is = [&](const char *method, const char *pattern) {
        if (m != method)
            return false;
        match = QRegularExpression(QString::fromLatin1(pattern)).match(p);
        return match.hasMatch();
    };
    Response denied;

    // Blobs: no token, plain bytes.
    if (is("GET", "^/blob/(.+)$")) {
        const QString key = QUrl::fromPercentEncoding(match.captured(1).toLatin1());
        for (const File &f : std::as_const(m_files)) {
            if (f.s3Key == key && f.hasContent)
                return Response {200, f.bytes, {{"Content-Type", "application/octet-stream"}}};
        }
        return error(404, QStringLiteral("no such blob"));
    }

    // Folders
    if (is("POST", "^/sync/folders$")) {
        const QJsonObject body = request.json();
        if (!body.value(QStringLiteral("name")).isString())
            return error(422, QStringLiteral("name required"));
        std::optional<qint64> owner;
        if (body.contains(QStringLiteral("owner_id"))) {
            if (!jsonfields::exactInteger(body.value(QStringLiteral("owner_id"))))
                return error(422, QStringLiteral("owner_id must be an integer"));
            owner = body.value(QStringLiteral("owner_id")).toInteger();
        }
        Folder f = createFolder(body.value(QStringLiteral("name")).toString(), owner);
        if (body.value(QStringLiteral("source_device_name")).isString()) {
            f.sourceDeviceName = body.value(QStringLiteral("source_device_name")).toString();
            m_folders[f.id] = f;
        }
        QJsonObject o {{QStringLiteral("id"), QJsonValue(f.id)},
                       {QStringLiteral("name"), f.name},
                       {QStringLiteral("status"), QStringLiteral("active")},
                       {QStringLiteral("folder_token"), f.token},
                       {QStringLiteral("created_at"), now()}};
        if (f.sourceDeviceName)
            o.insert(QStringLiteral("source_device_name"), *f.sourceDeviceName);
        if (f.ownerId)
            o.insert(QStringLiteral("owner_id"), QJsonValue(*f.ownerId));
        return ok(o, 201);
    }
    if (is("GET", "^/sync/folders/([^/]+)$") || is("DELETE", "^/sync/folders/([^/]+)$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        if (m == "DELETE") {
            const qint64 id = f->id;
            m_folders.remove(id);
            return ok({{QStringLiteral("status"), QStringLiteral("deleted")},
                       {QStringLiteral("folder_id"), QJsonValue(id)}});
        }
        QJsonArray list;
        for (const File &file : files(f->id))
            list.append(fileInfoJson(file));
        QJsonObject o {{QStringLiteral("id"), QJsonValue(f->id)},
                       {QStringLiteral("name"), f->name},
                       {QStringLiteral("status"), QStringLiteral("active")},
                       {QStringLiteral("created_at"), now()},
                       {QStringLiteral("file_count"), QJsonValue(qint64(list.size()))},
                       {QStringLiteral("files"), list}};
        if (f->sourceDeviceName)
            o.insert(QStringLiteral("source_device_name"), *f->sourceDeviceName);
        return ok(o);
    }

    // Files
    if (is("POST", "^/sync/folders/([^/]+)/files/metadata$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const QJsonObject body = request.json();
        for (const char *key : {"filename", "relative_path", "content_type", "sha256"}) {
            if (!body.value(QLatin1String(key)).isString())
                return error(422, QStringLiteral("%1 required").arg(QLatin1String(key)));
        }
        if (!jsonfields::exactInteger(body.value(QStringLiteral("size_bytes"))))
            return error(422, QStringLiteral("size_bytes required"));
        File file;
        file.id = m_nextFileId++;
        file.folderId = f->id;
        file.filename = body.value(QStringLiteral("filename")).toString();
        file.relativePath = body.value(QStringLiteral("relative_path")).toString();
        file.contentType = body.value(QStringLiteral("content_type")).toString();
        file.size = body.value(QStringLiteral("size_bytes")).toInteger();
        file.sha256 = body.value(QStringLiteral("sha256")).toString();
        file.hasContent = false;
        file.s3Key = QStringLiteral("folders/%1/files/%2").arg(f->id).arg(file.id);
        if (body.value(QStringLiteral("source_device")).isString())
            file.sourceDevice = body.value(QStringLiteral("source_device")).toString();
        m_files.insert(file.id, file);
        emitAuto(logChange(file, QStringLiteral("metadata")), QStringLiteral("change"));
        return ok({{QStringLiteral("id"), QJsonValue(file.id)},
                   {QStringLiteral("folder_id"), QJsonValue(file.folderId)},
                   {QStringLiteral("filename"), file.filename},
                   {QStringLiteral("relative_path"), file.relativePath},
                   {QStringLiteral("has_content"), false},
                   {QStringLiteral("content_type"), file.contentType},
                   {QStringLiteral("size_bytes"), QJsonValue(file.size)},
                   {QStringLiteral("sha256"), file.sha256}},
                  201);
    }
    if (is("POST", "^/sync/folders/([^/]+)/files$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const Multipart part = parseMultipart(request.header("Content-Type"), request.body);
        if (!part.ok)
            return error(422, QStringLiteral("multipart body expected"));
        const QString name = QString::fromUtf8(part.fileName);
        const QString relative = request.queryValue(QStringLiteral("relative_path")).value_or(name);
        File file;
        for (const File &existing : std::as_const(m_files)) {
            if (existing.folderId == f->id && existing.relativePath == relative)
                file = existing;
        }
        if (file.id == 0) {
            file.id = m_nextFileId++;
            file.folderId = f->id;
            file.relativePath = relative;
            file.s3Key = QStringLiteral("folders/%1/files/%2").arg(f->id).arg(file.id);
        }
        file.filename = name;
        file.contentType = QString::fromUtf8(part.contentType);
        file.bytes = part.content;
        file.size = part.content.size();
        file.sha256 = sha256Hex(part.content);
        file.hasContent = true;
        file.sourceDevice = request.queryValue(QStringLiteral("source_device"));
        m_files.insert(file.id, file);
        emitAuto(logChange(file, QStringLiteral("upload")), QStringLiteral("change"));
        return ok({{QStringLiteral("id"), QJsonValue(file.id)},
                   {QStringLiteral("folder_id"), QJsonValue(file.folderId)},
                   {QStringLiteral("filename"), file.filename},
                   {QStringLiteral("relative_path"), file.relativePath},
                   {QStringLiteral("s3_key"), file.s3Key},
                   {QStringLiteral("content_type"), file.contentType},
                   {QStringLiteral("size_bytes"), QJsonValue(file.size)},
                   {QStringLiteral("sha256"), file.sha256}},
                  201);
    }
    if (is("GET", "^/sync/folders/([^/]+)/files$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        QJsonArray list;
        for (const File &file : files(f->id))
            list.append(fileInfoJson(file));
        return ok({{QStringLiteral("files"), list},
                   {QStringLiteral("total"), QJsonValue(qint64(list.size()))}});
    }
    if (is("PUT", "^/sync/folders/([^/]+)/files/(-?\\d+)/content$")
        || is("GET", "^/sync/folders/([^/]+)/files/(-?\\d+)/url$")
        || is("POST", "^/sync/folders/([^/]+)/files/(-?\\d+)/request$")
        || is("DELETE", "^/sync/folders/([^/]+)/files/(-?\\d+)$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const qint64 fileId = match.captured(2).toLongLong();
        auto it = m_files.find(fileId);
        if (it == m_files.end() || it->folderId != f->id)
            return error(404, QStringLiteral("file not found"));
        if (m == "PUT") {
            const Multipart part = parseMultipart(request.header("Content-Type"), request.body);
            if (!part.ok)
                return error(422, QStringLiteral("multipart body expected"));
            it->bytes = part.content;
            it->size = part.content.size();
            it->sha256 = sha256Hex(part.content);
            it->hasContent = true;
            emitAuto(logChange(*it, QStringLiteral("content")), QStringLiteral("file_available"));
            return ok({{QStringLiteral("id"), QJsonValue(it->id)},
                       {QStringLiteral("folder_id"), QJsonValue(it->folderId)},
                       {QStringLiteral("s3_key"), it->s3Key},
                       {QStringLiteral("sha256"), it->sha256},
                       {QStringLiteral("size_bytes"), QJsonValue(it->size)},
                       {QStringLiteral("has_content"), true}});
        }
        if (m == "GET") {
            if (!it->hasContent)
                return error(404, QStringLiteral("no content"));
            return ok({{QStringLiteral("url"), blobURL(it->s3Key)},
                       {QStringLiteral("filename"), it->filename},
                       {QStringLiteral("size_bytes"), QJsonValue(it->size)},
                       {QStringLiteral("content_type"), it->contentType}});
        }
        if (m == "POST") {
            const qint64 requestId = addFileRequest(f->id, fileId);
            emitAuto(m_nextServerId++, QStringLiteral("file_request"));
            return ok({{QStringLiteral("status"), QStringLiteral("pending")},
                       {QStringLiteral("request_id"), QJsonValue(requestId)},
                       {QStringLiteral("file_id"), QJsonValue(fileId)}},
                      201);
        }
        const File removed = *it;
        m_files.erase(it);
        emitAuto(logChange(removed, QStringLiteral("delete")), QStringLiteral("change"));
        return ok({{QStringLiteral("status"), QStringLiteral("deleted")},
                   {QStringLiteral("file_id"), QJsonValue(fileId)}});
    }

    // Changes
    if (is("GET", "^/sync/folders/([^/]+)/changes$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const qint64 since = request.queryValue(QStringLiteral("since"))
                                 .value_or(QStringLiteral("0"))
                                 .toLongLong();
        const qint64 limit = request.queryValue(QStringLiteral("limit"))
                                 .value_or(QStringLiteral("100"))
                                 .toLongLong();
        QJsonArray page;
        qint64 latest = since;
        bool more = false;
        for (const QJsonObject &change : std::as_const(m_changes)) {
            if (change.value(QStringLiteral("folder_id")).toInteger() != f->id)
                continue;
            const qint64 id = change.value(QStringLiteral("server_id")).toInteger();
            if (id <= since)
                continue;
            if (page.size() >= limit) {
                more = true;
                break;
            }
            QJsonObject row = change;
            row.remove(QStringLiteral("folder_id"));
            page.append(row);
            latest = id;
        }
        return ok({{QStringLiteral("changes"), page},
                   {QStringLiteral("latest_server_id"), QJsonValue(latest)},
                   {QStringLiteral("has_more"), more}});
    }

    // Structure
    if (is("PUT", "^/sync/folders/([^/]+)/structure$")
        || is("GET", "^/sync/folders/([^/]+)/structure$")
        || is("HEAD", "^/sync/folders/([^/]+)/structure$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        if (m == "PUT") {
            const QJsonValue files = request.json().value(QStringLiteral("files"));
            if (!files.isArray())
                return error(422, QStringLiteral("files required"));
            for (const QJsonValue &v : files.toArray()) {
                const QJsonObject e = v.toObject();
                if (!e.value(QStringLiteral("relative_path")).isString()
                    || !jsonfields::exactInteger(e.value(QStringLiteral("size_bytes")))
                    || !e.value(QStringLiteral("content_type")).isString())
                    return error(422, QStringLiteral("malformed entry"));
            }
            m_structures.insert(f->id, files.toArray());
            emitAuto(m_nextServerId++, QStringLiteral("structure_changed"));
            return ok({{QStringLiteral("structure_hash"), structureHash(f->id)},
                       {QStringLiteral("file_count"), QJsonValue(qint64(files.toArray().size()))}});
        }
        if (m == "HEAD") {
            Response r {200, {}, {}};
            const QByteArray hash = structureHash(f->id).toUtf8();
            switch (m_etagStyle) {
            case ETagStyle::Quoted:
                r.headers.emplaceBack("ETag", '"' + hash + '"');
                break;
            case ETagStyle::Weak:
                r.headers.emplaceBack("ETag", "W/\"" + hash + '"');
                break;
            case ETagStyle::Bare:
                r.headers.emplaceBack("ETag", hash);
                break;
            case ETagStyle::Missing:
                break;
            }
            return r;
        }
        const QJsonArray merged = mergedStructure(f->id);
        return ok({{QStringLiteral("files"), merged},
                   {QStringLiteral("structure_hash"), structureHash(f->id)},
                   {QStringLiteral("file_count"), QJsonValue(qint64(merged.size()))},
                   {QStringLiteral("updated_at"), now()}});
    }
    if (is("POST", "^/sync/folders/([^/]+)/resolve-file$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const QJsonValue path = request.json().value(QStringLiteral("relative_path"));
        if (!path.isString())
            return error(422, QStringLiteral("relative_path required"));
        for (const File &file : std::as_const(m_files)) {
            if (file.folderId == f->id && file.relativePath == path.toString())
                return ok({{QStringLiteral("file_id"), QJsonValue(file.id)},
                           {QStringLiteral("has_content"), file.hasContent},
                           {QStringLiteral("status"), QStringLiteral("found")}});
        }
        return error(404, QStringLiteral("no file at that path"));
    }

    // File requests
    if (is("GET", "^/sync/folders/([^/]+)/file-requests$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const std::optional<QString> status = request.queryValue(QStringLiteral("status"));
        QJsonArray list;
        for (const FileRequest &r : fileRequests(f->id)) {
            if (status && r.status != *status)
                continue;
            list.append(
                QJsonObject {{QStringLiteral("id"), QJsonValue(r.id)},
                             {QStringLiteral("file_id"), QJsonValue(r.fileId)},
                             {QStringLiteral("status"), r.status},
                             {QStringLiteral("requested_by"), QStringLiteral("other-device")},
                             {QStringLiteral("created_at"), now()}});
        }
        return ok({{QStringLiteral("requests"), list},
                   {QStringLiteral("total"), QJsonValue(qint64(list.size()))}});
    }
    if (is("PUT", "^/sync/folders/([^/]+)/file-requests/(\\d+)$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        auto it = m_fileRequests.find(match.captured(2).toLongLong());
        if (it == m_fileRequests.end() || it->folderId != f->id)
            return error(404, QStringLiteral("request not found"));
        const QJsonValue status = request.json().value(QStringLiteral("status"));
        if (!status.isString())
            return error(422, QStringLiteral("status required"));
        it->status = status.toString();
        return ok({{QStringLiteral("status"), it->status},
                   {QStringLiteral("request_id"), QJsonValue(it->id)}});
    }

    // Devices
    if (is("GET", "^/sync/folders/([^/]+)/devices$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        QJsonArray list;
        for (const Device &d : devices(f->id))
            list.append(QJsonObject {{QStringLiteral("id"), QJsonValue(d.id)},
                                     {QStringLiteral("folder_id"), QJsonValue(d.folderId)},
                                     {QStringLiteral("device_name"), d.name},
                                     {QStringLiteral("device_type"), d.type},
                                     {QStringLiteral("paired_at"), now()}});
        return ok({{QStringLiteral("devices"), list}});
    }
    if (is("DELETE", "^/sync/folders/([^/]+)/devices/(\\d+)$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        const qint64 id = match.captured(2).toLongLong();
        if (!m_devices.contains(id) || m_devices.value(id).folderId != f->id)
            return error(404, QStringLiteral("device not found"));
        m_devices.remove(id);
        return ok({{QStringLiteral("status"), QStringLiteral("revoked")},
                   {QStringLiteral("device_id"), QJsonValue(id)}});
    }
    if (is("GET", "^/sync/devices/(\\d+)/status$")) {
        const qint64 id = match.captured(1).toLongLong();
        if (!m_devices.contains(id))
            return error(404, QStringLiteral("device not found"));
        return ok({{QStringLiteral("status"), QStringLiteral("active")},
                   {QStringLiteral("device_id"), QJsonValue(id)}});
    }

    // Pairing
    if (is("POST", "^/sync/pair/request$")) {
        const QJsonObject body = request.json();
        PairSession s;
        s.code = QString::number(100000000 + QRandomGenerator::global()->bounded(900000000));
        // Characters that a careless query encoding would corrupt.
        s.secret = QStringLiteral("ps+")
            + QString::number(QRandomGenerator::global()->generate64(), 16) + QStringLiteral("/x=");
        s.expiresIn = m_pairExpiresIn;
        if (body.value(QStringLiteral("device_name")).isString())
            s.deviceName = body.value(QStringLiteral("device_name")).toString();
        if (body.value(QStringLiteral("device_type")).isString())
            s.deviceType = body.value(QStringLiteral("device_type")).toString();
        m_pairSessions.append(s);
        return ok({{QStringLiteral("code"), s.code},
                   {QStringLiteral("poll_secret"), s.secret},
                   {QStringLiteral("expires_in"), QJsonValue(s.expiresIn)}},
                  201);
    }
    if (is("POST", "^/sync/pair/confirm$")) {
        const QJsonObject body = request.json();
        if (!body.value(QStringLiteral("code")).isString()
            || !body.value(QStringLiteral("folder_id")).isString()
            || !body.value(QStringLiteral("folder_token")).isString())
            return error(422, QStringLiteral("code, folder_id (string) and folder_token required"));
        bool idOk = false;
        const qint64 folderId
            = body.value(QStringLiteral("folder_id")).toString().toLongLong(&idOk);
        const auto folderIt = m_folders.constFind(folderId);
        if (!idOk || folderIt == m_folders.constEnd()
            || folderIt->token != body.value(QStringLiteral("folder_token")).toString())
            return error(401, QStringLiteral("invalid folder credentials"));
        if (!confirmPairingCode(body.value(QStringLiteral("code")).toString(), folderId))
            return error(404, QStringLiteral("unknown code"));
        return ok({{QStringLiteral("status"), QStringLiteral("confirmed")}});
    }
    if (is("GET", "^/sync/pair/status$")) {
        const QString secret = request.queryValue(QStringLiteral("secret")).value_or(QString());
        for (const PairSession &s : std::as_const(m_pairSessions)) {
            if (s.secret != secret || s.expired)
                continue;
            if (!s.folderId)
                return ok({{QStringLiteral("status"), QStringLiteral("pending")}});
            const Folder f = m_folders.value(*s.folderId);
            QJsonObject o {
                {QStringLiteral("status"), QStringLiteral("confirmed")},
                {QStringLiteral("folder_id"), QString::number(f.id)},
                {QStringLiteral("folder_token"), f.token},
                // A server must not be able to steer the client elsewhere.
                {QStringLiteral("backend_url"), QStringLiteral("https://elsewhere.invalid")},
                {QStringLiteral("device_id"), QJsonValue(s.deviceId.value_or(0))}};
            if (f.ownerId)
                o.insert(QStringLiteral("owner_id"), QJsonValue(*f.ownerId));
            return ok(o);
        }
        return error(404, QStringLiteral("unknown or expired"));
    }

    // Event stream
    if (is("GET", "^/sync/folders/([^/]+)/events$")) {
        Folder *f = authorize(match.captured(1), request, denied);
        if (!f)
            return denied;
        ++m_totalStreams;
        m_streamLastEventIds.append(request.hasHeader("Last-Event-ID")
                                        ? std::optional<QByteArray>(request.header("Last-Event-ID"))
                                        : std::nullopt);
        if (m_sseStatus != 0)
            return error(m_sseStatus, QStringLiteral("stream refused"));
        streaming = true;
        connection->write(
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
            "Transfer-Encoding: chunked\r\n\r\n");
        connection->flush();
        m_streams.append(Stream {connection, match.captured(1), m_streamLastEventIds.last(),
                                 request.connectionId});
        emit streamOpened();
        return {};
    }

    return error(404, QStringLiteral("no such route"));
}
