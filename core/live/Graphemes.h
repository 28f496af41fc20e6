#pragma once

#include <QString>

#include <vector>

// Character (extended grapheme cluster) arithmetic on ranges of a string without segmenting the
// whole text, giving exactly the boundaries QTextBoundaryFinder finds in the whole text.
//
// The key notion is a safe boundary: a position that is a boundary whatever surrounds it and
// behind which nothing looks, so a range that starts and ends on safe boundaries segments exactly
// as it does inside the whole text. Qt's segmentation is not only the Unicode rules: it also
// re-segments runs of some scripts (Indic, Thai, Tibetan, Myanmar, Khmer) by syllables, and a
// run takes in the neutral characters (spaces, digits, punctuation, marks) that follow it. So a
// safe boundary must also end any such run: it lies before a letter of another script.
namespace graphemes {

// Whether a code unit always stands alone as a Character between two of its kind outside a
// re-segmented script run: every rule that joins code units needs a mark, a format or control
// character, a surrogate, a Hangul jamo or syllable, a pictographic symbol, a prepended letter or
// a carriage return on one side. Letters of the re-segmented scripts are never simple.
bool isSimple(char16_t c);

bool isSafeBoundary(QStringView text, qsizetype position);
// The first safe boundary at or after position (the text's end at the latest).
qsizetype nextSafeBoundary(QStringView text, qsizetype position);

// Number of Characters in [from, to); both ends must be safe boundaries.
qint64 countClusters(QStringView text, qsizetype from, qsizetype to);

// Appends the cluster boundaries after `from` up to and including `to` (both safe boundaries).
void appendBoundaries(QStringView text, qsizetype from, qsizetype to,
                      std::vector<qsizetype> &boundaries);

// Whether two Characters are equal; canonically equivalent spellings count as equal.
bool sameCharacter(QStringView a, QStringView b);

} // namespace graphemes
