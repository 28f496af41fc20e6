#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>

class QTcpServer;
class QTcpSocket;

// One request as a loopback fake received it.
struct LoopbackHttpRequest
{
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers; // names as received, in order
    QByteArray body;
    int connectionId = 0;
    qint64 receivedAtMs = 0;

    // Header names compare case-insensitively.
    bool hasHeader(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const;
    QJsonObject json() const;
};

// The HTTP side of the loopback fakes: listens on a free port, reads each request up to its head
// and its Content-Length body, and hands it over with its socket; the fake writes the answer. A
// connection reads its next request only after readNext() (keep-alive); a request line that is
// not "<method> <target> <version>" aborts the connection.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackHttpServer(QObject *parent = nullptr);
    // Aborts every open connection, without signals.
    ~LoopbackHttpServer() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost);
    bool isListening() const;
    QHostAddress address() const;
    quint16 port() const;
    // Connections accepted and still connected.
    int openConnectionCount() const;
    // The socket's connection is still known (it has not ended).
    bool isOpen(const QTcpSocket *socket) const;

    // Serves the connection's next request (on a later turn of the event loop when one is
    // already buffered).
    void readNext(QTcpSocket *socket);
    // Ends a connection from our side, after what was written (close) or at once (abort); its
    // end then does not count as the client's.
    void close(QTcpSocket *socket);
    void abort(QTcpSocket *socket);

    // The status line with its reason phrase, the headers and the blank line.
    static QByteArray head(int status, const QList<QPair<QByteArray, QByteArray>> &headers);
    // One chunk of a chunked body.
    static QByteArray chunk(const QByteArray &bytes);

signals:
    void requestReceived(const LoopbackHttpRequest &request, QTcpSocket *socket);
    // The connection is gone; byClient is false after close() or abort().
    void connectionEnded(QTcpSocket *socket, bool byClient);

private:
    struct Connection
    {
        int id = 0;
        QByteArray buffer;
        bool waiting = true; // reading the next request
        bool endedByServer = false;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer *m_server;
    QHash<QTcpSocket *, Connection> m_connections;
    int m_nextConnectionId = 1;
};
