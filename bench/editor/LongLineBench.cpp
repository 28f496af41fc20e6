// A line of 100 KB to 1 MiB without a place to break (a data URL, a hash): opening it in the
// editor and typing into it, up to the repaint. Qt lays a block out whole, so both grow with the
// line; neither may grow faster. The program runs with glibc's huge-page heap (see main.cpp);
// GLIBC_TUNABLES=glibc.malloc.hugetlb=1 gives this benchmark the same.

#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Defaults.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include "BenchEditor.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Editor : BenchEditor
{
    // Applies the workspace text to the view and paints it.
    void settle() const
    {
        QCoreApplication::processEvents();
        view->textView()->viewport()->repaint();
    }
};

QString longLine(qsizetype size)
{
    return QStringLiteral("# Bild\n\n![x](data:image/png;base64,") + QString(size, u'Q')
        + QStringLiteral(")\n");
}

void BM_OpenLongLine(benchmark::State &state)
{
    Editor editor;
    const QString text = longLine(state.range(0));
    for (auto _ : state) {
        editor.workspace.setText(text);
        editor.settle();
        state.PauseTiming();
        editor.workspace.setText(QString());
        editor.settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenLongLine)
    ->Arg(100 * 1024)
    ->Arg(300 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond);

// Five keys that arrive while the line is laid out after the previous ones: they go in together,
// so the time per key is this figure divided by five.
void BM_FiveKeysIntoLongLine(benchmark::State &state)
{
    Editor editor;
    editor.workspace.setText(longLine(state.range(0)));
    editor.settle();
    QTextCursor cursor(editor.view->textView()->document());
    cursor.setPosition(40);
    editor.view->textView()->setTextCursor(cursor);
    for (auto _ : state) {
        QTest::keyClicks(editor.view->textView(), QStringLiteral("abcde"));
        editor.settle();
    }
    state.counters["doc_units"] = double(editor.workspace.text().size());
}
BENCHMARK(BM_FiveKeysIntoLongLine)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond);

} // namespace
