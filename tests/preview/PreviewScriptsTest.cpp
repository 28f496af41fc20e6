#include "Velto/preview/PreviewScripts.h"
#include "QStringPrinter.h"

#include <gtest/gtest.h>

using namespace PreviewScripts;

TEST(PreviewScripts, jsonStringLiteralEscapesWhatAScriptCannotHoldLiterally)
{
    EXPECT_EQ(jsonStringLiteral(QString()), QStringLiteral("\"\""));
    EXPECT_EQ(jsonStringLiteral(QStringLiteral("a\"b\\c\nd\te\r")),
              QStringLiteral("\"a\\\"b\\\\c\\nd\\te\\r\""));
    EXPECT_EQ(jsonStringLiteral(QString(QChar(0x01)) + QChar(0x2028) + QChar(0x2029)),
              QStringLiteral("\"\\u0001\\u2028\\u2029\""));
    // A surrogate pair passes unchanged; lone halves become escapes instead of U+FFFD.
    const QString emoji = QString::fromUtf8("😀");
    EXPECT_EQ(jsonStringLiteral(emoji), u'"' + emoji + u'"');
    EXPECT_EQ(jsonStringLiteral(QString(QChar(0xD83D)) + u'x' + QChar(0xDE00)),
              QStringLiteral("\"\\ud83dx\\ude00\""));
    EXPECT_EQ(jsonStringLiteral(QStringLiteral("</script>'")), QStringLiteral("\"</script>'\""));
}

TEST(PreviewScripts, theRedrawRunsHighlightingMathematicsAndDiagramsInThisOrder)
{
    const QString redraw = redrawPiece();
    ASSERT_TRUE(redraw.startsWith(QStringLiteral(";\nif(ts.textContent!==veltoThemeCSS)")));
    const qsizetype hljs = redraw.indexOf(QStringLiteral("hljs.highlightAll()"));
    const qsizetype math = redraw.indexOf(QStringLiteral("renderMathInElement(document.body"));
    const qsizetype containers = redraw.indexOf(QStringLiteral("code.language-mermaid"));
    const qsizetype run = redraw.indexOf(QStringLiteral("mermaid.run()"));
    EXPECT_TRUE(hljs > 0 && hljs < math && math < containers && containers < run);
    // The JavaScript source must hold two backslashes so KaTeX receives "\(".
    EXPECT_TRUE(redraw.contains(QStringLiteral("{left:'\\\\(',right:'\\\\)',display:false}")));
    EXPECT_TRUE(redraw.contains(QStringLiteral("{left:'\\\\[',right:'\\\\]',display:true}")));
    EXPECT_TRUE(redraw.contains(QStringLiteral("throwOnError: false")));
}
