#include "core/live/LiveSyncEngine.h"

#include "core/live/LiveLog.h"

#include "platform/Detached.h"
#include "platform/Paths.h"

#include <limits>

using namespace Qt::StringLiterals;

LiveSyncEngine::LiveSyncEngine(const QString &folderId, const QString &folderToken,
                               const QString &backendURL, const QString &deviceName,
                               LiveSyncTimings timings, Clock *clock, QObject *parent)
    : QObject(parent)
    , m_folderId(folderId)
    , m_folderToken(folderToken)
    , m_backendURL(backendURL)
    , m_deviceName(deviceName)
    , m_timings(timings)
    , m_clock(clock)
{
}

LiveSyncEngine::~LiveSyncEngine()
{
    close();
}

void LiveSyncEngine::open(MessageHandler onMessage)
{
    if (m_folderId.isEmpty() || m_folderToken.isEmpty()) {
        qCWarning(lcLiveSync) << "LiveSync: no folder credentials";
        return;
    }
    if (m_client)
        close();
    qCInfo(lcLiveSync).noquote() << u"LiveSync: connecting folder=%1"_s.arg(m_folderId);
    m_client
        = new LiveSyncClient(m_backendURL, m_folderId, m_folderToken, m_timings, m_clock, this);
    connect(m_client, &LiveSyncClient::connected, this, &LiveSyncEngine::connected);
    m_session.cancel();
    m_session = CancelToken();
    Q_EMIT isConnectedChanged(true);
    runDetached(forward(this, m_session, m_client->messages(), std::move(onMessage)),
                u"Live message handling"_s);
}

void LiveSyncEngine::close()
{
    m_session.cancel();
    if (LiveSyncClient *client = std::exchange(m_client, nullptr)) {
        client->close();
        // Never delete the client under a call that may still be running inside it.
        client->deleteLater();
        Q_EMIT isConnectedChanged(false);
    }
    m_fileVersions.clear();
}

void LiveSyncEngine::sendEdit(const QString &file, const QList<EditOp> &ops,
                              const std::optional<QJsonObject> &merge)
{
    auto message = LiveSyncMessage::edit(file, ops, nextVersion(file), m_deviceName);
    message.merge = merge;
    if (m_client)
        m_client->sendEditDebounced(message);
}

void LiveSyncEngine::sendSync(const QString &file, const QString &text)
{
    const auto message = LiveSyncMessage::sync(file, text, nextVersion(file), m_deviceName);
    if (m_client)
        m_client->send(message);
}

void LiveSyncEngine::sendCurrentText(const QString &file, const QString &text,
                                     const std::optional<QJsonObject> &merge)
{
    auto message = LiveSyncMessage::sync(file, text, fileVersion(file).value_or(0), m_deviceName);
    message.merge = merge;
    if (m_client)
        m_client->send(message);
}

void LiveSyncEngine::sendCursor(const QString &file, qint64 pos,
                                const std::optional<QJsonObject> &merge)
{
    auto message = LiveSyncMessage::cursor(file, pos, m_deviceName);
    message.merge = merge;
    if (m_client)
        m_client->send(message);
}

void LiveSyncEngine::sendSelect(const QString &file)
{
    if (m_client)
        m_client->send(LiveSyncMessage::select(file, m_deviceName));
}

void LiveSyncEngine::sendScroll(const QString &file, double offset)
{
    if (m_client)
        m_client->send(LiveSyncMessage::scroll(file, offset, m_deviceName));
}

std::optional<qint64> LiveSyncEngine::nextVersion(const QString &file)
{
    FileVersion &entry = m_fileVersions[file];
    entry.own = true;
    if (entry.version == std::numeric_limits<qint64>::max())
        return std::nullopt;
    return ++entry.version;
}

std::optional<qint64> LiveSyncEngine::fileVersion(const QString &file) const
{
    const auto it = m_fileVersions.constFind(file);
    if (it == m_fileVersions.cend())
        return std::nullopt;
    return it->version;
}

bool LiveSyncEngine::isOwnVersion(const QString &file) const
{
    const auto it = m_fileVersions.constFind(file);
    return it != m_fileVersions.cend() && it->own;
}

void LiveSyncEngine::adopt(const QString &file, qint64 version)
{
    if (version <= 0)
        return;
    const auto it = m_fileVersions.find(file);
    if (it == m_fileVersions.end())
        m_fileVersions.insert(file, {version, false});
    else if (version > it->version)
        *it = {version, false};
}

std::optional<LiveOrder> LiveSyncEngine::accept(const LiveSyncMessage &message) const
{
    // The path comes from another device; whatever acts on it later must be able to rely on it
    // naming a file inside the sync folder.
    if (message.file && !isSafeRelativePath(*message.file)) {
        qCWarning(lcLiveSync) << "LiveSync: dropped a message with an unsafe file path";
        return std::nullopt;
    }
    if (!message.file || !message.v)
        return LiveOrder::Unversioned;
    const qint64 v = *message.v;
    const qint64 known = fileVersion(*message.file).value_or(0);
    // A server that hands frames back to their sender: our own change, already in our text.
    // Changes that name their characters are told apart by their editing session instead (two
    // devices may share a name, and taking one's own change twice changes nothing).
    if (v <= known && message.device == m_deviceName && !message.merge
        && (message.type == LiveMessageType::Edit || message.type == LiveMessageType::Sync))
        return std::nullopt;
    if (v == known)
        return LiveOrder::Same;
    if (v < known)
        return LiveOrder::Behind;
    return v - known == 1 ? LiveOrder::Next : LiveOrder::Ahead;
}

QCoro::Task<> LiveSyncEngine::forward(QPointer<LiveSyncEngine> engine, CancelToken session,
                                      QCoro::AsyncGenerator<LiveSyncMessage> stream,
                                      MessageHandler onMessage)
{
    auto it = co_await stream.begin();
    while (it != stream.end()) {
        if (!engine || session.isCancelled())
            co_return;
        const LiveSyncMessage message = *it;
        if (const std::optional<LiveOrder> order = engine->accept(message)) {
            co_await onMessage(message, *order);
            if (!engine || session.isCancelled())
                co_return;
        }
        co_await ++it;
    }
}
