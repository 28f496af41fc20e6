#pragma once

#include "core/markdown/SourceRange.h"

#include <QtGlobal>

#include <algorithm>

// Corrections of the ranges the parser records for inline code and ATX headings. They work on the
// parsed UTF-8 bytes; `lineStart(line)` and `lineContentEnd(line)` give the byte offsets of a
// 1-based line's first byte and of the end of its content (before its line break).
namespace RangeCorrections {

// The length of the backtick run ending before `end`, less a first backtick a backslash escapes.
inline qint64 openingRun(const char *data, qint64 end, qint64 lineBegin, qint64 limit)
{
    qint64 run = 0;
    while (run < limit && end - run > lineBegin && data[end - run - 1] == '`')
        ++run;
    qint64 backslashes = 0;
    while (end - run - backslashes > lineBegin && data[end - run - backslashes - 1] == '\\')
        ++backslashes;
    return run - (run > 0 && backslashes % 2 == 1 ? 1 : 0);
}

// The parser records inline code without its backtick runs; ours include them. The closing run
// directly follows the content and is maximal, so counting it gives the run length, and the same
// number of backticks must precede the content.
//
// A code span over several lines is recorded with an end column counted from the first content
// character of its last line instead of from the line start, so there the closing run is searched
// on the last line: it is the first run of exactly the opening run's length, since no such run can
// occur inside the span. `start` and `end` are the byte offsets of the recorded range.
template<class LineStart, class LineContentEnd>
SourceRange widenInlineCode(const SourceRange &range, const char *data, qint64 start, qint64 end,
                            LineStart lineStart, LineContentEnd lineContentEnd)
{
    const qint64 startLineBegin = lineStart(range.lower.line);
    SourceRange widened = range;
    if (range.lower.line == range.upper.line) {
        const qint64 lineEnd = lineContentEnd(range.upper.line);
        qint64 closing = 0;
        while (end + closing < lineEnd && data[end + closing] == '`')
            ++closing;
        const qint64 opening = openingRun(data, start, startLineBegin, closing);
        if (closing == 0 || opening != closing)
            return range;
        widened.lower.column -= int(closing);
        widened.upper.column += int(closing);
        return widened;
    }

    const qint64 opening = openingRun(data, start, startLineBegin, end - startLineBegin + 1);
    if (opening == 0)
        return range;
    const qint64 lastLineBegin = lineStart(range.upper.line);
    const qint64 lastLineEnd = lineContentEnd(range.upper.line);
    for (qint64 i = lastLineBegin; i < lastLineEnd;) {
        if (data[i] != '`') {
            ++i;
            continue;
        }
        qint64 run = 0;
        while (i + run < lastLineEnd && data[i + run] == '`')
            ++run;
        if (run == opening) {
            widened.lower.column -= int(opening);
            widened.upper.column = int(i + run - lastLineBegin + 1);
            return widened;
        }
        i += run;
    }
    return range;
}

// The parser ends an ATX heading after its text, leaving a closing "#" sequence outside; ours
// runs to the end of the line, less trailing blanks. A setext heading spans several lines and is
// left as recorded. `start` is the byte offset of the recorded range's lower position.
template<class LineStart, class LineContentEnd>
SourceRange extendHeading(const SourceRange &range, const char *data, qint64 size, qint64 start,
                          LineStart lineStart, LineContentEnd lineContentEnd)
{
    if (range.lower.line != range.upper.line || start >= size || data[start] != '#')
        return range;
    const qint64 lineBegin = lineStart(range.lower.line);
    qint64 end = lineContentEnd(range.lower.line);
    while (end > start && (data[end - 1] == ' ' || data[end - 1] == '\t'))
        --end;
    SourceRange extended = range;
    extended.upper.column = std::max(extended.upper.column, int(end - lineBegin + 1));
    return extended;
}

} // namespace RangeCorrections
