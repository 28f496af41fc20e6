#pragma once

#include "core/highlight/HighlightStyle.h"

#include <QtGlobal>

#include <vector>

// Where an edit of a text lies, in lines (ended by LF) and UTF-16 columns: the removed stretch
// ran from (firstLine, column) to (removedEndLine, removedEndColumn) of the old text; the
// inserted stretch runs from (firstLine, column) to (insertedEndLine, insertedEndColumn) of the
// new one.
struct TextEditSpan
{
    qsizetype firstLine = 0;
    qsizetype column = 0;
    qsizetype removedEndLine = 0;
    qsizetype removedEndColumn = 0;
    qsizetype insertedEndLine = 0;
    qsizetype insertedEndColumn = 0;
};

// The runs of the old text carried over to the new one while its parse is still to come: lines
// the edit did not touch keep their runs on their new line numbers; on the edited lines the runs
// before the edit stay, those after it move along with the text, and a run the edit falls inside
// grows or shrinks with it. Inserted text is otherwise unstyled.
HighlightRuns shiftRuns(const HighlightRuns &runs, const TextEditSpan &edit);
// The same in place: only the edited lines are rebuilt, the others move.
void shiftRunsInPlace(HighlightRuns &runs, const TextEditSpan &edit);

// A place where one line of a text is shown as two: `column` units into line `line`.
struct LineSplit
{
    qsizetype line = 0;
    qsizetype column = 0;
};

// The runs of a text whose lines are split at the given places (in order of the text): each
// split ends a line there, runs reaching over it go on at the start of the next line.
HighlightRuns splitLines(const HighlightRuns &runs, const std::vector<LineSplit> &splits);
