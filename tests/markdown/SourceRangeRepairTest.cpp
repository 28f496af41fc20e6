#include "DocumentNodes.h"

#include "core/markdown/MarkdownParser.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The text each node of a kind covers, in document order.
QStringList coveredAll(const MarkdownDocument &document, MarkdownNodeKind kind)
{
    QStringList all;
    for (const MarkdownNode node : nodesOf(document, kind))
        all << covered(document, node);
    return all;
}

// Whether a node's range starts and ends on its own markup: delimiters for delimited inline
// constructs, the literal itself for plain text.
bool coversItsMarkup(const MarkdownDocument &document, MarkdownNode node)
{
    const QString part = covered(document, node);
    auto delimitedBy = [&part](QStringView open, QStringView close) {
        return part.size() >= open.size() + close.size() && part.startsWith(open)
            && part.endsWith(close);
    };
    switch (node.kind()) {
    case MarkdownNodeKind::Emphasis:
        return delimitedBy(u"*", u"*");
    case MarkdownNodeKind::Strong:
        return delimitedBy(u"**", u"**");
    case MarkdownNodeKind::Strikethrough:
        return delimitedBy(u"~", u"~");
    case MarkdownNodeKind::Code:
        return delimitedBy(u"`", u"`");
    case MarkdownNodeKind::HtmlInline:
        return delimitedBy(u"<", u">");
    case MarkdownNodeKind::Link:
        return (part.startsWith(u'[') && (part.endsWith(u')') || part.endsWith(u']')))
            || delimitedBy(u"<", u">");
    case MarkdownNodeKind::Image:
        return part.startsWith(u"![") && (part.endsWith(u')') || part.endsWith(u']'));
    case MarkdownNodeKind::Text: {
        // Text the parser delivers as written (no escapes, entities or typographic quotes) is
        // covered exactly, less the blanks a line break takes away.
        const QString literal = node.literal();
        for (const QChar c : literal) {
            if (!c.isLetterOrNumber() && c != u' ')
                return true;
        }
        return part == literal
            || (part.startsWith(literal) && part.mid(literal.size()).trimmed().isEmpty());
    }
    default:
        return true;
    }
}

} // namespace

TEST(SourceRangeRepair, backslashHardBreakStartsTheNextLine)
{
    const MarkdownDocument doc(QStringLiteral("a\\\nb *c*\nd `e`"));
    EXPECT_EQ(coveredAll(doc, MarkdownNodeKind::Text), (QStringList {"a", "b ", "c", "d "}));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*c*"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Code)), QStringLiteral("`e`"));

    // A "~" that strikes nothing through has no end; after a link over two lines it must not
    // take the walk back a line.
    const MarkdownDocument tilde(QStringLiteral("[](\n)~\nu"));
    EXPECT_EQ(coveredAll(tilde, MarkdownNodeKind::Text), (QStringList {"<none>", "u"}));
    const MarkdownDocument quoted(QStringLiteral("> a\\\n> b\\\nc **d**"));
    EXPECT_EQ(covered(quoted, firstOf(quoted, MarkdownNodeKind::Strong)), QStringLiteral("**d**"));
}

TEST(SourceRangeRepair, autolinksSitOnTheirAngleBrackets)
{
    const MarkdownDocument doc(QStringLiteral("<http://x>\nb <http://y> *z*"));
    EXPECT_EQ(coveredAll(doc, MarkdownNodeKind::Link), (QStringList {"<http://x>", "<http://y>"}));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*z*"));

    const MarkdownDocument item(QStringLiteral("- <a@b.c> and\n  <http://y>"));
    EXPECT_EQ(coveredAll(item, MarkdownNodeKind::Link), (QStringList {"<a@b.c>", "<http://y>"}));
    const MarkdownDocument cell(QStringLiteral("| x | <http://x> |\n|---|---|"));
    EXPECT_EQ(covered(cell, firstOf(cell, MarkdownNodeKind::Link)), QStringLiteral("<http://x>"));
}

TEST(SourceRangeRepair, paragraphLineBeforeATableKeepsItsPlaceAndTheTableStartsBelow)
{
    const QString text
        = QStringLiteral("> intro *x*\n> more\n> | a | b |\n> |---|---|\n> | 1 | 2 |");
    const MarkdownDocument doc(text);
    const MarkdownNode paragraph = firstOf(doc, MarkdownNodeKind::Paragraph);
    EXPECT_EQ(covered(doc, paragraph), QStringLiteral("intro *x*\n> more"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
    const MarkdownNode table = firstOf(doc, MarkdownNodeKind::Table);
    EXPECT_EQ(doc.startLine(table), 3);
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::TableHeaderRow)),
              QStringLiteral("| a | b |"));
    EXPECT_EQ(coveredAll(doc, MarkdownNodeKind::TableCell),
              (QStringList {" a ", " b ", " 1 ", " 2 "}));

    EXPECT_EQ(
        MarkdownParser::renderBody(QStringLiteral("para\n| a |\n|---|")),
        QStringLiteral("<p data-line=\"1\">para</p><table data-line=\"2\"><thead><tr><th>a</th>"
                       "</tr></thead><tbody></tbody></table>"));
}

TEST(SourceRangeRepair, textAfterReferenceDefinitionsStartsBelowThem)
{
    const MarkdownDocument doc(QStringLiteral("[r]:\n/u \"t\"\n[a](b) *c*\nd [e][r]"));
    EXPECT_EQ(coveredAll(doc, MarkdownNodeKind::Link), (QStringList {"[a](b)", "[e][r]"}));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*c*"));
    EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Paragraph)),
              QStringLiteral("[a](b) *c*\nd [e][r]"));

    // The preview and the outline take the lines from the same repair.
    EXPECT_EQ(MarkdownParser::renderBody(QStringLiteral("- [r]: /u\n  [a](b)")),
              QStringLiteral("<ul data-line=\"1\"><li data-line=\"1\"><p data-line=\"2\"><a "
                             "href=\"b\">a</a></p></li></ul>"));
    const MarkdownDocument heading(QStringLiteral("[r]: /u\nTitle [x][r]\n====="));
    EXPECT_EQ(heading.startLine(firstOf(heading, MarkdownNodeKind::Heading)), 2);
    EXPECT_EQ(covered(heading, firstOf(heading, MarkdownNodeKind::Link)), QStringLiteral("[x][r]"));
    // A link whose destination follows on the next line is no definition.
    // A backslash in an angle-bracket destination takes the line break after it along.
    const MarkdownDocument angle(QStringLiteral("[f]: </\\\nx>\n*k*"));
    EXPECT_EQ(coveredAll(angle, MarkdownNodeKind::Emphasis), (QStringList {"*k*"}));
    // A backslash before a title's closing mark is a character of its own when no later mark
    // closes the title.
    const MarkdownDocument escaped(QStringLiteral("[a]: \\ (\\)\ny *z*"));
    EXPECT_EQ(coveredAll(escaped, MarkdownNodeKind::Emphasis), (QStringList {"*z*"}));
    const MarkdownDocument longest(QStringLiteral("[a]: /u (\\) t)\ny *z*"));
    EXPECT_EQ(coveredAll(longest, MarkdownNodeKind::Emphasis), (QStringList {"*z*"}));
    // An escaped backslash may also be two: the longest title reaches the next line here.
    const MarkdownDocument twoLines(QStringLiteral("[a]: 5\n(\\\\)\ny)\nyx *z*"));
    EXPECT_EQ(coveredAll(twoLines, MarkdownNodeKind::Text), (QStringList {"yx ", "z"}));
    // An unescaped parenthesis ends a title in parentheses: no definition then.
    const MarkdownDocument open(QStringLiteral("[a]: /u\n(x()\n(y *z*"));
    EXPECT_EQ(coveredAll(open, MarkdownNodeKind::Text), (QStringList {"(x()", "(y ", "z"}));
    // After a lazy line's blanks no definition starts.
    const MarkdownDocument lazy(QStringLiteral("> [\nO]:4f]\n [\nu]:4f]\n[\nm"));
    EXPECT_EQ(coveredAll(lazy, MarkdownNodeKind::Text), (QStringList {" [", "u]:4f]", "[", "m"}));
    // Definitions alone before an underline are taken out; the underline is the text before a
    // table then, and stays text where it is indented too far.
    const MarkdownDocument table(QStringLiteral("[f]: /u\n===\nx *a*\nc | b\n-|-"));
    EXPECT_EQ(coveredAll(table, MarkdownNodeKind::Text),
              (QStringList {"===", "x ", "a", "c", "b"}));
    const MarkdownDocument indented(QStringLiteral("[f]: /u\n    ===\nx *a*\nc | b\n-|-"));
    EXPECT_EQ(coveredAll(indented, MarkdownNodeKind::Text),
              (QStringList {"[f]: /u", "===", "x ", "a", "c", "b"}));
    // A title in parentheses holds no "(": the definition ends on its first line.
    const MarkdownDocument paren(QStringLiteral("[f]: &q\n(:(*a tt$)\n&xot*6*"));
    EXPECT_EQ(coveredAll(paren, MarkdownNodeKind::Emphasis), (QStringList {"*a tt$)\n&xot*"}));
    EXPECT_EQ(coveredAll(paren, MarkdownNodeKind::Text).front(), QStringLiteral("(:("));
    // A CR LF inside a link the parser does not count as a line break is one byte to it.
    const MarkdownDocument crlf(QStringLiteral("![a](b \"c\r\nd\") *e*\r\n[a](b\r\n) *f*"));
    EXPECT_EQ(coveredAll(crlf, MarkdownNodeKind::Emphasis), (QStringList {"*e*", "*f*"}));
    // "\ " escapes nothing: the destination is "\", and a "T" after it no title.
    const MarkdownDocument slash(QStringLiteral("[f]: \\\n[*\\f\n]: \\ T\n[*\\f"));
    EXPECT_EQ(coveredAll(slash, MarkdownNodeKind::Text),
              (QStringList {"[", "\\f", "]: \\ T", "[", "\\f"}));
    const MarkdownDocument split(QStringLiteral("[a](\n/u) *x*"));
    EXPECT_EQ(covered(split, firstOf(split, MarkdownNodeKind::Link)), QStringLiteral("[a](\n/u)"));
    EXPECT_EQ(covered(split, firstOf(split, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
}

TEST(SourceRangeRepair, unmatchedBackticksAndLinksClosingOnANewLine)
{
    const MarkdownDocument tick(QStringLiteral("a\n`*x*\n\n`` b `c`"));
    EXPECT_EQ(coveredAll(tick, MarkdownNodeKind::Text), (QStringList {"a", "`", "x", "`` b "}));
    EXPECT_EQ(covered(tick, firstOf(tick, MarkdownNodeKind::Emphasis)), QStringLiteral("*x*"));
    EXPECT_EQ(covered(tick, firstOf(tick, MarkdownNodeKind::Code)), QStringLiteral("`c`"));
    const MarkdownDocument tail(QStringLiteral("x `\ny"));
    EXPECT_EQ(covered(tail, firstOf(tail, MarkdownNodeKind::Text)), QStringLiteral("x `"));

    const MarkdownDocument link(QStringLiteral("**[\n]()]**"));
    EXPECT_EQ(covered(link, firstOf(link, MarkdownNodeKind::Link)), QStringLiteral("[\n]()"));
    EXPECT_EQ(covered(link, firstOf(link, MarkdownNodeKind::Text)), QStringLiteral("]"));
    EXPECT_EQ(covered(link, firstOf(link, MarkdownNodeKind::Strong)),
              QStringLiteral("**[\n]()]**"));
}

// A backslash break on a line of its own right after a line break (LF or lone CR), a reference
// definition before a setext heading's text, and a ">" after four columns of a lazy line.
TEST(SourceRangeRepair, breaksAfterBreaksDefinitionsBeforeHeadingsAndLazyMarkers)
{
    const MarkdownDocument slash(QStringLiteral("a\n\\\n*c*"));
    EXPECT_EQ(covered(slash, firstOf(slash, MarkdownNodeKind::Emphasis)), QStringLiteral("*c*"));
    const MarkdownDocument cr(QStringLiteral("a\r\\\n`d`"));
    EXPECT_EQ(covered(cr, firstOf(cr, MarkdownNodeKind::Code)), QStringLiteral("`d`"));

    const QString defined = QStringLiteral("[f]: /u\n[f]\n-\n\ntext");
    const MarkdownDocument heading(defined);
    EXPECT_EQ(covered(heading, firstOf(heading, MarkdownNodeKind::Link)), QStringLiteral("[f]"));
    EXPECT_EQ(heading.startLine(firstOf(heading, MarkdownNodeKind::Heading)), 2);
    EXPECT_TRUE(
        MarkdownParser::renderBody(defined).startsWith(QStringLiteral("<h2 data-line=\"2\">")));
    EXPECT_EQ(covered(heading, firstOf(heading, MarkdownNodeKind::Heading)),
              QStringLiteral("[f]\n-"));
    const MarkdownDocument followed(QStringLiteral("a\n-\ntext"));
    EXPECT_EQ(covered(followed, firstOf(followed, MarkdownNodeKind::Heading)),
              QStringLiteral("a\n-"));

    const MarkdownDocument lazy(QStringLiteral("> a\n    >*b*"));
    EXPECT_EQ(covered(lazy, firstOf(lazy, MarkdownNodeKind::Emphasis)), QStringLiteral("*b*"));
    EXPECT_EQ(coveredAll(lazy, MarkdownNodeKind::Text), (QStringList {"a", ">", "b"}));
    // The item's content starts at column 6 (the tab takes it to 4): the line is lazy.
    const MarkdownDocument tabbed(QStringLiteral("-\t >a\n    >*b*"));
    EXPECT_EQ(coveredAll(tabbed, MarkdownNodeKind::Text), (QStringList {"a", ">", "b"}));
}

// An unmatched backtick run merged with escaped backticks after it, a lone "~" after a link over
// two lines, and a lazy line after a backslash break whose blanks stay in the text: before a
// typographic quote, or made of a tab.
TEST(SourceRangeRepair, escapedBackticksAfterRunsLoneTildesAndQuotesAfterLazyBlanks)
{
    const MarkdownDocument ticks(QStringLiteral("|\n``\\```\nt\n`"));
    EXPECT_EQ(coveredAll(ticks, MarkdownNodeKind::Text), (QStringList {"|", "``\\```", "t", "`"}));
    const MarkdownDocument inLine(QStringLiteral("a ``\\``` b\n*x*"));
    EXPECT_EQ(coveredAll(inLine, MarkdownNodeKind::Text), (QStringList {"a ``\\``` b", "x"}));
    // A "~" that strikes nothing through has no end; after a link over two lines it must not
    // take the walk back a line.
    const MarkdownDocument tilde(QStringLiteral("[](\n)~\nu"));
    EXPECT_EQ(coveredAll(tilde, MarkdownNodeKind::Text), (QStringList {"<none>", "u"}));
    const MarkdownDocument quoted(QStringLiteral("- a\\\n 'b *c*\n- d\\\n \"e *f*"));
    EXPECT_EQ(coveredAll(quoted, MarkdownNodeKind::Emphasis), (QStringList {"*c*", "*f*"}));
    // The list item takes two columns of the tab, the text keeps the other two as spaces.
    const MarkdownDocument tab(QStringLiteral("- >\\\n\tz *b*"));
    EXPECT_EQ(coveredAll(tab, MarkdownNodeKind::Text), (QStringList {"\tz ", "b"}));
}

// A lazy line keeps its blanks for the parser from where the first container that does not go on
// would begin; markup that closes right after the line break must not take them for indentation.
TEST(SourceRangeRepair, closingMarkupAfterTheBlanksOfALazyLine)
{
    const MarkdownDocument code(QStringLiteral("[f]:!\n>[f\n ]`\n`m"));
    EXPECT_EQ(covered(code, firstOf(code, MarkdownNodeKind::Link)), QStringLiteral("[f\n ]"));
    EXPECT_EQ(covered(code, firstOf(code, MarkdownNodeKind::Code)), QStringLiteral("`\n`"));

    for (const char *prefix : {"> ", "- ", "> - ", "1. "}) {
        for (const char *blanks : {" ", "\t"}) {
            const QString text = QString::fromLatin1(prefix) + QStringLiteral("[a\n")
                + QString::fromLatin1(blanks) + QStringLiteral("] *c*\n\n[a]: /u");
            const MarkdownDocument doc(text);
            EXPECT_EQ(covered(doc, firstOf(doc, MarkdownNodeKind::Emphasis)), QStringLiteral("*c*"))
                << text.toStdString();
        }
    }
    // The parser counts on over a line break in a destination, the next line's blanks included.
    const MarkdownDocument over(QStringLiteral("> a\n[b\n  ](u\n)c *d*\n> [e](f\n  \"t\") *g*"));
    EXPECT_EQ(coveredAll(over, MarkdownNodeKind::Emphasis), (QStringList {"*d*", "*g*"}));
    EXPECT_EQ(coveredAll(over, MarkdownNodeKind::Link),
              (QStringList {"[b\n  ](u\n)", "[e](f\n  \"t\")"}));
}

// Table cells and the text before a table read with "\|" as "|", and a table whose first row
// starts after a list item's marker.
TEST(SourceRangeRepair, cellsWithEscapedPipesAndTablesInListItems)
{
    const MarkdownDocument pipes(QStringLiteral("a\\|b *c* | *d*\n-|-\n*e* \\| *f* | *g*"));
    EXPECT_EQ(coveredAll(pipes, MarkdownNodeKind::Emphasis),
              (QStringList {"*c*", "*d*", "*e*", "*f*", "*g*"}));
    EXPECT_EQ(covered(pipes, firstOf(pipes, MarkdownNodeKind::Text)), QStringLiteral("a\\|b "));
    const MarkdownDocument cell(QStringLiteral("`\\|`$`|$\n-|-"));
    EXPECT_EQ(covered(cell, firstOf(cell, MarkdownNodeKind::Code)), QStringLiteral("`\\|`"));
    EXPECT_EQ(coveredAll(cell, MarkdownNodeKind::Text), (QStringList {"$`", "$"}));

    const MarkdownDocument before(QStringLiteral("x\\|*a* \\| *b*\nc\\|*d* | e\n-|-"));
    EXPECT_EQ(coveredAll(before, MarkdownNodeKind::Emphasis), (QStringList {"*a*", "*b*", "*d*"}));

    const MarkdownDocument code(QStringLiteral("`\n\\|`x\nx\n-|"));
    EXPECT_EQ(coveredAll(code, MarkdownNodeKind::Text), (QStringList {"x", "x"}));

    const MarkdownDocument item(QStringLiteral("- *a* | b\n  -|-\n  *c* | d"));
    EXPECT_EQ(coveredAll(item, MarkdownNodeKind::Emphasis), (QStringList {"*a*", "*c*"}));
    EXPECT_EQ(covered(item, firstOf(item, MarkdownNodeKind::TableHeaderRow)),
              QStringLiteral("*a* | b"));
}

// Random documents of containers, lazy and indented continuation lines, hard breaks of both kinds,
// tables after text, reference definitions, autolinks, unmatched backticks and inline markup
// over line ends: every delimited construct's range starts and ends on its delimiters, and plain
// text covers exactly itself.
TEST(SourceRangeRepair, everyRangeStartsAndEndsOnItsOwnMarkupInRandomDocuments)
{
    const QStringList prefixes {"",    "",    "",     "  ", "> ",   "- ",
                                "1. ", "   ", "> > ", "\t", "  - ", ">"};
    const QStringList words {"word",
                             "\u00e4\u00f6",
                             "\u6f22\u5b57",
                             "\U0001F600",
                             "*em*",
                             "**strong**",
                             "`code`",
                             "``co`de``",
                             "[link](u)",
                             "![img](p.png)",
                             "~s~",
                             "<span>",
                             "[a *b*](u)",
                             "*a `c` b*",
                             "<http://a.b>",
                             "<x@y.z>",
                             "`",
                             "``",
                             "[r]",
                             "[e][r]",
                             "[open",
                             "close](u)",
                             "*open",
                             "close*",
                             "x",
                             "y"};
    const QStringList lineEnds {"\n", "\n", "\n", "\r\n", "\n\n", "\\\n", "  \n"};
    QRandomGenerator random(2211);
    auto pick = [&random](const QStringList &list) {
        return list[random.bounded(qsizetype(list.size()))];
    };
    int checked = 0;
    for (int round = 0; round < 60; ++round) {
        QString text;
        for (int line = 0; line < 30; ++line) {
            const QString prefix = pick(prefixes);
            switch (random.bounded(12)) {
            case 0:
                text += prefix + QStringLiteral("[r]: /u \"t\"\n");
                continue;
            case 1:
                text += prefix + QStringLiteral("| a | *b* |\n") + prefix
                    + QStringLiteral("|---|---|\n");
                continue;
            default:
                break;
            }
            text += prefix;
            for (int w = random.bounded(1, 6); w > 0; --w)
                text += pick(words) + (w > 1 ? QStringLiteral(" ") : QString());
            text += pick(lineEnds);
        }
        const MarkdownDocument doc(text);
        MarkdownWalker walker(doc.root());
        while (walker.next()) {
            if (!walker.entering() || !doc.sourceRange(walker.node()))
                continue;
            ASSERT_TRUE(coversItsMarkup(doc, walker.node()))
                << "round " << round << ": \"" << covered(doc, walker.node()).toStdString()
                << "\" for \"" << walker.node().literal().toStdString() << "\" in\n"
                << text.toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 8000);
}
