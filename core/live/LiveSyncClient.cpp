#include "core/live/LiveSyncClient.h"

#include "core/live/LiveLog.h"

#include "platform/Urls.h"

#include <QWebSocket>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Full-text sync frames carry whole documents.
constexpr qint64 maxIncomingMessageSize = 64 * 1024 * 1024;
// How long a socket closing with "going away" may take to finish its close handshake.
constexpr auto closeGrace = 5s;

} // namespace

LiveSyncClient::LiveSyncClient(const QString &baseURL, const QString &folderId,
                               const QString &folderToken, LiveSyncTimings timings, Clock *clock,
                               QObject *parent)
    : QObject(parent)
    , m_baseURL(baseURL)
    , m_folderId(folderId)
    , m_folderToken(folderToken)
    , m_timings(timings)
    , m_clock(clock)
    , m_reconnectDelay(timings.reconnect)
{
    if (!m_clock) {
        m_ownClock = std::make_unique<Clock>();
        m_clock = m_ownClock.get();
    }
    Clock &timers = *m_clock;
    m_pingTimer = timers.createTimer([this] { sendPing(); });
    m_debounceTimer = timers.createTimer([this] { flushPendingEdits(); });
    m_reconnectTimer = timers.createTimer([this] { open(); });
    m_handshakeTimer = timers.createTimer([this] {
        if (m_open && !m_handshakeDone)
            handleDisconnect();
    });
    m_silenceTimer = timers.createTimer([this] {
        // A peer that stopped reading leaves the socket open and quiet: nothing else would ever
        // notice, and every edit sent into it would be lost.
        if (m_open)
            handleDisconnect();
    });
}

LiveSyncClient::~LiveSyncClient()
{
    if (!m_closed)
        close();
}

QCoro::AsyncGenerator<LiveSyncMessage> LiveSyncClient::messages()
{
    endStream();
    m_stream = std::make_unique<AsyncQueue<LiveSyncMessage>>();
    QCoro::AsyncGenerator<LiveSyncMessage> items = m_stream->items();
    if (m_closed)
        endStream();
    else
        open();
    return items;
}

// Messages not yet taken are dropped.
void LiveSyncClient::endStream()
{
    m_stream.reset();
}

void LiveSyncClient::close()
{
    m_closed = true;
    m_pingTimer->stop();
    m_reconnectTimer->stop();
    m_debounceTimer->stop();
    m_handshakeTimer->stop();
    m_silenceTimer->stop();
    releaseSocket(true);
    m_handshakeDone = false;
    m_outbox.clear();
    setOpen(false);
    endStream();
}

void LiveSyncClient::send(const LiveSyncMessage &message)
{
    if (!m_open || !m_socket)
        return;
    const auto json = message.encode();
    if (!json)
        return;
    const QString frame = QString::fromUtf8(*json);
    // Qt drops frames sent before the handshake without a word.
    if (!m_handshakeDone) {
        m_outbox.append(frame);
        return;
    }
    write(frame);
}

void LiveSyncClient::sendEditDebounced(const LiveSyncMessage &message)
{
    m_pendingEdits.append(message);
    m_debounceTimer->start(m_timings.debounce);
}

void LiveSyncClient::flushPendingEdits()
{
    // Each edit is a delta on the one before it: all of them go, in order, or (while no
    // connection is open) none of them.
    const QList<LiveSyncMessage> edits = std::exchange(m_pendingEdits, {});
    for (const LiveSyncMessage &edit : edits)
        send(edit);
}

std::optional<QUrl> LiveSyncClient::buildWebSocketURL() const
{
    return buildWebSocketURL(m_baseURL, m_folderId, m_folderToken);
}

std::optional<QUrl> LiveSyncClient::buildWebSocketURL(const QString &baseURL,
                                                      const QString &folderId,
                                                      const QString &folderToken)
{
    QString text = baseURL;
    if (text.endsWith(u'/'))
        text.chop(1);
    // The token is a secret inside a query: it must not be able to change the query's meaning.
    text += "/sync/folders/"_L1 + urls::encodePathSegment(folderId) + "/live?token="_L1
        + urls::encodeQueryValue(folderToken);
    // Another scheme would only fail again every few seconds.
    return urls::webSocketURL(QUrl(text));
}

void LiveSyncClient::open()
{
    if (m_closed)
        return;
    const auto url = buildWebSocketURL();
    if (!url) {
        qCWarning(lcLiveSync) << "LiveSync: failed to build WebSocket URL";
        endStream();
        return;
    }
    // Only the host: the URL carries the folder token.
    qCInfo(lcLiveSync).noquote() << u"LiveSync: connecting to %1"_s.arg(url->host());

    releaseSocket(false);
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(maxIncomingMessageSize);
    QObject::connect(socket, &QWebSocket::connected, this, &LiveSyncClient::handshakeDone);
    QObject::connect(socket, &QWebSocket::disconnected, this, &LiveSyncClient::handleDisconnect);
    // A refused connection reports both disconnected and error; the handler runs once.
    QObject::connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                     &LiveSyncClient::handleDisconnect);
    QObject::connect(socket, &QWebSocket::textMessageReceived, this, &LiveSyncClient::receiveText);
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                     &LiveSyncClient::receiveBinary);
    QObject::connect(socket, &QWebSocket::pong, this, &LiveSyncClient::heardFromPeer);
    m_socket = socket;
    m_framesSent = 0;
    m_framesReceived = 0;
    m_handshakeDone = false;
    m_outbox.clear();
    setOpen(true);
    // Every attempt starts the next wait afresh, so retries stay one interval apart.
    m_reconnectDelay = m_timings.reconnect;
    qCInfo(lcLiveSync) << "LiveSync: connected";
    m_handshakeTimer->start(m_timings.handshakeTimeout);
    m_pingTimer->start(m_timings.ping);
    socket->open(*url);
}

void LiveSyncClient::handleDisconnect()
{
    if (!m_open)
        return;
    qCWarning(lcLiveSync) << "LiveSync: connection lost, will reconnect";
    setOpen(false);
    m_handshakeDone = false;
    m_outbox.clear();
    m_pingTimer->stop();
    m_handshakeTimer->stop();
    m_silenceTimer->stop();
    releaseSocket(false);
    scheduleReconnect();
}

void LiveSyncClient::scheduleReconnect()
{
    m_reconnectTimer->start(m_reconnectDelay);
}

void LiveSyncClient::handshakeDone()
{
    if (!m_open)
        return;
    m_handshakeDone = true;
    m_handshakeTimer->stop();
    const QList<QString> outbox = std::exchange(m_outbox, {});
    for (const QString &frame : outbox)
        write(frame);
    Q_EMIT connected();
}

void LiveSyncClient::sendPing()
{
    send(LiveSyncMessage::ping());
    // The JSON ping reaches only the other devices; a protocol-level ping is answered by the
    // server itself, so a healthy connection hears something even when it is alone.
    if (m_socket && m_handshakeDone)
        m_socket->ping();
    if (!m_open)
        return;
    if (!m_silenceTimer->isActive())
        m_silenceTimer->start(2 * m_timings.ping);
    m_pingTimer->start(m_timings.ping);
}

void LiveSyncClient::heardFromPeer()
{
    m_silenceTimer->stop();
}

void LiveSyncClient::receiveText(const QString &frame)
{
    ++m_framesReceived;
    heardFromPeer();
    const auto message = LiveSyncMessage::decode(frame.toUtf8());
    if (!message)
        return;
    if (message->type == LiveMessageType::Ping) {
        send(LiveSyncMessage::pong());
        return;
    }
    if (m_stream)
        m_stream->push(*message);
}

void LiveSyncClient::receiveBinary(const QByteArray &frame)
{
    ++m_framesReceived;
    heardFromPeer();
    const auto message = LiveSyncMessage::decode(frame);
    if (message && m_stream)
        m_stream->push(*message);
}

void LiveSyncClient::write(const QString &frame)
{
    QPointer<QWebSocket> socket = m_socket;
    if (socket->sendTextMessage(frame) > 0) {
        ++m_framesSent;
        return;
    }
    // Not from inside the caller's send: the loss is handled on the next turn of the loop.
    QMetaObject::invokeMethod(
        this,
        [this, socket] {
            if (socket && socket == m_socket)
                handleDisconnect();
        },
        Qt::QueuedConnection);
}

void LiveSyncClient::setOpen(bool open)
{
    if (m_open == open)
        return;
    m_open = open;
    Q_EMIT isConnectedChanged(open);
}

void LiveSyncClient::releaseSocket(bool goingAway)
{
    QWebSocket *socket = m_socket;
    m_socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    if (goingAway && socket->state() == QAbstractSocket::ConnectedState) {
        // Let the close frame leave and the peer answer before the socket goes.
        socket->setParent(nullptr);
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        m_clock->singleShot(closeGrace, socket, [socket] { socket->deleteLater(); });
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        return;
    }
    // A lost connection is dropped without a close frame: code 1006 must never be sent.
    socket->abort();
    socket->deleteLater();
}
