#include "McpBridge.h"

#include "platform/JsonFields.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrl>

#include <utility>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr quint16 defaultPort = 42932;

enum ErrorCode {
    ParseError = -32700,
    InvalidRequest = -32600,
    MethodNotFound = -32601,
    InvalidParams = -32602,
};

struct Tool
{
    QString name;
    QString description;
    QJsonObject properties;
    QStringList required;
    QByteArray method;
    QByteArray path;
    // Body keys passed on from the arguments (POST), or query parameters (GET with query).
    QStringList forwarded;
    bool query = false;
};

QJsonObject typed(const QString &type, const QString &description)
{
    return QJsonObject {{u"type"_s, type}, {u"description"_s, description}};
}

const QList<Tool> &tools()
{
    static const QList<Tool> list {
        {u"get_status"_s,
         u"Editor status: open file and folder, text length, word count, whether the document has "
         u"unsaved changes, theme and view modes."_s,
         {},
         {},
         "GET",
         "/api/status",
         {}},
        {u"get_workspace"_s,
         u"Workspace metadata: folder, open file, counts, reading time, number of headings and "
         u"the window title."_s,
         {},
         {},
         "GET",
         "/api/workspace",
         {}},
        {u"get_document"_s,
         u"The full Markdown text of the open document."_s,
         {},
         {},
         "GET",
         "/api/document/content",
         {}},
        {u"set_document"_s,
         u"Replaces the whole text of the open document (not saved to disk until save_document)."_s,
         {{u"content"_s, typed(u"string"_s, u"The new document text"_s)}},
         {u"content"_s},
         "POST",
         "/api/document/content",
         {u"content"_s}},
        {u"insert_text"_s,
         u"Inserts text at a 0-based line and column (columns count characters). A column past "
         u"the line end inserts at its end; a line past the last inserts at the document end."_s,
         {{u"text"_s, typed(u"string"_s, u"Text to insert"_s)},
          {u"line"_s, typed(u"integer"_s, u"0-based line, default 0"_s)},
          {u"column"_s, typed(u"integer"_s, u"0-based column in characters, default 0"_s)}},
         {u"text"_s},
         "POST",
         "/api/document/insert",
         {u"text"_s, u"line"_s, u"column"_s}},
        {u"replace_text"_s,
         u"Replaces every occurrence of a pattern in the open document. With regex true the "
         u"pattern is a regular expression and $1, $2 … in the replacement insert groups."_s,
         {{u"pattern"_s, typed(u"string"_s, u"Text or regular expression to find"_s)},
          {u"replacement"_s, typed(u"string"_s, u"Replacement text"_s)},
          {u"regex"_s, typed(u"boolean"_s, u"Treat the pattern as a regular expression"_s)}},
         {u"pattern"_s, u"replacement"_s},
         "POST",
         "/api/document/replace",
         {u"pattern"_s, u"replacement"_s, u"regex"_s}},
        {u"open_document"_s,
         u"Opens a Markdown file by its absolute path (a modified document is saved first)."_s,
         {{u"path"_s, typed(u"string"_s, u"Absolute file path"_s)}},
         {u"path"_s},
         "POST",
         "/api/document/open",
         {u"path"_s}},
        {u"create_document"_s,
         u"Starts a new document with optional content; with a path it is written there and "
         u"becomes the open file."_s,
         {{u"path"_s, typed(u"string"_s, u"Optional absolute path to save the new document to"_s)},
          {u"content"_s, typed(u"string"_s, u"Initial text, default empty"_s)}},
         {},
         "POST",
         "/api/document/create",
         {u"path"_s, u"content"_s}},
        {u"save_document"_s,
         u"Saves the open document to its file."_s,
         {},
         {},
         "POST",
         "/api/document/save",
         {}},
        {u"get_outline"_s,
         u"The headings of the open document with level, title and 1-based line."_s,
         {},
         {},
         "GET",
         "/api/document/outline",
         {}},
        {u"search_document"_s,
         u"Finds text in the open document (at most 100 hits, 0-based lines)."_s,
         {{u"query"_s, typed(u"string"_s, u"Text or regular expression to find"_s)},
          {u"regex"_s, typed(u"boolean"_s, u"Treat the query as a regular expression"_s)}},
         {u"query"_s},
         "GET",
         "/api/document/search",
         {u"query"_s, u"regex"_s},
         true},
        {u"list_files"_s,
         u"Lists the files of the open folder, optionally filtered by a name pattern such as "
         u"*.md."_s,
         {{u"glob"_s, typed(u"string"_s, u"Name filter, default *"_s)}},
         {},
         "GET",
         "/api/folder/files",
         {u"glob"_s},
         true},
        {u"open_folder"_s,
         u"Opens a folder by its absolute path as the workspace."_s,
         {{u"path"_s, typed(u"string"_s, u"Absolute folder path"_s)}},
         {u"path"_s},
         "POST",
         "/api/folder/open",
         {u"path"_s}},
        {u"get_frontmatter"_s,
         u"The YAML front matter block at the start of the open document, as text."_s,
         {},
         {},
         "GET",
         "/api/frontmatter",
         {}},
    };
    return list;
}

QJsonObject errorObject(int code, const QString &message)
{
    return QJsonObject {{u"code"_s, code}, {u"message"_s, message}};
}

QJsonObject response(const QJsonValue &id, const QJsonObject &result)
{
    return QJsonObject {{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}, {u"result"_s, result}};
}

QJsonObject errorResponse(const QJsonValue &id, int code, const QString &message)
{
    return QJsonObject {
        {u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}, {u"error"_s, errorObject(code, message)}};
}

bool hasType(const QJsonValue &value, const QString &type)
{
    if (type == u"string"_s)
        return value.isString();
    if (type == u"boolean"_s)
        return value.isBool();
    if (type == u"integer"_s)
        return jsonfields::wholeNumber(value).has_value();
    return true;
}

QJsonObject toolResult(const QString &text, bool isError)
{
    return QJsonObject {
        {u"content"_s, QJsonArray {QJsonObject {{u"type"_s, u"text"_s}, {u"text"_s, text}}}},
        {u"isError"_s, isError}};
}

QByteArray compact(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

} // namespace

McpBridge::McpBridge(Config config, Transport transport)
    : m_config(std::move(config))
    , m_transport(std::move(transport))
{
}

const QStringList &McpBridge::supportedProtocolVersions()
{
    static const QStringList versions {u"2025-11-25"_s, u"2025-06-18"_s, u"2025-03-26"_s,
                                       u"2024-11-05"_s};
    return versions;
}

QList<McpBridge::ToolRoute> McpBridge::toolRoutes()
{
    QList<ToolRoute> routes;
    for (const Tool &tool : tools())
        routes.append({tool.name, tool.method, tool.path, tool.forwarded});
    return routes;
}

QJsonArray McpBridge::toolList()
{
    QJsonArray list;
    for (const Tool &tool : tools()) {
        QJsonObject schema {{u"type"_s, u"object"_s}, {u"properties"_s, tool.properties}};
        if (!tool.required.isEmpty())
            schema.insert(u"required"_s, QJsonArray::fromStringList(tool.required));
        list.append(QJsonObject {{u"name"_s, tool.name},
                                 {u"description"_s, tool.description},
                                 {u"inputSchema"_s, schema}});
    }
    return list;
}

std::optional<quint16> McpBridge::port(QString *problem) const
{
    const QString text = m_config.portText.trimmed();
    if (text.isEmpty())
        return defaultPort;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535) {
        if (problem)
            *problem = u"VELTO_API_PORT must be a port number from 1 to 65535, not \"%1\"."_s.arg(
                m_config.portText);
        return std::nullopt;
    }
    return quint16(value);
}

QByteArray McpBridge::handleLine(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(trimmed, &error);
    if (error.error != QJsonParseError::NoError)
        return compact(errorResponse(QJsonValue::Null, ParseError, u"Parse error"_s));
    if (doc.isArray()) {
        QJsonArray answers;
        for (const QJsonValue &message : doc.array())
            if (const auto answer = handleMessage(message))
                answers.append(*answer);
        if (doc.array().isEmpty())
            return compact(errorResponse(QJsonValue::Null, InvalidRequest, u"Empty batch"_s));
        return answers.isEmpty() ? QByteArray() : compact(answers);
    }
    const auto answer = handleMessage(doc.object());
    return answer ? compact(*answer) : QByteArray();
}

std::optional<QJsonObject> McpBridge::handleMessage(const QJsonValue &value)
{
    if (!value.isObject())
        return errorResponse(QJsonValue::Null, InvalidRequest, u"Invalid request"_s);
    const QJsonObject message = value.toObject();
    const QJsonValue id = message.value(u"id"_s);
    const bool isRequest = id.isString() || id.isDouble();
    if (!message.contains(u"method"_s))
        return std::nullopt; // an answer to a request of ours; we send none
    if (message.value(u"jsonrpc"_s).toString() != u"2.0"_s
        || !message.value(u"method"_s).isString())
        return isRequest ? std::optional(errorResponse(id, InvalidRequest, u"Invalid request"_s))
                         : std::nullopt;
    const QString method = message.value(u"method"_s).toString();
    const QJsonObject params = message.value(u"params"_s).toObject();
    if (!isRequest)
        return std::nullopt; // notifications (initialized, cancelled, …) need no answer

    if (method == u"initialize"_s) {
        const QString requested = params.value(u"protocolVersion"_s).toString();
        const QString version = supportedProtocolVersions().contains(requested)
            ? requested
            : supportedProtocolVersions().first();
        return response(
            id,
            QJsonObject {{u"protocolVersion"_s, version},
                         {u"capabilities"_s,
                          QJsonObject {{u"tools"_s, QJsonObject {{u"listChanged"_s, false}}}}},
                         {u"serverInfo"_s,
                          QJsonObject {{u"name"_s, u"velto-mcp-server"_s},
                                       {u"title"_s, u"Velto"_s},
                                       {u"version"_s, QStringLiteral(VELTO_VERSION)}}},
                         {u"instructions"_s,
                          u"Reads and edits the document open in the Velto Markdown editor on this "
                          u"computer. Velto must be running with its local API enabled."_s}});
    }
    if (method == u"ping"_s)
        return response(id, QJsonObject {});
    if (method == u"tools/list"_s)
        return response(id, QJsonObject {{u"tools"_s, toolList()}});
    if (method == u"tools/call"_s) {
        const QJsonValue name = params.value(u"name"_s);
        const QJsonValue arguments = params.value(u"arguments"_s);
        if (!name.isString() || (!arguments.isUndefined() && !arguments.isObject()))
            return errorResponse(id, InvalidParams,
                                 u"tools/call needs a name and an arguments object"_s);
        bool known = false;
        const QJsonObject result = callTool(name.toString(), arguments.toObject(), &known);
        if (!known)
            return errorResponse(id, InvalidParams, u"Unknown tool: %1"_s.arg(name.toString()));
        return response(id, result);
    }
    return errorResponse(id, MethodNotFound, u"Method not found: %1"_s.arg(method));
}

QJsonObject McpBridge::callTool(const QString &name, const QJsonObject &arguments, bool *known)
{
    const Tool *tool = nullptr;
    for (const Tool &t : tools())
        if (t.name == name)
            tool = &t;
    *known = tool != nullptr;
    if (!tool)
        return {};

    for (const QString &key : tool->required)
        if (arguments.value(key).isNull() || arguments.value(key).isUndefined())
            return toolResult(u"Missing argument \"%1\"."_s.arg(key), true);
    // The API takes a value of the wrong type as absent and falls back to its default (a line
    // "3" would insert at the start), so a mistyped argument is refused here instead.
    // A null optional argument counts as left out, as the API treats it.
    for (auto it = tool->properties.begin(); it != tool->properties.end(); ++it) {
        const QJsonValue value = arguments.value(it.key());
        if (value.isUndefined() || value.isNull())
            continue;
        const QString type = it.value().toObject().value(u"type"_s).toString();
        if (!hasType(value, type))
            return toolResult(u"Argument \"%1\" must be %2 %3."_s.arg(
                                  it.key(), type == u"integer"_s ? u"an"_s : u"a"_s, type),
                              true);
    }

    QByteArray target = tool->path;
    QByteArray body;
    if (tool->query) {
        QByteArrayList pairs;
        for (const QString &key : tool->forwarded) {
            const QJsonValue v = arguments.value(key);
            QString text;
            if (v.isString())
                text = v.toString();
            else if (v.isBool())
                text = v.toBool() ? u"true"_s : u"false"_s;
            else
                continue;
            if (!text.isEmpty())
                pairs << key.toUtf8() + '=' + QUrl::toPercentEncoding(text);
        }
        if (!pairs.isEmpty())
            target += '?' + pairs.join('&');
    } else if (tool->method == "POST") {
        QJsonObject forwarded;
        for (const QString &key : tool->forwarded)
            if (arguments.contains(key))
                forwarded.insert(key, arguments.value(key));
        body = QJsonDocument(forwarded).toJson(QJsonDocument::Compact);
    }

    QString problem;
    const std::optional<quint16> apiPort = port(&problem);
    if (!apiPort)
        return toolResult(problem, true);
    QString failure;
    const auto answer = m_transport(*apiPort, m_config.token, tool->method, target, body, &failure);
    if (!answer)
        return toolResult(failure, true);
    const QString text = QString::fromUtf8(answer->body);
    if (answer->status == 401)
        return toolResult(u"Velto refused the API token. Set VELTO_API_TOKEN to the token shown "
                          u"in Velto's settings (API tab)."_s,
                          true);
    if (answer->status != 200)
        return toolResult(
            text.isEmpty() ? u"Velto answered with status %1."_s.arg(answer->status) : text, true);
    // The API reports a failed file operation as "ok": false with status 200. Only JSON answers
    // say so: the document text itself may well look like such an object.
    const QJsonDocument json = answer->contentType.startsWith("application/json")
        ? QJsonDocument::fromJson(answer->body)
        : QJsonDocument();
    const bool failed = json.isObject()
        && (json.object().value(u"ok"_s) == QJsonValue(false)
            || json.object().contains(u"error"_s));
    return toolResult(text, failed);
}

std::optional<McpBridge::HttpAnswer>
McpBridge::httpOverLoopback(quint16 port, const QString &token, const QByteArray &method,
                            const QByteArray &target, const QByteArray &body, QString *failure)
{
    const auto unreachable = [&](const QString &detail) {
        *failure = u"Velto is not reachable on 127.0.0.1:%1 (%2). Start Velto and switch on its "
                   u"local API in the settings (API tab); VELTO_API_PORT must name the port "
                   u"shown there."_s.arg(port)
                       .arg(detail);
        return std::nullopt;
    };
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return unreachable(socket.errorString());

    QByteArray request = method + ' ' + target
        + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token.toUtf8() + "\r\n";
    if (method == "POST")
        request += "Content-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + body;
    socket.write(request);

    // The API answers once and closes the connection.
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    constexpr int timeoutMs = 60000;
    while (clock.elapsed() < timeoutMs) {
        if (!socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            break;
        received += socket.readAll();
    }
    received += socket.readAll();
    if (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() >= timeoutMs) {
        *failure = u"Velto did not answer within 60 seconds."_s;
        return std::nullopt;
    }
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.1 ") || headEnd < 0) {
        *failure = received.isEmpty() ? u"Velto closed the connection without an answer."_s
                                      : u"Velto sent an answer that is not HTTP."_s;
        return std::nullopt;
    }
    HttpAnswer answer;
    answer.status = received.mid(9, 3).toInt();
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    qsizetype length = -1;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "content-type")
            answer.contentType = line.mid(colon + 1).trimmed();
        else if (name == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    answer.body = received.mid(headEnd + 4);
    if (length >= 0 && answer.body.size() > length)
        answer.body.truncate(length);
    return answer;
}
