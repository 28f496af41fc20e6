#include "QStringPrinter.h"

#include "Velto/preview/PreviewBody.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

PreviewBody bodyOf(const QString &text)
{
    return PreviewBody::render(MarkdownDocument(text));
}

// The operations in a compact form: "k<from>+<count>@<delta>" or "n<index>".
std::string ops(const PreviewBody &before, const PreviewBody &after)
{
    std::string out;
    for (const PreviewPatchOp &op : diffBlocks(before.blocks, after.blocks)) {
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

TEST(PreviewBody, blocksMakeUpExactlyTheRenderedBody)
{
    const QString text = QStringLiteral("# T\n\npara $x$\n\n- a\n- b\n\n  c\n\n```js\nx\n```\n\n"
                                        "| a |\n|---|\n| 1 |\n\n[r]: /u\n");
    const PreviewBody body = bodyOf(text);
    EXPECT_EQ(body.html(), MarkdownParser::renderBody(text));
    ASSERT_EQ(body.blocks.size(), 5u);
    EXPECT_TRUE(body.patchable);
    EXPECT_EQ(body.blocks[2]->line, 5);
    // Lines inside a block are relative to its first.
    EXPECT_NE(body.blocks[2]->key.find("data-line=\"0\""), std::string::npos);
    EXPECT_NE(body.blocks[2]->key.find("data-line=\"1\""), std::string::npos);
    EXPECT_NE(body.blocks[2]->key.find("data-line=\"3\""), std::string::npos);

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
            EXPECT_EQ(cached.blocks[i]->html, fresh.blocks[i]->html) << text.toStdString();
            EXPECT_EQ(cached.blocks[i]->key, fresh.blocks[i]->key) << text.toStdString();
            EXPECT_EQ(cached.blocks[i]->line, fresh.blocks[i]->line) << text.toStdString();
        }
        EXPECT_EQ(cached.patchable, fresh.patchable) << text.toStdString();
    }
}

} // namespace
