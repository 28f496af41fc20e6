#include "Velto/preview/PreviewView.h"

#include "Velto/model/AppSettings.h"
#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/WorkspaceState.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"
#include "platform/LatestWorker.h"

#include <QFileInfo>
#include <QPointer>

PreviewView::PreviewView(WorkspaceState &workspace, AppSettings &settings,
                         const PreviewServices &services, QWidget *parent)
    : QWebEngineView(parent)
    , m_pageHandler(&services.pageHandler)
{
    PreviewController::Sources sources = standardSources(settings, services.pages);
    sources.clock = &services.clock;
    // The workspace's parse of the text, which the editor, outline and status bar share; a text
    // that is no longer the newest is parsed on its own.
    const auto lookup = DocumentAnalysis::of(workspace).lookup();
    auto parseOf = [lookup](const QString &markdown) {
        const std::shared_ptr<const TextAnalysis> analysis = lookup(markdown);
        return analysis ? analysis->sharedDocument() : MarkdownDocument::parse(markdown);
    };
    sources.renderPage = [parseOf, &pages = services.pages](const QString &markdown) {
        return pages.renderPage(*parseOf(markdown));
    };
    sources.renderBody = [parseOf](const QString &markdown) {
        return MarkdownParser::renderBody(*parseOf(markdown));
    };
    // The blocks are a part of the analysis: a revision's are made from the revision before's.
    sources.renderBlocks
        = [lookup, cache = std::make_shared<PreviewBlockCache>()](const QString &markdown) {
              if (const std::shared_ptr<const TextAnalysis> analysis = lookup(markdown))
                  return analysis->derived(&PreviewBlocks::of).body();
              return cache->render(*MarkdownDocument::parse(markdown));
          };
    // A long text's analysis is taken when its update is sent: a key typed before the render
    // starts would leave it no longer the newest, and the whole text would be parsed again.
    sources.bindBlocks = [lookup, renderBlocks = sources.renderBlocks](
                             const QString &markdown) -> std::function<PreviewBody()> {
        if (std::shared_ptr<const TextAnalysis> analysis = lookup(markdown))
            return [analysis] { return analysis->derived(&PreviewBlocks::of).body(); };
        return [renderBlocks, markdown] { return renderBlocks(markdown); };
    };
    // A long text's update is prepared on a worker thread, so typing never waits for it.
    m_renderWorker = std::make_unique<LatestWorker>(this);
    sources.runElsewhere = [worker = m_renderWorker.get()](LatestWorker::Job job) {
        worker->submit(std::move(job));
    };
    m_controller = new PreviewController(*this, std::move(sources), this);
    QPointer<WorkspaceState> ws(&workspace);
    auto followFolder = [this, ws] {
        const auto file = ws ? ws->selectedFileURL() : std::nullopt;
        setDocumentFolder(file && file->isLocalFile()
                              ? QFileInfo(file->toLocalFile()).absolutePath()
                              : QString());
    };
    followFolder();
    setUp(workspace.text());
    connect(&workspace, &WorkspaceState::selectedFileURLChanged, this, followFolder);
    connect(&workspace, &WorkspaceState::textChanged, this, [this, ws] {
        if (ws)
            setMarkdown(ws->text());
    });
    connect(&workspace, &WorkspaceState::selectedFileURLChanged, m_controller,
            &PreviewController::documentChanged);
    connect(&settings, &AppSettings::themeIDChanged, m_controller,
            &PreviewController::styleChanged);
    connect(&settings, &AppSettings::isWideModeChanged, m_controller,
            &PreviewController::styleChanged);
}

PreviewController::Sources PreviewView::standardSources(AppSettings &settings,
                                                        const MarkdownPageBuilder &pages)
{
    PreviewController::Sources sources;
    sources.renderPage = [&pages](const QString &markdown) {
        return pages.renderPage(*MarkdownDocument::parse(markdown));
    };
    sources.renderBody = [](const QString &markdown) {
        return MarkdownParser::renderBody(*MarkdownDocument::parse(markdown));
    };
    sources.renderBlocks = [](const QString &markdown) {
        return PreviewBody::render(*MarkdownDocument::parse(markdown));
    };
    sources.previewScripts = [&pages] { return pages.previewScripts(); };
    QPointer<AppSettings> s(&settings);
    // Read once per view, not at every swap.
    sources.style = [s, darkCode = darkCodeStyle(pages)] {
        if (!s)
            return PreviewController::Style();
        return styleFor(s->currentTheme(), s->isWideMode(), darkCode);
    };
    return sources;
}
