#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The MCP side of the bridge: JSON-RPC 2.0 messages in, answers out. Each tool call becomes one
// request to Velto's local HTTP API through the injected transport.
class McpBridge
{
public:
    struct HttpAnswer
    {
        int status = 0;
        QByteArray contentType;
        QByteArray body;
    };
    // Sends one request to the API; nothing when Velto could not be reached (the text says why).
    using Transport = std::function<std::optional<HttpAnswer>(
        quint16 port, const QString &token, const QByteArray &method, const QByteArray &target,
        const QByteArray &body, QString *failure)>;

    struct Config
    {
        QString portText; // VELTO_API_PORT as given; empty = the default port
        QString token; // VELTO_API_TOKEN
    };

    explicit McpBridge(Config config, Transport transport = &McpBridge::httpOverLoopback);

    // One line of input (a message or a batch); the line to write back, or empty for none.
    QByteArray handleLine(const QByteArray &line);

    // The port the bridge talks to, or nothing with the reason when VELTO_API_PORT is unusable.
    std::optional<quint16> port(QString *problem = nullptr) const;

    static QJsonArray toolList();

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

    // The real transport: HTTP/1.1 over a TCP connection to 127.0.0.1.
    static std::optional<HttpAnswer> httpOverLoopback(quint16 port, const QString &token,
                                                      const QByteArray &method,
                                                      const QByteArray &target,
                                                      const QByteArray &body, QString *failure);

private:
    std::optional<QJsonObject> handleMessage(const QJsonValue &message);
    QJsonObject callTool(const QString &name, const QJsonObject &arguments, bool *known);

    Config m_config;
    Transport m_transport;
};
