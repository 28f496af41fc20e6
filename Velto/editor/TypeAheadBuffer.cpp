#include "Velto/editor/TypeAheadBuffer.h"

#include "Velto/editor/SoftBreaks.h"

#include <QKeyEvent>
#include <QTextCursor>

#include <utility>

std::optional<TypeAheadBuffer::Key> TypeAheadBuffer::keyFor(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    Key key;
    if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Backspace) {
        key.kind = Key::deleteBefore;
    } else if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Delete) {
        key.kind = Key::deleteAfter;
    } else if (modifiers == Qt::NoModifier
               && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        key.kind = Key::lineBreak;
    } else {
        if ((modifiers & ~Qt::ShiftModifier) != 0 || event->text().isEmpty())
            return std::nullopt;
        for (const QChar c : event->text()) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
                return std::nullopt;
        }
        key.text = event->text();
    }
    return key;
}

bool TypeAheadBuffer::isInterruptedBy(QEvent::Type type)
{
    switch (type) {
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::FocusOut:
    case QEvent::Drop:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

void TypeAheadBuffer::applyTo(QTextCursor &cursor)
{
    if (m_keys.empty())
        return;
    const std::vector<Key> keys = std::exchange(m_keys, {});
    const QTextDocument *document = cursor.document();
    cursor.beginEditBlock();
    for (const Key &key : keys) {
        switch (key.kind) {
        case Key::characters:
            cursor.insertText(key.text);
            break;
        case Key::deleteBefore:
            if (softbreaks::afterSoftBreak(document, cursor.position()))
                cursor.setPosition(cursor.position() - 1);
            cursor.deletePreviousChar();
            break;
        case Key::deleteAfter:
            if (softbreaks::beforeSoftBreak(document, cursor.position()))
                cursor.setPosition(cursor.position() + 1);
            cursor.deleteChar();
            break;
        case Key::lineBreak:
            cursor.insertBlock();
            break;
        }
    }
    cursor.endEditBlock();
}
