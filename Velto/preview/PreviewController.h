#pragma once

#include "Velto/preview/PreviewBody.h"
#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class PreviewHost;

// Keeps a preview page current with the least work: the page is loaded once, the libraries are
// injected one after another, and every later text is shown by one script that updates the body.
// The update keeps the top-level blocks the page already shows and sends, highlights, typesets
// and draws only the new or changed ones; the page ends exactly as after swapping in the whole
// body and redrawing it. At most one update is in flight; texts arriving meanwhile are coalesced,
// and when the update completes the newest text (if it is not the one shown) goes out next, so
// the page ends where sending every change would have left it while the backlog cannot grow.
//
// A renderer process that dies is replaced once by reloading the page with the current text; if
// it dies again on the same document, the pane shows a notice instead and the preview rests until
// another document is opened.
class PreviewController : public QObject
{
    Q_OBJECT
public:
    struct Style
    {
        bool wideMode = false;
        QString extraCSS;
        // The theme makes the page dark: diagrams are drawn for a dark background.
        bool darkPage = false;
    };

    // Where pages, bodies, libraries and the current look come from.
    struct Sources
    {
        std::function<QString(const QString &markdown)> renderPage;
        std::function<QString(const QString &markdown)> renderBody;
        // The body as blocks; without it every update swaps the whole body.
        std::function<PreviewBody(const QString &markdown)> renderBlocks;
        // Runs a job on another thread, then on this one what the job returned. When set, the
        // updates of long texts (rendering their blocks, comparing them with the page's, writing
        // the script) are prepared there, renderBlocks being called on that thread.
        std::function<void(std::function<std::function<void()>()> job)> runElsewhere;
        // Called on this thread as a long text's update is handed to runElsewhere: what renders
        // that text's blocks there. What is known of the text now (its analysis, while it is the
        // newest) may be gone by the time the other thread starts. Unset: renderBlocks.
        std::function<std::function<PreviewBody()>(const QString &markdown)> bindBlocks;
        std::function<QStringList()> previewScripts;
        std::function<Style()> style;
        // The timers of the busy poll; unset: Qt timers of the controller's own. Must outlive the
        // controller.
        Clock *clock = nullptr;
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

    // The page's renderer process ended (crashed, killed, out of memory).
    void rendererTerminated(const QString &description);

    // The renderer is about to be ended on purpose (it stopped answering): its end reloads the
    // page and does not count against the document. False while such an end is already due.
    bool expectRendererEnd() { return !std::exchange(m_rendererEndExpected, true); }

    // The theme or the width changed: the page takes the new look without a new text.
    void styleChanged();

    // Another document is now shown: a preview resting after repeated renderer deaths tries again.
    void documentChanged();

    // Off: every update swaps the whole body (the reference the patched page must equal).
    void setIncremental(bool on) { m_incremental = on; }

    bool isLoaded() const { return m_isLoaded; }
    bool jsReady() const { return m_jsReady; }
    int jsLoadIndex() const { return m_jsLoadIndex; }
    bool swapInFlight() const { return m_inFlight.has_value(); }
    std::optional<QString> lastRenderedMarkdown() const { return m_lastRenderedMarkdown; }
    std::optional<QString> pendingMarkdown() const { return m_pendingMarkdown; }
    int lastScrolledLine() const { return m_lastScrolledLine; }
    // Blocks sent to be drawn by the last update, and by all updates together.
    int lastDrawnBlocks() const { return m_lastDrawnBlocks; }
    qint64 drawnBlocks() const { return m_drawnBlocks; }
    // The renderer died twice on this document; the pane shows the notice.
    bool showsNotice() const { return m_showsNotice; }

signals:
    // The page finished a body swap (its script completed).
    void swapFinished();
    // Libraries injected and the first swap sent.
    void ready();

private:
    friend struct PreviewControllerTestAccess;

    void loadNextScript();
    void finishSetUp();
    using ShownBlocks = PreviewBlockList;
    // An update ready to send: its script and what the page shows once it ran.
    struct PreparedSwap
    {
        QString script;
        bool patch = false;
        bool fill = false; // a new body put in in slices
        int drawnBlocks = 0;
        std::optional<ShownBlocks> shown; // none: the page cannot be patched
    };
    // `shown` is what the page holds, or none to swap the whole body. Reads no member: it runs on
    // whichever thread prepares the update.
    static PreparedSwap prepareSwap(PreviewBody body, std::optional<ShownBlocks> shown,
                                    const Style &style, std::optional<int> scrollLine,
                                    int focusLine);

    void sendSwap(const QString &markdown, std::optional<int> scrollLine);
    bool startsNewText(const QString &markdown) const;
    // Shows the first blocks of a long new text while the whole is prepared; false if it did not.
    bool sendHead(const QString &markdown, const Style &style, std::optional<int> scrollLine);
    void sendPrepared(PreparedSwap swap);
    void sendScript(const QString &script, bool patch);
    void swapCompleted(quint64 ticket, bool patch, const QVariant &result);
    void waitWhileBusy();
    void sendNewest();
    void forgetPage();
    void reload();

    PreviewHost &m_host;
    Sources m_sources;
    std::unique_ptr<Clock> m_ownClock;
    Clock &m_clock;

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
    QElapsedTimer m_busySince; // since the last update was sent
    QDateTime m_lastSentAt; // on the clock: when the last update went to the page

    // The blocks the page holds after the last update sent; only valid when it can be patched.
    bool m_incremental = true;
    std::optional<ShownBlocks> m_shown; // none: not patchable
    int m_lastDrawnBlocks = 0;
    qint64 m_drawnBlocks = 0;

    int m_rendererDeaths = 0; // on the current document
    bool m_rendererEndExpected = false;
    bool m_showsNotice = false;
};
