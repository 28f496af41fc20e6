#include "Velto/preview/PreviewView.h"

#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "core/markdown/MarkdownDocumentCache.h"
#include "core/markdown/MarkdownParser.h"
#include "platform/LatestWorker.h"

#include <QPointer>

PreviewView::PreviewView(WorkspaceState &workspace, AppSettings &settings, QWidget *parent)
    : QWebEngineView(parent)
{
    PreviewController::Sources sources = standardSources(settings);
    // A long text's blocks are rendered on a worker thread, so typing never waits for them.
    m_renderWorker = std::make_unique<LatestWorker>(this);
    sources.renderBlocksLater = [worker = m_renderWorker.get()](
                                    const QString &markdown,
                                    std::function<void(PreviewBody)> done) {
        if (markdown.size() < backgroundParseSize) {
            done(PreviewBody::render(*MarkdownDocumentCache::shared().document(markdown)));
            return;
        }
        worker->submit([markdown, done = std::move(done)]() -> LatestWorker::Finish {
            auto body = std::make_shared<PreviewBody>(
                PreviewBody::render(*MarkdownDocumentCache::shared().document(markdown)));
            return [done, body] { done(std::move(*body)); };
        });
    };
    m_controller = new PreviewController(*this, std::move(sources), this);
    setUp(workspace.text());
    QPointer<WorkspaceState> ws(&workspace);
    connect(&workspace, &WorkspaceState::textChanged, this, [this, ws] {
        if (ws)
            setMarkdown(ws->text());
    });
    connect(&workspace, &WorkspaceState::selectedFileURLChanged, m_controller,
            &PreviewController::documentChanged);
}

PreviewController::Sources PreviewView::standardSources(AppSettings &settings)
{
    PreviewController::Sources sources;
    sources.renderPage = [](const QString &markdown) {
        return MarkdownParser::renderPage(*MarkdownDocumentCache::shared().document(markdown));
    };
    // The highlighter, outline and status bar of the same keystroke share this parse.
    sources.renderBody = [](const QString &markdown) {
        return MarkdownParser::renderBody(*MarkdownDocumentCache::shared().document(markdown));
    };
    sources.renderBlocks = [](const QString &markdown) {
        return PreviewBody::render(*MarkdownDocumentCache::shared().document(markdown));
    };
    sources.previewScripts = [] { return MarkdownParser::previewScripts(); };
    QPointer<AppSettings> s(&settings);
    sources.style = [s] {
        if (!s)
            return PreviewController::Style();
        return styleFor(s->currentTheme(), s->isWideMode());
    };
    return sources;
}
