#pragma once

#include <QString>

#include <algorithm>

// How many code units two texts are known to share at their start and at their end: lower bounds,
// zero when nothing is known.
struct SharedEnds
{
    qsizetype prefix = 0;
    qsizetype suffix = 0;

    // What a first text shares with a third one when it shares `this` with a second one, which
    // shares `next` with the third.
    SharedEnds then(SharedEnds next) const
    {
        return {std::min(prefix, next.prefix), std::min(suffix, next.suffix)};
    }
};

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
