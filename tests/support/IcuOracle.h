#pragma once

#include <QString>
#include <QStringList>

#include <random>
#include <vector>

// ICU's own character break iterator run over whole texts: the reference every count of
// Characters in the system is checked against, and random texts built from the sequences where
// segmentations disagree.
namespace oracle {

// The boundaries after 0, up to and including the text's length.
std::vector<qsizetype> boundaries(const QString &text);
QStringList characters(const QString &text);

// Emoji ZWJ sequences, flags and lone regional indicators, skin tones, keycaps, tag sequences,
// Indic conjuncts, Hangul syllables and jamo, CR LF, combining marks, prepended letters, Thai,
// canonically equivalent spellings, controls and plain letters, each as a piece to combine.
const QStringList &pieces();
// Up to maxPieces random pieces of the alphabet.
QString randomText(std::mt19937 &rng, int maxPieces, const QStringList &alphabet = pieces());

} // namespace oracle
