#include "core/highlight/RunShift.h"

#include <algorithm>

namespace {

// The new runs of the edited lines, from the first edited line to the last inserted one.
HighlightRuns editedLines(const HighlightRuns &runs, const TextEditSpan &edit, qsizetype first)
{
    HighlightRuns result;

    // The first edited line: what lies before the edit, and on a single-line edit what follows
    // it, moved by the change in length. A run reaching over the edit point covers what was typed
    // into it, as typing inside a word keeps the word's look.
    const bool singleLine
        = edit.removedEndLine == edit.firstLine && edit.insertedEndLine == edit.firstLine;
    const qint64 column = edit.column;
    const qint64 removedEnd = singleLine ? edit.removedEndColumn : column;
    const qint64 delta = singleLine ? edit.insertedEndColumn - edit.removedEndColumn : 0;
    for (const HighlightRun &run : runs.line(first)) {
        const qint64 start = run.start;
        const qint64 end = start + run.length;
        if (end <= column) {
            result.addRun(run.start, run.length, run.style);
        } else if (start < column) {
            const qint64 newEnd = singleLine && end >= removedEnd ? end + delta : column;
            result.addRun(run.start, std::uint32_t(newEnd - start), run.style);
        } else if (singleLine && start >= removedEnd) {
            result.addRun(std::uint32_t(start + delta), run.length, run.style);
        }
    }

    // Lines inserted by the edit have no runs; the last edited line keeps what followed the
    // removed stretch, moved to where the inserted text ends (on the first line again when the
    // edit joined lines).
    const qsizetype lastNew = std::max(edit.insertedEndLine, edit.firstLine);
    if (lastNew > first) {
        result.endLine();
        for (qsizetype line = first + 1; line < lastNew; ++line)
            result.endLine();
    }
    if (!singleLine) {
        const qint64 move = edit.insertedEndColumn - edit.removedEndColumn;
        for (const HighlightRun &run : runs.line(edit.removedEndLine)) {
            const qint64 start = run.start;
            if (start >= edit.removedEndColumn)
                result.addRun(std::uint32_t(start + move), run.length, run.style);
        }
    }
    result.endLine();
    return result;
}

} // namespace

void shiftRunsInPlace(HighlightRuns &runs, const TextEditSpan &edit)
{
    const qsizetype oldLines = runs.lineCount();
    const qsizetype first = std::clamp<qsizetype>(edit.firstLine, 0, oldLines);
    const qsizetype oldEnd
        = std::clamp<qsizetype>(std::max(edit.removedEndLine, edit.firstLine) + 1, first, oldLines);
    runs.replaceLines(first, oldEnd - first, editedLines(runs, edit, first));
}

HighlightRuns shiftRuns(const HighlightRuns &runs, const TextEditSpan &edit)
{
    HighlightRuns result = runs;
    shiftRunsInPlace(result, edit);
    return result;
}

HighlightRuns splitLines(const HighlightRuns &runs, const std::vector<LineSplit> &splits)
{
    if (splits.empty())
        return runs;
    HighlightRuns result;
    auto split = splits.begin();
    for (qsizetype line = 0; line < runs.lineCount(); ++line) {
        qint64 pieceStart = 0; // column of the line where the current piece starts
        for (const HighlightRun &run : runs.line(line)) {
            qint64 start = run.start;
            const qint64 end = start + run.length;
            // End the pieces that close before this run ends, handing on what reaches over.
            while (split != splits.end() && split->line == line && split->column < end) {
                if (split->column > start) {
                    result.addRun(std::uint32_t(start - pieceStart),
                                  std::uint32_t(split->column - start), run.style);
                    start = split->column;
                }
                result.endLine();
                pieceStart = split->column;
                ++split;
            }
            result.addRun(std::uint32_t(start - pieceStart), std::uint32_t(end - start), run.style);
        }
        while (split != splits.end() && split->line == line) {
            result.endLine();
            ++split;
        }
        result.endLine();
    }
    return result;
}
