// One keystroke in the middle of a large Markdown document: the edit is mirrored into the
// workspace text, the text parsed once, restyled, and the changed blocks laid out again.

#include "../../tests/support/MarkdownHighlighterTestAccess.h"
#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownHighlighter.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/MarkdownDocument.h"
#include "platform/Defaults.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "BenchEditor.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A document of about `bytes` UTF-16 units that uses everything the highlighter styles.
QString generatedDocument(qsizetype bytes, const QString &lineBreak)
{
    const QStringList sections = {
        QStringLiteral("## Abschnitt %1"),
        QStringLiteral("Ein Absatz mit *Betonung*, **fettem Text**, `inline code` und einem "
                       "[Link](https://example.invalid/%1). Größere Änderungen folgen später."),
        QStringLiteral("- erster Punkt mit ~~alt~~ neu\n- zweiter Punkt\n  - eingerückt %1"),
        QStringLiteral("> Ein Zitat über zwei\n> Zeilen mit *Betonung* %1"),
        QStringLiteral("```swift\nlet value = %1\nprint(value * 2)\n```"),
        QStringLiteral("| A | B |\n|---|---|\n| %1 | ![Bild](bild.png) |"),
        QStringLiteral("Noch ein Absatz, der etwas länger ist, damit die Zeilen umbrechen und das "
                       "Layout etwas zu tun hat — „Lorem ipsum“ dolor sit amet %1."),
    };
    QString text;
    text.reserve(bytes + 256);
    for (int i = 0; text.size() < bytes; ++i) {
        text += sections[i % sections.size()].arg(i);
        text += QStringLiteral("\n\n");
    }
    if (lineBreak != u"\n")
        text.replace(u'\n', lineBreak);
    return text;
}

struct Editor : BenchEditor
{
    Editor(qsizetype size, const QString &lineBreak)
        : BenchEditor(generatedDocument(size, lineBreak))
    {
        // The caret into the middle of a paragraph.
        QTextDocument *doc = view->textView()->document();
        QTextBlock block = doc->findBlock(doc->characterCount() / 2);
        while (!block.text().startsWith(QStringLiteral("Ein Absatz")))
            block = block.next();
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfWord);
        view->textView()->setTextCursor(cursor);
        QCoreApplication::processEvents();
    }
};

void keystroke(benchmark::State &state, const QString &lineBreak)
{
    Editor editor(state.range(0), lineBreak);
    VeltoTextView *view = editor.view->textView();
    const MarkdownHighlighter *highlighter = editor.view->controller()->highlighter();
    qint64 restyled = 0;
    qint64 keys = 0;
    qint64 deferredNs = 0;
    for (auto _ : state) {
        // Typing and deleting in turn keeps the document the same size.
        if (keys % 2 == 0)
            QTest::keyClick(view, Qt::Key_A);
        else
            QTest::keyClick(view, Qt::Key_Backspace);
        restyled += MarkdownHighlighterTestAccess::lastRestyledBlocks(*highlighter);
        // What the keystroke left for the event loop (repaint, freeing the previous parse) runs
        // outside the measurement; its time is reported on its own.
        state.PauseTiming();
        QElapsedTimer afterwards;
        afterwards.start();
        QCoreApplication::processEvents();
        deferredNs += afterwards.nsecsElapsed();
        state.ResumeTiming();
        ++keys;
    }
    state.counters["doc_units"] = double(editor.workspace.text().size());
    state.counters["blocks"] = double(view->document()->blockCount());
    state.counters["relaid_blocks_per_key"] = keys ? double(restyled) / double(keys) : 0;
    state.counters["event_loop_ms_per_key"] = keys ? double(deferredNs) / 1e6 / double(keys) : 0;
    if (editor.workspace.text().size() < state.range(0))
        state.SkipWithError("document shorter than asked");
}

void BM_Keystroke(benchmark::State &state)
{
    keystroke(state, QStringLiteral("\n"));
}

// A CR LF document: the editor shows a copy, so its parse is not shared with the workspace's.
void BM_KeystrokeCrLf(benchmark::State &state)
{
    keystroke(state, QStringLiteral("\r\n"));
}

// The parts on their own, for reading the figures above.
void BM_ParseAndStyle(benchmark::State &state)
{
    const QString text = generatedDocument(state.range(0), QStringLiteral("\n"));
    for (auto _ : state) {
        const MarkdownDocument document(text);
        benchmark::DoNotOptimize(SyntaxHighlighter::highlight(document));
    }
}

void BM_StyleOnly(benchmark::State &state)
{
    const QString text = generatedDocument(state.range(0), QStringLiteral("\n"));
    const MarkdownDocument document(text);
    for (auto _ : state)
        benchmark::DoNotOptimize(SyntaxHighlighter::highlight(document));
}

void BM_ParseOnly(benchmark::State &state)
{
    const QString text = generatedDocument(state.range(0), QStringLiteral("\n"));
    for (auto _ : state) {
        const MarkdownDocument document(text);
        benchmark::DoNotOptimize(document.root());
    }
}

} // namespace

BENCHMARK(BM_Keystroke)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeCrLf)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndStyle)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StyleOnly)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOnly)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
