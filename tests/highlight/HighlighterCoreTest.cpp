#include "core/highlight/LineOffsets.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

using C = HighlightColor;

std::vector<HighlightStyle> stylesOf(const QString &text)
{
    const MarkdownDocument document(text);
    return SyntaxHighlighter::styles(document);
}

HighlightStyle style(C color, bool bold = false, bool italic = false, bool code = false,
                     bool underline = false, bool strike = false)
{
    HighlightStyle s;
    s.foreground = color;
    s.bold = bold;
    s.italic = italic;
    s.codeBackground = code;
    s.underline = underline;
    s.strikethrough = strike;
    return s;
}

// Every unit of [start, end) has the style.
::testing::AssertionResult hasStyle(const std::vector<HighlightStyle> &styles, qsizetype start,
                                    qsizetype end, HighlightStyle expected)
{
    for (qsizetype i = start; i < end; ++i) {
        if (!(styles[size_t(i)] == expected))
            return ::testing::AssertionFailure()
                << "unit " << i << " has style bits " << int(styles[size_t(i)].pack())
                << ", expected " << int(expected.pack());
    }
    return ::testing::AssertionSuccess();
}

const HighlightStyle base {};

} // namespace

TEST(SyntaxHighlighter, headingsColourTheirPrefixAndText)
{
    auto s = stylesOf(QStringLiteral("# Title"));
    EXPECT_TRUE(hasStyle(s, 0, 2, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 2, 7, style(C::label, true)));

    s = stylesOf(QStringLiteral("### Sub"));
    EXPECT_TRUE(hasStyle(s, 0, 4, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 4, 7, style(C::secondaryLabel, true)));

    // A closing sequence keeps the heading's colour and weight.
    s = stylesOf(QStringLiteral("## Title ##"));
    EXPECT_TRUE(hasStyle(s, 0, 3, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 3, 11, style(C::label, true)));

    // Setext headings start with their text: no marker, the underline in the heading colour.
    s = stylesOf(QStringLiteral("Title\n==="));
    EXPECT_TRUE(hasStyle(s, 0, 5, style(C::label, true)));
    EXPECT_TRUE(hasStyle(s, 6, 9, style(C::label, true)));

    // An empty heading has no child and so no marker.
    s = stylesOf(QStringLiteral("#"));
    EXPECT_TRUE(hasStyle(s, 0, 1, style(C::label, true)));
}

TEST(SyntaxHighlighter, emphasisMarkersAndAccumulatingTraits)
{
    auto s = stylesOf(QStringLiteral("**bold**"));
    EXPECT_TRUE(hasStyle(s, 0, 2, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 2, 6, style(C::base, true)));
    EXPECT_TRUE(hasStyle(s, 6, 8, style(C::tertiaryLabel, true)));

    s = stylesOf(QStringLiteral("*a **b** c*"));
    EXPECT_TRUE(hasStyle(s, 0, 1, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 1, 3, style(C::base, false, true)));
    EXPECT_TRUE(hasStyle(s, 3, 5, style(C::tertiaryLabel, true, true)));
    EXPECT_TRUE(hasStyle(s, 5, 6, style(C::base, true, true)));
    EXPECT_TRUE(hasStyle(s, 6, 8, style(C::tertiaryLabel, true, true)));
    EXPECT_TRUE(hasStyle(s, 8, 10, style(C::base, false, true)));
    EXPECT_TRUE(hasStyle(s, 10, 11, style(C::tertiaryLabel, false, true)));

    s = stylesOf(QStringLiteral("~~gone~~"));
    EXPECT_TRUE(hasStyle(s, 0, 2, style(C::tertiaryLabel, false, false, false, false, true)));
    EXPECT_TRUE(hasStyle(s, 2, 6, style(C::base, false, false, false, false, true)));
    EXPECT_TRUE(hasStyle(s, 6, 8, style(C::tertiaryLabel, false, false, false, false, true)));
}

TEST(SyntaxHighlighter, codeLinksAndImages)
{
    auto s = stylesOf(QStringLiteral("`a*b*c`"));
    EXPECT_TRUE(hasStyle(s, 0, 7, style(C::inlineCode, false, false, true)));

    s = stylesOf(QStringLiteral("x `` `y` `` z"));
    EXPECT_TRUE(hasStyle(s, 0, 2, base));
    EXPECT_TRUE(hasStyle(s, 2, 11, style(C::inlineCode, false, false, true)));
    EXPECT_TRUE(hasStyle(s, 11, 13, base));

    s = stylesOf(QStringLiteral("[t](u)"));
    EXPECT_TRUE(hasStyle(s, 0, 6, style(C::link, false, false, false, true)));
    s = stylesOf(QStringLiteral("![a](b.png)"));
    EXPECT_TRUE(hasStyle(s, 0, 11, style(C::link)));

    s = stylesOf(QStringLiteral("```\nx *y*\n```\n"));
    EXPECT_TRUE(hasStyle(s, 0, 13, style(C::secondaryLabel, false, false, true)));

    s = stylesOf(QStringLiteral("a\n\n---\n"));
    EXPECT_TRUE(hasStyle(s, 3, 6, style(C::tertiaryLabel)));
}

TEST(SyntaxHighlighter, blockQuotesAndTheirContent)
{
    auto s = stylesOf(QStringLiteral("> quote *x*"));
    EXPECT_TRUE(hasStyle(s, 0, 8, style(C::secondaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 8, 9, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 9, 10, style(C::secondaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 10, 11, style(C::tertiaryLabel, false, true)));

    s = stylesOf(QStringLiteral("> # T"));
    EXPECT_TRUE(hasStyle(s, 0, 2, style(C::secondaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 2, 4, style(C::tertiaryLabel, true, true)));
    EXPECT_TRUE(hasStyle(s, 4, 5, style(C::label, true, true)));
}

// The parser counts the columns of a paragraph's continuation lines from the first line's
// indentation; the styles must land on the markers where they stand in the line.
TEST(SyntaxHighlighter, continuationLinesAreStyledWhereTheMarkupStands)
{
    // A lazy line of a list item, and a line indented deeper than the paragraph's first.
    for (const QString &text :
         {QStringLiteral("- foo\nbar *x* w"), QStringLiteral("x\n  y *x* w")}) {
        const auto s = stylesOf(text);
        const qsizetype at = text.indexOf(u'*');
        EXPECT_TRUE(hasStyle(s, at - 1, at, base)) << text.toStdString();
        EXPECT_TRUE(hasStyle(s, at, at + 1, style(C::tertiaryLabel, false, true)));
        EXPECT_TRUE(hasStyle(s, at + 1, at + 2, style(C::base, false, true)));
        EXPECT_TRUE(hasStyle(s, at + 2, at + 3, style(C::tertiaryLabel, false, true)));
        EXPECT_TRUE(hasStyle(s, at + 3, text.size(), base)) << text.toStdString();
    }
    // A lazy line of a block quote stays in the quote.
    auto s = stylesOf(QStringLiteral("> a\nb *c* d"));
    EXPECT_TRUE(hasStyle(s, 6, 7, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 7, 8, style(C::secondaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 8, 9, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 9, 11, style(C::secondaryLabel, false, true)));

    s = stylesOf(QStringLiteral("- x\n`y` z"));
    EXPECT_TRUE(hasStyle(s, 4, 7, style(C::inlineCode, false, false, true)));
    EXPECT_TRUE(hasStyle(s, 7, 9, base));
}

TEST(SyntaxHighlighter, offsetsCountUtf16UnitsNotBytes)
{
    auto s = stylesOf(QString::fromUtf8("ä **b**"));
    EXPECT_TRUE(hasStyle(s, 0, 2, base));
    EXPECT_TRUE(hasStyle(s, 2, 4, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 4, 5, style(C::base, true)));
    EXPECT_TRUE(hasStyle(s, 5, 7, style(C::tertiaryLabel, true)));

    s = stylesOf(QString::fromUtf8("😀 *x*"));
    EXPECT_TRUE(hasStyle(s, 0, 3, base));
    EXPECT_TRUE(hasStyle(s, 3, 4, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 4, 5, style(C::base, false, true)));
    EXPECT_TRUE(hasStyle(s, 5, 6, style(C::tertiaryLabel, false, true)));

    // NUL is read as U+FFFD (three bytes) by the parser, but is one unit like it.
    s = stylesOf(QString::fromUtf8("a\0b *c*", 7));
    EXPECT_TRUE(hasStyle(s, 4, 5, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 5, 6, style(C::base, false, true)));
}

TEST(SyntaxHighlighter, lineEndsAndTheLineTable)
{
    // CR LF: the CR stays at the end of its line, the next line maps normally.
    auto s = stylesOf(QStringLiteral("# A\r\n**b**"));
    EXPECT_TRUE(hasStyle(s, 5, 7, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 7, 8, style(C::base, true)));

    // A lone CR ends a line for the parser; styles land on the markup all the same, and the runs
    // still split at LF only.
    s = stylesOf(QStringLiteral("# A\r**b** *c*\r\n`d`"));
    EXPECT_TRUE(hasStyle(s, 2, 3, style(C::label, true)));
    EXPECT_TRUE(hasStyle(s, 4, 6, style(C::tertiaryLabel, true)));
    EXPECT_TRUE(hasStyle(s, 6, 7, style(C::base, true)));
    EXPECT_TRUE(hasStyle(s, 10, 11, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 15, 18, style(C::inlineCode, false, false, true)));
    const HighlightRuns runs = SyntaxHighlighter::highlight(QStringLiteral("# A\r**b**\n*c*"));
    ASSERT_EQ(runs.lineCount(), 2);
    EXPECT_EQ(runs.line(0).back().start, 7u); // the closing "**" after the CR

    const QString text = QStringLiteral("ab\ncd\n");
    const MarkdownDocument document(text);
    const LineOffsets offsets(text, document.utf8());
    EXPECT_EQ(offsets.starts(), (std::vector<qint64> {0, 3, 6}));
    // An end equal to the text length maps; one beyond does not.
    EXPECT_EQ(offsets.range({{2, 1}, {3, 1}}, 6), (TextRange {3, 6}));
    EXPECT_EQ(offsets.range({{2, 1}, {3, 2}}, 6), (TextRange {3, 6})); // clamped to the empty line
    EXPECT_EQ(offsets.range({{2, 1}, {2, 3}}, 4), std::nullopt);
    EXPECT_EQ(offsets.range({{4, 1}, {4, 1}}, 6), std::nullopt);
    EXPECT_EQ(offsets.range({{0, 1}, {1, 1}}, 6), std::nullopt);
}

TEST(SyntaxHighlighter, emptyTextAndRunsMatchStyles)
{
    EXPECT_EQ(SyntaxHighlighter::highlight(QString()).runCount(), 0);
    EXPECT_TRUE(stylesOf(QString()).empty());

    const QString text = QStringLiteral("# Head\n\nplain *it* and `code`\n> q **b**\n\nlast");
    const MarkdownDocument document(text);
    const auto styles = SyntaxHighlighter::styles(document);
    const HighlightRuns runs = SyntaxHighlighter::highlight(document);
    ASSERT_EQ(runs.lineCount(), 6);
    // Expanding the runs again gives the styles of every unit.
    std::vector<HighlightStyle> expanded(size_t(text.size()));
    qsizetype lineStart = 0;
    for (qsizetype line = 0; line < runs.lineCount(); ++line) {
        for (const HighlightRun &run : runs.line(line)) {
            for (std::uint32_t k = 0; k < run.length; ++k)
                expanded[size_t(lineStart + run.start + k)] = run.unpackedStyle();
        }
        lineStart = text.indexOf(u'\n', lineStart) + 1;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'\n') {
            EXPECT_EQ(expanded[size_t(i)].pack(), styles[size_t(i)].pack()) << "unit " << i;
        }
    }
    EXPECT_TRUE(runs.line(1).empty());
}

TEST(SyntaxHighlighter, deeplyNestedDocumentsStayLinear)
{
    // Sixty thousand levels: a recursive walk would overflow the stack.
    QString lists;
    for (int i = 0; i < 30000; ++i)
        lists += QStringLiteral("- ");
    lists += u'x';
    EXPECT_NO_FATAL_FAILURE(SyntaxHighlighter::highlight(lists));

    // Nested quotes restyle the rest of the line at every level; the result is that of painting
    // every level in order.
    QString quotes;
    for (int i = 0; i < 20000; ++i)
        quotes += QStringLiteral("> ");
    quotes += QStringLiteral("*x*");
    const auto s = stylesOf(quotes);
    EXPECT_TRUE(hasStyle(s, 0, 40000, style(C::secondaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 40000, 40001, style(C::tertiaryLabel, false, true)));
    EXPECT_TRUE(hasStyle(s, 40001, 40002, style(C::secondaryLabel, false, true)));
}

// The highlighter reads code and heading ranges from its own line table; they must be the ones
// the Markdown core reports (backtick runs included, closing "#" sequences included).
TEST(SyntaxHighlighter, codeAndHeadingRangesAgreeWithTheMarkdownCore)
{
    const QStringList texts = {
        QStringLiteral("a ``` b `` c ``` d"),
        QStringLiteral("x `a\nb` y"),
        QStringLiteral("- item `co*de*`\n  - ``nested ` tick``"),
        QStringLiteral("> quote `q` and ``\n> more`` end"),
        QStringLiteral("## Title ##   \n\n   #\n\n#\t\n\n### ä `ö` ###"),
        QString::fromUtf8("😀 `x` # no heading\n# 😀 heading # ##"),
    };
    for (const QString &text : texts) {
        const MarkdownDocument document(text);
        const auto styles = SyntaxHighlighter::styles(document);
        MarkdownWalker walker(document.root());
        while (walker.next()) {
            if (!walker.entering())
                continue;
            const MarkdownNode node = walker.node();
            const auto range = document.textRange(node);
            if (!range)
                continue;
            for (qsizetype i = range->start; i < range->end; ++i) {
                if (node.kind() == MarkdownNodeKind::Code) {
                    EXPECT_EQ(styles[size_t(i)].foreground, C::inlineCode)
                        << text.toStdString() << " @" << i;
                }
                if (node.kind() == MarkdownNodeKind::Heading) {
                    EXPECT_TRUE(styles[size_t(i)].bold) << text.toStdString() << " @" << i;
                }
            }
            if (node.kind() == MarkdownNodeKind::Code) {
                if (range->start > 0) {
                    EXPECT_NE(styles[size_t(range->start - 1)].foreground, C::inlineCode)
                        << text.toStdString();
                }
                if (range->end < text.size()) {
                    EXPECT_NE(styles[size_t(range->end)].foreground, C::inlineCode)
                        << text.toStdString();
                }
            }
        }
    }
}
