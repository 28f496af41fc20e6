#include "WebTestSupport.h"

#include "Velto/preview/PageSchemeHandler.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"
#include "platform/Resources.h"
#include "support/TestSupport.h"

#include <QWebEnginePage>
#include <QWebEngineScript>

#include <memory>

namespace {
// Pages are served by a custom scheme, which must be known before the QApplication exists.
testsupport::BeforeApplication registerPageScheme(&PageSchemeHandler::registerScheme);
} // namespace

namespace webtest {

QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, QWebEngineScript::MainWorld,
                        [result](const QVariant &v) { *result = v; });
    testsupport::waitUntil([&] { return result->has_value(); }, std::chrono::seconds(20));
    return result->value_or(QVariant());
}

bool waitForTrue(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    return testsupport::waitUntil([&] { return evaluate(page, script).toBool(); },
                                  std::chrono::milliseconds(timeoutMs));
}

const MarkdownPageBuilder &pages()
{
    static const MarkdownPageBuilder builder(Resources::webDir());
    return builder;
}

PageSchemeHandler &pageHandler()
{
    // Never destroyed: pages may still ask for their addresses while the process ends.
    static auto *handler = new PageSchemeHandler;
    return *handler;
}

QStringList libraries(const QStringList &without)
{
    QStringList out;
    for (const char *name :
         {"katex.min.js", "auto-render.min.js", "highlight.min.js", "mermaid.min.js"}) {
        const QString n = QString::fromLatin1(name);
        if (without.contains(n))
            continue;
        if (auto bytes = Resources::readWebFile(n))
            out << QString::fromUtf8(*bytes);
    }
    return out;
}

PreviewController::Sources sources(const PreviewController::Style *style,
                                   const QStringList &without)
{
    PreviewController::Sources s;
    s.renderPage = [](const QString &md) { return pages().renderPage(md); };
    s.renderBody = [](const QString &md) { return MarkdownParser::renderBody(md); };
    // As in the application: unchanged blocks come from the previous render.
    s.renderBlocks = [cache = std::make_shared<PreviewBlockCache>()](const QString &md) {
        return cache->render(MarkdownDocument(md));
    };
    const QStringList libs = libraries(without);
    s.previewScripts = [libs] { return libs; };
    s.style = [style] { return style ? *style : PreviewController::Style(); };
    return s;
}

} // namespace webtest
