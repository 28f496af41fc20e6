#include "ApiTestSupport.h"

#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QJsonDocument>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace apitest {

namespace {

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n
            = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads into result until EOF, reset or timeout; stops early once `until` has arrived.
void receive(int fd, RawResult &result, const QByteArray &until = {})
{
    char buffer[65536];
    for (;;) {
        if (!until.isEmpty() && result.received.contains(until))
            return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            result.received.append(buffer, n);
            continue;
        }
        if (n == 0) {
            result.endOfStream = true;
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            result.timedOut = true;
        else if (errno == ECONNRESET)
            result.reset = true;
        return;
    }
}

RawResult runClient(quint16 port, const QList<QByteArray> &chunks, const RawOptions &options)
{
    RawResult result;
    const int fd = ::socket(options.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    timeval tv {options.receiveTimeoutMs / 1000, (options.receiveTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int rc;
    if (options.ipv6) {
        sockaddr_in6 addr {};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(port);
        addr.sin6_addr = in6addr_loopback;
        rc = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    } else {
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    if (rc != 0) {
        ::close(fd);
        return result;
    }
    result.connected = true;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (i > 0 && options.pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options.pauseMs));
        if (!sendAll(fd, chunks[i]))
            break;
        if (i == 0 && options.awaitContinue) {
            receive(fd, result, "HTTP/1.1 100 Continue\r\n\r\n");
            if (!result.received.contains("100 Continue"))
                break;
        }
    }
    if (options.halfClose)
        ::shutdown(fd, SHUT_WR);
    receive(fd, result);
    ::close(fd);
    return result;
}

} // namespace

std::future<RawResult> startRaw(quint16 port, QList<QByteArray> chunks, RawOptions options)
{
    return std::async(std::launch::async, [port, chunks = std::move(chunks), options] {
        return runClient(port, chunks, options);
    });
}

RawResult runRaw(quint16 port, QList<QByteArray> chunks, RawOptions options)
{
    std::future<RawResult> future = startRaw(port, std::move(chunks), options);
    testsupport::waitUntil(
        [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        std::chrono::seconds(30));
    return future.get();
}

QByteArray Reply::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

QJsonObject Reply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

Reply parseReply(const RawResult &raw)
{
    Reply reply;
    reply.closed = raw.endOfStream;
    QByteArray bytes = raw.received;
    // Skip an interim answer.
    if (bytes.startsWith("HTTP/1.1 100 Continue\r\n\r\n"))
        bytes.remove(0, 25);
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    reply.head = bytes.left(end);
    reply.body = bytes.mid(end + 4);
    const QList<QByteArray> lines = reply.head.split('\n');
    reply.status = lines.value(0).mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        reply.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return reply;
}

quint16 ApiFixture::listenOnFreePort()
{
    return testsupport::listenOnFreePort([this](quint16 candidate) {
        server->startListener(candidate);
        return server->activePort() == candidate;
    });
}

ApiLimits ApiFixture::limits() const
{
    ApiLimits l;
    l.readTimeout = std::chrono::milliseconds(3000);
    l.lingerTimeout = std::chrono::milliseconds(500);
    return l;
}

void ApiFixture::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    defaults = std::make_unique<Defaults>(dir.filePath(QStringLiteral("settings/defaults.json")));
    settings = std::make_unique<AppSettings>(*defaults);
    settings->setApiToken(QString());
    workspace = std::make_unique<WorkspaceState>(
        WorkspaceState::Services {nullptr, defaults.get(), &panels});
    server = std::make_unique<DebugServer>(*settings, limits());
    server->setWorkspace(workspace.get());
    port = listenOnFreePort();
    ASSERT_NE(port, 0);
    ASSERT_EQ(server->activePort(), port);
}

void ApiFixture::TearDown()
{
    server.reset();
    workspace.reset();
}

Reply ApiFixture::request(const QByteArray &method, const QByteArray &target,
                          const QByteArray &body, const QList<QByteArray> &extraHeaders)
{
    QByteArray text = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &h : extraHeaders)
        text += h + "\r\n";
    if (!body.isEmpty())
        text += "Content-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n";
    text += "\r\n" + body;
    return parseReply(runRaw(port, {text}));
}

Reply ApiFixture::post(const QByteArray &target, const QJsonObject &body)
{
    return request("POST", target, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

} // namespace apitest
