#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"

#include <gtest/gtest.h>

namespace {

// As std::string, which failures show as text.
std::string body(const QString &markdown)
{
    return MarkdownParser::renderBody(markdown).toStdString();
}

std::string paragraph(const QString &inner)
{
    return QStringLiteral("<p data-line=\"1\">%1</p>").arg(inner).toStdString();
}

} // namespace

TEST(InlineMath, formulasReachThePageAsWritten)
{
    // Backslash escapes and emphasis pairs stay what the author wrote.
    EXPECT_EQ(body(QStringLiteral("$$\\int_0^1 x^2\\,dx$$")),
              paragraph(QStringLiteral("<span>$$\\int_0^1 x^2\\,dx$$</span>")));
    EXPECT_EQ(body(QStringLiteral("Set $\\{a_1 * b *c*\\} \\_ \\| \\; \\! \\\\$ and *d*.")),
              paragraph(QStringLiteral("Set <span>$\\{a_1 * b *c*\\} \\_ \\| \\; \\! \\\\$</span> "
                                       "and <em>d</em>.")));
    // Over several lines of a quote: the markers are not part of it; "<" is escaped for HTML.
    EXPECT_EQ(body(QStringLiteral("> $$\n> a<b \\\\\n> c\n> $$")),
              std::string("<blockquote data-line=\"1\"><p data-line=\"1\"><span>$$\na&lt;b "
                          "\\\\\nc\n$$</span></p></blockquote>"));
    // The preview also knows \( \) and \[ \]; a link's text is a place of its own.
    EXPECT_EQ(body(QStringLiteral("\\(x_*\\) [see \\[y*\\]](u) # $z$")),
              paragraph(QStringLiteral("<span>\\(x_*\\)</span> <a href=\"u\">see "
                                       "<span>\\[y*\\]</span></a> # <span>$z$</span>")));
}

TEST(InlineMath, markupAFormulaCutsThroughKeepsItsTextAndTheRestIsMarkdown)
{
    // The emphasis opened before the formula is closed inside it: its "*" are plain text.
    EXPECT_EQ(body(QStringLiteral("**a $b** c$ d \"q\" &amp; \\*")),
              paragraph(QStringLiteral("**a <span>$b** c$</span> d \u201Cq\u201D &amp; *")));
    // Text around a formula keeps what the parse made of it.
    EXPECT_EQ(body(QStringLiteral("it's $x$ -- \\$5")),
              paragraph(QStringLiteral("it\u2019s <span>$x$</span> \u2013 $5")));
    EXPECT_EQ(body(QStringLiteral("| $a*b*$ | x |\n|---|---|")),
              std::string("<table data-line=\"1\"><thead><tr><th><span>$a*b*$</span></th><th>x</th>"
                          "</tr></thead><tbody></tbody></table>"));
}

// Where KaTeX's auto-render pairs delimiters, so does the renderer: an opening delimiter without
// an end leaves the rest as text, braces and backslashes hide a closing one.
TEST(InlineMath, delimitersPairAsTheAutoRenderPairsThem)
{
    EXPECT_EQ(body(QStringLiteral("$5 and $10")),
              paragraph(QStringLiteral("<span>$5 and $</span>10")));
    EXPECT_EQ(body(QStringLiteral("$$ a *b* $c$")),
              paragraph(QStringLiteral("$$ a <em>b</em> $c$")));
    EXPECT_EQ(body(QStringLiteral("${a$b}$ $\\$$")),
              paragraph(QStringLiteral("<span>${a$b}$</span> <span>$\\$$</span>")));
    EXPECT_EQ(body(QStringLiteral("no maths: 5 $ and *x*")),
              paragraph(QStringLiteral("no maths: 5 $ and <em>x</em>")));
}

TEST(InlineMath, codeIsNeverMathematics)
{
    EXPECT_EQ(body(QStringLiteral("`$a*b*$` $c$ `d$`")),
              paragraph(QStringLiteral("<code>$a*b*$</code> <span>$c$</span> <code>d$</code>")));
    EXPECT_EQ(body(QStringLiteral("```\n$x*y*$\n```")),
              std::string("<pre data-line=\"1\"><code>$x*y*$\n</code></pre>"));
    // A formula does not reach across a code span or an image.
    EXPECT_EQ(body(QStringLiteral("$a `b` c$ ![$](p) $")),
              paragraph(QStringLiteral("$a <code>b</code> c$ <img src=\"p\" alt=\"$\"> $")));
}

TEST(InlineMath, exportPageKeepsOnlyTheDelimitersItsAutoRenderKnows)
{
    const MarkdownDocument doc(QStringLiteral("\\(a\\) $b\\,c$"));
    const MarkdownPageBuilder builder {QString()}; // no resources: pages without scripts
    EXPECT_TRUE(builder.renderExportPage(doc).contains(
        QStringLiteral("<p data-line=\"1\">(a) <span>$b\\,c$</span></p>")));
    EXPECT_TRUE(builder.renderPage(doc).contains(
        QStringLiteral("<p data-line=\"1\"><span>\\(a\\)</span> <span>$b\\,c$</span></p>")));
}
