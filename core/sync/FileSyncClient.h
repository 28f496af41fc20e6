#pragma once

#include "core/sync/SSEEventType.h"
#include "core/sync/SyncModels.h"
#include "core/sync/SyncTiming.h"

#include "platform/CancelToken.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <qcoro/qcoroasyncgenerator.h>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class QNetworkAccessManager;

// The backend's base URL built into this program (deployment configuration).
QUrl defaultSyncBackendURL();

// One request as makeRequest builds it: the URL, headers and timeout, and the method.
struct SyncHttpRequest
{
    QNetworkRequest request;
    QByteArray method;
};

// What came back. isHTTP is false when the peer did not answer in HTTP.
struct SyncHttpResponse
{
    bool isHTTP = false;
    int statusCode = 0;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body;

    // The value of a header, compared case-insensitively; nothing when absent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// The client of the sync backend: one asynchronous operation per endpoint. It holds only the base
// URL and the network access manager (plus the timing, the local caps and an optional
// cancellation token); credentials travel with each call. Copies are cheap and independent, and
// an operation keeps working on its own copy, so a client may go away while its calls run.
// Failures are thrown as SyncFailure: FileSyncError for HTTP statuses, transport errors as they
// come, decode failures for bodies that are not the expected model. Nothing here retries except
// downloadFile.
class FileSyncClient
{
public:
    // The string must be an http or https URL with a host; anything else gives the default
    // backend URL. Without nam the client and its copies share a manager of their
    // own.
    explicit FileSyncClient(const QString &baseURL, QNetworkAccessManager *nam = nullptr,
                            SyncTiming timing = {}, SyncLimits limits = {});
    explicit FileSyncClient(const QUrl &baseURL, QNetworkAccessManager *nam = nullptr,
                            SyncTiming timing = {}, SyncLimits limits = {});

    QUrl baseURL() const { return m_baseURL; }
    QNetworkAccessManager *session() const { return m_nam; }
    const SyncTiming &timing() const { return m_timing; }
    const SyncLimits &limits() const { return m_limits; }
    CancelToken cancelToken() const { return m_cancel; }

    // A copy whose operations end with a Cancelled failure (replies aborted, waits ended) once
    // the token is cancelled.
    FileSyncClient withCancellation(CancelToken cancel) const;

    // Building blocks.

    // Base URL (all "/" stripped from both ends) + path. Throws invalidResponse when the result
    // is not a valid URL: nothing is ever sent to the bare base URL instead.
    SyncHttpRequest makeRequest(const QString &path, const QByteArray &method) const;
    // Sends and waits for the whole body (capped).
    QCoro::Task<SyncHttpResponse> send(SyncHttpRequest request,
                                       std::optional<QByteArray> body = std::nullopt) const;
    // Returns for HTTP 200 and 201, throws the matching FileSyncError otherwise.
    static void validate(const SyncHttpResponse &response);

    // Adds "X-Folder-Token" and forbids redirects to another origin for this request.
    static void setFolderToken(QNetworkRequest &request, const QString &token);

    // Folders
    QCoro::Task<CreateFolderResponse>
    createFolder(QString name, std::optional<qint64> ownerId = std::nullopt,
                 std::optional<QString> sourceDeviceName = std::nullopt) const;
    QCoro::Task<FolderDetailResponse> getFolder(QString folderId, QString folderToken) const;
    QCoro::Task<DeleteFolderResponse> deleteFolder(QString folderId, QString folderToken) const;

    // Files
    QCoro::Task<FileUploadResponse>
    uploadFile(QString folderId, QString folderToken, QString filePath,
               std::optional<QString> relativePath = std::nullopt,
               std::optional<QString> sourceDevice = std::nullopt) const;
    QCoro::Task<ContentUploadResponse> uploadContent(QString folderId, QString folderToken,
                                                     qint64 fileId, QString filePath) const;
    QCoro::Task<FileListResponse> listFiles(QString folderId, QString folderToken) const;
    QCoro::Task<DownloadURLResponse> downloadURL(QString folderId, QString folderToken,
                                                 qint64 fileId) const;
    QCoro::Task<DeleteFileResponse> deleteFile(QString folderId, QString folderToken,
                                               qint64 fileId) const;

    // Changes and structure
    QCoro::Task<ChangesResponse> changes(QString folderId, QString folderToken, qint64 since,
                                         qint64 limit) const;
    QCoro::Task<StructureUploadResponse> uploadStructure(QString folderId, QString folderToken,
                                                         QList<StructureFileEntry> entries) const;
    QCoro::Task<StructureResponse> getStructure(QString folderId, QString folderToken) const;
    // The structure's entity tag with the double quotes at both ends removed ("" when absent).
    QCoro::Task<QString> structureETag(QString folderId, QString folderToken) const;
    QCoro::Task<ResolveFileResponse> resolveFile(QString folderId, QString folderToken,
                                                 QString relativePath) const;

    // File requests
    QCoro::Task<FileRequestResponse> requestFile(QString folderId, QString folderToken,
                                                 qint64 fileId) const;
    QCoro::Task<PendingFileRequestListResponse> pendingFileRequests(QString folderId,
                                                                    QString folderToken) const;
    QCoro::Task<UpdateFileRequestResponse> updateFileRequest(QString folderId, QString folderToken,
                                                             qint64 requestId,
                                                             QString status) const;

    // Metadata
    QCoro::Task<MetadataUploadResponse> uploadMetadata(QString folderId, QString folderToken,
                                                       MetadataUploadRequest metadata) const;

    // Pairing and devices
    QCoro::Task<PairRequestResponse>
    requestPairing(std::optional<QString> deviceName = std::nullopt,
                   std::optional<QString> deviceType = std::nullopt) const;
    QCoro::Task<PairConfirmResponse> confirmPairing(QString code, QString folderId,
                                                    QString folderToken) const;
    QCoro::Task<PairStatusResponse> pairingStatus(QString pollSecret) const;
    QCoro::Task<PairedDeviceListResponse> listDevices(QString folderId, QString folderToken) const;
    QCoro::Task<> revokeDevice(QString folderId, QString folderToken, qint64 deviceId) const;
    QCoro::Task<DeviceStatusResponse>
    deviceStatus(qint64 deviceId, std::optional<qint64> ownerId = std::nullopt) const;

    // The folder's event stream. Lazy: the request goes out when begin() is first awaited. Ends
    // without error when the body ends or the client's token is cancelled; fails with
    // serverError(status) for a non-2xx answer (0 when it is not HTTP), with the transport's
    // error, or with a timeout (idle or total).
    QCoro::AsyncGenerator<SSEChangeNotification> events(QString folderId, QString folderToken,
                                                        std::optional<QString> lastEventId
                                                        = std::nullopt) const;

    // File transfer

    // Downloads an http(s) URL (anything else: SyncError::invalidURL, nothing requested) into a
    // private temporary folder and moves it atomically to destinationPath. Non-2xx answers are
    // retried `retries` times, `delay` apart; the last one gives downloadFailed(status).
    QCoro::Task<> downloadFile(QUrl source, QString destinationPath, int retries,
                               std::chrono::milliseconds delay) const;

private:
    template<class T>
    QCoro::Task<T> fetch(SyncHttpRequest request, std::optional<QByteArray> body = std::nullopt,
                         bool json = false) const;
    QCoro::Task<SyncHttpResponse> sendMultipart(SyncHttpRequest request, QString filePath) const;
    SyncHttpRequest folderRequest(const QString &folderId, const QString &folderToken,
                                  const QString &rest, const QByteArray &method) const;

    QUrl m_baseURL;
    std::shared_ptr<QNetworkAccessManager> m_ownNam;
    QNetworkAccessManager *m_nam;
    SyncTiming m_timing;
    SyncLimits m_limits;
    CancelToken m_cancel;
};
