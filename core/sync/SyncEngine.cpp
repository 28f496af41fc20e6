#include "core/sync/SyncEngine.h"

#include "core/sync/DownloadInstaller.h"
#include "core/sync/SyncError.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncState.h"

#include "platform/Detached.h"
#include "platform/Urls.h"

#include <QUuid>

SyncEngine::SyncEngine(FileSyncClient client, SyncState &state, QObject *parent)
    : QObject(parent)
    , m_client(client.withCancellation(m_lifetime))
    , m_state(&state)
    , m_reconnectDelay(m_client.timing().reconnectInitialDelay)
{
}

SyncEngine::~SyncEngine()
{
    m_lifetime.cancel();
    if (m_sseTask)
        m_sseTask->cancel();
    if (m_pollingTask)
        m_pollingTask->cancel();
}

SyncEngine::Credentials SyncEngine::credentials() const
{
    if (!m_state || !m_state->folderId() || !m_state->folderToken())
        throw SyncFailure(SyncError::notPaired());
    return {*m_state->folderId(), *m_state->folderToken()};
}

void SyncEngine::start(EventHandler onEvent)
{
    if (m_sseTask)
        return;
    const CancelToken cancel;
    m_sseTask = cancel;
    runDetached(reconnectLoop(QPointer<SyncEngine>(this), std::move(onEvent), cancel),
                QStringLiteral("Sync event stream"));
}

void SyncEngine::stop()
{
    if (m_sseTask) {
        m_sseTask->cancel();
        m_sseTask.reset();
    }
    stopPolling();
}

QCoro::Task<> SyncEngine::reconnectLoop(QPointer<SyncEngine> engine, EventHandler onEvent,
                                        CancelToken cancel)
{
    const SyncTiming timing = engine->m_client.timing();
    for (;;) {
        if (cancel.isCancelled() || !engine)
            break;
        co_await engine->listenWith(onEvent, cancel);
        if (cancel.isCancelled() || !engine)
            break;
        const std::chrono::milliseconds delay = engine->m_reconnectDelay;
        engine->m_reconnectDelay = std::min(timing.reconnectMaxDelay, 2 * delay);
        if (!co_await timing.effectiveClock().sleep(delay, cancel))
            break;
    }
    // A loop started after this one was stopped owns the status now.
    if (engine && engine->m_state && (!engine->m_sseTask || *engine->m_sseTask == cancel))
        engine->m_state->setConnectionStatus(SyncState::ConnectionStatus::disconnected());
}

QCoro::Task<> SyncEngine::listen(EventHandler onEvent)
{
    return listenWith(std::move(onEvent), m_lifetime);
}

QCoro::Task<> SyncEngine::listenWith(EventHandler onEvent, CancelToken cancel)
{
    const QPointer<SyncEngine> self(this);
    const QPointer<SyncState> state = m_state;
    const FileSyncClient client = m_client.withCancellation(cancel);
    const SyncTiming timing = client.timing();
    const QString folderId = state ? state->folderId().value_or(QString()) : QString();
    const QString folderToken = state ? state->folderToken().value_or(QString()) : QString();
    const qint64 lastServerID = state ? state->lastServerID() : 0;

    if (folderId.isEmpty() || folderToken.isEmpty()) {
        co_await timing.effectiveClock().sleep(timing.credentialWait, cancel);
        co_return;
    }
    state->setConnectionStatus(SyncState::ConnectionStatus::connecting());
    const std::optional<QString> resume
        = lastServerID >= 1 ? std::optional<QString>(QString::number(lastServerID)) : std::nullopt;
    auto stream = client.events(folderId, folderToken, resume);
    m_reconnectDelay = timing.reconnectInitialDelay;

    std::optional<QString> failure;
    try {
        auto it = co_await stream.begin();
        while (it != stream.end()) {
            if (cancel.isCancelled() || !self)
                co_return;
            const SSEChangeNotification notification = *it;
            if (state && notification.eventType != SSEEventType::keepalive)
                state->setConnectionStatus(SyncState::ConnectionStatus::connected());
            const std::optional<qint64> id = parseEventID(notification.lastEventID);
            if (state && id && *id > state->lastServerID()) {
                state->setLastServerID(*id);
                state->save();
            }
            try {
                co_await onEvent(notification);
            } catch (...) {
                // The handler reports its own failures; the stream goes on.
            }
            if (cancel.isCancelled() || !self)
                co_return;
            co_await ++it;
        }
    } catch (const SyncFailure &f) {
        failure = f.description();
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    }
    if (failure && !cancel.isCancelled() && self && state)
        state->setConnectionStatus(SyncState::ConnectionStatus::error(*failure));
}

std::optional<qint64> SyncEngine::parseEventID(const std::optional<QString> &id)
{
    if (!id || id->isEmpty())
        return std::nullopt;
    const QString &s = *id;
    qsizetype i = (s.at(0) == u'+' || s.at(0) == u'-') ? 1 : 0;
    if (i == s.size())
        return std::nullopt;
    for (qsizetype k = i; k < s.size(); ++k) {
        if (s.at(k) < u'0' || s.at(k) > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = (s.at(0) == u'+' ? s.mid(1) : s).toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QCoro::Task<StructureUploadResponse> SyncEngine::uploadStructure(QList<StructureFileEntry> entries)
{
    const QPointer<SyncEngine> self(this);
    const Credentials c = credentials();
    const QPointer<SyncState> state = m_state;
    const StructureUploadResponse response = co_await FileSyncClient(m_client).uploadStructure(
        c.folderId, c.folderToken, std::move(entries));
    if (!self)
        throw SyncFailure::cancelled();
    if (state)
        state->setStructureHash(response.structure_hash);
    co_return response;
}

QCoro::Task<StructureResponse> SyncEngine::fetchStructure()
{
    const QPointer<SyncEngine> self(this);
    const Credentials c = credentials();
    const QPointer<SyncState> state = m_state;
    const FileSyncClient client = m_client;
    const StructureResponse response = co_await client.getStructure(c.folderId, c.folderToken);
    if (!self)
        throw SyncFailure::cancelled();
    if (state) {
        state->setStructureHash(response.structure_hash);
        state->setLastSyncDate(client.timing().effectiveClock().now());
        state->save();
    }
    co_return response;
}

QCoro::Task<bool> SyncEngine::remoteStructureChanged()
{
    if (!m_state || !m_state->folderId() || !m_state->folderToken())
        co_return false;
    const QPointer<SyncEngine> self(this);
    const Credentials c = credentials();
    const QPointer<SyncState> state = m_state;
    const QString tag = co_await FileSyncClient(m_client).structureETag(c.folderId, c.folderToken);
    if (!self)
        throw SyncFailure::cancelled();
    co_return tag != (state ? state->structureHash() : QString());
}

QCoro::Task<FileUploadResponse> SyncEngine::uploadFile(QString filePath,
                                                       std::optional<QString> relativePath,
                                                       std::optional<QString> sourceDevice)
{
    const Credentials c = credentials();
    co_return co_await FileSyncClient(m_client).uploadFile(c.folderId, c.folderToken, filePath,
                                                           relativePath, sourceDevice);
}

QCoro::Task<SyncEngine::DownloadedFile> SyncEngine::downloadFile(qint64 fileId)
{
    const Credentials c = credentials();
    const FileSyncClient client = m_client;
    const DownloadURLResponse info = co_await client.downloadURL(c.folderId, c.folderToken, fileId);
    // An address that is not a valid http(s) URL ends in SyncError::invalidURL inside
    // downloadFile, before anything is requested.
    const QUrl source(info.url);
    // Our own unique name: the server's file name is data, never part of a path.
    const QString destination = DownloadInstaller::privateFolder() + QStringLiteral("/file-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const SyncTiming &timing = client.timing();
    co_await client.downloadFile(source, destination, timing.downloadRetries,
                                 timing.downloadRetryDelay);
    co_return DownloadedFile {destination, info.filename};
}

QCoro::Task<FileRequestResponse> SyncEngine::requestFile(qint64 fileId)
{
    const Credentials c = credentials();
    co_return co_await FileSyncClient(m_client).requestFile(c.folderId, c.folderToken, fileId);
}

QCoro::Task<ResolveFileResponse> SyncEngine::resolveFile(QString relativePath)
{
    const Credentials c = credentials();
    co_return co_await FileSyncClient(m_client).resolveFile(c.folderId, c.folderToken,
                                                            relativePath);
}

QCoro::Task<QList<PendingFileRequest>> SyncEngine::pendingFileRequests()
{
    const Credentials c = credentials();
    const PendingFileRequestListResponse response
        = co_await FileSyncClient(m_client).pendingFileRequests(c.folderId, c.folderToken);
    co_return response.requests;
}

QCoro::Task<> SyncEngine::fulfillFileRequest(qint64 requestId, qint64 fileId, QString filePath)
{
    const Credentials c = credentials();
    const FileSyncClient client = m_client;
    co_await client.uploadContent(c.folderId, c.folderToken, fileId, filePath);
    co_await client.updateFileRequest(c.folderId, c.folderToken, requestId,
                                      QStringLiteral("fulfilled"));
}

QCoro::Task<ChangesResponse> SyncEngine::fetchChanges()
{
    const QPointer<SyncEngine> self(this);
    const Credentials c = credentials();
    const QPointer<SyncState> state = m_state;
    const FileSyncClient client = m_client;
    const qint64 since = state->lastServerID();
    SyncHttpRequest request
        = client.makeRequest(QStringLiteral("/sync/folders/") + urls::encodePathSegment(c.folderId)
                                 + QStringLiteral("/changes?since=%1&limit=%2").arg(since).arg(500),
                             "GET");
    FileSyncClient::setFolderToken(request.request, c.folderToken);
    const SyncHttpResponse response = co_await client.send(std::move(request));
    FileSyncClient::validate(response);
    const ChangesResponse changes = decodeJson<ChangesResponse>(response.body);
    if (!self)
        throw SyncFailure::cancelled();
    if (state && changes.latest_server_id > since) {
        state->setLastServerID(changes.latest_server_id);
        state->save();
    }
    co_return changes;
}

void SyncEngine::startPolling(std::chrono::milliseconds interval, EventHandler onChange)
{
    stopPolling();
    const CancelToken cancel;
    m_pollingTask = cancel;
    runDetached(pollingLoop(QPointer<SyncEngine>(this), interval, std::move(onChange), cancel),
                QStringLiteral("Sync structure polling"));
}

void SyncEngine::stopPolling()
{
    if (m_pollingTask) {
        m_pollingTask->cancel();
        m_pollingTask.reset();
    }
}

QCoro::Task<> SyncEngine::pollingLoop(QPointer<SyncEngine> engine,
                                      std::chrono::milliseconds interval, EventHandler onChange,
                                      CancelToken cancel)
{
    const FileSyncClient client = engine->m_client.withCancellation(cancel);
    const SyncTiming timing = client.timing();
    if (interval < timing.minimumPollInterval)
        interval = timing.minimumPollInterval;
    for (;;) {
        if (cancel.isCancelled())
            co_return;
        co_await timing.effectiveClock().sleep(interval, cancel);
        if (cancel.isCancelled() || !engine)
            co_return;
        const QPointer<SyncState> state = engine->m_state;
        if (!state || !state->folderId() || !state->folderToken())
            continue;
        const QString folderId = *state->folderId();
        QString tag;
        bool failed = false;
        try {
            tag = co_await client.structureETag(folderId, *state->folderToken());
        } catch (...) {
            failed = true;
        }
        if (cancel.isCancelled() || !engine || !state)
            co_return;
        if (failed || tag == state->structureHash())
            continue;
        try {
            co_await onChange(
                SSEChangeNotification(std::nullopt, folderId, SSEEventType::structureChanged));
        } catch (...) {
        }
    }
}
