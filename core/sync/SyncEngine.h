#pragma once

#include "core/sync/FileSyncClient.h"
#include "core/sync/SSEEventType.h"
#include "core/sync/SyncModels.h"

#include "platform/CancelToken.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

class SyncState;

// Talks to the sync backend about the one folder whose credentials the sync state holds: keeps
// the event stream open (reconnecting), hands every event to the caller's handler one at a time,
// and offers the folder operations. Lives on the main thread; every state write happens there.
// Destroying the engine cancels its loops and requests; they end without touching any status.
class SyncEngine : public QObject
{
    Q_OBJECT
public:
    using EventHandler = std::function<QCoro::Task<>(SSEChangeNotification)>;

    struct DownloadedFile
    {
        QString path; // a file of ours in the private download folder; the caller moves it
        QString filename; // the server's name for it, data only
    };

    SyncEngine(FileSyncClient client, SyncState &state, QObject *parent = nullptr);
    ~SyncEngine() override;

    const FileSyncClient &client() const { return m_client; }
    SyncState *state() const { return m_state; }
    std::chrono::milliseconds reconnectDelay() const { return m_reconnectDelay; }
    bool isStarted() const { return m_sseTask.has_value(); }
    bool isPolling() const { return m_pollingTask.has_value(); }

    // Starts the reconnect loop unless one was started (and not stopped) before.
    void start(EventHandler onEvent);
    // Cancels the reconnect loop and the polling loop; the loop's end sets "disconnected".
    void stop();

    QCoro::Task<StructureUploadResponse> uploadStructure(QList<StructureFileEntry> entries);
    QCoro::Task<StructureResponse> fetchStructure();
    QCoro::Task<bool> remoteStructureChanged();
    QCoro::Task<FileUploadResponse> uploadFile(QString filePath,
                                               std::optional<QString> relativePath = std::nullopt,
                                               std::optional<QString> sourceDevice = std::nullopt);
    QCoro::Task<DownloadedFile> downloadFile(qint64 fileId);
    QCoro::Task<FileRequestResponse> requestFile(qint64 fileId);
    QCoro::Task<ResolveFileResponse> resolveFile(QString relativePath);
    QCoro::Task<QList<PendingFileRequest>> pendingFileRequests();
    QCoro::Task<> fulfillFileRequest(qint64 requestId, qint64 fileId, QString filePath);
    QCoro::Task<ChangesResponse> fetchChanges();

    // One event-stream connection; never throws.
    QCoro::Task<> listen(EventHandler onEvent);

    // Replaces the polling loop: every interval (at least the minimum poll interval) compares
    // the structure's tag with the known hash and calls onChange when they differ.
    void startPolling(std::chrono::milliseconds interval, EventHandler onChange);
    void stopPolling();

    // The number in an event id: optional sign, then digits only, in the 64-bit range.
    static std::optional<qint64> parseEventID(const std::optional<QString> &id);

private:
    struct Credentials
    {
        QString folderId;
        QString folderToken;
    };
    Credentials credentials() const;
    QCoro::Task<> listenWith(EventHandler onEvent, CancelToken cancel);
    static QCoro::Task<> reconnectLoop(QPointer<SyncEngine> engine, EventHandler onEvent,
                                       CancelToken cancel);
    static QCoro::Task<> pollingLoop(QPointer<SyncEngine> engine,
                                     std::chrono::milliseconds interval, EventHandler onChange,
                                     CancelToken cancel);

    CancelToken m_lifetime;
    FileSyncClient m_client; // bound to m_lifetime
    QPointer<SyncState> m_state;
    std::optional<CancelToken> m_sseTask;
    std::optional<CancelToken> m_pollingTask;
    std::chrono::milliseconds m_reconnectDelay;
};
