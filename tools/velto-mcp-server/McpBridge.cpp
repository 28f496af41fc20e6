#include "McpBridge.h"

#include "tools/velto-mcp-server/McpToolTable.h"

#include <QJsonDocument>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>
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
    for (const McpTool &tool : mcptools::all())
        routes.append({tool.name, tool.method, tool.path, tool.forwarded});
    return routes;
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
        return answer(response(id, QJsonObject {{u"tools"_s, mcptools::list()}}));
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
    const McpTool *tool = mcptools::find(name);
    if (!tool)
        return answer(errorResponse(id, InvalidParams, u"Unknown tool: %1"_s.arg(name)));
    const auto reply = [&](const QString &text, bool isError) {
        answer(response(id, toolResult(text, isError)));
    };
    if (const auto problem = tool->argumentProblem(arguments))
        return reply(*problem, true);
    const QByteArray target = tool->target(arguments);
    const QByteArray body = tool->body(arguments);

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
