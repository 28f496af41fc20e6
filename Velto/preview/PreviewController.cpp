#include "Velto/preview/PreviewController.h"

#include "Velto/preview/PreviewHost.h"
#include "Velto/preview/PreviewScripts.h"
#include "platform/Log.h"

#include <QPointer>

namespace {
// The completion value of an injected library followed by this expression tells a script that ran
// to its end from one that threw (the callback receives no error object).
const QString injectedMarker = QStringLiteral("velto-injected");
} // namespace

PreviewController::PreviewController(PreviewHost &host, Sources sources, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_sources(std::move(sources))
{
}

void PreviewController::start(const QString &markdown)
{
    m_markdown = markdown;
    m_lastRenderedMarkdown = markdown;
    m_host.loadPage(m_sources.renderPage(markdown));
}

void PreviewController::update(const QString &markdown, int visibleSourceLine)
{
    m_markdown = markdown;
    m_line = visibleSourceLine;
    if (!m_jsReady) {
        m_pendingMarkdown = markdown;
        return;
    }
    if (m_lastRenderedMarkdown == markdown) {
        if (visibleSourceLine != m_lastScrolledLine && visibleSourceLine > 0) {
            m_lastScrolledLine = visibleSourceLine;
            m_host.runScript(PreviewScripts::scrollScript(visibleSourceLine));
        }
        return;
    }
    if (m_inFlight)
        return; // coalesced: the completion of the swap in flight sends the newest text
    m_lastScrolledLine = visibleSourceLine;
    sendSwap(markdown, visibleSourceLine);
}

void PreviewController::pageLoaded(bool ok)
{
    if (!ok) {
        // Only a page that never loaded is replaced: a later failed or refused navigation keeps
        // the page the preview already shows.
        if (m_isLoaded || m_fallbackLoaded)
            return;
        m_fallbackLoaded = true;
        logLine(QStringLiteral("[Preview] Page failed to load; showing an empty page"));
        m_host.loadFallbackPage(m_sources.renderPage(QString()));
        return;
    }
    m_isLoaded = true;
    // A new document drops the completions still owed by the old one.
    m_inFlight.reset();
    if (m_chainRunning)
        return; // the running chain finishes the set-up on the new document
    loadNextScript();
}

void PreviewController::consoleError(const QString &message)
{
    if (m_chainRunning && m_chainError.isEmpty())
        m_chainError = message;
}

void PreviewController::loadNextScript()
{
    if (!m_scriptsRead) {
        m_scripts = m_sources.previewScripts ? m_sources.previewScripts() : QStringList();
        m_scriptsRead = true;
    }
    if (m_jsLoadIndex < m_scripts.size()) {
        const QString script = m_scripts.at(m_jsLoadIndex);
        ++m_jsLoadIndex;
        m_chainRunning = true;
        m_chainError.clear();
        QPointer<PreviewController> guard(this);
        m_host.runScript(script + QStringLiteral("\n;'") + injectedMarker + u'\'',
                         [guard](const QVariant &result) {
                             if (!guard)
                                 return;
                             if (result.toString() != injectedMarker) {
                                 const QString description = guard->m_chainError.isEmpty()
                                     ? QStringLiteral("the script could not be evaluated")
                                     : guard->m_chainError;
                                 logLine(QStringLiteral("[Preview] JS inject error: ")
                                         + description);
                             }
                             guard->loadNextScript();
                         });
        return;
    }
    m_chainRunning = false;
    finishSetUp();
}

void PreviewController::finishSetUp()
{
    m_jsReady = true;
    m_host.runScript(PreviewScripts::setupScript());
    // Always one full update, so the first page already shows highlighting, mathematics,
    // diagrams, the theme and the width; no scroll call.
    m_pendingMarkdown.reset();
    sendSwap(m_markdown, std::nullopt);
    emit ready();
}

void PreviewController::sendSwap(const QString &markdown, std::optional<int> scrollLine)
{
    m_lastRenderedMarkdown = markdown;
    const Style style = m_sources.style ? m_sources.style() : Style();
    const QString script = PreviewScripts::updateScript(m_sources.renderBody(markdown),
                                                        style.wideMode, style.extraCSS, scrollLine);
    const quint64 ticket = m_nextTicket++;
    m_inFlight = ticket;
    ++m_swapCount;
    QPointer<PreviewController> guard(this);
    m_host.runScript(script, [guard, ticket](const QVariant &) {
        if (guard)
            guard->swapCompleted(ticket);
    });
}

void PreviewController::swapCompleted(quint64 ticket)
{
    if (m_inFlight != ticket)
        return;
    m_inFlight.reset();
    emit swapFinished();
    if (m_lastRenderedMarkdown != m_markdown)
        update(m_markdown, m_line);
}
