#include "Velto/sync/MacSyncAdapter.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/sync/LocalSyncFolder.h"
#include "core/model/DocumentFile.h"
#include "core/sync/DownloadInstaller.h"
#include "core/sync/Sha256.h"
#include "core/sync/SyncEngine.h"
#include "core/sync/SyncFailure.h"
#include "platform/BackgroundPool.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SignalWait.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

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

std::optional<QString> MacSyncAdapter::syncedFolderPath() const
{
    if (!m_engine || !m_workspace || !m_workspace->folderURL())
        return std::nullopt;
    return pathOf(*m_workspace->folderURL());
}

QCoro::Task<> MacSyncAdapter::remoteChangePass()
{
    const QPointer<MacSyncAdapter> self(this);
    const QPointer<SyncEngine> engine = m_engine;
    const std::optional<QString> syncedFolder = syncedFolderPath();
    if (!syncedFolder)
        co_return;
    const QString folder = *syncedFolder;
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
                qCInfo(logSync).noquote() << u"[Sync] Skipped unsafe path: "_s + relative;
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
                    = co_await background::run(&sha256HexOfFile, path);
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
                    = co_await background::run(&sha256HexOfFile, downloaded);
                if (gone()) {
                    QFile::remove(file.path);
                    co_return;
                }
                if (!digest || digest->compare(*entry.sha256, Qt::CaseInsensitive) != 0) {
                    QFile::remove(file.path);
                    qCInfo(logSync).noquote()
                        << u"[Sync] Checksum mismatch, kept local: "_s + relative;
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
            qCInfo(logSync).noquote() << line + relative;
        }

        // Only what an earlier structure listed may go: a file made here and not uploaded yet,
        // or one whose upload failed, stays. An empty structure removes nothing.
        if (!structure.files.isEmpty()) {
            const QList<StructureFileEntry> localEntries
                = co_await background::run(&LocalSyncFolder::entries, folder);
            if (gone())
                co_return;
            QSet<QString> stillKnown = remotePaths;
            for (const StructureFileEntry &entry : localEntries) {
                const QString &relative = entry.relative_path;
                if (remotePaths.contains(relative))
                    continue;
                if (!known.contains(relative)) {
                    qCInfo(logSync).noquote() << u"[Sync] Kept local (not synced): "_s + relative;
                    continue;
                }
                if (LocalSyncFolder::moveToTrash(folder + u'/' + relative))
                    qCInfo(logSync).noquote() << u"[Sync] Removed local: "_s + relative;
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
            qCInfo(logSync).noquote() << u"[Sync] Remote change handling failed: "_s
                    + syncFailureDescription(std::current_exception());
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
        qCInfo(logSync).noquote() << u"[Sync] Open document modified; not reloaded"_s;
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
    const std::optional<QString> syncedFolder = syncedFolderPath();
    if (!syncedFolder)
        co_return;
    const QString folder = *syncedFolder;
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
            qCInfo(logSync).noquote() << u"[Sync] Fulfilled request: "_s + entry->relative_path;
        }
    } catch (...) {
        if (self)
            qCInfo(logSync).noquote() << u"[Sync] File request handling failed: "_s
                    + syncFailureDescription(std::current_exception());
    }
}
