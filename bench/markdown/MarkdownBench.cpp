#include "Velto/preview/PreviewBody.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"
#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/OutlineParser.h"
#include "core/markdown/TextAnalysis.h"
#include "platform/Resources.h"

#include <QElapsedTimer>
#include <QString>

#include <benchmark/benchmark.h>
#include <cmark-gfm.h>

#include <cstdlib>

#include <map>
#include <string>

namespace {

// The lengths of every node's text range summed: what mapping all ranges costs.
qsizetype sumOfTextRanges(const MarkdownDocument &document)
{
    qsizetype sum = 0;
    MarkdownWalker walker(document.root());
    while (walker.next()) {
        if (!walker.entering())
            continue;
        if (const auto range = document.textRange(walker.node()))
            sum += range->length();
    }
    return sum;
}

// A document of roughly `bytes` UTF-8 bytes mixing what real notes hold: headings, prose with
// inline markup and math, lists and tasks, code, tables, quotes and display math.
QString mixedDocument(qsizetype bytes)
{
    QString text;
    qsizetype size = 0;
    for (int section = 1; size < bytes; ++section) {
        QString s;
        s += QStringLiteral("## Section %1: notes on *topic* %1\n\n").arg(section);
        s += QStringLiteral("Some **bold** text, some *emphasis*, `inline code`, a [link](https://"
                            "example.org/%1) and ~~struck~~ words. Straight \"quotes\" and it's "
                            "math: $a_%1^2 + b^2 = c^2$. Umlaute: äöü ß, 漢字, 😀.\n"
                            "A second line of the same paragraph & <em>inline html</em>.\n\n")
                 .arg(section);
        s += QStringLiteral("- first item\n- second item with `code`\n  - nested *item*\n"
                            "- [x] done task\n- [ ] open task\n\n");
        s += QStringLiteral("1. one\n2. two\n3. three\n\n");
        s += QStringLiteral("```cpp\nint main() {\n    return %1 < 2 && x > 0;\n}\n```\n\n")
                 .arg(section);
        s += QStringLiteral("| Name | Value | Note |\n|------|------:|:----:|\n| a | %1 | *x* |\n"
                            "| b | 2 | `y` |\n| c | 3 | z |\n\n")
                 .arg(section);
        s += QStringLiteral("> A quote with **strong** text\n> over two lines.\n\n");
        s += QStringLiteral("$$\n\\int_0^1 x^%1 \\, dx\n$$\n\n").arg(section);
        s += QStringLiteral("![diagram %1](img/d%1.png)\n\n---\n\n").arg(section);
        size += s.toUtf8().size();
        text += s;
    }
    return text;
}

const QString &document100K()
{
    static const QString text = mixedDocument(100 * 1024);
    return text;
}

const QString &document1M()
{
    static const QString text = mixedDocument(1024 * 1024);
    return text;
}

const QString &textFor(const benchmark::State &state)
{
    return state.range(0) == 100 ? document100K() : document1M();
}

void setSize(benchmark::State &state, const QString &text)
{
    const auto bytes = text.toUtf8().size();
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.counters["KB"] = double(bytes) / 1024.0;
}

void BM_Parse(benchmark::State &state)
{
    const QString &text = textFor(state);
    for (auto _ : state) {
        MarkdownDocument document(text);
        benchmark::DoNotOptimize(document.root().raw());
    }
    setSize(state, text);
}
BENCHMARK(BM_Parse)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

// The render alone, from an existing parse: the figure the ≤ 5 ms / ≤ 50 ms targets are about.
void BM_RenderBody(benchmark::State &state)
{
    const QString &text = textFor(state);
    const MarkdownDocument document(text);
    qsizetype htmlSize = 0;
    for (auto _ : state) {
        const QString html = MarkdownParser::renderBody(document);
        htmlSize = html.size();
        benchmark::DoNotOptimize(html.constData());
    }
    setSize(state, text);
    state.counters["htmlKB"] = double(htmlSize) * 2 / 1024.0;
}
BENCHMARK(BM_RenderBody)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

// The parser library's own HTML output of the same tree: the yardstick the body render is held to.
void BM_LibraryRenderHtml(benchmark::State &state)
{
    const QString &text = textFor(state);
    const MarkdownDocument document(text);
    for (auto _ : state) {
        char *html = cmark_render_html(document.root().raw(), CMARK_OPT_DEFAULT, nullptr);
        benchmark::DoNotOptimize(html);
        free(html);
    }
    setSize(state, text);
}
BENCHMARK(BM_LibraryRenderHtml)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_ParseAndRenderBody(benchmark::State &state)
{
    const QString &text = textFor(state);
    for (auto _ : state) {
        const QString html = MarkdownParser::renderBody(text);
        benchmark::DoNotOptimize(html.constData());
    }
    setSize(state, text);
}
BENCHMARK(BM_ParseAndRenderBody)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

// What the highlighter pays on top of the parse: a walk mapping every node's range to UTF-16.
void BM_AllTextRanges(benchmark::State &state)
{
    const QString &text = textFor(state);
    const MarkdownDocument document(text);
    int64_t nodes = 0;
    for (auto _ : state) {
        nodes = 0;
        qsizetype sum = 0;
        MarkdownWalker walker(document.root());
        while (walker.next()) {
            if (!walker.entering())
                continue;
            ++nodes;
            if (const auto range = document.textRange(walker.node()))
                sum += range->length();
        }
        benchmark::DoNotOptimize(sum);
    }
    setSize(state, text);
    state.counters["nodes"] = double(nodes);
}
BENCHMARK(BM_AllTextRanges)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

// The highlighter's whole road from text to ranges: parse, line index, every range.
void BM_ParseAndAllTextRanges(benchmark::State &state)
{
    const QString &text = textFor(state);
    for (auto _ : state) {
        const MarkdownDocument document(text);
        benchmark::DoNotOptimize(sumOfTextRanges(document));
    }
    setSize(state, text);
}
BENCHMARK(BM_ParseAndAllTextRanges)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_OutlineFromParse(benchmark::State &state)
{
    const QString &text = textFor(state);
    const MarkdownDocument document(text);
    for (auto _ : state) {
        const auto items = OutlineParser::parse(document);
        benchmark::DoNotOptimize(items.size());
    }
    setSize(state, text);
}
BENCHMARK(BM_OutlineFromParse)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_RenderPage(benchmark::State &state)
{
    const QString &text = textFor(state);
    static const MarkdownPageBuilder pages(Resources::webDir());
    pages.themeCSS(); // built once per builder; not part of a page's cost
    const MarkdownDocument document(text);
    for (auto _ : state) {
        const QString page = pages.renderPage(document);
        benchmark::DoNotOptimize(page.constData());
    }
    setSize(state, text);
}
BENCHMARK(BM_RenderPage)->Arg(100)->Unit(benchmark::kMillisecond);

// Nesting 60,000 levels deep must parse, render and free without exhausting the stack. (The
// parser stops nesting lists at 100 levels: 30,000 list markers are mostly text.)
void BM_DeepNesting(benchmark::State &state)
{
    QString text;
    if (state.range(0) == 0) {
        for (int i = 0; i < 30000; ++i)
            text += QStringLiteral("- ");
        text += u'x';
        state.SetLabel("30,000 x \"- \": 200 levels");
    } else {
        text = QString(60000, u'>') + QStringLiteral(" x");
        state.SetLabel("60,000 x \">\": 60,002 levels");
    }
    qsizetype htmlSize = 0;
    for (auto _ : state) {
        const MarkdownDocument document(text);
        const QString html = MarkdownParser::renderBody(document);
        htmlSize = html.size();
        benchmark::DoNotOptimize(html.constData());
    }
    state.counters["htmlKB"] = double(htmlSize) * 2 / 1024.0;
}
BENCHMARK(BM_DeepNesting)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Inputs that made earlier parser releases take polynomial time, each at three sizes. A keystroke
// parses the whole text, maps every node's range and renders the body; the figure is that work.
// "growth" is the time over that of half the size: about 2 means linear, 4 quadratic.
enum class Pathological {
    Images,
    WideRow,
    DeepList,
    DeepQuote,
    EmphasisAndLinks,
    MathLines,
    UnclosedMathLines
};

QString repeatedTo(const QString &piece, qsizetype bytes)
{
    QString text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes)
        text += piece;
    return text;
}

QString pathological(Pathological kind, qsizetype bytes)
{
    switch (kind) {
    case Pathological::Images:
        return repeatedTo(QStringLiteral("![[]()"), bytes);
    case Pathological::WideRow: {
        // One header row, its delimiter row and one body row, all as wide as the size allows.
        const qsizetype columns = bytes / 14;
        return repeatedTo(QStringLiteral("| a "), columns * 4) + QStringLiteral("|\n")
            + repeatedTo(QStringLiteral("|---"), columns * 4) + QStringLiteral("|\n")
            + repeatedTo(QStringLiteral("| *b* "), columns * 6) + QStringLiteral("|\n");
    }
    case Pathological::DeepList:
        return repeatedTo(QStringLiteral("- "), bytes / 2)
            + repeatedTo(QStringLiteral("*a* "), bytes / 2);
    case Pathological::DeepQuote:
        return repeatedTo(QStringLiteral(">"), bytes / 2)
            + repeatedTo(QStringLiteral(" *a*"), bytes / 2);
    case Pathological::EmphasisAndLinks:
        return repeatedTo(QStringLiteral("*a **b** [c](d) "), bytes);
    // One paragraph of many formulas (closed, or each line's left open).
    case Pathological::MathLines:
        return repeatedTo(QStringLiteral("$x$\n"), bytes);
    case Pathological::UnclosedMathLines:
        return repeatedTo(QStringLiteral("$a\n"), bytes);
    }
    return {};
}

void parseMapAndRender(const QString &text)
{
    const MarkdownDocument document(text);
    const qsizetype sum = sumOfTextRanges(document);
    const QString html = MarkdownParser::renderBody(document);
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(html.constData());
}

void BM_Pathological(benchmark::State &state, Pathological kind)
{
    // Time per run by size, kept across the sizes of one case.
    static std::map<std::pair<Pathological, int64_t>, double> perRun;
    const int64_t kilobytes = state.range(0);
    const QString text = pathological(kind, kilobytes * 1024);
    QElapsedTimer timer;
    timer.start();
    for (auto _ : state)
        parseMapAndRender(text);
    const double seconds = double(timer.nsecsElapsed()) / 1e9 / double(state.iterations());
    perRun[{kind, kilobytes}] = seconds;
    state.counters["KB"] = double(text.toUtf8().size()) / 1024.0;
    if (const auto half = perRun.find({kind, kilobytes / 2}); half != perRun.end())
        state.counters["growth"] = seconds / half->second;
}
void sizes10To40(benchmark::internal::Benchmark *b)
{
    b->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond);
}
void sizes40To160(benchmark::internal::Benchmark *b)
{
    b->Arg(40)->Arg(80)->Arg(160)->Unit(benchmark::kMillisecond);
}
void sizes80To320(benchmark::internal::Benchmark *b)
{
    b->Arg(80)->Arg(160)->Arg(320)->Unit(benchmark::kMillisecond);
}
BENCHMARK_CAPTURE(BM_Pathological, images, Pathological::Images)->Apply(sizes10To40);
BENCHMARK_CAPTURE(BM_Pathological, wideTableRow, Pathological::WideRow)->Apply(sizes10To40);
BENCHMARK_CAPTURE(BM_Pathological, deepListWithInlines, Pathological::DeepList)->Apply(sizes10To40);
BENCHMARK_CAPTURE(BM_Pathological, deepQuoteWithInlines, Pathological::DeepQuote)
    ->Apply(sizes10To40);
BENCHMARK_CAPTURE(BM_Pathological, emphasisAndLinksParagraph, Pathological::EmphasisAndLinks)
    ->Apply(sizes40To160);
BENCHMARK_CAPTURE(BM_Pathological, mathLinesParagraph, Pathological::MathLines)
    ->Apply(sizes80To320);
BENCHMARK_CAPTURE(BM_Pathological, unclosedMathLinesParagraph, Pathological::UnclosedMathLines)
    ->Apply(sizes80To320);

// The preview's render of one paragraph of formulas, parsed once. Target: 320 KB of "$x$" lines
// in under 100 ms.
void BM_RenderMathParagraph(benchmark::State &state, Pathological kind)
{
    const QString text = pathological(kind, state.range(0) * 1024);
    const MarkdownDocument document(text);
    MarkdownParser::renderBody(document); // ranges repaired once, as the editor's parse has them
    for (auto _ : state) {
        const QString html = MarkdownParser::renderBody(document);
        benchmark::DoNotOptimize(html.constData());
    }
    state.counters["KB"] = double(text.toUtf8().size()) / 1024.0;
}
BENCHMARK_CAPTURE(BM_RenderMathParagraph, closed, Pathological::MathLines)->Apply(sizes80To320);
BENCHMARK_CAPTURE(BM_RenderMathParagraph, unclosed, Pathological::UnclosedMathLines)
    ->Apply(sizes80To320);

// Short rows are padded to the header's width: 2,000 columns by 2,000 rows from 14 KB of text.
void BM_TablePadding(benchmark::State &state)
{
    const QString text = repeatedTo(QStringLiteral("|a"), 4000) + QStringLiteral("|\n")
        + repeatedTo(QStringLiteral("|-"), 4000) + QStringLiteral("|\n")
        + repeatedTo(QStringLiteral("x\n"), 4000);
    for (auto _ : state)
        parseMapAndRender(text);
    state.counters["KB"] = double(text.toUtf8().size()) / 1024.0;
}
BENCHMARK(BM_TablePadding)->Unit(benchmark::kMillisecond);

// What one keystroke in the middle of a long text costs its analysis: the editor's styles and the
// outline of the new revision, made from the revision before (Arg 1) or from a whole parse (0),
// at 1 MB and 5 MB. All of it runs on some thread for every key.
HighlightRuns keyRunsOf(const TextAnalysis &analysis)
{
    return SyntaxHighlighter::highlight(analysis, &keyRunsOf);
}

QList<OutlineItem> keyOutlineOf(const TextAnalysis &analysis)
{
    return OutlineParser::parse(analysis, &keyOutlineOf);
}

// A mixed document of `bytes`, made once per size.
const QString &mixedText(qsizetype bytes)
{
    static std::map<qsizetype, QString> texts;
    QString &text = texts[bytes];
    if (text.isEmpty())
        text = mixedDocument(bytes);
    return text;
}

void BM_KeystrokeAnalysis(benchmark::State &state)
{
    const qsizetype bytes = state.range(0) * 1024;
    const QString &text = mixedText(bytes);
    auto base = std::make_shared<const TextAnalysis>(1, text);
    base->derived(&keyRunsOf);
    base->derived(&keyOutlineOf);
    base->derived(&PreviewBlocks::of);
    // A letter typed into a paragraph in the middle.
    const QString typed
        = QString(text).insert(text.indexOf(u"Some **bold**", text.size() / 2), u'x');
    const bool local = state.range(1) != 0;
    for (auto _ : state) {
        const TextAnalysis next(2, typed, local ? base : nullptr);
        benchmark::DoNotOptimize(next.derived(&keyRunsOf).lineCount());
        benchmark::DoNotOptimize(next.derived(&keyOutlineOf).size());
        benchmark::DoNotOptimize(next.derived(&PreviewBlocks::of).blocks.size());
    }
    state.counters["KB"] = double(bytes) / 1024.0;
}
BENCHMARK(BM_KeystrokeAnalysis)
    ->Args({1024, 1})
    ->Args({5120, 1})
    ->Args({1024, 0})
    ->Args({5120, 0})
    ->Unit(benchmark::kMillisecond);

// The block layout alone of a keystroke's revision, made from the revision before: finding the
// lines to parse again, parsing them and putting their blocks in the place of the old ones.
void BM_KeystrokeLayout(benchmark::State &state)
{
    const qsizetype bytes = state.range(0) * 1024;
    const QString &text = mixedText(bytes);
    auto base = std::make_shared<const TextAnalysis>(1, text);
    base->layout();
    const qsizetype at = text.indexOf(u"Some **bold**", text.size() / 2);
    const QString typed = QString(text).insert(at, u'x');
    for (auto _ : state) {
        const TextAnalysis next(2, typed, base, {at, text.size() - at});
        benchmark::DoNotOptimize(next.layout().lineCount);
    }
    state.counters["KB"] = double(bytes) / 1024.0;
}
BENCHMARK(BM_KeystrokeLayout)->Arg(1024)->Arg(5120)->Unit(benchmark::kMicrosecond);

} // namespace
