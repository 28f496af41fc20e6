#pragma once

#include "Velto/api/ApiConnection.h"
#include "Velto/api/ApiHttp.h"
#include "Velto/api/ApiRoutes.h"
#include "Velto/api/DocumentEndpoints.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class AppSettings;
class ApiListener;
class QWebEngineView;
class WorkspaceState;

// The local HTTP API: a loopback listener, one request per connection, token check, route table.
// Everything runs on the main thread. Accepted connections belong to the server, not to the
// listener, so restarting the listener never cuts an answer that is still being prepared.
class DebugServer : public QObject
{
    Q_OBJECT
public:
    using Request = ApiRequest;
    // Answers a route now or later through sendResponse/sendJSON; the connection reads as null
    // once the client is gone.
    using RouteHandler = std::function<void(const Request &, QPointer<ApiConnection>)>;

    // The application's instance (its root builds and owns it), for callers not handed one.
    static DebugServer &shared();
    explicit DebugServer(AppSettings &settings, ApiLimits limits = {}, QObject *parent = nullptr);
    ~DebugServer() override;

    // The running listener, or null while stopped.
    ApiListener *listener() const { return m_listener.get(); }
    // The workspace of the window shown last (weak).
    WorkspaceState *workspace() const;
    void setWorkspace(WorkspaceState *workspace);
    // The preview's web view, registered by the preview that was created last (weak).
    QWebEngineView *webView() const;
    void setWebView(QWebEngineView *view);
    // The port being listened on; 0 while stopped and after a failed start.
    quint16 activePort() const { return m_activePort; }

    // Starts the listener on the configured port when the API is enabled.
    void start();
    // Replaces the listener with one on the given port; a port outside 1–65535 is refused.
    void startListener(qint64 port);
    void stop();

    // One complete request from a connection: token check, then the route table.
    void handleRequest(const QByteArray &text, ApiConnection *connection);

    static void sendResponse(ApiConnection *connection, int status, QByteArrayView body,
                             QByteArrayView contentType);
    static void sendJSON(ApiConnection *connection, const QJsonObject &object);
    static void send(ApiConnection *connection, const ApiAnswer &answer);

    // Serves a row of the route table whose subsystem registers itself (settings, AI, preview,
    // windows, app, sync). Rows without a handler answer {"error":"not available"}. The
    // application's root registers them; the server registers its document routes itself.
    void setRouteHandler(ApiRoute route, RouteHandler handler);

    // Connections accepted and not yet closed.
    int openConnectionCount() const { return int(m_open.size()); }

signals:
    void activePortChanged();

private:
    void setActivePort(quint16 port);
    void accept(qintptr descriptor);
    void checkHead(const QByteArray &head, ApiConnection *connection);
    bool isAuthorized(const Request &request) const;
    void route(const Request &request, ApiConnection *connection);
    // The document, workspace and description routes, which the server answers itself.
    void registerOwnRoutes();

    AppSettings &m_settings;
    ApiLimits m_limits;
    std::unique_ptr<ApiListener> m_listener;
    QPointer<WorkspaceState> m_workspace;
    QPointer<QWebEngineView> m_webView;
    quint16 m_activePort = 0;

    QObject m_connections; // parent of every open connection
    QList<ApiConnection *> m_open; // in the order they were accepted
    DocumentEndpoints m_documents;
    QHash<ApiRoute, RouteHandler> m_handlers;
};
