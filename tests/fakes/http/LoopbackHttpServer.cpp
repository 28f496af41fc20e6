#include "fakes/http/LoopbackHttpServer.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

bool LoopbackHttpRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray LoopbackHttpRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QJsonObject LoopbackHttpRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    const QList<QTcpSocket *> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool LoopbackHttpServer::listen(const QHostAddress &address)
{
    return m_server->listen(address, 0);
}

bool LoopbackHttpServer::isListening() const
{
    return m_server->isListening();
}

QHostAddress LoopbackHttpServer::address() const
{
    return m_server->serverAddress();
}

quint16 LoopbackHttpServer::port() const
{
    return m_server->serverPort();
}

int LoopbackHttpServer::openConnectionCount() const
{
    int n = 0;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        n += it.key()->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return n;
}

bool LoopbackHttpServer::isOpen(const QTcpSocket *socket) const
{
    return m_connections.contains(const_cast<QTcpSocket *>(socket));
}

void LoopbackHttpServer::readNext(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->waiting = true;
    if (!it->buffer.isEmpty()) {
        QTimer::singleShot(0, socket, [this, socket] { onReadyRead(socket); });
    }
}

void LoopbackHttpServer::close(QTcpSocket *socket)
{
    if (const auto it = m_connections.find(socket); it != m_connections.end())
        it->endedByServer = true;
    socket->disconnectFromHost();
}

void LoopbackHttpServer::abort(QTcpSocket *socket)
{
    if (const auto it = m_connections.find(socket); it != m_connections.end())
        it->endedByServer = true;
    socket->abort();
}

QByteArray LoopbackHttpServer::head(int status, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' '
        + testsupport::httpReasonPhrase(status) + "\r\n";
    for (const auto &h : headers)
        out += h.first + ": " + h.second + "\r\n";
    return out + "\r\n";
}

QByteArray LoopbackHttpServer::chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_connections.insert(socket, Connection {m_nextConnectionId++});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            const auto it = m_connections.find(socket);
            if (it == m_connections.end())
                return;
            const bool byClient = !it->endedByServer;
            m_connections.erase(it);
            socket->deleteLater();
            emit connectionEnded(socket, byClient);
        });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    Connection &c = *it;
    c.buffer += socket->readAll();
    if (!c.waiting)
        return;
    const qsizetype headEnd = c.buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = c.buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() < 3) {
        c.waiting = false;
        abort(socket);
        return;
    }
    LoopbackHttpRequest request;
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    if (c.buffer.size() < headEnd + 4 + length)
        return;
    request.body = c.buffer.mid(headEnd + 4, length);
    c.buffer.remove(0, headEnd + 4 + length);
    request.connectionId = c.id;
    request.receivedAtMs = QDateTime::currentMSecsSinceEpoch();
    c.waiting = false;
    emit requestReceived(request, socket);
}
