#pragma once

#include <QList>
#include <QString>

#include <optional>

// The four legal texts, shared by the Help menu's legal submenu and the legal dialogs.
enum class LegalInfoType { impressum, terms, privacy, accessibility };

namespace LegalInfoTypes {
const QList<LegalInfoType> &allCases();
QString toString(LegalInfoType type);
// Exact and case-sensitive: "accessibility" gives accessibility, "Accessibility" none.
std::optional<LegalInfoType> fromString(const QString &raw);
// The menu item's localization key ("menu.impressum").
QString menuKey(LegalInfoType type);
// The key of the text itself ("legal.impressum.content").
QString contentKey(LegalInfoType type);
} // namespace LegalInfoTypes
