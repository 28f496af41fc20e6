#include "Velto/editor/EditorKeyActions.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

namespace {

std::optional<EditorKeyAction> actionFor(int key, Qt::KeyboardModifiers modifiers)
{
    const QKeyEvent event(QEvent::KeyPress, key, modifiers);
    return editorKeyAction(&event);
}

// The table matches the modifiers exactly, so a key with one more modifier stays a window
// shortcut; only the keypad flag is ignored.
TEST(EditorKeyActions, matchExactModifiersOnly)
{
    EXPECT_EQ(actionFor(Qt::Key_B, Qt::ControlModifier), EditorKeyAction::bold);
    EXPECT_EQ(actionFor(Qt::Key_G, Qt::ControlModifier), EditorKeyAction::findNext);
    EXPECT_EQ(actionFor(Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier),
              EditorKeyAction::findPrevious);
    EXPECT_EQ(actionFor(Qt::Key_F, Qt::ControlModifier | Qt::AltModifier),
              EditorKeyAction::replace);
    EXPECT_EQ(actionFor(Qt::Key_J, Qt::ControlModifier | Qt::KeypadModifier),
              EditorKeyAction::prompt);

    EXPECT_FALSE(actionFor(Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(actionFor(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(actionFor(Qt::Key_B, Qt::NoModifier));
    EXPECT_FALSE(actionFor(Qt::Key_unknown, Qt::ControlModifier));
}

} // namespace
