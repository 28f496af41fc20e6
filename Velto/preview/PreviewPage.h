#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>

// A web page for rendered documents. Documents may carry raw HTML and links, so the page is
// locked down: it cannot be navigated away from the page it was given (http and https links open
// in the system browser instead), opens no windows and reads no local files.
class PreviewPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit PreviewPage(QObject *parent = nullptr);

    // Turns off what a rendered document must not do; used by the export pages too.
    static void harden(QWebEnginePage *page);

    // Navigates to a published page (PageSchemeHandler) or, for a fallback, to inline HTML.
    void loadPublished(const QUrl &url);
    void loadInline(const QString &html);

    // How http and https links are opened (default: the system browser). Tests replace it.
    std::function<void(const QUrl &)> openExternal;

    // The user just clicked or pressed a key in the page. Only a navigation right after such
    // input counts as the user's link click: scripts of the document (an onerror handler in raw
    // HTML, re-run by every swap) navigate as "link clicks" too and must not open the browser.
    void noteUserInput();

signals:
    // A message the page printed to its console at error level.
    void consoleError(const QString &message);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private:
    QUrl m_pageUrl;
    bool m_inlinePending = false;
    QElapsedTimer m_sinceUserInput;
};
