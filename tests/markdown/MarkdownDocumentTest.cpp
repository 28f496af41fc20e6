#include "core/markdown/MarkdownDocument.h"
#include "DocumentNodes.h"
#include "core/markdown/MarkdownParser.h"
#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/TextAnalysis.h"

#include <QtConcurrent>

#include <cmark-gfm.h>

#include <gtest/gtest.h>

#include <atomic>

#include <vector>

// Built from source by the setup script: the headers and the library linked must both be gfm.13.
TEST(MarkdownDocument, parserIsCmarkGfm0290Gfm13)
{
    EXPECT_STREQ(CMARK_GFM_VERSION_STRING, "0.29.0.gfm.13");
    EXPECT_STREQ(cmark_version_string(), "0.29.0.gfm.13");
}

TEST(MarkdownDocument, rangesAreHalfOpenAndCoverTheConstruct)
{
    const MarkdownDocument doc(QStringLiteral("Some **bold** and ~gone~ [t](u) ![a](b.png)"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Strong)), QStringLiteral("**bold**"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Strikethrough)),
              QStringLiteral("~gone~"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Link)), QStringLiteral("[t](u)"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Image)), QStringLiteral("![a](b.png)"));
    const auto strong = doc.sourceRange(firstOf(doc, MarkdownNodeKind::Strong));
    ASSERT_TRUE(strong);
    EXPECT_EQ(*strong, (SourceRange {{1, 6}, {1, 14}}));
}

TEST(MarkdownDocument, multiByteCharactersMapToUtf16Offsets)
{
    // "ä" is 2 bytes and 1 unit, CJK 3 bytes and 1 unit, an emoji 4 bytes and 2 units, a combining
    // mark its own unit.
    const MarkdownDocument doc(QStringLiteral("ä **b** 漢字 *x* 😀 `c` e\u0301 ~d~"));
    const auto strong = doc.textRange(firstOf(doc, MarkdownNodeKind::Strong));
    ASSERT_TRUE(strong);
    EXPECT_EQ(*strong, (TextRange {2, 7}));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Code)), QStringLiteral("`c`"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Strikethrough)), QStringLiteral("~d~"));

    const MarkdownDocument emoji(QStringLiteral("😀 *x*"));
    EXPECT_EQ(emoji.textRange(firstOf(emoji, MarkdownNodeKind::Emphasis)), (TextRange {3, 6}));

    // A lone surrogate is one unit however the conversion spells it.
    const MarkdownDocument broken(QString(QChar(0xD800)) + QStringLiteral("a *x*"));
    EXPECT_EQ(broken.textRange(firstOf(broken, MarkdownNodeKind::Emphasis)), (TextRange {3, 6}));
}

// Mapping by a slow, obvious route: split the parser's bytes into lines, decode the prefix.
TEST(MarkdownDocument, offsetsAgreeWithDecodingThePrefixOnMixedText)
{
    const QStringList pieces {"a",          "b ", "*x* ", "`c` ",   "\u00e4", "\u6f22",
                              "\U0001F600", "\t", "\r\n", "\n",     "\r",     "\n\n",
                              "# ",         "- ", "> ",   "**s** ", "e\u0301"};
    quint32 seed = 12345;
    QString text;
    for (int i = 0; i < 6000; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += pieces[int((seed >> 16) % quint32(pieces.size()))];
    }
    text.insert(100, QChar(0));
    const MarkdownDocument doc(text);
    const QByteArray bytes = doc.utf8();

    std::vector<qsizetype> starts {0};
    std::vector<qsizetype> ends;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r')
            continue;
        ends.push_back(i);
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        starts.push_back(i + 1);
    }
    ends.push_back(bytes.size());
    ASSERT_EQ(doc.lineCount(), int(starts.size()));
    // The parser places some inline nodes on continuation lines by the paragraph's first-line
    // indentation, which can land inside a character; such a position maps to the character's
    // end, never between the two halves of a surrogate pair.
    auto reference = [&](SourcePosition p) -> qsizetype {
        const qsizetype line = p.line - 1;
        qsizetype byte = std::min(starts[size_t(line)] + p.column - 1, ends[size_t(line)]);
        while (byte < bytes.size() && (quint8(bytes[byte]) & 0xC0) == 0x80)
            ++byte;
        return QString::fromUtf8(bytes.constData(), byte).size();
    };

    int checked = 0;
    MarkdownWalker walker(doc.root());
    while (walker.next()) {
        if (!walker.entering())
            continue;
        const auto source = doc.sourceRange(walker.node());
        if (!source)
            continue;
        const auto range = doc.textRange(walker.node());
        ASSERT_TRUE(range);
        EXPECT_EQ(range->start, reference(source->lower));
        EXPECT_EQ(range->end, reference(source->upper));
        ++checked;
    }
    EXPECT_GT(checked, 1000);
    for (int line = 1; line <= doc.lineCount(); line += 7) {
        for (int column = 1; column < 200; column += 13)
            EXPECT_EQ(doc.textOffset({line, column}), reference({line, column}));
    }
}

TEST(MarkdownDocument, nulIsReadAsReplacementCharacterWithoutShiftingOffsets)
{
    const QString text = QStringLiteral("a") + QChar(0) + QStringLiteral("b *c*");
    const MarkdownDocument doc(text);
    EXPECT_EQ(doc.utf8(),
              QByteArray("a\xEF\xBF\xBD"
                         "b *c*"));
    EXPECT_EQ(doc.textRange(firstOf(doc, MarkdownNodeKind::Emphasis)), (TextRange {4, 7}));
    EXPECT_EQ(firstOf(doc, MarkdownNodeKind::Text).literal(), QStringLiteral("a\uFFFDb "));
}

TEST(MarkdownDocument, lineEndsAndTabs)
{
    // CR LF and lone CR end lines for the parser; the CR stays part of the text.
    const MarkdownDocument crlf(QStringLiteral("# T\r\n\r\nx *y*\r\n"));
    EXPECT_EQ(covered(crlf, firstOf(crlf, MarkdownNodeKind::Emphasis)), QStringLiteral("*y*"));
    EXPECT_EQ(covered(crlf, firstOf(crlf, MarkdownNodeKind::Heading)), QStringLiteral("# T"));
    EXPECT_EQ(crlf.textOffset({3, 1}), 7);

    const MarkdownDocument cr(QStringLiteral("a\rb *c*"));
    EXPECT_EQ(covered(cr, firstOf(cr, MarkdownNodeKind::Emphasis)), QStringLiteral("*c*"));

    // A tab is one byte and one unit.
    const MarkdownDocument code(QStringLiteral("\tcode"));
    EXPECT_EQ(covered(code, firstOf(code, MarkdownNodeKind::CodeBlock)), QStringLiteral("code"));
    const MarkdownDocument tab(QStringLiteral("a\t*b*\t\t`c`"));
    EXPECT_EQ(covered(tab, firstOf(tab, MarkdownNodeKind::Emphasis)), QStringLiteral("*b*"));
    EXPECT_EQ(covered(tab, firstOf(tab, MarkdownNodeKind::Code)), QStringLiteral("`c`"));
}

TEST(MarkdownDocument, byteOrderMarkCountsAsOneUnit)
{
    const MarkdownDocument doc(QStringLiteral("\uFEFF# BOM *x*"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Heading)), QStringLiteral("# BOM *x*"));
}

TEST(MarkdownDocument, nestedContainersKeepInlinePositions)
{
    const MarkdownDocument quote(QStringLiteral("> abcde *x*\n> > deeper **y**"));
    EXPECT_EQ(covered(quote, firstOf(quote, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
    EXPECT_EQ(covered(quote, firstOf(quote, MarkdownNodeKind::Strong)), QStringLiteral("**y**"));
    const auto quotes = nodesOf(quote, MarkdownNodeKind::BlockQuote);
    ASSERT_EQ(quotes.size(), 2u);
    EXPECT_EQ(covered(quote, quotes[1]), QStringLiteral("> deeper **y**"));

    const MarkdownDocument list(QStringLiteral("- a\n  - sub **y**\n    1. ä `z`"));
    EXPECT_EQ(covered(list, firstOf(list, MarkdownNodeKind::Strong)), QStringLiteral("**y**"));
    EXPECT_EQ(covered(list, firstOf(list, MarkdownNodeKind::Code)), QStringLiteral("`z`"));
    const auto lists = nodesOf(list, MarkdownNodeKind::List);
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[2].listType(), MarkdownListType::Ordered);
    EXPECT_EQ(lists[2].startLine(), 3);
}

TEST(MarkdownDocument, inlineCodeIncludesItsBacktickRuns)
{
    const MarkdownDocument single(QStringLiteral("`code`"));
    EXPECT_EQ(single.sourceRange(firstOf(single, MarkdownNodeKind::Code)),
              (SourceRange {{1, 1}, {1, 7}}));

    const MarkdownDocument doubled(QStringLiteral("x `` `y` `` z"));
    EXPECT_EQ(covered(doubled, firstOf(doubled, MarkdownNodeKind::Code)),
              QStringLiteral("`` `y` ``"));
    EXPECT_EQ(firstOf(doubled, MarkdownNodeKind::Code).literal(), QStringLiteral("`y`"));

    // An escaped backtick before the opening run is not part of it.
    const MarkdownDocument escaped(QStringLiteral("\\``foo`"));
    EXPECT_EQ(covered(escaped, firstOf(escaped, MarkdownNodeKind::Code)), QStringLiteral("`foo`"));
}

TEST(MarkdownDocument, inlineCodeOverSeveralLinesEndsAfterItsClosingRun)
{
    const MarkdownDocument plain(QStringLiteral("a `b\nc` d"));
    EXPECT_EQ(covered(plain, firstOf(plain, MarkdownNodeKind::Code)), QStringLiteral("`b\nc`"));

    // Inside containers the parser counts the last line's end column without the prefix.
    const MarkdownDocument quote(QStringLiteral("> a ``b\n> c`` d"));
    EXPECT_EQ(covered(quote, firstOf(quote, MarkdownNodeKind::Code)), QStringLiteral("``b\n> c``"));
    const MarkdownDocument item(QStringLiteral("- x `b ``\n  c` d"));
    EXPECT_EQ(covered(item, firstOf(item, MarkdownNodeKind::Code)), QStringLiteral("`b ``\n  c`"));
}

TEST(MarkdownDocument, inlineNodesOnContinuationLinesSitWhereTheyStand)
{
    const auto check = [](const QString &text, MarkdownNodeKind kind, const QString &expected) {
        const MarkdownDocument doc(text);
        EXPECT_EQ(covered(doc, firstOf(doc, kind)), expected) << text.toStdString();
    };
    // Lazy continuation lines of a list item and a quote, and deeper indentation than line one.
    check(QStringLiteral("- foo\nbar *x*"), MarkdownNodeKind::Emphasis, QStringLiteral("*x*"));
    check(QStringLiteral("> a\nb *c*"), MarkdownNodeKind::Emphasis, QStringLiteral("*c*"));
    check(QStringLiteral("x\n  y *z*"), MarkdownNodeKind::Emphasis, QStringLiteral("*z*"));
    check(QStringLiteral("Ti\n  b *c*\n==="), MarkdownNodeKind::Emphasis, QStringLiteral("*c*"));
    check(QStringLiteral("- [a\nb](u) *c*"), MarkdownNodeKind::Link, QStringLiteral("[a\nb](u)"));
    check(QStringLiteral("> ä *b\n  ö* c"), MarkdownNodeKind::Emphasis, QStringLiteral("*b\n  ö*"));
    check(QStringLiteral("a `b\n   c` *d*"), MarkdownNodeKind::Code, QStringLiteral("`b\n   c`"));
    check(QStringLiteral("a `b\n   c` *d*"), MarkdownNodeKind::Emphasis, QStringLiteral("*d*"));
    check(QStringLiteral("- x\n`y` z"), MarkdownNodeKind::Code, QStringLiteral("`y`"));
    // Inline HTML over several lines ends at its last ">".
    check(QStringLiteral("x <span\n  class=\"x\"> *b*"), MarkdownNodeKind::HtmlInline,
          QStringLiteral("<span\n  class=\"x\">"));
    check(QStringLiteral("x <span\n  class=\"x\"> *b*"), MarkdownNodeKind::Emphasis,
          QStringLiteral("*b*"));
    check(QStringLiteral("> x <span\n> class=\"x\"> *b*"), MarkdownNodeKind::HtmlInline,
          QStringLiteral("<span\n> class=\"x\">"));
    check(QStringLiteral("x <!--a\n  b--> *c*"), MarkdownNodeKind::HtmlInline,
          QStringLiteral("<!--a\n  b-->"));
    // Table cells, headings and first lines are placed right already.
    check(QStringLiteral("| a | *b* |\n|---|---|\n| 1 | **2** |"), MarkdownNodeKind::Strong,
          QStringLiteral("**2**"));
    check(QStringLiteral("  # *h*"), MarkdownNodeKind::Emphasis, QStringLiteral("*h*"));
}

TEST(MarkdownDocument, atxHeadingReachesItsClosingSequence)
{
    const MarkdownDocument closed(QStringLiteral("## Title ##  \nnext"));
    const MarkdownNode heading = firstOf(closed, MarkdownNodeKind::Heading);
    EXPECT_EQ(covered(closed, heading), QStringLiteral("## Title ##"));
    EXPECT_EQ(heading.headingLevel(), 2);

    const MarkdownDocument quoted(QStringLiteral("> # T #\t"));
    EXPECT_EQ(covered(quoted, firstOf(quoted, MarkdownNodeKind::Heading)), QStringLiteral("# T #"));

    // A setext heading keeps its underline; its text starts at the heading start.
    const MarkdownDocument setext(QStringLiteral("Title\n====="));
    EXPECT_EQ(covered(setext, firstOf(setext, MarkdownNodeKind::Heading)),
              QStringLiteral("Title\n====="));
    EXPECT_EQ(firstOf(setext, MarkdownNodeKind::Heading).headingLevel(), 1);
}

TEST(MarkdownDocument, nodesWithoutPositionHaveNoRange)
{
    const MarkdownDocument doc(QStringLiteral("a\nb  \nc"));
    const MarkdownNode soft = firstOf(doc, MarkdownNodeKind::SoftBreak);
    const MarkdownNode hard = firstOf(doc, MarkdownNodeKind::LineBreak);
    ASSERT_TRUE(soft);
    ASSERT_TRUE(hard);
    EXPECT_FALSE(soft.parserRange());
    EXPECT_FALSE(doc.textRange(soft));
    EXPECT_EQ(soft.startLine(), 0);
    EXPECT_FALSE(doc.textRange(hard));
    EXPECT_FALSE(doc.textRange(MarkdownNode()));
}

TEST(MarkdownDocument, positionMappingRejectsWhatLiesOutsideTheText)
{
    const MarkdownDocument doc(QStringLiteral("ab\ncd\n"));
    EXPECT_EQ(doc.lineCount(), 3);
    EXPECT_EQ(doc.textOffset({3, 1}), 6); // the empty last line: the text's length
    EXPECT_FALSE(doc.textOffset({4, 1}));
    EXPECT_FALSE(doc.textOffset({0, 1}));
    EXPECT_FALSE(doc.textOffset({1, 0}));
    EXPECT_EQ(doc.textOffset({1, 99}), 2); // clamped to the line
    EXPECT_FALSE(doc.textRange(SourceRange {{2, 2}, {1, 1}}));
    EXPECT_EQ(doc.textRange(SourceRange {{1, 2}, {2, 2}}), (TextRange {1, 4}));

    const MarkdownDocument empty(QString {});
    EXPECT_FALSE(empty.root().firstChild());
    EXPECT_EQ(empty.textOffset({1, 1}), 0);
}

TEST(MarkdownDocument, nodePropertiesForBlocksAndTasks)
{
    const MarkdownDocument doc(
        QStringLiteral("```x\" y\na\n```\n\n    indented\n\n3. three\n4. four\n\n"
                       "- [x] done\n- [ ] open\n- plain\n\n"
                       "| a | b |\n|---|---|\n| 1 | 2 |\n"));
    const auto blocks = nodesOf(doc, MarkdownNodeKind::CodeBlock);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].fenceInfo(), QStringLiteral("x\" y"));
    EXPECT_TRUE(blocks[0].isFencedCodeBlock());
    EXPECT_EQ(blocks[0].literal(), QStringLiteral("a\n"));
    EXPECT_EQ(blocks[1].fenceInfo(), QString());
    EXPECT_FALSE(blocks[1].isFencedCodeBlock());

    const auto lists = nodesOf(doc, MarkdownNodeKind::List);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0].listType(), MarkdownListType::Ordered);
    EXPECT_EQ(lists[0].listStart(), 3);
    EXPECT_EQ(lists[1].listType(), MarkdownListType::Bullet);
    EXPECT_TRUE(lists[1].isTightList());

    const auto items = nodesOf(doc, MarkdownNodeKind::Item);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].taskState(), MarkdownTaskState::None);
    EXPECT_EQ(items[2].taskState(), MarkdownTaskState::Checked);
    EXPECT_EQ(items[3].taskState(), MarkdownTaskState::Unchecked);
    EXPECT_EQ(items[4].taskState(), MarkdownTaskState::None);

    const MarkdownNode table = firstOf(doc, MarkdownNodeKind::Table);
    ASSERT_TRUE(table);
    EXPECT_EQ(table.firstChild().kind(), MarkdownNodeKind::TableHeaderRow);
    EXPECT_EQ(table.lastChild().kind(), MarkdownNodeKind::TableRow);
    EXPECT_EQ(nodesOf(doc, MarkdownNodeKind::TableCell).size(), 4u);
    EXPECT_EQ(covered(doc, table), QStringLiteral("| a | b |\n|---|---|\n| 1 | 2 |"));
}

TEST(MarkdownDocument, linksAndAutolinksAsAttached)
{
    const MarkdownDocument doc(QStringLiteral("[a](<b c> \"t\") <http://x> www.y http://z"));
    const auto links = nodesOf(doc, MarkdownNodeKind::Link);
    ASSERT_EQ(links.size(), 2u); // the autolink extension is not attached: bare addresses stay text
    EXPECT_EQ(links[0].url(), QStringLiteral("b c"));
    EXPECT_EQ(QString::fromUtf8(links[0].titleUtf8()), QStringLiteral("t"));
    EXPECT_EQ(links[1].url(), QStringLiteral("http://x"));
}

TEST(MarkdownDocument, deepNestingWalksAndFreesWithoutRecursion)
{
    QString quotes(60000, u'>');
    quotes += QStringLiteral(" *x*");
    QString images;
    for (int i = 0; i < 60000; ++i)
        images += QStringLiteral("![");
    images += u'x';
    for (int i = 0; i < 60000; ++i)
        images += QStringLiteral("](u)");

    images = QStringLiteral("a\n") + images; // a paragraph of two lines gets its links placed

    for (const QString &text : {quotes, images}) {
        const MarkdownDocument doc(text);
        int depth = 0;
        int deepest = 0;
        int ranged = 0;
        MarkdownWalker walker(doc.root());
        while (walker.next()) {
            if (walker.entering() && doc.textRange(walker.node()))
                ++ranged;
            if (walker.node().isLeaf())
                continue;
            depth += walker.entering() ? 1 : -1;
            deepest = std::max(deepest, depth);
        }
        EXPECT_EQ(depth, 0);
        EXPECT_GT(deepest, 30000);
        EXPECT_GT(ranged, 30000);
    }
    const MarkdownDocument doc(images);
    const MarkdownNode outer = doc.root().firstChild().lastChild();
    ASSERT_EQ(outer.kind(), MarkdownNodeKind::Image);
    EXPECT_EQ(doc.textRange(outer), (TextRange {2, images.size()}));
}

TEST(MarkdownDocument, walkerReportsExitsExactlyForNonLeafNodes)
{
    const MarkdownDocument doc(
        QStringLiteral("# *h*\n\n> q `c` <b> a  \nb\n\n---\n\n```\nx\n```\n\n<div>\n\n"
                       "- [ ] t ~s~ [l](u) ![i](p)\n\n| a | |\n|---|---|\n| **b** | |\n"));
    std::vector<MarkdownNode> open;
    int leaves = 0;
    MarkdownWalker walker(doc.root());
    while (walker.next()) {
        if (walker.entering() && walker.node().isLeaf()) {
            ++leaves;
        } else if (walker.entering()) {
            open.push_back(walker.node());
        } else {
            ASSERT_FALSE(open.empty());
            EXPECT_EQ(open.back(), walker.node());
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty());
    EXPECT_GT(leaves, 10);
}

TEST(MarkdownDocument, walkerCanSkipASubtree)
{
    const MarkdownDocument doc(QStringLiteral("*a **b** c* d"));
    QStringList seen;
    MarkdownWalker walker(doc.root());
    while (walker.next()) {
        if (!walker.entering())
            continue;
        if (walker.node().kind() == MarkdownNodeKind::Emphasis)
            walker.skipChildren();
        if (walker.node().kind() == MarkdownNodeKind::Text)
            seen << walker.node().literal();
    }
    EXPECT_EQ(seen, QStringList {QStringLiteral(" d")});
}

namespace {
std::atomic<int> headingCounts = 0;
int headingsOf(const TextAnalysis &analysis)
{
    ++headingCounts;
    int headings = 0;
    MarkdownWalker walker(analysis.document().root());
    while (walker.next())
        headings += walker.entering() && walker.node().kind() == MarkdownNodeKind::Heading;
    return headings;
}
} // namespace

// One parse per revision, and each derived part made once, also when several threads ask for it
// at the same time: the later askers wait for the first one's result.
TEST(TextAnalysis, theParseAndEachPartAreMadeOncePerRevision)
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("# Heading %1\n\nSome *text*.\n\n").arg(i);
    const TextAnalysis analysis(7, text);
    EXPECT_EQ(analysis.revision(), 7u);
    EXPECT_TRUE(analysis.isOf(QString(text.constData(), text.size()))); // equal, not shared
    EXPECT_FALSE(analysis.isOf(text + u' '));
    EXPECT_FALSE(analysis.has(&headingsOf));

    headingCounts = 0;
    std::vector<QFuture<int>> askers;
    for (int i = 0; i < 4; ++i)
        askers.push_back(QtConcurrent::run([&analysis] { return analysis.derived(&headingsOf); }));
    for (QFuture<int> &asker : askers)
        EXPECT_EQ(asker.result(), 2000);
    EXPECT_EQ(headingCounts, 1);
    EXPECT_TRUE(analysis.has(&headingsOf));
    EXPECT_EQ(&analysis.document(), analysis.sharedDocument().get());
    EXPECT_TRUE(analysis.document().isParseOf(text));
}

TEST(MarkdownDocument, sharedParseCanBeReadFromSeveralThreads)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("Para %1 with `code` and [link](http://x/%1) & text.\n\n").arg(i);
    const auto doc = MarkdownDocument::parse(text);
    auto collect = [doc] {
        QString all;
        MarkdownWalker walker(doc->root());
        while (walker.next()) {
            if (walker.entering())
                all += walker.node().literal() + walker.node().url();
        }
        return all;
    };
    auto a = QtConcurrent::run(collect);
    auto b = QtConcurrent::run(collect);
    EXPECT_EQ(a.result(), b.result());
    EXPECT_EQ(a.result(), collect());
}

// The parser library switches the extensions' inline characters (~ for strikethrough) on and off
// in one process-wide table around every parse; parses on several threads must still each see
// them, as the highlighter, preview and outline workers parse at the same time.
TEST(MarkdownDocument, parsesOnSeveralThreadsAtOnceEqualParsesOneAtATime)
{
    QString text;
    for (int i = 0; i < 400; ++i)
        text += QStringLiteral("Some ~~struck~~ and *em* words %1, more ~~gone~~ text.\n\n").arg(i);
    auto html = [](const QString &markdown) {
        return MarkdownParser::renderBody(*MarkdownDocument::parse(markdown));
    };
    const QString expected = html(text);
    ASSERT_EQ(expected.count(QStringLiteral("<del>")), 800);
    QList<QFuture<QString>> runs;
    for (int i = 0; i < 8; ++i)
        runs << QtConcurrent::run([&] {
            QString mismatch;
            for (int k = 0; k < 10 && mismatch.isEmpty(); ++k) {
                if (const QString got = html(text); got != expected)
                    mismatch = got;
            }
            return mismatch;
        });
    for (QFuture<QString> &run : runs)
        EXPECT_TRUE(run.result().isEmpty());
}
