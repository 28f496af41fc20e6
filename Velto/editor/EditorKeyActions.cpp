#include "Velto/editor/EditorKeyActions.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <array>

namespace {

struct Binding
{
    Qt::KeyboardModifiers modifiers;
    int key;
    EditorKeyAction action;
};

constexpr Qt::KeyboardModifiers ctrl = Qt::ControlModifier;

const std::array<Binding, 8> bindings {{
    {ctrl, Qt::Key_B, EditorKeyAction::bold},
    {ctrl, Qt::Key_I, EditorKeyAction::italic},
    {ctrl, Qt::Key_K, EditorKeyAction::link},
    {ctrl, Qt::Key_J, EditorKeyAction::prompt},
    {ctrl, Qt::Key_F, EditorKeyAction::find},
    {ctrl, Qt::Key_G, EditorKeyAction::findNext},
    {ctrl | Qt::ShiftModifier, Qt::Key_G, EditorKeyAction::findPrevious},
    {ctrl | Qt::AltModifier, Qt::Key_F, EditorKeyAction::replace},
}};

// X11 reports Caps Lock in the native modifiers (LockMask); other platforms do not report it.
bool capsLockOn(const QKeyEvent *event)
{
    return QGuiApplication::platformName() == QLatin1String("xcb")
        && (event->nativeModifiers() & 0x2) != 0;
}

} // namespace

std::optional<EditorKeyAction> editorKeyAction(const QKeyEvent *event)
{
    if (event->key() == 0 || event->key() == Qt::Key_unknown || capsLockOn(event))
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    for (const Binding &binding : bindings) {
        if (binding.key == event->key() && binding.modifiers == modifiers)
            return binding.action;
    }
    return std::nullopt;
}
