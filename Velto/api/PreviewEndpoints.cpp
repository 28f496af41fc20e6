#include "Velto/api/PreviewEndpoints.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Graphemes.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <algorithm>
#include <memory>

namespace previewendpoints {

namespace {

using namespace Qt::Literals::StringLiterals;

const QString checkProbe
    = uR"(JSON.stringify((function(){var b=document.body,)"
      uR"(c=Array.prototype.slice.call(b.children),)"
      uR"(n=c.filter(function(e){return e.tagName!=='SCRIPT'}),)"
      uR"(t=(b.innerText||'').trim();)"
      uR"(return{bodyChildCount:c.length,nonScriptChildCount:n.length,)"
      uR"(nonScriptTags:n.map(function(e){return e.tagName}).join(','),)"
      uR"(visibleTextLength:t.length,visibleTextPreview:t.substring(0,300),)"
      uR"(hasKatex:typeof katex!=='undefined',hasHljs:typeof hljs!=='undefined',)"
      uR"(hasMermaid:typeof mermaid!=='undefined'}})()))"_s;

const QString liveUpdateProbe
    = u"JSON.stringify({hasContent:document.body.innerText.trim().length>0,"
      u"text:document.body.innerText.trim().substring(0,200)})"_s;

constexpr qsizetype domLimit = 5000;

// Probe scripts return JSON text; anything else (no result, an error, a page that went away)
// answers an empty object.
void sendProbeResult(QPointer<ApiConnection> connection, const std::optional<QVariant> &result)
{
    if (result && result->typeId() == QMetaType::QString)
        DebugServer::sendResponse(connection, 200, result->toString().toUtf8(), apihttp::jsonType);
    else
        DebugServer::sendResponse(connection, 200, "{}", apihttp::jsonType);
}

QString jsStringLiteral(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

void sendText(QPointer<ApiConnection> connection, const QString &text)
{
    DebugServer::send(connection, ApiAnswer::text(text));
}

void runScriptIn(Clock &clock, QPointer<QWebEngineView> view, const QString &script,
                 std::chrono::milliseconds timeout,
                 std::function<void(std::optional<QVariant>)> done, bool recoverWhenHung);

// A script that timed out leaves the renderer either slow or stuck for good (`while(true){}`),
// and every later script, check and update would queue behind it. A trivial script tells the
// two apart; when that does not come back either, the preview replaces the renderer and loads
// its page again.
void recoverIfHung(Clock &clock, QPointer<QWebEngineView> view, qint64 pid,
                   std::chrono::milliseconds timeout)
{
    if (!view || !view->page() || pid <= 0 || view->page()->renderProcessPid() != pid)
        return;
    runScriptIn(
        clock, view, u"0"_s,
        std::clamp(timeout, std::chrono::milliseconds(1000), std::chrono::milliseconds(2000)),
        [view, pid](std::optional<QVariant> answer) {
            if (!answer && view)
                QMetaObject::invokeMethod(view.data(), "restartRenderer", Q_ARG(qint64, pid));
        },
        false);
}

void runScriptIn(Clock &clock, QPointer<QWebEngineView> view, const QString &script,
                 std::chrono::milliseconds timeout,
                 std::function<void(std::optional<QVariant>)> done, bool recoverWhenHung)
{
    // Whichever comes first answers: the completion, the timeout, or the view going away. The
    // answer always comes from the event loop, never from inside this call.
    auto *call = new QObject(QCoreApplication::instance());
    auto pending = std::make_shared<std::function<void(std::optional<QVariant>)>>(std::move(done));
    auto finish = [pending, call](std::optional<QVariant> result) {
        if (!*pending)
            return;
        const auto answer = std::exchange(*pending, {});
        call->deleteLater();
        answer(std::move(result));
    };
    if (!view || !view->page()) {
        QMetaObject::invokeMethod(
            call, [finish] { finish(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    const qint64 pid = view->page()->renderProcessPid();
    clock.singleShot(timeout, call, [&clock, finish, view, pid, timeout, recoverWhenHung] {
        finish(std::nullopt);
        if (recoverWhenHung)
            recoverIfHung(clock, view, pid, timeout);
    });
    QObject::connect(view, &QObject::destroyed, call, [finish] { finish(std::nullopt); });
    // A renderer that ends never completes the scripts it was given.
    QObject::connect(view->page(), &QWebEnginePage::renderProcessTerminated, call,
                     [finish] { finish(std::nullopt); });
    view->page()->runJavaScript(script, QWebEngineScript::MainWorld,
                                [finish, call = QPointer<QObject>(call)](const QVariant &result) {
                                    if (!call)
                                        return;
                                    QMetaObject::invokeMethod(
                                        call, [finish, result] { finish(result); },
                                        Qt::QueuedConnection);
                                });
}

} // namespace

void runScript(Clock &clock, QPointer<QWebEngineView> view, const QString &script,
               std::chrono::milliseconds timeout, std::function<void(std::optional<QVariant>)> done)
{
    runScriptIn(clock, std::move(view), script, timeout, std::move(done), true);
}

QString evalWrapper(const QString &code)
{
    // The page may owe some of its line attributes a pending delta: brought up to date first.
    return u"(function(){try{window.__velto&&__velto.syncLines&&__velto.syncLines()}catch(_){}"
           u"try{var r=(0,eval)("_s
        + jsStringLiteral(code)
        + uR"();if(r===undefined)return{k:'u'};if(typeof r==='string')return{k:'s',v:r};)"
          uR"(if(typeof r==='number'||typeof r==='boolean')return{k:'p',v:String(r)};)"
          uR"(var j;try{j=JSON.stringify(r)}catch(_){}return{k:'o',v:j===undefined?String(r):j})"
          uR"(}catch(e){return{k:'e',v:String(e&&e.message!==undefined?e.message:e)}}})())"_s;
}

QString evalAnswer(const std::optional<QVariant> &result)
{
    if (!result)
        return u"Error: the preview gave no result (it did not answer in time, or it closed)"_s;
    const QVariantMap outcome = result->toMap();
    const QString kind = outcome.value(u"k"_s).toString();
    const QString value = outcome.value(u"v"_s).toString();
    if (kind == u"e"_s)
        return u"Error: "_s + value;
    if (kind == u"s"_s || kind == u"p"_s || kind == u"o"_s)
        return value;
    return u"undefined"_s;
}

std::optional<QString> evalCode(const QString &target)
{
    const QList<QStringView> pieces = QStringView(target).split(u'?', Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    const QStringList parts = apihttp::splitFirst(pieces.last(), u'=');
    if (parts.isEmpty())
        return std::nullopt;
    return apihttp::percentDecodeStrict(parts.last()).value_or(parts.last());
}

QString truncatedDom(const QString &html)
{
    const qsizetype cut = graphemes::advance(html, 0, html.size(), domLimit);
    if (cut >= html.size())
        return html;
    return html.left(cut) + u"\n...("_s + QString::number(html.toUtf8().size()) + u" bytes)"_s;
}

void registerWith(DebugServer &server, Timings timings)
{
    server.setRouteHandler(
        ApiRoute::PreviewCheck, [&server, timings](const ApiRequest &, auto connection) {
            if (!server.webView())
                return DebugServer::sendResponse(connection, 200, R"({"error":"no webview"})",
                                                 apihttp::jsonType);
            runScript(*timings.clock, server.webView(), checkProbe, timings.scriptTimeout,
                      [connection](std::optional<QVariant> result) {
                          sendProbeResult(connection, result);
                      });
        });

    server.setRouteHandler(
        ApiRoute::PreviewDom, [&server, timings](const ApiRequest &, auto connection) {
            if (!server.webView())
                return sendText(connection, u"no webview"_s);
            runScript(*timings.clock, server.webView(),
                      evalWrapper(u"document.documentElement.outerHTML"_s), timings.scriptTimeout,
                      [connection](std::optional<QVariant> result) {
                          const QVariantMap outcome = result ? result->toMap() : QVariantMap();
                          const QString kind = outcome.value(u"k"_s).toString();
                          const QString value = outcome.value(u"v"_s).toString();
                          if (kind == u"s"_s)
                              sendText(connection, truncatedDom(value));
                          else if (kind == u"e"_s)
                              sendText(connection, u"error: "_s + value);
                          else
                              sendText(connection, u"error: unknown"_s);
                      });
        });

    server.setRouteHandler(
        ApiRoute::PreviewEval, [&server, timings](const ApiRequest &request, auto connection) {
            if (!server.webView())
                return sendText(connection, u"no webview"_s);
            const std::optional<QString> code = evalCode(request.path);
            if (!code)
                return sendText(connection, u"Usage: ?js=<code>"_s);
            runScript(*timings.clock, server.webView(), evalWrapper(*code), timings.scriptTimeout,
                      [connection](std::optional<QVariant> result) {
                          sendText(connection, evalAnswer(result));
                      });
        });

    server.setRouteHandler(
        ApiRoute::LiveUpdateTest, [&server, timings](const ApiRequest &, auto connection) {
            WorkspaceState *workspace = server.workspace();
            if (!workspace || !server.webView())
                return DebugServer::sendResponse(
                    connection, 200, R"({"error":"no workspace/webview"})", apihttp::jsonType);
            workspace->setText(u"# Live Update Test\n\nGenerated "_s
                               + QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm:ss"_s)
                               + u" +0000\n\n**Bold** `code` $E=mc^2$"_s);
            // The view is looked up again when the delay is over: it may have gone meanwhile.
            timings.clock->singleShot(
                timings.liveUpdateDelay, connection.data(), [&server, timings, connection] {
                    runScript(*timings.clock, server.webView(), liveUpdateProbe,
                              timings.scriptTimeout, [connection](std::optional<QVariant> result) {
                                  sendProbeResult(connection, result);
                              });
                });
        });
}

} // namespace previewendpoints
