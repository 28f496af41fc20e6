#pragma once

#include "tools/velto-mcp-server/LoopbackHttp.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// The MCP side of the bridge: JSON-RPC 2.0 messages in, answers out. Each tool call (the tools
// are in McpToolTable) becomes one request to Velto's local HTTP API through the injected
// transport (LoopbackHttp in the program). Calls run asynchronously, so a ping or a cancellation
// is answered while a call waits for Velto. Main thread only.
class McpBridge
{
public:
    using HttpAnswer = loopbackhttp::Answer;
    using Done = loopbackhttp::Done;
    // Starts one request to the API and calls `done` once, later. Returns a function that
    // abandons the request; `done` is then never called.
    using Transport = std::function<std::function<void()>(
        quint16 port, const QString &token, const QByteArray &method, const QByteArray &target,
        const QByteArray &body, Done done)>;
    // Writes one line of output (a message or a batch).
    using Output = std::function<void(const QByteArray &line)>;

    struct Config
    {
        QString portText; // VELTO_API_PORT as given; empty = the default port
        QString token; // VELTO_API_TOKEN
    };

    McpBridge(Config config, Output output, Transport transport = &loopbackhttp::request);
    ~McpBridge();

    // One line of input (a message or a batch); its answers go to the output, now or once the
    // tool calls in it have finished. Numeric ids are answered with their text as received.
    void handleLine(const QByteArray &line);
    // A line longer than maxLineBytes, which the reader dropped instead of buffering it.
    void handleOversizedLine();

    static constexpr qsizetype maxAnswerBytes = loopbackhttp::maxAnswerBytes;
    // One input line: a request the API would take, even with every character escaped.
    static constexpr qsizetype maxLineBytes = 8'000'000;
    // Tool calls still waiting for Velto.
    int pendingCalls() const { return int(m_pending.size()); }

    // The port the bridge talks to, or nothing with the reason when VELTO_API_PORT is unusable.
    std::optional<quint16> port(QString *problem = nullptr) const;
    // Why VELTO_API_TOKEN cannot be sent, if it cannot (a line break would end the header).
    std::optional<QString> tokenProblem() const;

    // The API request behind each tool, and the arguments it passes on (as body members for
    // POST, as query parameters for GET).
    struct ToolRoute
    {
        QString name;
        QByteArray method;
        QByteArray path;
        QStringList forwarded;
    };
    static QList<ToolRoute> toolRoutes();
    static const QStringList &supportedProtocolVersions();

private:
    struct Batch;
    using Answer = std::function<void(std::optional<QJsonObject>)>;
    void handleMessage(const QJsonValue &message, Answer answer);
    void callTool(const QJsonValue &id, const QString &name, const QJsonObject &arguments,
                  Answer answer);
    void cancel(const QJsonValue &requestId);
    void write(const QByteArray &line);
    QByteArray withRawIds(const QByteArray &line) const;

    Config m_config;
    Output m_output;
    Transport m_transport;
    // Calls waiting for Velto, by request id (as compact JSON, so 1 and "1" differ).
    QHash<QByteArray, std::function<void()>> m_pending;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Numeric ids travel through the bridge as strings starting with this prefix and are written
    // back as the number text they came as (a double would round 20-digit ids).
    QByteArray m_rawIdPrefix;
};
