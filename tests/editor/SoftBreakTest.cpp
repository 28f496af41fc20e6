#include "EditorFixture.h"

#include "Velto/editor/MarkdownHighlighter.h"
#include "Velto/editor/SoftBreaks.h"
#include "core/highlight/SyntaxHighlighter.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace {

// "w0000 w0001 …": a line of numbered words, `count` of them.
QString wordLine(int count)
{
    QString line;
    for (int i = 0; i < count; ++i)
        line += QStringLiteral("w%1 ").arg(i, 4, 10, QChar(u'0'));
    return line;
}

QTextBlock secondPiece(const EditorFixture &f)
{
    for (QTextBlock block = f.view()->document()->firstBlock(); block.isValid();
         block = block.next()) {
        if (softbreaks::continuesLine(block))
            return block;
    }
    return {};
}

// Where two texts first differ, for a readable failure.
std::string firstDifference(const QString &a, const QString &b)
{
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    if (i == a.size() && i == b.size())
        return "equal";
    return QStringLiteral("at %1 of %2/%3: [%4] vs [%5]")
        .arg(i)
        .arg(a.size())
        .arg(b.size())
        .arg(a.mid(std::max<qsizetype>(0, i - 8), 16), b.mid(std::max<qsizetype>(0, i - 8), 16))
        .toStdString();
}

#define EXPECT_SAME_TEXT(a, b) EXPECT_EQ(firstDifference((a), (b)), "equal")

void placeCaret(const EditorFixture &f, int position)
{
    QTextCursor cursor(f.view()->document());
    cursor.setPosition(position);
    f.view()->setTextCursor(cursor);
}

} // namespace

// A long line shows in pieces; what the user does there changes the text as it would one line.
TEST(SoftBreaks, editingAcrossThePiecesOfALongLineChangesTheLineAsOne)
{
    const QString line = wordLine(1200); // 7,200 characters
    const QString text = QStringLiteral("# Head\r\n") + line + QStringLiteral("\r\nend");
    EditorFixture f(text);
    const QTextBlock piece = secondPiece(f);
    ASSERT_TRUE(piece.isValid());
    const int pieceStart = piece.position();
    EXPECT_EQ(f.workspace.text(), text);
    EXPECT_LE(piece.previous().length(), EditorTextMapping::defaultPieceLength + 1);
    EXPECT_TRUE(piece.previous().text().endsWith(u' ')); // broken after a space

    // Backspace at the start of a piece deletes the space before it, Delete at the end of a
    // piece the character after it; arrows step over the break as over no character.
    const qint64 at = f.controller()->workspaceOffset(pieceStart); // the piece's first character
    placeCaret(f, pieceStart);
    QTest::keyClick(f.view(), Qt::Key_Backspace);
    QString expected = text;
    expected.remove(at - 1, 1);
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
    const int pieceEnd = f.view()->textCursor().position();
    EXPECT_TRUE(softbreaks::beforeSoftBreak(f.view()->document(), pieceEnd));
    QTest::keyClick(f.view(), Qt::Key_Delete);
    expected.remove(at - 1, 1);
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
    QTest::keyClick(f.view(), Qt::Key_Right);
    EXPECT_EQ(f.controller()->workspaceOffset(f.view()->textCursor().position()), at);
    QTest::keyClick(f.view(), Qt::Key_Left);
    EXPECT_EQ(f.controller()->workspaceOffset(f.view()->textCursor().position()), at - 1);
    placeCaret(f, pieceEnd);
    QTest::keyClick(f.view(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(f.view()->textCursor().selectionStart(), pieceEnd);
    EXPECT_EQ(f.view()->textCursor().selectionEnd(), pieceEnd + 2);

    // Copying a stretch over the break copies the line's characters only.
    f.select(pieceEnd - 3, pieceEnd + 4);
    f.view()->copy();
    EXPECT_SAME_TEXT(QApplication::clipboard()->text(), expected.mid(at - 4, 6));

    // Return typed at the start of a piece is a line break of the text.
    placeCaret(f, pieceEnd + 1);
    QTest::keyClick(f.view(), Qt::Key_Return);
    expected.insert(at - 1, u"\r\n");
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
    f.view()->undo();
    expected.remove(at - 1, 2);
    EXPECT_SAME_TEXT(f.workspace.text(), expected);

    // Deleting a stretch with breaks in it and undoing brings the breaks back as they were.
    const int blocks = f.view()->document()->blockCount();
    f.select(10, f.view()->document()->characterCount() - 5);
    QTest::keyClicks(f.view(), QStringLiteral("Z"));
    EXPECT_SAME_TEXT(f.workspace.text(), expected.left(11) + u'Z' + expected.right(5));
    f.view()->undo();
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
    EXPECT_EQ(f.view()->document()->blockCount(), blocks);
    f.view()->redo();
    f.view()->undo();
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
    EXPECT_SAME_TEXT(f.controller()->mapping().workspaceTextFor(f.documentText()), expected);
}

// Text typed into an emptied piece does not carry the break's mark on to a line break typed
// after it.
TEST(SoftBreaks, anEmptiedPieceTakesOrdinaryText)
{
    const QString line = QString(5000, u'x');
    EditorFixture f(line);
    const QTextBlock piece = secondPiece(f);
    ASSERT_TRUE(piece.isValid());
    f.select(piece.position(), piece.position() + piece.length() - 1);
    QTest::keyClick(f.view(), Qt::Key_Delete);
    QTest::keyClicks(f.view(), QStringLiteral("ab"));
    QTest::keyClick(f.view(), Qt::Key_Return);
    QTest::keyClicks(f.view(), QStringLiteral("c"));
    const QString expected = line.left(int(EditorTextMapping::defaultPieceLength))
        + QStringLiteral("ab\nc") + line.mid(2 * EditorTextMapping::defaultPieceLength);
    EXPECT_SAME_TEXT(f.workspace.text(), expected);
}

// The styles of a split line are those of the whole line, piece by piece; a change from another
// device that brings a long line splits it too.
TEST(SoftBreaks, splitLinesAreStyledAsWholeLinesAndRemoteLinesSplitToo)
{
    const QString line = QStringLiteral("**") + wordLine(900).trimmed() + QStringLiteral("**");
    EditorFixture f(QStringLiteral("a\n") + line);
    const std::vector<qint64> soft = f.controller()->mapping().softBreaks();
    ASSERT_FALSE(soft.empty());
    const auto joined = EditorTextMapping::joinSoftBreaks(f.documentText(), soft);
    const HighlightRuns expected
        = splitLines(SyntaxHighlighter::highlight(joined.text), joined.splits);
    const HighlightRuns &shown = f.controller()->highlighter()->runs();
    ASSERT_EQ(shown.lineCount(), expected.lineCount());
    for (qsizetype i = 0; i < shown.lineCount(); ++i)
        EXPECT_TRUE(HighlightRuns::sameRuns(shown.line(i), expected.line(i))) << i;
    EXPECT_FALSE(shown.line(2).empty()); // the bold reaches into the second piece

    const QString remote = QStringLiteral("a\n") + line + QStringLiteral("\n") + line;
    f.workspace.setRemoteEditGeneration(f.workspace.remoteEditGeneration() + 1);
    f.workspace.setText(remote);
    f.settle();
    EXPECT_EQ(f.controller()->mapping().softBreaks().size(), 2 * soft.size());
    // Undoing the remote change and deleting over a break of the new line keeps the text whole.
    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a\n") + line);
    f.view()->redo();
    EXPECT_EQ(f.workspace.text(), remote);
    int marked = 0;
    for (QTextBlock b = f.view()->document()->firstBlock(); b.isValid(); b = b.next())
        marked += softbreaks::continuesLine(b) ? 1 : 0;
    EXPECT_EQ(marked, int(2 * soft.size()));
}
