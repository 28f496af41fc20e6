#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewScripts.h"
#include "Velto/preview/PreviewView.h"
#include "core/markdown/MarkdownParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

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

std::unique_ptr<PreviewView> openPreview(const QString &text, AppSettings *settings = nullptr)
{
    PreviewController::Sources sources;
    sources.renderPage = [](const QString &md) { return MarkdownParser::renderPage(md); };
    sources.renderBody = [](const QString &md) { return MarkdownParser::renderBody(md); };
    sources.previewScripts = [] { return MarkdownParser::previewScripts(); };
    sources.style = [] { return PreviewController::Style(); };
    Q_UNUSED(settings);
    auto view = std::make_unique<PreviewView>(text, sources);
    view->resize(800, 900);
    view->show();
    return view;
}

bool settled(PreviewView &view)
{
    return view.controller().jsReady() && !view.controller().swapInFlight();
}

// The UI-thread part of one keystroke's swap: render the body and build the update script.
void BM_PreviewSwapScript(benchmark::State &state)
{
    const QString text = makeDocument(state.range(0));
    double renderMs = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const QString body = MarkdownParser::renderBody(text);
        renderMs += double(t.nsecsElapsed()) / 1e6;
        benchmark::DoNotOptimize(PreviewScripts::updateScript(body, false, QString(), 1));
    }
    state.counters["render_ms"] = renderMs / double(state.iterations());
    state.counters["doc_KB"] = double(text.toUtf8().size()) / 1024.0;
}
BENCHMARK(BM_PreviewSwapScript)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);

// Text set → swap finished: UI-thread time of the call plus the renderer's swap and redraw.
void BM_PreviewUpdateLatency(benchmark::State &state)
{
    const qsizetype size = state.range(0);
    const QString a = makeDocument(size, 0);
    const QString b = makeDocument(size, 1);
    auto view = openPreview(a);
    if (!waitFor([&] { return settled(*view); })) {
        state.SkipWithError("preview never became ready");
        return;
    }
    double uiMs = 0;
    int n = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        view->setMarkdown(n % 2 ? a : b);
        const double ui = double(t.nsecsElapsed()) / 1e6;
        if (!waitFor([&] { return settled(*view); })) {
            state.SkipWithError("swap did not finish");
            return;
        }
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        uiMs += ui;
        ++n;
    }
    state.counters["doc_KB"] = double(a.toUtf8().size()) / 1024.0;
    state.counters["ui_ms_per_update"] = n ? uiMs / n : 0;
    state.SetLabel("text set -> swap finished (incl. highlight.js, KaTeX)");
}
BENCHMARK(BM_PreviewUpdateLatency)
    ->Arg(10 * 1024)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// 100 edits arriving 10 ms apart: swaps sent, the longest UI-thread stall per edit, and the time
// from the last edit until the page shows it.
void BM_PreviewTypingBurst(benchmark::State &state)
{
    const qsizetype size = state.range(0);
    const QString base = makeDocument(size);
    auto view = openPreview(base);
    if (!waitFor([&] { return settled(*view); })) {
        state.SkipWithError("preview never became ready");
        return;
    }
    double swaps = 0, maxUiMs = 0, catchUpMs = 0;
    int rounds = 0;
    for (auto _ : state) {
        const int before = view->controller().swapCount();
        QString text = base;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100; ++i) {
            text += QChar(u'a' + i % 26);
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
        if (!waitFor([&] { return settled(*view); })) {
            state.SkipWithError("preview did not catch up");
            return;
        }
        catchUpMs += double(tail.nsecsElapsed()) / 1e6;
        swaps += view->controller().swapCount() - before;
        ++rounds;
    }
    state.counters["edits"] = 100;
    state.counters["swaps"] = rounds ? swaps / rounds : 0;
    state.counters["max_ui_ms_per_edit"] = maxUiMs;
    state.counters["catch_up_ms"] = rounds ? catchUpMs / rounds : 0;
    state.counters["doc_KB"] = double(base.toUtf8().size()) / 1024.0;
    state.SetLabel("at most one swap in flight; the rest coalesced");
}
BENCHMARK(BM_PreviewTypingBurst)
    ->Arg(10 * 1024)
    ->Arg(100 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
