#include "Velto/api/DebugServer.h"

#include "Velto/api/ApiListener.h"
#include "Velto/api/OpenApiDocument.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Detached.h"
#include "platform/Log.h"
#include "platform/RootInstance.h"
#include "platform/Text.h"

#include <QJsonArray>
#include <QWebEngineView>

#include <qcoro/qcorotask.h>

#include <algorithm>

#include <unistd.h>

namespace {

using namespace Qt::Literals::StringLiterals;

QCoro::Task<> answerLater(QCoro::Task<ApiAnswer> work, QPointer<ApiConnection> connection)
{
    const ApiAnswer answer = co_await std::move(work);
    DebugServer::send(connection, answer);
}

// An escape such as "\ud800" without its partner decodes into a string that is no Unicode text:
// it would reach the document and be written out as "?".
bool isWellFormed(const QJsonValue &value)
{
    if (value.isString())
        return isWellFormedUtf16(value.toString());
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::all_of(array.begin(), array.end(),
                           [](const QJsonValue &item) { return isWellFormed(item); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!isWellFormedUtf16(it.key()) || !isWellFormed(it.value()))
                return false;
        }
    }
    return true;
}

} // namespace

DebugServer &DebugServer::shared()
{
    return RootInstance<DebugServer>::get();
}

DebugServer::DebugServer(AppSettings &settings, ApiLimits limits, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_limits(limits)
    , m_documents(settings)
{
    registerOwnRoutes();
}

DebugServer::~DebugServer() = default;

WorkspaceState *DebugServer::workspace() const
{
    return m_workspace.data();
}

void DebugServer::setWorkspace(WorkspaceState *workspace)
{
    m_workspace = workspace;
}

QWebEngineView *DebugServer::webView() const
{
    return m_webView.data();
}

void DebugServer::setWebView(QWebEngineView *view)
{
    m_webView = view;
}

void DebugServer::start()
{
    if (!m_settings.apiEnabled()) {
        qCInfo(logApi).noquote() << u"[API] Disabled in settings"_s;
        return;
    }
    startListener(m_settings.apiPort());
}

void DebugServer::startListener(qint64 port)
{
    m_listener.reset();
    if (port < 1 || port > 65535) {
        setActivePort(0);
        qCInfo(logApi).noquote() << u"[API] Port %1 failed: invalid port"_s.arg(port);
        return;
    }
    auto listener = std::make_unique<ApiListener>();
    connect(listener.get(), &ApiListener::descriptorAccepted, this, &DebugServer::accept);
    if (!listener->listen(quint16(port))) {
        // A port that is not listened on must not show as active.
        setActivePort(0);
        qCInfo(logApi).noquote() << u"[API] Port %1 failed: %2"_s.arg(port).arg(
            listener->errorString());
        return;
    }
    m_listener = std::move(listener);
    setActivePort(quint16(port));
    qCInfo(logApi).noquote() << u"[API] http://localhost:%1"_s.arg(port);
}

void DebugServer::stop()
{
    m_listener.reset();
    setActivePort(0);
}

void DebugServer::setActivePort(quint16 port)
{
    if (m_activePort == port)
        return;
    m_activePort = port;
    emit activePortChanged();
}

void DebugServer::accept(qintptr descriptor)
{
    if (!m_open.isEmpty() && int(m_open.size()) >= m_limits.maxConnections) {
        // Stalled clients must not lock everybody out, whatever phase they stall in: the newcomer
        // always gets in, and the connection that has made the least progress for the longest
        // time makes room. Requests already complete and being answered go last.
        const auto stalest = std::min_element(m_open.cbegin(), m_open.cend(), [](auto *a, auto *b) {
            return std::pair(a->evictionTier(), a->lastProgress())
                < std::pair(b->evictionTier(), b->lastProgress());
        });
        (*stalest)->drop();
    }
    auto *connection = new ApiConnection(int(descriptor), m_limits, &m_connections);
    m_open.push_back(connection);
    connect(connection, &ApiConnection::closed, this,
            [this, connection] { m_open.removeOne(connection); });
    connect(connection, &ApiConnection::headReceived, this,
            [this, connection](const QByteArray &head) { checkHead(head, connection); });
    connect(connection, &ApiConnection::requestReceived, this,
            [this, connection](const QByteArray &text) { handleRequest(text, connection); });
    connect(connection, &ApiConnection::requestTooLarge, this, [connection] {
        sendResponse(connection, 413, R"({"error":"request too large"})", apihttp::jsonType);
    });
}

void DebugServer::checkHead(const QByteArray &head, ApiConnection *connection)
{
    // The head settles the token: a client without it is answered before its body is read, so
    // a body it never finishes cannot hold the connection.
    if (!apihttp::isValidUtf8(head)) {
        connection->drop();
        return;
    }
    const Request request = apihttp::parseRequest(head);
    if (request.method == u"OPTIONS"_s || request.path == u"/favicon.ico"_s
        || apiroutes::isTokenExempt(request.path) || isAuthorized(request))
        return;
    connection->respondToHead(
        apihttp::responseBytes(401, apihttp::jsonType, R"({"error":"unauthorized"})"));
}

bool DebugServer::isAuthorized(const Request &request) const
{
    const QString token = m_settings.apiToken();
    if (token.isEmpty())
        return true;
    const auto authorization = request.headers.constFind(u"authorization"_s);
    QString presented = authorization != request.headers.cend()
        ? *authorization
        : request.headers.value(u"x-api-token"_s);
    if (presented.startsWith(u"Bearer "_s))
        presented.remove(0, 7);
    return apihttp::constantTimeEquals(presented.toUtf8(), token.toUtf8());
}

void DebugServer::handleRequest(const QByteArray &text, ApiConnection *connection)
{
    const Request request = apihttp::parseRequest(text);
    // A browser asks before it sends a token across origins (the docs page opened at
    // 127.0.0.1 calling localhost): the pre-check itself carries no token and reveals nothing.
    if (request.method == u"OPTIONS"_s) {
        if (connection)
            connection->respond(apihttp::preflightResponseBytes());
        return;
    }
    // Browsers ask for an icon whenever they show a page of ours.
    if (request.path == u"/favicon.ico"_s) {
        sendResponse(connection, 404, {}, apihttp::textType);
        return;
    }
    if (!apiroutes::isTokenExempt(request.path) && !isAuthorized(request)) {
        sendResponse(connection, 401, R"({"error":"unauthorized"})", apihttp::jsonType);
        return;
    }
    if (!isWellFormed(request.body)) {
        sendResponse(connection, 400,
                     R"({"error":"invalid text: unpaired surrogate in the JSON body"})",
                     apihttp::jsonType);
        return;
    }
    route(request, connection);
}

void DebugServer::route(const Request &request, ApiConnection *connection)
{
    const ApiRoute route = apiroutes::match(request.method, request.path);
    if (const auto handler = m_handlers.constFind(route); handler != m_handlers.cend()) {
        (*handler)(request, connection);
        return;
    }
    sendResponse(connection, 200, R"({"error":"not available"})", apihttp::jsonType);
}

void DebugServer::registerOwnRoutes()
{
    // Answered now: the reply is ready before the handler returns.
    const auto now = [this](ApiRoute route, auto answer) {
        setRouteHandler(route, [this, answer](const Request &request, QPointer<ApiConnection> c) {
            send(c, answer(m_workspace.data(), request));
        });
    };
    const auto later = [this](ApiRoute route, auto work, const QString &what) {
        setRouteHandler(route,
                        [this, work, what](const Request &request, QPointer<ApiConnection> c) {
                            runDetached(answerLater(work(m_workspace, request), c), what);
                        });
    };
    using Ws = WorkspaceState *;
    now(ApiRoute::OpenApi,
        [this](Ws, const Request &) { return ApiAnswer::json(openapi::document(m_activePort)); });
    now(ApiRoute::Docs, [this](Ws, const Request &) {
        return ApiAnswer {200, apihttp::htmlType.toByteArray(), openapi::docsPage(m_activePort)};
    });
    now(ApiRoute::Status, [this](Ws ws, const Request &) { return m_documents.status(ws); });
    now(ApiRoute::Workspace,
        [this](Ws ws, const Request &) { return m_documents.workspaceInfo(ws); });
    now(ApiRoute::GetContent,
        [](Ws ws, const Request &) { return DocumentEndpoints::content(ws); });
    now(ApiRoute::SetContent,
        [this](Ws ws, const Request &r) { return m_documents.setContent(ws, r); });
    now(ApiRoute::Insert, [this](Ws ws, const Request &r) { return m_documents.insert(ws, r); });
    now(ApiRoute::Replace, [this](Ws ws, const Request &r) { return m_documents.replace(ws, r); });
    now(ApiRoute::Save, [this](Ws ws, const Request &) { return m_documents.save(ws); });
    now(ApiRoute::Outline, [](Ws ws, const Request &) { return DocumentEndpoints::outline(ws); });
    now(ApiRoute::Search, [](Ws ws, const Request &r) { return DocumentEndpoints::search(ws, r); });
    now(ApiRoute::FolderFiles,
        [](Ws ws, const Request &r) { return DocumentEndpoints::folderFiles(ws, r); });
    now(ApiRoute::FolderOpen,
        [](Ws ws, const Request &r) { return DocumentEndpoints::folderOpen(ws, r); });
    now(ApiRoute::FrontMatter,
        [](Ws ws, const Request &) { return DocumentEndpoints::frontMatter(ws); });
    now(ApiRoute::GetSelection, [](Ws, const Request &) {
        return ApiAnswer::json({{u"info"_s, u"selection tracking not yet wired"_s}});
    });
    now(ApiRoute::SetSelection, [](Ws, const Request &) {
        return ApiAnswer::json({{u"info"_s, u"selection set not yet wired"_s}});
    });
    now(ApiRoute::EndpointList, [](Ws, const Request &) {
        return ApiAnswer::json(
            {{u"endpoints"_s, QJsonArray::fromStringList(apiroutes::endpointList())}});
    });
    later(ApiRoute::Open, &DocumentEndpoints::open, u"API answer to open"_s);
    later(ApiRoute::Create, &DocumentEndpoints::create, u"API answer to create"_s);
}

void DebugServer::setRouteHandler(ApiRoute route, RouteHandler handler)
{
    if (handler)
        m_handlers.insert(route, std::move(handler));
    else
        m_handlers.remove(route);
}

void DebugServer::sendResponse(ApiConnection *connection, int status, QByteArrayView body,
                               QByteArrayView contentType)
{
    if (connection)
        connection->respond(apihttp::responseBytes(status, contentType, body));
}

void DebugServer::sendJSON(ApiConnection *connection, const QJsonObject &object)
{
    send(connection, ApiAnswer::json(object));
}

void DebugServer::send(ApiConnection *connection, const ApiAnswer &answer)
{
    sendResponse(connection, answer.status, answer.body, answer.contentType);
}
