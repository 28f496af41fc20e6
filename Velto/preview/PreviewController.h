#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class PreviewHost;

// Keeps a preview page current with the least work: the page is loaded once, the libraries are
// injected one after another, and every later text is shown by one script that swaps the body.
// At most one swap is in flight; texts arriving meanwhile are coalesced, and when the swap
// completes the newest text (if it is not the one shown) goes out as the next swap, so the page
// ends where sending every change would have left it while the backlog cannot grow.
class PreviewController : public QObject
{
    Q_OBJECT
public:
    struct Style
    {
        bool wideMode = false;
        QString extraCSS;
    };

    // Where pages, bodies, libraries and the current look come from.
    struct Sources
    {
        std::function<QString(const QString &markdown)> renderPage;
        std::function<QString(const QString &markdown)> renderBody;
        std::function<QStringList()> previewScripts;
        std::function<Style()> style;
    };

    PreviewController(PreviewHost &host, Sources sources, QObject *parent = nullptr);

    // Loads the page for the first text; call once.
    void start(const QString &markdown);

    // A new text or visible source line (0 = no scroll request).
    void update(const QString &markdown, int visibleSourceLine);

    // The page finished loading (or failed to).
    void pageLoaded(bool ok);

    // An error message the page printed to its console.
    void consoleError(const QString &message);

    bool isLoaded() const { return m_isLoaded; }
    bool jsReady() const { return m_jsReady; }
    int jsLoadIndex() const { return m_jsLoadIndex; }
    bool swapInFlight() const { return m_inFlight.has_value(); }
    std::optional<QString> lastRenderedMarkdown() const { return m_lastRenderedMarkdown; }
    std::optional<QString> pendingMarkdown() const { return m_pendingMarkdown; }
    int lastScrolledLine() const { return m_lastScrolledLine; }
    // Body swaps sent since creation.
    int swapCount() const { return m_swapCount; }

signals:
    // The page finished a body swap (its script completed).
    void swapFinished();
    // Libraries injected and the first swap sent.
    void ready();

private:
    void loadNextScript();
    void finishSetUp();
    void sendSwap(const QString &markdown, std::optional<int> scrollLine);
    void swapCompleted(quint64 ticket);

    PreviewHost &m_host;
    Sources m_sources;

    bool m_isLoaded = false;
    bool m_jsReady = false;
    bool m_fallbackLoaded = false;
    std::optional<QString> m_lastRenderedMarkdown;
    std::optional<QString> m_pendingMarkdown;
    int m_lastScrolledLine = 0;
    int m_jsLoadIndex = 0;

    // Newest values handed in; the next swap after the one in flight uses them.
    QString m_markdown;
    int m_line = 0;

    QStringList m_scripts;
    bool m_scriptsRead = false;
    bool m_chainRunning = false;
    QString m_chainError;

    std::optional<quint64> m_inFlight;
    quint64 m_nextTicket = 1;
    int m_swapCount = 0;
};
