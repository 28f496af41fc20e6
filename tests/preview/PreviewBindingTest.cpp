#include "QStringPrinter.h"
#include "WebTestSupport.h"
#include "support/TestSupport.h"

#include "Velto/model/AppSettings.h"
#include "Velto/model/EditorTheme.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/PreviewScripts.h"
#include "Velto/preview/PreviewView.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

TEST(PreviewBinding, followsTheWorkspaceTextWithTheSettingsLook)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    AppSettings settings(defaults);
    settings.setThemeID(QStringLiteral("night"));
    settings.setIsWideMode(true);
    WorkspaceState::Services services;
    services.defaults = &defaults;
    WorkspaceState workspace(services);
    workspace.setText(QStringLiteral("# First\n\n```cpp\nint x = 1;\n```\n"));

    Clock clock;
    auto view = std::make_unique<PreviewView>(
        workspace, settings, PreviewServices {clock, webtest::pages(), webtest::pageHandler()});
    auto settled = [&] {
        return testsupport::waitUntil(
            [&] { return view->controller().jsReady() && !view->controller().swapInFlight(); },
            60s);
    };
    ASSERT_TRUE(settled());
    auto js = [&](const QString &s) { return webtest::evaluate(view->page(), s); };
    EXPECT_EQ(js(QStringLiteral("document.querySelector('h1').textContent")).toString(),
              QStringLiteral("First"));
    EXPECT_EQ(js(QStringLiteral("document.body.style.maxWidth")).toString(),
              QStringLiteral("none"));
    EXPECT_TRUE(js(QStringLiteral("document.getElementById('theme-override').textContent"))
                    .toString()
                    .startsWith(EditorTheme::night().previewExtraCSS));
    // The night page is dark, and so is its highlighted code: no white boxes.
    const QString codeBackground
        = js(QStringLiteral(
                 "getComputedStyle(document.querySelector('code.hljs')).backgroundColor"))
              .toString();
    EXPECT_NE(codeBackground, QStringLiteral("rgb(255, 255, 255)"));
    EXPECT_EQ(js(QStringLiteral("getComputedStyle(document.querySelector('.hljs-type'))"
                                ".color"))
                  .toString(),
              QStringLiteral("rgb(255, 123, 114)")); // the dark style's keyword colour
    EXPECT_EQ(js(QStringLiteral("mermaid.mermaidAPI.getConfig().theme")).toString(),
              QStringLiteral("dark"));
    // A light theme keeps its style as it is, and the scheme's code style.
    const PreviewController::Style sepia = PreviewView::styleFor(EditorTheme::sepia(), false, {});
    EXPECT_EQ(sepia.extraCSS, EditorTheme::sepia().previewExtraCSS);
    EXPECT_FALSE(sepia.darkPage);
    // The standard theme follows the appearance.
    EXPECT_FALSE(PreviewView::styleFor(EditorTheme::standard(), false, {}).darkPage);
    const QPalette light = QGuiApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    QGuiApplication::setPalette(dark);
    const PreviewController::Style standardDark = PreviewView::styleFor(
        EditorTheme::standard(), false, PreviewView::darkCodeStyle(webtest::pages()));
    QGuiApplication::setPalette(light);
    EXPECT_TRUE(standardDark.darkPage);
    EXPECT_TRUE(standardDark.extraCSS.contains(QStringLiteral(":root{color-scheme:dark;}")));

    // A theme or width switch reaches the page at once, without an edit.
    settings.setThemeID(QStringLiteral("sepia"));
    settings.setIsWideMode(false);
    EXPECT_TRUE(webtest::waitForTrue(
        view->page(),
        QStringLiteral("document.getElementById('theme-override').textContent==")
            + PreviewScripts::jsonStringLiteral(EditorTheme::sepia().previewExtraCSS)
            + QStringLiteral("&&document.body.style.maxWidth==='800px'")));
    EXPECT_EQ(js(QStringLiteral("document.querySelector('h1').textContent")).toString(),
              QStringLiteral("First"));
    workspace.setText(QStringLiteral("# Second\n\n$x$"));
    ASSERT_TRUE(settled());
    EXPECT_EQ(js(QStringLiteral("document.querySelector('h1').textContent")).toString(),
              QStringLiteral("Second"));
    EXPECT_EQ(js(QStringLiteral("document.querySelectorAll('.katex').length")).toInt(), 1);
    EXPECT_EQ(js(QStringLiteral("document.body.style.maxWidth")).toString(),
              QStringLiteral("800px"));
    EXPECT_EQ(
        js(QStringLiteral("document.getElementById('theme-override').textContent")).toString(),
        EditorTheme::sepia().previewExtraCSS);
}

TEST(PreviewBinding, showsImagesFromTheDocumentsFolderAndNoOtherFile)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("doc"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/img")));
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (const QString &file :
         {folder + QStringLiteral("/local.png"), folder + QStringLiteral("/img/deep.png"),
          dir.filePath(QStringLiteral("outside.png"))})
        ASSERT_TRUE(image.save(file));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("outside.png")),
                            folder + QStringLiteral("/link.png")));
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    AppSettings settings(defaults);
    WorkspaceState::Services services;
    services.defaults = &defaults;
    WorkspaceState workspace(services);
    workspace.setSelectedFileURL(QUrl::fromLocalFile(folder + QStringLiteral("/note.md")));
    workspace.setText(QStringLiteral("![a](local.png) ![b](img/deep.png) ![c](../outside.png) "
                                     "![d](link.png) ![e](%2E%2E/outside.png) ![f](note.md)\n"));
    Clock clock;
    PreviewView view(workspace, settings, {clock, webtest::pages(), webtest::pageHandler()});
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return view.controller().jsReady() && !view.controller().swapInFlight(); }, 60s));
    ASSERT_TRUE(webtest::waitForTrue(
        view.page(),
        QStringLiteral("document.images.length===6&&Array.prototype.every.call("
                       "document.images,function(i){return i.complete;})")));
    const QString widths
        = webtest::evaluate(view.page(),
                            QStringLiteral("Array.prototype.map.call(document.images,"
                                           "function(i){return i.naturalWidth;})"
                                           ".join(',')"))
              .toString();
    EXPECT_EQ(widths, QStringLiteral("3,3,0,0,0,0"));
}

} // namespace
