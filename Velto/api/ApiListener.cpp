#include "Velto/api/ApiListener.h"

#include <unistd.h>

void ApiTcpServer::incomingConnection(qintptr descriptor)
{
    if (receivers(SIGNAL(descriptorAccepted(qintptr))) == 0) {
        ::close(int(descriptor));
        return;
    }
    emit descriptorAccepted(descriptor);
}

ApiListener::ApiListener(QObject *parent)
    : QObject(parent)
    , m_ipv4(new ApiTcpServer(this))
    , m_ipv6(new ApiTcpServer(this))
{
    for (ApiTcpServer *server : {m_ipv4, m_ipv6}) {
        // Bursts of short connections (load tools, agents) overflow the default backlog of 50.
        server->setListenBacklogSize(256);
        connect(server, &ApiTcpServer::descriptorAccepted, this, &ApiListener::descriptorAccepted);
    }
}

ApiListener::~ApiListener()
{
    close();
}

bool ApiListener::listen(quint16 port)
{
    close();
    if (!m_ipv4->listen(QHostAddress::LocalHost, port)) {
        m_error = m_ipv4->errorString();
        return false;
    }
    m_ipv6->listen(QHostAddress::LocalHostIPv6, m_ipv4->serverPort());
    m_error.clear();
    return true;
}

quint16 ApiListener::port() const
{
    return m_ipv4->serverPort();
}

bool ApiListener::isListeningOnIPv6() const
{
    return m_ipv6->isListening();
}

void ApiListener::close()
{
    m_ipv4->close();
    m_ipv6->close();
}
