#include "fakes/ai/FakeAIServer.h"

#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

// The response being written on one connection.
struct FakeAIServer::Connection
{
    QPointer<QTcpSocket> socket;
    bool stalled = false;
    bool closed = false;
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

// --- Response ---

FakeAIServer::Response FakeAIServer::Response::ok(const QByteArray &contentType)
{
    Response r;
    r.m_status = 200;
    r.m_headers.emplaceBack("Content-Type", contentType);
    return r;
}

FakeAIServer::Response FakeAIServer::Response::status(int code, const QByteArray &body,
                                                      const QByteArray &contentType)
{
    Response r;
    r.m_status = code;
    r.m_headers.emplaceBack("Content-Type", contentType);
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
    , m_http(new LoopbackHttpServer(this))
    , m_fallback(Response::status(500, "{\"error\":\"FakeAIServer: no response scripted\"}"))
{
    connect(m_http, &LoopbackHttpServer::requestReceived, this, &FakeAIServer::onRequest);
    connect(m_http, &LoopbackHttpServer::connectionEnded, this,
            [this](QTcpSocket *socket, bool byClient) {
                if (const auto connection = m_connections.take(socket))
                    connection->closed = true;
                if (byClient) {
                    ++m_closedByClient;
                    emit connectionClosedByClient();
                }
            });
    m_http->listen();
}

FakeAIServer::~FakeAIServer()
{
    for (const auto &c : std::as_const(m_connections))
        c->closed = true;
}

bool FakeAIServer::isListening() const
{
    return m_http->isListening();
}

quint16 FakeAIServer::port() const
{
    return m_http->port();
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
    return QStringLiteral("http://127.0.0.1:%1").arg(testsupport::refusingPort());
}

void FakeAIServer::onRequest(const LoopbackHttpRequest &request, QTcpSocket *socket)
{
    auto connection = m_connections.value(socket);
    if (!connection) {
        connection = std::make_shared<Connection>();
        connection->socket = socket;
        m_connections.insert(socket, connection);
    }
    m_requests.append(request);
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
    QList<QPair<QByteArray, QByteArray>> headers = r.m_headers;
    if (r.m_framing == Response::Framing::chunked) {
        headers.emplaceBack("Transfer-Encoding", "chunked");
    } else {
        qsizetype total = 0;
        for (const auto &step : r.m_steps) {
            if (step.kind == Response::Step::write)
                total += step.bytes.size();
            else if (step.kind == Response::Step::repeat)
                total += step.bytes.size() * qMax(0, step.count);
        }
        headers.emplaceBack("Content-Length", QByteArray::number(total));
    }
    connection->socket->write(LoopbackHttpServer::head(r.m_status, headers));
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
    if (!connection->socket || connection->closed
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
        m_http->close(connection->socket);
        return;
    }
    scheduleStep(connection);
}

void FakeAIServer::writeBody(Connection &connection, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (connection.response.m_framing == Response::Framing::chunked)
        connection.socket->write(LoopbackHttpServer::chunk(bytes));
    else
        connection.socket->write(bytes);
    connection.socket->flush();
}

void FakeAIServer::endResponse(const std::shared_ptr<Connection> &connection)
{
    if (connection->response.m_framing == Response::Framing::chunked)
        connection->socket->write("0\r\n\r\n");
    connection->socket->flush();
    // Keep-alive: the next request on this connection is served next.
    m_http->readNext(connection->socket);
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
