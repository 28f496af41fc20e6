#pragma once

#include <QString>

// String equality under Unicode canonical equivalence ("é" == "e\u0301").
bool canonicallyEqual(const QString &a, const QString &b);
// The same for texts known to share their first `prefix` and last `suffix` code units (a lower
// bound; 0 when nothing is known): only what lies between is compared. Both then hold how many
// units the texts are found to share at either end, for the next comparison after an edit.
bool canonicallyEqual(const QString &a, const QString &b, qsizetype &prefix, qsizetype &suffix);

// The same for short strings (a Character or two), compared whole.
bool canonicallyEquivalent(QStringView a, QStringView b);

// Whether every surrogate in the text is part of a pair, so that the text is Unicode and can be
// written as UTF-8 without loss.
bool isWellFormedUtf16(QStringView text);

// The text without the spaces and tabs (any space separator) at either end. Line breaks are
// content of a typed message or instruction and stay.
QString trimmedSpacesAndTabs(const QString &text);
