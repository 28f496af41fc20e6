#include "LoopbackRequest.h"

#include "TestSupport.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>

namespace testsupport {

QJsonObject requestJson(quint16 port, const QByteArray &method, const QByteArray &target)
{
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(method + ' ' + target + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    waitUntil([&] { return closed; }, std::chrono::seconds(20));
    return QJsonDocument::fromJson(received.mid(received.indexOf("\r\n\r\n") + 4)).object();
}

} // namespace testsupport
