#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// The text operations the assistant offers on a selection or the whole document. The raw value
// of each case is its name; it is what menus, the chat hand-over and the local API exchange.
enum class AIAction {
    rewrite,
    shorten,
    expand,
    proofread,
    translate,
    simplify,
    professional,
    casual,
    summarize,
    custom,
};
Q_DECLARE_METATYPE(AIAction)

namespace AIActions {

QString toString(AIAction action);
// Exact, case-sensitive match of the raw value.
std::optional<AIAction> fromString(const QString &raw);
// All ten cases in declaration order, custom included.
const QList<AIAction> &allCases();

// Localized title ("action.<raw>").
QString title(AIAction action);
// The system prompt sent with every action (one text for all).
QString systemPrompt(AIAction action);
// The user prompt for the action applied to text: the localized instruction, a blank line and
// the text. custom carries the user's own instruction already and returns the text unchanged.
QString prompt(AIAction action, const QString &text);
// Symbol name of the action's icon (resources/icons/<name>.svg).
QString icon(AIAction action);

} // namespace AIActions
