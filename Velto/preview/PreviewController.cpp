#include "Velto/preview/PreviewController.h"

#include "Velto/preview/PreviewHost.h"
#include "Velto/preview/PreviewScripts.h"
#include "core/markdown/TextAnalysis.h"
#include "platform/Clock.h"
#include "platform/L10n.h"
#include "platform/LatestWorker.h"
#include "platform/Log.h"

#include <QPointer>

#include <algorithm>

namespace {
// Longer texts are not put in the first page (see start()).
constexpr qsizetype pageBodyLimit = 64 * 1024;
// A body this long that is mostly new is put in in slices rather than patched in one go.
constexpr qsizetype fillSize = 256 * 1024;
// A new body this long first shows the blocks of about this many characters at its start: a
// screenful or more, parsed in milliseconds.
constexpr qsizetype headSize = 16 * 1024;
// How often a page still drawing its visible part is asked again, and for how long at most.
constexpr int busyPollMs = 30;
constexpr qint64 busyLimitMs = 20000;

// A block's HTML as a string literal of a script.
void appendBlockHTML(QString &script, const PlacedBlock &block, std::string &scratch)
{
    const std::string_view html = block.html(scratch);
    PreviewScripts::appendJsonStringLiteral(script,
                                            QString::fromUtf8(html.data(), qsizetype(html.size())));
}
// A long text's next update goes out no sooner than this after the one before: with a page that
// patches in tens of milliseconds, back-to-back updates would cost the main process more per key
// than the typing itself, for changes no reader tells apart.
constexpr qint64 longTextSpacingMs = 120;

// The completion value of an injected library followed by this expression tells a script that ran
// to its end from one that threw (the callback receives no error object).
const QString injectedMarker = QStringLiteral("velto-injected");
} // namespace

PreviewController::PreviewController(PreviewHost &host, Sources sources, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_sources(std::move(sources))
    , m_ownClock(m_sources.clock ? nullptr : std::make_unique<Clock>())
    , m_clock(m_sources.clock ? *m_sources.clock : *m_ownClock)
{
}

void PreviewController::start(const QString &markdown)
{
    m_markdown = markdown;
    m_lastRenderedMarkdown = markdown;
    // A long document comes with the first update, in slices and the visible part first: put in
    // the page, it would be parsed and laid out whole before anything shows, then again.
    m_host.loadPage(m_sources.renderPage(markdown.size() > pageBodyLimit ? QString() : markdown));
}

void PreviewController::update(const QString &markdown, int visibleSourceLine)
{
    m_markdown = markdown;
    m_line = visibleSourceLine;
    if (m_showsNotice)
        return;
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
    if (m_showsNotice)
        return; // the notice page
    if (!ok) {
        // Only a page that never loaded is replaced: a later failed or refused navigation keeps
        // the page the preview already shows.
        if (m_isLoaded || m_fallbackLoaded)
            return;
        m_fallbackLoaded = true;
        qCInfo(logPreview).noquote()
            << QStringLiteral("[Preview] Page failed to load; showing an empty page");
        m_host.loadFallbackPage(m_sources.renderPage(QString()));
        return;
    }
    m_isLoaded = true;
    // A new document drops the completions still owed by the old one, and holds no blocks.
    m_inFlight.reset();
    m_shown.reset();
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
                                 qCInfo(logPreview).noquote()
                                     << QStringLiteral("[Preview] JS inject error: ") + description;
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
    m_host.runScript(PreviewScripts::setupScript(m_sources.style && m_sources.style().darkPage));
    m_lastRenderedMarkdown.reset(); // the page shows none of it yet
    // Always one full update, so the first page already shows highlighting, mathematics,
    // diagrams, the theme and the width; no scroll call.
    m_pendingMarkdown.reset();
    sendSwap(m_markdown, std::nullopt);
    emit ready();
}

void PreviewController::rendererTerminated(const QString &description)
{
    qCInfo(logPreview).noquote() << QStringLiteral("[Preview] The renderer process ended (")
            + description + QStringLiteral(")");
    if (std::exchange(m_rendererEndExpected, false)) {
        // Ended because it stopped answering, not because of the document.
        forgetPage();
        if (m_showsNotice)
            m_host.showNotice(L10n::text(QStringLiteral("preview.tooLarge")));
        else
            reload();
        return;
    }
    if (m_showsNotice)
        return;
    forgetPage();
    if (++m_rendererDeaths == 1) {
        qCInfo(logPreview).noquote() << QStringLiteral("[Preview] Reloading the preview");
        reload();
        return;
    }
    qCInfo(logPreview).noquote() << QStringLiteral(
        "[Preview] The renderer died again on this document; preview paused");
    m_showsNotice = true;
    m_host.showNotice(L10n::text(QStringLiteral("preview.tooLarge")));
}

void PreviewController::styleChanged()
{
    // A page still loading takes the look with its first update.
    if (!m_jsReady || m_showsNotice || !m_sources.style)
        return;
    const Style style = m_sources.style();
    m_host.runScript(PreviewScripts::lookScript(style.wideMode, style.extraCSS));
}

void PreviewController::documentChanged()
{
    m_rendererDeaths = 0;
    if (!m_showsNotice)
        return;
    m_showsNotice = false;
    reload();
}

void PreviewController::forgetPage()
{
    // Nothing of the old page survives: its libraries, its blocks and the completions it owed.
    m_isLoaded = false;
    m_jsReady = false;
    m_jsLoadIndex = 0;
    m_chainRunning = false;
    m_inFlight.reset();
    m_shown.reset();
    m_pendingMarkdown.reset();
}

void PreviewController::reload()
{
    forgetPage();
    start(m_markdown);
}

void PreviewController::sendSwap(const QString &markdown, std::optional<int> scrollLine)
{
    const bool newText = startsNewText(markdown);
    m_lastRenderedMarkdown = markdown;
    const Style style = m_sources.style ? m_sources.style() : Style();
    if (!m_sources.renderBlocks) {
        m_lastDrawnBlocks = 0;
        sendScript(PreviewScripts::updateScript(m_sources.renderBody(markdown), style.wideMode,
                                                style.extraCSS, scrollLine),
                   false);
        return;
    }
    std::optional<ShownBlocks> shown;
    if (m_incremental)
        shown = m_shown;
    if (!m_sources.runElsewhere || markdown.size() < backgroundParseSize) {
        sendPrepared(prepareSwap(m_sources.renderBlocks(markdown), std::move(shown), style,
                                 scrollLine, m_line));
        return;
    }
    // The head is brought to the line at once; the rest goes in around it.
    if (newText && sendHead(markdown, style, scrollLine))
        scrollLine.reset();
    // A long text's update is prepared on another thread and counts as in flight meanwhile; a
    // page forgotten in the meantime drops it.
    const quint64 ticket = m_nextTicket++;
    m_inFlight = ticket;
    QPointer<PreviewController> guard(this);
    std::function<PreviewBody()> render = m_sources.bindBlocks
        ? m_sources.bindBlocks(markdown)
        : [renderBlocks = m_sources.renderBlocks, markdown] { return renderBlocks(markdown); };
    m_sources.runElsewhere([render = std::move(render), shown, style, scrollLine,
                            focusLine = m_line, guard, ticket]() -> std::function<void()> {
        auto prepared = std::make_shared<PreparedSwap>(
            prepareSwap(render(), shown, style, scrollLine, focusLine));
        return [guard, ticket, prepared] {
            if (guard && guard->m_inFlight == ticket)
                guard->sendPrepared(std::move(*prepared));
        };
    });
}

bool PreviewController::startsNewText(const QString &markdown) const
{
    if (markdown.size() < fillSize)
        return false;
    if (!m_lastRenderedMarkdown)
        return true;
    // An edit changes one place: a text whose start and end both changed is another one.
    const QStringView before(*m_lastRenderedMarkdown);
    const QStringView now(markdown);
    const qsizetype n = std::min(now.size(), headSize);
    return before.left(n) != now.left(n) && before.right(n) != now.right(n);
}

bool PreviewController::sendHead(const QString &markdown, const Style &style,
                                 std::optional<int> scrollLine)
{
    // Parsing the whole of a long new text takes a second; its first screenful is parsed on its
    // own and shown meanwhile, while the editor is still taking the text in.
    const PreviewHead head = PreviewHead::of(markdown, headSize);
    if (head.lines == 0 || m_line > head.lines)
        return false; // the view is not at the start
    const PreviewBody body = m_sources.renderBlocks(head.text);
    if (!body.patchable)
        return false; // raw HTML may hold the rest of the page open
    // The blocks starting on the head's own lines, but the last, which may go on past them.
    size_t count = 0;
    while (count < body.blocks.size() && body.blocks[count].line > 0
           && body.blocks[count].line <= head.lines)
        ++count;
    if (count < 2)
        return false;
    QString blocks;
    std::string scratch;
    blocks += u'[';
    for (size_t i = 0; i + 1 < count; ++i) {
        if (i)
            blocks += u',';
        appendBlockHTML(blocks, body.blocks[i], scratch);
    }
    blocks += u']';
    m_host.runScript(
        PreviewScripts::headScript(blocks, style.wideMode, style.extraCSS, scrollLine));
    return true;
}

PreviewController::PreparedSwap
PreviewController::prepareSwap(PreviewBody body, std::optional<ShownBlocks> shown,
                               const Style &style, std::optional<int> scrollLine, int focusLine)
{
    PreparedSwap prepared;
    prepared.patch = shown && body.patchable;
    std::vector<PreviewPatchOp> diff;
    const qsizetype bodySize = body.patchable ? qsizetype(body.blocks.htmlSize()) : 0;
    std::string scratch;
    if (prepared.patch) {
        diff = diffBlocks(*shown, body.blocks);
        qsizetype inserted = 0;
        for (const PreviewPatchOp &op : diff) {
            if (!op.keep)
                inserted += qsizetype(body.blocks[size_t(op.block)].content->html.size());
        }
        // Another document (or most of one): put in whole, visible part first.
        if (bodySize >= fillSize && inserted * 2 > bodySize)
            prepared.patch = false;
    }
    if (!prepared.patch && body.patchable && bodySize >= fillSize) {
        prepared.fill = true;
        prepared.drawnBlocks = int(body.blocks.size());
        QString blocks, lines;
        blocks.reserve(bodySize + bodySize / 8 + 16);
        lines.reserve(qsizetype(body.blocks.size()) * 7 + 2);
        blocks += u'[';
        lines += u'[';
        int focus = 0;
        int i = 0;
        body.blocks.forEach([&](const PlacedBlock &block) {
            if (i) {
                blocks += u',';
                lines += u',';
            }
            appendBlockHTML(blocks, block, scratch);
            lines += QString::number(block.line);
            if (block.line > 0 && block.line <= focusLine)
                focus = i;
            ++i;
        });
        blocks += u']';
        lines += u']';
        prepared.script = PreviewScripts::fillScript(blocks, lines, focus, int(body.blocks.size()),
                                                     style.wideMode, style.extraCSS, scrollLine);
    } else if (prepared.patch) {
        // Reserved at once: a new long document sends megabytes of blocks here.
        qsizetype size = 2;
        for (const PreviewPatchOp &op : diff) {
            if (op.keep)
                size += 32;
            else
                size += qsizetype(body.blocks[size_t(op.block)].content->html.size()) + 8;
        }
        QString ops;
        ops.reserve(size + size / 16);
        ops += u'[';
        for (const PreviewPatchOp &op : diff) {
            if (ops.size() > 1)
                ops += u',';
            if (op.keep) {
                ops += QStringLiteral("[%1,%2,%3]").arg(op.from).arg(op.count).arg(op.delta);
            } else {
                appendBlockHTML(ops, body.blocks[size_t(op.block)], scratch);
                ++prepared.drawnBlocks;
            }
        }
        ops += u']';
        prepared.script
            = PreviewScripts::patchScript(ops, style.wideMode, style.extraCSS, scrollLine);
    } else {
        prepared.drawnBlocks = int(body.blocks.size());
        const std::optional<int> tracked
            = body.patchable ? std::optional<int>(int(body.blocks.size())) : std::nullopt;
        prepared.script = PreviewScripts::updateScript(body.html(), style.wideMode, style.extraCSS,
                                                       scrollLine, tracked);
    }
    if (body.patchable)
        prepared.shown = std::move(body.blocks);
    return prepared;
}

void PreviewController::sendPrepared(PreparedSwap swap)
{
    m_lastDrawnBlocks = swap.drawnBlocks;
    m_drawnBlocks += m_lastDrawnBlocks;
    // The record of a long page shares its chunks with the revisions it was made from, but after
    // another document it may hold the old one's many thousand blocks alone: freed off this thread.
    if (m_shown && m_shown->size() > 1000)
        destroyInBackground([old = std::move(m_shown)] {});
    m_shown = std::move(swap.shown);
    sendScript(swap.script, swap.patch);
    // A new long document's script is tens of megabytes, handed back to the system page by page.
    if (swap.script.size() > 1024 * 1024)
        destroyInBackground([script = std::move(swap.script)] {});
}

void PreviewController::sendScript(const QString &script, bool patch)
{
    const quint64 ticket = m_nextTicket++;
    m_inFlight = ticket;
    ++m_swapCount;
    m_busySince.start();
    m_lastSentAt = m_clock.now();
    QPointer<PreviewController> guard(this);
    m_host.runScript(script, [guard, ticket, patch](const QVariant &result) {
        if (guard)
            guard->swapCompleted(ticket, patch, result);
    });
}

void PreviewController::swapCompleted(quint64 ticket, bool patch, const QVariant &result)
{
    if (m_inFlight != ticket)
        return;
    m_inFlight.reset();
    const QString value = result.toString();
    if (patch && !value.startsWith(QLatin1String("ok:"))) {
        // The page did not hold the blocks the patch was made for (or the patch failed): the
        // newest text goes out whole.
        m_shown.reset();
        m_lastScrolledLine = m_line;
        sendSwap(m_markdown, m_line);
        return;
    }
    if ((value == QLatin1String("busy") || value.endsWith(QLatin1String(":busy")))
        && m_busySince.isValid() && m_busySince.elapsed() < busyLimitMs) {
        waitWhileBusy();
        return;
    }
    m_busySince.invalidate();
    emit swapFinished();
    if (m_lastRenderedMarkdown != m_markdown)
        sendNewest();
}

void PreviewController::sendNewest()
{
    const qint64 wait = m_markdown.size() < backgroundParseSize
        ? 0
        : longTextSpacingMs - m_lastSentAt.msecsTo(m_clock.now());
    if (wait <= 0) {
        update(m_markdown, m_line);
        return;
    }
    // Counts as in flight meanwhile, so keys typed in the pause coalesce into the one update.
    const quint64 ticket = m_nextTicket++;
    m_inFlight = ticket;
    m_clock.singleShot(std::chrono::milliseconds(wait), this, [this, ticket] {
        if (m_inFlight != ticket)
            return;
        m_inFlight.reset();
        update(m_markdown, m_line);
    });
}

void PreviewController::waitWhileBusy()
{
    // The update counts as in flight until the page has drawn its visible part: the next text
    // then goes out as one patch, and "current" means what the reader sees.
    const quint64 ticket = m_nextTicket++;
    m_inFlight = ticket;
    QPointer<PreviewController> guard(this);
    m_clock.singleShot(std::chrono::milliseconds(busyPollMs), this, [this, guard, ticket] {
        if (m_inFlight != ticket)
            return;
        m_host.runScript(PreviewScripts::busyScript(), [guard, ticket](const QVariant &result) {
            if (guard)
                guard->swapCompleted(ticket, false, result);
        });
    });
}
