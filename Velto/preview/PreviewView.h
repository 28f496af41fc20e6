#pragma once

#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewController.h"
#include "Velto/preview/PreviewHost.h"
#include "Velto/preview/PreviewServices.h"

#include <QPointer>
#include <QUrl>
#include <QWebEngineView>

#include <memory>

class AppSettings;
class LatestWorker;
class MarkdownPageBuilder;
class PreviewPage;
struct EditorTheme;
class WorkspaceState;

// The live preview beside the editor: a web view showing the rendered document, kept current
// through PreviewController.
class PreviewView
    : public QWebEngineView
    , private PreviewHost
{
    Q_OBJECT
public:
    // A preview of the workspace's text; width and theme style are read from the settings at
    // every swap. The visible source line starts at 0 (no scroll request).
    PreviewView(WorkspaceState &workspace, AppSettings &settings, const PreviewServices &services,
                QWidget *parent = nullptr);

    // A preview of the given text with explicit sources (tests, benchmarks).
    PreviewView(const QString &markdown, PreviewController::Sources sources,
                PageSchemeHandler &pageHandler, QWidget *parent = nullptr);

    ~PreviewView() override;

    // The sources of the application: the builder's pages and the settings' current look.
    static PreviewController::Sources standardSources(AppSettings &settings,
                                                      const MarkdownPageBuilder &pages);

    // The page's look for a theme. A dark theme (or the standard theme in a dark appearance)
    // makes the page dark and adds darkCode (darkCodeStyle) so its code highlighting takes the
    // dark style, whatever the web engine believes the system's appearance to be.
    static PreviewController::Style styleFor(const EditorTheme &theme, bool wideMode,
                                             const QString &darkCode);
    // What a dark page adds: the dark colour scheme and the assets' dark code style.
    static QString darkCodeStyle(const MarkdownPageBuilder &pages);

    QString markdown() const { return m_markdown; }
    void setMarkdown(const QString &markdown);

    // The 1-based source line to bring to the top; 0 means no scroll request.
    int visibleSourceLine() const { return m_visibleSourceLine; }
    void setVisibleSourceLine(int line);

    PreviewController &controller() { return *m_controller; }
    PreviewPage &previewPage() { return *m_page; }

    // Ends the page's renderer process `pid` when it is still the page's (a script that never
    // returns keeps it busy for good) and loads the page again in a new one.
    Q_INVOKABLE void restartRenderer(qint64 pid);

    // The folder relative image sources are read from (the open document's); empty: none.
    void setDocumentFolder(const QString &folder);

    // Without a graphics card, the scene that shows the web engine's frames would be drawn by a
    // software OpenGL rasterizer on the GUI thread and a pool of helper threads: more work than
    // drawing the frames with the CPU directly, on every frame the preview shows. Then the scene is
    // drawn in software. Call once after the application exists, before the first web view.
    static void useSoftwareSceneWithoutGpu();

    // The page as the preview publishes it: images only from the web, inline data and the
    // page's own address (the document's folder).
    static QString withImagePolicy(const QString &html);

protected:
    void childEvent(QChildEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUp(const QString &markdown);

    void loadPage(const QString &html) override;
    void loadFallbackPage(const QString &html) override;
    void showNotice(const QString &text) override;
    void runScript(const QString &script) override;
    void runScript(const QString &script, std::function<void(const QVariant &)> done) override;

    // Weakly: a window can outlive the application's root at exit.
    QPointer<PageSchemeHandler> m_pageHandler;
    PreviewPage *m_page = nullptr;
    PreviewController *m_controller = nullptr;
    QString m_markdown;
    int m_visibleSourceLine = 0;
    QUrl m_publishedUrl;
    QString m_documentFolder;
    std::unique_ptr<LatestWorker> m_renderWorker; // renders the blocks of long texts
};
