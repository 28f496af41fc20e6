#include "Velto/sync/MacSyncAdapter.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/sync/LocalSyncFolder.h"
#include "core/live/TextDiff.h"
#include "core/model/DocumentFile.h"
#include "core/sync/DownloadInstaller.h"
#include "core/sync/PairingService.h"
#include "core/sync/Sha256.h"
#include "core/sync/SyncEngine.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncState.h"
#include "platform/BonjourAdvertiser.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Detached.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SignalWait.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcSyncAdapter, "velto.sync.adapter")

namespace {

QString describe(const std::exception_ptr &error)
{
    return syncFailureDescription(error);
}

// The counter only tells changes apart; it must never overflow into undefined behaviour.
qint64 nextGeneration(qint64 generation)
{
    return qint64(quint64(generation) + 1);
}

} // namespace

MacSyncAdapter &MacSyncAdapter::shared()
{
    static MacSyncAdapter *instance = new MacSyncAdapter(Defaults::standard());
    return *instance;
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
    Clock &clock = m_services.clock ? *m_services.clock : Clock::system();
    m_repairTimer = clock.createTimer([this] { repairIfInDoubt(); });
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
    m_flushPending = false;
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
    qCInfo(lcSyncAdapter).noquote()
        << u"[Sync] attach: isPaired=%1, folderId=%2, folderURL=%3"_s
               .arg(m_state->isPaired() ? 1 : 0)
               .arg(m_state->folderId().value_or(u"nil"_s), folder ? pathOf(*folder) : u"nil"_s);

    BonjourAdvertiser *bonjour
        = m_services.bonjour ? m_services.bonjour : &BonjourAdvertiser::shared();
    QMetaObject::invokeMethod(bonjour, &BonjourAdvertiser::start, Qt::QueuedConnection);

    // The sessions of the window attached before end here: two event streams would run passes
    // over the same files, two live sessions would apply every message twice.
    stopEngine();
    stopLiveEngine();
    if (!m_state->isPaired())
        return;
    auto *engine = new SyncEngine(client(), *m_state, this);
    setEngine(engine);
    qCInfo(lcSyncAdapter) << "[Sync] Engine created, starting SSE listener";
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
        logLine(u"[Sync] SSE event: "_s + caseName(event.eventType));
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
            logLine(u"[Sync] File upload failed: "_s + describe(std::current_exception()));
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
        = co_await QtConcurrent::run(&LocalSyncFolder::entries, folder);
    if (!self || entries.isEmpty())
        co_return {};
    const QPointer<SyncEngine> engine = m_engine;
    if (!engine)
        co_return {};
    try {
        co_await engine->uploadStructure(entries);
    } catch (...) {
        logLine(u"[Sync] Structure upload failed: "_s + describe(std::current_exception()));
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

// ---- remote changes

QCoro::Task<> MacSyncAdapter::handleRemoteChanges()
{
    const QPointer<MacSyncAdapter> self(this);
    const quint64 request = ++m_passRequests;
    while (self && m_passesCovered < request) {
        if (m_passRunning) {
            co_await SignalWait(this, &MacSyncAdapter::remoteChangePassFinished);
            continue;
        }
        // This pass covers every request made before it starts.
        m_passRunning = true;
        const quint64 covers = m_passRequests;
        co_await remoteChangePass();
        if (!self)
            co_return;
        m_passRunning = false;
        m_passesCovered = covers;
        Q_EMIT remoteChangePassFinished();
    }
}

QCoro::Task<> MacSyncAdapter::remoteChangePass()
{
    const QPointer<MacSyncAdapter> self(this);
    const QPointer<SyncEngine> engine = m_engine;
    const QPointer<WorkspaceState> workspace = m_workspace;
    if (!engine || !workspace || !workspace->folderURL())
        co_return;
    const QString folder = pathOf(*workspace->folderURL());
    const auto gone = [&] { return !self || !engine; };

    try {
        const StructureResponse structure = co_await engine->fetchStructure();
        if (gone())
            co_return;
        QSet<QString> remotePaths;
        for (const StructureFileEntry &entry : structure.files)
            remotePaths.insert(entry.relative_path);
        QSet<QString> known = LocalSyncFolder::knownFiles(m_defaults);
        known.unite(remotePaths);
        LocalSyncFolder::setKnownFiles(m_defaults, known);

        for (const StructureFileEntry &entry : structure.files) {
            const QString &relative = entry.relative_path;
            const auto local = resolveInsideFolder(folder, relative);
            if (!local) {
                logLine(u"[Sync] Skipped unsafe path: "_s + relative);
                continue;
            }
            const QFileInfo info(*local);
            // A folder is never replaced by a file, nor removed with what it holds.
            if (info.isDir())
                continue;
            if (info.exists()) {
                if (!entry.sha256 || entry.sha256->isEmpty())
                    continue;
                const QString path = *local;
                const std::optional<QString> digest
                    = co_await QtConcurrent::run(&sha256HexOfFile, path);
                if (gone())
                    co_return;
                if (!digest || *digest == *entry.sha256)
                    continue;
            }
            std::optional<qint64> download;
            QString line;
            if (entry.has_content.value_or(false)) {
                if (!entry.file_id)
                    continue;
                download = entry.file_id;
                line = u"[Sync] Downloaded: "_s;
            } else if (!entry.file_id) {
                const ResolveFileResponse resolved = co_await engine->resolveFile(relative);
                if (gone())
                    co_return;
                if (!resolved.has_content)
                    continue;
                download = resolved.file_id;
                line = u"[Sync] Downloaded (resolved): "_s;
            } else {
                try {
                    co_await engine->requestFile(*entry.file_id);
                } catch (...) {
                    // The owner may be offline; the next pass asks again.
                }
                if (gone())
                    co_return;
                continue;
            }
            const SyncEngine::DownloadedFile file = co_await engine->downloadFile(*download);
            if (gone()) {
                QFile::remove(file.path);
                co_return;
            }
            // Where the structure names the content, only that content replaces the file: a body
            // cut short or garbled on the way leaves the old one.
            if (entry.sha256 && !entry.sha256->isEmpty()) {
                const QString downloaded = file.path;
                const std::optional<QString> digest
                    = co_await QtConcurrent::run(&sha256HexOfFile, downloaded);
                if (gone()) {
                    QFile::remove(file.path);
                    co_return;
                }
                if (!digest || digest->compare(*entry.sha256, Qt::CaseInsensitive) != 0) {
                    QFile::remove(file.path);
                    logLine(u"[Sync] Checksum mismatch, kept local: "_s + relative);
                    continue;
                }
            }
            // Resolved again: the folder may have changed while the download ran.
            const auto target = resolveInsideFolder(folder, relative);
            try {
                if (!target || QFileInfo(*target).isDir())
                    throw SyncFailure::file(SyncFailure::FileOperation::move, relative,
                                            u"not a file inside the folder"_s);
                DownloadInstaller::install(file.path, *target);
            } catch (...) {
                QFile::remove(file.path);
                throw;
            }
            logLine(line + relative);
        }

        // Only what an earlier structure listed may go: a file made here and not uploaded yet,
        // or one whose upload failed, stays. An empty structure removes nothing.
        if (!structure.files.isEmpty()) {
            const QList<StructureFileEntry> localEntries
                = co_await QtConcurrent::run(&LocalSyncFolder::entries, folder);
            if (gone())
                co_return;
            QSet<QString> stillKnown = remotePaths;
            for (const StructureFileEntry &entry : localEntries) {
                const QString &relative = entry.relative_path;
                if (remotePaths.contains(relative))
                    continue;
                if (!known.contains(relative)) {
                    logLine(u"[Sync] Kept local (not synced): "_s + relative);
                    continue;
                }
                if (LocalSyncFolder::moveToTrash(folder + u'/' + relative))
                    logLine(u"[Sync] Removed local: "_s + relative);
                else
                    stillKnown.insert(relative);
            }
            // Files an upload made known while the pass ran stay known.
            stillKnown.unite(LocalSyncFolder::knownFiles(m_defaults).subtract(known));
            LocalSyncFolder::setKnownFiles(m_defaults, stillKnown);
        }
        refreshAfterRemoteChanges();
    } catch (...) {
        if (self)
            logLine(u"[Sync] Remote change handling failed: "_s
                    + describe(std::current_exception()));
    }
}

void MacSyncAdapter::refreshAfterRemoteChanges()
{
    WorkspaceState *ws = m_workspace.data();
    if (!ws)
        return;
    ws->reloadFileTree();
    const auto file = ws->selectedFileURL();
    if (!file)
        return;
    if (ws->isModified()) {
        logLine(u"[Sync] Open document modified; not reloaded"_s);
        return;
    }
    const std::optional<QString> text = DocumentFile::read(*file);
    if (text && *text != ws->text())
        ws->setText(*text);
}

QCoro::Task<> MacSyncAdapter::handleFileRequests()
{
    const QPointer<MacSyncAdapter> self(this);
    const QPointer<SyncEngine> engine = m_engine;
    const QPointer<WorkspaceState> workspace = m_workspace;
    if (!engine || !workspace || !workspace->folderURL())
        co_return;
    const QString folder = pathOf(*workspace->folderURL());
    try {
        const QList<PendingFileRequest> requests = co_await engine->pendingFileRequests();
        for (const PendingFileRequest &request : requests) {
            if (!self || !engine)
                co_return;
            const auto folderId = m_state->folderId();
            const auto folderToken = m_state->folderToken();
            if (!folderId || !folderToken)
                continue;
            const StructureResponse structure
                = co_await client().getStructure(*folderId, *folderToken);
            if (!self || !engine)
                co_return;
            const auto entry = std::find_if(structure.files.cbegin(), structure.files.cend(),
                                            [&](const StructureFileEntry &e) {
                                                return e.file_id && *e.file_id == request.file_id;
                                            });
            if (entry == structure.files.cend())
                continue;
            // Another device names the file: it must be a regular file inside the folder.
            const auto local = resolveInsideFolder(folder, entry->relative_path);
            if (!local || !QFileInfo(*local).isFile())
                continue;
            co_await engine->fulfillFileRequest(request.id, request.file_id, *local);
            logLine(u"[Sync] Fulfilled request: "_s + entry->relative_path);
        }
    } catch (...) {
        if (self)
            logLine(u"[Sync] File request handling failed: "_s
                    + describe(std::current_exception()));
    }
}

// ---- live editing

void MacSyncAdapter::startLiveSync()
{
    const auto folderId = m_state->folderId();
    const auto folderToken = m_state->folderToken();
    if (!folderId || !folderToken) {
        qCInfo(lcSyncAdapter) << "[LiveSync] startLiveSync skipped: no credentials";
        return;
    }
    qCInfo(lcSyncAdapter).noquote() << u"[LiveSync] starting, folder=%1"_s.arg(*folderId);
    stopLiveEngine();
    auto *engine
        = new LiveSyncEngine(*folderId, *folderToken, m_state->backendURL(), liveDeviceName(),
                             m_services.liveTimings, m_services.clock, this);
    setLiveEngine(engine);
    connect(engine, &LiveSyncEngine::connected, this, &MacSyncAdapter::liveSessionConnected);
    engine->open([self = QPointer<MacSyncAdapter>(this)](LiveSyncMessage message, LiveOrder order) {
        return receiveLive(self, std::move(message), order);
    });
}

QCoro::Task<> MacSyncAdapter::receiveLive(QPointer<MacSyncAdapter> adapter, LiveSyncMessage message,
                                          LiveOrder order)
{
    qCInfo(lcSyncAdapter).noquote() << u"[LiveSync] received: type=%1, device=%2"_s.arg(
        toString(message.type), message.device.value_or(u"?"_s));
    if (adapter)
        co_await adapter->applyLiveMessage(std::move(message), order);
}

void MacSyncAdapter::workspaceTextChanged()
{
    if (!m_workspace || !m_liveEngine || m_flushPending)
        return;
    m_flushPending = true;
    QMetaObject::invokeMethod(this, &MacSyncAdapter::flushLocalChange, Qt::QueuedConnection);
}

void MacSyncAdapter::flushLocalChange()
{
    if (!std::exchange(m_flushPending, false))
        return;
    WorkspaceState *ws = m_workspace.data();
    LiveSyncEngine *live = m_liveEngine.data();
    if (!ws || !live)
        return;
    if (ws->remoteEditGeneration() != m_lastRemoteGeneration) {
        // Written on behalf of another device: the new base, not a change of ours.
        setLastRemoteGeneration(ws->remoteEditGeneration());
        setLastKnownText(ws->text());
        return;
    }
    const QList<EditOp> ops = TextDiff::diff(m_lastKnownText, ws->text());
    if (ops.isEmpty()) {
        setLastKnownText(ws->text());
        return;
    }
    const auto path = relativePathOfOpenFile();
    if (!path || path->isEmpty()) {
        // Not a shared document: its history starts again when it is shared.
        m_document.reset();
        setLastKnownText(ws->text());
        return;
    }
    // The document's history starts from the text before this change.
    const std::optional<QJsonObject> merge = liveDocument(*path).change(ws->text());
    setLastKnownText(ws->text());
    live->sendEdit(*path, ops, merge);
    sentLiveChange();
}

void MacSyncAdapter::sendOpenFile()
{
    const auto path = relativePathOfOpenFile();
    if (path && !path->isEmpty())
        runDetached(openFileChanged(*path), u"Announcing the opened file"_s);
}

QCoro::Task<> MacSyncAdapter::openFileChanged(QString relativePath)
{
    WorkspaceState *ws = m_workspace.data();
    LiveSyncEngine *live = m_liveEngine.data();
    if (!live)
        co_return;
    // The text that came with the file is its base, not an edit of the file before it.
    m_flushPending = false;
    resetLiveDocument();
    live->sendSelect(relativePath);
    if (!ws)
        co_return;
    setLastKnownText(ws->text());
    setLastRemoteGeneration(ws->remoteEditGeneration());
    sendState(relativePath);
}

void MacSyncAdapter::sendCursorPosition()
{
    if (!m_workspace || !m_liveEngine)
        return;
    const auto path = relativePathOfOpenFile();
    if (path && !path->isEmpty())
        m_liveEngine->sendCursor(*path, m_workspace->cursorPosition());
}

void MacSyncAdapter::liveSessionConnected()
{
    // Peers may have missed anything while there was no connection: they get the whole document
    // as held here, merge it with theirs and answer with theirs when this one lacks something.
    flushLocalChange();
    const auto path = relativePathOfOpenFile();
    if (m_workspace && m_liveEngine && path && !path->isEmpty())
        sendState(*path);
}

LiveDocument &MacSyncAdapter::liveDocument(const QString &path)
{
    if (!m_document || m_documentPath != path) {
        // A name of its own for every history: numbers taken in an earlier one are never reused.
        const QString site = liveDeviceName() + u'/'
            + QString::number(QRandomGenerator::global()->generate64(), 36);
        m_document = std::make_unique<LiveDocument>(site, m_lastKnownText);
        m_documentPath = path;
    }
    return *m_document;
}

void MacSyncAdapter::sendState(const QString &path)
{
    LiveSyncEngine *live = m_liveEngine.data();
    if (!live)
        return;
    const LiveDocument &document = liveDocument(path);
    live->sendCurrentText(path, document.text(), document.state());
    m_peerBehind = false;
    m_announcePending = false;
}

QCoro::Task<> MacSyncAdapter::applyLiveMessage(LiveSyncMessage message, LiveOrder order)
{
    const QPointer<MacSyncAdapter> self(this);
    WorkspaceState *ws = m_workspace.data();
    if (!ws)
        co_return;
    // A local change not sent yet belongs before what arrives now.
    flushLocalChange();
    const auto openPath = relativePathOfOpenFile();
    // Edits and full texts change only the document they name.
    const bool forOpenFile
        = openPath && !openPath->isEmpty() && message.file && *message.file == *openPath;
    switch (message.type) {
    case LiveMessageType::Edit:
        if (forOpenFile && message.merge)
            receiveChange(message, *openPath);
        else if (forOpenFile && message.ops && !message.ops->isEmpty())
            receiveUnnamedEdit(message, order, *openPath);
        break;
    case LiveMessageType::Sync:
        if (forOpenFile && message.text && message.merge)
            receiveState(message, *openPath);
        else if (forOpenFile && message.text)
            receiveUnnamedText(message, order, *openPath);
        break;
    case LiveMessageType::Select: {
        if (!message.file || !ws->folderURL())
            break;
        const auto path = resolveInsideFolder(pathOf(*ws->folderURL()), *message.file);
        if (!path || !QFileInfo(*path).isFile())
            break;
        ws->setRemoteEditGeneration(nextGeneration(ws->remoteEditGeneration()));
        co_await ws->openFile(QUrl::fromLocalFile(*path));
        if (!self || m_workspace != ws)
            co_return;
        setLastKnownText(ws->text());
        setLastRemoteGeneration(ws->remoteEditGeneration());
        break;
    }
    case LiveMessageType::Cursor:
        // A peer's summary of its document: when it differs, ours goes out once the document is
        // quiet, and whoever lacks something then answers with theirs.
        if (forOpenFile && message.merge && message.merge->contains("digest"_L1)) {
            const LiveDocument &document = liveDocument(*openPath);
            if (LiveDocument::epochOf(*message.merge) != document.epoch()
                || message.merge->value("digest"_L1).toString() != document.digest())
                m_peerBehind = true;
        }
        break;
    case LiveMessageType::Scroll:
    case LiveMessageType::Ping:
    case LiveMessageType::Pong:
        break;
    }
    if (forOpenFile)
        noteLiveActivity();
}

void MacSyncAdapter::applyRemoteText(const QString &text)
{
    WorkspaceState *ws = m_workspace.data();
    if (ws->text() == text)
        return;
    // The generation goes up first: whoever sees the text change knows it came from elsewhere
    // (the editor keeps its caret; nothing is sent back).
    ws->setRemoteEditGeneration(nextGeneration(ws->remoteEditGeneration()));
    ws->setText(text);
    setLastKnownText(text);
    setLastRemoteGeneration(ws->remoteEditGeneration());
}

void MacSyncAdapter::receiveChange(const LiveSyncMessage &message, const QString &file)
{
    LiveDocument &document = liveDocument(file);
    switch (document.receive(*message.merge)) {
    case LiveDocument::Outcome::Applied:
        // Merged into the history, whatever crossed it: concurrent changes all stay.
        applyRemoteText(document.text());
        if (message.v && m_liveEngine)
            m_liveEngine->adopt(file, *message.v);
        break;
    case LiveDocument::Outcome::Foreign:
        // The sender's history started from another text: the two are settled by whole states.
        m_peerBehind = true;
        break;
    case LiveDocument::Outcome::Waiting: // checked once the document is quiet
    case LiveDocument::Outcome::Invalid:
        break;
    }
}

void MacSyncAdapter::receiveState(const LiveSyncMessage &message, const QString &file)
{
    LiveDocument &document = liveDocument(file);
    const LiveDocument::MergeResult result = document.merge(*message.merge, *message.text);
    if (result.outcome == LiveDocument::Outcome::Applied) {
        applyRemoteText(document.text());
        if (result.theyLack)
            m_peerBehind = true;
    } else if (result.outcome == LiveDocument::Outcome::Foreign) {
        adoptForeignHistory(message, file);
    }
}

// Two histories that started from different texts (a device opened the file in another state).
// Every device settles on the same one: the one with more changes, on a tie the smaller epoch.
// A device whose history loses carries its own changes over as a three-way merge against the
// last text it shared, sent as a change on the winning history.
void MacSyncAdapter::adoptForeignHistory(const LiveSyncMessage &message, const QString &file)
{
    LiveDocument &mine = liveDocument(file);
    const QString site
        = liveDeviceName() + u'/' + QString::number(QRandomGenerator::global()->generate64(), 36);
    std::optional<LiveDocument> theirs
        = LiveDocument::fromState(site, *message.merge, *message.text);
    if (!theirs)
        return;
    const qint64 ourWeight = mine.weight();
    const qint64 theirWeight = theirs->weight();
    if (ourWeight > theirWeight || (ourWeight == theirWeight && mine.epoch() <= theirs->epoch())) {
        m_peerBehind = true;
        return;
    }
    const QString merged = ourWeight == 0
        ? theirs->text()
        : LiveDocument::mergeTexts(mine.commonText(), mine.text(), theirs->text());
    const QString received = theirs->text();
    *m_document = std::move(*theirs);
    if (merged != received && m_liveEngine) {
        const std::optional<QJsonObject> change = m_document->change(merged);
        m_liveEngine->sendEdit(file, TextDiff::diff(received, merged), change);
        sentLiveChange();
    }
    applyRemoteText(merged);
}

// An edit of a peer that names no units: it counts on the text held here; when it fits it is
// taken as it is.
void MacSyncAdapter::receiveUnnamedEdit(const LiveSyncMessage &message, LiveOrder order,
                                        const QString &file)
{
    if (order == LiveOrder::Behind)
        return;
    const auto next = TextDiff::applyChecked(*message.ops, m_workspace->text());
    if (!next)
        return;
    liveDocument(file).change(*next);
    applyRemoteText(*next);
    if (message.v && m_liveEngine)
        m_liveEngine->adopt(file, *message.v);
}

// A whole text of a peer without its history: merged three ways against the last text shared.
void MacSyncAdapter::receiveUnnamedText(const LiveSyncMessage &message, LiveOrder order,
                                        const QString &file)
{
    if (order == LiveOrder::Behind || order == LiveOrder::Same)
        return;
    LiveDocument &document = liveDocument(file);
    const QString merged
        = LiveDocument::mergeTexts(document.commonText(), document.text(), *message.text);
    if (merged == document.text())
        return;
    const QString before = document.text();
    const std::optional<QJsonObject> change = document.change(merged);
    if (m_liveEngine) {
        m_liveEngine->sendEdit(file, TextDiff::diff(before, merged), change);
        if (message.v)
            m_liveEngine->adopt(file, *message.v);
    }
    applyRemoteText(merged);
    sentLiveChange();
}

void MacSyncAdapter::resetLiveDocument()
{
    m_document.reset();
    m_documentPath.clear();
    m_peerBehind = false;
    m_announcePending = false;
    if (m_repairTimer)
        m_repairTimer->stop();
}

void MacSyncAdapter::noteLiveActivity()
{
    if (m_peerBehind || m_announcePending || (m_document && m_document->hasWaiting()))
        m_repairTimer->start(m_services.liveTimings.repair);
}

void MacSyncAdapter::sentLiveChange()
{
    m_announcePending = true;
    noteLiveActivity();
}

// The document has been quiet for a while.
void MacSyncAdapter::repairIfInDoubt()
{
    flushLocalChange();
    const auto path = relativePathOfOpenFile();
    LiveSyncEngine *live = m_liveEngine.data();
    if (!m_workspace || !live || !path || path->isEmpty()) {
        resetLiveDocument();
        return;
    }
    const LiveDocument &document = liveDocument(*path);
    if (m_peerBehind || document.hasWaiting()) {
        // A peer lacks something of ours, or a change here waits for something never received:
        // the whole document goes out; whoever has more answers with theirs.
        sendState(*path);
    } else if (std::exchange(m_announcePending, false)) {
        // A frame of ours may have been lost on the way: peers compare and ask if it was.
        live->sendCursor(
            *path, m_workspace->cursorPosition(),
            QJsonObject {{"epoch"_L1, document.epoch()}, {"digest"_L1, document.digest()}});
    }
}
