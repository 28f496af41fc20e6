#include "Ports.h"

#include <QTcpServer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

quint16 unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

quint16 listenOnFreePort(const std::function<bool(quint16)> &listen)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        const quint16 port = unusedPort();
        if (port != 0 && listen(port))
            return port;
    }
    return 0;
}

quint16 refusingPort()
{
    static const quint16 port = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return quint16(0);
        // Kept open (and never listening) until the process ends.
        return quint16(ntohs(address.sin_port));
    }();
    return port;
}

} // namespace testsupport
