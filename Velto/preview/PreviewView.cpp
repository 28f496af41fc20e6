#include "Velto/preview/PreviewView.h"

#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewPage.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWebEngineScript>

PreviewView::PreviewView(const QString &markdown, PreviewController::Sources sources,
                         QWidget *parent)
    : QWebEngineView(parent)
{
    m_controller = new PreviewController(*this, std::move(sources), this);
    setUp(markdown);
}

PreviewView::~PreviewView()
{
    if (!m_publishedUrl.isEmpty())
        PageSchemeHandler::shared().withdraw(m_publishedUrl);
}

void PreviewView::setUp(const QString &markdown)
{
    m_page = new PreviewPage(this);
    setPage(m_page);
    resize(400, 400);
    connect(m_page, &QWebEnginePage::loadFinished, m_controller, &PreviewController::pageLoaded);
    connect(m_page, &PreviewPage::consoleError, m_controller, &PreviewController::consoleError);
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

void PreviewView::loadPage(const QString &html)
{
    auto &handler = PageSchemeHandler::shared();
    if (!m_publishedUrl.isEmpty())
        handler.withdraw(m_publishedUrl);
    // Kept until the view goes, so any later request of the page by the engine still succeeds.
    m_publishedUrl = handler.publish(html.toUtf8());
    m_page->loadPublished(m_publishedUrl);
}

void PreviewView::loadFallbackPage(const QString &html)
{
    m_page->loadInline(html);
}

void PreviewView::runScript(const QString &script)
{
    m_page->runJavaScript(script, QWebEngineScript::MainWorld);
}

void PreviewView::runScript(const QString &script, std::function<void(const QVariant &)> done)
{
    m_page->runJavaScript(script, QWebEngineScript::MainWorld, std::move(done));
}
