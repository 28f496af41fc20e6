#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"

#include <gtest/gtest.h>

namespace {

QString body(const QString &markdown)
{
    return MarkdownParser::renderBody(markdown);
}

} // namespace

TEST(HTMLRenderer, blocksCarryTheirStartLine)
{
    EXPECT_EQ(body(QStringLiteral("# Title\n\nSome *text* & more.")),
              QStringLiteral("<h1 data-line=\"1\">Title</h1>"
                             "<p data-line=\"3\">Some <em>text</em> &amp; more.</p>"));
    EXPECT_EQ(body(QStringLiteral("> quote\n> more\n\n---\n\n###### six ##")),
              QStringLiteral("<blockquote data-line=\"1\"><p data-line=\"1\">quote\nmore</p>"
                             "</blockquote><hr data-line=\"4\"><h6 data-line=\"6\">six</h6>"));
    EXPECT_EQ(body(QString()), QString());
    EXPECT_EQ(body(QStringLiteral("\n\n")), QString());
}

TEST(HTMLRenderer, codeBlocks)
{
    EXPECT_EQ(
        body(QStringLiteral("a\n\nb\n\n```sh\na<b\n```")),
        QStringLiteral("<p data-line=\"1\">a</p><p data-line=\"3\">b</p>"
                       "<pre data-line=\"5\"><code class=\"language-sh\">a&lt;b\n</code></pre>"));
    EXPECT_EQ(body(QStringLiteral("```\nx\n```")),
              QStringLiteral("<pre data-line=\"1\"><code>x\n</code></pre>"));
    EXPECT_EQ(body(QStringLiteral("    indented & <b>\n")),
              QStringLiteral("<pre data-line=\"1\"><code>indented &amp; &lt;b&gt;\n</code></pre>"));
    // The whole info string is the language; a mermaid fence keeps the class the page looks for.
    EXPECT_EQ(body(QStringLiteral("```mermaid\ngraph TD\n```")),
              QStringLiteral(
                  "<pre data-line=\"1\"><code class=\"language-mermaid\">graph TD\n</code></pre>"));
    EXPECT_EQ(
        body(QStringLiteral("```c++ linenos\n```")),
        QStringLiteral("<pre data-line=\"1\"><code class=\"language-c++ linenos\"></code></pre>"));
}

TEST(HTMLRenderer, hostileFenceInfoStaysInsideTheClassAttribute)
{
    EXPECT_EQ(body(QStringLiteral("```x\" onmouseover=\"alert(1)\ny\n```")),
              QStringLiteral("<pre data-line=\"1\"><code class=\"language-x&quot; "
                             "onmouseover=&quot;alert(1)\">y\n</code></pre>"));
    EXPECT_EQ(body(QStringLiteral("~~~\"><script>alert(1)</script>\n~~~")),
              QStringLiteral("<pre data-line=\"1\"><code class=\"language-&quot;&gt;&lt;script&gt;"
                             "alert(1)&lt;/script&gt;\"></code></pre>"));
}

TEST(HTMLRenderer, lists)
{
    EXPECT_EQ(
        body(QStringLiteral("3. a\n4. b")),
        QStringLiteral(
            "<ol start=\"3\" data-line=\"1\"><li data-line=\"1\"><p data-line=\"1\">a</p></li>"
            "<li data-line=\"2\"><p data-line=\"2\">b</p></li></ol>"));
    EXPECT_EQ(body(QStringLiteral("1. a")),
              QStringLiteral(
                  "<ol data-line=\"1\"><li data-line=\"1\"><p data-line=\"1\">a</p></li></ol>"));
    EXPECT_EQ(body(QStringLiteral("0) z")),
              QStringLiteral("<ol start=\"0\" data-line=\"1\"><li data-line=\"1\"><p "
                             "data-line=\"1\">z</p></li></ol>"));
    // Nested lists keep their lines; tight lists still wrap paragraphs.
    EXPECT_EQ(
        body(QStringLiteral("- a\n  - b\n    - c\n- d")),
        QStringLiteral("<ul data-line=\"1\"><li data-line=\"1\"><p data-line=\"1\">a</p>"
                       "<ul data-line=\"2\"><li data-line=\"2\"><p data-line=\"2\">b</p>"
                       "<ul data-line=\"3\"><li data-line=\"3\"><p data-line=\"3\">c</p></li></ul>"
                       "</li></ul></li><li data-line=\"4\"><p data-line=\"4\">d</p></li></ul>"));
}

TEST(HTMLRenderer, taskItems)
{
    EXPECT_EQ(
        body(QStringLiteral("- [x] done")),
        QStringLiteral("<ul data-line=\"1\"><li data-line=\"1\"><input type=\"checkbox\" checked "
                       "disabled> <p data-line=\"1\">done</p></li></ul>"));
    EXPECT_EQ(body(QStringLiteral("- [ ] open\n- plain")),
              QStringLiteral(
                  "<ul data-line=\"1\"><li data-line=\"1\"><input type=\"checkbox\" disabled> "
                  "<p data-line=\"1\">open</p></li><li data-line=\"2\"><p data-line=\"2\">plain</p>"
                  "</li></ul>"));
}

TEST(HTMLRenderer, tablesGetABodyTheTreeDoesNotHave)
{
    EXPECT_EQ(body(QStringLiteral("x\n\n| a | *b* |\n|:--|--:|\n| 1 | 2 |\n| 3 |")),
              QStringLiteral("<p data-line=\"1\">x</p><table data-line=\"3\"><thead><tr><th>a</th>"
                             "<th><em>b</em></th></tr></thead><tbody><tr><td>1</td><td>2</td></tr>"
                             "<tr><td>3</td><td></td></tr></tbody></table>"));
    EXPECT_EQ(body(QStringLiteral("| a |\n|---|")),
              QStringLiteral("<table data-line=\"1\"><thead><tr><th>a</th></tr></thead>"
                             "<tbody></tbody></table>"));
}

TEST(HTMLRenderer, inlines)
{
    EXPECT_EQ(body(QStringLiteral("line one  \nline two\nthree")),
              QStringLiteral("<p data-line=\"1\">line one<br>line two\nthree</p>"));
    EXPECT_EQ(
        body(QStringLiteral("**s** ~d~ `a<b` ``x`y``")),
        QStringLiteral("<p data-line=\"1\"><strong>s</strong> <del>d</del> <code>a&lt;b</code> "
                       "<code>x`y</code></p>"));
    EXPECT_EQ(body(QStringLiteral("[t *e*](a&b \"title\") <http://x?a=1&b=2>")),
              QStringLiteral("<p data-line=\"1\"><a href=\"a&amp;b\">t <em>e</em></a> "
                             "<a href=\"http://x?a=1&amp;b=2\">http://x?a=1&amp;b=2</a></p>"));
    EXPECT_EQ(body(QStringLiteral("[empty]()")),
              QStringLiteral("<p data-line=\"1\"><a href=\"\">empty</a></p>"));
}

TEST(HTMLRenderer, smartPunctuationPassesAndStraightQuotesAreEscaped)
{
    EXPECT_EQ(
        body(QStringLiteral("\"q\" it's -- --- ... 'a'")),
        QStringLiteral(
            "<p data-line=\"1\">\u201Cq\u201D it\u2019s \u2013 \u2014 \u2026 \u2018a\u2019</p>"));
    EXPECT_EQ(body(QStringLiteral("a \\\" b &quot; c")),
              QStringLiteral("<p data-line=\"1\">a &quot; b &quot; c</p>"));
}

TEST(HTMLRenderer, imageAltTextIsEscapedOnce)
{
    EXPECT_EQ(body(QStringLiteral("![Tom & Jerry](x.png \"t\")")),
              QStringLiteral("<p data-line=\"1\"><img src=\"x.png\" alt=\"Tom &amp; Jerry\"></p>"));
    EXPECT_EQ(body(QStringLiteral("![*b* `c` <i>h</i> ![in](y)](a\"b.png)")),
              QStringLiteral("<p data-line=\"1\"><img src=\"a&quot;b.png\" alt=\"b c "
                             "&lt;i&gt;h&lt;/i&gt; in\"></p>"));
}

TEST(HTMLRenderer, rawHtmlPassesThroughUnchanged)
{
    EXPECT_EQ(
        body(QStringLiteral("<div>x</div>\n\ntext <span class=\"s\">y</span>")),
        QStringLiteral("<div>x</div>\n<p data-line=\"3\">text <span class=\"s\">y</span></p>"));
    EXPECT_EQ(body(QStringLiteral("<div>\n*not md*\n</div>")),
              QStringLiteral("<div>\n*not md*\n</div>\n"));
}

TEST(HTMLRenderer, helpers)
{
    EXPECT_EQ(HTMLRenderer::escapeHTML(QStringLiteral("a&b<c>d\"e'f &amp;")),
              QStringLiteral("a&amp;b&lt;c&gt;d&quot;e'f &amp;amp;"));
    const MarkdownDocument doc(QStringLiteral("x\n\n- item *e*"));
    const MarkdownNode list = doc.root().lastChild();
    EXPECT_EQ(HTMLRenderer::sourceLineAttribute(list), QStringLiteral(" data-line=\"3\""));
    EXPECT_EQ(HTMLRenderer::sourceLineAttribute(MarkdownNode()), QString());
    EXPECT_EQ(
        HTMLRenderer::render(list),
        QStringLiteral("<ul data-line=\"3\"><li data-line=\"3\"><p data-line=\"3\">item <em>e</em>"
                       "</p></li></ul>"));
    EXPECT_EQ(HTMLRenderer::visitChildren(list.firstChild().firstChild()),
              QStringLiteral("item <em>e</em>"));
}

TEST(HTMLRenderer, deepNestingRendersWithoutRecursion)
{
    // The parser stops nesting lists at 100 levels; quotes and inline markup nest on.
    QString lists;
    for (int i = 0; i < 30000; ++i)
        lists += QStringLiteral("- ");
    lists += u'x';
    const QString html = body(lists);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<ul data-line=\"1\"><li data-line=\"1\"><ul")));
    EXPECT_EQ(html.count(QStringLiteral("<ul")), html.count(QStringLiteral("</ul>")));

    QString quotes(60000, u'>');
    quotes += QStringLiteral(" q");
    EXPECT_EQ(body(quotes).count(QStringLiteral("<blockquote")), 60000);
}
