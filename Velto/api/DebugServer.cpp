#include "Velto/api/DebugServer.h"

#include "Velto/api/ApiListener.h"
#include "Velto/api/OpenApiDocument.h"
#include "Velto/api/PreviewEndpoints.h"
#include "Velto/api/SettingsEndpoints.h"
#include "Velto/api/WindowEndpoints.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "core/ai/AISettings.h"
#include "platform/Detached.h"
#include "platform/Log.h"
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
    static DebugServer *server = [] {
        auto *s = new DebugServer(AppSettings::shared());
        settingsendpoints::registerWith(*s, AppSettings::shared(), AISettings::shared());
        previewendpoints::registerWith(*s);
        windowendpoints::registerWith(*s);
        return s;
    }();
    return *server;
}

DebugServer::DebugServer(AppSettings &settings, ApiLimits limits, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_limits(limits)
    , m_documents(settings)
{
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
        logLine(u"[API] Disabled in settings"_s);
        return;
    }
    startListener(m_settings.apiPort());
}

void DebugServer::startListener(qint64 port)
{
    m_listener.reset();
    if (port < 1 || port > 65535) {
        setActivePort(0);
        logLine(u"[API] Port %1 failed: invalid port"_s.arg(port));
        return;
    }
    auto listener = std::make_unique<ApiListener>();
    connect(listener.get(), &ApiListener::descriptorAccepted, this, &DebugServer::accept);
    if (!listener->listen(quint16(port))) {
        // A port that is not listened on must not show as active.
        setActivePort(0);
        logLine(u"[API] Port %1 failed: %2"_s.arg(port).arg(listener->errorString()));
        return;
    }
    m_listener = std::move(listener);
    setActivePort(quint16(port));
    logLine(u"[API] http://localhost:%1"_s.arg(port));
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
    WorkspaceState *ws = m_workspace.data();
    switch (route) {
    case ApiRoute::OpenApi:
        return sendJSON(connection, openapi::document(m_activePort));
    case ApiRoute::Docs:
        return sendResponse(connection, 200, openapi::docsPage(m_activePort), apihttp::htmlType);
    case ApiRoute::Status:
        return send(connection, m_documents.status(ws));
    case ApiRoute::Workspace:
        return send(connection, m_documents.workspaceInfo(ws));
    case ApiRoute::GetContent:
        return send(connection, DocumentEndpoints::content(ws));
    case ApiRoute::SetContent:
        return send(connection, m_documents.setContent(ws, request));
    case ApiRoute::Insert:
        return send(connection, m_documents.insert(ws, request));
    case ApiRoute::Replace:
        return send(connection, m_documents.replace(ws, request));
    case ApiRoute::Open:
        runDetached(answerLater(DocumentEndpoints::open(ws, request), connection),
                    u"API answer to open"_s);
        return;
    case ApiRoute::Create:
        runDetached(answerLater(DocumentEndpoints::create(ws, request), connection),
                    u"API answer to create"_s);
        return;
    case ApiRoute::Save:
        return send(connection, m_documents.save(ws));
    case ApiRoute::Outline:
        return send(connection, DocumentEndpoints::outline(ws));
    case ApiRoute::Search:
        return send(connection, DocumentEndpoints::search(ws, request));
    case ApiRoute::FolderFiles:
        return send(connection, DocumentEndpoints::folderFiles(ws, request));
    case ApiRoute::FolderOpen:
        return send(connection, DocumentEndpoints::folderOpen(ws, request));
    case ApiRoute::FrontMatter:
        return send(connection, DocumentEndpoints::frontMatter(ws));
    case ApiRoute::GetSelection:
        return sendJSON(connection, {{u"info"_s, u"selection tracking not yet wired"_s}});
    case ApiRoute::SetSelection:
        return sendJSON(connection, {{u"info"_s, u"selection set not yet wired"_s}});
    case ApiRoute::EndpointList:
        return sendJSON(connection,
                        {{u"endpoints"_s, QJsonArray::fromStringList(apiroutes::endpointList())}});
    case ApiRoute::SyncStatus:
    case ApiRoute::SyncTrigger:
    case ApiRoute::PreviewCheck:
    case ApiRoute::LiveUpdateTest:
    case ApiRoute::Theme:
    case ApiRoute::ViewMode:
    case ApiRoute::AIProvider:
    case ApiRoute::AppSettings:
    case ApiRoute::Screenshot:
    case ApiRoute::ScreenshotWindows:
    case ApiRoute::PreviewEval:
    case ApiRoute::PreviewDom:
        return sendResponse(connection, 200, R"({"error":"not available"})", apihttp::jsonType);
    }
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
