#pragma once

#include <QString>

#include <vector>

// Characters (extended grapheme clusters) as ICU's character break iterator finds them: the one
// segmentation every count of Characters in the system uses (live-sync positions, character
// counts, API columns, carets), so that two programs on the same Unicode version agree.
//
// Ranges can be segmented without the rest of the text when they start and end on safe
// boundaries: positions that are a boundary whatever surrounds them and behind which no rule
// looks, so a range between two of them segments exactly as it does inside the whole text.
namespace graphemes {

// The Unicode version of the segmentation data, e.g. "15.0".
QString unicodeVersion();

bool isSafeBoundary(QStringView text, qsizetype position);
// The first safe boundary at or after position (the text's end at the latest).
qsizetype nextSafeBoundary(QStringView text, qsizetype position);
// The last safe boundary at or before position (0 at the earliest).
qsizetype previousSafeBoundary(QStringView text, qsizetype position);

// Number of Characters in [from, to); both ends must be safe boundaries.
qint64 countClusters(QStringView text, qsizetype from, qsizetype to);
inline qint64 countClusters(QStringView text)
{
    return countClusters(text, 0, text.size());
}

// Appends the Character boundaries after `from` up to and including `to` (both safe boundaries).
void appendBoundaries(QStringView text, qsizetype from, qsizetype to,
                      std::vector<qsizetype> &boundaries);

// Calls visit(end) for every Character boundary after `from` up to and including `to` (both
// safe boundaries), in order.
using BoundaryVisitor = void (*)(void *context, qsizetype boundary);
void visitBoundaries(QStringView text, qsizetype from, qsizetype to, BoundaryVisitor visit,
                     void *context);
template<typename Visit>
void forEachBoundary(QStringView text, qsizetype from, qsizetype to, Visit &&visit)
{
    visitBoundaries(
        text, from, to,
        [](void *context, qsizetype boundary) { (*static_cast<Visit *>(context))(boundary); },
        &visit);
}

// Where the Character holding the UTF-16 offset starts (the offset itself on a boundary); the
// offset is clamped into the text first.
qsizetype clusterStart(QStringView text, qsizetype offset);

// The offset after at most `count` Characters from `from`, stopping at `to` (both safe
// boundaries).
qsizetype advance(QStringView text, qsizetype from, qsizetype to, qint64 count);

// Whether two Characters are equal; canonically equivalent spellings count as equal.
bool sameCharacter(QStringView a, QStringView b);

} // namespace graphemes
