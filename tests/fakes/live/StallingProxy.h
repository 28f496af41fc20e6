#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A TCP relay on 127.0.0.1 in front of another loopback server: passes bytes both ways until
// stall(), after which the connections open at that moment stay open but nothing passes in
// either direction any more, as with a peer that silently stopped reading. Connections made
// later pass bytes again.
class StallingProxy : public QObject
{
    Q_OBJECT
public:
    explicit StallingProxy(quint16 targetPort, QObject *parent = nullptr);
    ~StallingProxy() override;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const;
    void stall();
    int connectionCount() const { return m_connections; }

private:
    struct Pair
    {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> target;
        bool stalled = false;
    };

    void accept();
    void pass(Pair *pair, QTcpSocket *from, QTcpSocket *to);

    QTcpServer m_server;
    quint16 m_targetPort;
    QList<Pair *> m_pairs;
    int m_connections = 0;
};
