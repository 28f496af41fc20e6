#include "EditorFixture.h"

#include "Velto/editor/LongBlockLayout.h"

#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

TEST(LongBlockLayout, unbreakableRunsAreMeasuredByTheLineBreaker)
{
    EXPECT_EQ(LongBlockLayout::longestUnbreakableRun(u""), 0);
    EXPECT_EQ(LongBlockLayout::longestUnbreakableRun(u"ab cdefg h"), 6); // with its space
    EXPECT_EQ(LongBlockLayout::longestUnbreakableRun(u"xxxxxxxx"), 8);
    // A hyphen is a place to break, so is an ideograph.
    EXPECT_EQ(LongBlockLayout::longestUnbreakableRun(u"abc-defg"), 4);
    EXPECT_EQ(LongBlockLayout::longestUnbreakableRun(u"\u4E2D\u4E2D\u4E2D"), 1);
}

// A long stretch without a break opportunity switches the editor to wrapping anywhere, from the
// text it opens with or from an edit; only a whole new text without one switches back. The text
// itself is never touched.
TEST(LongBlockLayout, longStretchesWrapAnywhereUntilAnotherTextReplacesThem)
{
    const QString line(3 * LongBlockLayout::maxUnbreakableRun, u'x');
    EditorFixture f(QStringLiteral("# Title\n\n") + line + QStringLiteral("\nend"));
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAnywhere);
    const QTextBlock longBlock = f.view()->document()->findBlockByNumber(2);
    EXPECT_TRUE(longBlock.layout()->cacheEnabled());
    EXPECT_FALSE(f.view()->document()->firstBlock().layout()->cacheEnabled());

    f.workspace.setText(QStringLiteral("plain words only"));
    f.settle();
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

    QTextCursor cursor(f.view()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line);
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAnywhere);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("plain words only") + line);

    // A long paragraph with spaces wraps at words, but keeps its layout between paints.
    const QString words = QStringLiteral("word ").repeated(2 * LongBlockLayout::cachedBlockLength);
    f.workspace.setText(words);
    f.settle();
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    EXPECT_TRUE(f.view()->document()->firstBlock().layout()->cacheEnabled());
    EXPECT_EQ(f.workspace.text(), words);
}

// Keys typed into a long line wait for the events already queued and go in together; any other
// key first puts them in, so the order of the text is the order of the keys.
TEST(LongBlockLayout, keysIntoALongLineGoInTogetherAndInOrder)
{
    const QString line(2 * LongBlockLayout::cachedBlockLength, u'x');
    EditorFixture f(QStringLiteral("short\n") + line);
    QTextCursor cursor(f.view()->document());
    cursor.setPosition(6);
    f.view()->setTextCursor(cursor);

    QTest::keyClicks(f.view(), QStringLiteral("ab"));
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short\n") + line); // not yet
    QTest::keyClick(f.view(), Qt::Key_Left);
    QTest::keyClicks(f.view(), QStringLiteral("C"));
    f.settle();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short\naCb") + line);
    EXPECT_EQ(f.view()->textCursor().position(), 8);

    // Deleting keys and line breaks join them, each as the editor would do it.
    QTest::keyClicks(f.view(), QStringLiteral("xy"));
    QTest::keyClick(f.view(), Qt::Key_Backspace);
    QTest::keyClick(f.view(), Qt::Key_Delete);
    QTest::keyClick(f.view(), Qt::Key_Return);
    QTest::keyClicks(f.view(), QStringLiteral("z"));
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short\naCb") + line);
    f.settle();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short\naCx\nz") + line);
    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short\naCb") + line);

    // A short line takes each key at once.
    cursor.setPosition(5);
    f.view()->setTextCursor(cursor);
    QTest::keyClicks(f.view(), QStringLiteral("!"));
    EXPECT_EQ(f.workspace.text(), QStringLiteral("short!\naCb") + line);
}
