#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewBody.h"
#include "Velto/preview/PreviewScripts.h"
#include "Velto/preview/PreviewView.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

#include <benchmark/benchmark.h>

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
        QThread::usleep(200);
    }
    return true;
}

std::unique_ptr<PreviewView> openPreview(const QString &text, bool incremental = true)
{
    PreviewController::Sources sources;
    sources.renderPage = [](const QString &md) { return MarkdownParser::renderPage(md); };
    sources.renderBody = [](const QString &md) { return MarkdownParser::renderBody(md); };
    sources.renderBlocks
        = [](const QString &md) { return PreviewBody::render(MarkdownDocument(md)); };
    sources.previewScripts = [] { return MarkdownParser::previewScripts(); };
    sources.style = [] { return PreviewController::Style(); };
    auto view = std::make_unique<PreviewView>(text, sources);
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

// The UI-thread part of one keystroke's update: render the body as blocks and build the patch.
void BM_PreviewPatchScript(benchmark::State &state)
{
    const QString text = makeDocument(state.range(0));
    std::vector<ShownBlock> shown;
    for (PreviewBlock &block : PreviewBody::render(MarkdownDocument(text)).blocks)
        shown.push_back({std::move(block.key), block.line});
    const QString edited = typedInMiddle(text, 1);
    double drawn = 0, parseMs = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const MarkdownDocument document(edited);
        parseMs += double(t.nsecsElapsed()) / 1e6;
        const PreviewBody body = PreviewBody::render(document);
        const auto ops = diffBlocks(shown, body.blocks);
        for (const PreviewPatchOp &op : ops)
            drawn += op.keep ? 0 : 1;
        benchmark::DoNotOptimize(ops);
    }
    state.counters["blocks_drawn"] = drawn / double(state.iterations());
    state.counters["parse_ms"] = parseMs / double(state.iterations());
    state.counters["doc_KB"] = double(text.toUtf8().size()) / 1024.0;
    state.SetLabel("parse (shared with the highlighter in the app) + blocks + diff");
}
BENCHMARK(BM_PreviewPatchScript)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);

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
        const int before = view->controller().swapCount();
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
        swaps += view->controller().swapCount() - before;
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
