#include "Velto/preview/PreviewPage.h"

#include "Velto/preview/PageSchemeHandler.h"

#include <QDesktopServices>
#include <QWebEngineSettings>

namespace {
// How long after a click or key press a link navigation still counts as the user's.
constexpr qint64 userInputWindowMs = 1000;
} // namespace

PreviewPage::PreviewPage(QObject *parent)
    : QWebEnginePage(PageSchemeHandler::profile(), parent)
    , openExternal([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    harden(this);
}

void PreviewPage::harden(QWebEnginePage *page)
{
    QWebEngineSettings *s = page->settings();
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
}

void PreviewPage::noteUserInput()
{
    m_sinceUserInput.start();
}

void PreviewPage::loadPublished(const QUrl &url)
{
    m_pageUrl = url;
    m_inlinePending = false;
    load(url);
}

void PreviewPage::loadInline(const QString &html)
{
    m_inlinePending = true;
    setHtml(html);
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!isMainFrame)
        return true; // frames of the document's own raw HTML; they cannot replace the page
    if (type == NavigationTypeLinkClicked) {
        // A link to a place in the same page only scrolls.
        if (url.adjusted(QUrl::RemoveFragment) == m_pageUrl.adjusted(QUrl::RemoveFragment)
            && url.hasFragment())
            return true;
        const QString scheme = url.scheme().toLower();
        const bool byUser
            = m_sinceUserInput.isValid() && m_sinceUserInput.elapsed() < userInputWindowMs;
        m_sinceUserInput.invalidate(); // at most one page in the browser per click
        if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && byUser
            && openExternal)
            openExternal(url);
        return false;
    }
    // The page is loaded once. A reload (context menu) would bring back the first text without
    // the libraries, which are injected only once; there is no history to go back in.
    if (type == NavigationTypeReload || type == NavigationTypeBackForward)
        return false;
    if (url.adjusted(QUrl::RemoveFragment) == m_pageUrl.adjusted(QUrl::RemoveFragment)
        && !m_pageUrl.isEmpty())
        return true;
    if (m_inlinePending && url.scheme() == QLatin1String("data")) {
        m_inlinePending = false;
        return true;
    }
    return false;
}

void PreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                           const QString &message, int, const QString &)
{
    if (level == ErrorMessageLevel)
        emit consoleError(message);
}
