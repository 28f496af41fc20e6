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

// A long stretch without a break opportunity switches the editor to wrapping anywhere, from an
// edit; only a whole new text without one switches back. An opened text shows long lines in
// pieces short enough to need neither. The text itself is never touched.
TEST(LongBlockLayout, longStretchesWrapAnywhereUntilAnotherTextReplacesThem)
{
    const QString line(3 * LongBlockLayout::maxUnbreakableRun, u'x');
    EditorFixture f(QStringLiteral("plain words only"));
    QTextCursor cursor(f.view()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line);
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAnywhere);
    EXPECT_TRUE(f.view()->document()->firstBlock().layout()->cacheEnabled());
    EXPECT_EQ(f.workspace.text(), QStringLiteral("plain words only") + line);

    const QString opened = QStringLiteral("# Title\n\n") + line + QStringLiteral("\nend");
    f.workspace.setText(opened);
    f.settle();
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    EXPECT_GT(f.view()->document()->blockCount(), 4);
    EXPECT_FALSE(f.view()->document()->firstBlock().layout()->cacheEnabled());
    EXPECT_EQ(f.workspace.text(), opened);

    // A long paragraph with spaces wraps at words, but keeps its layout between paints.
    f.workspace.setText(QString());
    f.settle();
    const QString words = QStringLiteral("word ").repeated(2 * LongBlockLayout::cachedBlockLength);
    cursor = QTextCursor(f.view()->document());
    cursor.insertText(words);
    EXPECT_EQ(f.view()->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    EXPECT_TRUE(f.view()->document()->firstBlock().layout()->cacheEnabled());
    EXPECT_EQ(f.workspace.text(), words);
}

// Keys typed into a long line wait for the events already queued and go in together; any other
// key first puts them in, so the order of the text is the order of the keys.
TEST(LongBlockLayout, keysIntoALongLineGoInTogetherAndInOrder)
{
    // A line pasted whole stays one block.
    const QString line(2 * LongBlockLayout::cachedBlockLength, u'x');
    EditorFixture f(QStringLiteral("short\n"));
    QTextCursor cursor(f.view()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line);
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
