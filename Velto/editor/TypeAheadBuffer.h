#pragma once

#include <QEvent>
#include <QString>

#include <optional>
#include <vector>

class QKeyEvent;
class QTextCursor;

// Keys typed into a very long line, held until they can go in together. Qt lays the whole line
// out again after every change (a tenth of a second for a megabyte), so the keys that arrive
// meanwhile (characters, Backspace, Delete, Return) are applied as one change, laid out once.
class TypeAheadBuffer
{
public:
    struct Key
    {
        enum Kind { characters, deleteBefore, deleteAfter, lineBreak } kind = characters;
        QString text;
    };

    // What the key press types, if it is a key the buffer can hold: printable text (Shift
    // allowed), or Backspace, Delete, Return without modifiers. The keypad modifier is ignored.
    static std::optional<Key> keyFor(const QKeyEvent *event);
    // Whether an event of this type, other than a key, must find the held keys already in:
    // mouse presses, input method text, focus loss, drops and context menus.
    static bool isInterruptedBy(QEvent::Type type);

    bool isEmpty() const { return m_keys.empty(); }
    void push(Key key) { m_keys.push_back(std::move(key)); }

    // Does to the cursor what the editor would have done with each held key, in one edit block
    // (one undo step, one contentsChange), and empties the buffer. Deleting next to a soft break
    // deletes the character beyond it, as the editor does.
    void applyTo(QTextCursor &cursor);

private:
    std::vector<Key> m_keys;
};
