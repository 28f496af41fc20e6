#include "Velto/editor/TypeAheadBuffer.h"
#include "Velto/editor/SoftBreaks.h"

#include <QKeyEvent>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

std::optional<TypeAheadBuffer::Key> keyFor(int key, Qt::KeyboardModifiers modifiers,
                                           const QString &text = {})
{
    const QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    return TypeAheadBuffer::keyFor(&event);
}

// "abc" and "def", one line of the text split by a soft break after "abc".
void fillWithSoftBreak(QTextDocument &doc)
{
    QTextCursor cursor(&doc);
    cursor.insertText(QStringLiteral("abc\ndef"));
    cursor.setPosition(3);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(softbreaks::markFormat());
}

TEST(TypeAheadBuffer, holdsPlainTypingOnly)
{
    using Key = TypeAheadBuffer::Key;
    EXPECT_EQ(keyFor(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"))->text, QStringLiteral("a"));
    EXPECT_EQ(keyFor(Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"))->text, QStringLiteral("A"));
    EXPECT_EQ(keyFor(Qt::Key_Backspace, Qt::NoModifier)->kind, Key::deleteBefore);
    EXPECT_EQ(keyFor(Qt::Key_Delete, Qt::NoModifier)->kind, Key::deleteAfter);
    EXPECT_EQ(keyFor(Qt::Key_Enter, Qt::KeypadModifier)->kind, Key::lineBreak);

    // Shortcuts, word deletion, control characters and keys without text are the editor's.
    EXPECT_FALSE(keyFor(Qt::Key_A, Qt::ControlModifier, QStringLiteral("a")));
    EXPECT_FALSE(keyFor(Qt::Key_Backspace, Qt::ControlModifier));
    EXPECT_FALSE(keyFor(Qt::Key_Return, Qt::ShiftModifier));
    EXPECT_FALSE(keyFor(Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t")));
    EXPECT_FALSE(keyFor(Qt::Key_Left, Qt::NoModifier));

    EXPECT_TRUE(TypeAheadBuffer::isInterruptedBy(QEvent::MouseButtonPress));
    EXPECT_TRUE(TypeAheadBuffer::isInterruptedBy(QEvent::InputMethod));
    EXPECT_FALSE(TypeAheadBuffer::isInterruptedBy(QEvent::Paint));
}

// The held keys go in as the editor would put them in one by one, yet as one undo step; a
// deletion next to a soft break takes the character beyond it.
TEST(TypeAheadBuffer, appliesTheKeysInOrderAsOneStepAndDeletesAcrossSoftBreaks)
{
    QTextDocument doc;
    fillWithSoftBreak(doc);

    TypeAheadBuffer buffer;
    buffer.push({TypeAheadBuffer::Key::deleteBefore, {}});
    buffer.push({TypeAheadBuffer::Key::characters, QStringLiteral("X")});
    buffer.push({TypeAheadBuffer::Key::lineBreak, {}});
    QTextCursor cursor(&doc);
    cursor.setPosition(4); // after the soft break, before "def"
    buffer.applyTo(cursor);
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("abX\n\ndef"));
    doc.undo();
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("abc\ndef"));

    buffer.push({TypeAheadBuffer::Key::deleteAfter, {}});
    cursor.setPosition(3); // before the soft break
    buffer.applyTo(cursor);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("abc\nef"));
}

} // namespace
