#include "core/sync/FileSyncClient.h"

#include "core/sync/DownloadInstaller.h"
#include "core/sync/MultipartUpload.h"
#include "core/sync/SyncError.h"
#include "core/sync/SyncEventStream.h"
#include "core/sync/SyncFailure.h"

#include "platform/BackgroundPool.h"
#include "platform/L10n.h"
#include "platform/SignalWait.h"
#include "platform/Urls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSet>

Q_LOGGING_CATEGORY(lcSync, "velto.sync")

namespace {

struct DeleteLater
{
    void operator()(QObject *o) const
    {
        if (o)
            o->deleteLater();
    }
};

// A reply the request's coroutine holds while it waits. The network manager is its parent and
// takes it along when it goes first, so it is held weakly: the coroutine, resumed by that, finds it
// gone instead of reading freed memory.
class OwnedReply
{
public:
    explicit OwnedReply(QNetworkReply *reply)
        : m_reply(reply)
    {
    }
    ~OwnedReply()
    {
        if (m_reply)
            m_reply->deleteLater();
    }
    OwnedReply(const OwnedReply &) = delete;
    OwnedReply &operator=(const OwnedReply &) = delete;

    QNetworkReply *get() const { return m_reply.data(); }

    // Waits until the reply finished; false when the manager took it away before that.
    QCoro::Task<bool> finished() const
    {
        while (m_reply && !m_reply->isFinished())
            co_await SignalWait(m_reply.data(), &QNetworkReply::finished);
        co_return !m_reply.isNull();
    }

private:
    QPointer<QNetworkReply> m_reply;
};

// An http or https address with a host: what a backend base URL and a download URL must be.
bool isUsableBase(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// Plain http to another machine would expose the folder token on the way. It still works (the
// backend may sit behind a local proxy), but say so once per host.
void warnIfCleartext(const QUrl &url)
{
    if (url.scheme().toLower() != u"http")
        return;
    const QString host = url.host();
    const QHostAddress address(host);
    if (host == u"localhost" || (!address.isNull() && address.isLoopback()))
        return;
    static QSet<QString> warned;
    if (warned.contains(host))
        return;
    warned.insert(host);
    qCWarning(lcSync) << "sync backend reached over plain http:" << host;
}

// Errors of the connection itself, as opposed to an HTTP answer that Qt also reports as an
// error (4xx/5xx, a refused redirect).
bool isTransportError(QNetworkReply::NetworkError e)
{
    return e > QNetworkReply::NoError && e < QNetworkReply::ProxyConnectionRefusedError
        && e != QNetworkReply::TooManyRedirectsError && e != QNetworkReply::InsecureRedirectError;
}

bool isProtocolError(QNetworkReply::NetworkError e)
{
    return e >= QNetworkReply::ProtocolUnknownError && e <= QNetworkReply::ProtocolFailure;
}

QString mib(qint64 bytes)
{
    return QString::number(bytes / (1024 * 1024));
}

QNetworkReply *dispatch(QNetworkAccessManager *nam, const SyncHttpRequest &r,
                        const std::optional<QByteArray> &body)
{
    const QByteArray &m = r.method;
    if (m == "GET")
        return nam->get(r.request);
    if (m == "HEAD")
        return nam->head(r.request);
    if (m == "DELETE" && !body)
        return nam->deleteResource(r.request);
    if (m == "POST")
        return nam->post(r.request, body.value_or(QByteArray()));
    if (m == "PUT")
        return nam->put(r.request, body.value_or(QByteArray()));
    if (body)
        return nam->sendCustomRequest(r.request, m, *body);
    return nam->sendCustomRequest(r.request, m);
}

// Fails the reply as soon as its head announces more than the cap, instead of waiting for a body
// that would be refused anyway (or for the transfer timeout, when none comes).
void refuseAnnouncedOverCap(QNetworkReply *reply, QObject *context, qint64 cap, bool &overLimit)
{
    QObject::connect(reply, &QNetworkReply::metaDataChanged, context, [reply, cap, &overLimit] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!overLimit && length.isValid() && length.toLongLong() > cap) {
            overLimit = true;
            reply->abort();
        }
    });
}

// A header value with a line break or another control character would end the head early or add
// fields of its own on the wire: such a request is not sent.
void refuseControlCharactersInHeaders(const QNetworkRequest &request)
{
    for (const QByteArray &name : request.rawHeaderList()) {
        for (const char c : request.rawHeader(name)) {
            const uchar u = uchar(c);
            if ((u < 0x20 && u != '\t') || u == 0x7F)
                throw SyncFailure::localLimit(L10n::format(QStringLiteral("sync.error.headerValue"),
                                                           {QString::fromLatin1(name)}));
        }
    }
}

struct DownloadAttempt
{
    bool isHTTP = false;
    int status = 0;
};

} // namespace

QUrl defaultSyncBackendURL()
{
    static const QUrl url(QStringLiteral(VELTO_SYNC_BACKEND_URL), QUrl::StrictMode);
    return url;
}

std::optional<QByteArray> SyncHttpResponse::header(const QByteArray &name) const
{
    for (const auto &pair : headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return std::nullopt;
}

FileSyncClient::FileSyncClient(const QString &baseURL, QNetworkAccessManager *nam,
                               SyncTiming timing, SyncLimits limits)
    : FileSyncClient(QUrl(baseURL, QUrl::StrictMode), nam, std::move(timing), limits)
{
}

FileSyncClient::FileSyncClient(const QUrl &baseURL, QNetworkAccessManager *nam, SyncTiming timing,
                               SyncLimits limits)
    : m_baseURL(isUsableBase(baseURL) ? baseURL : defaultSyncBackendURL())
    , m_ownNam(nam ? nullptr : std::make_shared<QNetworkAccessManager>())
    , m_nam(nam ? nam : m_ownNam.get())
    , m_timing(std::move(timing))
    , m_limits(limits)
{
    warnIfCleartext(m_baseURL);
}

FileSyncClient FileSyncClient::withCancellation(CancelToken cancel) const
{
    FileSyncClient copy = *this;
    copy.m_cancel = std::move(cancel);
    return copy;
}

SyncHttpRequest FileSyncClient::makeRequest(const QString &path, const QByteArray &method) const
{
    QString base = m_baseURL.toString(QUrl::FullyEncoded);
    qsizetype begin = 0;
    qsizetype end = base.size();
    while (begin < end && base.at(begin) == u'/')
        ++begin;
    while (end > begin && base.at(end - 1) == u'/')
        --end;
    const QUrl url(base.mid(begin, end - begin) + path, QUrl::StrictMode);
    if (!isUsableBase(url))
        throw SyncFailure(FileSyncError(FileSyncError::Case::invalidResponse));
    SyncHttpRequest r;
    r.request = QNetworkRequest(url);
    r.request.setTransferTimeout(Clock::intervalMs(m_timing.requestTimeout));
    r.method = method;
    return r;
}

void FileSyncClient::setFolderToken(QNetworkRequest &request, const QString &token)
{
    request.setRawHeader("X-Folder-Token", token.toUtf8());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
}

QCoro::Task<SyncHttpResponse> FileSyncClient::send(SyncHttpRequest request,
                                                   std::optional<QByteArray> body) const
{
    const FileSyncClient self = *this;
    if (self.m_cancel.isCancelled())
        throw SyncFailure::cancelled();
    refuseControlCharactersInHeaders(request.request);

    const OwnedReply reply(dispatch(self.m_nam, request, body));
    // Ends the handlers below with this frame (they refer to its locals).
    QObject context;
    bool cancelled = false;
    bool overLimit = false;
    const qint64 cap = self.m_limits.maxResponseBytes;
    QNetworkReply *r = reply.get();
    refuseAnnouncedOverCap(r, &context, cap, overLimit);
    QObject::connect(r, &QNetworkReply::downloadProgress, &context,
                     [&, r](qint64 received, qint64 total) {
                         if (!overLimit && (received > cap || total > cap)) {
                             overLimit = true;
                             r->abort();
                         }
                     });
    self.m_cancel.onCancel(&context, [&] {
        cancelled = true;
        if (QNetworkReply *live = reply.get())
            live->abort();
    });
    // Without its manager the request ends unanswered, as when it is cancelled.
    if (!co_await reply.finished())
        throw SyncFailure::cancelled();

    const QNetworkReply::NetworkError error = r->error();
    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (cancelled || self.m_cancel.isCancelled())
        throw SyncFailure::cancelled();
    if (overLimit)
        throw SyncFailure::localLimit(
            L10n::format(QStringLiteral("sync.error.limit.response"), {mib(cap)}));
    if (error == QNetworkReply::OperationCanceledError)
        throw SyncFailure::timeout();

    SyncHttpResponse response;
    if (status.isValid() && !isTransportError(error)) {
        response.isHTTP = true;
        response.statusCode = status.toInt();
        response.headers = r->rawHeaderPairs();
        response.body = r->readAll();
        co_return response;
    }
    if (error != QNetworkReply::NoError && !(isProtocolError(error) && !status.isValid()))
        throw SyncFailure::transport(error, r->errorString());
    co_return response; // not HTTP
}

void FileSyncClient::validate(const SyncHttpResponse &response)
{
    if (!response.isHTTP)
        throw SyncFailure(FileSyncError(FileSyncError::Case::invalidResponse));
    if (const auto error = FileSyncError::forStatus(response.statusCode))
        throw SyncFailure(*error);
}

SyncHttpRequest FileSyncClient::folderRequest(const QString &folderId, const QString &folderToken,
                                              const QString &rest, const QByteArray &method) const
{
    SyncHttpRequest r = makeRequest(
        QStringLiteral("/sync/folders/") + urls::encodePathSegment(folderId) + rest, method);
    setFolderToken(r.request, folderToken);
    return r;
}

template<class T>
QCoro::Task<T> FileSyncClient::fetch(SyncHttpRequest request, std::optional<QByteArray> body,
                                     bool json) const
{
    const FileSyncClient self = *this;
    if (json)
        request.request.setRawHeader("Content-Type", "application/json");
    const SyncHttpResponse response = co_await self.send(std::move(request), std::move(body));
    validate(response);
    co_return decodeJson<T>(response.body);
}

// Folders

QCoro::Task<CreateFolderResponse>
FileSyncClient::createFolder(QString name, std::optional<qint64> ownerId,
                             std::optional<QString> sourceDeviceName) const
{
    QJsonObject body {{QStringLiteral("name"), name}};
    if (ownerId)
        body.insert(QStringLiteral("owner_id"), QJsonValue(*ownerId));
    if (sourceDeviceName)
        body.insert(QStringLiteral("source_device_name"), *sourceDeviceName);
    return fetch<CreateFolderResponse>(makeRequest(QStringLiteral("/sync/folders"), "POST"),
                                       QJsonDocument(body).toJson(QJsonDocument::Compact), true);
}

QCoro::Task<FolderDetailResponse> FileSyncClient::getFolder(QString folderId,
                                                            QString folderToken) const
{
    return fetch<FolderDetailResponse>(folderRequest(folderId, folderToken, {}, "GET"));
}

QCoro::Task<DeleteFolderResponse> FileSyncClient::deleteFolder(QString folderId,
                                                               QString folderToken) const
{
    return fetch<DeleteFolderResponse>(folderRequest(folderId, folderToken, {}, "DELETE"));
}

// Files

QCoro::Task<SyncHttpResponse> FileSyncClient::sendMultipart(SyncHttpRequest request,
                                                            QString filePath) const
{
    const FileSyncClient self = *this;
    const qint64 cap = self.m_limits.maxUploadBytes;
    const QString tooLarge = L10n::format(QStringLiteral("sync.error.limit.upload"), {mib(cap)});
    const QFileInfo info(filePath);
    if (info.exists() && info.size() > cap)
        throw SyncFailure::localLimit(tooLarge);

    // Reading a large file would stall the event loop; it happens on a worker thread.
    const MultipartUpload::FileContent read
        = co_await background::run(&MultipartUpload::readFile, filePath, cap);
    if (self.m_cancel.isCancelled())
        throw SyncFailure::cancelled();
    if (read.tooLarge)
        throw SyncFailure::localLimit(tooLarge);
    if (!read.error.isNull())
        throw SyncFailure::file(SyncFailure::FileOperation::read, filePath, read.error);

    const QByteArray boundary = MultipartUpload::newBoundary();
    request.request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    const QString fileName = info.fileName();
    QByteArray body = MultipartUpload::body(boundary, fileName,
                                            MultipartUpload::mimeType(info.suffix()), read.bytes);
    co_return co_await self.send(std::move(request), std::move(body));
}

QCoro::Task<FileUploadResponse>
FileSyncClient::uploadFile(QString folderId, QString folderToken, QString filePath,
                           std::optional<QString> relativePath,
                           std::optional<QString> sourceDevice) const
{
    const FileSyncClient self = *this;
    QStringList items;
    if (relativePath)
        items << QStringLiteral("relative_path=") + urls::encodeQueryValue(*relativePath);
    if (sourceDevice)
        items << QStringLiteral("source_device=") + urls::encodeQueryValue(*sourceDevice);
    QString rest = QStringLiteral("/files");
    if (!items.isEmpty())
        rest += u'?' + items.join(u'&');
    SyncHttpRequest request = self.folderRequest(folderId, folderToken, rest, "POST");
    const SyncHttpResponse response = co_await self.sendMultipart(std::move(request), filePath);
    validate(response);
    co_return decodeJson<FileUploadResponse>(response.body);
}

QCoro::Task<ContentUploadResponse> FileSyncClient::uploadContent(QString folderId,
                                                                 QString folderToken, qint64 fileId,
                                                                 QString filePath) const
{
    const FileSyncClient self = *this;
    SyncHttpRequest request = self.folderRequest(
        folderId, folderToken, QStringLiteral("/files/%1/content").arg(fileId), "PUT");
    const SyncHttpResponse response = co_await self.sendMultipart(std::move(request), filePath);
    validate(response);
    co_return decodeJson<ContentUploadResponse>(response.body);
}

QCoro::Task<FileListResponse> FileSyncClient::listFiles(QString folderId, QString folderToken) const
{
    return fetch<FileListResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/files"), "GET"));
}

QCoro::Task<DownloadURLResponse> FileSyncClient::downloadURL(QString folderId, QString folderToken,
                                                             qint64 fileId) const
{
    return fetch<DownloadURLResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/files/%1/url").arg(fileId), "GET"));
}

QCoro::Task<DeleteFileResponse> FileSyncClient::deleteFile(QString folderId, QString folderToken,
                                                           qint64 fileId) const
{
    return fetch<DeleteFileResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/files/%1").arg(fileId), "DELETE"));
}

// Changes and structure

QCoro::Task<ChangesResponse> FileSyncClient::changes(QString folderId, QString folderToken,
                                                     qint64 since, qint64 limit) const
{
    return fetch<ChangesResponse>(
        folderRequest(folderId, folderToken,
                      QStringLiteral("/changes?since=%1&limit=%2").arg(since).arg(limit), "GET"));
}

QCoro::Task<StructureUploadResponse>
FileSyncClient::uploadStructure(QString folderId, QString folderToken,
                                QList<StructureFileEntry> entries) const
{
    QJsonArray files;
    for (const StructureFileEntry &entry : entries)
        files.append(toJsonObject(entry));
    const QByteArray body = QJsonDocument(QJsonObject {{QStringLiteral("files"), files}})
                                .toJson(QJsonDocument::Compact);
    return fetch<StructureUploadResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/structure"), "PUT"), body, true);
}

QCoro::Task<StructureResponse> FileSyncClient::getStructure(QString folderId,
                                                            QString folderToken) const
{
    return fetch<StructureResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/structure"), "GET"));
}

QCoro::Task<QString> FileSyncClient::structureETag(QString folderId, QString folderToken) const
{
    const FileSyncClient self = *this;
    const SyncHttpResponse response = co_await self.send(
        self.folderRequest(folderId, folderToken, QStringLiteral("/structure"), "HEAD"));
    if (!response.isHTTP)
        throw SyncFailure(FileSyncError(FileSyncError::Case::invalidResponse));
    switch (response.statusCode) {
    case 401:
        throw SyncFailure(FileSyncError(FileSyncError::Case::unauthorized));
    case 403:
        throw SyncFailure(FileSyncError(FileSyncError::Case::forbidden));
    case 404:
        throw SyncFailure(FileSyncError(FileSyncError::Case::notFound));
    case 410:
        throw SyncFailure(FileSyncError(FileSyncError::Case::gone));
    default:
        break;
    }
    QString tag = QString::fromUtf8(response.header("ETag").value_or(QByteArray()));
    qsizetype begin = 0;
    qsizetype end = tag.size();
    while (begin < end && tag.at(begin) == u'"')
        ++begin;
    while (end > begin && tag.at(end - 1) == u'"')
        --end;
    co_return tag.mid(begin, end - begin);
}

QCoro::Task<ResolveFileResponse> FileSyncClient::resolveFile(QString folderId, QString folderToken,
                                                             QString relativePath) const
{
    const QByteArray body
        = QJsonDocument(QJsonObject {{QStringLiteral("relative_path"), relativePath}})
              .toJson(QJsonDocument::Compact);
    return fetch<ResolveFileResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/resolve-file"), "POST"), body, true);
}

// File requests

QCoro::Task<FileRequestResponse> FileSyncClient::requestFile(QString folderId, QString folderToken,
                                                             qint64 fileId) const
{
    // No body and no content type.
    return fetch<FileRequestResponse>(folderRequest(
        folderId, folderToken, QStringLiteral("/files/%1/request").arg(fileId), "POST"));
}

QCoro::Task<PendingFileRequestListResponse>
FileSyncClient::pendingFileRequests(QString folderId, QString folderToken) const
{
    return fetch<PendingFileRequestListResponse>(folderRequest(
        folderId, folderToken, QStringLiteral("/file-requests?status=pending"), "GET"));
}

QCoro::Task<UpdateFileRequestResponse> FileSyncClient::updateFileRequest(QString folderId,
                                                                         QString folderToken,
                                                                         qint64 requestId,
                                                                         QString status) const
{
    return fetch<UpdateFileRequestResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/file-requests/%1").arg(requestId),
                      "PUT"),
        encodeJson(UpdateFileRequestRequest {status}), true);
}

QCoro::Task<MetadataUploadResponse>
FileSyncClient::uploadMetadata(QString folderId, QString folderToken,
                               MetadataUploadRequest metadata) const
{
    return fetch<MetadataUploadResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/files/metadata"), "POST"),
        encodeJson(metadata), true);
}

// Pairing and devices

QCoro::Task<PairRequestResponse>
FileSyncClient::requestPairing(std::optional<QString> deviceName,
                               std::optional<QString> deviceType) const
{
    SyncHttpRequest request = makeRequest(QStringLiteral("/sync/pair/request"), "POST");
    if (!deviceName && !deviceType)
        return fetch<PairRequestResponse>(std::move(request));
    QJsonObject body;
    if (deviceName)
        body.insert(QStringLiteral("device_name"), *deviceName);
    if (deviceType)
        body.insert(QStringLiteral("device_type"), *deviceType);
    return fetch<PairRequestResponse>(std::move(request),
                                      QJsonDocument(body).toJson(QJsonDocument::Compact), true);
}

QCoro::Task<PairConfirmResponse> FileSyncClient::confirmPairing(QString code, QString folderId,
                                                                QString folderToken) const
{
    SyncHttpRequest request = makeRequest(QStringLiteral("/sync/pair/confirm"), "POST");
    // The body carries the folder token: it must not be re-sent to another origin either.
    request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::SameOriginRedirectPolicy);
    return fetch<PairConfirmResponse>(
        std::move(request), encodeJson(PairConfirmRequest(code, folderId, folderToken)), true);
}

QCoro::Task<PairStatusResponse> FileSyncClient::pairingStatus(QString pollSecret) const
{
    return fetch<PairStatusResponse>(makeRequest(
        QStringLiteral("/sync/pair/status?secret=") + urls::encodeQueryValue(pollSecret), "GET"));
}

QCoro::Task<PairedDeviceListResponse> FileSyncClient::listDevices(QString folderId,
                                                                  QString folderToken) const
{
    return fetch<PairedDeviceListResponse>(
        folderRequest(folderId, folderToken, QStringLiteral("/devices"), "GET"));
}

QCoro::Task<> FileSyncClient::revokeDevice(QString folderId, QString folderToken,
                                           qint64 deviceId) const
{
    const FileSyncClient self = *this;
    const SyncHttpResponse response = co_await self.send(self.folderRequest(
        folderId, folderToken, QStringLiteral("/devices/%1").arg(deviceId), "DELETE"));
    validate(response);
}

QCoro::Task<DeviceStatusResponse> FileSyncClient::deviceStatus(qint64 deviceId,
                                                               std::optional<qint64> ownerId) const
{
    QString path = QStringLiteral("/sync/devices/%1/status").arg(deviceId);
    if (ownerId)
        path += QStringLiteral("?owner_id=%1").arg(*ownerId);
    return fetch<DeviceStatusResponse>(makeRequest(path, "GET"));
}

// Event stream

namespace {

QCoro::AsyncGenerator<SSEChangeNotification> runEventStream(FileSyncClient client, QString folderId,
                                                            QString folderToken,
                                                            std::optional<QString> lastEventId)
{
    const CancelToken cancel = client.cancelToken();
    if (cancel.isCancelled())
        co_return;
    SyncHttpRequest r
        = client.makeRequest(QStringLiteral("/sync/folders/") + urls::encodePathSegment(folderId)
                                 + QStringLiteral("/events"),
                             "GET");
    FileSyncClient::setFolderToken(r.request, folderToken);
    r.request.setRawHeader("Accept", "text/event-stream");
    if (lastEventId)
        r.request.setRawHeader("Last-Event-ID", lastEventId->toUtf8());
    refuseControlCharactersInHeaders(r.request);

    std::unique_ptr<SyncEventStream, DeleteLater> stream(
        new SyncEventStream(r.request, folderId, client.timing(), client.limits()));
    SyncEventStream *s = stream.get();
    cancel.onCancel(s, [s] { s->cancel(); });
    s->start();
    for (;;) {
        if (cancel.isCancelled())
            co_return;
        std::optional<SSEChangeNotification> notification = co_await s->notifications().next();
        if (cancel.isCancelled())
            co_return;
        if (!notification) {
            if (s->failure())
                throw *s->failure();
            co_return;
        }
        co_yield *notification;
    }
}

} // namespace

QCoro::AsyncGenerator<SSEChangeNotification>
FileSyncClient::events(QString folderId, QString folderToken,
                       std::optional<QString> lastEventId) const
{
    return runEventStream(*this, std::move(folderId), std::move(folderToken),
                          std::move(lastEventId));
}
namespace {

QCoro::Task<DownloadAttempt> downloadOnce(FileSyncClient client, QUrl source, QString temporary)
{
    const CancelToken cancel = client.cancelToken();
    const qint64 cap = client.limits().maxDownloadBytes;
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw SyncFailure::file(SyncFailure::FileOperation::write, temporary, file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QNetworkRequest request(source);
    request.setTransferTimeout(Clock::intervalMs(client.timing().requestTimeout));
    const OwnedReply reply(client.session()->get(request));
    QNetworkReply *r = reply.get();
    // Ends the handlers below with this frame (they refer to its locals).
    QObject context;
    bool cancelled = false;
    bool overLimit = false;
    bool writeFailed = false;
    qint64 written = 0;
    // Runs on the reply's signals, and once more below while it is known to exist.
    auto drain = [&] {
        if (!r->isOpen())
            return;
        const QByteArray chunk = r->readAll();
        if (overLimit || writeFailed || chunk.isEmpty())
            return;
        if (written + chunk.size() > cap) {
            overLimit = true;
            r->abort();
            return;
        }
        if (file.write(chunk) != chunk.size()) {
            writeFailed = true;
            r->abort();
            return;
        }
        written += chunk.size();
    };
    refuseAnnouncedOverCap(r, &context, cap, overLimit);
    QObject::connect(r, &QNetworkReply::readyRead, &context, drain);
    cancel.onCancel(&context, [&] {
        cancelled = true;
        if (QNetworkReply *live = reply.get())
            live->abort();
    });
    if (!co_await reply.finished())
        throw SyncFailure::cancelled();
    drain();
    file.close();

    const QNetworkReply::NetworkError error = r->error();
    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (cancelled || cancel.isCancelled())
        throw SyncFailure::cancelled();
    if (overLimit)
        throw SyncFailure::localLimit(
            L10n::format(QStringLiteral("sync.error.limit.download"), {mib(cap)}));
    if (writeFailed)
        throw SyncFailure::file(SyncFailure::FileOperation::write, temporary, file.errorString());
    if (error == QNetworkReply::OperationCanceledError)
        throw SyncFailure::timeout();
    // A body that ends before (or runs past) the length the head announced is not the file: the
    // connection broke or the answer is garbled, whatever the status says.
    const QVariant announced = r->header(QNetworkRequest::ContentLengthHeader);
    const bool success = status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
    if (success && announced.isValid() && announced.toLongLong() != written)
        throw SyncFailure(FileSyncError(FileSyncError::Case::invalidResponse));
    if (status.isValid() && !isTransportError(error))
        co_return DownloadAttempt {true, status.toInt()};
    if (error != QNetworkReply::NoError && !(isProtocolError(error) && !status.isValid()))
        throw SyncFailure::transport(error, r->errorString());
    co_return DownloadAttempt {false, 0};
}

} // namespace

QCoro::Task<> FileSyncClient::downloadFile(QUrl source, QString destinationPath, int retries,
                                           std::chrono::milliseconds delay) const
{
    const FileSyncClient self = *this;
    // Qt would also read file:, data: or qrc: addresses, whose content could then be uploaded.
    if (!isUsableBase(source))
        throw SyncFailure(SyncError::invalidURL());
    if (DownloadInstaller::privateFolder().isEmpty())
        throw SyncFailure::file(SyncFailure::FileOperation::createFolder, QDir::tempPath(),
                                L10n::text(QStringLiteral("sync.error.noPrivateFolder")));
    retries = std::max(0, retries);

    int lastStatus = 0;
    for (int attempt = 0; attempt <= retries; ++attempt) {
        if (attempt > 0 && !co_await self.m_timing.effectiveClock().sleep(delay, self.m_cancel))
            throw SyncFailure::cancelled();
        const QString temporary = DownloadInstaller::newTemporaryPath();
        DownloadAttempt result;
        try {
            result = co_await downloadOnce(self, source, temporary);
        } catch (...) {
            QFile::remove(temporary);
            throw;
        }
        if (!result.isHTTP) {
            QFile::remove(temporary);
            throw SyncFailure(FileSyncError(FileSyncError::Case::invalidResponse));
        }
        if (result.status >= 200 && result.status <= 299) {
            try {
                DownloadInstaller::install(temporary, destinationPath);
            } catch (...) {
                QFile::remove(temporary);
                throw;
            }
            co_return;
        }
        QFile::remove(temporary);
        lastStatus = result.status;
    }
    throw SyncFailure(FileSyncError::downloadFailed(lastStatus));
}
