#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebSocketProtocol>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class Clock;
class ClockTimer;
class QWebSocket;
class QWebSocketServer;

// The live channel's server on loopback: relays every frame a connection sends to the other
// open connections of the same folder (/sync/folders/{id}/live), records what passes with
// timestamps, and injects faults (dropped or delayed frames, closed or aborted connections, a
// held handshake) and frames of its own.
class FakeLiveRelay : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        QString text;
        QByteArray binary;
        bool isBinary = false;
        qint64 atMs = 0; // since the relay was created
        // The frame's "type" value, empty when it has none.
        QString type() const;
    };

    struct Connection
    {
        int id = 0;
        QUrl requestUrl;
        QString folderId;
        QString token;
        QList<Frame> received; // what the connection sent
        QList<Frame> delivered; // what the relay sent to it (relayed or injected)
        std::optional<int> closeCode; // the code of the connection's close frame, if it sent one
        bool open = true;
        qint64 openedAtMs = 0;
        qint64 closedAtMs = 0;
    };

    explicit FakeLiveRelay(QObject *parent = nullptr);
    ~FakeLiveRelay() override;

    // 127.0.0.1; port 0 picks a free one. listen(port()) after stopListening() binds it again.
    bool listen(quint16 port = 0);
    void stopListening();
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>", the form the client gets as its backend URL.
    QString baseUrl() const;

    // Connections with another token are closed with 1008 (policy violation).
    void setExpectedToken(const QString &token) { m_expectedToken = token; }
    void setEchoToSender(bool echo) { m_echoToSender = echo; }

    // Faults. Dropped frames are recorded but not relayed.
    void dropNextFrames(int count) { m_dropNext = count; }
    void setDropFilter(std::function<bool(int connection, const Frame &)> filter)
    {
        m_dropFilter = std::move(filter);
    }
    // Relayed frames leave after this delay, still in order.
    void setRelayDelay(std::chrono::milliseconds delay) { m_delay = delay; }
    // Relayed frames wait on `clock` for as long as `delay` picks for each frame and receiving
    // connection; every connection still gets them in the order they came.
    void setFrameDelay(Clock *clock, std::function<std::chrono::milliseconds(int target)> delay);
    // Frames setFrameDelay holds back.
    int heldFrames() const { return int(m_held.size()); }
    void closeAll(QWebSocketProtocol::CloseCode code = QWebSocketProtocol::CloseCodeNormal);
    // TCP reset without a close frame.
    void abortAll();
    // Holds new connections before their handshake.
    void pauseAccepting();
    void resumeAccepting();

    void sendText(int connection, const QString &frame);
    void sendBinary(int connection, const QByteArray &frame);

    int connectionCount() const { return int(m_connections.size()); }
    int openConnectionCount() const;
    const Connection &connection(int id) const { return m_connections.at(std::size_t(id)); }
    int lastConnection() const { return connectionCount() - 1; }
    // The open connection that came last; -1 when none is open.
    int lastOpenConnection() const;
    int totalFrames() const;
    QList<Frame> framesOfType(int connection, const QString &type) const;
    QList<Frame> allFramesOfType(const QString &type) const;
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    bool waitForFrames(int total, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForConnections(int count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForOpenConnections(int count,
                                std::chrono::milliseconds timeout = std::chrono::seconds(10));

Q_SIGNALS:
    void connectionOpened(int id);
    void connectionClosed(int id);
    void frameReceived(int id);

private:
    struct Pending
    {
        qint64 dueMs;
        int target;
        Frame frame;
    };

    void accept();
    void receive(int id, Frame frame);
    void relay(int from, const Frame &frame);
    void deliver(int target, const Frame &frame);
    void deliverDue();
    void deliverHeld();

    QWebSocketServer *m_server;
    QElapsedTimer m_clock;
    quint16 m_port = 0;
    std::vector<Connection> m_connections;
    QHash<int, QPointer<QWebSocket>> m_sockets;
    QString m_expectedToken;
    bool m_echoToSender = false;
    int m_dropNext = 0;
    std::function<bool(int, const Frame &)> m_dropFilter;
    std::chrono::milliseconds m_delay {0};
    std::deque<Pending> m_pending;
    QTimer m_delayTimer;
    Clock *m_frameClock = nullptr;
    std::function<std::chrono::milliseconds(int)> m_frameDelay;
    std::unique_ptr<ClockTimer> m_heldTimer;
    std::vector<Pending> m_held;
    QHash<int, qint64> m_lastDue;
};
