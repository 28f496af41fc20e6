#include "Velto/sync/MacSyncAdapter.h"

#include "Velto/model/WorkspaceState.h"
#include "core/live/TextDiff.h"
#include "platform/Detached.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace {

// The counter only tells changes apart; it must never overflow into undefined behaviour.
qint64 nextGeneration(qint64 generation)
{
    return qint64(quint64(generation) + 1);
}

} // namespace

// ---- live editing

void MacSyncAdapter::startLiveSync()
{
    const auto folderId = m_state->folderId();
    const auto folderToken = m_state->folderToken();
    if (!folderId || !folderToken) {
        qCInfo(logSync) << "[LiveSync] startLiveSync skipped: no credentials";
        return;
    }
    qCInfo(logSync).noquote() << u"[LiveSync] starting, folder=%1"_s.arg(*folderId);
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
    qCInfo(logSync).noquote() << u"[LiveSync] received: type=%1, device=%2"_s.arg(
        toString(message.type), message.device.value_or(u"?"_s));
    if (adapter)
        co_await adapter->applyLiveMessage(std::move(message), order);
}

void MacSyncAdapter::workspaceTextChanged()
{
    if (m_workspace && m_liveEngine)
        m_localChange.post();
}

void MacSyncAdapter::flushLocalChange()
{
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
    m_localChange.cancel();
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
    m_localChange.flush();
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
    m_localChange.flush();
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
    m_localChange.flush();
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
