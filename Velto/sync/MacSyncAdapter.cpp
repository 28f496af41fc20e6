#include "Velto/sync/MacSyncAdapter.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/sync/LocalSyncFolder.h"
#include "core/sync/PairingService.h"
#include "core/sync/SyncEngine.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncState.h"
#include "platform/BackgroundPool.h"
#include "platform/BonjourAdvertiser.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/RootInstance.h"

#include <QNetworkAccessManager>
#include <QSysInfo>

using namespace Qt::StringLiterals;

MacSyncAdapter &MacSyncAdapter::shared()
{
    return RootInstance<MacSyncAdapter>::get();
}

MacSyncAdapter::MacSyncAdapter(Defaults &defaults, QObject *parent)
    : MacSyncAdapter(defaults, Services {}, parent)
{
}

MacSyncAdapter::MacSyncAdapter(Defaults &defaults, Services services, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_services(std::move(services))
    , m_state(new SyncState(defaults, this))
{
    if (!m_services.clock) {
        m_ownClock = std::make_unique<Clock>();
        m_services.clock = m_ownClock.get();
    }
    if (!m_services.network) {
        m_ownNetwork = std::make_unique<QNetworkAccessManager>();
        m_services.network = m_ownNetwork.get();
    }
    m_repairTimer = m_services.clock->createTimer([this] { repairIfInDoubt(); });
}

MacSyncAdapter::~MacSyncAdapter()
{
    m_repairTimer.reset();
    stopEngine();
    stopLiveEngine();
}

FileSyncClient MacSyncAdapter::client() const
{
    return FileSyncClient(m_state->backendURL(), m_services.network, m_services.syncTiming);
}

QString MacSyncAdapter::liveDeviceName() const
{
    return uploadDeviceName().value_or(u"Mac"_s);
}

std::optional<QString> MacSyncAdapter::uploadDeviceName() const
{
    const QString name = m_services.hostName ? m_services.hostName() : QSysInfo::machineHostName();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

void MacSyncAdapter::setEngine(SyncEngine *engine)
{
    if (m_engine == engine)
        return;
    m_engine = engine;
    Q_EMIT engineChanged();
}

void MacSyncAdapter::setLiveEngine(LiveSyncEngine *engine)
{
    if (m_liveEngine == engine)
        return;
    m_liveEngine = engine;
    Q_EMIT liveEngineChanged();
}

void MacSyncAdapter::setLastKnownText(const QString &text)
{
    if (m_lastKnownText == text)
        return;
    m_lastKnownText = text;
    Q_EMIT lastKnownTextChanged();
}

void MacSyncAdapter::setLastRemoteGeneration(qint64 generation)
{
    if (m_lastRemoteGeneration == generation)
        return;
    m_lastRemoteGeneration = generation;
    Q_EMIT lastRemoteGenerationChanged();
}

void MacSyncAdapter::stopEngine()
{
    if (SyncEngine *engine = m_engine.data()) {
        setEngine(nullptr);
        engine->stop();
        engine->deleteLater();
    }
}

void MacSyncAdapter::stopLiveEngine()
{
    m_localChange.cancel();
    resetLiveDocument();
    if (LiveSyncEngine *engine = m_liveEngine.data()) {
        setLiveEngine(nullptr);
        engine->disconnect(this);
        engine->close();
        engine->deleteLater();
    }
}

// ---- attaching, events, uploads, folders, pairing

void MacSyncAdapter::attach(WorkspaceState &workspace)
{
    if (m_workspace != &workspace) {
        m_workspace = &workspace;
        Q_EMIT workspaceChanged();
    }
    setLastKnownText(workspace.text());
    setLastRemoteGeneration(workspace.remoteEditGeneration());
    const auto folder = workspace.folderURL();
    qCInfo(logSync).noquote() << u"[Sync] attach: isPaired=%1, folderId=%2, folderURL=%3"_s
                                     .arg(m_state->isPaired() ? 1 : 0)
                                     .arg(m_state->folderId().value_or(u"nil"_s),
                                          folder ? pathOf(*folder) : u"nil"_s);

    if (m_services.bonjour) {
        QMetaObject::invokeMethod(m_services.bonjour, &BonjourAdvertiser::start,
                                  Qt::QueuedConnection);
    }

    // The sessions of the window attached before end here: two event streams would run passes
    // over the same files, two live sessions would apply every message twice.
    stopEngine();
    stopLiveEngine();
    if (!m_state->isPaired())
        return;
    auto *engine = new SyncEngine(client(), *m_state, this);
    setEngine(engine);
    qCInfo(logSync) << "[Sync] Engine created, starting SSE listener";
    engine->start([self = QPointer<MacSyncAdapter>(this)](SSEChangeNotification event) {
        return handleSSEEvent(self, std::move(event));
    });
    startLiveSync();
}

QCoro::Task<> MacSyncAdapter::handleSSEEvent(QPointer<MacSyncAdapter> adapter,
                                             SSEChangeNotification event)
{
    if (!adapter)
        co_return;
    switch (event.eventType) {
    case SSEEventType::change:
    case SSEEventType::structureChanged:
        qCInfo(logSync).noquote() << u"[Sync] SSE event: "_s + caseName(event.eventType);
        co_await adapter->handleRemoteChanges();
        break;
    case SSEEventType::fileRequest:
        co_await adapter->handleFileRequests();
        break;
    default:
        break;
    }
}

QCoro::Task<> MacSyncAdapter::uploadFile(QUrl url)
{
    const QPointer<MacSyncAdapter> self(this);
    if (!m_workspace || !m_workspace->folderURL())
        co_return;
    const QString path = pathOf(url);
    const auto relative = relativePathInside(path, pathOf(*m_workspace->folderURL()));
    if (!relative)
        co_return;
    if (const QPointer<SyncEngine> engine = m_engine) {
        try {
            co_await engine->uploadFile(path, *relative, uploadDeviceName());
        } catch (...) {
            qCInfo(logSync).noquote() << u"[Sync] File upload failed: "_s
                    + syncFailureDescription(std::current_exception());
            co_return;
        }
        if (!self)
            co_return;
        // Ours remotely only once a listing names it: until then a remote structure without it
        // says nothing about it, and it must not be taken for a file another device removed.
        const QSet<QString> listed = co_await uploadListing();
        if (self && listed.contains(*relative))
            LocalSyncFolder::addKnownFile(m_defaults, *relative);
        co_return;
    }
    co_await uploadStructure();
}

QCoro::Task<> MacSyncAdapter::uploadStructure()
{
    co_await uploadListing();
}

QCoro::Task<QSet<QString>> MacSyncAdapter::uploadListing()
{
    if (!m_workspace || !m_workspace->folderURL())
        co_return {};
    const QString folder = pathOf(*m_workspace->folderURL());
    const QPointer<MacSyncAdapter> self(this);
    const QList<StructureFileEntry> entries
        = co_await background::run(&LocalSyncFolder::entries, folder);
    if (!self || entries.isEmpty())
        co_return {};
    const QPointer<SyncEngine> engine = m_engine;
    if (!engine)
        co_return {};
    try {
        co_await engine->uploadStructure(entries);
    } catch (...) {
        qCInfo(logSync).noquote() << u"[Sync] Structure upload failed: "_s
                + syncFailureDescription(std::current_exception());
        co_return {};
    }
    QSet<QString> listed;
    for (const StructureFileEntry &entry : entries)
        listed.insert(entry.relative_path);
    co_return listed;
}

QCoro::Task<> MacSyncAdapter::createFolder(QString name)
{
    const QPointer<MacSyncAdapter> self(this);
    const CreateFolderResponse response
        = co_await client().createFolder(name, std::nullopt, uploadDeviceName());
    if (!self)
        co_return;
    m_state->setFolderId(QString::number(response.id));
    m_state->setFolderToken(response.folder_token);
    m_state->save();
    // The window shown last is served at once: its folder is pulled and its document shared.
    if (m_workspace) {
        attach(*m_workspace);
    } else {
        stopEngine();
        setEngine(new SyncEngine(client(), *m_state, this));
    }
}

QCoro::Task<> MacSyncAdapter::confirmPairing(QString code)
{
    const auto folderId = m_state->folderId();
    const auto folderToken = m_state->folderToken();
    if (!folderId || !folderToken)
        co_return;
    PairingService pairing(client());
    co_await pairing.confirmPairing(code, *folderId, *folderToken);
}

void MacSyncAdapter::stop()
{
    stopEngine();
    stopLiveEngine();
}

std::optional<QString> MacSyncAdapter::relativePathOfOpenFile() const
{
    if (!m_workspace)
        return std::nullopt;
    const auto file = m_workspace->selectedFileURL();
    const auto folder = m_workspace->folderURL();
    if (!file || !folder)
        return std::nullopt;
    // A sibling folder sharing the name's start ("/a/foo" and "/a/foobar/x.md") is outside.
    return relativePathInside(pathOf(*file), pathOf(*folder));
}
