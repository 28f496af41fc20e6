#include "McpBridge.h"

#include "platform/JsonFields.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr quint16 defaultPort = 42932;
// A head longer than this is no answer of Velto's.
constexpr qsizetype maxHeadBytes = 64 * 1024;

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

// JSON's number syntax, exactly.
bool isJsonNumber(QByteArrayView text)
{
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - from;
    };
    if (i < text.size() && text[i] == '-')
        ++i;
    if (i < text.size() && text[i] == '0')
        ++i;
    else if (digits() == 0)
        return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0)
            return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == text.size();
}

// The line with the number of every "id" and "requestId" member turned into a string of the
// prefix and the number's text, so the parser cannot round it. Strings are copied untouched.
QByteArray markNumericIds(const QByteArray &line, const QByteArray &prefix)
{
    QByteArray out;
    out.reserve(line.size() + 64);
    QByteArrayView lastString;
    bool afterString = false;
    bool idValueNext = false;
    qsizetype i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '"') {
            qsizetype end = i + 1;
            while (end < line.size() && line[end] != '"')
                end += line[end] == '\\' ? 2 : 1;
            end = std::min(end + 1, line.size());
            lastString = QByteArrayView(line).sliced(i + 1, std::max<qsizetype>(end - i - 2, 0));
            out.append(QByteArrayView(line).sliced(i, end - i));
            i = end;
            afterString = true;
            idValueNext = false;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            out += c;
            ++i;
            continue;
        }
        if (c == ':') {
            idValueNext = afterString && (lastString == "id" || lastString == "requestId");
        } else if (idValueNext && (c == '-' || (c >= '0' && c <= '9'))) {
            qsizetype end = i;
            while (end < line.size() && line[end] != 0 && std::strchr("0123456789+-.eE", line[end]))
                ++end;
            const QByteArrayView number = QByteArrayView(line).sliced(i, end - i);
            if (isJsonNumber(number)) {
                out += '"' + prefix + number.toByteArray() + '"';
                i = end;
                afterString = idValueNext = false;
                continue;
            }
        }
        if (c != ':')
            idValueNext = false;
        afterString = false;
        out += c;
        ++i;
    }
    return out;
}

QByteArray compact(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

} // namespace

McpBridge::McpBridge(Config config, Output output, Transport transport)
    : m_config(std::move(config))
    , m_output(std::move(output))
    , m_transport(std::move(transport))
    , m_rawIdPrefix(
          "velto-raw-id:" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ':')
{
}

void McpBridge::write(const QByteArray &line)
{
    m_output(withRawIds(line));
}

QByteArray McpBridge::withRawIds(const QByteArray &line) const
{
    const QByteArray marker = '"' + m_rawIdPrefix;
    qsizetype at = line.indexOf(marker);
    if (at < 0)
        return line;
    QByteArray out;
    qsizetype copied = 0;
    while (at >= 0) {
        const qsizetype end = line.indexOf('"', at + marker.size());
        if (end < 0)
            break;
        out += QByteArrayView(line).sliced(copied, at - copied);
        out += QByteArrayView(line).sliced(at + marker.size(), end - at - marker.size());
        copied = end + 1;
        at = line.indexOf(marker, copied);
    }
    out += QByteArrayView(line).sliced(copied);
    return out;
}

void McpBridge::handleOversizedLine()
{
    write(compact(errorResponse(
        QJsonValue::Null, InvalidRequest,
        u"Message too large: a message may hold at most %1 bytes, and Velto takes at most %2 "
        u"bytes per request."_s.arg(maxLineBytes)
            .arg(maxAnswerBytes))));
}

McpBridge::~McpBridge()
{
    *m_alive = false;
    for (const auto &abandon : std::as_const(m_pending))
        abandon();
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

std::optional<QString> McpBridge::tokenProblem() const
{
    if (m_config.token.contains(u'\r') || m_config.token.contains(u'\n')
        || m_config.token.contains(QChar(0)))
        return u"VELTO_API_TOKEN contains a line break or NUL character, which cannot be sent in "
               u"a request header. Set it to the token alone, as shown in Velto's settings (API "
               u"tab)."_s;
    return std::nullopt;
}

// The answers of one batch, written together once the last of them is in.
struct McpBridge::Batch
{
    QJsonArray answers;
    int waiting = 0;
    bool sealed = false; // every message of the batch has been handed on
};

void McpBridge::handleLine(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument doc
        = QJsonDocument::fromJson(markNumericIds(trimmed, m_rawIdPrefix), &error);
    if (error.error != QJsonParseError::NoError) {
        write(compact(errorResponse(QJsonValue::Null, ParseError, u"Parse error"_s)));
        return;
    }
    if (!doc.isArray()) {
        handleMessage(doc.object(), [this, alive = std::weak_ptr(m_alive)](auto answer) {
            if (!alive.expired() && answer)
                write(compact(*answer));
        });
        return;
    }
    if (doc.array().isEmpty()) {
        write(compact(errorResponse(QJsonValue::Null, InvalidRequest, u"Empty batch"_s)));
        return;
    }
    auto batch = std::make_shared<Batch>();
    const auto flush = [this, batch] {
        if (batch->sealed && batch->waiting == 0 && !batch->answers.isEmpty())
            write(compact(std::exchange(batch->answers, {})));
    };
    for (const QJsonValue &message : doc.array()) {
        ++batch->waiting;
        handleMessage(message, [batch, flush, alive = std::weak_ptr(m_alive)](auto answer) {
            if (alive.expired())
                return;
            if (answer)
                batch->answers.append(*answer);
            --batch->waiting;
            flush();
        });
    }
    batch->sealed = true;
    flush();
}

void McpBridge::handleMessage(const QJsonValue &value, Answer answer)
{
    if (!value.isObject())
        return answer(errorResponse(QJsonValue::Null, InvalidRequest, u"Invalid request"_s));
    const QJsonObject message = value.toObject();
    if (!message.contains(u"method"_s))
        return answer(std::nullopt); // an answer to a request of ours; we send none
    const QJsonValue id = message.value(u"id"_s);
    const bool isRequest = message.contains(u"id"_s);
    // Ids are strings or numbers; a null or structured id cannot be answered by it, so the
    // error carries a null id (a silent drop would leave the client waiting).
    if (isRequest && !id.isString() && !id.isDouble())
        return answer(errorResponse(QJsonValue::Null, InvalidRequest,
                                    u"Invalid request: the id must be a string or a number"_s));
    if (message.value(u"jsonrpc"_s).toString() != u"2.0"_s
        || !message.value(u"method"_s).isString())
        return answer(isRequest
                          ? std::optional(errorResponse(id, InvalidRequest, u"Invalid request"_s))
                          : std::nullopt);
    const QString method = message.value(u"method"_s).toString();
    const QJsonObject params = message.value(u"params"_s).toObject();
    if (!isRequest) {
        if (method == u"notifications/cancelled"_s)
            cancel(params.value(u"requestId"_s));
        return answer(std::nullopt); // other notifications (initialized, …) need nothing
    }

    if (method == u"initialize"_s) {
        const QString requested = params.value(u"protocolVersion"_s).toString();
        const QString version = supportedProtocolVersions().contains(requested)
            ? requested
            : supportedProtocolVersions().first();
        return answer(response(
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
                          u"computer. Velto must be running with its local API enabled."_s}}));
    }
    if (method == u"ping"_s)
        return answer(response(id, QJsonObject {}));
    if (method == u"tools/list"_s)
        return answer(response(id, QJsonObject {{u"tools"_s, toolList()}}));
    if (method == u"tools/call"_s) {
        const QJsonValue name = params.value(u"name"_s);
        const QJsonValue arguments = params.value(u"arguments"_s);
        if (!name.isString() || (!arguments.isUndefined() && !arguments.isObject()))
            return answer(errorResponse(id, InvalidParams,
                                        u"tools/call needs a name and an arguments object"_s));
        return callTool(id, name.toString(), arguments.toObject(), std::move(answer));
    }
    answer(errorResponse(id, MethodNotFound, u"Method not found: %1"_s.arg(method)));
}

void McpBridge::cancel(const QJsonValue &requestId)
{
    // The cancelled request gets no answer at all.
    if (const auto abandon = m_pending.take(compact(QJsonArray {requestId})))
        abandon();
}

void McpBridge::callTool(const QJsonValue &id, const QString &name, const QJsonObject &arguments,
                         Answer answer)
{
    const Tool *tool = nullptr;
    for (const Tool &t : tools())
        if (t.name == name)
            tool = &t;
    if (!tool)
        return answer(errorResponse(id, InvalidParams, u"Unknown tool: %1"_s.arg(name)));
    const auto reply = [&](const QString &text, bool isError) {
        answer(response(id, toolResult(text, isError)));
    };

    for (const QString &key : tool->required)
        if (arguments.value(key).isNull() || arguments.value(key).isUndefined())
            return reply(u"Missing argument \"%1\"."_s.arg(key), true);
    // The API takes a value of the wrong type as absent and falls back to its default (a line
    // "3" would insert at the start), so a mistyped argument is refused here instead.
    // A null optional argument counts as left out, as the API treats it.
    for (auto it = tool->properties.begin(); it != tool->properties.end(); ++it) {
        const QJsonValue value = arguments.value(it.key());
        if (value.isUndefined() || value.isNull())
            continue;
        const QString type = it.value().toObject().value(u"type"_s).toString();
        if (!hasType(value, type))
            return reply(u"Argument \"%1\" must be %2 %3."_s.arg(
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
        return reply(problem, true);
    if (const auto tokenError = tokenProblem())
        return reply(*tokenError, true);

    const QByteArray key = compact(QJsonArray {id});
    // A second call under an id still in use replaces nothing: the first keeps its answer.
    if (m_pending.contains(key))
        return answer(errorResponse(id, InvalidRequest, u"Request id already in use"_s));
    auto finished = [this, id, key, answer, alive = std::weak_ptr(m_alive)](
                        std::optional<HttpAnswer> http, QString failure) {
        if (alive.expired() || !m_pending.remove(key))
            return; // cancelled meanwhile
        const auto result = [&](const QString &text, bool isError) {
            answer(response(id, toolResult(text, isError)));
        };
        if (!http)
            return result(failure, true);
        const QString text = QString::fromUtf8(http->body);
        if (http->status == 401)
            return result(u"Velto refused the API token. Set VELTO_API_TOKEN to the token shown "
                          u"in Velto's settings (API tab)."_s,
                          true);
        if (http->status != 200)
            return result(text.isEmpty() ? u"Velto answered with status %1."_s.arg(http->status)
                                         : text,
                          true);
        // The API reports a failed file operation as "ok": false with status 200. Only JSON
        // answers say so: the document text itself may well look like such an object.
        const QJsonDocument json = http->contentType.startsWith("application/json")
            ? QJsonDocument::fromJson(http->body)
            : QJsonDocument();
        const bool failed = json.isObject()
            && (json.object().value(u"ok"_s) == QJsonValue(false)
                || json.object().contains(u"error"_s));
        result(text, failed);
    };
    // Registered before the request starts: a transport may finish at once.
    m_pending.insert(key, [] {});
    auto abandon
        = m_transport(*apiPort, m_config.token, tool->method, target, body, std::move(finished));
    if (const auto it = m_pending.find(key); it != m_pending.end())
        *it = std::move(abandon);
}

namespace {

// One request over loopback; deletes itself when it is done or abandoned.
class LoopbackRequest : public QObject
{
public:
    LoopbackRequest(quint16 port, QByteArray request, McpBridge::Done done)
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
        if (length > McpBridge::maxAnswerBytes
            || m_received.size() - headEnd - 4 > McpBridge::maxAnswerBytes)
            return fail(tooLarge());
        if (length >= 0 && m_received.size() - headEnd - 4 >= length)
            finish();
    }

    static QString tooLarge()
    {
        return u"Velto's answer is larger than %1 bytes, the most the bridge reads (the limit of "
               u"Velto's API for one request); it was not read."_s.arg(McpBridge::maxAnswerBytes);
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
        m_received += m_socket.read(McpBridge::maxAnswerBytes + maxHeadBytes);
        const qsizetype headEnd = m_received.indexOf("\r\n\r\n");
        if (headEnd >= 0 && m_received.size() - headEnd - 4 > McpBridge::maxAnswerBytes)
            return fail(tooLarge());
        if (!m_received.startsWith("HTTP/1.1 ") || headEnd < 0)
            return fail(m_received.isEmpty() ? u"Velto closed the connection without an answer."_s
                                             : u"Velto sent an answer that is not HTTP."_s);
        McpBridge::HttpAnswer answer;
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

    void complete(std::optional<McpBridge::HttpAnswer> answer, const QString &failure)
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
    McpBridge::Done m_done;
    QTcpSocket m_socket;
    QTimer m_timer;
    QByteArray m_received;
    bool m_connected = false;
};

} // namespace

std::function<void()> McpBridge::httpOverLoopback(quint16 port, const QString &token,
                                                  const QByteArray &method,
                                                  const QByteArray &target, const QByteArray &body,
                                                  Done done)
{
    QByteArray request = method + ' ' + target
        + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token.toUtf8() + "\r\n";
    if (method == "POST")
        request += "Content-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + body;
    QPointer<LoopbackRequest> call = new LoopbackRequest(port, request, std::move(done));
    return [call] {
        if (call)
            call->abandon();
    };
}
