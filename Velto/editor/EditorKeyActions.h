#pragma once

#include <optional>

class QKeyEvent;

// The editor's own keys. They are matched with the exact modifiers (the keypad's aside), so a
// key with an extra modifier is left to the window's shortcuts.
enum class EditorKeyAction { bold, italic, link, prompt, find, findNext, findPrevious, replace };

// The action a key press stands for, if any; none while Caps Lock is on (where the platform
// reports it).
std::optional<EditorKeyAction> editorKeyAction(const QKeyEvent *event);
