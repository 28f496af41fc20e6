#include "ApiTestSupport.h"

#include "Velto/api/PreviewEndpoints.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/Clock.h"
#include "platform/Resources.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

using namespace apitest;
using namespace std::chrono_literals;

namespace {

testsupport::BeforeApplication registerPageScheme(&PageSchemeHandler::registerScheme);

QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, QWebEngineScript::MainWorld,
                        [result](const QVariant &v) { *result = v; });
    testsupport::waitUntil([&] { return result->has_value(); }, 20s);
    return result->value_or(QVariant());
}

// Runs a fetch in the page and waits for its status (or its error text).
QVariant fetchFromPage(QWebEnginePage *page, const QString &url)
{
    evaluate(page,
             QStringLiteral("window.__status = undefined; fetch('%1', {headers: "
                            "{Authorization: 'Bearer tok'}}).then(r => window.__status = "
                            "r.status, e => window.__status = String(e))")
                 .arg(url));
    QVariant status;
    testsupport::waitUntil(
        [&] {
            status = evaluate(page, QStringLiteral("window.__status"));
            return status.isValid();
        },
        20s);
    return status;
}

class PreviewRoutes : public ApiFixture
{
protected:
    void SetUp() override
    {
        ApiFixture::SetUp();
        previewendpoints::registerWith(*server, {1000ms, 3000ms});
    }
    void openPreview(const QString &markdown)
    {
        workspace->setText(markdown);
        view = std::make_unique<PreviewView>(*workspace, *settings,
                                             PreviewServices {clock, pages, pageHandler});
        server->setWebView(view.get());
        view->show();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return view->controller().jsReady() && !view->controller().swapInFlight(); },
            60s));
    }
    QString text(const QByteArray &target) { return QString::fromUtf8(get(target).body); }

    Clock clock;
    const MarkdownPageBuilder pages {Resources::webDir()};
    PageSchemeHandler pageHandler;
    std::unique_ptr<PreviewView> view;
};

} // namespace

TEST_F(PreviewRoutes, withoutAWebViewEachRouteSaysSo)
{
    EXPECT_EQ(get("/api/preview/check").body, R"({"error":"no webview"})");
    EXPECT_EQ(text("/api/preview/dom"), "no webview");
    EXPECT_EQ(text("/api/preview/eval?js=1"), "no webview");
    EXPECT_EQ(get("/api/test/liveupdate").body, R"({"error":"no workspace/webview"})");
}

TEST(PreviewScripts, evalTargetsAndDomTruncation)
{
    EXPECT_EQ(previewendpoints::evalCode("/api/preview/eval?js=1%2B1"), "1+1");
    EXPECT_EQ(previewendpoints::evalCode("/api/preview/eval?x=a=b&c"), "a=b&c");
    EXPECT_EQ(previewendpoints::evalCode("/api/preview/eval?js=%zz"), "%zz");
    EXPECT_EQ(previewendpoints::evalCode("/api/preview/eval?js=a+b"), "a+b");
    for (const char *usage : {"/api/preview/eval", "/api/preview/eval?", "/api/preview/eval?="})
        EXPECT_FALSE(previewendpoints::evalCode(usage)) << usage;

    const QString longText(6000, QChar(0xE4));
    EXPECT_EQ(previewendpoints::truncatedDom(longText),
              QString(5000, QChar(0xE4)) + "\n...(12000 bytes)");
    EXPECT_EQ(previewendpoints::truncatedDom(QString(5000, u'x')), QString(5000, u'x'));
}

TEST_F(PreviewRoutes, probesAndScriptsRunInTheRealPreview)
{
    openPreview("# Title\n\nInline $E=mc^2$ and words.\n\n```cpp\nint x = 1;\n```\n\n"
                "```mermaid\ngraph TD\n  A-->B\n```\n");
    const QJsonObject check = get("/api/preview/check").json();
    EXPECT_TRUE(check.value("hasKatex").toBool());
    EXPECT_TRUE(check.value("hasHljs").toBool());
    EXPECT_TRUE(check.value("hasMermaid").toBool());
    EXPECT_TRUE(check.value("visibleTextPreview").toString().startsWith("Title"));
    EXPECT_GT(check.value("visibleTextLength").toInt(), 10);
    EXPECT_GT(check.value("nonScriptChildCount").toInt(), 0);

    EXPECT_EQ(text("/api/preview/eval?js=1%2B1"), "2");
    EXPECT_EQ(text("/api/preview/eval?x=document.title"),
              text("/api/preview/eval?js=document.title"));
    EXPECT_EQ(text("/api/preview/eval?js=0.1%2B0.2"), "0.30000000000000004");
    EXPECT_EQ(text("/api/preview/eval?js=undefined"), "undefined");
    EXPECT_EQ(text("/api/preview/eval?js=(%7Ba:%5B1,true%5D%7D)"), R"({"a":[1,true]})");
    EXPECT_EQ(text("/api/preview/eval?js=throw%20new%20Error('boom')"), "Error: boom");
    EXPECT_TRUE(text("/api/preview/eval?js=%zz").startsWith("Error: "));
    EXPECT_EQ(text("/api/preview/eval?"), "Usage: ?js=<code>");
    // The code cannot break out of the wrapper that catches its errors.
    EXPECT_TRUE(text("/api/preview/eval?js=1)%7D)()%3Bthrow%201%3B((%7B").startsWith("Error: "));

    const QString html = text("/api/preview/eval?js=document.documentElement.outerHTML");
    ASSERT_GT(html.size(), 5000);
    EXPECT_EQ(text("/api/preview/dom"), previewendpoints::truncatedDom(html));

    // The live-update test replaces the document and reports what the page shows a second later.
    const QJsonObject live = get("/api/test/liveupdate").json();
    EXPECT_TRUE(live.value("hasContent").toBool());
    EXPECT_TRUE(live.value("text").toString().startsWith("Live Update Test"))
        << qPrintable(live.value("text").toString());
    EXPECT_TRUE(QRegularExpression(R"(^# Live Update Test\n\nGenerated \d{4}-\d\d-\d\d )"
                                   R"(\d\d:\d\d:\d\d \+0000\n\n\*\*Bold\*\* `code` \$E=mc\^2\$$)")
                    .match(workspace->text())
                    .hasMatch());
    EXPECT_TRUE(workspace->isModified());

    // The preview goes away while the test waits: the answer is an empty object, not silence.
    std::future<RawResult> pending = startRaw(port, {"GET /api/test/liveupdate HTTP/1.1\r\n\r\n"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return workspace->text().contains("Generated"); }));
    workspace->setText("changed");
    ASSERT_TRUE(testsupport::waitUntil([&] { return workspace->text().startsWith("# Live"); }));
    view.reset();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return pending.wait_for(0s) == std::future_status::ready; }, 20s));
    EXPECT_EQ(parseReply(pending.get()).body, "{}");
}

TEST_F(PreviewRoutes, aScriptThatNeverFinishesIsAnsweredAndThePreviewRecovers)
{
    previewendpoints::registerWith(*server, {1000ms, 300ms});
    openPreview("# Busy");
    const qint64 renderer = view->page()->renderProcessPid();
    // Twice: a stuck renderer is not held against the document.
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(text("/api/preview/eval?js=for(;;)%7B%7D").startsWith("Error: "));
        // The stuck renderer is replaced and the page loaded again: scripts answer once more.
        ASSERT_TRUE(
            testsupport::waitUntil([&] { return text("/api/preview/eval?js=1%2B1") == "2"; }, 60s));
        EXPECT_NE(view->page()->renderProcessPid(), renderer);
        EXPECT_FALSE(view->controller().showsNotice());
    }
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return get("/api/preview/check").json().value("visibleTextPreview") == "Busy"; }));
}

TEST_F(ApiFixture, docsPageTriesItOutFromEitherLoopbackName)
{
    settings->setApiToken("tok");
    QWebEngineView page;
    for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
        SCOPED_TRACE(host.toStdString());
        const QString origin = QStringLiteral("http://%1:%2").arg(host).arg(port);
        bool loaded = false;
        QObject::connect(page.page(), &QWebEnginePage::loadFinished, &page,
                         [&](bool ok) { loaded = ok; });
        page.load(QUrl(origin + "/api/docs"));
        ASSERT_TRUE(testsupport::waitUntil([&] { return loaded; }, 60s));
        // The viewer calls the server the page came from.
        ASSERT_TRUE(testsupport::waitUntil(
            [&] {
                return evaluate(page.page(),
                                "window.ui ? ui.specSelectors.specJson().getIn(['servers', 0, "
                                "'url']) : null")
                    == origin;
            },
            30s));
        EXPECT_EQ(fetchFromPage(page.page(), origin + "/api/status").toInt(), 200);
        // Across origins the browser asks first without the token; that must pass too.
        const QString other = host == "localhost" ? "127.0.0.1" : "localhost";
        EXPECT_EQ(fetchFromPage(page.page(),
                                QStringLiteral("http://%1:%2/api/status").arg(other).arg(port))
                      .toInt(),
                  200);
        QObject::disconnect(page.page(), &QWebEnginePage::loadFinished, &page, nullptr);
    }
}
