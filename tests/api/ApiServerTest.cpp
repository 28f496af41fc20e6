#include "ApiTestSupport.h"

#include "Velto/api/ApiListener.h"
#include "Velto/api/OpenApiDocument.h"
#include "support/LogCapture.h"
#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTimer>

using namespace apitest;

namespace {

class ApiAuth : public ApiFixture
{
protected:
    void SetUp() override
    {
        ApiFixture::SetUp();
        settings->setApiToken("s3cret-Token");
    }
    int statusWith(const QList<QByteArray> &headers, const QByteArray &target = "/api/status")
    {
        return request("GET", target, {}, headers).status;
    }
};

class ApiRouting : public ApiFixture
{
};

class ApiLifecycle : public ApiFixture
{
};

bool canConnect(quint16 port)
{
    return runRaw(port, {"GET /api/status HTTP/1.1\r\n\r\n"}).connected;
}

} // namespace

TEST_F(ApiAuth, tokenFromAuthorizationOrXApiTokenComparedExactly)
{
    EXPECT_EQ(statusWith({}), 401);
    EXPECT_EQ(statusWith({"Authorization: Bearer s3cret-Token"}), 200);
    EXPECT_EQ(statusWith({"X-Api-Token: s3cret-Token"}), 200);
    EXPECT_EQ(statusWith({"x-api-token:   s3cret-Token  "}), 200);
    EXPECT_EQ(statusWith({"Authorization: bearer s3cret-Token"}), 401);
    EXPECT_EQ(statusWith({"Authorization: Bearer  s3cret-Token"}), 401);
    EXPECT_EQ(statusWith({"Authorization: Bearer s3cret-token"}), 401);
    EXPECT_EQ(statusWith({"Authorization: s3cret-Token"}), 200);
    EXPECT_EQ(statusWith({"Authorization: Bearer s3cret-Token", "X-Api-Token: wrong"}), 200);
    // A present authorization header wins even when it is wrong.
    EXPECT_EQ(statusWith({"Authorization: Bearer wrong", "X-Api-Token: s3cret-Token"}), 401);
    EXPECT_EQ(statusWith({"X-Api-Token: Bearer s3cret-Token"}), 200);

    const Reply denied = get("/api/workspace");
    EXPECT_EQ(denied.body, R"({"error":"unauthorized"})");
    EXPECT_EQ(denied.header("Content-Type"), "application/json");
}

TEST_F(ApiAuth, documentationIsExemptOnlyOnExactPaths)
{
    EXPECT_EQ(statusWith({}, "/api/docs"), 200);
    EXPECT_EQ(request("DELETE", "/api/openapi.json").status, 200); // exempt for any method
    EXPECT_EQ(statusWith({}, "/api/openapi.json"), 200);
    EXPECT_EQ(statusWith({}, "/api/openapi.json?x=1"), 401);
    const Reply list = request("GET", "/api/openapi.json?x=1", {}, {"X-Api-Token: s3cret-Token"});
    EXPECT_EQ(list.json().value("endpoints").toArray().size(), 21);
}

TEST_F(ApiAuth, renewedOrClearedTokenAppliesToTheNextRequest)
{
    EXPECT_EQ(statusWith({"X-Api-Token: s3cret-Token"}), 200);
    settings->setApiToken("renewed");
    EXPECT_EQ(statusWith({"X-Api-Token: s3cret-Token"}), 401);
    EXPECT_EQ(statusWith({"X-Api-Token: renewed"}), 200);
    settings->setApiToken(QString());
    EXPECT_EQ(statusWith({}), 200);
}

TEST_F(ApiRouting, unknownRoutesGetTheFixedEndpointList)
{
    const QStringList expected {
        "GET  /api/docs",
        "GET  /api/openapi.json",
        "GET  /api/status",
        "GET  /api/workspace",
        "GET  /api/document/content",
        "POST /api/document/content {content}",
        "POST /api/document/insert {line,column,text}",
        "POST /api/document/replace {pattern,replacement,regex?}",
        "POST /api/document/open {path}",
        "POST /api/document/create {path?,content?}",
        "POST /api/document/save",
        "GET  /api/document/outline",
        "GET  /api/document/search?query=&regex=false",
        "GET  /api/folder/files?glob=",
        "POST /api/folder/open {path}",
        "GET  /api/selection",
        "POST /api/selection {start,end}",
        "POST /api/theme {id}",
        "POST /api/viewmode {focus?,wide?}",
        "GET  /api/frontmatter",
        "GET  /api/preview/check",
    };
    for (const auto &[method, target] :
         QList<QPair<QByteArray, QByteArray>> {{"DELETE", "/api/status"},
                                               {"GET", "/api/status?x=1"},
                                               {"GET", "/nowhere"},
                                               {"POST", "/api/status"},
                                               {"GET", "/api/document/insert"}}) {
        const Reply r = request(method, target);
        EXPECT_EQ(r.status, 200) << target.constData();
        QStringList got;
        for (const QJsonValue &v : r.json().value("endpoints").toArray())
            got << v.toString();
        EXPECT_EQ(got, expected) << method.constData() << ' ' << target.constData();
    }
}

TEST_F(ApiRouting, prefixRowsAcceptAnyMethodAndLongerTargets)
{
    workspace->setText("alpha beta alpha");
    EXPECT_EQ(request("POST", "/api/document/search?query=alpha").json().value("count").toInt(), 2);
    EXPECT_EQ(request("GET", "/api/document/searchx?query=beta").json().value("count").toInt(), 1);
    EXPECT_TRUE(request("POST", "/api/folder/files").json().contains("files"));
}

TEST_F(ApiRouting, selectionRoutesAnswerTheirFixedInfo)
{
    EXPECT_EQ(get("/api/selection").json().value("info").toString(),
              "selection tracking not yet wired");
    EXPECT_EQ(post("/api/selection", {{"start", 1}}).json().value("info").toString(),
              "selection set not yet wired");
}

TEST_F(ApiRouting, routesOfUnattachedSubsystemsSayNotAvailableUntilRegistered)
{
    for (const auto &[method, target] :
         QList<QPair<QByteArray, QByteArray>> {{"GET", "/api/sync/status"},
                                               {"POST", "/api/sync/trigger"},
                                               {"POST", "/api/theme"},
                                               {"GET", "/api/preview/check"},
                                               {"GET", "/api/preview/eval?js=1"},
                                               {"GET", "/api/screenshot"}}) {
        const Reply r = request(method, target);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, R"({"error":"not available"})") << target.constData();
    }
}

TEST_F(ApiRouting, registeredHandlerMayAnswerLaterWhileOthersAreServed)
{
    QPointer<ApiConnection> held;
    server->setRouteHandler(
        ApiRoute::SyncTrigger,
        [&](const DebugServer::Request &, QPointer<ApiConnection> c) { held = c; });
    std::future<RawResult> slow = startRaw(port, {"POST /api/sync/trigger HTTP/1.1\r\n\r\n"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return !held.isNull(); }));
    EXPECT_EQ(get("/api/status").status, 200);
    // A listener restart must not cut the pending answer.
    ASSERT_NE(listenOnFreePort(), 0);
    DebugServer::sendJSON(held, {{"ok", true}});
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return slow.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(parseReply(slow.get()).json().value("ok").toBool(), true);
}

TEST_F(ApiLifecycle, portChangeMovesTheListenerAndStopClosesIt)
{
    testsupport::LogCapture log;
    const quint16 next = listenOnFreePort();
    EXPECT_EQ(server->activePort(), next);
    EXPECT_TRUE(log.contains(QStringLiteral("[API] http://localhost:%1").arg(next)));
    EXPECT_FALSE(canConnect(port));
    EXPECT_EQ(parseReply(runRaw(next, {"GET /api/status HTTP/1.1\r\n\r\n"})).status, 200);

    server->stop();
    EXPECT_EQ(server->activePort(), 0);
    EXPECT_EQ(server->listener(), nullptr);
    EXPECT_FALSE(canConnect(next));
}

TEST_F(ApiLifecycle, listensOnLoopbackOnly)
{
    ASSERT_NE(server->listener(), nullptr);
    const auto servers = server->listener()->findChildren<QTcpServer *>();
    for (const QTcpServer *s : servers) {
        if (s->isListening()) {
            EXPECT_TRUE(s->serverAddress().isLoopback());
        }
    }
    if (server->listener()->isListeningOnIPv6()) {
        RawOptions v6;
        v6.ipv6 = true;
        EXPECT_EQ(parseReply(runRaw(port, {"GET /api/status HTTP/1.1\r\n\r\n"}, v6)).status, 200);
    }
}

TEST_F(ApiLifecycle, failedOrInvalidPortsLeaveNothingActive)
{
    testsupport::LogCapture log;
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::LocalHost, 0));
    server->startListener(occupier.serverPort());
    EXPECT_EQ(server->activePort(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("[API] Port %1 failed: ").arg(occupier.serverPort())));

    for (const qint64 bad : {qint64(0), qint64(-1), qint64(70000), qint64(1) << 40}) {
        server->startListener(bad);
        EXPECT_EQ(server->activePort(), 0);
        EXPECT_TRUE(log.contains(QStringLiteral("[API] Port %1 failed: invalid port").arg(bad)));
    }
    EXPECT_EQ(server->listener(), nullptr);
}

TEST_F(ApiLifecycle, startFollowsTheEnabledSetting)
{
    server->stop();
    testsupport::LogCapture log;
    settings->setApiEnabled(false);
    settings->setApiPort(port);
    server->start();
    EXPECT_TRUE(log.lines().contains("[API] Disabled in settings"));
    EXPECT_EQ(server->activePort(), 0);

    settings->setApiEnabled(true);
    testsupport::listenOnFreePort([&](quint16 candidate) {
        settings->setApiPort(candidate);
        server->start();
        return server->activePort() == candidate;
    });
    EXPECT_EQ(server->activePort(), settings->apiPort());
    EXPECT_TRUE(canConnect(quint16(settings->apiPort())));
}

TEST_F(ApiLifecycle, sharedServerStartsEmpty)
{
    // The process-wide instance itself is not created here (it would read the user's settings);
    // a fresh one shows the same initial state.
    DebugServer fresh(*settings);
    EXPECT_EQ(fresh.activePort(), 0);
    EXPECT_EQ(fresh.listener(), nullptr);
    EXPECT_EQ(fresh.workspace(), nullptr);
    EXPECT_EQ(fresh.webView(), nullptr);
}

TEST_F(ApiRouting, openApiDocumentDescribesTheRoutesWithTheActivePort)
{
    const Reply r = get("/api/openapi.json");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    const QJsonObject doc = r.json();
    EXPECT_EQ(doc.value("openapi").toString(), "3.1.0");
    EXPECT_EQ(doc["info"]["title"].toString(), "Velto API");
    EXPECT_EQ(doc["servers"][0]["url"].toString(), QStringLiteral("http://localhost:%1").arg(port));
    EXPECT_EQ(doc["security"].toArray(),
              (QJsonArray {QJsonObject {}, QJsonObject {{"bearer", QJsonArray {}}}}));
    EXPECT_EQ(doc["components"]["securitySchemes"]["bearer"]["scheme"].toString(), "bearer");
    const QJsonObject paths = doc.value("paths").toObject();
    EXPECT_EQ(paths.size(), 23);
    int operations = 0;
    for (const QJsonValue &p : paths) {
        for (const QJsonValue &op : p.toObject()) {
            ++operations;
            EXPECT_TRUE(op["summary"].isString());
            EXPECT_EQ(op["tags"].toArray().size(), 1);
            EXPECT_EQ(op["responses"].toObject().keys(), QStringList {"200"});
        }
    }
    EXPECT_EQ(operations, 25);
    for (const char *absent : {"/api/docs", "/api/openapi.json", "/api/sync/status",
                               "/api/sync/trigger", "/api/test/liveupdate"})
        EXPECT_FALSE(paths.contains(absent)) << absent;
    const QJsonObject insertSchema = paths["/api/document/insert"]["post"]["requestBody"]["content"]
                                          ["application/json"]["schema"]
                                              .toObject();
    EXPECT_EQ(insertSchema["required"].toArray(), QJsonArray {"text"});
    EXPECT_EQ(insertSchema["properties"]["line"]["default"].toInt(-1), 0);
    EXPECT_FALSE(
        paths["/api/viewmode"]["post"]["requestBody"]["content"]["application/json"]["schema"]
            .toObject()
            .contains("required"));
    // Null is a type of its own in 3.1.
    EXPECT_EQ(paths["/api/status"]["get"]["responses"]["200"]["content"]["application/json"]
                   ["schema"]["properties"]["selectedFile"]["type"],
              (QJsonArray {"string", "null"}));
    EXPECT_FALSE(QJsonDocument(openapi::document(0)).toJson().contains("nullable"));
    EXPECT_EQ(paths["/api/document/search"]["get"]["parameters"][0]["in"].toString(), "query");
    EXPECT_EQ(openapi::document(0)["servers"][0]["url"].toString(), "http://localhost:0");
}

TEST_F(ApiRouting, docsPageCarriesSwaggerUiInlineAndPointsAtTheDocument)
{
    const Reply r = get("/api/docs");
    EXPECT_EQ(r.header("Content-Type"), "text/html; charset=utf-8");
    const QByteArray page = r.body;
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.contains("<html lang=\"de\">"));
    EXPECT_TRUE(page.contains("<title>Velto API</title>"));
    EXPECT_TRUE(page.contains("<div id=\"swagger-ui\"></div>"));
    EXPECT_TRUE(page.contains("layout: \"BaseLayout\""));
    // The viewer calls the server the page came from; the port only serves a page read from disk.
    EXPECT_TRUE(page.contains("spec.servers = [{url: origin"));
    EXPECT_TRUE(page.contains(QStringLiteral("\"http://localhost:%1\"").arg(port).toUtf8()));
    // Offline: the viewer's script and styles are inside the page, nothing loads from elsewhere.
    EXPECT_TRUE(page.contains("SwaggerUIBundle"));
    EXPECT_GT(page.size(), 500'000);
    EXPECT_FALSE(page.contains("src=\"http"));
    EXPECT_FALSE(page.contains("href=\"http"));
    EXPECT_FALSE(page.contains("<link"));
    // Exactly the elements we opened: nothing inside the assets closes them early.
    EXPECT_EQ(page.count("</script"), 2);
    EXPECT_EQ(page.count("</style"), 2);
}

TEST(OpenApi, inlineEscapingKeepsScriptsAndStylesClosedWhereWeCloseThem)
{
    EXPECT_EQ(openapi::escapeForInlineElement("a='</script>';b='</SCRIPT >';c='</style>'"),
              QByteArray("a='<\\/script>';b='<\\/SCRIPT >';c='<\\/style>'"));
    EXPECT_EQ(openapi::escapeForInlineElement("1 < 2 && x</y"), QByteArray("1 < 2 && x</y"));
}
