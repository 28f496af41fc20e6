#pragma once

#include "fakes/http/LoopbackHttpServer.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

class QTcpSocket;

// A loopback stand-in for the AI providers (Anthropic SSE, OpenAI SSE, Ollama NDJSON) and the
// own service. Listens on 127.0.0.1 at a free port; every request it receives is recorded and
// answered with the next scripted Response. A response is a status line plus a list of steps:
// body writes (each its own TCP write and, when chunked, its own HTTP chunk), stalls, drops.
//
//   FakeAIServer server;
//   server.enqueue(FakeAIServer::Response::ok().writeInPieces(
//       FakeAIServer::anthropicEvents({"Hal", "lo"}), 7));
//   settings.setEndpoint(server.baseUrl());
//   … server.requests().first().json()["model"] …
class FakeAIServer : public QObject
{
    Q_OBJECT

public:
    using Request = LoopbackHttpRequest;

    class Response
    {
    public:
        enum class Framing {
            chunked, // a drop mid-body is visible to the client as an error
            contentLength, // the length of all write steps is announced up front
        };

        // 200 with the given content type, chunked.
        static Response ok(const QByteArray &contentType = "text/event-stream");
        // Any status with a whole body (written in one step, announced by Content-Length).
        static Response status(int code, const QByteArray &body = {},
                               const QByteArray &contentType = "application/json");
        // A redirect to location.
        static Response redirect(int code, const QByteArray &location);
        // Accepts the request and never answers, not even with a status line.
        static Response silence();

        Response &header(const QByteArray &name, const QByteArray &value);
        Response &framing(Framing framing);
        // Time between two steps (default none: one event-loop turn).
        Response &gap(std::chrono::milliseconds gap);

        // Body steps.
        Response &write(const QByteArray &bytes);
        Response &writeInPieces(const QByteArray &bytes, int pieceSize);
        // Splits bytes at the given byte offsets (ascending) into separate writes.
        Response &writeSplitAt(const QByteArray &bytes, const QList<int> &offsets);
        // Writes bytes count times (count < 0: until the client goes away).
        Response &repeat(const QByteArray &bytes, int count);
        // Sends nothing more until FakeAIServer::resumeStalled(); the connection stays open.
        Response &stall();
        // Closes the connection here, before the body is complete. (A close, not a reset: a
        // reset could discard data the client has not read yet.)
        Response &drop();

    private:
        friend class FakeAIServer;
        struct Step
        {
            enum Kind { write, repeat, stall, drop } kind;
            QByteArray bytes;
            int count = 1;
        };
        int m_status = 200;
        bool m_silent = false;
        QList<QPair<QByteArray, QByteArray>> m_headers;
        Framing m_framing = Framing::chunked;
        std::chrono::milliseconds m_gap {0};
        QList<Step> m_steps;
    };

    explicit FakeAIServer(QObject *parent = nullptr);
    ~FakeAIServer() override;

    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>", no trailing slash.
    QString baseUrl() const;

    // Responses are used in order, one per request; then the fallback (a 500 saying that nothing
    // was scripted).
    void enqueue(Response response);
    void setFallback(Response response);

    const QList<Request> &requests() const { return m_requests; }
    bool waitForRequests(int count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Connections the client closed or reset (aborted requests, timeouts).
    int connectionsClosedByClient() const { return m_closedByClient; }
    bool waitForClientClose(int count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Continues every stalled response with its next step.
    void resumeStalled();

    // A base URL on 127.0.0.1 where nothing listens (connection refused).
    static QString refusedBaseUrl();

    // Bodies in the providers' formats, one event or line per text.
    static QByteArray anthropicEvents(const QStringList &texts, bool withStop = true);
    static QByteArray openAIEvents(const QStringList &texts, bool withDone = true);
    static QByteArray ollamaLines(const QStringList &texts, bool withDone = true);

signals:
    void requestReceived(int index);
    void connectionClosedByClient();

private:
    struct Connection;

    void onRequest(const LoopbackHttpRequest &request, QTcpSocket *socket);
    void startResponse(const std::shared_ptr<Connection> &connection);
    void scheduleStep(const std::shared_ptr<Connection> &connection);
    void runStep(const std::shared_ptr<Connection> &connection);
    void writeBody(Connection &connection, const QByteArray &bytes);
    void endResponse(const std::shared_ptr<Connection> &connection);

    LoopbackHttpServer *m_http;
    QQueue<Response> m_queue;
    Response m_fallback;
    QList<Request> m_requests;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_connections;
    int m_closedByClient = 0;
};
