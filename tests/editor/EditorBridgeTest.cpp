#include "EditorFixture.h"

#include "Velto/editor/MarkdownHighlighter.h"
#include "support/EditorControllerTestAccess.h"
#include "support/MarkdownHighlighterTestAccess.h"

#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

QString lines(int count, const QString &lineBreak = QStringLiteral("\n"))
{
    QStringList l;
    for (int i = 1; i <= count; ++i)
        l << QStringLiteral("line %1").arg(i);
    return l.join(lineBreak);
}

// The formats the highlighter put on a block.
QList<QTextLayout::FormatRange> formatsOf(const VeltoTextView *view, int block)
{
    return view->document()->findBlockByNumber(block).layout()->formats();
}

void placeCaret(const EditorFixture &f, int position)
{
    f.select(position, position);
}

} // namespace

TEST(EditorBridge, typingMirrorsIntoTheWorkspaceAndRestylesOnce)
{
    EditorFixture f(QStringLiteral("# T\r\nabc\r\nend"));
    ASSERT_EQ(f.documentText(), QStringLiteral("# T\nabc\nend"));
    const int highlights = EditorControllerTestAccess::highlightCount(*f.controller());
    placeCaret(f, 6);
    QTest::keyClicks(f.view(), QStringLiteral("x"));
    EXPECT_EQ(f.workspace.text(), QStringLiteral("# T\r\nabxc\r\nend"));
    EXPECT_EQ(EditorControllerTestAccess::highlightCount(*f.controller()), highlights + 1);
    EXPECT_EQ(f.selectionStart(), 7);
    EXPECT_EQ(MarkdownHighlighterTestAccess::lastRestyledBlocks(*f.controller()->highlighter()), 1);

    // The sync that follows finds the text equal and changes nothing.
    f.settle();
    EXPECT_EQ(EditorControllerTestAccess::highlightCount(*f.controller()), highlights + 1);
    EXPECT_EQ(f.selectionStart(), 7);
}

TEST(EditorBridge, unusualCharactersSurviveTypingUndoAndSavingByteForByte)
{
    const QString original = QString::fromUtf8("a\r\nb\rc\u00A0d\u2028e😀f e\u0301\u2029g\uFDD0h"
                                               "\uFDD1i\r\nlast");
    EditorFixture f(original);
    const QString copy = f.documentText();
    ASSERT_EQ(copy, EditorTextMapping::editorCopy(original));

    // Type after "c\u00A0d" and press Enter after "e😀": the CR LF document gets CR LF.
    const int afterD = int(copy.indexOf(u'd')) + 1;
    placeCaret(f, afterD);
    QTest::keyClicks(f.view(), QStringLiteral("Z"));
    const int afterEmoji = int(f.documentText().indexOf(u'f'));
    placeCaret(f, afterEmoji);
    QTest::keyClick(f.view(), Qt::Key_Return);
    QString expected = original;
    expected.insert(expected.indexOf(u'd') + 1, u'Z');
    expected.insert(expected.indexOf(u'f'), QStringLiteral("\r\n"));
    EXPECT_EQ(f.workspace.text(), expected);

    const QString path = f.dir.filePath(QStringLiteral("doc.md"));
    f.workspace.setSelectedFileURL(QUrl::fromLocalFile(path));
    ASSERT_TRUE(f.workspace.save());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), expected.toUtf8());

    f.view()->undo();
    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), original);
    EXPECT_EQ(f.controller()->mapping().workspaceTextFor(f.documentText()), original);
}

// In a text whose line breaks are LF, a stray lone CR must not pair with a line feed typed or
// brought next to it: the editor, the saved text and the next load show the same lines.
TEST(EditorBridge, lineBreaksNextToALoneCrStaySeparateLines)
{
    EditorFixture f(QStringLiteral("a\nb\rc\rXd\ne"));
    placeCaret(f, 4); // start of "c", after the lone CR
    QTest::keyClick(f.view(), Qt::Key_Return);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a\nb\r\rc\rXd\ne"));
    const int x = int(f.documentText().indexOf(u'X'));
    f.select(x, x + 2); // "Xd": the next lone CR meets the LF after it
    QTest::keyClick(f.view(), Qt::Key_Delete);
    EXPECT_EQ(EditorTextMapping::editorCopy(f.workspace.text()), f.documentText());
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a\nb\r\rc\r\n\ne"));
    EXPECT_EQ(f.documentText().count(u'\n'), 5);
}

TEST(EditorBridge, caretRestoreClampsAndIsClearedAfterTheUpdate)
{
    EditorFixture f;
    f.workspace.setText(QString(80, u'x'));
    f.workspace.setRestoreCursorPosition(120);
    f.controller()->sync();
    EXPECT_EQ(f.selectionStart(), 80);
    EXPECT_EQ(f.workspace.restoreCursorPosition(), 120); // cleared after the update, not in it
    f.settle();
    EXPECT_FALSE(f.workspace.restoreCursorPosition().has_value());

    // Never inside a surrogate pair; offsets after CR LF pairs are mapped.
    f.workspace.setText(QString::fromUtf8("ab😀cd"));
    f.workspace.setRestoreCursorPosition(3);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 2);
    f.workspace.setText(QStringLiteral("a\r\nb\r\nc"));
    f.workspace.setRestoreCursorPosition(6);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 4);
    EXPECT_EQ(f.view()->document()->characterAt(4), u'c');
    // Nor inside a Character: between two regional indicators, or a base and its mark.
    f.workspace.setText(QString::fromUtf8("x🇩🇪y"));
    f.workspace.setRestoreCursorPosition(3);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 1);
    f.workspace.setText(QStringLiteral("ae\u0301b"));
    f.workspace.setRestoreCursorPosition(2);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 1);
    f.workspace.setText(QStringLiteral("neg"));
    f.workspace.setRestoreCursorPosition(-5);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 0);
}

TEST(EditorBridge, outsideReplacementPutsTheCaretAtTheTop)
{
    EditorFixture f(lines(300));
    placeCaret(f, f.view()->document()->characterCount() - 1);
    f.view()->ensureCursorVisible();
    ASSERT_GT(f.view()->verticalScrollBar()->value(), 0);
    f.workspace.setText(lines(300) + QStringLiteral("\nmore"));
    f.settle();
    EXPECT_EQ(f.selectionStart(), 0);
    EXPECT_EQ(f.view()->verticalScrollBar()->value(), 0);
}

TEST(EditorBridge, scrollRequestsGoToLineStartsAndAreCleared)
{
    EXPECT_EQ(EditorController::lineStartOffset(1, u"a\nb\nc"), 0);
    EXPECT_EQ(EditorController::lineStartOffset(3, u"a\nb\nc"), 4);
    EXPECT_EQ(EditorController::lineStartOffset(9, u"a\nb\nc"), 5);
    EXPECT_EQ(EditorController::lineStartOffset(0, u"a\nb\nc"), 5);
    EXPECT_EQ(EditorController::lineStartOffset(2, u"a\r\nb"), 3);

    EditorFixture f(QStringLiteral("a\r\nb\r\nc"));
    QSignalSpy cleared(f.editor.get(), &MarkdownTextView::scrollToLineChanged);
    f.editor->setScrollToLine(3);
    f.controller()->sync();
    EXPECT_EQ(f.selectionStart(), 4); // workspace offset 6
    EXPECT_EQ(f.editor->scrollToLine(), 3);
    f.settle();
    EXPECT_FALSE(f.editor->scrollToLine().has_value());
    EXPECT_EQ(cleared.count(), 2);

    f.editor->setScrollToLine(9);
    f.settle();
    EXPECT_EQ(f.selectionStart(), 5);
}

TEST(EditorBridge, theVisibleLineIsTheTopLineOfALongTextReportedOnlyOnChange)
{
    // About 1 MB in 2,007 sections whose paragraphs wrap to very different heights.
    QString text;
    for (int i = 1; i <= 2007; ++i) {
        text += QStringLiteral("## Section %1\n\n").arg(i);
        text += QStringLiteral("word ").repeated(20 + (i % 9) * 25) + QStringLiteral("\n\n");
    }
    ASSERT_GT(text.size(), 1000000);
    EditorFixture f(text);
    std::vector<qint64> reports;
    f.editor->setOnVisibleLineChange([&](qint64 line) { reports.push_back(line); });
    QTextDocument *doc = f.view()->document();
    QScrollBar *bar = f.view()->verticalScrollBar();
    for (const int section : {499, 1500, 1900}) {
        const int line = (section - 1) * 4 + 1;
        bar->setValue(doc->findBlockByNumber(line - 1).firstLineNumber());
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), line) << "section " << section;
    }
    // The wheel moves the view by a few visual lines: the report follows the paragraph on top.
    const qsizetype before = reports.size();
    QWheelEvent wheel(QPointF(50, 50), f.view()->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(),
                      QPoint(0, -120 * 5), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(f.view()->viewport(), &wheel);
    ASSERT_EQ(qsizetype(reports.size()), before + 1);
    EXPECT_EQ(reports.back(), f.view()->cursorForPosition(QPoint(0, 0)).blockNumber() + 1);
    EXPECT_GT(reports.back(), (1900 - 1) * 4 + 1);
    bar->setValue(bar->value()); // no change, no report
    EXPECT_EQ(qsizetype(reports.size()), before + 1);

    // A text that fits reports nothing.
    EditorFixture small(QStringLiteral("one\ntwo"));
    bool reported = false;
    small.editor->setOnVisibleLineChange([&](qint64) { reported = true; });
    small.view()->verticalScrollBar()->setValue(1);
    EXPECT_FALSE(reported);
}

TEST(EditorBridge, everyScrollReportsTheVisibleLineWhateverMovedIt)
{
    EditorFixture f(lines(400));
    std::vector<qint64> reports;
    f.editor->setOnVisibleLineChange([&](qint64 line) { reports.push_back(line); });
    QScrollBar *bar = f.view()->verticalScrollBar();
    f.view()->setFocus();
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier, int times = 1) {
        reports.clear();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(f.view(), k, m);
        f.settle();
    };
    auto expectCurrent = [&](const char *what) {
        ASSERT_FALSE(reports.empty()) << what;
        EXPECT_EQ(reports.back(), bar->value() + 1) << what; // one visual line per line
    };

    key(Qt::Key_End, Qt::ControlModifier);
    expectCurrent("Ctrl+End");
    EXPECT_GT(reports.back(), 350);
    key(Qt::Key_PageUp);
    expectCurrent("Page Up");
    key(Qt::Key_Home, Qt::ControlModifier);
    expectCurrent("Ctrl+Home");
    EXPECT_EQ(reports.back(), 1);
    key(Qt::Key_Down, Qt::NoModifier, 60);
    expectCurrent("60 x Down");
    key(Qt::Key_PageDown);
    expectCurrent("Page Down");
    reports.clear();
    f.view()->textCursor().insertText(QStringLiteral("x")); // typing that does not scroll
    f.settle();
    EXPECT_TRUE(reports.empty());
    f.editor->setScrollToLine(200);
    f.settle();
    expectCurrent("programmatic");
}

TEST(EditorBridge, remoteEditsApplyInPlaceKeepingCaretSelectionAndScroll)
{
    const QString text = lines(200, QStringLiteral("\r\n"));
    EditorFixture f(text);
    QScrollBar *bar = f.view()->verticalScrollBar();
    const int line120 = f.view()->document()->findBlockByNumber(119).position();
    f.select(line120, line120 + 4);
    bar->setValue(50);
    const QString topLine = f.view()->cursorForPosition(QPoint(0, 0)).block().text();

    // Another device inserts a line near the top and changes a word near the end.
    QString remote = text;
    remote.insert(0, QStringLiteral("new first line\r\n"));
    remote.replace(QStringLiteral("line 190"), QStringLiteral("LINE 190"));
    f.workspace.setRemoteEditGeneration(f.workspace.remoteEditGeneration() + 1);
    f.workspace.setText(remote);
    f.settle();

    EXPECT_EQ(f.workspace.text(), remote);
    EXPECT_EQ(f.controller()->mapping().workspaceTextFor(f.documentText()), remote);
    const int shift = int(QStringLiteral("new first line\n").size());
    EXPECT_EQ(f.selectionStart(), line120 + shift);
    EXPECT_EQ(f.selected(), QStringLiteral("line"));
    EXPECT_EQ(f.view()->cursorForPosition(QPoint(0, 0)).block().text(), topLine);
    EXPECT_TRUE(f.view()->document()->isUndoAvailable());

    // An edit after the caret leaves it alone; typing goes on at the same place.
    const int caret = f.selectionStart();
    QString later = remote;
    later.append(QStringLiteral("\r\ntail"));
    f.workspace.setRemoteEditGeneration(f.workspace.remoteEditGeneration() + 1);
    f.workspace.setText(later);
    f.settle();
    EXPECT_EQ(f.selectionStart(), caret);
    placeCaret(f, caret);
    QTest::keyClicks(f.view(), QStringLiteral("!"));
    EXPECT_TRUE(f.workspace.text().contains(QStringLiteral("!line 120\r\n")));
}

TEST(EditorBridge, typingStaysMirroredWhileMappedLineBreaksComeAndGo)
{
    EditorFixture f(QStringLiteral("ab\r\ncd"));
    auto expectInStep = [&f](const QString &workspace, const QString &document) {
        EXPECT_EQ(f.workspace.text(), workspace);
        EXPECT_EQ(f.documentText(), document);
        EXPECT_EQ(f.controller()->mapping().workspaceTextFor(f.documentText()), workspace);
    };
    // Deleting the only CR LF leaves no mapped line break; a typed one is mapped again.
    placeCaret(f, 2);
    QTest::keyClick(f.view(), Qt::Key_Delete);
    QTest::keyClicks(f.view(), QStringLiteral("x"));
    expectInStep(QStringLiteral("abxcd"), QStringLiteral("abxcd"));
    QTest::keyClick(f.view(), Qt::Key_Return);
    QTest::keyClicks(f.view(), QStringLiteral("y"));
    expectInStep(QStringLiteral("abx\r\nycd"), QStringLiteral("abx\nycd"));

    // The same both ways through changes from another device.
    auto remote = [&f](const QString &text) {
        f.workspace.setRemoteEditGeneration(f.workspace.remoteEditGeneration() + 1);
        f.workspace.setText(text);
        f.settle();
    };
    remote(QStringLiteral("abxycd"));
    placeCaret(f, 0);
    QTest::keyClicks(f.view(), QStringLiteral("z"));
    expectInStep(QStringLiteral("zabxycd"), QStringLiteral("zabxycd"));
    remote(QStringLiteral("zab\rxycd"));
    placeCaret(f, 8);
    QTest::keyClicks(f.view(), QStringLiteral("!"));
    expectInStep(QStringLiteral("zab\rxycd!"), QStringLiteral("zab\nxycd!"));
}

TEST(EditorBridge, anOutsideChangeWaitingForSyncIsAppliedBeforeTheNextKey)
{
    EditorFixture f(QStringLiteral("old"));
    placeCaret(f, 3);
    f.workspace.setText(QStringLiteral("new"));
    QTest::keyClick(f.view(), Qt::Key_X);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("xnew"));
}

TEST(EditorBridge, caretReportsAreWorkspaceOffsets)
{
    EditorFixture f(QStringLiteral("a\r\nb\r\nc"));
    std::vector<qint64> reports;
    f.editor->setOnCursorChange([&](qint64 p) { reports.push_back(p); });
    placeCaret(f, 4);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), 6);
    f.select(2, 4);
    EXPECT_EQ(reports.back(), 3);
}

TEST(EditorBridge, highlightFollowsEditsAndRestylesOnlyChangedBlocks)
{
    EditorFixture f(QStringLiteral("```\ncode\n```\nafter *x*"));
    const MarkdownHighlighter *h = f.controller()->highlighter();
    const QColor grey = h->colors().codeBackground;
    ASSERT_EQ(formatsOf(f.view(), 1).size(), 1);
    EXPECT_EQ(formatsOf(f.view(), 1).first().format.background().color(), grey);

    // Typing in a plain spot lays out only that block.
    placeCaret(f, 17);
    QTest::keyClicks(f.view(), QStringLiteral("a"));
    EXPECT_EQ(MarkdownHighlighterTestAccess::lastRestyledBlocks(*h), 1);

    // Breaking the opening fence restyles the blocks below it: no code any more.
    placeCaret(f, 0);
    QTest::keyClick(f.view(), Qt::Key_Delete);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("``\ncode\n```\naftear *x*"));
    EXPECT_TRUE(formatsOf(f.view(), 1).isEmpty());
    EXPECT_GE(MarkdownHighlighterTestAccess::lastRestyledBlocks(*h), 2);

    // Deleting a delimiter returns the text to the base look.
    const QTextBlock last = f.view()->document()->lastBlock();
    EXPECT_FALSE(formatsOf(f.view(), last.blockNumber()).isEmpty());
    placeCaret(f, last.position() + last.length() - 1);
    QTest::keyClick(f.view(), Qt::Key_Backspace);
    bool italic = false;
    for (const auto &range : formatsOf(f.view(), last.blockNumber()))
        italic = italic || range.format.fontItalic();
    EXPECT_FALSE(italic);
}

TEST(EditorBridge, themeAndFontChangesApplyWithoutATextChange)
{
    EditorFixture f(QStringLiteral("# Head"));
    f.settings.setThemeID(QStringLiteral("night"));
    f.settle();
    const QColor nightText = EditorTheme::night().editorText.color();
    EXPECT_EQ(f.view()->palette().color(QPalette::Base), EditorTheme::night().editorBg.color());
    EXPECT_EQ(f.view()->palette().color(QPalette::Text), nightText);
    const auto formats = formatsOf(f.view(), 0);
    ASSERT_FALSE(formats.isEmpty());
    EXPECT_EQ(formats.last().format.foreground().color(), nightText);
    EXPECT_EQ(formats.first().format.fontWeight(), QFont::Bold);

    f.settings.setFontSize(22);
    f.settle();
    EXPECT_EQ(f.view()->font(), f.settings.editorFont());
    EXPECT_EQ(f.workspace.text(), QStringLiteral("# Head"));
}
