#pragma once

#include "core/highlight/HighlightStyle.h"

#include <QtGlobal>

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
