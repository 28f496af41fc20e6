#include "core/highlight/RunShift.h"
#include "core/highlight/SyntaxHighlighter.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

std::vector<HighlightRun> lineOf(const HighlightRuns &runs, qsizetype line)
{
    const auto span = runs.line(line);
    return {span.begin(), span.end()};
}

} // namespace

// Until the parse of an edited text lands, its runs are those of the old text moved along.
TEST(RunShift, runsMoveWithTypingLineBreaksAndJoinedLines)
{
    const HighlightRuns before
        = SyntaxHighlighter::highlight(QStringLiteral("a **bc** d\nx *y*\nz"));
    ASSERT_EQ(before.lineCount(), 3);

    // "q" typed between b and c: the strong run grows, the runs after it move one on.
    const HighlightRuns typed = shiftRuns(before, {0, 5, 0, 5, 0, 6});
    EXPECT_EQ(typed.lineCount(), 3);
    for (const HighlightRun &run : lineOf(typed, 0)) {
        const HighlightRun *old = nullptr;
        for (const HighlightRun &o : before.line(0))
            if (o.style == run.style && (o.start == run.start || o.start + 1 == run.start))
                old = &o;
        ASSERT_NE(old, nullptr);
        if (run.start <= 5 && run.start + run.length > 5)
            EXPECT_EQ(run.length, old->length + 1);
        else
            EXPECT_EQ(run.start, old->start < 5 ? old->start : old->start + 1);
    }
    EXPECT_EQ(lineOf(typed, 1), lineOf(before, 1));

    // A line break after "a ": the first line keeps nothing past it, the new second line holds
    // the rest moved to its start, the old second line moves down untouched.
    const HighlightRuns broken = shiftRuns(before, {0, 2, 0, 2, 1, 0});
    ASSERT_EQ(broken.lineCount(), 4);
    EXPECT_TRUE(lineOf(broken, 0).empty());
    ASSERT_FALSE(lineOf(broken, 1).empty());
    EXPECT_EQ(lineOf(broken, 1).front().start, lineOf(before, 0).front().start - 2);
    EXPECT_EQ(lineOf(broken, 2), lineOf(before, 1));
    EXPECT_EQ(lineOf(broken, 3), lineOf(before, 2));

    // Joining the first two lines (the line break removed): the second line's runs follow the
    // first line's end, and what was below moves up.
    const HighlightRuns joined = shiftRuns(before, {0, 10, 1, 0, 0, 10});
    ASSERT_EQ(joined.lineCount(), 2);
    const std::vector<HighlightRun> second = lineOf(before, 1);
    const std::vector<HighlightRun> now = lineOf(joined, 0);
    ASSERT_GE(now.size(), second.size());
    EXPECT_EQ(now.back().start, second.back().start + 10);
    EXPECT_EQ(lineOf(joined, 1), lineOf(before, 2));
}

// Split lines keep every character's style: runs reaching over a split go on in the next piece.
TEST(RunShift, splitLinesKeepEachCharactersStyle)
{
    const QString text = QStringLiteral("a **bold words** and `code` c\n\n*x* [link](u)\nend");
    const HighlightRuns runs = SyntaxHighlighter::highlight(text);
    const std::vector<LineSplit> splits = {{0, 0}, {0, 5}, {0, 5}, {0, 18}, {2, 4}, {2, 13}};
    const HighlightRuns split = splitLines(runs, splits);
    ASSERT_EQ(split.lineCount(), runs.lineCount() + qsizetype(splits.size()));

    // Style of each character of a line, from its runs.
    auto styles = [](std::span<const HighlightRun> line, qsizetype length) {
        std::vector<int> out(size_t(length), -1);
        for (const HighlightRun &run : line)
            for (std::uint32_t i = run.start; i < run.start + run.length; ++i)
                out.at(i) = run.style;
        return out;
    };
    const QStringList lines = text.split(u'\n');
    qsizetype shown = 0;
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const std::vector<int> whole = styles(runs.line(line), lines[line].size());
        qsizetype from = 0;
        for (const LineSplit &s : splits) {
            if (s.line != line)
                continue;
            const std::vector<int> piece = styles(split.line(shown++), s.column - from);
            EXPECT_EQ(piece, std::vector<int>(whole.begin() + from, whole.begin() + s.column));
            from = s.column;
        }
        const std::vector<int> rest = styles(split.line(shown++), lines[line].size() - from);
        EXPECT_EQ(rest, std::vector<int>(whole.begin() + from, whole.end())) << line;
    }
}

// Taking the lines that changed from newer runs gives exactly those runs, whether the lines hold
// as many runs as before (copied in place) or not.
TEST(RunShift, assignedLinesGiveTheNewRunsExactly)
{
    const QString before = QStringLiteral("# A\n\n*b* `c`\n\nd **e**\n\n- f\n");
    const HighlightRuns old = SyntaxHighlighter::highlight(before);
    for (const QString &line : {QStringLiteral("`b` *c*"), QStringLiteral("b *c* `d` ~~e~~")}) {
        const HighlightRuns runs
            = SyntaxHighlighter::highlight(QString(before).replace("*b* `c`", line));
        HighlightRuns assigned = old;
        assigned.assignLines(runs, 2, 1);
        ASSERT_EQ(assigned.lineCount(), runs.lineCount());
        for (qsizetype i = 0; i < runs.lineCount(); ++i)
            EXPECT_TRUE(HighlightRuns::sameRuns(assigned.line(i), runs.line(i))) << i;
    }
}
