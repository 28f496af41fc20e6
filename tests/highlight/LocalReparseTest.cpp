#include "Velto/preview/PreviewBody.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/OutlineParser.h"
#include "core/markdown/TextAnalysis.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <random>

namespace {

HighlightRuns runsOf(const TextAnalysis &analysis)
{
    return SyntaxHighlighter::highlight(analysis, &runsOf);
}

QList<OutlineItem> outlineOf(const TextAnalysis &analysis)
{
    return OutlineParser::parse(analysis, &outlineOf);
}

std::vector<PlacedBlock> placedBlocks(const PreviewBlockList &list)
{
    std::vector<PlacedBlock> blocks;
    list.forEach([&](const PlacedBlock &block) { blocks.push_back(block); });
    return blocks;
}

// `made` is read in order through its chunks, and by index and search as a re-parse reads it.
::testing::AssertionResult sameLayout(const BlockLayout &made, const BlockLayout &expected)
{
    std::vector<BlockLayout::Block> blocks;
    made.forEach([&](const BlockLayout::Block &block) { blocks.push_back(block); });
    if (made.lineCount != expected.lineCount || made.size() != expected.size()
        || blocks.size() != expected.size())
        return ::testing::AssertionFailure() << "line or block count differs";
    for (size_t i = 0; i < blocks.size(); ++i) {
        const BlockLayout::Block block = expected[i];
        if (!(blocks[i] == block) || !(made[i] == block))
            return ::testing::AssertionFailure() << "block " << i << " differs";
        if (made.lowerBound(block.offset) != i || made.upperBound(block.offset - 1) != i
            || made.upperBound(block.offset) != i + 1)
            return ::testing::AssertionFailure() << "block " << i << " is not found at its offset";
    }
    return ::testing::AssertionSuccess();
}

// What the views take from a revision made from its base equals what a fresh parse gives.
::testing::AssertionResult sameAsFresh(const TextAnalysis &analysis)
{
    const MarkdownDocument fresh(analysis.text());
    const HighlightRuns expected = SyntaxHighlighter::highlight(fresh);
    const HighlightRuns &runs = analysis.derived(&runsOf);
    if (runs.lineCount() != expected.lineCount())
        return ::testing::AssertionFailure()
            << "line count " << runs.lineCount() << " vs " << expected.lineCount();
    for (qsizetype line = 0; line < runs.lineCount(); ++line) {
        if (!HighlightRuns::sameRuns(runs.line(line), expected.line(line)))
            return ::testing::AssertionFailure() << "styles differ on line " << line;
    }
    const QList<OutlineItem> outline = OutlineParser::parse(fresh);
    const QList<OutlineItem> &spliced = analysis.derived(&outlineOf);
    if (!std::equal(outline.begin(), outline.end(), spliced.begin(), spliced.end(),
                    [](const OutlineItem &a, const OutlineItem &b) {
                        return a.level == b.level && a.line == b.line && a.title == b.title;
                    }))
        return ::testing::AssertionFailure() << "outlines differ";
    if (!sameLayout(analysis.layout(), BlockLayout::of(fresh)))
        return ::testing::AssertionFailure() << "block layouts differ";
    const PreviewBody body = PreviewBody::render(fresh);
    const PreviewBlocks &part = analysis.derived(&PreviewBlocks::of);
    const std::vector<PlacedBlock> partBlocks = placedBlocks(part.blocks);
    const std::vector<PlacedBlock> rendered = placedBlocks(body.blocks);
    if (part.patchable != body.patchable
        || !std::equal(rendered.begin(), rendered.end(), partBlocks.begin(), partBlocks.end(),
                       [](const PlacedBlock &a, const PlacedBlock &b) {
                           return a.html() == b.html() && a.content->key == b.content->key
                               && a.line == b.line;
                       }))
        return ::testing::AssertionFailure() << "preview blocks differ";
    // What the next revision's blocks are made from equals it too.
    const PreviewBlocks whole = PreviewBlocks::of(TextAnalysis(0, analysis.text()));
    const std::vector<PlacedBlock> placed = placedBlocks(whole.blocks);
    if (part.placed != whole.placed
        || !std::equal(placed.begin(), placed.end(), partBlocks.begin(), partBlocks.end(),
                       [](const PlacedBlock &a, const PlacedBlock &b) {
                           return a.sourceLine == b.sourceLine && a.rawHTML == b.rawHTML
                               && a.fixedLines == b.fixedLines;
                       }))
        return ::testing::AssertionFailure() << "preview block places differ";
    return ::testing::AssertionSuccess();
}

const QStringList lines = {
    "# Title",
    "## Sub *em* `c`",
    "",
    "",
    "para with `code` and **bold**",
    "text",
    "- item",
    "  - nested",
    "1. one",
    "> quote",
    "> > deep",
    "```js",
    "```",
    "~~~",
    "    indented",
    "<div>",
    "</div>",
    "<!-- c",
    "-->",
    "| a | b |",
    "|---|---|",
    "---",
    "===",
    "see [ref]",
    "and [x](y)",
    "\ttab",
    "* * *",
    "<script>",
    "</script>",
    "- [ ] task",
    "Setext",
    "lazy line",
    "$$",
    "x^2",
    "  indented two",
    "<b data-line=\"2\">raw</b> text",
};

const QStringList pieces = {
    "\n",    "\n\n", "```",  "#",  "- ", "> ",   "[",   "]",   ":",    "a",    " ",   "*", "`",
    "<div>", "|",    "    ", "]:", "\t", "word", "1. ", "---", "\r\n", "<!--", "-->", "_", "~~",
};

// Link reference definitions make most edits parse whole: only some texts have them.
QString randomText(std::mt19937 &random, bool definitions)
{
    QStringList out;
    const int count = int(random() % 60) + 5;
    for (int i = 0; i < count; ++i) {
        out.append(lines[int(random() % lines.size())]);
        if (definitions && random() % 16 == 0)
            out.append("[ref]: /url");
    }
    return out.join(u'\n');
}

// `ends`: what the edit leaves of the text at either end, as an editor knows it.
QString edited(const QString &text, std::mt19937 &random, SharedEnds *ends = nullptr)
{
    const qsizetype at = text.isEmpty() ? 0 : qsizetype(random() % (text.size() + 1));
    const qsizetype removed = std::min<qsizetype>(text.size() - at, qsizetype(random() % 12));
    QString inserted;
    const int count = int(random() % 4);
    for (int i = 0; i < count; ++i) {
        // Line ends other than LF are rare, as in the texts people type.
        QString piece = pieces[int(random() % pieces.size())];
        if (piece.contains(u'\r') && random() % 8 != 0)
            piece = "\n";
        inserted += piece;
    }
    if (ends)
        *ends = {at, text.size() - at - removed};
    return QString(text).replace(at, removed, inserted);
}

// `count` sections, each a heading, a paragraph and a list: a long text of many top-level blocks.
QString sections(int count, const char *paragraph)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString("## Section %1\n\n%2\n\n- a\n- b\n\n").arg(i).arg(paragraph);
    return text;
}

} // namespace

TEST(LocalReparse, editsOfRandomMarkdownAnalyseAsAFreshParseDoes)
{
    std::mt19937 random(20261209);
    int local = 0;
    int spliced = 0;
    int edits = 0;
    for (int round = 0; round < 300; ++round) {
        auto analysis = std::make_shared<const TextAnalysis>(1, randomText(random, round % 3 == 0));
        analysis->derived(&runsOf);
        analysis->derived(&outlineOf);
        analysis->derived(&PreviewBlocks::of);
        for (int step = 0; step < 30; ++step) {
            // Sometimes the same text again, as after a letter typed and taken back.
            SharedEnds ends;
            const QString text = edited(analysis->text(), random, &ends);
            // As the workspace's analysis does: the revision before is the base, and keeps no
            // base of its own. Mostly it knows where the text changed.
            analysis->dropBase();
            auto next = std::make_shared<const TextAnalysis>(
                analysis->revision() + 1, text, analysis, step % 3 == 0 ? SharedEnds {} : ends);
            ASSERT_TRUE(sameAsFresh(*next)) << "round " << round << " step " << step << "\n"
                                            << analysis->text().toStdString() << "\n----\n"
                                            << text.toStdString();
            local += next->localReparse() != nullptr;
            spliced += next->derived(&PreviewBlocks::of).spliced;
            ++edits;
            analysis = next;
        }
    }
    // Most edits are re-parsed where they happened, not whole.
    EXPECT_GT(local, edits / 3);
    EXPECT_GT(spliced, local / 2);
}

TEST(LocalReparse, typingInALongTextReparsesOnlyAroundTheEdit)
{
    QString text;
    for (int i = 0; i < 500; ++i)
        text += QString("## Section %1\n\nSome *text* with `code`.\n\n- a\n- b\n\n").arg(i);
    auto base = std::make_shared<const TextAnalysis>(1, text);
    base->derived(&runsOf);
    base->derived(&outlineOf);
    base->derived(&PreviewBlocks::of);
    const qsizetype at = text.indexOf("Section 250");
    const auto next = std::make_shared<const TextAnalysis>(2, QString(text).insert(at, "x"), base);
    ASSERT_TRUE(sameAsFresh(*next));
    ASSERT_NE(next->localReparse(), nullptr);
    EXPECT_TRUE(next->derived(&PreviewBlocks::of).spliced);
    EXPECT_LT(next->localReparse()->window->text().size(), 200);
    // Typed and taken back since the base: the same text again needs no whole parse either.
    const auto again = std::make_shared<const TextAnalysis>(2, text, base);
    ASSERT_TRUE(sameAsFresh(*again));
    EXPECT_NE(again->localReparse(), nullptr);

    // An opened fence runs to the end; a link reference definition is parsed whole.
    const auto fence
        = std::make_shared<const TextAnalysis>(3, QString(text).insert(at, "```\n"), base);
    EXPECT_TRUE(sameAsFresh(*fence));
    const auto definition
        = std::make_shared<const TextAnalysis>(3, QString(text).insert(at, "[x]: /y\n\n"), base);
    EXPECT_TRUE(sameAsFresh(*definition));
    EXPECT_EQ(definition->localReparse(), nullptr);

    // The line that closes a list closes a fence in it, which then ends on that line.
    const QString fenceInList = "- ```\n\nafter\nx\n\ny\n";
    auto listed = std::make_shared<const TextAnalysis>(1, fenceInList);
    listed->derived(&runsOf);
    EXPECT_TRUE(sameAsFresh(
        *std::make_shared<const TextAnalysis>(2, QString(fenceInList).insert(15, "-"), listed)));
}

TEST(LocalReparse, editsOfATextWithManyPreviewChunksGiveTheBlocksAndPatchOfFreshRenders)
{
    // Over a thousand blocks: the preview keeps them in several chunks, which edits split, join
    // and move.
    const QString text = sections(400, "Some *text* with `code`.");
    std::mt19937 random(20261210);
    auto analysis = std::make_shared<const TextAnalysis>(1, text);
    auto shown = analysis;
    int spliced = 0;
    for (int step = 0; step < 60; ++step) {
        SharedEnds ends;
        const QString edit = edited(analysis->text(), random, &ends);
        analysis->dropBase();
        auto next
            = std::make_shared<const TextAnalysis>(analysis->revision() + 1, edit, analysis, ends);
        ASSERT_TRUE(sameAsFresh(*next)) << "step " << step;
        spliced += next->derived(&PreviewBlocks::of).spliced;
        // The patch from what the page showed a few edits back is the one between fresh renders.
        const std::vector<PreviewPatchOp> patch = diffBlocks(
            shown->derived(&PreviewBlocks::of).blocks, next->derived(&PreviewBlocks::of).blocks);
        const std::vector<PreviewPatchOp> fresh
            = diffBlocks(PreviewBody::render(MarkdownDocument(shown->text())).blocks,
                         PreviewBody::render(MarkdownDocument(edit)).blocks);
        EXPECT_TRUE(std::equal(patch.begin(), patch.end(), fresh.begin(), fresh.end(),
                               [](const PreviewPatchOp &a, const PreviewPatchOp &b) {
                                   return a.keep == b.keep && a.from == b.from && a.count == b.count
                                       && a.delta == b.delta && a.block == b.block;
                               }))
            << "step " << step;
        if (step % 3 == 0)
            shown = next;
        analysis = next;
    }
    EXPECT_GT(spliced, 30);
}

TEST(LocalReparse, manyEditsInARowOfALongLayoutGiveTheBlocksOfAFreshParse)
{
    // Thousands of blocks in many chunks, and hundreds of edits in a row, each made from the
    // layout before: typing, and now and then a long stretch cut or pasted, so that chunks are
    // split, joined and moved.
    const QString text = sections(1000, "Some *text*.");
    std::mt19937 random(20261211);
    auto analysis = std::make_shared<const TextAnalysis>(1, text);
    analysis->layout();
    int local = 0;
    for (int step = 0; step < 300; ++step) {
        const QString &before = analysis->text();
        QString after;
        SharedEnds ends;
        if (step % 4 == 3) {
            const qsizetype at = qsizetype(random() % before.size());
            const qsizetype length = qsizetype(random() % 4000);
            if (step % 8 == 3) {
                after = QString(before).remove(at, length);
                ends = {at, before.size() - std::min(before.size(), at + length)};
            } else {
                after = QString(before).insert(at, before.mid(random() % before.size(), length));
                ends = {at, before.size() - at};
            }
        } else {
            // Typing: no line ends other than LF and no link reference definitions, which would
            // make the edits after them parse whole.
            static const QStringList typed = {"x", " ", "\n", "\n\n", "- ", "# ", "`", "> "};
            const qsizetype at = qsizetype(random() % (before.size() + 1));
            const qsizetype removed = std::min<qsizetype>(before.size() - at, random() % 4);
            after = QString(before).replace(at, removed, typed[int(random() % typed.size())]);
            ends = {at, before.size() - at - removed};
        }
        analysis->dropBase();
        auto next
            = std::make_shared<const TextAnalysis>(analysis->revision() + 1, after, analysis, ends);
        ASSERT_TRUE(sameLayout(next->layout(), BlockLayout::of(MarkdownDocument(after))))
            << "step " << step;
        local += next->localReparse() != nullptr;
        analysis = next;
    }
    EXPECT_GT(local, 250);
}
