#pragma once

#include "core/live/LiveSyncMessage.h"
#include "core/live/LiveSyncTimings.h"

#include "platform/AsyncQueue.h"
#include "platform/Clock.h"

#include <QCoro/QCoroAsyncGenerator>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QWebSocket;

// The WebSocket of one sync folder's live channel. Frames sent before the handshake wait in an
// outbox; edits wait behind a short debounce and leave together; a ping keeps the connection
// alive, and a connection on which nothing at all arrives for two ping intervals after a ping
// counts as lost; a lost connection is retried until close() (see LiveSyncTimings). Lives on the
// thread that created it (the GUI thread).
class LiveSyncClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)

public:
    // The clock must outlive the client; nullptr means Qt timers.
    LiveSyncClient(const QString &baseURL, const QString &folderId, const QString &folderToken,
                   LiveSyncTimings timings = {}, Clock *clock = nullptr, QObject *parent = nullptr);
    ~LiveSyncClient() override;

    // Opens the socket and hands out every received message except the pings the client answers
    // itself. The stream survives reconnects; it ends on close() or when no URL can be built. A
    // second call ends the first stream.
    QCoro::AsyncGenerator<LiveSyncMessage> messages();

    // Closes with "going away" and ends the stream. Queued edits are neither sent nor cleared.
    // A closed client stays closed.
    void close();

    // Sends one message now (or after the handshake when the socket is still opening); dropped
    // while no connection is open.
    void send(const LiveSyncMessage &message);
    // Queues an edit; the queue leaves, oldest first, once no edit has come for the debounce time.
    void sendEditDebounced(const LiveSyncMessage &message);
    void flushPendingEdits();

    std::optional<QUrl> buildWebSocketURL() const;
    // ws/wss from http/https; nothing for a text that is no URL or has another scheme.
    static std::optional<QUrl> buildWebSocketURL(const QString &baseURL, const QString &folderId,
                                                 const QString &folderToken);

    // True from the moment a socket is opened until it is given up: says "opening or open".
    bool isConnected() const { return m_open; }
    bool isHandshakeDone() const { return m_handshakeDone; }
    qsizetype pendingEditCount() const { return m_pendingEdits.size(); }
    // Frames written to and read from the current socket (both start at 0 with every socket).
    qint64 framesSent() const { return m_framesSent; }
    qint64 framesReceived() const { return m_framesReceived; }
    // The wait before the next reconnect attempt.
    std::chrono::milliseconds reconnectDelay() const { return m_reconnectDelay; }

Q_SIGNALS:
    void isConnectedChanged(bool isConnected);
    // The handshake of a (new) socket completed: the peers may have missed what happened while
    // there was none.
    void connected();

private:
    void open();
    void endStream();
    void handleDisconnect();
    void scheduleReconnect();
    void handshakeDone();
    void receiveText(const QString &frame);
    void receiveBinary(const QByteArray &frame);
    void write(const QString &frame);
    void sendPing();
    void heardFromPeer();
    void setOpen(bool open);
    void releaseSocket(bool goingAway);

    QString m_baseURL;
    QString m_folderId;
    QString m_folderToken;
    LiveSyncTimings m_timings;
    std::unique_ptr<Clock> m_ownClock; // when none was handed in
    Clock *m_clock;

    QPointer<QWebSocket> m_socket;
    std::unique_ptr<AsyncQueue<LiveSyncMessage>> m_stream;
    bool m_open = false;
    bool m_handshakeDone = false;
    bool m_closed = false;
    std::chrono::milliseconds m_reconnectDelay;
    QList<LiveSyncMessage> m_pendingEdits;
    QList<QString> m_outbox;

    std::unique_ptr<ClockTimer> m_pingTimer;
    std::unique_ptr<ClockTimer> m_debounceTimer;
    std::unique_ptr<ClockTimer> m_reconnectTimer;
    std::unique_ptr<ClockTimer> m_handshakeTimer;
    // Runs from a ping until anything arrives; when it expires the connection is dead.
    std::unique_ptr<ClockTimer> m_silenceTimer;
    qint64 m_framesSent = 0;
    qint64 m_framesReceived = 0;
};
