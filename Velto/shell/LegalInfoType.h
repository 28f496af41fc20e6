#pragma once

#include <QList>
#include <QString>

// The four legal texts, shared by the Help menu's legal submenu and the legal dialogs.
enum class LegalInfoType { impressum, terms, privacy, accessibility };

namespace LegalInfoTypes {
const QList<LegalInfoType> &allCases();
QString toString(LegalInfoType type);
// The menu item's localization key ("menu.impressum").
QString menuKey(LegalInfoType type);
} // namespace LegalInfoTypes
