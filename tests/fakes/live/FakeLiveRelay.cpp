#include "fakes/live/FakeLiveRelay.h"

#include "platform/Clock.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

using namespace Qt::StringLiterals;

QString FakeLiveRelay::Frame::type() const
{
    const QByteArray bytes = isBinary ? binary : text.toUtf8();
    return QJsonDocument::fromJson(bytes).object().value("type"_L1).toString();
}

FakeLiveRelay::FakeLiveRelay(QObject *parent)
    : QObject(parent)
    , m_server(new QWebSocketServer(u"fake"_s, QWebSocketServer::NonSecureMode, this))
{
    m_clock.start();
    m_delayTimer.setSingleShot(true);
    connect(&m_delayTimer, &QTimer::timeout, this, &FakeLiveRelay::deliverDue);
    connect(m_server, &QWebSocketServer::newConnection, this, &FakeLiveRelay::accept);
}

FakeLiveRelay::~FakeLiveRelay()
{
    m_heldTimer.reset();
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }
}

bool FakeLiveRelay::listen(quint16 port)
{
    if (!m_server->listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server->serverPort();
    return true;
}

void FakeLiveRelay::stopListening()
{
    m_server->close();
}

QString FakeLiveRelay::baseUrl() const
{
    return u"http://127.0.0.1:%1"_s.arg(m_port);
}

void FakeLiveRelay::closeAll(QWebSocketProtocol::CloseCode code)
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->close(code);
    }
}

void FakeLiveRelay::abortAll()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->abort();
    }
}

void FakeLiveRelay::pauseAccepting()
{
    m_server->pauseAccepting();
}

void FakeLiveRelay::resumeAccepting()
{
    m_server->resumeAccepting();
}

void FakeLiveRelay::sendText(int connection, const QString &frame)
{
    deliver(connection, Frame {frame, {}, false, m_clock.elapsed()});
}

void FakeLiveRelay::sendBinary(int connection, const QByteArray &frame)
{
    deliver(connection, Frame {{}, frame, true, m_clock.elapsed()});
}

int FakeLiveRelay::openConnectionCount() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const Connection &c) { return c.open; }));
}

int FakeLiveRelay::lastOpenConnection() const
{
    for (int id = connectionCount() - 1; id >= 0; --id) {
        if (m_connections[std::size_t(id)].open)
            return id;
    }
    return -1;
}

int FakeLiveRelay::totalFrames() const
{
    int total = 0;
    for (const Connection &c : m_connections)
        total += int(c.received.size());
    return total;
}

QList<FakeLiveRelay::Frame> FakeLiveRelay::framesOfType(int connection, const QString &type) const
{
    QList<Frame> frames;
    for (const Frame &f : m_connections.at(std::size_t(connection)).received) {
        if (f.type() == type)
            frames.append(f);
    }
    return frames;
}

QList<FakeLiveRelay::Frame> FakeLiveRelay::allFramesOfType(const QString &type) const
{
    QList<Frame> frames;
    for (int id = 0; id < connectionCount(); ++id)
        frames += framesOfType(id, type);
    return frames;
}

bool FakeLiveRelay::waitForFrames(int total, std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([&] { return totalFrames() >= total; }, timeout);
}

bool FakeLiveRelay::waitForConnections(int count, std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([&] { return connectionCount() >= count; }, timeout);
}

bool FakeLiveRelay::waitForOpenConnections(int count, std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([&] { return openConnectionCount() >= count; }, timeout);
}

void FakeLiveRelay::accept()
{
    while (QWebSocket *socket = m_server->nextPendingConnection()) {
        const int id = connectionCount();
        Connection c;
        c.id = id;
        c.requestUrl = socket->requestUrl();
        const QStringList path = c.requestUrl.path().split(u'/');
        // "", "sync", "folders", id, "live"
        if (path.size() == 5 && path[1] == "sync"_L1 && path[2] == "folders"_L1
            && path[4] == "live"_L1)
            c.folderId = path[3];
        c.token = QUrlQuery(c.requestUrl).queryItemValue(u"token"_s, QUrl::FullyDecoded);
        c.openedAtMs = m_clock.elapsed();
        m_connections.push_back(c);
        m_sockets.insert(id, socket);
        socket->setParent(this);

        connect(socket, &QWebSocket::textMessageReceived, this, [this, id](const QString &text) {
            receive(id, Frame {text, {}, false, m_clock.elapsed()});
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, id](const QByteArray &bytes) {
                    receive(id, Frame {{}, bytes, true, m_clock.elapsed()});
                });
        connect(socket, &QWebSocket::disconnected, this, [this, id, socket] {
            Connection &conn = m_connections[std::size_t(id)];
            if (!conn.open)
                return;
            conn.open = false;
            conn.closedAtMs = m_clock.elapsed();
            // Qt reports CloseCodeNormal when no close frame came; a close frame sets the reason
            // or a code of its own.
            if (socket->closeCode() != QWebSocketProtocol::CloseCodeNormal
                || !socket->closeReason().isEmpty())
                conn.closeCode = int(socket->closeCode());
            socket->deleteLater();
            Q_EMIT connectionClosed(id);
        });
        if (!m_expectedToken.isEmpty() && c.token != m_expectedToken) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        Q_EMIT connectionOpened(id);
    }
}

void FakeLiveRelay::receive(int id, Frame frame)
{
    m_connections[std::size_t(id)].received.append(frame);
    Q_EMIT frameReceived(id);
    if (m_dropNext > 0) {
        --m_dropNext;
        return;
    }
    if (m_dropFilter && m_dropFilter(id, frame))
        return;
    relay(id, frame);
}

void FakeLiveRelay::relay(int from, const Frame &frame)
{
    const QString folder = m_connections[std::size_t(from)].folderId;
    for (const Connection &c : m_connections) {
        if (!c.open || c.folderId != folder || (c.id == from && !m_echoToSender))
            continue;
        if (m_frameDelay) {
            const qint64 now = m_frameClock->now().toMSecsSinceEpoch();
            const qint64 due
                = std::max(now + qint64(m_frameDelay(c.id).count()), m_lastDue.value(c.id));
            m_lastDue.insert(c.id, due);
            m_held.push_back({due, c.id, frame});
            deliverHeld();
        } else if (m_delay.count() > 0) {
            m_pending.push_back({m_clock.elapsed() + m_delay.count(), c.id, frame});
            if (!m_delayTimer.isActive())
                m_delayTimer.start(m_delay);
        } else {
            deliver(c.id, frame);
        }
    }
}

void FakeLiveRelay::deliver(int target, const Frame &frame)
{
    const QPointer<QWebSocket> socket = m_sockets.value(target);
    if (!socket || !m_connections[std::size_t(target)].open)
        return;
    Frame sent = frame;
    sent.atMs = m_clock.elapsed();
    m_connections[std::size_t(target)].delivered.append(sent);
    if (frame.isBinary)
        socket->sendBinaryMessage(frame.binary);
    else
        socket->sendTextMessage(frame.text);
}

void FakeLiveRelay::deliverDue()
{
    const qint64 now = m_clock.elapsed();
    while (!m_pending.empty() && m_pending.front().dueMs <= now) {
        const Pending p = m_pending.front();
        m_pending.pop_front();
        deliver(p.target, p.frame);
    }
    if (!m_pending.empty())
        m_delayTimer.start(
            std::chrono::milliseconds(std::max<qint64>(m_pending.front().dueMs - now, 0)));
}

void FakeLiveRelay::setFrameDelay(Clock *clock,
                                  std::function<std::chrono::milliseconds(int target)> delay)
{
    m_frameClock = clock;
    m_frameDelay = std::move(delay);
    m_heldTimer = clock->createTimer([this] { deliverHeld(); });
}

void FakeLiveRelay::deliverHeld()
{
    const qint64 now = m_frameClock->now().toMSecsSinceEpoch();
    // In arrival order: a connection's due times never fall, so its frames keep their order.
    std::vector<Pending> due;
    std::erase_if(m_held, [&](const Pending &p) {
        if (p.dueMs > now)
            return false;
        due.push_back(p);
        return true;
    });
    for (const Pending &p : due)
        deliver(p.target, p.frame);
    if (m_held.empty())
        return;
    qint64 next = m_held.front().dueMs;
    for (const Pending &p : m_held)
        next = std::min(next, p.dueMs);
    m_heldTimer->start(std::chrono::milliseconds(next - now));
}
