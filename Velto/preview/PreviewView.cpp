#include "Velto/preview/PreviewView.h"

#include "Velto/model/EditorTheme.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewPage.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/LatestWorker.h"
#include "platform/ThreadPriority.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QQuickWindow>
#include <QWebEngineScript>

#include <csignal>

PreviewView::PreviewView(const QString &markdown, PreviewController::Sources sources,
                         PageSchemeHandler &pageHandler, QWidget *parent)
    : QWebEngineView(parent)
    , m_pageHandler(&pageHandler)
{
    m_controller = new PreviewController(*this, std::move(sources), this);
    setUp(markdown);
}

PreviewView::~PreviewView()
{
    if (!m_publishedUrl.isEmpty() && m_pageHandler)
        m_pageHandler->withdraw(m_publishedUrl);
}

void PreviewView::setUp(const QString &markdown)
{
    m_page = new PreviewPage(this);
    setPage(m_page);
    resize(400, 400);
    connect(m_page, &QWebEnginePage::loadFinished, m_controller, &PreviewController::pageLoaded);
    // Drawing a long preview keeps the web engine's threads busy for seconds; typing goes first.
    connect(m_page, &QWebEnginePage::loadFinished, this, [this] {
        lowerThreadsNamed(0,
                          {QStringLiteral("VizCompositor"), QStringLiteral("CompositorTileW"),
                           QStringLiteral("Chrome_InProcGp"), QStringLiteral("ThreadPool")});
        lowerThreadsNamed(m_page->renderProcessPid(), {QString()});
    });
    connect(m_page, &PreviewPage::consoleError, m_controller, &PreviewController::consoleError);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, m_controller,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                QString what;
                switch (status) {
                case QWebEnginePage::NormalTerminationStatus:
                    what = QStringLiteral("ended");
                    break;
                case QWebEnginePage::AbnormalTerminationStatus:
                    what = QStringLiteral("failed");
                    break;
                case QWebEnginePage::CrashedTerminationStatus:
                    what = QStringLiteral("crashed");
                    break;
                case QWebEnginePage::KilledTerminationStatus:
                    what = QStringLiteral("killed");
                    break;
                }
                m_controller->rendererTerminated(what + QStringLiteral(", exit code ")
                                                 + QString::number(exitCode));
            });
    m_markdown = markdown;
    m_controller->start(markdown);
}

void PreviewView::childEvent(QChildEvent *event)
{
    // The web engine renders into a child widget that receives the mouse and keyboard input.
    if (event->type() == QEvent::ChildAdded && event->child()->isWidgetType())
        event->child()->installEventFilter(this);
    QWebEngineView::childEvent(event);
}

bool PreviewView::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_page)
        return QWebEngineView::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::TouchEnd:
        m_page->noteUserInput();
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
            m_page->noteUserInput();
        break;
    }
    default:
        break;
    }
    return QWebEngineView::eventFilter(watched, event);
}

void PreviewView::setMarkdown(const QString &markdown)
{
    m_markdown = markdown;
    m_controller->update(m_markdown, m_visibleSourceLine);
}

void PreviewView::setVisibleSourceLine(int line)
{
    m_visibleSourceLine = line;
    m_controller->update(m_markdown, m_visibleSourceLine);
}

void PreviewView::useSoftwareSceneWithoutGpu()
{
    // Whoever started the program chose already.
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND")
        || qEnvironmentVariableIsSet("QSG_RHI_BACKEND"))
        return;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface))
        return;
    const auto *name = context.functions()->glGetString(GL_RENDERER);
    const QByteArray renderer
        = name ? QByteArray(reinterpret_cast<const char *>(name)) : QByteArray();
    context.doneCurrent();
    if (renderer.contains("llvmpipe") || renderer.contains("softpipe")
        || renderer.contains("Software Rasterizer"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

QString PreviewView::withImagePolicy(const QString &html)
{
    // Images from the web, inline data and the document's own folder, which the page's own
    // scheme serves (and nothing else of the disk).
    static const QString head = QStringLiteral("<head>");
    const qsizetype at = html.indexOf(head);
    if (at < 0)
        return html;
    QString out = html;
    out.insert(at + head.size(),
               QStringLiteral("\n<meta http-equiv=\"Content-Security-Policy\" "
                              "content=\"img-src velto-page: http: https: data: blob:\">"));
    return out;
}

void PreviewView::setDocumentFolder(const QString &folder)
{
    m_documentFolder = folder;
    if (!m_publishedUrl.isEmpty() && m_pageHandler)
        m_pageHandler->setFolder(m_publishedUrl, folder);
}

void PreviewView::loadPage(const QString &html)
{
    if (!m_pageHandler)
        return;
    if (!m_publishedUrl.isEmpty())
        m_pageHandler->withdraw(m_publishedUrl);
    // Kept until the view goes, so any later request of the page by the engine still succeeds.
    m_publishedUrl = m_pageHandler->publish(withImagePolicy(html).toUtf8(), m_documentFolder);
    m_page->loadPublished(m_publishedUrl);
}

void PreviewView::loadFallbackPage(const QString &html)
{
    m_page->loadInline(html);
}

void PreviewView::showNotice(const QString &text)
{
    m_page->loadInline(
        QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<style>"
                       ":root{color-scheme:light dark;}body{font-family:sans-serif;margin:0;"
                       "padding:32px;text-align:center;opacity:0.7;}</style>\n</head>\n<body>"
                       "<p id=\"velto-notice\">")
        + text.toHtmlEscaped() + QStringLiteral("</p></body>\n</html>"));
}

PreviewController::Style PreviewView::styleFor(const EditorTheme &theme, bool wideMode,
                                               const QString &darkCode)
{
    PreviewController::Style style {wideMode, theme.previewExtraCSS};
    if (theme.editorBg.color().lightnessF() >= 0.5)
        return style;
    // The theme sheet picks the code style by the engine's colour scheme, which knows nothing of
    // the theme and here not even of the appearance: a dark page would get the light style, with
    // its white code boxes. The dark one, later in the cascade, wins over it.
    style.extraCSS += u'\n' + darkCode;
    style.darkPage = true;
    return style;
}

QString PreviewView::darkCodeStyle(const MarkdownPageBuilder &pages)
{
    QString css = QStringLiteral(":root{color-scheme:dark;}");
    if (const auto sheet = pages.loadResource(QStringLiteral("github-dark.min.css")))
        css += u'\n' + *sheet;
    return css;
}

void PreviewView::restartRenderer(qint64 pid)
{
    if (pid <= 0 || pid != m_page->renderProcessPid() || !m_controller->expectRendererEnd())
        return;
    // The web engine offers no way to stop a running script; its end is reported through
    // renderProcessTerminated, where the controller reloads the page.
    ::kill(pid_t(pid), SIGKILL);
}

void PreviewView::runScript(const QString &script)
{
    m_page->runJavaScript(script, QWebEngineScript::MainWorld);
}

void PreviewView::runScript(const QString &script, std::function<void(const QVariant &)> done)
{
    m_page->runJavaScript(script, QWebEngineScript::MainWorld, std::move(done));
}
