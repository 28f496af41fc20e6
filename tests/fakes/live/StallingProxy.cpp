#include "fakes/live/StallingProxy.h"

#include <QHostAddress>
#include <QTcpSocket>

StallingProxy::StallingProxy(quint16 targetPort, QObject *parent)
    : QObject(parent)
    , m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &StallingProxy::accept);
}

StallingProxy::~StallingProxy()
{
    for (Pair *pair : std::as_const(m_pairs)) {
        if (pair->client) {
            pair->client->disconnect(this);
            delete pair->client;
        }
        delete pair;
    }
    m_pairs.clear();
}

bool StallingProxy::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString StallingProxy::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void StallingProxy::stall()
{
    for (Pair *pair : std::as_const(m_pairs))
        pair->stalled = true;
}

void StallingProxy::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        ++m_connections;
        auto *target = new QTcpSocket(client);
        auto *pair = new Pair {client, target, false};
        m_pairs.append(pair);
        connect(client, &QObject::destroyed, this, [this, pair] {
            m_pairs.removeOne(pair);
            delete pair;
        });
        connect(client, &QTcpSocket::readyRead, this,
                [this, pair] { pass(pair, pair->client, pair->target); });
        connect(target, &QTcpSocket::readyRead, this,
                [this, pair] { pass(pair, pair->target, pair->client); });
        connect(target, &QTcpSocket::connected, this,
                [this, pair] { pass(pair, pair->client, pair->target); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(target, &QTcpSocket::disconnected, client, [client] { client->abort(); });
        target->connectToHost(QHostAddress::LocalHost, m_targetPort);
    }
}

void StallingProxy::pass(Pair *pair, QTcpSocket *from, QTcpSocket *to)
{
    // A stalled pair reads nothing: the bytes wait in the kernel as for a peer that hangs.
    if (pair->stalled || !from || !to || to->state() != QAbstractSocket::ConnectedState)
        return;
    to->write(from->readAll());
}
