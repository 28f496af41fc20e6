#include "QStringPrinter.h"

#include "Velto/preview/PreviewBody.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace {

PreviewBody bodyOf(const QString &text)
{
    return PreviewBody::render(MarkdownDocument(text));
}

// The operations in a compact form: "k<from>+<count>@<delta>" or "n<index>".
std::string ops(const PreviewBlockList &before, const PreviewBlockList &after)
{
    std::string out;
    for (const PreviewPatchOp &op : diffBlocks(before, after)) {
        std::ostringstream one;
        if (op.keep)
            one << 'k' << op.from << '+' << op.count << '@' << op.delta;
        else
            one << 'n' << op.block;
        if (!out.empty())
            out += ' ';
        out += one.str();
    }
    return out;
}

std::string ops(const PreviewBody &before, const PreviewBody &after)
{
    return ops(before.blocks, after.blocks);
}

TEST(PreviewBody, blocksMakeUpExactlyTheRenderedBody)
{
    const QString text = QStringLiteral("# T\n\npara $x$\n\n- a\n- b\n\n  c\n\n```js\nx\n```\n\n"
                                        "| a |\n|---|\n| 1 |\n\n[r]: /u\n");
    const PreviewBody body = bodyOf(text);
    EXPECT_EQ(body.html(), MarkdownParser::renderBody(text));
    ASSERT_EQ(body.blocks.size(), 5u);
    EXPECT_TRUE(body.patchable);
    EXPECT_EQ(body.blocks[2].line, 5);
    // Lines inside a block are relative to its first.
    EXPECT_NE(body.blocks[2].content->key.find("data-line=\"0\""), std::string::npos);
    EXPECT_NE(body.blocks[2].content->key.find("data-line=\"1\""), std::string::npos);
    EXPECT_NE(body.blocks[2].content->key.find("data-line=\"3\""), std::string::npos);

    EXPECT_FALSE(bodyOf(QStringLiteral("a <b>bold\n\nafter")).patchable);
    EXPECT_FALSE(bodyOf(QStringLiteral("<div>\n\nx")).patchable);
}

TEST(PreviewBody, typingKeepsTheOtherBlocksAndALineBreakOnlyShiftsTheLaterOnes)
{
    const PreviewBody a = bodyOf(QStringLiteral("one\n\ntwo\n\nthree\n\nfour"));
    EXPECT_EQ(ops(a, a), "k0+4@0");
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("one\n\ntwX\n\nthree\n\nfour"))), "k0+1@0 n1 k2+2@0");
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("one\n\ntwo\nmore\n\nthree\n\nfour"))),
              "k0+1@0 n1 k2+2@1");
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("\n\none\n\ntwo\n\nthree\n\nfour"))), "k0+4@2");
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("one\n\nthree\n\nfour"))), "k0+1@0 k2+2@-2");
}

TEST(PreviewBody, movedAndRepeatedBlocksAreKeptWhereverTheyGo)
{
    const PreviewBody a = bodyOf(QStringLiteral("one\n\ntwo\n\nthree\n\nfour"));
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("one\n\nthree\n\ntwo\n\nfour"))),
              "k0+1@0 k2+1@-2 k1+1@2 k3+1@0");
    EXPECT_EQ(ops(a, bodyOf(QStringLiteral("four\n\none\n\ntwo\n\nthree"))), "k3+1@-6 k0+3@2");
    // Identical blocks: each shown one is used once.
    const PreviewBody same = bodyOf(QStringLiteral("x\n\nx"));
    EXPECT_EQ(ops(same, bodyOf(QStringLiteral("x\n\nx\n\nx"))), "k0+2@0 n2");
    EXPECT_EQ(ops(a, bodyOf(QString())), "");
    EXPECT_EQ(ops(bodyOf(QString()), a), "n0 n1 n2 n3");
}

TEST(PreviewBody, theCacheRendersEveryEditExactlyAsAFreshRender)
{
    // Each text follows from the one before by one edit; the cache holds the previous render.
    const QStringList texts = {
        QStringLiteral("# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[r]: /one\n"),
        QStringLiteral("# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[r]: /two\n"),
        QStringLiteral("# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[r]:\n/two\n"),
        QStringLiteral("# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[r]:\n/three\n"),
        QStringLiteral("# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[s]: /s\n"),
        // Lines added above: the later blocks come back with their lines moved.
        QStringLiteral(
            "new\nlines\n\n# T\n\nsee [r] and [s]\n\n- a\n- b\n\n```js\nx\n```\n\n[s]: /s\n"),
        // A list that becomes loose, a paragraph that becomes a heading, raw HTML.
        QStringLiteral(
            "new\nlines\n\n# T\n\nsee [r] and [s]\n\n- a\n\n- b\n\n```js\nx\n```\n\n[s]: /s\n"),
        QStringLiteral(
            "new\nlines\n---\n\n# T\n\nsee [r] and [s]\n\n- a\n\n- b\n\n<b>x\n\n```js\nx\n```\n"),
        QStringLiteral("<b>new\nlines\n---\n\n# T\n\nsee [r] and [s]\n\n- a\n\n- "
                       "b\n\n<b>x\n\n```js\nx\n```\n"),
        QStringLiteral("\n<b>new\nlines\n---\n\n# T\n\nsee [r] and [s]\n\n- a\n\n- "
                       "b\n\n<b>x\n\n```js\nx\n```"),
    };
    PreviewBlockCache cache;
    for (const QString &text : texts) {
        const PreviewBody fresh = bodyOf(text);
        const PreviewBody cached = cache.render(MarkdownDocument(text));
        ASSERT_EQ(cached.blocks.size(), fresh.blocks.size()) << text.toStdString();
        for (size_t i = 0; i < fresh.blocks.size(); ++i) {
            EXPECT_EQ(cached.blocks[i].html(), fresh.blocks[i].html()) << text.toStdString();
            EXPECT_EQ(cached.blocks[i].content->key, fresh.blocks[i].content->key)
                << text.toStdString();
            EXPECT_EQ(cached.blocks[i].line, fresh.blocks[i].line) << text.toStdString();
        }
        EXPECT_EQ(cached.patchable, fresh.patchable) << text.toStdString();
    }
}

// A block with content `id` at `line`; without a line it has no line attribute.
PlacedBlock blockOf(int id, int line, int sourceLine, bool fixed)
{
    auto content = std::make_shared<PreviewBlock>();
    const std::string text = std::to_string(id);
    content->line = line;
    content->html = content->key = "<hr id=\"" + text + "\">";
    if (line > 0) {
        content->html = "<p data-line=\"" + std::to_string(line) + "\">" + text + "</p>";
        content->key = "<p data-line=\"0\">" + text + "</p>";
    }
    return {content, line, sourceLine, fixed, fixed};
}

TEST(PreviewBlockList, replacingAndMovingBlocksAcrossChunksGivesTheListAndPatchOfAFlatOne)
{
    std::mt19937 random(20261210);
    auto pick = [&](int from, int to) { return from + int(random() % unsigned(to - from + 1)); };
    std::vector<PlacedBlock> model;
    for (int i = 0; i < 700; ++i)
        model.push_back(blockOf(i, i % 300 == 3 ? 0 : 2 * i + 1, 2 * i, i % 97 == 5));
    PreviewBlockList list(model);
    std::vector<PlacedBlock> shownModel = model;
    PreviewBlockList shown = list;
    for (int step = 0; step < 300; ++step) {
        const int size = int(model.size());
        // Mostly a block or two (typing), sometimes hundreds (a paste, a cut).
        const int from = pick(0, size);
        const int to = std::min(size, from + (step % 10 == 0 ? pick(0, 400) : pick(0, 2)));
        std::vector<PlacedBlock> inserted;
        const int count = step % 10 == 5 ? pick(0, 400) : pick(0, 3);
        const int sourceLine = from > 0 ? model[size_t(from - 1)].sourceLine : 0;
        for (int k = 0; k < count; ++k) {
            // Some blocks move: their content comes from elsewhere in the list.
            if (size > 0 && random() % 3 == 0) {
                PlacedBlock moved = model[size_t(pick(0, size - 1))];
                moved.line = moved.line > 0 ? sourceLine + 1 : 0;
                moved.sourceLine = sourceLine;
                inserted.push_back(moved);
            } else {
                inserted.push_back(blockOf(1000 + step * 500 + k, pick(0, 30) ? sourceLine + 1 : 0,
                                           sourceLine, random() % 50 == 0));
            }
        }
        // Source lines stay in order and line attributes above 0.
        int lowest = -3;
        for (int i = to; i < size; ++i) {
            lowest = std::max(lowest, sourceLine - model[size_t(i)].sourceLine);
            if (model[size_t(i)].line > 0)
                lowest = std::max(lowest, 1 - model[size_t(i)].line);
        }
        const int shift = pick(std::min(lowest, 3), 3);

        list = list.replaced(size_t(from), size_t(to), inserted, shift);
        model.erase(model.begin() + from, model.begin() + to);
        for (size_t i = size_t(from); i < model.size(); ++i) {
            model[i].line += model[i].line > 0 ? shift : 0;
            model[i].sourceLine += shift;
        }
        model.insert(model.begin() + from, inserted.begin(), inserted.end());

        ASSERT_EQ(list.size(), model.size());
        size_t i = 0;
        size_t htmlSize = 0;
        list.forEach([&](const PlacedBlock &block) {
            const PlacedBlock &expected = model[i++];
            EXPECT_EQ(block.content, expected.content);
            EXPECT_EQ(block.line, expected.line);
            EXPECT_EQ(block.sourceLine, expected.sourceLine);
            EXPECT_EQ(block.fixedLines, expected.fixedLines);
            htmlSize += block.content->html.size();
        });
        EXPECT_EQ(list.htmlSize(), htmlSize);
        if (model.empty())
            continue;
        const size_t at = size_t(pick(0, int(model.size()) - 1));
        EXPECT_EQ(list[at].content, model[at].content);
        EXPECT_EQ(list[at].html(), model[at].html());
        const int line = pick(-1, model.back().sourceLine + 1);
        EXPECT_EQ(
            list.firstFrom(line),
            size_t(std::partition_point(model.begin(), model.end(),
                                        [&](const PlacedBlock &b) { return b.sourceLine < line; })
                   - model.begin()));
        EXPECT_EQ(list.hasFixedLinesFrom(at),
                  std::any_of(model.begin() + ptrdiff_t(at), model.end(),
                              [](const PlacedBlock &b) { return b.fixedLines && b.line > 0; }));
        // The patch from a list a few edits back, over shared chunks, is the one between
        // unrelated lists of the same blocks.
        EXPECT_EQ(ops(shown, list), ops(PreviewBlockList(shownModel), PreviewBlockList(model)))
            << "step " << step;
        if (step % 3 == 0) {
            shown = list;
            shownModel = model;
        }
    }
}

} // namespace
