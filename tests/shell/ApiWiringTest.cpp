#include "ShellFixture.h"

#include "Velto/api/WindowEndpoints.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/VeltoApp.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/L10n.h"
#include "support/LoopbackRequest.h"
#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

testsupport::BeforeApplication registerPageScheme(&PageSchemeHandler::registerScheme);

using shelltest::ShellTest;

// The preview no longer knows the API; the window's preview factory hands it over.
TEST_F(ShellTest, theWindowsLivePreviewIsTheOneTheApiInspects)
{
    const MarkdownPageBuilder pages {QString()};
    PageSchemeHandler pageHandler;
    ShellServices s = services();
    s.makePreview = nullptr;
    s.pages = &pages;
    s.pageHandler = &pageHandler;
    const PreviewPane pane = s.resolved().makePreview(*ws, nullptr);
    std::unique_ptr<QWidget> view(pane.widget);
    ASSERT_NE(qobject_cast<PreviewView *>(view.get()), nullptr);
    EXPECT_EQ(api->webView(), view.get());

    // Held weakly: a closed window leaves nothing dangling behind.
    view.reset();
    EXPECT_EQ(api->webView(), nullptr);
}

} // namespace

// Through the application's own windows: the main window is captured as a PNG of its size, and
// the app-settings route opens the settings window the menu opens.
TEST_F(ShellTest, theApiCapturesTheRealWindowsAndOpensTheSettingsWindow)
{
    ShellServices s = services();
    VeltoApp app(s);
    app.setLegalAcceptancePresenter({});
    QTemporaryDir runtime;
    settings->setApiToken(QString());
    windowendpoints::registerWith(*api, {runtime.path()});
    const quint16 port = testsupport::listenOnFreePort([&](quint16 candidate) {
        api->startListener(candidate);
        return api->activePort() == candidate;
    });
    MainWindow *window = app.openMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return window->isVisible(); }));

    const QJsonObject shots = testsupport::requestJson(port, "GET", "/api/screenshot");
    ASSERT_EQ(shots.value("count").toInt(), 1) << QJsonDocument(shots).toJson().constData();
    const QString file = shots.value("screenshots").toArray().first().toString();
    EXPECT_TRUE(file.endsWith("/velto-screenshots/Velto.png")) << qPrintable(file);
    EXPECT_EQ(QImage(file).size(), window->size() * window->devicePixelRatio());

    const QJsonObject listed = testsupport::requestJson(port, "GET", "/api/screenshot/windows");
    EXPECT_TRUE(listed["windows"][0]["isMain"].toBool());

    const QJsonObject opened = testsupport::requestJson(port, "POST", "/api/app/settings");
    QStringList titles;
    for (const QJsonValue &w : opened.value("windows").toArray())
        titles << w["title"].toString();
    EXPECT_EQ(titles, (QStringList {"Velto", L10n::text("settings.title")}));

    window->setClosesForReal(true);
    delete window;
}
