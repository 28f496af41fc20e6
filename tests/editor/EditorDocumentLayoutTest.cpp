#include "Velto/editor/EditorDocumentLayout.h"
#include "Velto/editor/VeltoTextView.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

QString paragraphs(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text
            += QStringLiteral("Absatz %1 mit Wörtern, die bei schmaler Breite umbrechen.\n").arg(i);
    return text;
}

// What a view shows of its document: the lines and heights of the blocks in view, the line count
// the scroll bar follows and where the caret is drawn.
QString shown(QPlainTextEdit &view)
{
    QString out;
    auto *layout = qobject_cast<QPlainTextDocumentLayout *>(view.document()->documentLayout());
    for (QTextBlock block = view.document()->firstBlock(); block.blockNumber() < 20;
         block = block.next()) {
        out += QStringLiteral("%1:%2x%3 ")
                   .arg(block.blockNumber())
                   .arg(block.layout()->lineCount())
                   .arg(layout->blockBoundingRect(block).height());
    }
    const QRect caret = view.cursorRect();
    return out
        + QStringLiteral("| lines %1 | caret %2,%3")
              .arg(view.document()->lineCount())
              .arg(caret.x())
              .arg(caret.y());
}

} // namespace

// Typing, line breaks, deletions across lines and restyled lines look exactly as with Qt's own
// layout, also where lines wrap differently after an edit.
TEST(EditorDocumentLayout, editsShowExactlyAsWithQtsOwnLayout)
{
    VeltoTextView ours;
    QPlainTextEdit theirs;
    for (QPlainTextEdit *view : {static_cast<QPlainTextEdit *>(&ours), &theirs}) {
        view->resize(260, 300);
        view->setPlainText(paragraphs(200));
        view->show();
    }
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&theirs));
    const auto both = [&](const std::function<void(QPlainTextEdit &)> &step) {
        step(ours);
        step(theirs);
        QApplication::processEvents();
    };
    both([](QPlainTextEdit &v) {
        QTextCursor cursor(v.document()->findBlockByNumber(3));
        cursor.movePosition(QTextCursor::EndOfBlock);
        v.setTextCursor(cursor);
    });
    const QString keys = QStringLiteral("und noch viel mehr Text, der umbricht");
    for (const QChar key : keys) {
        both([&](QPlainTextEdit &v) { QTest::keyClick(&v, key.toLatin1()); });
        ASSERT_EQ(shown(ours), shown(theirs)) << "after typing " << key.toLatin1();
    }
    for (int i = 0; i < 12; ++i) {
        both([](QPlainTextEdit &v) { QTest::keyClick(&v, Qt::Key_Backspace); });
        ASSERT_EQ(shown(ours), shown(theirs)) << "after backspace " << i;
    }
    both([](QPlainTextEdit &v) { QTest::keyClick(&v, Qt::Key_Return); });
    EXPECT_EQ(shown(ours), shown(theirs));
    both([](QPlainTextEdit &v) {
        QTest::keyClick(&v, Qt::Key_Up);
        QTest::keyClick(&v, Qt::Key_End);
        QTest::keyClick(&v, Qt::Key_Delete); // joins two lines
    });
    EXPECT_EQ(shown(ours), shown(theirs));
    both([](QPlainTextEdit &v) {
        QTextCursor cursor(v.document()->findBlockByNumber(1));
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        cursor.mergeCharFormat(bold); // a restyle of one line
    });
    EXPECT_EQ(shown(ours), shown(theirs));
    auto *layout = qobject_cast<EditorDocumentLayout *>(ours.document()->documentLayout());
    ASSERT_NE(layout, nullptr);
    EXPECT_GT(layout->ownLayouts(), int(keys.size()));
}

// A line outside the view that is restyled stays unlaid-out until it is shown.
TEST(EditorDocumentLayout, linesOutsideTheViewAreLaidOutOnlyWhenShown)
{
    VeltoTextView view;
    view.resize(260, 300);
    view.setPlainText(paragraphs(2000));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QTextBlock far = view.document()->findBlockByNumber(1500);
    ASSERT_EQ(far.layout()->lineCount(), 0);
    view.document()->markContentsDirty(far.position(), far.length());
    EXPECT_EQ(far.layout()->lineCount(), 0);
    QTextCursor cursor(far);

    view.setTextCursor(cursor);
    view.ensureCursorVisible();
    QApplication::processEvents();
    EXPECT_GT(far.layout()->lineCount(), 0);
}

namespace {
// Styles every line from its third character on, as the Markdown styles do: a character typed
// before them moves their formats, so the typed line is restyled while the document reports the
// keystroke.
class TailHighlighter : public QSyntaxHighlighter
{
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString &text) override
    {
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        if (text.size() > 2)
            setFormat(2, int(text.size()) - 2, bold);
    }
};
} // namespace

// A keystroke in a restyled line repaints that line alone while its height stays, and the whole
// view once the line wraps to a new line; the lines look as with Qt's own layout.
TEST(EditorDocumentLayout, aKeystrokeInARestyledLineRepaintsThatLine)
{
    VeltoTextView ours;
    QPlainTextEdit theirs;
    for (QPlainTextEdit *view : {static_cast<QPlainTextEdit *>(&ours), &theirs}) {
        new TailHighlighter(view->document());
        view->resize(260, 300);
        view->setPlainText(paragraphs(200));
        view->show();
        QTextCursor cursor(view->document()->findBlockByNumber(2));
        cursor.setPosition(cursor.position() + 4);
        view->setTextCursor(cursor);
    }
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&theirs));
    QApplication::processEvents();
    QAbstractTextDocumentLayout *layout = ours.document()->documentLayout();
    int wholeUpdates = 0;
    QList<int> blockUpdates;
    QObject::connect(layout, &QAbstractTextDocumentLayout::update, [&] { ++wholeUpdates; });
    QObject::connect(layout, &QAbstractTextDocumentLayout::updateBlock,
                     [&](const QTextBlock &block) { blockUpdates.append(block.blockNumber()); });
    const int linesBefore = ours.document()->findBlockByNumber(2).layout()->lineCount();
    int keys = 0;
    while (ours.document()->findBlockByNumber(2).layout()->lineCount() == linesBefore) {
        ASSERT_LT(keys, 200);
        ASSERT_EQ(wholeUpdates, 0) << "after " << keys << " keys";
        for (QPlainTextEdit *view : {static_cast<QPlainTextEdit *>(&ours), &theirs})
            QTest::keyClick(view, 'x');
        QApplication::processEvents();
        ++keys;
        ASSERT_EQ(shown(ours), shown(theirs)) << "after " << keys << " keys";
    }
    EXPECT_EQ(blockUpdates, QList<int>(keys - 1, 2));
    EXPECT_EQ(wholeUpdates, 1);
}
