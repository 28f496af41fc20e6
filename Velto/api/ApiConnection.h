#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QObject>

#include <chrono>

class QSocketNotifier;

// Limits of the request reader; tests shorten the timeouts.
struct ApiLimits
{
    qsizetype maxRequestBytes = 1'000'000;
    // From accept until the request is complete; a client that is still sending then is answered
    // with what it sent.
    std::chrono::milliseconds readTimeout {10'000};
    // After answering a request that was cut short, how long unread input is drained before the
    // socket is closed (closing with unread input makes the kernel reset the connection, which can
    // discard the answer before the client reads it).
    std::chrono::milliseconds lingerTimeout {2'000};
    int maxConnections = 512;
};

// One accepted TCP connection on a raw descriptor: reads one request until its head and
// Content-Length are complete, hands it on, writes one answer and closes. Plain descriptors
// instead of QTcpSocket because QTcpSocket closes the socket as soon as the client half-closes,
// before the answer can be written. Deletes itself after closing.
class ApiConnection : public QObject
{
    Q_OBJECT
public:
    ApiConnection(int descriptor, const ApiLimits &limits, QObject *parent);
    ~ApiConnection() override;

    // Writes the answer and closes. Ignored after the first call or once the client is gone.
    void respond(const QByteArray &bytes);
    bool isOpen() const { return m_fd >= 0; }
    // Closes without an answer.
    void drop() { closeNow(); }
    // Answers before the body is read (a head that already settles the answer) and closes.
    void respondToHead(const QByteArray &bytes);

    // How much this connection stands to lose if it is closed to make room, lowest first: a
    // client still sending its request (or one already answered) loses nothing it was promised,
    // an answer being written comes next, and a complete request being answered last.
    int evictionTier() const;
    // When this connection last moved (bytes in or out, a phase change); steady-clock ms.
    qint64 lastProgress() const { return m_lastProgress; }

signals:
    // The request head is complete; the body (if any) has not been read. A receiver may answer
    // right away with respondToHead.
    void headReceived(const QByteArray &head);
    // The request text: head, blank line and body up to Content-Length; valid UTF-8.
    void requestReceived(const QByteArray &text);
    // The request is larger than the cap allows; it is not read further.
    void requestTooLarge();
    void closed();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum class State { Reading, Waiting, Writing, Lingering, Closed };

    void onReadable();
    void onWritable();
    void takeInput(const char *data, qsizetype size);
    void onEndOfInput();
    void scanHead();
    void complete(QByteArray text, bool cut);
    void refuseTooLarge();
    void flushOutput();
    void afterWrite();
    void closeNow();
    void noteProgress();

    int m_fd;
    ApiLimits m_limits;
    State m_state = State::Reading;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QBasicTimer m_timer;

    QByteArray m_in;
    qsizetype m_headEnd = -1;
    qint64 m_contentLength = -1; // -1: not announced
    bool m_expectContinue = false;
    bool m_sentContinue = false;
    // A body follows a head that does not say how long it is: read until the client ends its
    // side, pauses, or closes a chunked body, and refuse it past the cap like any other.
    bool m_unframedBody = false;
    bool m_chunked = false;
    QBasicTimer m_quietTimer;
    qint64 m_lastProgress = 0;

    bool m_inputLeft = false; // the client may still be sending (cut request or input after it)
    bool m_peerClosed = false;

    QByteArray m_out;
    qsizetype m_written = 0;
};
