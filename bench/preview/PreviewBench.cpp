#include "../../tests/preview/PreviewControllerTestAccess.h"
#include "../support/MixedDocument.h"
#include "../support/PreviewProcesses.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewBody.h"
#include "Velto/preview/PreviewScripts.h"
#include "Velto/preview/PreviewView.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"
#include "platform/LatestWorker.h"
#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QWebEnginePage>

#include <algorithm>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

// The page scheme must be known before the benchmark main creates the QApplication.
const bool schemeRegistered = (PageSchemeHandler::registerScheme(), true);

// A document of about the given size mixing headings, prose with inline maths, code blocks and
// lists: the content every swap re-highlights and re-typesets.
QString makeDocument(qsizetype bytes, int variant = 0)
{
    QString text;
    for (int i = 0; text.size() < bytes; ++i) {
        text += QStringLiteral("## Section %1\n\nParagraph %2 with **bold**, `code` and $a_{%1}^2$ "
                               "inline maths, and some more words to fill the line.\n\n"
                               "```cpp\nint f%1(int x) { return x * %1; }\n```\n\n"
                               "- item one\n- item two\n\n")
                    .arg(i)
                    .arg(variant);
    }
    return text;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(1000);
    }
    return true;
}

// Counts the renderer process's abnormal ends into `crashes`.
void countCrashes(PreviewView &view, int &crashes)
{
    QObject::connect(view.page(), &QWebEnginePage::renderProcessTerminated,
                     [&crashes](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                         if (status != QWebEnginePage::NormalTerminationStatus)
                             ++crashes;
                     });
}

const MarkdownPageBuilder &pages()
{
    static const MarkdownPageBuilder builder(Resources::webDir());
    return builder;
}

PageSchemeHandler &pageHandler()
{
    static auto *handler = new PageSchemeHandler; // kept to the end of the process
    return *handler;
}

PreviewController::Sources benchSources()
{
    PreviewController::Sources sources;
    sources.renderPage = [](const QString &md) { return pages().renderPage(md); };
    sources.renderBody = [](const QString &md) { return MarkdownParser::renderBody(md); };
    sources.renderBlocks = [cache = std::make_shared<PreviewBlockCache>()](const QString &md) {
        return cache->render(MarkdownDocument(md));
    };
    sources.previewScripts = [] { return pages().previewScripts(); };
    sources.style = [] { return PreviewController::Style(); };
    return sources;
}

std::unique_ptr<PreviewView> openPreview(const QString &text, bool incremental = true)
{
    auto view = std::make_unique<PreviewView>(text, benchSources(), pageHandler());
    view->controller().setIncremental(incremental);
    view->resize(800, 900);
    view->show();
    return view;
}

bool settled(PreviewView &view)
{
    return view.controller().jsReady() && !view.controller().swapInFlight();
}

// Waits for the swap, then for the page's layout of it (a script that reads a laid-out size runs
// after the swap in the renderer and forces the layout).
bool swapLaidOut(PreviewView &view)
{
    if (!waitFor([&] { return settled(view); }))
        return false;
    bool done = false;
    view.page()->runJavaScript(QStringLiteral("document.body.offsetHeight"),
                               [&done](const QVariant &) { done = true; });
    return waitFor([&] { return done; });
}

// The document with one character typed into the paragraph nearest its middle.
QString typedInMiddle(const QString &text, int n)
{
    qsizetype at = text.indexOf(QStringLiteral("some more words"), text.size() / 2);
    if (at < 0)
        at = text.size();
    return text.left(at) + QString(n % 2 ? u'x' : u'y') + text.mid(at);
}

// Opening a document in a preview that already shows another (as a window that opens a file):
// until the page has drawn its first screen (highlighted, typeset), until it settled (the
// visible part drawn, nothing busy), then keystrokes near the top, where the view is. The long
// texts' updates are prepared on a worker thread as in the application, and the view has a
// window's size. Also the web engine's processes' resident memory and renderer crashes.
void BM_PreviewOpen(benchmark::State &state)
{
    const QString text = benchsupport::mixedDocument(state.range(0));
    QObject owner;
    LatestWorker worker(&owner);
    PreviewController::Sources sources = benchSources();
    sources.runElsewhere = [&worker](LatestWorker::Job job) { worker.submit(std::move(job)); };
    auto view
        = std::make_unique<PreviewView>(QStringLiteral("# Untitled\n"), sources, pageHandler());
    view->resize(700, 900);
    view->show();
    int crashes = 0;
    countCrashes(*view, crashes);
    if (!swapLaidOut(*view)) {
        state.SkipWithError("preview never became ready");
        return;
    }
    auto current = [&](const QString &shown) {
        return settled(*view) && view->controller().lastRenderedMarkdown() == shown;
    };
    auto evaluate = [&](const QString &script) {
        std::optional<QVariant> result;
        view->page()->runJavaScript(script, [&result](const QVariant &v) { result = v; });
        waitFor([&] { return result.has_value(); }, 60000);
        return result.value_or(QVariant());
    };
    double firstMs = 0, settledMs = 0, katex = 0;
    std::vector<double> keyMs;
    for (auto _ : state) {
        const qint64 openEpoch = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer t;
        t.start();
        view->setMarkdown(text);
        if (!waitFor([&] { return current(text); }, 120000)) {
            state.SkipWithError("the preview did not settle");
            return;
        }
        settledMs = double(t.nsecsElapsed()) / 1e6;
        const qint64 drawnEpoch
            = evaluate(QStringLiteral("window.__velto?__velto.firstDrawn:0")).toLongLong();
        firstMs = drawnEpoch > 0 ? double(drawnEpoch - openEpoch) : -1;
        katex = evaluate(QStringLiteral("document.querySelectorAll('.katex').length")).toDouble();
        state.SetIterationTime(settledMs / 1e3);
        // Keystrokes into the second paragraph, which is on screen.
        QString edited = text;
        const qsizetype at = edited.indexOf(QStringLiteral("im Satz"));
        for (int k = 0; k < 5; ++k) {
            edited.insert(at, QChar(u'a' + k));
            QElapsedTimer key;
            key.start();
            view->setMarkdown(edited);
            if (!waitFor([&] { return current(edited); }, 60000)) {
                state.SkipWithError("a keystroke did not reach the preview");
                return;
            }
            keyMs.push_back(double(key.nsecsElapsed()) / 1e6);
        }
        view->setMarkdown(QStringLiteral("# Untitled\n"));
        waitFor([&] { return current(QStringLiteral("# Untitled\n")); }, 60000);
        // The open figures are of the document; memory is read while it is shown.
        view->setMarkdown(text);
        waitFor([&] { return current(text); }, 120000);
    }
    const benchsupport::WebEngineMemory memory = benchsupport::webEngineMemory();
    std::sort(keyMs.begin(), keyMs.end());
    state.counters["doc_KB"] = double(text.toUtf8().size()) / 1024.0;
    state.counters["first_drawn_ms"] = firstMs;
    state.counters["settled_ms"] = settledMs;
    state.counters["key_to_preview_ms_median"] = keyMs.empty() ? 0 : keyMs[keyMs.size() / 2];
    state.counters["key_to_preview_ms_max"] = keyMs.empty() ? 0 : keyMs.back();
    state.counters["katex_in_page"] = katex;
    state.counters["webengine_rss_MiB"] = memory.totalMiB;
    state.counters["renderer_rss_MiB"] = memory.largestMiB;
    state.counters["renderer_crashes"] = crashes;
    state.SetLabel("open -> first screen drawn / settled; keystroke -> preview shows it");
}
BENCHMARK(BM_PreviewOpen)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Arg(5 * 1024 * 1024)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Every block of a long document typeset at once, as the page did before it typeset only near
// the view: the renderer's memory and its count of memory mappings (the kernel refuses more than
// vm.max_map_count of them, 65530 by default, and the V8 heap then fails to change page
// protections: "Oilpan: Unprotecting memory"), sampled while it works, and whether it died.
void BM_PreviewTypesetEverything(benchmark::State &state)
{
    const QString text = benchsupport::mixedDocument(state.range(0));
    auto view = std::make_unique<PreviewView>(text, benchSources(), pageHandler());
    view->resize(700, 900);
    view->show();
    int crashes = 0;
    countCrashes(*view, crashes);
    if (!waitFor([&] { return settled(*view); }, 120000)) {
        state.SkipWithError("preview never became ready");
        return;
    }
    const qint64 pid = view->page()->renderProcessPid();
    auto mappings = [pid] {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
        return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count('\n')) : 0;
    };
    const double mapsBefore = mappings();
    double peakMaps = 0, peakRss = 0, seconds = 0;
    for (auto _ : state) {
        bool done = false;
        QElapsedTimer t;
        t.start();
        // Argument 2 = 1 lays out every block too, as the page did before.
        const QString layOutAll = state.range(1)
            ? QStringLiteral("document.getElementById('velto-lazy').disabled=true;")
            : QString();
        view->page()->runJavaScript(
            layOutAll
                + QStringLiteral("__velto.keep=1e9;__velto.typesetAll();"
                                 "document.body.offsetHeight;"
                                 "document.querySelectorAll('.katex').length"),
            [&done](const QVariant &) { done = true; });
        QElapsedTimer sample;
        sample.start();
        waitFor(
            [&] {
                if (sample.elapsed() >= 100) {
                    peakMaps = std::max(peakMaps, double(mappings()));
                    peakRss = std::max(peakRss, benchsupport::residentMiB(pid));
                    sample.restart();
                }
                return done || crashes > 0;
            },
            300000);
        seconds = double(t.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
    }
    state.counters["doc_KB"] = double(text.toUtf8().size()) / 1024.0;
    state.counters["renderer_maps_before"] = mapsBefore;
    state.counters["renderer_maps_peak"] = peakMaps;
    state.counters["renderer_rss_peak_MiB"] = peakRss;
    state.counters["renderer_crashes"] = crashes;
    state.SetLabel("all typeset at once (what exports do; the page before lazy typesetting)");
}
BENCHMARK(BM_PreviewTypesetEverything)
    ->Args({5 * 1024 * 1024, 0})
    ->Args({5 * 1024 * 1024, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The worker-thread part of one keystroke's update: render the body as blocks and build the
// patch, with the blocks of the previous text cached as in the application (and, for comparison,
// rendered afresh).
void BM_PreviewPatchScript(benchmark::State &state)
{
    const QString text = makeDocument(state.range(0));
    const PreviewBlockList shown = PreviewBody::render(MarkdownDocument(text)).blocks;
    PreviewBlockCache cache;
    cache.render(MarkdownDocument(text));
    double drawn = 0, parseMs = 0, freshMs = 0;
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString edited = typedInMiddle(text, ++n);
        QElapsedTimer t;
        t.start();
        const MarkdownDocument document(edited);
        parseMs += double(t.nsecsElapsed()) / 1e6;
        state.ResumeTiming();
        const PreviewBody body = cache.render(document);
        const auto ops = diffBlocks(shown, body.blocks);
        state.PauseTiming();
        for (const PreviewPatchOp &op : ops)
            drawn += op.keep ? 0 : 1;
        benchmark::DoNotOptimize(ops);
        t.restart();
        benchmark::DoNotOptimize(PreviewBody::render(document));
        freshMs += double(t.nsecsElapsed()) / 1e6;
        state.ResumeTiming();
    }
    state.counters["blocks_drawn"] = drawn / double(state.iterations());
    state.counters["parse_ms"] = parseMs / double(state.iterations());
    state.counters["uncached_render_ms"] = freshMs / double(state.iterations());
    state.counters["doc_KB"] = double(text.toUtf8().size()) / 1024.0;
    state.SetLabel("cached blocks + diff (parse: shared with the editor in the app)");
}
BENCHMARK(BM_PreviewPatchScript)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Arg(5 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond);

// Text set -> update finished, for a keystroke in the middle of the document: UI-thread work, the
// script's trip to the renderer, the patch with highlighting and mathematics of the changed block,
// and the completion back through the event loop. The page lays the change out after that (and
// paints it); laid_out_ms adds that layout, forced by a script that reads a laid-out size.
// Argument 2 = 0 measures the whole-body swap for comparison.
void BM_PreviewUpdateLatency(benchmark::State &state)
{
    const qsizetype size = state.range(0);
    const bool incremental = state.range(1) != 0;
    const QString base = makeDocument(size);
    auto view = openPreview(base, incremental);
    if (!swapLaidOut(*view)) {
        state.SkipWithError("preview never became ready");
        return;
    }
    // One untimed edit first: the first page may still be painting.
    view->setMarkdown(typedInMiddle(base, 1));
    if (!swapLaidOut(*view)) {
        state.SkipWithError("first update did not finish");
        return;
    }
    std::vector<double> uiMs, swapMs, laidOutMs;
    double drawn = 0;
    int n = 0;
    for (auto _ : state) {
        const QString text = typedInMiddle(base, n);
        QElapsedTimer t;
        t.start();
        view->setMarkdown(text);
        uiMs.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!waitFor([&] { return settled(*view); })) {
            state.SkipWithError("update did not finish");
            return;
        }
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        swapMs.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!swapLaidOut(*view)) {
            state.SkipWithError("layout did not finish");
            return;
        }
        laidOutMs.push_back(double(t.nsecsElapsed()) / 1e6);
        drawn += view->controller().lastDrawnBlocks();
        ++n;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["doc_KB"] = double(base.toUtf8().size()) / 1024.0;
    state.counters["ui_ms"] = median(uiMs);
    state.counters["swap_ms_median"] = median(swapMs);
    state.counters["laid_out_ms"] = median(laidOutMs);
    state.counters["blocks_drawn_per_update"] = n ? drawn / n : 0;
    state.SetLabel(incremental ? "keystroke: text set -> patch finished"
                               : "keystroke: text set -> whole body swapped");
}
BENCHMARK(BM_PreviewUpdateLatency)
    ->Args({10 * 1024, 1})
    ->Args({100 * 1024, 1})
    ->Args({1024 * 1024, 1})
    ->Args({100 * 1024, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// A new text everywhere (another document's worth of changes): every block is drawn.
void BM_PreviewReplaceText(benchmark::State &state)
{
    const qsizetype size = state.range(0);
    const QString a = makeDocument(size, 0);
    const QString b = makeDocument(size, 1);
    auto view = openPreview(a);
    if (!swapLaidOut(*view)) {
        state.SkipWithError("preview never became ready");
        return;
    }
    int n = 0;
    double drawn = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        view->setMarkdown(n % 2 ? a : b);
        if (!swapLaidOut(*view)) {
            state.SkipWithError("update did not finish");
            return;
        }
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        drawn += view->controller().lastDrawnBlocks();
        ++n;
    }
    state.counters["blocks_drawn_per_update"] = n ? drawn / n : 0;
    state.SetLabel("every block changed");
}
BENCHMARK(BM_PreviewReplaceText)
    ->Arg(100 * 1024)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// 100 edits arriving 10 ms apart, typed into the middle: updates sent, blocks drawn, the longest
// UI-thread stall per edit, and the time from the last edit until the page shows it laid out.
void BM_PreviewTypingBurst(benchmark::State &state)
{
    const qsizetype size = state.range(0);
    const QString base = makeDocument(size);
    auto view = openPreview(base);
    if (!swapLaidOut(*view)) {
        state.SkipWithError("preview never became ready");
        return;
    }
    double swaps = 0, drawn = 0, maxUiMs = 0, catchUpMs = 0;
    int rounds = 0;
    const qsizetype at = typedInMiddle(base, 0).indexOf(u'y', base.size() / 2);
    for (auto _ : state) {
        const int before = PreviewControllerTestAccess::swapCount(view->controller());
        const qint64 drawnBefore = view->controller().drawnBlocks();
        QString text = base;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100; ++i) {
            text.insert(at + i, QChar(u'a' + i % 26));
            QElapsedTimer ui;
            ui.start();
            view->setMarkdown(text);
            maxUiMs = std::max(maxUiMs, double(ui.nsecsElapsed()) / 1e6);
            const qint64 next = qint64(i + 1) * 10;
            while (clock.elapsed() < next)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        QElapsedTimer tail;
        tail.start();
        if (!swapLaidOut(*view)) {
            state.SkipWithError("preview did not catch up");
            return;
        }
        catchUpMs += double(tail.nsecsElapsed()) / 1e6;
        swaps += PreviewControllerTestAccess::swapCount(view->controller()) - before;
        drawn += double(view->controller().drawnBlocks() - drawnBefore);
        ++rounds;
    }
    state.counters["edits"] = 100;
    state.counters["updates"] = rounds ? swaps / rounds : 0;
    state.counters["blocks_drawn"] = rounds ? drawn / rounds : 0;
    state.counters["max_ui_ms_per_edit"] = maxUiMs;
    state.counters["catch_up_ms"] = rounds ? catchUpMs / rounds : 0;
    state.counters["doc_KB"] = double(base.toUtf8().size()) / 1024.0;
    state.SetLabel("at most one update in flight; the rest coalesced");
}
BENCHMARK(BM_PreviewTypingBurst)
    ->Arg(10 * 1024)
    ->Arg(100 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
