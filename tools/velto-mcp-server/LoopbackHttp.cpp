#include "tools/velto-mcp-server/LoopbackHttp.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

// A head longer than this is no answer of Velto's.
constexpr qsizetype maxHeadBytes = 64 * 1024;

// One request over loopback; deletes itself when it is done or abandoned.
class LoopbackRequest : public QObject
{
public:
    LoopbackRequest(quint16 port, QByteArray request, loopbackhttp::Done done)
        : m_port(port)
        , m_request(std::move(request))
        , m_done(std::move(done))
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            m_connected = true;
            m_socket.write(m_request);
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &LoopbackRequest::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (!m_connected)
                fail(unreachable(m_socket.errorString()));
            else if (m_socket.error() != QAbstractSocket::RemoteHostClosedError)
                finish();
        });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            fail(m_connected ? u"Velto did not answer within 60 seconds."_s
                             : unreachable(u"connection timed out"_s));
        });
        m_timer.start(60000);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

private:
    QString unreachable(const QString &detail) const
    {
        return u"Velto is not reachable on 127.0.0.1:%1 (%2). Start Velto and switch on its "
               u"local API in the settings (API tab); VELTO_API_PORT must name the port "
               u"shown there."_s.arg(m_port)
                   .arg(detail);
    }

    void read()
    {
        m_received += m_socket.readAll();
        // The answer is complete once its announced length is in; the server's close may come
        // later (or, through a proxy, not at all).
        const qsizetype headEnd = m_received.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_received.size() > maxHeadBytes)
                fail(u"Velto sent an answer that is not HTTP."_s);
            return;
        }
        const qint64 length = contentLength(m_received.left(headEnd));
        // Refused as soon as it shows, before it is read: the bridge holds no more than Velto
        // would take.
        if (length > loopbackhttp::maxAnswerBytes
            || m_received.size() - headEnd - 4 > loopbackhttp::maxAnswerBytes)
            return fail(tooLarge());
        if (length >= 0 && m_received.size() - headEnd - 4 >= length)
            finish();
    }

    static QString tooLarge()
    {
        return u"Velto's answer is larger than %1 bytes, the most the bridge reads (the limit of "
               u"Velto's API for one request); it was not read."_s.arg(
                   loopbackhttp::maxAnswerBytes);
    }

    static qint64 contentLength(const QByteArray &head)
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
                bool ok = false;
                const qint64 value = line.mid(colon + 1).trimmed().toLongLong(&ok);
                return ok && value >= 0 ? value : -1;
            }
        }
        return -1;
    }

    void finish()
    {
        if (!m_done)
            return;
        m_received += m_socket.read(loopbackhttp::maxAnswerBytes + maxHeadBytes);
        const qsizetype headEnd = m_received.indexOf("\r\n\r\n");
        if (headEnd >= 0 && m_received.size() - headEnd - 4 > loopbackhttp::maxAnswerBytes)
            return fail(tooLarge());
        if (!m_received.startsWith("HTTP/1.1 ") || headEnd < 0)
            return fail(m_received.isEmpty() ? u"Velto closed the connection without an answer."_s
                                             : u"Velto sent an answer that is not HTTP."_s);
        loopbackhttp::Answer answer;
        answer.status = m_received.mid(9, 3).toInt();
        for (const QByteArray &line : m_received.left(headEnd).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-type")
                answer.contentType = line.mid(colon + 1).trimmed();
        }
        answer.body = m_received.mid(headEnd + 4);
        const qint64 length = contentLength(m_received.left(headEnd));
        if (length >= 0 && answer.body.size() > length)
            answer.body.truncate(length);
        complete(std::move(answer), {});
    }

    void fail(const QString &failure) { complete(std::nullopt, failure); }

    void complete(std::optional<loopbackhttp::Answer> answer, const QString &failure)
    {
        if (!m_done)
            return;
        const auto done = std::exchange(m_done, {});
        m_timer.stop();
        m_socket.abort();
        deleteLater();
        done(std::move(answer), failure);
    }

public:
    void abandon()
    {
        m_done = {};
        m_socket.abort();
        deleteLater();
    }

private:
    quint16 m_port;
    QByteArray m_request;
    loopbackhttp::Done m_done;
    QTcpSocket m_socket;
    QTimer m_timer;
    QByteArray m_received;
    bool m_connected = false;
};

} // namespace

std::function<void()> loopbackhttp::request(quint16 port, const QString &token,
                                            const QByteArray &method, const QByteArray &target,
                                            const QByteArray &body, Done done)
{
    QByteArray message = method + ' ' + target
        + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    if (!token.isEmpty())
        message += "Authorization: Bearer " + token.toUtf8() + "\r\n";
    if (method == "POST")
        message += "Content-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n";
    message += "Connection: close\r\n\r\n" + body;
    QPointer<LoopbackRequest> call = new LoopbackRequest(port, message, std::move(done));
    return [call] {
        if (call)
            call->abandon();
    };
}
