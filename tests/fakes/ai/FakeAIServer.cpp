#include "fakes/ai/FakeAIServer.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct FakeAIServer::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool responding = false;
    bool stalled = false;
    bool closedByServer = false;
    Response response;
    qsizetype step = 0;
    int repeatsDone = 0;
};

namespace {

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

// --- Request ---

bool FakeAIServer::Request::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray FakeAIServer::Request::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QJsonObject FakeAIServer::Request::json() const
{
    return QJsonDocument::fromJson(body).object();
}

// --- Response ---

FakeAIServer::Response FakeAIServer::Response::ok(const QByteArray &contentType)
{
    Response r;
    r.m_status = 200;
    r.m_headers.append({"Content-Type", contentType});
    return r;
}

FakeAIServer::Response FakeAIServer::Response::status(int code, const QByteArray &body,
                                                      const QByteArray &contentType)
{
    Response r;
    r.m_status = code;
    r.m_headers.append({"Content-Type", contentType});
    r.m_framing = Framing::contentLength;
    if (!body.isEmpty())
        r.write(body);
    return r;
}

FakeAIServer::Response FakeAIServer::Response::redirect(int code, const QByteArray &location)
{
    Response r = status(code, "moved", "text/plain");
    r.header("Location", location);
    return r;
}

FakeAIServer::Response FakeAIServer::Response::silence()
{
    Response r;
    r.m_silent = true;
    return r;
}

FakeAIServer::Response &FakeAIServer::Response::header(const QByteArray &name,
                                                       const QByteArray &value)
{
    m_headers.append({name, value});
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::framing(Framing framing)
{
    m_framing = framing;
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::gap(std::chrono::milliseconds gap)
{
    m_gap = gap;
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::write(const QByteArray &bytes)
{
    m_steps.append(Step {Step::write, bytes, 1});
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::writeInPieces(const QByteArray &bytes,
                                                              int pieceSize)
{
    for (qsizetype i = 0; i < bytes.size(); i += qMax(1, pieceSize))
        write(bytes.mid(i, qMax(1, pieceSize)));
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::writeSplitAt(const QByteArray &bytes,
                                                             const QList<int> &offsets)
{
    qsizetype start = 0;
    for (int offset : offsets) {
        if (offset <= start || offset >= bytes.size())
            continue;
        write(bytes.mid(start, offset - start));
        start = offset;
    }
    write(bytes.mid(start));
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::repeat(const QByteArray &bytes, int count)
{
    m_steps.append(Step {Step::repeat, bytes, count});
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::stall()
{
    m_steps.append(Step {Step::stall, {}, 1});
    return *this;
}

FakeAIServer::Response &FakeAIServer::Response::drop()
{
    m_steps.append(Step {Step::drop, {}, 1});
    return *this;
}

// --- Server ---

FakeAIServer::FakeAIServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_fallback(Response::status(500, "{\"error\":\"FakeAIServer: no response scripted\"}"))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeAIServer::onNewConnection);
    m_server->listen(QHostAddress::LocalHost, 0);
}

FakeAIServer::~FakeAIServer()
{
    for (const auto &c : std::as_const(m_connections)) {
        c->closedByServer = true;
        if (c->socket) {
            c->socket->disconnect(this);
            c->socket->abort();
        }
    }
}

bool FakeAIServer::isListening() const
{
    return m_server->isListening();
}

quint16 FakeAIServer::port() const
{
    return m_server->serverPort();
}

QString FakeAIServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeAIServer::enqueue(Response response)
{
    m_queue.enqueue(std::move(response));
}

void FakeAIServer::setFallback(Response response)
{
    m_fallback = std::move(response);
}

bool FakeAIServer::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    return testsupport::waitUntil([&] { return m_requests.size() >= count; }, timeout);
}

bool FakeAIServer::waitForClientClose(int count, std::chrono::milliseconds timeout) const
{
    return testsupport::waitUntil([&] { return m_closedByClient >= count; }, timeout);
}

void FakeAIServer::resumeStalled()
{
    for (const auto &c : std::as_const(m_connections)) {
        if (c->stalled) {
            c->stalled = false;
            ++c->step;
            scheduleStep(c);
        }
    }
}

QString FakeAIServer::refusedBaseUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void FakeAIServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        m_connections.append(connection);
        connect(socket, &QTcpSocket::readyRead, this,
                [this, connection] { onReadyRead(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            if (!connection->closedByServer) {
                ++m_closedByClient;
                emit connectionClosedByClient();
            }
            connection->closedByServer = true;
            m_connections.removeOne(connection);
            if (connection->socket)
                connection->socket->deleteLater();
        });
    }
}

void FakeAIServer::onReadyRead(const std::shared_ptr<Connection> &connection)
{
    if (!connection->socket)
        return;
    connection->buffer.append(connection->socket->readAll());
    if (connection->responding)
        return;

    const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> headLines = connection->buffer.left(headEnd).split('\n');
    Request request;
    const QList<QByteArray> requestLine = headLines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < headLines.size(); ++i) {
        const QByteArray line = headLines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    if (connection->buffer.size() < headEnd + 4 + length)
        return;
    request.body = connection->buffer.mid(headEnd + 4, length);
    connection->buffer.remove(0, headEnd + 4 + length);

    m_requests.append(request);
    connection->responding = true;
    connection->response = m_queue.isEmpty() ? m_fallback : m_queue.dequeue();
    connection->step = 0;
    connection->repeatsDone = 0;
    emit requestReceived(int(m_requests.size() - 1));
    startResponse(connection);
}

void FakeAIServer::startResponse(const std::shared_ptr<Connection> &connection)
{
    const Response &r = connection->response;
    if (r.m_silent)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.m_status) + ' '
        + testsupport::httpReasonPhrase(r.m_status) + "\r\n";
    for (const auto &h : r.m_headers)
        head += h.first + ": " + h.second + "\r\n";
    if (r.m_framing == Response::Framing::chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else {
        qsizetype total = 0;
        for (const auto &step : r.m_steps) {
            if (step.kind == Response::Step::write)
                total += step.bytes.size();
            else if (step.kind == Response::Step::repeat)
                total += step.bytes.size() * qMax(0, step.count);
        }
        head += "Content-Length: " + QByteArray::number(total) + "\r\n";
    }
    head += "\r\n";
    connection->socket->write(head);
    connection->socket->flush();
    scheduleStep(connection);
}

void FakeAIServer::scheduleStep(const std::shared_ptr<Connection> &connection)
{
    QTimer::singleShot(connection->response.m_gap, this,
                       [this, connection] { runStep(connection); });
}

void FakeAIServer::runStep(const std::shared_ptr<Connection> &connection)
{
    if (!connection->socket || connection->closedByServer
        || connection->socket->state() != QAbstractSocket::ConnectedState)
        return;
    const auto &steps = connection->response.m_steps;
    if (connection->step >= steps.size()) {
        endResponse(connection);
        return;
    }
    const Response::Step &step = steps.at(connection->step);
    switch (step.kind) {
    case Response::Step::write:
        writeBody(*connection, step.bytes);
        ++connection->step;
        break;
    case Response::Step::repeat:
        if (step.count >= 0 && connection->repeatsDone >= step.count) {
            connection->repeatsDone = 0;
            ++connection->step;
            break;
        }
        writeBody(*connection, step.bytes);
        ++connection->repeatsDone;
        break;
    case Response::Step::stall:
        connection->stalled = true;
        return;
    case Response::Step::drop:
        connection->closedByServer = true;
        connection->socket->disconnectFromHost();
        return;
    }
    scheduleStep(connection);
}

void FakeAIServer::writeBody(Connection &connection, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (connection.response.m_framing == Response::Framing::chunked)
        connection.socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    else
        connection.socket->write(bytes);
    connection.socket->flush();
}

void FakeAIServer::endResponse(const std::shared_ptr<Connection> &connection)
{
    if (connection->response.m_framing == Response::Framing::chunked)
        connection->socket->write("0\r\n\r\n");
    connection->socket->flush();
    connection->responding = false;
    // Keep-alive: a request that arrived meanwhile on this connection is served next.
    if (!connection->buffer.isEmpty())
        QTimer::singleShot(0, this, [this, connection] { onReadyRead(connection); });
}

// --- Bodies ---

QByteArray FakeAIServer::anthropicEvents(const QStringList &texts, bool withStop)
{
    QByteArray out = "event: message_start\ndata: "
        + jsonLine({{"type", "message_start"},
                    {"message", QJsonObject {{"id", "msg_fake"}, {"role", "assistant"}}}})
        + "\n\n";
    out += "event: content_block_start\ndata: "
        + jsonLine({{"type", "content_block_start"},
                    {"index", 0},
                    {"content_block", QJsonObject {{"type", "text"}, {"text", ""}}}})
        + "\n\n";
    out += ": keep-alive comment\n\n";
    for (const QString &text : texts) {
        out += "event: content_block_delta\ndata: "
            + jsonLine({{"type", "content_block_delta"},
                        {"index", 0},
                        {"delta", QJsonObject {{"type", "text_delta"}, {"text", text}}}})
            + "\n\n";
    }
    out += "event: content_block_stop\ndata: "
        + jsonLine({{"type", "content_block_stop"}, {"index", 0}}) + "\n\n";
    if (withStop)
        out += "event: message_stop\ndata: " + jsonLine({{"type", "message_stop"}}) + "\n\n";
    return out;
}

QByteArray FakeAIServer::openAIEvents(const QStringList &texts, bool withDone)
{
    auto event = [](const QJsonObject &delta, const QJsonValue &finish) {
        return "data: "
            + jsonLine({{"id", "chatcmpl-fake"},
                        {"object", "chat.completion.chunk"},
                        {"choices",
                         QJsonArray {QJsonObject {
                             {"index", 0}, {"delta", delta}, {"finish_reason", finish}}}}})
            + "\n\n";
    };
    QByteArray out = event({{"role", "assistant"}, {"content", ""}}, QJsonValue::Null);
    for (const QString &text : texts)
        out += event({{"content", text}}, QJsonValue::Null);
    out += event({}, "stop");
    if (withDone)
        out += "data: [DONE]\n\n";
    return out;
}

QByteArray FakeAIServer::ollamaLines(const QStringList &texts, bool withDone)
{
    QByteArray out;
    for (const QString &text : texts) {
        out += jsonLine({{"model", "fake"},
                         {"message", QJsonObject {{"role", "assistant"}, {"content", text}}},
                         {"done", false}})
            + "\n";
    }
    if (withDone) {
        out += jsonLine({{"model", "fake"},
                         {"message", QJsonObject {{"role", "assistant"}, {"content", ""}}},
                         {"done", true}})
            + "\n";
    }
    return out;
}
