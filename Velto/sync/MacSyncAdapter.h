#pragma once

#include "Velto/model/WorkspaceState.h"
#include "core/live/LiveDocument.h"
#include "core/live/LiveSyncEngine.h"
#include "core/live/LiveSyncMessage.h"
#include "core/live/LiveSyncTimings.h"
#include "core/sync/FileSyncClient.h"
#include "core/sync/SSEEventType.h"
#include "core/sync/SyncEngine.h"
#include "core/sync/SyncModels.h"
#include "core/sync/SyncState.h"
#include "core/sync/SyncTiming.h"
#include "platform/PostOnce.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class BonjourAdvertiser;
class Clock;
class ClockTimer;
class Defaults;
class QNetworkAccessManager;

// The application side of sync, one per process: joins the workspace of the window shown last
// to the sync folder whose credentials the sync state holds. Saved files and the folder listing
// go up; events of the backend's stream bring remote changes down into the folder and serve
// other devices' file requests; the open document is edited live with the other devices. The
// sync settings create folders, confirm pairing codes and stop syncing through it.
//
// Everything here runs on the main thread. Paths that come from the network are resolved inside
// the open folder or refused; a remote change never touches unsaved edits and removes only files
// an earlier remote structure listed, into the trash.
//
// Live editing never drops a change: edits carry the units they act on (LiveDocument), so
// concurrent edits merge in any order on every device alike. Once the document is quiet, a device
// that sent changes announces a digest of what it holds; a peer that holds something else
// answers with its whole document, which merges with the receiver's, and whoever still lacks
// something answers in turn. Reconnects and opened files send the whole document at once.
class MacSyncAdapter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString lastKnownText READ lastKnownText NOTIFY lastKnownTextChanged)
    Q_PROPERTY(
        qint64 lastRemoteGeneration READ lastRemoteGeneration NOTIFY lastRemoteGenerationChanged)

public:
    // What the adapter works with. Without an advertiser the device is not announced on the
    // network; without a clock the adapter keeps Qt timers of its own.
    struct Services
    {
        // The computer's name; an empty answer means it has none.
        std::function<QString()> hostName;
        BonjourAdvertiser *bonjour = nullptr;
        // The live channel's timers and the repair wait.
        Clock *clock = nullptr;
        LiveSyncTimings liveTimings;
        SyncTiming syncTiming;
        QNetworkAccessManager *network = nullptr;
    };

    // The application's instance (its root builds and owns it), for callers not handed one.
    static MacSyncAdapter &shared();
    // An adapter over its own sync state, loaded from the store.
    explicit MacSyncAdapter(Defaults &defaults, QObject *parent = nullptr);
    MacSyncAdapter(Defaults &defaults, Services services, QObject *parent = nullptr);
    ~MacSyncAdapter() override;

    SyncState &state() const { return *m_state; }
    SyncEngine *engine() const { return m_engine; }
    LiveSyncEngine *liveEngine() const { return m_liveEngine; }
    WorkspaceState *workspace() const { return m_workspace.data(); }
    const QString &lastKnownText() const { return m_lastKnownText; }
    qint64 lastRemoteGeneration() const { return m_lastRemoteGeneration; }
    // A client of the backend the state names.
    FileSyncClient client() const;

    // Serves this workspace from now on (the window shown last): starts the local-network
    // advertisement and, when paired, the event stream and live editing. Sessions of an earlier
    // workspace end.
    virtual void attach(WorkspaceState &workspace);

    // Uploads the listing of the open folder.
    QCoro::Task<> uploadStructure();
    // A document that was just saved: uploads it when it lies inside the open folder, then the
    // listing. Never fails towards the caller.
    virtual QCoro::Task<> uploadFile(QUrl url);
    // Confirms a code shown on another device; throws the backend's failure. Without own folder
    // credentials nothing is asked.
    QCoro::Task<> confirmPairing(QString code);
    // Creates a folder on the backend and keeps its credentials; throws the backend's failure.
    // The event stream and live editing start at once for the attached workspace.
    QCoro::Task<> createFolder(QString name);
    // Brings the open folder in line with the remote structure. Passes run one at a time: a call
    // while one runs waits for a pass that starts after it. Never throws.
    QCoro::Task<> handleRemoteChanges();
    // Uploads the files other devices asked for. Never throws.
    QCoro::Task<> handleFileRequests();
    // Ends both engines; the workspace and the credentials stay.
    void stop();

    // Live editing.
    void startLiveSync();
    // The workspace's text changed; the change goes out with the next turn of the event loop
    // (after the rest of the change, such as the file that was opened with it).
    virtual void workspaceTextChanged();
    void sendOpenFile();
    // The open file changed to this relative path: announces it with its text.
    virtual QCoro::Task<> openFileChanged(QString relativePath);
    virtual void sendCursorPosition();
    // One received message; the order is the engine's.
    QCoro::Task<> applyLiveMessage(LiveSyncMessage message, LiveOrder order);

    // The open file's path below the open folder; nothing when either is missing or the file
    // lies outside the folder.
    virtual std::optional<QString> relativePathOfOpenFile() const;

    // The name live messages carry: the computer's, or "Mac".
    QString liveDeviceName() const;

Q_SIGNALS:
    void engineChanged();
    void liveEngineChanged();
    void workspaceChanged();
    void lastKnownTextChanged();
    void lastRemoteGenerationChanged();
    // A remote-change pass ended (successfully or not).
    void remoteChangePassFinished();

private:
    void setEngine(SyncEngine *engine);
    void setLiveEngine(LiveSyncEngine *engine);
    void setLastKnownText(const QString &text);
    void setLastRemoteGeneration(qint64 generation);
    std::optional<QString> uploadDeviceName() const;
    void stopEngine();
    void stopLiveEngine();
    // Uploads the listing; the paths it named, none when it failed.
    QCoro::Task<QSet<QString>> uploadListing();

    static QCoro::Task<> handleSSEEvent(QPointer<MacSyncAdapter> adapter,
                                        SSEChangeNotification event);
    static QCoro::Task<> receiveLive(QPointer<MacSyncAdapter> adapter, LiveSyncMessage message,
                                     LiveOrder order);
    QCoro::Task<> remoteChangePass();
    // The path of the open folder while an engine runs for it; what the passes work on.
    std::optional<QString> syncedFolderPath() const;
    void refreshAfterRemoteChanges();

    // The live bridge's bookkeeping.
    void flushLocalChange();
    void liveSessionConnected();
    void applyRemoteText(const QString &text);
    LiveDocument &liveDocument(const QString &path);
    void sendState(const QString &path);
    void receiveChange(const LiveSyncMessage &message, const QString &file);
    void receiveState(const LiveSyncMessage &message, const QString &file);
    void adoptForeignHistory(const LiveSyncMessage &message, const QString &file);
    void receiveUnnamedEdit(const LiveSyncMessage &message, LiveOrder order, const QString &file);
    void receiveUnnamedText(const LiveSyncMessage &message, LiveOrder order, const QString &file);
    void resetLiveDocument();
    void noteLiveActivity();
    void sentLiveChange();
    void repairIfInDoubt();

    Defaults &m_defaults;
    Services m_services;
    std::unique_ptr<Clock> m_ownClock; // when none was handed in
    std::unique_ptr<QNetworkAccessManager> m_ownNetwork; // likewise
    SyncState *m_state;
    QPointer<SyncEngine> m_engine;
    QPointer<LiveSyncEngine> m_liveEngine;
    QPointer<WorkspaceState> m_workspace;
    QString m_lastKnownText;
    qint64 m_lastRemoteGeneration = 0;

    PostOnce m_localChange {this, [this] { flushLocalChange(); }};
    // The open document's shared history, from the text it had when it was opened or shared.
    std::unique_ptr<LiveDocument> m_document;
    QString m_documentPath;
    // A peer holds something else than this device; once the document is quiet it gets ours.
    bool m_peerBehind = false;
    // Changes went out since the document was last announced; once the document is quiet its
    // digest goes out, so a peer that missed a change finds out.
    bool m_announcePending = false;
    std::unique_ptr<ClockTimer> m_repairTimer;

    quint64 m_passRequests = 0;
    quint64 m_passesCovered = 0;
    bool m_passRunning = false;
};
